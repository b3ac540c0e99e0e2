#pragma once

#include <cstdint>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"
#include "problem/search_defaults.hpp"
#include "search/elapsed_time.hpp"

namespace stowra {

// Containers that hold few boxes each (small containers or large boxes) are where the wall
// and column orders leave gaps: one box turned or taken earlier decides whether the next one
// fits. There each container is worth filling on its own.

// Whether the shipment's volume spread over as few containers of the preferred type as it
// needs gives each container at most FEW_BOXES_PER_CONTAINER boxes, and the boxes times those
// containers (what filling them one by one costs, roughly) stay within MAX_FILL_WORK.
inline constexpr double FEW_BOXES_PER_CONTAINER = 40.0;
inline constexpr double MAX_FILL_WORK = 50000.0;
bool fewBoxesPerContainer(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                          const std::vector<std::int32_t>& preference);

struct FillConfig {
  bool pickupOrder = DEFAULT_PICKUP_ORDER;
  double balanceLimit = DEFAULT_BALANCE_LIMIT;  // only ranks loadings worth the same
  std::uint32_t seed = 0;
  // Loadings tried per container beyond the sorted ones: the kinds of box in a drawn order,
  // each kind standing one way, the other, or either.
  std::int32_t drawnLoadings = 48;
  // A loading is worth the sum of its boxes' volumes raised to this power: above 1 the large
  // boxes, which find room in fewer loadings, go first even where small ones would fill more.
  double sizePower = 1.0;
  // By item: what each unit of the box's volume is worth in that sum; empty: 1 for every box.
  std::vector<double> worth;
  // The items to load, ascending; empty: every item.
  std::vector<std::int32_t> only;
};
// The powers the plan search fills its plans with, one plan each.
inline constexpr double FILL_SIZE_POWERS[] = {1.0, 1.5};

// Fills containers one at a time, each of the preferred type (or the next that takes any of
// what is left), with the fullest of many loadings of the items still to go: every starting
// order and columns as tall as the container with every corner rule, and `drawnLoadings`
// drawn ones; the fullest by `sizePower`. An item that does not fit is passed over for the next.
// Each container loads its factories in ascending order. Items no type holds are left out. The
// loadings of one container run in parallel; every draw happens on the calling thread, so the plan
// is the same for any thread count. Once `stop` says yes no further container is filled: the items
// still to go are then left out (the caller drops such a plan). Free spaces are kept.
std::vector<PackedBin> fillOneByOne(const std::vector<ItemSpec>& items,
                                    const std::vector<BinType>& binTypes,
                                    const std::vector<std::int32_t>& preference,
                                    const FillConfig& config, const StopCheck& stop = {});

// Fills left to the last containers are the leftovers of the first: boxes of a kind that ends
// up in emptier containers were better taken early, mixed with the others. Fills again
// `rounds` times, each time worth more the kinds whose boxes stood in emptier containers last
// time (by their containers' fill, averaged with the worth before), and returns the plan of
// fewest items left out, then lowest cost, then fewest containers over `config.balanceLimit`
// however their load is moved, then the fuller containers; the first such plan on a tie. Each
// round's seed comes from `config.seed`, so the plan is the same for any thread count. Stops
// with the best plan so far once `stop` says yes after a round (empty when none finished).
std::vector<PackedBin> fillWithCorrections(const std::vector<ItemSpec>& items,
                                           const std::vector<BinType>& binTypes,
                                           const std::vector<std::int32_t>& preference,
                                           const FillConfig& config, std::int32_t rounds,
                                           const StopCheck& stop = {});

// Rounds of fillWithCorrections for a whole plan: a kind that bridges others may need them
// saved for it, which only a round after it stood alone shows.
inline constexpr std::int32_t FILL_ROUNDS = 5;

// Containers tried for a refill: the emptiest REFILL_TAIL, with none, REFILL_STEP, twice that
// ... up to REFILL_MORE of the next emptiest.
inline constexpr std::size_t REFILL_TAIL = 3;
inline constexpr std::size_t REFILL_STEP = 2;
inline constexpr std::size_t REFILL_MORE = 4;
inline constexpr std::int32_t REFILL_ROUNDS = 2;  // of fillWithCorrections, per refill

// The emptiest containers hold what the first ones left, and the first ones took the best of
// a mix without asking what it leaves: loads the items of the emptiest containers and of a few
// of the next emptiest again (fillWithCorrections), and keeps the new containers where they
// cost less than those they replace, for as long as some refill saves. Containers are numbered
// again from 1; free spaces are kept. Same plan for any thread count; stops after the refill
// running when `stop` says yes.
void refillEmptiest(std::vector<PackedBin>& bins, const std::vector<ItemSpec>& items,
                    const std::vector<BinType>& binTypes,
                    const std::vector<std::int32_t>& preference, const FillConfig& config,
                    const StopCheck& stop = {});

}  // namespace stowra
