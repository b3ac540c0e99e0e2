#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "packing/free_space_update.hpp"
#include "packing/packed_bin.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// The working object of one decoding: packs an item sequence into bins, first fit.
class BinPacker {
 public:
  BinPacker(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes);

  void packSequence(std::span<const std::int32_t> order, std::span<const std::int32_t> rotations,
                    std::span<const std::int32_t> binTypeSequence);

  // The type of a new bin once the bin-type genes are used up: one of the first PACK_BIN_TYPES.
  std::int32_t defaultBinType() const;

  // Per bin in opening order: 0 for a 20-foot name (isTwentyFootName), else 1.
  std::vector<std::int32_t> binTypeCodes() const;

  const std::vector<PackedBin>& bins() const { return bins_; }
  std::vector<PackedBin> takeBins() { return std::move(bins_); }

 private:
  // Places the item in a freshly opened bin: its gene rotation first, then the other allowed
  // ones. False when no rotation fits.
  bool placeInEmptyBin(PackedBin& bin, std::int32_t itemIndex, std::int32_t geneRotation);

  const std::vector<ItemSpec>& items_;
  const std::vector<BinType>& binTypes_;
  std::vector<PackedBin> bins_;
  FreeSpaceWorkspace workspace_;
};

}  // namespace stowra
