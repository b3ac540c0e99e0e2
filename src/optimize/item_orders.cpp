#include "optimize/item_orders.hpp"

#include <algorithm>
#include <numeric>

namespace stowra {

namespace {

double baseArea(const ItemSpec& item) {
  return item.l * item.w;
}
double longestSide(const ItemSpec& item) {
  return std::max({item.l, item.w, item.h});
}

}  // namespace

const std::vector<ItemOrder>& startingKeys() {
  static const std::vector<ItemOrder> keys = {
      [](const ItemSpec& a, const ItemSpec& b) { return a.volume > b.volume; },
      [](const ItemSpec& a, const ItemSpec& b) {
        if (baseArea(a) != baseArea(b)) return baseArea(a) > baseArea(b);
        return a.h > b.h;
      },
      [](const ItemSpec& a, const ItemSpec& b) {
        if (a.h != b.h) return a.h > b.h;
        return baseArea(a) > baseArea(b);
      },
      [](const ItemSpec& a, const ItemSpec& b) {
        if (longestSide(a) != longestSide(b)) return longestSide(a) > longestSide(b);
        return a.volume > b.volume;
      },
      [](const ItemSpec&, const ItemSpec&) { return false; },
  };
  return keys;
}

std::vector<std::int32_t> groupedOrder(const std::vector<ItemSpec>& items,
                                       std::span<const std::int32_t> indices,
                                       const ItemOrder& before) {
  std::vector<std::int32_t> order(indices.begin(), indices.end());
  std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
    const ItemSpec& first = items[static_cast<std::size_t>(a)];
    const ItemSpec& second = items[static_cast<std::size_t>(b)];
    if (first.factory != second.factory) return first.factory < second.factory;
    return before(first, second);
  });
  return order;
}

std::vector<std::int32_t> groupedOrder(const std::vector<ItemSpec>& items,
                                       const ItemOrder& before) {
  std::vector<std::int32_t> all(items.size());
  std::iota(all.begin(), all.end(), 0);
  return groupedOrder(items, all, before);
}

void changeOrder(std::vector<std::int32_t>& order, OrderChange change, std::int32_t a,
                 std::int32_t b) {
  if (change == OrderChange::SWAP) {
    std::swap(order[static_cast<std::size_t>(a)], order[static_cast<std::size_t>(b)]);
  } else if (change == OrderChange::MOVE) {
    const std::int32_t moved = order[static_cast<std::size_t>(a)];
    order.erase(order.begin() + a);
    order.insert(order.begin() + b, moved);
  } else {
    if (a > b) std::swap(a, b);
    std::reverse(order.begin() + a, order.begin() + b + 1);
  }
}

}  // namespace stowra
