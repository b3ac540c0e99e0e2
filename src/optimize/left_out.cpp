#include "optimize/left_out.hpp"

#include <algorithm>

#include "problem/fit_check.hpp"

namespace stowra {

std::string leftOutReason(const ItemSpec& item, const std::vector<BinType>& binTypes,
                          bool timedOut) {
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
  if (std::none_of(binTypes.begin(), binTypes.end(),
                   [&](const BinType& type) { return holds(type) && carries(type); })) {
    return "the containers that hold it cannot carry its weight";
  }
  return timedOut ? "the time limit ran out before a place was found for it"
                  : "no room left within the weight limits of the containers the plan could "
                    "afford";
}

}  // namespace stowra
