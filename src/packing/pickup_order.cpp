#include "packing/pickup_order.hpp"

#include <algorithm>

namespace stowra {

namespace {

bool overlap(double a0, double a1, double b0, double b1) {
  return a0 < b1 && b0 < a1;
}

}  // namespace

Box boxOf(const Placement& placement, const ItemSpec& item) {
  const ItemExtents extents = extentsOf(item, placement.rotation);
  return {placement.x,
          placement.y,
          placement.z,
          placement.x + extents.dx,
          placement.y + extents.dy,
          placement.z + extents.h};
}

bool mustLoadBefore(const Box& first, const Box& then) {
  const bool across = overlap(first.y0, first.y1, then.y0, then.y1);
  if (!across) return false;
  const bool behind = first.x1 <= then.x0 && overlap(first.z0, first.z1, then.z0, then.z1);
  const bool below = first.z1 <= then.z0 && overlap(first.x0, first.x1, then.x0, then.x1);
  return behind || below;
}

bool breaksPickupOrder(const PackedBin& bin, const std::vector<ItemSpec>& items,
                       std::int32_t factory, const Box& box) {
  for (const Placement& placement : bin.placements) {
    const ItemSpec& other = items[static_cast<std::size_t>(placement.itemIndex)];
    if (other.factory == factory) continue;
    const Box placed = boxOf(placement, other);
    // The later factory's box is loaded later, so it may not be needed before the other.
    const bool broken =
        other.factory < factory ? mustLoadBefore(box, placed) : mustLoadBefore(placed, box);
    if (broken) return true;
  }
  return false;
}

PickupGuard::PickupGuard(const PackedBin& bin, const std::vector<ItemSpec>& items,
                         std::int32_t factory) {
  for (const Placement& placement : bin.placements) {
    const ItemSpec& other = items[static_cast<std::size_t>(placement.itemIndex)];
    if (other.factory == factory) continue;
    const Box box = boxOf(placement, other);
    if (other.factory > factory) {
      later_.push_back(box);
      continue;
    }
    earlier_.push_back(box);
  }
}

bool PickupGuard::allows(const Box& box) const {
  for (const Box& other : earlier_) {
    // A box wholly behind the place is neither in front of it nor above it: one comparison
    // passes over most of a long load.
    if (other.x1 <= box.x0) continue;
    if (mustLoadBefore(box, other)) return false;
  }
  return std::none_of(later_.begin(), later_.end(),
                      [&](const Box& other) { return mustLoadBefore(other, box); });
}

std::vector<std::vector<std::size_t>> pickupOrderBreaks(const PackedBin& bin,
                                                        const std::vector<ItemSpec>& items) {
  std::vector<Box> boxes;
  std::vector<std::int32_t> factories;
  for (const Placement& placement : bin.placements) {
    const ItemSpec& item = items[static_cast<std::size_t>(placement.itemIndex)];
    boxes.push_back(boxOf(placement, item));
    factories.push_back(item.factory);
  }
  return pickupOrderBreaks(boxes, factories);
}

std::vector<std::vector<std::size_t>> pickupOrderBreaks(
    const std::vector<Box>& boxes, const std::vector<std::int32_t>& factories) {
  std::vector<std::vector<std::size_t>> breaks(boxes.size());
  for (std::size_t later = 0; later < boxes.size(); ++later) {
    for (std::size_t earlier = 0; earlier < boxes.size(); ++earlier) {
      if (factories[earlier] < factories[later] && mustLoadBefore(boxes[later], boxes[earlier])) {
        breaks[later].push_back(earlier);
      }
    }
  }
  return breaks;
}

bool keepsPickupOrder(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  for (const Placement& placement : bin.placements) {
    const ItemSpec& item = items[static_cast<std::size_t>(placement.itemIndex)];
    if (breaksPickupOrder(bin, items, item.factory, boxOf(placement, item))) return false;
  }
  return true;
}

}  // namespace stowra
