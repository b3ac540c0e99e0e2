#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "problem/item.hpp"

namespace stowra {

// The given items in an order that loads whole columns. Within each factory's run (factories
// ascending) the stackable items are grouped by base (the same two sides, either way round).
// Each item that carries nothing, largest first, gets a column of its own on the smallest base
// that holds it: the tallest unused items of that base that still leave room for it on top.
// The rest of each base is stacked, tallest first, into columns no taller than `height`.
// Columns come largest base first, each from the bottom up with its topper last; the items
// that carry nothing and top no column follow, largest first. A corner rule that tries the top
// of a column before the floor beside it builds every column to the ceiling before the next,
// and the boxes that carry nothing end up on top instead of wasting the height above them on
// the floor.
std::vector<std::int32_t> columnOrder(const std::vector<ItemSpec>& items,
                                      std::span<const std::int32_t> indices, double height);

}  // namespace stowra
