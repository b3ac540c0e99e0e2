#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "problem/item.hpp"

namespace stowra {

using ItemOrder = std::function<bool(const ItemSpec&, const ItemSpec&)>;

// The sort keys the plan search starts from, each descending: volume, base area, height,
// longest side; the last keeps the input order.
const std::vector<ItemOrder>& startingKeys();

// The given item indices grouped by ascending factory number; within a group by `before` (a
// strict weak order), equal items in the given order.
std::vector<std::int32_t> groupedOrder(const std::vector<ItemSpec>& items,
                                       std::span<const std::int32_t> indices,
                                       const ItemOrder& before);

// Every item index, grouped and sorted as above.
std::vector<std::int32_t> groupedOrder(const std::vector<ItemSpec>& items, const ItemOrder& before);

// The small changes the searches make to an order between positions a and b.
enum class OrderChange { SWAP, MOVE, REVERSE };

// Swaps the items at a and b, moves the item at a to b, or reverses the run between them.
void changeOrder(std::vector<std::int32_t>& order, OrderChange change, std::int32_t a,
                 std::int32_t b);

}  // namespace stowra
