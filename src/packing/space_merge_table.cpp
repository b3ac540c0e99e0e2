#include "packing/space_merge_table.hpp"

#include <algorithm>
#include <bit>

namespace stowra {

namespace {

std::uint64_t bitsOf(double value) {
  // Adding +0 turns -0 into +0, so values that compare equal hash equally.
  return std::bit_cast<std::uint64_t>(value + 0.0);
}

// Multiply-add of the six bit patterns, folded so the low bits used for the slot depend on
// every field. Cheap: this runs for every entry of every rebuilt list.
std::uint64_t hashOf(const FreeSpace& space) {
  std::uint64_t hash = bitsOf(space.x) * 0x9e3779b97f4a7c15ULL;
  hash += bitsOf(space.y) * 0xc2b2ae3d27d4eb4fULL;
  hash += bitsOf(space.z) * 0x165667b19e3779f9ULL;
  hash += bitsOf(space.length) * 0xd6e8feb86659fd93ULL;
  hash += bitsOf(space.width) * 0xff51afd7ed558ccdULL;
  hash += bitsOf(space.height) * 0xc4ceb9fe1a85ec53ULL;
  hash ^= hash >> 32;
  hash *= 0x9e3779b97f4a7c15ULL;
  return hash ^ (hash >> 29);
}

bool sameSpace(const FreeSpace& a, const FreeSpace& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z && a.length == b.length && a.width == b.width &&
         a.height == b.height;
}

}  // namespace

void SpaceMergeTable::reset(std::size_t expectedEntries) {
  std::size_t wanted = 64;
  while (wanted < 2 * expectedEntries) wanted *= 2;
  if (slots_.size() < wanted) {
    slots_.assign(wanted, Slot{});
    stamp_ = 0;
  }
  ++stamp_;
  if (stamp_ == 0) {  // the stamp wrapped: old stamps could look current again
    std::fill(slots_.begin(), slots_.end(), Slot{});
    stamp_ = 1;
  }
  size_ = 0;
}

std::int64_t SpaceMergeTable::findOrInsert(const std::vector<FreeSpace>& list,
                                           const FreeSpace& space, std::uint32_t newIndex) {
  if (2 * (size_ + 1) > slots_.size()) grow(list);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hashOf(space) & mask;; slot = (slot + 1) & mask) {
    Slot& entry = slots_[slot];
    if (entry.stamp != stamp_) {
      entry = Slot{stamp_, newIndex};
      ++size_;
      return -1;
    }
    if (sameSpace(list[entry.index], space)) return entry.index;
  }
}

std::int64_t SpaceMergeTable::find(const std::vector<FreeSpace>& list,
                                   const FreeSpace& space) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hashOf(space) & mask;; slot = (slot + 1) & mask) {
    const Slot& entry = slots_[slot];
    if (entry.stamp != stamp_) return -1;
    if (sameSpace(list[entry.index], space)) return entry.index;
  }
}

void SpaceMergeTable::grow(const std::vector<FreeSpace>& list) {
  // Collect the live indices, then re-insert them into a table twice the size.
  std::vector<std::uint32_t> live;
  live.reserve(size_);
  for (const Slot& slot : slots_) {
    if (slot.stamp == stamp_) live.push_back(slot.index);
  }
  slots_.assign(slots_.size() * 2, Slot{});
  stamp_ = 1;
  size_ = 0;
  for (std::uint32_t index : live) insertFresh(list, index);
}

void SpaceMergeTable::insertFresh(const std::vector<FreeSpace>& list, std::uint32_t index) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = hashOf(list[index]) & mask;
  while (slots_[slot].stamp == stamp_) slot = (slot + 1) & mask;
  slots_[slot] = Slot{stamp_, index};
  ++size_;
}

}  // namespace stowra
