#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

struct Point3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// One item inside one bin: its minimum corner and the rotation it was placed with
// (0 puts l along x and w along y; any other code turns it).
struct Placement {
  std::int32_t itemIndex = 0;
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  std::int32_t rotation = 0;
};

// An empty box in which an item may stand with its minimum corner on the box's minimum corner.
// `copies` counts how many identical spaces this one entry stands for.
struct FreeSpace {
  double length = 0.0;
  double width = 0.0;
  double height = 0.0;
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  bool openTop = true;
  std::int64_t copies = 1;

  double volume() const { return width * length * height; }
};

// One opened bin with its placements, free spaces and statistics.
struct PackedBin {
  std::int32_t id = 0;         // 1-based opening number
  std::int32_t typeIndex = 0;  // its type's position among the available types
  double cost = 0.0;
  double weightLimit = 0.0;  // <= 0 means no limit
  double currentWeight = 0.0;
  double spaceUtilization = 0.0;
  std::string binType;
  std::vector<FreeSpace> freeSpaces;
  std::vector<Placement> placements;
  Point3 centerOfGravity;
  Point3 usedExtent;
  double length = 0.0;
  double width = 0.0;
  double height = 0.0;

  double volume() const { return width * length * height; }
};

// Extents of an item as placed: dx along x, dy along y, h upwards.
struct ItemExtents {
  double dx = 0.0;
  double dy = 0.0;
  double h = 0.0;
};

inline ItemExtents extentsOf(const ItemSpec& item, std::int32_t rotation) {
  return rotation == 0 ? ItemExtents{item.l, item.w, item.h} : ItemExtents{item.w, item.l, item.h};
}

// "20GP" and "20" name 20-foot containers; every other name counts as 40-foot.
inline bool isTwentyFootName(const std::string& name) {
  return name == "20GP" || name == "20";
}

// A bin-type index moved into the table: past the end gives the last type, negative the first.
std::size_t clampBinTypeIndex(std::size_t typeCount, std::int64_t typeIndex);

// Opens bin number binsOpened + 1 of the given type; the index is clamped into the table.
PackedBin openBin(const std::vector<BinType>& binTypes, std::int64_t typeIndex,
                  std::size_t binsOpened);

void computeCenterOfGravity(PackedBin& bin, const std::vector<ItemSpec>& items);
void computeUsedExtent(PackedBin& bin, const std::vector<ItemSpec>& items);

}  // namespace stowra
