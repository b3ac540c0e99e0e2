#pragma once

// Problems and checks for whole-search tests.

#include <cstdint>
#include <random>
#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item_spec.hpp"
#include "search/random_draws.hpp"

namespace stowra::testing {

// The inputs a solver keeps references to.
struct SearchProblem {
  std::vector<ItemSpec> items;
  std::vector<BinType> binTypes;
  std::vector<std::int32_t> itemFactories;
  double totalWeight = 0.0;
};

inline BinType container(const char* name, double length, double cost, double weightLimit) {
  BinType type;
  type.id = name;
  type.l = length;
  type.w = 235.0;
  type.h = 239.0;
  type.cost = cost;
  type.weight_limit = weightLimit;
  return type;
}

// Boxes of a few recurring sizes from three factories, for a 20-foot and a 40-foot container.
inline SearchProblem cargoProblem(std::int32_t itemCount, std::uint32_t seed, double cost20 = 10.0,
                                  double cost40 = 16.0) {
  SearchProblem problem;
  problem.binTypes = {container("20GP", 590.0, cost20, 21000.0),
                      container("40GP", 1203.0, cost40, 26000.0)};
  std::mt19937 rng(seed);
  const double sides[] = {40.0, 55.0, 60.0, 80.0, 95.0, 120.0};
  for (std::int32_t i = 0; i < itemCount; ++i) {
    ItemRow row;
    row.id = 1000 + i;
    row.l = sides[boundedDraw(rng, 0, 5)];
    row.w = sides[boundedDraw(rng, 0, 5)];
    row.h = sides[boundedDraw(rng, 0, 4)];
    row.weight = 10.0 + boundedDraw(rng, 0, 400);
    row.factory = 1 + boundedDraw(rng, 0, 2);
    row.stackable = boundedDraw(rng, 0, 4) != 0;
    problem.items.push_back(makeItemSpec(row, static_cast<std::size_t>(i)));
  }
  problem.itemFactories = itemFactoriesOf(problem.items);
  problem.totalWeight = totalItemWeight(problem.items);
  return problem;
}

}  // namespace stowra::testing
