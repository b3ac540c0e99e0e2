#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "packing/packed_bin.hpp"
#include "packing/pickup_order.hpp"
#include "problem/item.hpp"

namespace stowra {

// The weight resting on each placement of the bin, in placement order: each box's weight, with
// what rests on it, is shared among the boxes whose top touches its bottom in proportion to
// the contact area.
std::vector<double> restingLoads(const PackedBin& bin, const std::vector<ItemSpec>& items);

// Whether no box of the bin carries more than its max_load.
bool keepsLoadLimits(const PackedBin& bin, const std::vector<ItemSpec>& items);

// Whether any item has a max_load: without one no place needs the check.
bool anyLoadLimit(const std::vector<ItemSpec>& items);

// The boxes of one bin with what rests on each and what each stands on, gathered once for
// testing places of one new box against them.
class LoadGuard {
 public:
  LoadGuard(const PackedBin& bin, const std::vector<ItemSpec>& items);

  // Whether a box of this weight at `box` keeps every box below within its max_load.
  bool allows(const Box& box, double weight) const;

  // What rests on each box of the bin, in placement order.
  const std::vector<double>& loads() const { return loads_; }

 private:
  using Shares = std::vector<std::pair<std::size_t, double>>;  // box, share of the weight
  Shares supportOf(const Box& box) const;

  std::vector<Box> boxes_;
  std::vector<double> limits_;
  std::vector<double> loads_;
  std::vector<Shares> under_;
  std::vector<std::size_t> topDown_;  // box indices, highest bottom first
};

}  // namespace stowra
