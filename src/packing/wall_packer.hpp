#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "packing/free_space_update.hpp"
#include "packing/load_limits.hpp"
#include "packing/packed_bin.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// Which corner wins among the free spaces that hold an item: compared by these coordinates in
// turn, lowest first.
enum class WallRule : std::int32_t {
  BACK_BOTTOM_SIDE,  // x, z, y: walls from the back, each built up before across
  BACK_SIDE_BOTTOM,  // x, y, z: walls from the back, each laid across before up
  FLOOR_FIRST,       // z, x, y: the floor from the back first, then layers above
};
inline constexpr std::int32_t WALL_RULE_COUNT = 3;

// Where and how an item goes into a bin under the wall-building rule.
struct WallFit {
  FreeSpace space;
  std::int32_t rotation = 0;
};

// Whether the item may go into this free space with this rotation (beyond fitting there).
using FitFilter = std::function<bool(const WallFit&)>;

// Among every free space of the bin that holds the item, in every allowed rotation, within the
// weight limit: the one whose corner comes first by the rule (BACK_BOTTOM_SIDE: furthest back,
// then lowest, then nearest the side); at one corner (with `rowTurns`) the rotation after which
// the rest of the width takes a row of such boxes (either way round) with the least left over,
// then the one with the shorter side along x, so a wall grows thin and even. A box that carries
// nothing takes any raised place before the floor. Equal keys keep the first in list order.
// With a filter, the first place by the same order that the filter allows.
std::optional<WallFit> wallFit(const PackedBin& bin, const ItemSpec& item,
                               WallRule rule = WallRule::BACK_BOTTOM_SIDE,
                               const FitFilter& allowed = {}, bool rowTurns = false);

// Packs an item sequence first fit with the wall-building rule: each item goes into the first
// open bin (in opening order) that holds it. A new bin takes the next type of `typeSequence`,
// then `typePreference.front()`; when the item does not fit an empty bin of that type, the
// other types in `typePreference` order are tried. An item no type holds is left out and opens
// nothing. No item is placed where it would put more than its max_load on a box below. Free
// spaces are kept, so the bins can be packed further.
class WallPacker {
 public:
  WallPacker(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
             std::vector<std::int32_t> typePreference);

  std::vector<PackedBin> pack(std::span<const std::int32_t> order,
                              std::span<const std::int32_t> typeSequence);

  // Puts the items, in this order, into an empty bin of the type; nullopt unless all fit.
  std::optional<PackedBin> packAllInto(std::span<const std::int32_t> order, std::int32_t type,
                                       std::int32_t binId);

  // First fit into the given bins (in their order) with the wall rule; false if none holds it.
  bool placeInAny(std::span<PackedBin*> bins, std::int32_t itemIndex);

  const std::vector<std::int32_t>& typePreference() const { return typePreference_; }

  // Item shapes that found no free space in one bin, each with the lightest such item. A bin's
  // free spaces only shrink as it fills (every new space lies inside an old one) and its
  // weight only grows, so an item of such a shape, at least as heavy, cannot fit either: a full
  // bin is passed over at the cost of a look-up. Refusals by the pickup order or by load
  // limits are not kept: they depend on the place, not on the room.
  class Misfits {
   public:
    bool rulesOut(const ItemSpec& item) const;
    void add(const ItemSpec& item);

   private:
    struct Shape {
      double l, w, h, weight;
      std::size_t turns;
    };
    std::vector<Shape> shapes_;
  };

  // As placeInAny, passing over the bins whose misfits rule the item out and recording new
  // misfits; `misfits` runs parallel to `bins`.
  bool placeInAny(std::span<PackedBin*> bins, std::span<Misfits> misfits, std::int32_t itemIndex);

  WallRule rule = WallRule::BACK_BOTTOM_SIDE;
  // Turns boxes so that rows across the bin leave less width over (see wallFit).
  bool rowTurns = false;
  // Keeps every bin loadable factory by factory: no box behind or below one of an earlier
  // factory (see breaksPickupOrder).
  bool pickupOrder = false;

 private:
  bool placeIn(PackedBin& bin, std::int32_t itemIndex, Misfits* misfits = nullptr);
  LoadGuard& loadGuardFor(const PackedBin& bin);

  const std::vector<ItemSpec>& items_;
  const std::vector<BinType>& binTypes_;
  std::vector<std::int32_t> typePreference_;
  // Some item has a max_load: then no place may put more than that on it (see LoadGuard).
  bool limitedLoads_ = false;
  // Each bin's loads, kept from one placement to the next (by opening number).
  std::vector<LoadGuard> loadGuards_;
  FreeSpaceWorkspace workspace_;
};

}  // namespace stowra
