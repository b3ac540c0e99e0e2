#include "search/selection.hpp"

#include <algorithm>

#include "candidate/random_draws.hpp"

namespace stowra {

std::vector<double> rouletteWeights(std::span<const double> fitnessList) {
  std::vector<double> weights;
  weights.reserve(fitnessList.size());
  const double smallest =
      fitnessList.empty() ? 0.0 : *std::min_element(fitnessList.begin(), fitnessList.end());
  const bool shifted = smallest <= -1.0;
  for (const double fitness : fitnessList) {
    weights.push_back(shifted ? 1.0 / (fitness - smallest + 1.0) : 1.0 / (fitness + 1.0));
  }
  return weights;
}

std::size_t rouletteIndex(std::span<const double> weights, double target) {
  double runningSum = 0.0;
  for (std::size_t i = 0; i < weights.size(); ++i) {
    runningSum += weights[i];
    if (runningSum >= target) return i;
  }
  return weights.size() - 1;
}

std::pair<std::size_t, std::size_t> drawParentIndices(std::mt19937& rng,
                                                      std::span<const double> fitnessList) {
  const std::vector<double> weights = rouletteWeights(fitnessList);
  double total = 0.0;
  for (const double weight : weights) total += weight;
  const std::size_t first = rouletteIndex(weights, uniformDraw(rng, 0.0, total));
  const std::size_t second = rouletteIndex(weights, uniformDraw(rng, 0.0, total));
  return {first, second};
}

std::int32_t eliteCountFor(std::int32_t popSize, double eliteRatio) {
  std::int32_t count = static_cast<std::int32_t>(popSize * eliteRatio);
  if (count % 2 != 0) ++count;
  return count;
}

}  // namespace stowra
