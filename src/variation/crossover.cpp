#include "variation/crossover.hpp"

#include <algorithm>
#include <tuple>

#include "candidate/random_draws.hpp"
#include "variation/normalization.hpp"

namespace stowra {

std::vector<std::int32_t> orderCrossover(std::span<const std::int32_t> source,
                                         std::span<const std::int32_t> filler, std::int32_t lo,
                                         std::int32_t hi) {
  const auto n = static_cast<std::int32_t>(source.size());
  std::vector<std::int32_t> child(source.size(), -1);
  std::vector<bool> taken(source.size(), false);
  for (std::int32_t position = lo; position <= hi; ++position) {
    child[position] = source[position];
    taken[source[position]] = true;
  }
  std::int32_t write = (hi + 1) % n;
  std::int32_t read = write;
  while (write != lo) {
    while (taken[filler[read]]) read = (read + 1) % n;
    child[write] = filler[read];
    taken[filler[read]] = true;
    write = (write + 1) % n;
    read = (read + 1) % n;
  }
  return child;
}

std::pair<std::vector<std::int32_t>, std::vector<std::int32_t>> onePointCrossover(
    std::span<const std::int32_t> listA, std::span<const std::int32_t> listB, std::int32_t cut) {
  const std::size_t common = std::min(listA.size(), listB.size());
  const std::size_t kept = std::min(static_cast<std::size_t>(std::max(cut, 0)), common);
  std::vector<std::int32_t> first(common);
  std::vector<std::int32_t> second(common);
  for (std::size_t i = 0; i < common; ++i) {
    const bool keep = i < kept;
    first[i] = keep ? listA[i] : listB[i];
    second[i] = keep ? listB[i] : listA[i];
  }
  return {std::move(first), std::move(second)};
}

std::pair<Individual, Individual> crossover(std::mt19937& rng, const Individual& parentA,
                                            const Individual& parentB, double crossoverRate,
                                            const std::vector<std::int32_t>& itemFactories) {
  if (!chance(rng, crossoverRate)) return {Individual(parentA), Individual(parentB)};

  const auto n = static_cast<std::int32_t>(parentA.order.size());
  const std::int32_t x = boundedDraw(rng, 1, n - 1);
  const std::int32_t y = boundedDraw(rng, 1, n - 1);
  const std::int32_t lo = std::min(x, y);
  const std::int32_t hi = std::max(x, y);

  Individual first;
  Individual second;
  first.order = orderCrossover(parentA.order, parentB.order, lo, hi);
  second.order = orderCrossover(parentB.order, parentA.order, lo, hi);

  const std::int32_t rotationCut = boundedDraw(rng, 1, n - 1);
  std::tie(first.rotations, second.rotations) =
      onePointCrossover(parentA.rotations, parentB.rotations, rotationCut);

  const auto commonGenes = static_cast<std::int32_t>(
      std::min(parentA.binTypeSequence.size(), parentB.binTypeSequence.size()));
  const std::int32_t binCut = boundedDraw(rng, 1, std::max(commonGenes - 1, 2));
  std::tie(first.binTypeSequence, second.binTypeSequence) =
      onePointCrossover(parentA.binTypeSequence, parentB.binTypeSequence, binCut);

  normalizeChromosome(first, itemFactories);
  normalizeChromosome(second, itemFactories);
  return {std::move(first), std::move(second)};
}

}  // namespace stowra
