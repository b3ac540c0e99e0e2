#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"
#include "problem/search_defaults.hpp"

namespace stowra {

// One rule a plan breaks in one container.
struct PlanBreach {
  // "unknown_type", "unknown_item", "placed_twice", "turned", "outside", "overlap",
  // "unsupported", "non_stackable", "weight_limit", "balance", "pickup_order", "max_load"
  std::string rule;
  std::int32_t container = 0;       // the container's position in the plan, from 1
  std::vector<std::int32_t> items;  // the items concerned, by index, the breaking one first
  // How badly, in the rule's own terms: the index for an unknown type or item, the times placed,
  // the item's length for a turn it may not take, how far it sticks out, the shared volume, the
  // footprint area left without support, the weight resting on a non-stackable item, the
  // container's cargo weight, the heavier half's share, the number of earlier factories' items
  // it stands behind or below, the weight resting on an item beyond its max_load.
  double figure = 0.0;
  std::string message;
};

// Which of the rules a search may be asked to keep are checked.
struct PlanRules {
  double balanceLimit = DEFAULT_BALANCE_LIMIT;  // 1 checks no balance
  bool pickupOrder = true;
};

// How a message names an item, by index; by default "item #<index>".
using ItemNamer = std::function<std::string(std::size_t)>;

// Every rule a plan breaks, container by container (in plan order): in each, the faults of its
// items one by one (in placement order), then its weight, balance, pickup order and loads. A
// container is read only for its typeIndex (into `binTypes`) and its placements; its statistics are
// not trusted. The rules: every item known and placed once, turned only when it may be, inside
// its container, sharing no volume with another, either on the floor or with its whole base on
// the tops of items whose tops are at its bottom (one or several), nothing on a non-stackable
// item, the container's weight limit kept, and those of `rules`: the share of the cargo weight
// in either half of the length (loadBalance), the pickup order (pickupOrder) and every item's
// max_load (loadLimits). Positions closer than TOUCH count as touching.
std::vector<PlanBreach> checkPlan(const std::vector<ItemSpec>& items,
                                  const std::vector<BinType>& binTypes,
                                  const std::vector<PackedBin>& plan, const PlanRules& rules = {},
                                  const ItemNamer& nameItem = {});

}  // namespace stowra
