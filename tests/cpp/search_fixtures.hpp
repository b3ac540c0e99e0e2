#pragma once

// Problems and checks for whole-search tests.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/bin_type.hpp"
#include "problem/item_spec.hpp"
#include "search/individual.hpp"
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

// Returns a description of the first fault of a decoded plan, or "" when it is sound: items
// placed at most once, inside their bin, not overlapping, weight limits kept.
inline std::string planFault(const Individual& plan, const std::vector<ItemSpec>& items) {
  std::vector<int> placedCount(items.size(), 0);
  for (const PackedBin& bin : plan.bins) {
    double weight = 0.0;
    for (std::size_t a = 0; a < bin.placements.size(); ++a) {
      const Placement& p = bin.placements[a];
      if (p.itemIndex < 0 || p.itemIndex >= static_cast<std::int32_t>(items.size())) {
        return "item index out of range";
      }
      ++placedCount[p.itemIndex];
      weight += items[p.itemIndex].weight;
      const ItemExtents e = extentsOf(items[p.itemIndex], p.rotation);
      if (p.x < 0 || p.y < 0 || p.z < 0 || p.x + e.dx > bin.length || p.y + e.dy > bin.width ||
          p.z + e.h > bin.height) {
        return "item " + std::to_string(p.itemIndex) + " sticks out of bin " +
               std::to_string(bin.id);
      }
      for (std::size_t b = 0; b < a; ++b) {
        const Placement& q = bin.placements[b];
        const ItemExtents f = extentsOf(items[q.itemIndex], q.rotation);
        const bool apart = p.x + e.dx <= q.x || q.x + f.dx <= p.x || p.y + e.dy <= q.y ||
                           q.y + f.dy <= p.y || p.z + e.h <= q.z || q.z + f.h <= p.z;
        if (!apart)
          return "items " + std::to_string(p.itemIndex) + " and " + std::to_string(q.itemIndex) +
                 " overlap";
      }
    }
    if (bin.weightLimit > 0 && weight > bin.weightLimit) return "weight limit exceeded";
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (placedCount[i] > 1) return "item " + std::to_string(i) + " placed twice";
  }
  return "";
}

}  // namespace stowra::testing
