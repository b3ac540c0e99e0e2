#include "problem/fit_check.hpp"

#include <stdexcept>
#include <string>

#include "problem/number_format.hpp"

namespace stowra {

namespace {

bool fitsAny(const ItemSpec& item, const std::vector<BinType>& binTypes, std::size_t first,
             std::size_t last) {
  for (std::size_t t = first; t < last && t < binTypes.size(); ++t) {
    for (const std::int32_t rotation : item.allowedRotations) {
      if (fitsBinType(item, rotation, binTypes[t])) return true;
    }
  }
  return false;
}

std::string describe(const ItemSpec& item) {
  return "Item #" + std::to_string(item.id) + " (" + formatNumber(item.l) + "x" +
         formatNumber(item.w) + "x" + formatNumber(item.h) + ")";
}

}  // namespace

bool fitsBinType(const ItemSpec& item, int rotation, const BinType& type) {
  const double along = rotation == 0 ? item.l : item.w;
  const double across = rotation == 0 ? item.w : item.l;
  return type.l >= along && type.w >= across && type.h >= item.h;
}

void checkItemsFit(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                   std::size_t searchedTypes) {
  for (const ItemSpec& item : items) {
    if (fitsAny(item, binTypes, 0, searchedTypes)) continue;
    if (fitsAny(item, binTypes, searchedTypes, binTypes.size())) {
      // Only a later type would hold it, and no plan would ever open one.
      const std::string count =
          searchedTypes == PACK_BIN_TYPES ? PACK_BIN_TYPES_WORD : std::to_string(searchedTypes);
      std::string names;
      for (std::size_t t = 0; t < searchedTypes; ++t) {
        names += (t == 0 ? "'" : ", '") + binTypes[t].id + "'";
      }
      throw std::invalid_argument(describe(item) + " fits only bin types after the first " + count +
                                  " available (" + names + "); the search opens only those " +
                                  count);
    }
    throw std::invalid_argument(describe(item) + " does not fit in any available bin type");
  }
}

}  // namespace stowra
