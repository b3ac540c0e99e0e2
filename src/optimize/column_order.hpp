#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "problem/item.hpp"

namespace stowra {

// The given items in an order that loads whole columns. Within each factory's run (factories
// ascending) the stackable items are stacked by base (the same two sides, either way round),
// tallest first, into columns no taller than `height`; each column is then topped by the largest
// item that carries nothing, fits on its base and leaves the least height to spare. Columns come
// largest base first, each from the bottom up; the items that carry nothing and top no column
// follow, largest first. A corner rule that tries the top of a column before the floor beside it
// builds every column to the ceiling before the next, and the boxes that carry nothing end up on
// top instead of wasting the height above them on the floor.
std::vector<std::int32_t> columnOrder(const std::vector<ItemSpec>& items,
                                      std::span<const std::int32_t> indices, double height);

}  // namespace stowra
