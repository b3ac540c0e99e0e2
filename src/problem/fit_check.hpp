#pragma once

#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// True when the item's box, turned by `rotation`, fits the empty type (equality fits).
bool fitsBinType(const ItemSpec& item, int rotation, const BinType& type);

// Fails for the first item that none of the first `searchedTypes` bin types can hold in any
// allowed rotation (pack searches the first PACK_BIN_TYPES).
void checkItemsFit(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                   std::size_t searchedTypes = PACK_BIN_TYPES);

}  // namespace stowra
