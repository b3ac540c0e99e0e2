#pragma once

#include <cstdint>
#include <vector>

#include "packing/packed_bin.hpp"

namespace stowra {

// Finds an identical free space (same corner and extents) among the entries of one list while
// that list is being built, so duplicates can be folded into their first copy. Open addressing
// with generation stamps: starting a new list costs nothing, and the slots are reused from one
// placement to the next without allocating.
class SpaceMergeTable {
 public:
  // Forgets every entry; sized for at least `expectedEntries` before it must grow.
  void reset(std::size_t expectedEntries);

  // Index of the entry of `list` identical to `space`, or -1 after recording `newIndex` (the
  // position `space` is about to take in `list`) as its first copy.
  std::int64_t findOrInsert(const std::vector<FreeSpace>& list, const FreeSpace& space,
                            std::uint32_t newIndex);

  // Index of the recorded entry of `list` identical to `space`, or -1.
  std::int64_t find(const std::vector<FreeSpace>& list, const FreeSpace& space) const;

 private:
  struct Slot {
    std::uint32_t stamp = 0;
    std::uint32_t index = 0;
  };

  void grow(const std::vector<FreeSpace>& list);
  void insertFresh(const std::vector<FreeSpace>& list, std::uint32_t index);

  std::vector<Slot> slots_;
  std::uint32_t stamp_ = 0;
  std::size_t size_ = 0;
};

}  // namespace stowra
