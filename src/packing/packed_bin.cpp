#include "packing/packed_bin.hpp"

#include <algorithm>

namespace stowra {

namespace {

constexpr std::size_t RESERVED_PER_BIN = 64;

}  // namespace

std::size_t clampBinTypeIndex(std::size_t typeCount, std::int64_t typeIndex) {
  const auto lastIndex = static_cast<std::int64_t>(typeCount) - 1;
  if (typeIndex > lastIndex) return static_cast<std::size_t>(lastIndex);
  if (typeIndex < 0) return 0;
  return static_cast<std::size_t>(typeIndex);
}

PackedBin openBin(const std::vector<BinType>& binTypes, std::int64_t typeIndex,
                  std::size_t binsOpened) {
  const std::size_t index = clampBinTypeIndex(binTypes.size(), typeIndex);
  const BinType& type = binTypes[index];

  PackedBin bin;
  bin.id = static_cast<std::int32_t>(binsOpened + 1);
  bin.typeIndex = static_cast<std::int32_t>(index);
  bin.cost = type.cost;
  bin.weightLimit = type.weight_limit;
  bin.binType = type.id;
  bin.length = type.l;
  bin.width = type.w;
  bin.height = type.h;
  bin.freeSpaces.reserve(RESERVED_PER_BIN);
  bin.placements.reserve(RESERVED_PER_BIN);
  bin.freeSpaces.push_back(FreeSpace{type.l, type.w, type.h, 0.0, 0.0, 0.0, true, 1});
  return bin;
}

void computeCenterOfGravity(PackedBin& bin, const std::vector<ItemSpec>& items) {
  if (bin.placements.empty()) {
    bin.centerOfGravity = {bin.length / 2, bin.width / 2, bin.height / 2};
    return;
  }
  double totalWeight = 0.0;
  double sumX = 0.0;
  double sumY = 0.0;
  double sumZ = 0.0;
  for (const Placement& placement : bin.placements) {
    const ItemSpec& item = items[static_cast<std::size_t>(placement.itemIndex)];
    const ItemExtents extents = extentsOf(item, placement.rotation);
    totalWeight += item.weight;
    sumX += (placement.x + extents.dx * 0.5) * item.weight;
    sumY += (placement.y + extents.dy * 0.5) * item.weight;
    sumZ += (placement.z + extents.h * 0.5) * item.weight;
  }
  // Weights may be zero or negative; then there is no meaningful centre and the field stays.
  if (totalWeight > 0) {
    bin.centerOfGravity = {sumX / totalWeight, sumY / totalWeight, sumZ / totalWeight};
  }
}

void computeUsedExtent(PackedBin& bin, const std::vector<ItemSpec>& items) {
  if (bin.placements.empty()) {
    bin.usedExtent = {bin.length, bin.width, bin.height};
    return;
  }
  Point3 extent;
  for (const Placement& placement : bin.placements) {
    const ItemExtents extents =
        extentsOf(items[static_cast<std::size_t>(placement.itemIndex)], placement.rotation);
    extent.x = std::max(extent.x, placement.x + extents.dx);
    extent.y = std::max(extent.y, placement.y + extents.dy);
    extent.z = std::max(extent.z, placement.z + extents.h);
  }
  bin.usedExtent = extent;
}

}  // namespace stowra
