#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item_spec.hpp"
#include "search/individual.hpp"
#include "search/random_draws.hpp"

namespace stowra::testing {

// Unit cubes (volume 1) with the given factories; every item may turn when `turnable`.
inline std::vector<ItemSpec> cubesFrom(const std::vector<std::int32_t>& factories,
                                       bool turnable = true) {
  std::vector<ItemSpec> items(factories.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    items[i].id = static_cast<std::int32_t>(i);
    items[i].l = items[i].w = items[i].h = items[i].volume = 1.0;
    items[i].weight = 1.0;
    items[i].factory = factories[i];
    items[i].allowedRotations = turnable ? std::vector<std::int32_t>{0, 1} : std::vector{0};
  }
  return items;
}

inline BinType cubeBin(const char* name, double side) {
  BinType bin;
  bin.id = name;
  bin.l = bin.w = bin.h = side;
  bin.cost = 1.0;
  return bin;
}

inline Individual individualWith(std::vector<std::int32_t> order,
                                 std::vector<std::int32_t> rotations,
                                 std::vector<std::int32_t> binTypeSequence) {
  Individual individual;
  individual.order = std::move(order);
  individual.rotations = std::move(rotations);
  individual.binTypeSequence = std::move(binTypeSequence);
  return individual;
}

// Marks an individual as evaluated with recognisable figures and one bin, as a decoding would.
inline void pretendEvaluated(Individual& individual, double fitness) {
  individual.fitness = fitness;
  individual.cost = fitness + 1.0;
  individual.sum20 = 2;
  individual.sum40 = 3;
  individual.utilization = 0.25;
  individual.centerPenalty = 4.5;
  individual.weightPenalty = 6.5;
  individual.bins.resize(1);
  individual.evaluated = true;
}

inline bool isPermutation(std::vector<std::int32_t> order) {
  std::vector<std::int32_t> identity(order.size());
  std::iota(identity.begin(), identity.end(), 0);
  std::sort(order.begin(), order.end());
  return order == identity;
}

// True when each factory's items form one contiguous run of `order`.
inline bool groupedByFactory(const std::vector<std::int32_t>& order,
                             const std::vector<std::int32_t>& itemFactories) {
  std::vector<std::int32_t> closed;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::int32_t factory = itemFactories[order[i]];
    if (i > 0 && itemFactories[order[i - 1]] == factory) continue;
    if (std::find(closed.begin(), closed.end(), factory) != closed.end()) return false;
    closed.push_back(factory);
  }
  return true;
}

// The first seed whose first unit draw satisfies `accept`, for steering a single test.
template <typename Accept>
std::uint32_t seedWhoseFirstUnitDraw(Accept accept) {
  for (std::uint32_t seed = 1;; ++seed) {
    std::mt19937 probe(seed);
    if (accept(unitDraw(probe))) return seed;
  }
}

}  // namespace stowra::testing
