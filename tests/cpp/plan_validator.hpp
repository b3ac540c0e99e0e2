#pragma once

// Checks a decoded plan from the outside, by geometry and bookkeeping alone: boxes inside their
// bins, no two boxes sharing volume, every raised box standing wholly on one stackable box,
// weight limits kept, no item placed twice, and bin statistics (centre of gravity and used
// extent included) that agree with the placements. Returns every fault found, by bin number;
// an empty list means a sound plan. That each bin is one of the types, numbered in order, the
// Python plan check covers.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/item.hpp"

namespace stowra::testing {

inline bool nearlyEqual(double a, double b) {
  return std::abs(a - b) <= 1e-9 * std::max({1.0, std::abs(a), std::abs(b)});
}

inline std::vector<std::string> planFaults(const std::vector<ItemSpec>& items,
                                           const std::vector<PackedBin>& bins) {
  std::vector<std::string> faults;
  std::vector<int> timesPlaced(items.size(), 0);
  for (std::size_t b = 0; b < bins.size(); ++b) {
    const PackedBin& bin = bins[b];
    auto fault = [&](const char* text) { faults.push_back(std::to_string(b + 1) + ": " + text); };
    struct Box {
      double lo[3], hi[3];
      bool stackable;
    };
    std::vector<Box> boxes;
    const double size[] = {bin.length, bin.width, bin.height};
    double weight = 0, utilization = 0, moment[3] = {0, 0, 0}, reach[3] = {0, 0, 0};
    for (const Placement& p : bin.placements) {
      const ItemSpec& item = items.at(static_cast<std::size_t>(p.itemIndex));
      if (++timesPlaced[p.itemIndex] > 1) fault("item placed again");
      const double dx = p.rotation == 0 ? item.l : item.w, dy = p.rotation == 0 ? item.w : item.l;
      boxes.push_back({{p.x, p.y, p.z}, {p.x + dx, p.y + dy, p.z + item.h}, item.stackable});
      const Box& box = boxes.back();
      weight += item.weight;
      utilization += item.volume / bin.volume();
      for (int a = 0; a < 3; ++a) {
        if (box.lo[a] < 0 || box.hi[a] > size[a]) fault("an item sticks out of the bin");
        moment[a] += (box.lo[a] + box.hi[a]) / 2 * item.weight;
        reach[a] = std::max(reach[a], box.hi[a]);
      }
    }
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const Box& a = boxes[i];
      for (std::size_t j = i + 1; j < boxes.size(); ++j) {
        const Box& c = boxes[j];
        auto apart = [&](int k) {
          return std::min(a.hi[k], c.hi[k]) <= std::max(a.lo[k], c.lo[k]);
        };
        if (!apart(0) && !apart(1) && !apart(2)) fault("two items overlap");
      }
      if (a.lo[2] != 0 && std::none_of(boxes.begin(), boxes.end(), [&](const Box& c) {
            return c.stackable && c.hi[2] == a.lo[2] && c.lo[0] <= a.lo[0] && a.hi[0] <= c.hi[0] &&
                   c.lo[1] <= a.lo[1] && a.hi[1] <= c.hi[1];
          })) {
        fault("a raised item is not carried whole by one stackable item");
      }
    }
    if (bin.weightLimit > 0 && weight > bin.weightLimit) fault("over its weight limit");
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
