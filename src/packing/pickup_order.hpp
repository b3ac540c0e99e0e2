#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/item.hpp"

namespace stowra {

// A placed box by its two corners.
struct Box {
  double x0 = 0.0;
  double y0 = 0.0;
  double z0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
  double z1 = 0.0;
};

Box boxOf(const Placement& placement, const ItemSpec& item);

// Whether `first` must be loaded before `then`: it stands behind it (nearer the back wall, their
// cross-sections across the width and height overlapping) or below it (footprints overlapping).
bool mustLoadBefore(const Box& first, const Box& then);

// Whether a box of the given factory at `box` breaks the pickup order with a box already in the
// bin: it would stand behind or below a box of an earlier factory, or in front of or above one
// of a later factory. Factories are the stops where goods are picked up, lowest number first.
bool breaksPickupOrder(const PackedBin& bin, const std::vector<ItemSpec>& items,
                       std::int32_t factory, const Box& box);

// The boxes of other factories in one bin, gathered once for testing places of one box of
// `factory` against them.
class PickupGuard {
 public:
  PickupGuard(const PackedBin& bin, const std::vector<ItemSpec>& items, std::int32_t factory);

  // Whether a box of the guard's factory at `box` keeps the pickup order (see breaksPickupOrder).
  bool allows(const Box& box) const;

 private:
  std::vector<Box> earlier_;
  std::vector<Box> later_;
};

// For each box, the boxes (by position) of earlier factories that it stands behind or below:
// the pairs a crew could not load factory by factory. `factories` gives each box's factory.
std::vector<std::vector<std::size_t>> pickupOrderBreaks(const std::vector<Box>& boxes,
                                                        const std::vector<std::int32_t>& factories);

// The same for the boxes of a bin, in placement order.
std::vector<std::vector<std::size_t>> pickupOrderBreaks(const PackedBin& bin,
                                                        const std::vector<ItemSpec>& items);

// Whether no box of the bin breaks the pickup order with another.
bool keepsPickupOrder(const PackedBin& bin, const std::vector<ItemSpec>& items);

}  // namespace stowra
