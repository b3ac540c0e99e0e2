#include "packing/plan_check.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "packing/load_balance.hpp"
#include "packing/load_limits.hpp"
#include "packing/pickup_order.hpp"
#include "problem/number_format.hpp"

namespace stowra {

namespace {

// Rounding slack of a share or a summed weight, as the result's own marks allow it.
constexpr double SLACK = 1e-9;

double overlapLength(double a0, double a1, double b0, double b1) {
  return std::max(0.0, std::min(a1, b1) - std::max(a0, b0));
}

// The area two boxes share seen from above.
double footprintOverlap(const Box& a, const Box& b) {
  const double along = overlapLength(a.x0, a.x1, b.x0, b.x1);
  const double across = overlapLength(a.y0, a.y1, b.y0, b.y1);
  return along > TOUCH && across > TOUCH ? along * across : 0.0;
}

double sharedVolume(const Box& a, const Box& b) {
  const double height = overlapLength(a.z0, a.z1, b.z0, b.z1);
  return height > TOUCH ? footprintOverlap(a, b) * height : 0.0;
}

// How far the box reaches beyond the walls, floor or roof of a container of this type.
double reachOutside(const Box& box, const BinType& type) {
  return std::max(
      {0.0, -box.x0, -box.y0, -box.z0, box.x1 - type.l, box.y1 - type.w, box.z1 - type.h});
}

// The footprint area of `box` carried by the boxes whose tops touch its bottom: all of it when
// one of them holds it whole, else the sum of their contact areas. Boxes do not overlap, so
// neither do their tops, and the sum is the area covered (an overlap is reported on its own).
double supportedArea(const Box& box, const std::vector<Box>& boxes) {
  const double area = (box.x1 - box.x0) * (box.y1 - box.y0);
  double carried = 0.0;
  for (const Box& other : boxes) {
    if (std::abs(other.z1 - box.z0) > TOUCH) continue;
    const bool holdsAll = other.x0 <= box.x0 + TOUCH && box.x1 <= other.x1 + TOUCH &&
                          other.y0 <= box.y0 + TOUCH && box.y1 <= other.y1 + TOUCH;
    if (holdsAll) return area;
    carried += footprintOverlap(box, other);
  }
  return std::min(area, carried);
}

std::string percent(double share) {
  return formatNumber(std::round(share * 1000) / 10) + "%";
}

class Checker {
 public:
  Checker(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
          const PlanRules& rules, const ItemNamer& nameItem)
      : items_(items),
        binTypes_(binTypes),
        rules_(rules),
        nameItem_(nameItem),
        firstContainer_(items.size(), 0),
        timesPlaced_(items.size(), 0) {}

  void check(const PackedBin& given, std::int32_t number) {
    number_ = number;
    if (given.typeIndex < 0 || static_cast<std::size_t>(given.typeIndex) >= binTypes_.size()) {
      add("unknown_type", {}, given.typeIndex,
          "its type is not one of the available container types");
      return;
    }
    const BinType& type = binTypes_[static_cast<std::size_t>(given.typeIndex)];
    // What the rules below read: the type's size and limit, the known items once each.
    PackedBin bin = openBin(binTypes_, given.typeIndex, static_cast<std::size_t>(number - 1));
    for (const Placement& placement : given.placements) {
      if (known(placement)) bin.placements.push_back(placement);
    }
    std::vector<Box> boxes;
    for (const Placement& placement : bin.placements) {
      boxes.push_back(boxOf(placement, itemOf(placement)));
    }
    for (std::size_t a = 0; a < boxes.size(); ++a) checkBox(bin, type, boxes, a);
    checkWeight(bin, type);
    if (rules_.balanceLimit < 1.0) checkBalance(bin);
    if (rules_.pickupOrder) checkPickupOrder(bin);
    checkLoads(bin);
  }

  std::vector<PlanBreach> take() { return std::move(breaches_); }

 private:
  const ItemSpec& itemOf(const Placement& placement) const {
    return items_[static_cast<std::size_t>(placement.itemIndex)];
  }

  std::string name(std::int32_t index) const {
    const auto at = static_cast<std::size_t>(index);
    return nameItem_ ? nameItem_(at) : "item #" + std::to_string(index);
  }

  void add(std::string rule, std::vector<std::int32_t> items, double figure,
           const std::string& text) {
    breaches_.push_back({std::move(rule), number_, std::move(items), figure,
                         "container " + std::to_string(number_) + ": " + text});
  }

  // Whether the placement names an item of the table not placed before; reports it otherwise.
  bool known(const Placement& placement) {
    const std::int32_t index = placement.itemIndex;
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) {
      add("unknown_item", {index}, index,
          "item index " + std::to_string(index) + " is not a row of the item table");
      return false;
    }
    const auto at = static_cast<std::size_t>(index);
    std::int32_t& first = firstContainer_[at];
    ++timesPlaced_[at];
    if (first != 0) {
      add("placed_twice", {index}, timesPlaced_[at],
          name(index) + " is placed again (first in container " + std::to_string(first) + ")");
      return false;
    }
    first = number_;
    return true;
  }

  void checkBox(const PackedBin& bin, const BinType& type, const std::vector<Box>& boxes,
                std::size_t a) {
    const Placement& placement = bin.placements[a];
    const ItemSpec& item = itemOf(placement);
    const std::int32_t index = placement.itemIndex;
    const Box& box = boxes[a];
    const auto& turns = item.allowedRotations;
    if (placement.rotation != 0 && std::find(turns.begin(), turns.end(), 1) == turns.end()) {
      add("turned", {index}, item.l,
          name(index) + " is turned, but an item " + formatNumber(item.l) +
              " long is never turned");
    }
    const double outside = reachOutside(box, type);
    if (!std::isfinite(box.x0 + box.y0 + box.z0)) {
      add("outside", {index}, std::numeric_limits<double>::infinity(),
          name(index) + " is given no place in the container");
    } else if (outside > TOUCH) {
      add("outside", {index}, outside,
          name(index) + " reaches " + formatNumber(outside) + " beyond the container");
    }
    for (std::size_t b = a + 1; b < boxes.size(); ++b) {
      const double shared = sharedVolume(box, boxes[b]);
      if (shared > 0) {
        const std::int32_t other = bin.placements[b].itemIndex;
        add("overlap", {index, other}, shared,
            name(index) + " and " + name(other) + " share a volume of " + formatNumber(shared));
      }
    }
    if (box.z0 > TOUCH) {
      const double footprint = (box.x1 - box.x0) * (box.y1 - box.y0);
      const double loose = footprint - supportedArea(box, boxes);
      if (loose > TOUCH * std::max(1.0, footprint)) {
        add("unsupported", {index}, loose,
            loose >= footprint
                ? name(index) + " stands on nothing at height " + formatNumber(box.z0)
                : name(index) + " overhangs the item under it: " + formatNumber(loose) +
                      " of its footprint of " + formatNumber(footprint) + " is not carried");
      }
    }
    if (!item.stackable) {
      for (std::size_t b = 0; b < boxes.size(); ++b) {
        const Box& upper = boxes[b];
        if (std::abs(upper.z0 - box.z1) > TOUCH || footprintOverlap(upper, box) <= 0) continue;
        const std::int32_t other = bin.placements[b].itemIndex;
        add("non_stackable", {other, index}, items_[static_cast<std::size_t>(other)].weight,
            name(other) + " stands on " + name(index) + ", which may carry nothing");
      }
    }
  }

  void checkWeight(const PackedBin& bin, const BinType& type) {
    double weight = 0.0;
    for (const Placement& placement : bin.placements) weight += itemOf(placement).weight;
    if (type.weight_limit > 0 && weight > type.weight_limit + SLACK * type.weight_limit) {
      add("weight_limit", {}, weight,
          "its cargo weighs " + formatNumber(weight) + ", over its weight limit of " +
              formatNumber(type.weight_limit));
    }
  }

  void checkBalance(const PackedBin& bin) {
    const double share = heavierHalfShare(bin, items_);
    if (share > rules_.balanceLimit + SLACK) {
      add("balance", {}, share,
          percent(share) + " of the cargo weight lies in one half of its length (at most " +
              percent(rules_.balanceLimit) + " is allowed)");
    }
  }

  void checkPickupOrder(const PackedBin& bin) {
    const auto breaks = pickupOrderBreaks(bin, items_);
    for (std::size_t later = 0; later < breaks.size(); ++later) {
      if (breaks[later].empty()) continue;
      const Placement& placement = bin.placements[later];
      std::vector<std::int32_t> involved{placement.itemIndex};
      for (const std::size_t earlier : breaks[later]) {
        involved.push_back(bin.placements[earlier].itemIndex);
      }
      const std::int32_t first = involved[1];
      const auto count = static_cast<double>(breaks[later].size());
      add("pickup_order", std::move(involved), count,
          name(placement.itemIndex) + " of factory " + std::to_string(itemOf(placement).factory) +
              " stands behind or below " + formatNumber(count) + (count == 1 ? " item" : " items") +
              " of earlier factories, such as " + name(first) + " of factory " +
              std::to_string(items_[static_cast<std::size_t>(first)].factory));
    }
  }

  void checkLoads(const PackedBin& bin) {
    if (!anyLoadLimit(items_)) return;
    for (const auto& [position, load] : overloadedPlacements(bin, items_)) {
      const Placement& placement = bin.placements[position];
      add("max_load", {placement.itemIndex}, load,
          name(placement.itemIndex) + " carries " + formatNumber(load) + ", over its max_load of " +
              formatNumber(itemOf(placement).maxLoad));
    }
  }

  const std::vector<ItemSpec>& items_;
  const std::vector<BinType>& binTypes_;
  const PlanRules& rules_;
  const ItemNamer& nameItem_;
  std::vector<std::int32_t> firstContainer_;  // 0: not placed yet
  std::vector<PlanBreach> breaches_;
  std::vector<std::int32_t> timesPlaced_;
  std::int32_t number_ = 0;
};

}  // namespace

std::vector<PlanBreach> checkPlan(const std::vector<ItemSpec>& items,
                                  const std::vector<BinType>& binTypes,
                                  const std::vector<PackedBin>& plan, const PlanRules& rules,
                                  const ItemNamer& nameItem) {
  Checker checker(items, binTypes, rules, nameItem);
  std::int32_t number = 0;
  for (const PackedBin& bin : plan) checker.check(bin, ++number);
  return checker.take();
}

}  // namespace stowra
