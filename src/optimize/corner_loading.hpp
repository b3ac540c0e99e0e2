#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "packing/packed_bin.hpp"
#include "packing/wall_packer.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// The wall packer's free spaces each rest on the floor or on the top of one box, so a box too
// big for the top of any one box is never raised, though two boxes of one height side by side
// could carry it: in a small container that leaves a big box alone on the floor. Loaded at
// corners instead, a box may stand across several boxes whose tops are at its bottom.

// Loads the items, in this order, into an empty container of `type` numbered `binId`, each at
// the first corner by `rule` (the corner points beside, behind and on top of the boxes already
// in, and those pushed back to the nearest box or wall) where it stands inside the container,
// shares no volume with a box, rests on the floor or with its whole base on the tops of
// stackable boxes at its bottom, keeps the weight limit, every box's max_load and (with
// `pickupOrder`) the pickup order. An item with no such corner is passed over. The container
// keeps no free spaces: no other packer may add to it.
PackedBin loadAtCorners(std::span<const std::int32_t> order, WallRule rule, std::int32_t type,
                        std::int32_t binId, const std::vector<ItemSpec>& items,
                        const std::vector<BinType>& binTypes, bool pickupOrder);

}  // namespace stowra
