#pragma once

#include <optional>
#include <vector>

#include "packing/packed_bin.hpp"
#include "packing/wall_packer.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"
#include "search/elapsed_time.hpp"

namespace stowra {

// Steps that make a finished plan cheaper without losing an item. Each keeps a change only when
// it lowers the cost, or keeps the cost and leaves the other containers fuller; each keeps the
// loading order of every container in ascending factory order. The bins must still carry their
// free spaces.

// Replaces each bin by an empty bin of the cheapest cheaper type that holds all its items,
// loaded again in the same order with the packer's rule, or else (with `everyOrder`, which
// costs up to sixteen loadings a type) in a starting order with a corner rule. True when any
// bin changed.
bool retypeBins(std::vector<PackedBin>& bins, WallPacker& packer,
                const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                bool everyOrder = false, const StopCheck& stop = {});

// Moves every item of bin `victim` into the other bins (first fit, after what they hold) and
// removes it; leaves the plan unchanged and returns false unless every item finds a place.
bool emptyBin(std::vector<PackedBin>& bins, std::size_t victim, WallPacker& packer,
              const std::vector<ItemSpec>& items);

// Replaces two bins by one cheaper bin that holds the items of both (loaded again as
// retypeBins does), trying the pairs with the least load first; true when two were merged.
bool mergeBins(std::vector<PackedBin>& bins, WallPacker& packer, const std::vector<ItemSpec>& items,
               const std::vector<BinType>& binTypes, const StopCheck& stop = {});

// Empties the least filled bins into the others for as long as one can be emptied.
void emptyBins(std::vector<PackedBin>& bins, WallPacker& packer, const std::vector<ItemSpec>& items,
               const StopCheck& stop = {});

// Drops empty bins, then empties and merges bins while either saves one, then retypes the
// bins; bins are numbered again from 1. `stop` is asked before every step (one bin emptied,
// one pair tried for merging, one bin retyped): once it says yes the plan is left as the last
// finished step made it, every item still placed.
void improvePlan(std::vector<PackedBin>& bins, WallPacker& packer,
                 const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                 const StopCheck& stop = {});

}  // namespace stowra
