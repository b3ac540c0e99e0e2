#pragma once

#include <cstdint>
#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// Bin-type indices, cheapest first per unit of load they can carry: a type's capacity is its
// volume, or less when its weight limit fills first at the load's density. Equal prices put
// the larger type first, then the earlier one.
std::vector<std::int32_t> typePreference(const std::vector<ItemSpec>& items,
                                         const std::vector<BinType>& binTypes);

// The cheapest multiset of bins whose volumes add up to at least the load's volume and whose
// weight limits to at least its weight (no limit carries any weight), largest type first.
// The search is capped; it returns the best found by then, empty when nothing is needed.
std::vector<std::int32_t> cheapestCover(const std::vector<ItemSpec>& items,
                                        const std::vector<BinType>& binTypes,
                                        const std::vector<std::int32_t>& preference);

}  // namespace stowra
