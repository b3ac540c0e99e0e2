#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "candidate/individual.hpp"

namespace stowra {

// Two-cut order crossover: positions lo..hi come from `source`, the other positions (from
// hi + 1, wrapping) take the remaining items in the order they follow position hi in `filler`.
// Needs 1 <= lo <= hi <= n - 1 and two permutations of 0 .. n - 1.
std::vector<std::int32_t> orderCrossover(std::span<const std::int32_t> source,
                                         std::span<const std::int32_t> filler, std::int32_t lo,
                                         std::int32_t hi);

// One-cut exchange over the common length m = min(sizes): positions below `cut` keep their
// list, the rest are swapped; entries beyond m are dropped.
std::pair<std::vector<std::int32_t>, std::vector<std::int32_t>> onePointCrossover(
    std::span<const std::int32_t> listA, std::span<const std::int32_t> listB, std::int32_t cut);

// With probability crossoverRate recombines the three chromosomes (draws x, y, t, d after the
// test) and normalises both offspring; otherwise returns copies of the parents, evaluation
// kept and bins left behind. Needs at least two items.
std::pair<Individual, Individual> crossover(std::mt19937& rng, const Individual& parentA,
                                            const Individual& parentB, double crossoverRate,
                                            const std::vector<std::int32_t>& itemFactories);

}  // namespace stowra
