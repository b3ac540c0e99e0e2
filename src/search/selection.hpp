#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <utility>
#include <vector>

namespace stowra {

// Roulette weights, larger for lower (better) fitness: 1 / (f + 1). When some fitness is at or
// below -1 (zero-cost bins) that rule would give infinite or negative weights, so every entry
// is shifted by the smallest: 1 / (f - smallest + 1).
std::vector<double> rouletteWeights(std::span<const double> fitnessList);

// The first index whose running weight sum reaches `target`; the last index when rounding
// keeps the sum below it. Needs a non-empty list.
std::size_t rouletteIndex(std::span<const double> weights, double target);

// Two independent spins, each one uniformDraw(0, total weight), on the same list.
std::pair<std::size_t, std::size_t> drawParentIndices(std::mt19937& rng,
                                                      std::span<const double> fitnessList);

// trunc(popSize * eliteRatio), raised to the next even number.
std::int32_t eliteCountFor(std::int32_t popSize, double eliteRatio);

}  // namespace stowra
