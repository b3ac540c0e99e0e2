#include "packing/load_limits.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace stowra {

namespace {

double overlapLength(double a0, double a1, double b0, double b1) {
  return std::max(0.0, std::min(a1, b1) - std::max(a0, b0));
}

bool overLimit(double load, double limit) {
  // Relative slack so that a load summed in another order is not refused at its limit.
  return load > limit + 1e-9 * std::max(1.0, limit);
}

}  // namespace

LoadGuard::LoadGuard(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  rebuild(bin, items);
}

void LoadGuard::rebuild(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  placed_ = bin.placements;
  boxes_.clear();
  weights_.clear();
  limits_.clear();
  for (const Placement& placement : bin.placements) {
    const ItemSpec& item = items[static_cast<std::size_t>(placement.itemIndex)];
    boxes_.push_back(boxOf(placement, item));
    weights_.push_back(item.weight);
    limits_.push_back(item.maxLoad);
  }
  under_.clear();
  flat_ = false;
  for (const Box& box : boxes_) {
    under_.push_back(supportOf(box));
    flat_ = flat_ || !(box.z1 - box.z0 > TOUCH);
  }
  topDown_.resize(boxes_.size());
  std::iota(topDown_.begin(), topDown_.end(), std::size_t{0});
  // A box's supporters have lower bottoms, so their load is complete before it passes on.
  std::stable_sort(topDown_.begin(), topDown_.end(),
                   [&](std::size_t a, std::size_t b) { return boxes_[a].z0 > boxes_[b].z0; });
  loads_.assign(boxes_.size(), 0.0);
  over_.assign(boxes_.size(), {});
  for (const std::size_t index : topDown_) {
    const double total = weights_[index] + loads_[index];
    for (const auto& [below, share] : under_[index]) {
      loads_[below] += total * share;
      over_[below].emplace_back(index, share);
    }
  }
}

namespace {

bool samePlacement(const Placement& a, const Placement& b) {
  // Bit for bit: a sign of zero could change a contact area's rounding.
  return a.itemIndex == b.itemIndex && a.rotation == b.rotation &&
         std::bit_cast<std::uint64_t>(a.x) == std::bit_cast<std::uint64_t>(b.x) &&
         std::bit_cast<std::uint64_t>(a.y) == std::bit_cast<std::uint64_t>(b.y) &&
         std::bit_cast<std::uint64_t>(a.z) == std::bit_cast<std::uint64_t>(b.z);
}

}  // namespace

void LoadGuard::update(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  const std::vector<Placement>& placements = bin.placements;
  const bool extends =
      placed_.size() <= placements.size() &&
      std::equal(placed_.begin(), placed_.end(), placements.begin(), samePlacement);
  if (!extends) return rebuild(bin, items);
  for (std::size_t index = placed_.size(); index < placements.size(); ++index) {
    const Placement& placement = placements[index];
    if (!add(placement, items[static_cast<std::size_t>(placement.itemIndex)])) {
      return rebuild(bin, items);
    }
  }
}

bool LoadGuard::add(const Placement& placement, const ItemSpec& item) {
  const Box box = boxOf(placement, item);
  // Summing along the chain needs every box's supporters to come after it from the top: true
  // unless a box is flatter than a touch.
  if (flat_ || !(box.z1 - box.z0 > TOUCH)) return false;
  // A box slid under an earlier one changes what that one stands on: gathered anew.
  for (const Box& other : boxes_) {
    if (other.z0 <= TOUCH || std::abs(box.z1 - other.z0) > TOUCH) continue;
    if (!(overlapLength(other.x0, other.x1, box.x0, box.x1) *
              overlapLength(other.y0, other.y1, box.y0, box.y1) <=
          0.0)) {
      return false;
    }
  }
  const std::size_t added = boxes_.size();
  placed_.push_back(placement);
  boxes_.push_back(box);
  weights_.push_back(item.weight);
  limits_.push_back(item.maxLoad);
  under_.push_back(supportOf(box));
  loads_.push_back(0.0);  // nothing rests on it yet
  over_.emplace_back();
  // The stable sort puts the last box after every box whose bottom is as high or higher.
  const auto higher = [&](std::size_t index) { return boxes_[index].z0 >= box.z0; };
  topDown_.insert(std::partition_point(topDown_.begin(), topDown_.end(), higher), added);
  for (const auto& [below, share] : under_[added]) {
    Shares& over = over_[below];
    const auto at = std::partition_point(over.begin(), over.end(),
                                         [&](const auto& entry) { return higher(entry.first); });
    over.insert(at, {added, share});
  }
  // Only the boxes below it along the support chain gain load. Each is summed again from what
  // rests on it in the order of a full gathering, so the loads are bit for bit the same.
  std::vector<char> below(boxes_.size(), 0);
  for (const auto& entry : under_[added]) below[entry.first] = 1;
  for (const std::size_t index : topDown_) {
    if (!below[index]) continue;
    double load = 0.0;
    for (const auto& [above, share] : over_[index])
      load += (weights_[above] + loads_[above]) * share;
    loads_[index] = load;
    for (const auto& entry : under_[index]) below[entry.first] = 1;
  }
  return true;
}

LoadGuard::Shares LoadGuard::supportOf(const Box& box) const {
  Shares shares;
  if (box.z0 <= TOUCH) return shares;  // on the floor
  double total = 0.0;
  for (std::size_t index = 0; index < boxes_.size(); ++index) {
    const Box& other = boxes_[index];
    if (std::abs(other.z1 - box.z0) > TOUCH) continue;
    const double area = overlapLength(box.x0, box.x1, other.x0, other.x1) *
                        overlapLength(box.y0, box.y1, other.y0, other.y1);
    if (area <= 0.0) continue;
    shares.emplace_back(index, area);
    total += area;
  }
  for (auto& entry : shares) entry.second /= total;
  return shares;
}

bool LoadGuard::allows(const Box& box, double weight) const {
  const Shares support = supportOf(box);
  if (support.empty()) return true;
  std::vector<double> added(boxes_.size(), 0.0);
  for (const auto& [below, share] : support) added[below] += weight * share;
  for (const std::size_t index : topDown_) {
    if (added[index] == 0.0) continue;
    if (overLimit(loads_[index] + added[index], limits_[index])) return false;
    for (const auto& [below, share] : under_[index]) added[below] += added[index] * share;
  }
  return true;
}

std::vector<double> restingLoads(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  // The guard's loads are exactly these; gathering them needs no new box.
  LoadGuard guard(bin, items);
  return guard.loads();
}

std::vector<std::pair<std::size_t, double>> overloadedPlacements(
    const PackedBin& bin, const std::vector<ItemSpec>& items) {
  std::vector<std::pair<std::size_t, double>> over;
  const std::vector<double> loads = restingLoads(bin, items);
  for (std::size_t index = 0; index < loads.size(); ++index) {
    const ItemSpec& item = items[static_cast<std::size_t>(bin.placements[index].itemIndex)];
    if (overLimit(loads[index], item.maxLoad)) over.emplace_back(index, loads[index]);
  }
  return over;
}

bool keepsLoadLimits(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  return overloadedPlacements(bin, items).empty();
}

bool anyLoadLimit(const std::vector<ItemSpec>& items) {
  return std::any_of(items.begin(), items.end(),
                     [](const ItemSpec& item) { return std::isfinite(item.maxLoad); });
}

}  // namespace stowra
