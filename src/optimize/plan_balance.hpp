#pragma once

#include <vector>

#include "packing/packed_bin.hpp"
#include "packing/wall_packer.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"
#include "search/elapsed_time.hpp"

namespace stowra {

// Brings each bin within the weight balance `limit` (the most of its cargo weight either half
// of its length may carry; 1 or more asks nothing): first by moving the whole load towards the
// middle, then by loading the same items again in each starting order with each corner rule
// into ever shorter stretches of the bin, from the length the load takes down while they fit,
// and moving that load. A bin no loading balances keeps the loading whose heavier half carries
// least. Loadings are tried only while `stop` says no; the cost and the
// items of each bin never change. The bins' free spaces are dropped.
void balanceBins(std::vector<PackedBin>& bins, WallPacker& packer,
                 const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                 double limit, const StopCheck& stop = {});

}  // namespace stowra
