#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// Whether the search that made a plan ran out of time; a plan alone does not say.
enum class TimeLimit : std::int8_t { KEPT, RAN_OUT, UNKNOWN };

// Why a search left the item out, in a planner's words: no type holds it upright, it is heavier
// than every weight limit, the types that hold it cannot carry it, only types past the first
// `searchedTypes` (those the search opens) hold it, or (every other case) the room the plan
// could afford ran out, before the clock did or not.
std::string leftOutReason(const ItemSpec& item, const std::vector<BinType>& binTypes,
                          TimeLimit timeLimit, std::size_t searchedTypes = SIZE_MAX);

}  // namespace stowra
