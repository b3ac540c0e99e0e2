#include "optimize/plan_improvement.hpp"

#include <algorithm>
#include <numeric>

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

}  // namespace

bool retypeBins(std::vector<PackedBin>& bins, WallPacker& packer,
                const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes) {
  std::vector<std::int32_t> byCost(binTypes.size());
  std::iota(byCost.begin(), byCost.end(), 0);
  std::stable_sort(byCost.begin(), byCost.end(), [&](std::int32_t a, std::int32_t b) {
    return binTypes[a].cost < binTypes[b].cost;
  });

  bool changed = false;
  for (PackedBin& bin : bins) {
    double volume = 0.0;
    for (const Placement& placement : bin.placements) {
      volume += items[static_cast<std::size_t>(placement.itemIndex)].volume;
    }
    std::vector<std::int32_t> order;
    for (const std::int32_t type : byCost) {
      const BinType& candidate = binTypes[static_cast<std::size_t>(type)];
      if (!(candidate.cost < bin.cost)) break;
      // Cheap refusals before packing: too small or too weak for the load as a whole.
      if (candidate.l * candidate.w * candidate.h < volume) continue;
      if (candidate.weight_limit > 0 && candidate.weight_limit < bin.currentWeight) continue;
      if (order.empty()) order = loadingOrder(bin);
      if (auto repacked = packer.packAllInto(order, type, bin.id)) {
        bin = std::move(*repacked);
        changed = true;
        break;
      }
    }
  }
  return changed;
}

bool emptyBin(std::vector<PackedBin>& bins, std::size_t victim, WallPacker& packer,
              const std::vector<ItemSpec>& items) {
  std::vector<PackedBin> others;
  others.reserve(bins.size() - 1);
  for (std::size_t b = 0; b < bins.size(); ++b) {
    if (b != victim) others.push_back(bins[b]);
  }
  std::vector<PackedBin*> targets;
  for (const Placement& placement : bins[victim].placements) {
    const std::int32_t factory = items[static_cast<std::size_t>(placement.itemIndex)].factory;
    // A bin already loading a later factory cannot take this one behind it.
    targets.clear();
    for (PackedBin& bin : others) {
      const bool open =
          bin.placements.empty() ||
          items[static_cast<std::size_t>(bin.placements.back().itemIndex)].factory <= factory;
      if (open) targets.push_back(&bin);
    }
    if (!packer.placeInAny(targets, placement.itemIndex)) return false;
  }
  bins = std::move(others);
  renumber(bins);
  return true;
}

void improvePlan(std::vector<PackedBin>& bins, WallPacker& packer,
                 const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes) {
  std::erase_if(bins, [](const PackedBin& bin) { return bin.placements.empty(); });
  renumber(bins);
  for (bool emptied = true; emptied && bins.size() > 1;) {
    std::vector<std::size_t> byFill(bins.size());
    std::iota(byFill.begin(), byFill.end(), std::size_t{0});
    std::stable_sort(byFill.begin(), byFill.end(), [&](std::size_t a, std::size_t b) {
      return bins[a].spaceUtilization < bins[b].spaceUtilization;
    });
    emptied = false;
    for (const std::size_t victim : byFill) {
      if (bins[victim].cost < 0) continue;  // a bin that pays for itself stays
      if (emptyBin(bins, victim, packer, items)) {
        emptied = true;
        break;
      }
    }
  }
  retypeBins(bins, packer, items, binTypes);
  renumber(bins);
}

}  // namespace stowra
