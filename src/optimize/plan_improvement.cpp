#include "optimize/plan_improvement.hpp"

#include <algorithm>
#include <numeric>

#include "optimize/column_order.hpp"
#include "optimize/item_orders.hpp"
#include "optimize/local_moves.hpp"

namespace stowra {

namespace {

std::vector<std::int32_t> loadingOrder(const PackedBin& bin) {
  std::vector<std::int32_t> order;
  order.reserve(bin.placements.size());
  for (const Placement& placement : bin.placements) order.push_back(placement.itemIndex);
  return order;
}

void renumber(std::vector<PackedBin>& bins) {
  for (std::size_t b = 0; b < bins.size(); ++b) bins[b].id = static_cast<std::int32_t>(b + 1);
}

double loadVolume(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  double volume = 0.0;
  for (const Placement& placement : bin.placements) {
    volume += items[static_cast<std::size_t>(placement.itemIndex)].volume;
  }
  return volume;
}

// Whether an empty bin of the type could hold this much, judged by volume and weight alone.
bool mightHold(const BinType& type, double volume, double weight) {
  return type.l * type.w * type.h >= volume &&
         !(type.weight_limit > 0 && type.weight_limit < weight);
}

// Loads the items into an empty bin of the type: in the given order (grouped by factory) with
// the packer's rule first, then in every starting order and in columns as tall as the bin, with
// every corner rule; the first loading that takes them all, or nullopt.
std::optional<PackedBin> repackAll(const std::vector<std::int32_t>& given, std::int32_t type,
                                   std::int32_t binId, WallPacker& packer,
                                   const std::vector<ItemSpec>& items,
                                   const std::vector<BinType>& binTypes) {
  const WallRule own = packer.rule;
  // The last starting key keeps the given order: that order is tried first, with the own rule.
  std::vector<std::vector<std::int32_t>> orders;
  for (const ItemOrder& key : startingKeys()) orders.push_back(groupedOrder(items, given, key));
  const std::size_t givenOrder = orders.size() - 1;
  std::optional<PackedBin> repacked = packer.packAllInto(orders[givenOrder], type, binId);
  if (repacked) return repacked;
  orders.push_back(columnOrder(items, given, binTypes[static_cast<std::size_t>(type)].h));
  for (std::int32_t rule = 0; !repacked && rule < WALL_RULE_COUNT; ++rule) {
    packer.rule = static_cast<WallRule>(rule);
    for (std::size_t k = 0; !repacked && k < orders.size(); ++k) {
      if (k == givenOrder && packer.rule == own) continue;  // failed above
      repacked = packer.packAllInto(orders[k], type, binId);
    }
  }
  packer.rule = own;
  return repacked;
}

// The emptiest bins tried for emptying, and the lightest loads paired for merging, per pass.
constexpr std::size_t EMPTY_VICTIMS = 8;
constexpr std::size_t MERGED_BINS = 12;

bool stopped(const StopCheck& stop) {
  return stop && stop();
}

std::vector<std::int32_t> typesByCost(const std::vector<BinType>& binTypes) {
  std::vector<std::int32_t> byCost(binTypes.size());
  std::iota(byCost.begin(), byCost.end(), 0);
  std::stable_sort(byCost.begin(), byCost.end(), [&](std::int32_t a, std::int32_t b) {
    return binTypes[a].cost < binTypes[b].cost;
  });
  return byCost;
}

}  // namespace

bool retypeBins(std::vector<PackedBin>& bins, WallPacker& packer,
                const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                bool everyOrder, const StopCheck& stop) {
  const std::vector<std::int32_t> byCost = typesByCost(binTypes);
  bool changed = false;
  for (PackedBin& bin : bins) {
    if (stopped(stop)) break;
    const double volume = loadVolume(bin, items);
    std::vector<std::int32_t> order;  // taken only when some cheaper type might hold the load
    for (const std::int32_t type : byCost) {
      const BinType& candidate = binTypes[static_cast<std::size_t>(type)];
      if (!(candidate.cost < bin.cost)) break;
      if (!mightHold(candidate, volume, bin.currentWeight)) continue;
      if (order.empty()) order = loadingOrder(bin);
      auto repacked = everyOrder ? repackAll(order, type, bin.id, packer, items, binTypes)
                                 : packer.packAllInto(order, type, bin.id);
      if (repacked) {
        bin = std::move(*repacked);
        changed = true;
        break;
      }
    }
  }
  return changed;
}

bool mergeBins(std::vector<PackedBin>& bins, WallPacker& packer, const std::vector<ItemSpec>& items,
               const std::vector<BinType>& binTypes, const StopCheck& stop) {
  std::vector<double> volumes;
  for (const PackedBin& bin : bins) volumes.push_back(loadVolume(bin, items));
  // Pairs among the lightest loads only: they are the likeliest to share one bin, and a long
  // plan has too many pairs to try each with a full loading.
  std::vector<std::size_t> lightest(bins.size());
  std::iota(lightest.begin(), lightest.end(), std::size_t{0});
  std::stable_sort(lightest.begin(), lightest.end(),
                   [&](std::size_t a, std::size_t b) { return volumes[a] < volumes[b]; });
  if (lightest.size() > MERGED_BINS) lightest.resize(MERGED_BINS);
  std::sort(lightest.begin(), lightest.end());
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  for (std::size_t i = 0; i < lightest.size(); ++i) {
    for (std::size_t j = i + 1; j < lightest.size(); ++j) {
      const std::size_t a = lightest[i];
      const std::size_t b = lightest[j];
      if (bins[a].cost >= 0 && bins[b].cost >= 0) pairs.emplace_back(a, b);
    }
  }
  // The lightest loads first: they are the likeliest to share one bin.
  std::stable_sort(pairs.begin(), pairs.end(), [&](const auto& p, const auto& q) {
    return volumes[p.first] + volumes[p.second] < volumes[q.first] + volumes[q.second];
  });
  const std::vector<std::int32_t> byCost = typesByCost(binTypes);
  for (const auto& [a, b] : pairs) {
    if (stopped(stop)) break;
    const double volume = volumes[a] + volumes[b];
    const double weight = bins[a].currentWeight + bins[b].currentWeight;
    std::vector<std::int32_t> both = loadingOrder(bins[a]);
    const std::vector<std::int32_t> second = loadingOrder(bins[b]);
    both.insert(both.end(), second.begin(), second.end());
    for (const std::int32_t type : byCost) {
      const BinType& candidate = binTypes[static_cast<std::size_t>(type)];
      if (!(candidate.cost < bins[a].cost + bins[b].cost)) break;
      if (!mightHold(candidate, volume, weight)) continue;
      if (auto merged = repackAll(both, type, bins[a].id, packer, items, binTypes)) {
        bins[a] = std::move(*merged);
        bins.erase(bins.begin() + static_cast<std::ptrdiff_t>(b));
        renumber(bins);
        return true;
      }
    }
  }
  return false;
}

bool emptyBin(std::vector<PackedBin>& bins, std::size_t victim, WallPacker& packer,
              const std::vector<ItemSpec>& items) {
  const std::optional<LocalMove> move = emptyMove(bins, victim, packer, items);
  if (!move) return false;
  bins = applyMove(bins, *move);
  return true;
}

void improvePlan(std::vector<PackedBin>& bins, WallPacker& packer,
                 const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                 const StopCheck& stop) {
  std::erase_if(bins, [](const PackedBin& bin) { return bin.placements.empty(); });
  renumber(bins);
  do {
    emptyBins(bins, packer, items, stop);
  } while (mergeBins(bins, packer, items, binTypes, stop));
  retypeBins(bins, packer, items, binTypes, true, stop);
  renumber(bins);
}

void emptyBins(std::vector<PackedBin>& bins, WallPacker& packer, const std::vector<ItemSpec>& items,
               const StopCheck& stop) {
  for (bool emptied = true; emptied && bins.size() > 1;) {
    std::vector<std::size_t> byFill(bins.size());
    std::iota(byFill.begin(), byFill.end(), std::size_t{0});
    std::stable_sort(byFill.begin(), byFill.end(), [&](std::size_t a, std::size_t b) {
      return bins[a].spaceUtilization < bins[b].spaceUtilization;
    });
    emptied = false;
    // A bin fuller than these has, in practice, no room left elsewhere: trying every bin of a
    // long plan would cost a pass over all bins for each.
    if (byFill.size() > EMPTY_VICTIMS) byFill.resize(EMPTY_VICTIMS);
    for (const std::size_t victim : byFill) {
      if (stopped(stop)) return;
      if (bins[victim].cost < 0) continue;  // a bin that pays for itself stays
      if (emptyBin(bins, victim, packer, items)) {
        emptied = true;
        break;
      }
    }
  }
}

}  // namespace stowra
