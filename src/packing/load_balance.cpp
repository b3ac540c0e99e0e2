#include "packing/load_balance.hpp"

#include <algorithm>
#include <cmath>

namespace stowra {

double backHalfShare(const PackedBin& bin, const std::vector<ItemSpec>& items, double shift) {
  const double middle = bin.length / 2;
  double total = 0.0;
  double back = 0.0;
  for (const Placement& placement : bin.placements) {
    const ItemSpec& item = items[static_cast<std::size_t>(placement.itemIndex)];
    const double length = extentsOf(item, placement.rotation).dx;
    const double start = placement.x + shift;
    const double inBack = std::clamp(middle - start, 0.0, length);
    total += item.weight;
    back += item.weight * (inBack / length);
  }
  return total > 0 ? back / total : 0.5;
}

double heavierHalfShare(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  const double back = backHalfShare(bin, items);
  return std::max(back, 1.0 - back);
}

double centringShift(const PackedBin& bin, const std::vector<ItemSpec>& items, double limit) {
  const double back = backHalfShare(bin, items);
  // Within the limit it stays; heavier in front, moving forward cannot help.
  if (std::max(back, 1.0 - back) <= limit || back < 0.5) return 0.0;
  double front = 0.0;
  for (const Placement& placement : bin.placements) {
    const ItemSpec& item = items[static_cast<std::size_t>(placement.itemIndex)];
    front = std::max(front, placement.x + extentsOf(item, placement.rotation).dx);
  }
  const double room = bin.length - front;
  if (!(room > 0)) return 0.0;
  if (backHalfShare(bin, items, room) > 0.5) return room;
  // The back share falls as the load moves forward: halve the interval around an even split.
  double low = 0.0;
  double high = room;
  for (int step = 0; step < 60; ++step) {
    const double mid = (low + high) / 2;
    (backHalfShare(bin, items, mid) > 0.5 ? low : high) = mid;
  }
  if (room != std::floor(room)) return low;
  // Whole sizes stay whole: of the two whole moves around it, the one nearer an even split.
  const double down = std::floor(low);
  const double up = std::min(std::ceil(low), room);
  const auto off = [&](double d) { return std::abs(backHalfShare(bin, items, d) - 0.5); };
  return off(up) < off(down) ? up : down;
}

double centredShare(const PackedBin& bin, const std::vector<ItemSpec>& items, double limit) {
  const double back = backHalfShare(bin, items, centringShift(bin, items, limit));
  return std::max(back, 1.0 - back);
}

bool centreLoad(PackedBin& bin, const std::vector<ItemSpec>& items, double limit) {
  const double shift = centringShift(bin, items, limit);
  if (shift > 0) {
    for (Placement& placement : bin.placements) placement.x += shift;
    bin.freeSpaces.clear();
  }
  return heavierHalfShare(bin, items) <= limit;
}

}  // namespace stowra
