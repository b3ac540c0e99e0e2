#pragma once

#include <string>
#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// Why the search left the item out, in a planner's words: no type holds it upright, it is
// heavier than every weight limit, the types that hold it cannot carry it, or (every other
// case) the room the plan could afford ran out, before the clock did or not (`timedOut`).
std::string leftOutReason(const ItemSpec& item, const std::vector<BinType>& binTypes,
                          bool timedOut);

}  // namespace stowra
