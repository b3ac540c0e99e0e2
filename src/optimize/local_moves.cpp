#include "optimize/local_moves.hpp"

#include <algorithm>
#include <numeric>

#include "candidate/random_draws.hpp"
#include "optimize/column_order.hpp"
#include "optimize/item_orders.hpp"
#include "optimize/plan_improvement.hpp"
#include "optimize/type_choice.hpp"

namespace stowra {

namespace {

// Bins repacked together at most: enough to shift load between neighbours or merge two.
constexpr std::int32_t MOST_REPACKED = 3;

std::size_t emptiest(const std::vector<PackedBin>& bins, std::size_t rank) {
  std::vector<std::size_t> byFill(bins.size());
  std::iota(byFill.begin(), byFill.end(), std::size_t{0});
  const std::size_t kept = std::min(rank + 1, bins.size());
  std::partial_sort(byFill.begin(), byFill.begin() + static_cast<std::ptrdiff_t>(kept),
                    byFill.end(), [&](std::size_t a, std::size_t b) {
                      if (bins[a].spaceUtilization != bins[b].spaceUtilization) {
                        return bins[a].spaceUtilization < bins[b].spaceUtilization;
                      }
                      return a < b;
                    });
  return byFill[kept - 1];
}

// A small change inside one factory's run of the order, as the search's own children get.
void reshuffle(std::vector<std::int32_t>& order, const std::vector<ItemSpec>& items,
               std::uint32_t seed) {
  if (order.size() < 2) return;
  std::mt19937 rng(seed);
  const auto n = static_cast<std::int32_t>(order.size());
  const std::int32_t changes = 1 + boundedDraw(rng, 0, 2);
  for (std::int32_t change = 0; change < changes; ++change) {
    const std::int32_t anchor = boundedDraw(rng, 0, n - 1);
    const std::int32_t factory = items[static_cast<std::size_t>(order[anchor])].factory;
    std::int32_t begin = anchor;
    std::int32_t end = anchor + 1;
    while (begin > 0 && items[static_cast<std::size_t>(order[begin - 1])].factory == factory) {
      --begin;
    }
    while (end < n && items[static_cast<std::size_t>(order[end])].factory == factory) ++end;
    if (end - begin < 2) continue;
    const std::int32_t a = boundedDraw(rng, begin, end - 1);
    const std::int32_t b = boundedDraw(rng, begin, end - 1);
    const std::int32_t kind = boundedDraw(rng, 0, 2);
    changeOrder(order,
                kind == 0   ? OrderChange::SWAP
                : kind == 1 ? OrderChange::MOVE
                            : OrderChange::REVERSE,
                a, b);
  }
}

// The bins a REPACK or TOP_UP move loads again, in the order they are loaded.
std::vector<std::size_t> repacked(const std::vector<PackedBin>& bins, const MoveDraw& draw) {
  if (draw.kind == MoveDraw::Kind::TOP_UP) return {draw.first, draw.emptied};
  std::vector<std::size_t> positions;
  const std::size_t end = std::min(draw.first + draw.count, bins.size());
  for (std::size_t b = draw.first; b < end; ++b) positions.push_back(b);
  return positions;
}

std::optional<LocalMove> repackMove(const std::vector<PackedBin>& bins, const MoveDraw& draw,
                                    WallPacker& packer, const std::vector<ItemSpec>& items,
                                    const std::vector<BinType>& binTypes) {
  LocalMove move;
  std::vector<std::int32_t> gathered;
  std::vector<std::int32_t> ownTypes;
  for (const std::size_t b : repacked(bins, draw)) {
    if (bins[b].cost < 0) continue;  // a bin that pays for itself stays
    move.positions.push_back(b);
    ownTypes.push_back(bins[b].typeIndex);
    for (const Placement& placement : bins[b].placements) gathered.push_back(placement.itemIndex);
  }
  if (gathered.empty()) return std::nullopt;
  const std::vector<std::int32_t>& preference = packer.typePreference();
  const auto keys = static_cast<std::int32_t>(startingKeys().size());
  std::vector<std::int32_t> order =
      draw.key < keys
          ? groupedOrder(items, gathered, startingKeys()[static_cast<std::size_t>(draw.key)])
          : columnOrder(items, gathered, binTypes[static_cast<std::size_t>(preference.front())].h);
  if (draw.shuffle != 0) reshuffle(order, items, draw.shuffle);
  std::vector<std::int32_t> types;
  if (draw.types == 0) {
    types = ownTypes;
  } else if (draw.types == 1) {
    std::vector<ItemSpec> load;
    load.reserve(gathered.size());
    for (const std::int32_t index : gathered)
      load.push_back(items[static_cast<std::size_t>(index)]);
    types = cheapestCover(load, binTypes, preference);
  }
  const WallRule own = packer.rule;
  packer.rule = draw.rule;
  move.built = packer.pack(order, types);
  retypeBins(move.built, packer, items, binTypes);
  packer.rule = own;
  std::size_t placed = 0;
  for (const PackedBin& bin : move.built) placed += bin.placements.size();
  if (placed != gathered.size()) return std::nullopt;
  return move;
}

// The drawn top-up loaded in every starting order with every corner rule (each with the draw's
// small change): the loading whose first bin is fullest, with no more bins than it replaces.
std::optional<LocalMove> topUpMove(const std::vector<PackedBin>& bins, const MoveDraw& draw,
                                   WallPacker& packer, const std::vector<ItemSpec>& items,
                                   const std::vector<BinType>& binTypes) {
  std::optional<LocalMove> best;
  MoveDraw tried = draw;
  for (std::int32_t key = 0; key <= static_cast<std::int32_t>(startingKeys().size()); ++key) {
    for (std::int32_t rule = 0; rule < WALL_RULE_COUNT; ++rule) {
      tried.key = key;
      tried.rule = static_cast<WallRule>(rule);
      std::optional<LocalMove> move = repackMove(bins, tried, packer, items, binTypes);
      if (!move || move->built.size() > move->positions.size()) continue;
      if (!best || move->built.size() < best->built.size() ||
          (move->built.size() == best->built.size() &&
           move->built.front().spaceUtilization > best->built.front().spaceUtilization)) {
        best = std::move(move);
      }
    }
  }
  return best;
}

// Moves the items of bin `victim` into the others, first fit in list order, each after what
// the bin holds and never behind a later factory: the bins changed (in list order) and the
// victim last, which the move drops. An item that finds no place ends the move (nullopt), or
// with `rest` is kept there, and then only bins fuller than the victim take items. Bins are
// copied only once an item goes in.
std::optional<LocalMove> movedOut(const std::vector<PackedBin>& bins, std::size_t victim,
                                  WallPacker& packer, const std::vector<ItemSpec>& items,
                                  std::vector<std::int32_t>* rest) {
  std::vector<std::optional<PackedBin>> copies(bins.size());
  std::vector<WallPacker::Misfits> misfits(bins.size());
  LocalMove move;
  for (const Placement& placement : bins[victim].placements) {
    const ItemSpec& item = items[static_cast<std::size_t>(placement.itemIndex)];
    bool placed = false;
    for (std::size_t b = 0; b < bins.size() && !placed; ++b) {
      if (b == victim || misfits[b].rulesOut(item)) continue;
      // Load moved in part only goes to fuller bins: the plan's load gathers in fewer.
      if (rest && !(bins[b].spaceUtilization > bins[victim].spaceUtilization)) continue;
      const PackedBin& current = copies[b] ? *copies[b] : bins[b];
      // A bin already loading a later factory cannot take this one behind it.
      if (!current.placements.empty() &&
          items[static_cast<std::size_t>(current.placements.back().itemIndex)].factory >
              item.factory) {
        continue;
      }
      if (!copies[b]) {
        if (!wallFit(bins[b], item, packer.rule)) {
          misfits[b].add(item);
          continue;
        }
        copies[b] = bins[b];
      }
      PackedBin* target = &*copies[b];
      placed =
          packer.placeInAny(std::span<PackedBin*>(&target, 1),
                            std::span<WallPacker::Misfits>(&misfits[b], 1), placement.itemIndex);
      if (placed &&
          std::find(move.positions.begin(), move.positions.end(), b) == move.positions.end()) {
        move.positions.push_back(b);
      }
    }
    if (!placed) {
      if (!rest) return std::nullopt;
      rest->push_back(placement.itemIndex);
    }
  }
  std::sort(move.positions.begin(), move.positions.end());
  for (const std::size_t b : move.positions) move.built.push_back(std::move(*copies[b]));
  move.positions.push_back(victim);
  return move;
}

}  // namespace

std::vector<PackedBin> applyMove(const std::vector<PackedBin>& bins, const LocalMove& move) {
  constexpr std::ptrdiff_t KEEP = -1;
  constexpr std::ptrdiff_t DROP = -2;
  std::vector<std::ptrdiff_t> slot(bins.size(), KEEP);
  std::size_t last = 0;
  for (std::size_t k = 0; k < move.positions.size(); ++k) {
    const std::size_t position = move.positions[k];
    slot[position] = k < move.built.size() ? static_cast<std::ptrdiff_t>(k) : DROP;
    last = std::max(last, position);
  }
  std::vector<PackedBin> plan;
  plan.reserve(bins.size() + move.built.size());
  for (std::size_t b = 0; b < bins.size(); ++b) {
    if (slot[b] == KEEP) {
      plan.push_back(bins[b]);
    } else if (slot[b] != DROP) {
      plan.push_back(move.built[static_cast<std::size_t>(slot[b])]);
    }
    if (b == last && !move.positions.empty()) {
      for (std::size_t k = move.positions.size(); k < move.built.size(); ++k) {
        plan.push_back(move.built[k]);
      }
    }
  }
  for (std::size_t b = 0; b < plan.size(); ++b) plan[b].id = static_cast<std::int32_t>(b + 1);
  return plan;
}

MoveDraw drawMove(const std::vector<PackedBin>& bins, std::mt19937& rng) {
  MoveDraw draw;
  const auto count = static_cast<std::int32_t>(bins.size());
  if (count == 0) return draw;
  if (count > 1 && boundedDraw(rng, 0, 3) == 0) {
    draw.kind = MoveDraw::Kind::EMPTY;
    const std::int32_t rank = boundedDraw(
        rng, 0, static_cast<std::int32_t>(std::min<std::size_t>(EMPTIEST_BINS, bins.size())) - 1);
    draw.first = emptiest(bins, static_cast<std::size_t>(rank));
    return draw;
  }
  if (count > 1 && boundedDraw(rng, 0, 2) == 0) {
    // The packer fills the first bin it loads as far as it can before the second: loaded first,
    // a fuller bin takes what it can of the emptiest one's items.
    draw.kind = MoveDraw::Kind::TOP_UP;
    draw.emptied = emptiest(bins, 0);
    const auto other = static_cast<std::size_t>(boundedDraw(rng, 0, count - 2));
    draw.first = other < draw.emptied ? other : other + 1;
  } else {
    draw.count =
        static_cast<std::size_t>(std::min(count, 1 + boundedDraw(rng, 0, MOST_REPACKED - 1)));
    const auto span = static_cast<std::int32_t>(draw.count);
    if (boundedDraw(rng, 0, 1) == 0) {
      // Around the emptiest bin: its load is the likeliest to find room with its neighbours.
      const auto low = static_cast<std::int32_t>(emptiest(bins, 0));
      draw.first = static_cast<std::size_t>(
          std::clamp(low - boundedDraw(rng, 0, span - 1), 0, count - span));
    } else {
      draw.first = static_cast<std::size_t>(boundedDraw(rng, 0, count - span));
    }
  }
  draw.key = boundedDraw(rng, 0, static_cast<std::int32_t>(startingKeys().size()));
  draw.rule = static_cast<WallRule>(boundedDraw(rng, 0, WALL_RULE_COUNT - 1));
  // A top-up keeps the bins' types: it is there to fill them, not to change them.
  draw.types = draw.kind == MoveDraw::Kind::TOP_UP ? 0 : boundedDraw(rng, 0, 2);
  draw.shuffle = boundedDraw(rng, 0, 1) == 0 ? (rng() | 1U) : 0U;
  return draw;
}

std::optional<LocalMove> emptyMove(const std::vector<PackedBin>& bins, std::size_t victim,
                                   WallPacker& packer, const std::vector<ItemSpec>& items) {
  return movedOut(bins, victim, packer, items, nullptr);
}

std::optional<LocalMove> thinMove(const std::vector<PackedBin>& bins, std::size_t victim,
                                  WallPacker& packer, const std::vector<ItemSpec>& items,
                                  const std::vector<BinType>& binTypes) {
  std::vector<std::int32_t> rest;
  std::optional<LocalMove> move = movedOut(bins, victim, packer, items, &rest);
  if (!move || rest.empty()) return move;
  if (rest.size() == bins[victim].placements.size()) return std::nullopt;  // nothing moved
  // What stays is loaded again, into the cheapest types that hold it: the first of its bins
  // takes the victim's place.
  std::vector<PackedBin> left = packer.pack(rest, std::vector<std::int32_t>{});
  retypeBins(left, packer, items, binTypes);
  std::size_t placed = 0;
  for (const PackedBin& bin : left) placed += bin.placements.size();
  if (placed != rest.size()) return std::nullopt;
  for (PackedBin& bin : left) move->built.push_back(std::move(bin));
  return move;
}

std::size_t movedItems(const std::vector<PackedBin>& bins, const MoveDraw& draw) {
  if (bins.empty()) return 0;
  if (draw.kind == MoveDraw::Kind::EMPTY) return bins[draw.first].placements.size();
  std::size_t moved = 0;
  for (const std::size_t b : repacked(bins, draw)) moved += bins[b].placements.size();
  return moved;
}

std::optional<LocalMove> makeMove(const std::vector<PackedBin>& bins, const MoveDraw& draw,
                                  WallPacker& packer, const std::vector<ItemSpec>& items,
                                  const std::vector<BinType>& binTypes) {
  if (bins.empty()) return std::nullopt;
  if (draw.kind == MoveDraw::Kind::EMPTY) {
    if (bins[draw.first].cost < 0) return std::nullopt;  // a bin that pays for itself stays
    return thinMove(bins, draw.first, packer, items, binTypes);
  }
  if (draw.kind == MoveDraw::Kind::TOP_UP) return topUpMove(bins, draw, packer, items, binTypes);
  return repackMove(bins, draw, packer, items, binTypes);
}

}  // namespace stowra
