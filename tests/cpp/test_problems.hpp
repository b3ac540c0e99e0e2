#pragma once

// Builders for the small problems the packing tests work on.

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item_spec.hpp"

namespace stowra::testing {

inline ItemSpec makeItem(double l, double w, double h, double weight = 1.0, bool stackable = true) {
  ItemRow row;
  row.l = l;
  row.w = w;
  row.h = h;
  row.weight = weight;
  row.stackable = stackable;
  return makeItemSpec(row, 0);
}

inline BinType makeBinType(std::string name, double l, double w, double h, double cost = 1.0,
                           double weightLimit = 0.0) {
  BinType type;
  type.id = std::move(name);
  type.l = l;
  type.w = w;
  type.h = h;
  type.cost = cost;
  type.weight_limit = weightLimit;
  return type;
}

// A problem together with one chromosome for it.
struct RandomProblem {
  std::vector<ItemSpec> items;
  std::vector<BinType> binTypes;
  std::vector<std::int32_t> order;
  std::vector<std::int32_t> rotations;
  std::vector<std::int32_t> binTypeSequence;
};

// Small random problems. Sizes are drawn from a short list most of the time so that equal
// boxes, and therefore identical free spaces, are common.
// `binScale` stretches the bins so that more items share one and free-space lists grow.
inline RandomProblem randomProblem(std::mt19937& rng, std::size_t maxItems = 40,
                                   double binScale = 1.0) {
  auto uniformInt = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  RandomProblem problem;
  const int typeCount = uniformInt(1, 3);
  for (int t = 0; t < typeCount; ++t) {
    const double limit = uniformInt(0, 2) == 0 ? uniformInt(10, 60) : 0.0;
    problem.binTypes.push_back(makeBinType(t == 0 ? "20GP" : "40GP", uniformInt(8, 20) * binScale,
                                           uniformInt(6, 12) * binScale,
                                           uniformInt(6, 12) * binScale, t + 1, limit));
  }
  const double sizes[] = {2, 3, 4, 5, 2.5};
  const auto itemCount = static_cast<std::size_t>(uniformInt(1, static_cast<int>(maxItems)));
  for (std::size_t i = 0; i < itemCount; ++i) {
    auto side = [&] {
      return uniformInt(0, 3) == 0 ? static_cast<double>(uniformInt(1, 9))
                                   : sizes[uniformInt(0, 4)];
    };
    problem.items.push_back(
        makeItem(side(), side(), side(), uniformInt(0, 12), uniformInt(0, 4) != 0));
  }
  for (std::size_t i = 0; i < itemCount; ++i) {
    problem.order.push_back(static_cast<std::int32_t>(i));
    const auto& allowed = problem.items[i].allowedRotations;
    problem.rotations.push_back(
        allowed[static_cast<std::size_t>(uniformInt(0, static_cast<int>(allowed.size()) - 1))]);
  }
  std::shuffle(problem.order.begin(), problem.order.end(), rng);
  const int genes = uniformInt(0, 4);
  for (int g = 0; g < genes; ++g) problem.binTypeSequence.push_back(uniformInt(-1, 3));
  return problem;
}

}  // namespace stowra::testing
