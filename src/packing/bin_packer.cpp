#include "packing/bin_packer.hpp"

#include <algorithm>

namespace stowra {

BinPacker::BinPacker(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes)
    : items_(items), binTypes_(binTypes) {}

void BinPacker::packSequence(std::span<const std::int32_t> order,
                             std::span<const std::int32_t> rotations,
                             std::span<const std::int32_t> binTypeSequence) {
  bins_.clear();
  const std::int32_t defaultType = defaultBinType();
  std::size_t nextGene = 0;
  std::int64_t firstType = defaultType;
  if (!binTypeSequence.empty()) {
    firstType = binTypeSequence[0];
    nextGene = 1;
  }
  bins_.push_back(openBin(binTypes_, firstType, 0));

  for (const std::int32_t itemIndex : order) {
    const ItemSpec& item = items_[static_cast<std::size_t>(itemIndex)];
    const std::int32_t rotation = rotations[static_cast<std::size_t>(itemIndex)];

    // The current bin first, then the earlier ones in opening order, all in the gene rotation.
    bool placed = false;
    const std::size_t current = bins_.size() - 1;
    for (std::size_t attempt = 0; attempt < bins_.size() && !placed; ++attempt) {
      PackedBin& bin = bins_[attempt == 0 ? current : attempt - 1];
      if (const auto space = tryFit(bin, item, rotation)) {
        placeItem(bin, itemIndex, item, *space, rotation, workspace_);
        placed = true;
      }
    }
    if (placed) continue;

    std::int64_t typeIndex = defaultType;
    if (nextGene < binTypeSequence.size()) typeIndex = binTypeSequence[nextGene++];
    bins_.push_back(openBin(binTypes_, typeIndex, bins_.size()));
    if (placeInEmptyBin(bins_.back(), itemIndex, rotation)) continue;

    // A bin-type gene must not cost the item its place: an empty bin of the other main type
    // that holds it takes the new bin's place (same number).
    const std::size_t openedType = clampBinTypeIndex(binTypes_.size(), typeIndex);
    const std::size_t candidates = std::min(PACK_BIN_TYPES, binTypes_.size());
    for (std::size_t type = 0; type < candidates; ++type) {
      if (type == openedType) continue;
      PackedBin replacement = openBin(binTypes_, static_cast<std::int64_t>(type), bins_.size() - 1);
      if (placeInEmptyBin(replacement, itemIndex, rotation)) {
        bins_.back() = std::move(replacement);
        break;
      }
    }
    // Otherwise the item is left out; its empty bin stays and remains the current bin.
  }
}

bool BinPacker::placeInEmptyBin(PackedBin& bin, std::int32_t itemIndex, std::int32_t geneRotation) {
  const ItemSpec& item = items_[static_cast<std::size_t>(itemIndex)];
  const auto placeTurned = [&](std::int32_t rotation) {
    const auto space = tryFit(bin, item, rotation);
    if (space) placeItem(bin, itemIndex, item, *space, rotation, workspace_);
    return space.has_value();
  };
  if (placeTurned(geneRotation)) return true;
  for (const std::int32_t rotation : item.allowedRotations) {
    if (rotation != geneRotation && placeTurned(rotation)) return true;
  }
  return false;
}

std::int32_t BinPacker::defaultBinType() const {
  static_assert(PACK_BIN_TYPES == 2, "the default choice weighs type 0 against type 1");
  if (binTypes_.size() < PACK_BIN_TYPES) return 0;
  double totalVolume = 0.0;
  double totalWeight = 0.0;
  for (const ItemSpec& item : items_) {
    totalVolume += item.volume;
    totalWeight += item.weight;
  }
  const BinType& first = binTypes_[0];
  const BinType& second = binTypes_[1];
  // One item too heavy for the first type on its own.
  if (!items_.empty() && first.weight_limit > 0 && items_[0].weight > first.weight_limit) {
    return 1;
  }
  const double ratio = totalVolume / (second.w * second.l * second.h);
  if (ratio > 0.7) return 1;
  if (ratio < 0.4) return 0;
  const double density = totalVolume > 0 ? totalWeight / totalVolume * 1000000.0 : 0.0;
  if (first.weight_limit > 0 && first.weight_limit <= totalWeight) return 1;
  return density <= 500 ? 1 : 0;
}

std::vector<std::int32_t> BinPacker::binTypeCodes() const {
  std::vector<std::int32_t> codes;
  codes.reserve(bins_.size());
  // A 20-foot bin gets type 0's gene, any other type 1's, whatever its own type index.
  static_assert(PACK_BIN_TYPES == 2, "the seed's genes are 0 or 1");
  for (const PackedBin& bin : bins_) codes.push_back(isTwentyFootName(bin.binType) ? 0 : 1);
  return codes;
}

}  // namespace stowra
