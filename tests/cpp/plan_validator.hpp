#pragma once

// Checks a decoded plan from the outside, by geometry and bookkeeping alone: boxes inside their
// bins, no two boxes sharing volume, every raised box standing wholly on one stackable box,
// weight limits kept, no item placed twice, and bin statistics that agree with the placements.
// Returns a description of every fault found; an empty list means a sound plan.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/bin_type.hpp"
#include "problem/item_spec.hpp"

namespace stowra::testing {

inline bool nearlyEqual(double a, double b) {
  return std::abs(a - b) <= 1e-9 * std::max({1.0, std::abs(a), std::abs(b)});
}

// `finished`: the decoder has computed centre of gravity and used extent.
inline std::vector<std::string> planFaults(const std::vector<ItemSpec>& items,
                                           const std::vector<BinType>& types,
                                           const std::vector<PackedBin>& bins, bool finished) {
  std::vector<std::string> faults;
  std::vector<int> timesPlaced(items.size(), 0);
  for (std::size_t b = 0; b < bins.size(); ++b) {
    const PackedBin& bin = bins[b];
    auto fault = [&](const std::string& text) {
      faults.push_back("bin " + std::to_string(b + 1) + ": " + text);
    };
    if (bin.id != static_cast<int>(b + 1)) fault("id out of sequence");
    if (std::none_of(types.begin(), types.end(), [&](const BinType& t) {
          return bin.binType == t.id && bin.length == t.l && bin.width == t.w &&
                 bin.height == t.h && bin.cost == t.cost && bin.weightLimit == t.weight_limit;
        })) {
      fault("matches no bin type");
    }
    struct Box {
      double lo[3], hi[3];
      bool stackable;
    };
    std::vector<Box> boxes;
    double weight = 0, utilization = 0, moment[3] = {0, 0, 0}, reach[3] = {0, 0, 0};
    for (const Placement& p : bin.placements) {
      const ItemSpec& item = items.at(static_cast<std::size_t>(p.itemIndex));
      if (++timesPlaced[p.itemIndex] > 1) fault("item placed again");
      const double dx = p.rotation == 0 ? item.l : item.w, dy = p.rotation == 0 ? item.w : item.l;
      const Box box{{p.x, p.y, p.z}, {p.x + dx, p.y + dy, p.z + item.h}, item.stackable};
      if (std::min({p.x, p.y, p.z}) < 0 || box.hi[0] > bin.length || box.hi[1] > bin.width ||
          box.hi[2] > bin.height) {
        fault("an item sticks out of the bin");
      }
      boxes.push_back(box);
      weight += item.weight;
      utilization += item.volume / bin.volume();
      for (int a = 0; a < 3; ++a) {
        moment[a] += (box.lo[a] + box.hi[a]) / 2 * item.weight;
        reach[a] = std::max(reach[a], box.hi[a]);
      }
    }
    auto overlaps = [](const Box& a, const Box& c) {
      for (int k = 0; k < 3; ++k) {
        if (std::min(a.hi[k], c.hi[k]) <= std::max(a.lo[k], c.lo[k])) return false;
      }
      return true;
    };
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const Box& a = boxes[i];
      for (std::size_t j = i + 1; j < boxes.size(); ++j) {
        if (overlaps(a, boxes[j])) fault("two items overlap");
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
    if (!finished) continue;
    // An empty bin reports its middle and full size; a weightless load keeps the centre at 0.
    const bool empty = bin.placements.empty();
    const double size[] = {bin.length, bin.width, bin.height};
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

// Items missing from the plan that one empty bin of the first two types could hold alone.
inline std::vector<std::size_t> lostItems(const std::vector<ItemSpec>& items,
                                          const std::vector<BinType>& types,
                                          const std::vector<PackedBin>& bins) {
  std::vector<bool> placed(items.size(), false);
  for (const PackedBin& bin : bins) {
    for (const Placement& p : bin.placements) placed[p.itemIndex] = true;
  }
  std::vector<std::size_t> lost;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ItemSpec& item = items[i];
    for (std::size_t t = 0; !placed[i] && t < std::min<std::size_t>(2, types.size()); ++t) {
      const BinType& type = types[t];
      const bool fits = std::any_of(
          item.allowedRotations.begin(), item.allowedRotations.end(), [&](std::int32_t r) {
            return (r == 0 ? item.l : item.w) <= type.l && (r == 0 ? item.w : item.l) <= type.w &&
                   item.h <= type.h;
          });
      if (fits && (type.weight_limit <= 0 || item.weight <= type.weight_limit)) {
        lost.push_back(i);
        break;
      }
    }
  }
  return lost;
}

}  // namespace stowra::testing
