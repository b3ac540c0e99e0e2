#include "packing/left_out.hpp"

#include <algorithm>

#include "problem/fit_check.hpp"

namespace stowra {

std::string leftOutReason(const ItemSpec& item, const std::vector<BinType>& binTypes,
                          TimeLimit timeLimit, std::size_t searchedTypes) {
  const auto holds = [&](const BinType& type) {
    return std::any_of(item.allowedRotations.begin(), item.allowedRotations.end(),
                       [&](int rotation) { return fitsBinType(item, rotation, type); });
  };
  const auto carries = [&](const BinType& type) {
    return type.weight_limit <= 0 || item.weight <= type.weight_limit;
  };
  if (std::none_of(binTypes.begin(), binTypes.end(), holds)) {
    return "no available container holds it upright";
  }
  if (std::none_of(binTypes.begin(), binTypes.end(), carries)) {
    return "heavier than every available container's weight limit";
  }
  const auto fits = [&](const BinType& type) { return holds(type) && carries(type); };
  if (std::none_of(binTypes.begin(), binTypes.end(), fits)) {
    return "the containers that hold it cannot carry its weight";
  }
  const auto searched =
      binTypes.begin() + static_cast<std::ptrdiff_t>(std::min(searchedTypes, binTypes.size()));
  if (std::none_of(binTypes.begin(), searched, fits)) {
    return "only a container type the exact search does not open holds it";
  }
  const std::string room =
      "no room left within the weight limits of the containers the plan could afford";
  switch (timeLimit) {
    case TimeLimit::RAN_OUT:
      return "the time limit ran out before a place was found for it";
    case TimeLimit::UNKNOWN:
      return room + ", or the time limit";
    case TimeLimit::KEPT:
      break;
  }
  return room;
}

}  // namespace stowra
