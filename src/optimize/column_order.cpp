#include "optimize/column_order.hpp"

#include <algorithm>
#include <cstddef>
#include <numeric>

namespace stowra {

namespace {

// Bounds on the scans below, so that the order stays near linear in the items whatever the
// shipment: bases tried for a topper, items tried for one column, columns of a base kept open.
constexpr std::size_t BASE_TRIES = 256;
constexpr std::size_t ITEM_TRIES = 64;
constexpr std::size_t OPEN_COLUMNS = 8;

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

// The stackable items of one base, tallest first, and which of them are in a column yet.
struct BaseGroup {
  Base base;
  std::vector<std::int32_t> members;
  std::vector<bool> used;
  std::size_t firstFree = 0;
};

struct Column {
  Base base;
  double height = 0.0;
  std::vector<std::int32_t> members;  // from the bottom up, the topper last
};

// Stacks unused members of the group, tallest first, as long as the column stays within
// `room`; the column is empty when none fits.
Column stackFrom(BaseGroup& group, const std::vector<ItemSpec>& items, double room) {
  Column column{group.base, 0.0, {}};
  while (group.firstFree < group.used.size() && group.used[group.firstFree]) ++group.firstFree;
  for (std::size_t k = group.firstFree, tries = 0; k < group.members.size() && tries < ITEM_TRIES;
       ++k) {
    if (group.used[k]) continue;
    ++tries;
    const double h = items[static_cast<std::size_t>(group.members[k])].h;
    if (column.height + h <= room) {
      column.members.push_back(group.members[k]);
      column.height += h;
      group.used[k] = true;
    }
  }
  return column;
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
      groups.push_back(BaseGroup{baseOf(item), {}, {}, 0});
    }
    groups.back().members.push_back(index);
    groups.back().used.push_back(false);
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
    auto g = enough;
    for (std::size_t tries = 0; g != groups.begin() && tries < BASE_TRIES && !topped; ++tries) {
      --g;
      if (!g->base.holds(base)) continue;
      Column column = stackFrom(*g, items, height - item.h);
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
      if (group.used[k]) continue;
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
