#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "packing/packed_bin.hpp"
#include "packing/pickup_order.hpp"
#include "problem/item.hpp"

namespace stowra {

// Coordinates are sums of sizes: a top and a bottom this close touch.
inline constexpr double TOUCH = 1e-6;

// The weight resting on each placement of the bin, in placement order: each box's weight, with
// what rests on it, is shared among the boxes whose top touches its bottom in proportion to
// the contact area.
std::vector<double> restingLoads(const PackedBin& bin, const std::vector<ItemSpec>& items);

// The placements (by position in the bin) that carry more than their item's max_load, each with
// the weight resting on it, in placement order.
std::vector<std::pair<std::size_t, double>> overloadedPlacements(
    const PackedBin& bin, const std::vector<ItemSpec>& items);

// Whether no box of the bin carries more than its max_load.
bool keepsLoadLimits(const PackedBin& bin, const std::vector<ItemSpec>& items);

// Whether any item has a max_load: without one no place needs the check.
bool anyLoadLimit(const std::vector<ItemSpec>& items);

// The boxes of one bin with what rests on each and what each stands on, for testing places of
// one new box against them. Kept from one placement to the next, it follows the bin's new boxes
// without gathering the old ones again.
class LoadGuard {
 public:
  LoadGuard() = default;
  LoadGuard(const PackedBin& bin, const std::vector<ItemSpec>& items);

  // Brings the guard to the bin's placements: the loads are exactly those gathered anew.
  void update(const PackedBin& bin, const std::vector<ItemSpec>& items);

  // Whether a box of this weight at `box` keeps every box below within its max_load.
  bool allows(const Box& box, double weight) const;

  // What rests on each box of the bin, in placement order.
  const std::vector<double>& loads() const { return loads_; }

 private:
  using Shares = std::vector<std::pair<std::size_t, double>>;  // box, share of the weight
  Shares supportOf(const Box& box) const;
  void rebuild(const PackedBin& bin, const std::vector<ItemSpec>& items);
  bool add(const Placement& placement, const ItemSpec& item);

  std::vector<Placement> placed_;
  std::vector<Box> boxes_;
  std::vector<double> weights_;
  std::vector<double> limits_;
  std::vector<double> loads_;
  std::vector<Shares> under_;
  std::vector<Shares> over_;          // the boxes resting on each, highest bottom first
  std::vector<std::size_t> topDown_;  // box indices, highest bottom first
  bool flat_ = false;                 // some box no higher than a touch: always gathered anew
};

}  // namespace stowra
