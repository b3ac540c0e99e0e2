#pragma once

#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/item.hpp"

namespace stowra {

// Share of the cargo weight in the back half of the bin's length (x below length / 2) once
// every box is moved `shift` towards the door. A box across the middle counts in each half in
// proportion to its length there. 0.5 for a bin that carries no weight.
double backHalfShare(const PackedBin& bin, const std::vector<ItemSpec>& items, double shift = 0.0);

// Share of the cargo weight in the heavier half of the bin's length (0.5 to 1).
double heavierHalfShare(const PackedBin& bin, const std::vector<ItemSpec>& items);

// How far centreLoad would move the load (0 when it stays).
double centringShift(const PackedBin& bin, const std::vector<ItemSpec>& items, double limit);

// The heavier half's share once centreLoad has moved the load; the bin itself is not changed.
double centredShare(const PackedBin& bin, const std::vector<ItemSpec>& items, double limit);

// When more than `limit` of the weight lies in the back half, moves the whole load towards the
// door (all boxes together, so nothing else about it changes) until its weight is as near the
// middle as the room in front allows, by whole units when the sizes are whole. A moved bin's
// free spaces are dropped: it takes no more boxes. True when the bin then keeps the limit.
bool centreLoad(PackedBin& bin, const std::vector<ItemSpec>& items, double limit);

}  // namespace stowra
