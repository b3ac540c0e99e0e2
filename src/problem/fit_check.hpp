#pragma once

#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// The search opens only the first two available types.
inline constexpr std::size_t SEARCHED_BIN_TYPES = 2;

// True when the item's box, turned by `rotation`, fits the empty type (equality fits).
bool fitsBinType(const ItemSpec& item, int rotation, const BinType& type);

// Fails for the first item that none of the first `searchedTypes` bin types can hold in any
// allowed rotation.
void checkItemsFit(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                   std::size_t searchedTypes = SEARCHED_BIN_TYPES);

}  // namespace stowra
