#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "packing/packed_bin.hpp"
#include "packing/wall_packer.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// Changes to a finished plan that touch a few of its bins and keep the others as they are, so
// that their work grows with the bins they touch, not with the shipment. Every bin they build
// loads its factories in ascending order, and the packer keeps the pickup order and the load
// limits in it.

// A plan's bins at `positions` give way to `built`: built[k] takes the place of positions[k],
// the positions left over are dropped, the bins left over go after the last position. The
// built bins hold exactly the items of the bins they replace.
struct LocalMove {
  std::vector<std::size_t> positions;
  std::vector<PackedBin> built;
};

// The plan with the move made; bins are numbered again from 1.
std::vector<PackedBin> applyMove(const std::vector<PackedBin>& bins, const LocalMove& move);

// What a move will do, drawn on the calling thread so that the plan does not depend on which
// thread makes the move.
struct MoveDraw {
  enum class Kind : std::int32_t {
    REPACK,  // load the items of a few neighbouring bins again, in a new order and new types
    EMPTY,   // move what fits of one of the emptiest bins into the others (see thinMove)
    TOP_UP,  // load a fuller bin again with the emptiest one's items, the fuller bin first
  };
  Kind kind = Kind::REPACK;
  std::size_t first = 0;    // the first bin touched (REPACK, TOP_UP) or the bin emptied (EMPTY)
  std::size_t count = 1;    // bins repacked together (REPACK)
  std::size_t emptied = 0;  // the emptiest bin, whose items top up `first` (TOP_UP)
  std::int32_t key = 0;     // starting key, or past them: columns as tall as the first type
  WallRule rule = WallRule::BACK_BOTTOM_SIDE;
  std::int32_t types = 0;     // 0: the bins' own types, 1: the cheapest cover, 2: the packer's
  std::uint32_t shuffle = 0;  // seeds the small change made to the order (0: none)
};

// Bins looked at as the emptiest when a bin is to be emptied.
inline constexpr std::size_t EMPTIEST_BINS = 4;

// Draws a move for a plan of these bins.
MoveDraw drawMove(const std::vector<PackedBin>& bins, std::mt19937& rng);

// The items the drawn move loads again: a measure of its work (a top-up loads them once per
// starting order and corner rule, but counts them once, so that a round's children stay many).
std::size_t movedItems(const std::vector<PackedBin>& bins, const MoveDraw& draw);

// Makes the drawn move (a bin is emptied with the packer's rule, bins are repacked with the
// draw's; a top-up is loaded in every starting order with every corner rule, and the loading
// whose first bin is fullest, with no more bins than before, is kept); nullopt when it cannot
// keep every item.
std::optional<LocalMove> makeMove(const std::vector<PackedBin>& bins, const MoveDraw& draw,
                                  WallPacker& packer, const std::vector<ItemSpec>& items,
                                  const std::vector<BinType>& binTypes);

// Moves what it can of bin `victim` into the fuller bins as emptyMove does, and loads the rest
// again into the cheapest types that hold it; nullopt when nothing moves.
std::optional<LocalMove> thinMove(const std::vector<PackedBin>& bins, std::size_t victim,
                                  WallPacker& packer, const std::vector<ItemSpec>& items,
                                  const std::vector<BinType>& binTypes);

// Moves every item of bin `victim` into the others (first fit in list order, each after what
// the bin holds, never behind a later factory): the bins changed, the victim last and dropped,
// or nullopt unless every item finds a place. Bins are copied only once an item goes in.
std::optional<LocalMove> emptyMove(const std::vector<PackedBin>& bins, std::size_t victim,
                                   WallPacker& packer, const std::vector<ItemSpec>& items);

}  // namespace stowra
