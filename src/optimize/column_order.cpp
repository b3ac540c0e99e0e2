#include "optimize/column_order.hpp"

#include <algorithm>
#include <cstddef>
#include <numeric>

namespace stowra {

namespace {

// Bounds on the search for a topper's column, so that the order stays near linear in the items
// whatever the shipment: groups looked at, and among them groups whose base holds the topper.
constexpr std::size_t GROUPS_LOOKED_AT = 4096;
constexpr std::size_t HOLDING_GROUPS_TRIED = 256;
constexpr std::size_t OPEN_COLUMNS = 8;  // columns of a base still open to the next box

struct Base {
  double longer = 0.0;
  double shorter = 0.0;

  bool operator==(const Base&) const = default;
  double area() const { return longer * shorter; }
  bool holds(const Base& other) const { return other.longer <= longer && other.shorter <= shorter; }
};

Base baseOf(const ItemSpec& item) {
  return {std::max(item.l, item.w), std::min(item.l, item.w)};
}

// The stackable items of one base, tallest first. `next` leads from a position to the first
// member at or after it not yet in a column (halving the paths it walks), so members already
// used are stepped over in near constant time; an unused member leads to itself.
struct BaseGroup {
  Base base;
  std::vector<std::int32_t> members;
  std::vector<double> heights;
  std::vector<std::size_t> next;  // one more than the members: the end leads to itself

  bool used(std::size_t k) const { return next[k] != k; }
  std::size_t firstUnused(std::size_t k) {
    while (next[k] != k) {
      next[k] = next[next[k]];
      k = next[k];
    }
    return k;
  }
};

struct Column {
  Base base;
  double height = 0.0;
  std::vector<std::int32_t> members;  // from the bottom up, the topper last
};

// Stacks unused members of the group, tallest first, as long as the column stays within
// `room` (first fit); the column is empty when none fits. Members too tall for the room left
// are never looked at: they come first.
Column stackFrom(BaseGroup& group, double room) {
  Column column{group.base, 0.0, {}};
  for (std::size_t k = 0;;) {
    k = static_cast<std::size_t>(
        std::partition_point(group.heights.begin() + static_cast<std::ptrdiff_t>(k),
                             group.heights.end(),
                             [&](double h) { return column.height + h > room; }) -
        group.heights.begin());
    k = group.firstUnused(k);
    if (k == group.members.size()) return column;
    column.members.push_back(group.members[k]);
    column.height += group.heights[k];
    group.next[k] = k + 1;
    ++k;
  }
}

// The items of one factory's run (sorted by base, largest first, then tallest first), in
// column order, appended to `out`.
void appendColumns(const std::vector<ItemSpec>& items, const std::vector<std::int32_t>& run,
                   double height, std::vector<std::int32_t>& out) {
  std::vector<BaseGroup> groups;
  std::vector<std::int32_t> loose;
  for (const std::int32_t index : run) {
    const ItemSpec& item = items[static_cast<std::size_t>(index)];
    if (!item.stackable) {
      loose.push_back(index);
      continue;
    }
    if (groups.empty() || !(groups.back().base == baseOf(item))) {
      groups.push_back(BaseGroup{baseOf(item), {}, {}, {}});
    }
    groups.back().members.push_back(index);
    groups.back().heights.push_back(item.h);
  }
  for (BaseGroup& group : groups) {
    group.next.resize(group.members.size() + 1);
    std::iota(group.next.begin(), group.next.end(), std::size_t{0});
  }

  // First a column for each item that carries nothing, low enough to take it on top, on the
  // smallest base that holds it: the largest such items choose first.
  std::stable_sort(loose.begin(), loose.end(), [&](std::int32_t a, std::int32_t b) {
    return items[static_cast<std::size_t>(a)].volume > items[static_cast<std::size_t>(b)].volume;
  });
  std::vector<Column> columns;
  std::vector<std::int32_t> untopped;
  for (const std::int32_t index : loose) {
    const ItemSpec& item = items[static_cast<std::size_t>(index)];
    const Base base = baseOf(item);
    bool topped = false;
    // Groups come largest base first: the smallest that holds the item is found going back
    // from the last group with area enough.
    const auto enough = std::partition_point(groups.begin(), groups.end(), [&](const BaseGroup& g) {
      return g.base.area() >= base.area();
    });
    const auto candidates = static_cast<std::size_t>(enough - groups.begin());
    std::size_t holding = 0;
    for (std::size_t looked = 0; looked < candidates && looked < GROUPS_LOOKED_AT &&
                                 holding < HOLDING_GROUPS_TRIED && !topped;
         ++looked) {
      BaseGroup& group = groups[candidates - 1 - looked];
      if (!group.base.holds(base)) continue;
      ++holding;
      Column column = stackFrom(group, height - item.h);
      if (column.members.empty()) continue;
      column.members.push_back(index);
      column.height += item.h;
      columns.push_back(std::move(column));
      topped = true;
    }
    if (!topped) untopped.push_back(index);
  }
  // Then the rest of each base in columns up to the ceiling, first fit, tallest first.
  for (BaseGroup& group : groups) {
    const std::size_t firstOwn = columns.size();
    for (std::size_t k = 0; k < group.members.size(); ++k) {
      if (group.used(k)) continue;
      const std::int32_t index = group.members[k];
      const double h = items[static_cast<std::size_t>(index)].h;
      Column* home = nullptr;
      const std::size_t from =
          std::max(firstOwn, columns.size() - std::min(columns.size(), OPEN_COLUMNS));
      for (std::size_t c = from; c < columns.size(); ++c) {
        if (columns[c].height + h <= height) {
          home = &columns[c];
          break;
        }
      }
      if (home == nullptr) home = &columns.emplace_back(Column{group.base, 0.0, {}});
      home->members.push_back(index);
      home->height += h;
    }
  }

  // Largest base first; columns of one base in the order made.
  std::stable_sort(columns.begin(), columns.end(),
                   [](const Column& a, const Column& b) { return a.base.area() > b.base.area(); });
  for (const Column& column : columns) {
    out.insert(out.end(), column.members.begin(), column.members.end());
  }
  out.insert(out.end(), untopped.begin(), untopped.end());
}

}  // namespace

std::vector<std::int32_t> columnOrder(const std::vector<ItemSpec>& items,
                                      std::span<const std::int32_t> indices, double height) {
  std::vector<std::int32_t> sorted(indices.begin(), indices.end());
  // By factory, then base (largest first, same bases together), then tallest first.
  std::stable_sort(sorted.begin(), sorted.end(), [&](std::int32_t a, std::int32_t b) {
    const ItemSpec& first = items[static_cast<std::size_t>(a)];
    const ItemSpec& second = items[static_cast<std::size_t>(b)];
    if (first.factory != second.factory) return first.factory < second.factory;
    const Base baseA = baseOf(first);
    const Base baseB = baseOf(second);
    if (baseA.area() != baseB.area()) return baseA.area() > baseB.area();
    if (baseA.longer != baseB.longer) return baseA.longer > baseB.longer;
    return first.h > second.h;
  });
  std::vector<std::int32_t> order;
  order.reserve(sorted.size());
  for (std::size_t begin = 0; begin < sorted.size();) {
    std::size_t end = begin + 1;
    const std::int32_t factory = items[static_cast<std::size_t>(sorted[begin])].factory;
    while (end < sorted.size() && items[static_cast<std::size_t>(sorted[end])].factory == factory) {
      ++end;
    }
    const std::vector<std::int32_t> run(sorted.begin() + static_cast<std::ptrdiff_t>(begin),
                                        sorted.begin() + static_cast<std::ptrdiff_t>(end));
    appendColumns(items, run, height, order);
    begin = end;
  }
  return order;
}

}  // namespace stowra
