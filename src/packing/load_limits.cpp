#include "packing/load_limits.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace stowra {

namespace {

// Coordinates are sums of sizes: a top and a bottom this close touch.
constexpr double TOUCH = 1e-6;

double overlapLength(double a0, double a1, double b0, double b1) {
  return std::max(0.0, std::min(a1, b1) - std::max(a0, b0));
}

bool overLimit(double load, double limit) {
  // Relative slack so that a load summed in another order is not refused at its limit.
  return load > limit + 1e-9 * std::max(1.0, limit);
}

}  // namespace

LoadGuard::LoadGuard(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  for (const Placement& placement : bin.placements) {
    const ItemSpec& item = items[static_cast<std::size_t>(placement.itemIndex)];
    boxes_.push_back(boxOf(placement, item));
    limits_.push_back(item.maxLoad);
  }
  for (const Box& box : boxes_) under_.push_back(supportOf(box));
  topDown_.resize(boxes_.size());
  std::iota(topDown_.begin(), topDown_.end(), std::size_t{0});
  // A box's supporters have lower bottoms, so their load is complete before it passes on.
  std::stable_sort(topDown_.begin(), topDown_.end(),
                   [&](std::size_t a, std::size_t b) { return boxes_[a].z0 > boxes_[b].z0; });
  loads_.assign(boxes_.size(), 0.0);
  for (const std::size_t index : topDown_) {
    const double total =
        items[static_cast<std::size_t>(bin.placements[index].itemIndex)].weight + loads_[index];
    for (const auto& [below, share] : under_[index]) loads_[below] += total * share;
  }
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

bool keepsLoadLimits(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  const std::vector<double> loads = restingLoads(bin, items);
  for (std::size_t index = 0; index < loads.size(); ++index) {
    const ItemSpec& item = items[static_cast<std::size_t>(bin.placements[index].itemIndex)];
    if (overLimit(loads[index], item.maxLoad)) return false;
  }
  return true;
}

bool anyLoadLimit(const std::vector<ItemSpec>& items) {
  return std::any_of(items.begin(), items.end(),
                     [](const ItemSpec& item) { return std::isfinite(item.maxLoad); });
}

}  // namespace stowra
