#include "variation/mutation.hpp"

#include <algorithm>
#include <utility>

#include "candidate/random_draws.hpp"
#include "problem/bin_type.hpp"
#include "variation/normalization.hpp"

namespace stowra {

namespace {
constexpr std::int32_t MAX_ROTATION_REDRAWS = 5;
}

void swapMutation(std::mt19937& rng, std::span<std::int32_t> order) {
  const auto last = static_cast<std::int32_t>(order.size()) - 1;
  const std::int32_t i = boundedDraw(rng, 0, last);
  std::int32_t j = boundedDraw(rng, 0, last);
  while (j == i) j = boundedDraw(rng, 0, last);
  std::swap(order[i], order[j]);
}

void rotationMutation(std::mt19937& rng, std::span<std::int32_t> rotations,
                      const std::vector<ItemSpec>& items) {
  const auto n = static_cast<std::int32_t>(rotations.size());
  const std::int32_t redraws = std::min(n, MAX_ROTATION_REDRAWS);
  for (std::int32_t step = 0; step < redraws; ++step) {
    const std::int32_t item = boundedDraw(rng, 0, n - 1);
    const std::vector<std::int32_t>& allowed = items[item].allowedRotations;
    if (allowed.size() > 1) {
      rotations[item] = allowed[boundedDraw(rng, 0, static_cast<std::int32_t>(allowed.size()) - 1)];
    }
  }
}

void binFlipMutation(std::mt19937& rng, std::span<std::int32_t> binTypeSequence) {
  if (binTypeSequence.empty()) return;
  const std::int32_t gene =
      boundedDraw(rng, 0, static_cast<std::int32_t>(binTypeSequence.size()) - 1);
  static_assert(PACK_BIN_TYPES == 2, "a flip turns one of two types into the other");
  binTypeSequence[gene] = 1 - binTypeSequence[gene];
}

void mutate(std::mt19937& rng, Individual& individual, const std::vector<ItemSpec>& items,
            const std::vector<std::int32_t>& itemFactories, double mutationRate) {
  if (chance(rng, mutationRate)) {
    swapMutation(rng, individual.order);
    normalizeChromosome(individual, itemFactories);
  }
  if (chance(rng, mutationRate)) rotationMutation(rng, individual.rotations, items);
  if (chance(rng, mutationRate)) binFlipMutation(rng, individual.binTypeSequence);
  individual.invalidate();
}

}  // namespace stowra
