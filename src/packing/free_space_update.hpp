#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/item.hpp"

namespace stowra {

// A free space of at most this volume is never kept: the only tolerance in the geometry.
inline constexpr double MIN_SPACE_VOLUME = 0.001;

// Largest copy count an entry records; only "is another copy left" is ever observed.
inline constexpr std::int64_t MAX_SPACE_COPIES = std::int64_t{1} << 62;

// The box [x0, x1] x [y0, y1] x [z0, z1] that a new item takes inside one free space.
struct OverlapBox {
  double x0 = 0.0;
  double x1 = 0.0;
  double y0 = 0.0;
  double y1 = 0.0;
  double z0 = 0.0;
  double z1 = 0.0;
  bool openTop = true;  // whether the piece above it may be made
};

// Up to six pieces, in the order they were made.
struct SpacePieces {
  std::array<FreeSpace, 6> pieces;
  std::size_t count = 0;

  void add(const FreeSpace& piece) { pieces[count++] = piece; }
  const FreeSpace* begin() const { return pieces.data(); }
  const FreeSpace* end() const { return pieces.data() + count; }
};

// Buffers reused from one placement to the next so that steady-state placements allocate
// nothing. One per decoding (never shared between threads).
struct FreeSpaceWorkspace {
  // A space made by the current placement, in the order made. `source` is the list position
  // of the space it was cut from (past the end for the pieces of the used space).
  struct NewSpace {
    FreeSpace space;
    double volume = 0.0;
    std::uint32_t source = 0;
    std::uint32_t insertBefore = 0;  // list position it goes in front of
    bool folded = false;             // merged into an identical space made or listed earlier
  };

  std::vector<NewSpace> made;
  // (volume, position in `made`) of the new spaces, sorted: by volume, then as made
  std::vector<std::pair<double, std::uint32_t>> order;
  std::vector<double> volumes;         // of the listed spaces, in order
  std::vector<std::uint32_t> dropped;  // list positions of the spaces that leave the list
  std::vector<FreeSpace> next;         // the list being assembled
};

// The first free space, in list order, that holds the item in this rotation within the bin's
// weight limit. Relies on the list being in ascending order of volume, as placeItem leaves it.
std::optional<FreeSpace> tryFit(const PackedBin& bin, const ItemSpec& item, std::int32_t rotation);

// Puts the item at the minimum corner of `space` (as returned by tryFit for this bin, item and
// rotation) and updates weight, utilization and free spaces.
void placeItem(PackedBin& bin, std::int32_t itemIndex, const ItemSpec& item, const FreeSpace& space,
               std::int32_t rotation, FreeSpaceWorkspace& workspace);
void placeItem(PackedBin& bin, std::int32_t itemIndex, const ItemSpec& item, const FreeSpace& space,
               std::int32_t rotation);

// Replaces the used space by what is left of it and cuts every other space around the item.
void updateFreeSpaces(PackedBin& bin, const ItemSpec& item, const FreeSpace& space,
                      std::int32_t rotation, FreeSpaceWorkspace& workspace);

// The pieces of `space` beside and above an item put at its minimum corner.
SpacePieces splitAfterPlacement(const FreeSpace& space, double dx, double dy, double h,
                                bool stackable);

// The pieces of `space` left around the part `overlap` of it that a new item takes.
SpacePieces splitAroundOverlap(const FreeSpace& space, const OverlapBox& overlap);

}  // namespace stowra
