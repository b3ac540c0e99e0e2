#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <vector>

#include "candidate/individual.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// The plan as the caller receives it: summary figures, then one row per bin with one entry
// per placed item, keys in a fixed order.
pybind11::dict buildResult(const Individual& best, double elapsedSeconds);

// What optimize's result adds to that (pack's keeps exactly the keys above): each bin row's
// `binTypeIndex`, its type's position in binTable (`binRows` of its index among the available
// types), `balance`, the heavier half's share of its cargo weight along its length (None when it
// carries no weight), and `balanceKept`, whether that is within `balanceLimit`; and the
// result's `leftOut`, one {itemIndex, reason} per item no bin holds, in item order.
void addOptimizeMarks(pybind11::dict& result, const Individual& best,
                      const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                      const std::vector<std::size_t>& binRows, double balanceLimit, bool timedOut);

}  // namespace stowra
