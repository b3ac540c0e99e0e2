#pragma once

// Checks a decoded plan from the outside, by geometry and bookkeeping alone: boxes inside
// their bins, no two boxes sharing volume, every raised box standing wholly on one stackable
// box, weight limits kept, no item placed twice, and bin statistics that agree with the
// placements. Returns a description of every fault found; an empty list means a sound plan.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/bin_type.hpp"
#include "problem/item_spec.hpp"

namespace stowra::testing {

struct PlacedBox {
  double x0, y0, z0, x1, y1, z1;
  bool stackable;
};

inline PlacedBox boxOf(const Placement& p, const ItemSpec& item) {
  const double dx = p.rotation == 0 ? item.l : item.w;
  const double dy = p.rotation == 0 ? item.w : item.l;
  return {p.x, p.y, p.z, p.x + dx, p.y + dy, p.z + item.h, item.stackable};
}

inline bool nearlyEqual(double a, double b) {
  return std::abs(a - b) <= 1e-9 * std::max({1.0, std::abs(a), std::abs(b)});
}

inline bool matchesType(const PackedBin& bin, const BinType& type) {
  return bin.binType == type.id && bin.length == type.l && bin.width == type.w &&
         bin.height == type.h && bin.cost == type.cost && bin.weightLimit == type.weight_limit;
}

// `finished`: the decoder has computed centre of gravity and used extent.
inline std::vector<std::string> planFaults(const std::vector<ItemSpec>& items,
                                           const std::vector<BinType>& types,
                                           const std::vector<PackedBin>& bins, bool finished) {
  std::vector<std::string> faults;
  auto fault = [&](std::size_t b, const std::string& text) {
    std::ostringstream line;
    line << "bin " << b + 1 << ": " << text;
    faults.push_back(line.str());
  };
  std::vector<int> timesPlaced(items.size(), 0);

  for (std::size_t b = 0; b < bins.size(); ++b) {
    const PackedBin& bin = bins[b];
    if (bin.id != static_cast<int>(b + 1)) fault(b, "id out of sequence");
    if (std::none_of(types.begin(), types.end(),
                     [&](const BinType& t) { return matchesType(bin, t); })) {
      fault(b, "matches no bin type");
    }

    std::vector<PlacedBox> boxes;
    double weight = 0.0;
    double utilization = 0.0;
    double weightedX = 0.0, weightedY = 0.0, weightedZ = 0.0;
    double reachX = 0.0, reachY = 0.0, reachZ = 0.0;
    for (const Placement& p : bin.placements) {
      if (p.itemIndex < 0 || static_cast<std::size_t>(p.itemIndex) >= items.size()) {
        fault(b, "unknown item " + std::to_string(p.itemIndex));
        continue;
      }
      const ItemSpec& item = items[static_cast<std::size_t>(p.itemIndex)];
      if (++timesPlaced[static_cast<std::size_t>(p.itemIndex)] > 1) {
        fault(b, "item " + std::to_string(p.itemIndex) + " placed again");
      }
      const PlacedBox box = boxOf(p, item);
      if (box.x0 < 0 || box.y0 < 0 || box.z0 < 0 || box.x1 > bin.length || box.y1 > bin.width ||
          box.z1 > bin.height) {
        fault(b, "item " + std::to_string(p.itemIndex) + " sticks out of the bin");
      }
      boxes.push_back(box);
      weight += item.weight;
      utilization += item.volume / bin.volume();
      weightedX += (box.x0 + box.x1) / 2 * item.weight;
      weightedY += (box.y0 + box.y1) / 2 * item.weight;
      weightedZ += (box.z0 + box.z1) / 2 * item.weight;
      reachX = std::max(reachX, box.x1);
      reachY = std::max(reachY, box.y1);
      reachZ = std::max(reachZ, box.z1);
    }

    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const PlacedBox& a = boxes[i];
      for (std::size_t j = i + 1; j < boxes.size(); ++j) {
        const PlacedBox& c = boxes[j];
        if (std::min(a.x1, c.x1) > std::max(a.x0, c.x0) &&
            std::min(a.y1, c.y1) > std::max(a.y0, c.y0) &&
            std::min(a.z1, c.z1) > std::max(a.z0, c.z0)) {
          fault(b, "placements " + std::to_string(i) + " and " + std::to_string(j) + " overlap");
        }
      }
      if (a.z0 == 0) continue;
      const bool standsOnOne = std::any_of(boxes.begin(), boxes.end(), [&](const PlacedBox& c) {
        return c.stackable && c.z1 == a.z0 && c.x0 <= a.x0 && a.x1 <= c.x1 && c.y0 <= a.y0 &&
               a.y1 <= c.y1;
      });
      if (!standsOnOne) fault(b, "placement " + std::to_string(i) + " is not carried whole");
    }

    if (bin.weightLimit > 0 && weight > bin.weightLimit) fault(b, "over its weight limit");
    if (!nearlyEqual(bin.currentWeight, weight)) fault(b, "weight disagrees with its items");
    if (!nearlyEqual(bin.spaceUtilization, utilization)) fault(b, "utilization disagrees");
    if (!finished) continue;
    if (bin.placements.empty()) {
      if (bin.centerOfGravity.x != bin.length / 2 || bin.centerOfGravity.y != bin.width / 2 ||
          bin.centerOfGravity.z != bin.height / 2) {
        fault(b, "empty bin's centre is not its middle");
      }
      if (bin.usedExtent.x != bin.length || bin.usedExtent.y != bin.width ||
          bin.usedExtent.z != bin.height) {
        fault(b, "empty bin's extent is not the whole bin");
      }
      continue;
    }
    if (weight > 0 && !(nearlyEqual(bin.centerOfGravity.x, weightedX / weight) &&
                        nearlyEqual(bin.centerOfGravity.y, weightedY / weight) &&
                        nearlyEqual(bin.centerOfGravity.z, weightedZ / weight))) {
      fault(b, "centre of gravity disagrees");
    }
    if (bin.usedExtent.x != reachX || bin.usedExtent.y != reachY || bin.usedExtent.z != reachZ) {
      fault(b, "used extent disagrees");
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
    for (const Placement& p : bin.placements) placed[static_cast<std::size_t>(p.itemIndex)] = true;
  }
  std::vector<std::size_t> lost;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (placed[i]) continue;
    const ItemSpec& item = items[i];
    for (std::size_t t = 0; t < std::min<std::size_t>(2, types.size()); ++t) {
      const BinType& type = types[t];
      const bool light = type.weight_limit <= 0 || item.weight <= type.weight_limit;
      const bool fits = std::any_of(item.allowedRotations.begin(), item.allowedRotations.end(),
                                    [&](std::int32_t r) {
                                      const double dx = r == 0 ? item.l : item.w;
                                      const double dy = r == 0 ? item.w : item.l;
                                      return dx <= type.l && dy <= type.w && item.h <= type.h;
                                    });
      if (light && fits) {
        lost.push_back(i);
        break;
      }
    }
  }
  return lost;
}

}  // namespace stowra::testing
