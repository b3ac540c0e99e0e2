#pragma once

// Checks a decoded plan: the loading rules by the core's own plan checker (outside, overlap,
// support, non-stackable tops, weight limits, each item once, load limits; with `rules` the
// balance and the pickup order too), and from the outside, by bookkeeping alone, bin statistics
// (centre of gravity and used extent included) that agree with the placements. Returns every
// fault found, by bin number; an empty list means a sound plan.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "packing/packed_bin.hpp"
#include "packing/plan_check.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra::testing {

inline bool nearlyEqual(double a, double b) {
  return std::abs(a - b) <= 1e-9 * std::max({1.0, std::abs(a), std::abs(b)});
}

inline std::vector<std::string> planFaults(const std::vector<ItemSpec>& items,
                                           const std::vector<BinType>& binTypes,
                                           const std::vector<PackedBin>& bins,
                                           const PlanRules& rules = {1.0, false}) {
  std::vector<std::string> faults;
  for (const PlanBreach& breach : checkPlan(items, binTypes, bins, rules)) {
    faults.push_back(breach.message);
  }
  for (std::size_t b = 0; b < bins.size(); ++b) {
    const PackedBin& bin = bins[b];
    auto fault = [&](const char* text) { faults.push_back(std::to_string(b + 1) + ": " + text); };
    const double size[] = {bin.length, bin.width, bin.height};
    double weight = 0, utilization = 0, moment[3] = {0, 0, 0}, reach[3] = {0, 0, 0};
    for (const Placement& p : bin.placements) {
      const ItemSpec& item = items.at(static_cast<std::size_t>(p.itemIndex));
      const double lo[] = {p.x, p.y, p.z};
      const double extent[] = {p.rotation == 0 ? item.l : item.w, p.rotation == 0 ? item.w : item.l,
                               item.h};
      weight += item.weight;
      utilization += item.volume / bin.volume();
      for (int a = 0; a < 3; ++a) {
        moment[a] += (lo[a] + extent[a] / 2) * item.weight;
        reach[a] = std::max(reach[a], lo[a] + extent[a]);
      }
    }
    if (!nearlyEqual(bin.currentWeight, weight)) fault("weight disagrees with its items");
    if (!nearlyEqual(bin.spaceUtilization, utilization)) fault("utilization disagrees");
    // An empty bin reports its middle and full size; a weightless load keeps the centre at 0.
    const bool empty = bin.placements.empty();
    const Point3 &cog = bin.centerOfGravity, &extent = bin.usedExtent;
    const double got[][2] = {{cog.x, extent.x}, {cog.y, extent.y}, {cog.z, extent.z}};
    for (int a = 0; a < 3; ++a) {
      const double centre = empty ? size[a] / 2 : weight == 0 ? 0.0 : moment[a] / weight;
      if (!nearlyEqual(got[a][0], centre)) fault("centre of gravity disagrees");
      if (got[a][1] != (empty ? size[a] : reach[a])) fault("used extent disagrees");
    }
  }
  return faults;
}

}  // namespace stowra::testing
