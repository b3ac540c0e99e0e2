#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "candidate/individual.hpp"
#include "packing/packed_bin.hpp"
#include "packing/wall_packer.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"
#include "problem/search_defaults.hpp"
#include "search/elapsed_time.hpp"

namespace stowra {

// One candidate of the plan search: an item order (grouped by ascending factory number), the
// types of the bins to open and the corner rule, with the plan the wall packer makes of them.
struct PlanCandidate {
  std::vector<std::int32_t> order;
  std::vector<std::int32_t> types;
  WallRule rule = WallRule::BACK_BOTTOM_SIDE;
  std::vector<PackedBin> bins;  // free spaces kept, for the improvement steps
  std::int32_t leftOut = 0;
  double cost = 0.0;
  std::int32_t unbalanced = 0;  // bins over the balance limit even once their load is moved
  double fillSpread = 0.0;      // sum of squared fills: higher when the load sits in fewer bins
  bool evaluated = false;
};

// Fewer items left out first, then the lower cost, then fewer bins out of balance, then the
// fuller bins.
bool betterPlan(const PlanCandidate& a, const PlanCandidate& b);

// Where the search stands at a checkpoint: the starting plans are scored (START), a round is
// done (SEARCH), the kept plans are about to be improved (IMPROVE), the plan is final (DONE).
enum class SearchStage { START, SEARCH, IMPROVE, DONE };

struct SearchProgress {
  SearchStage stage = SearchStage::START;
  std::int32_t round = 0;  // rounds done
  double cost = 0.0;       // of the best plan so far
  std::int32_t containers = 0;
  double seconds = 0.0;  // since the search started
};

struct PlanSearchConfig {
  // At most ROUNDS_PER_EFFORT * effort rounds, ended early once STALL_ROUNDS_PER_EFFORT * effort
  // rounds in a row find no better plan.
  std::int32_t effort = DEFAULT_EFFORT;
  double timeLimit = DEFAULT_OPTIMIZE_TIME_LIMIT;  // seconds; <= 0 switches the limit off
  // No box of a later factory behind or below one of an earlier factory in any bin.
  bool pickupOrder = DEFAULT_PICKUP_ORDER;
  // The most of a bin's cargo weight either half of its length may carry; 1 asks nothing.
  double balanceLimit = DEFAULT_BALANCE_LIMIT;
};

inline constexpr std::int32_t ROUNDS_PER_EFFORT = 30;
inline constexpr std::int32_t STALL_ROUNDS_PER_EFFORT = 10;
inline constexpr std::int32_t CHILDREN_PER_ROUND = 32;
inline constexpr std::int32_t POOL_SIZE = 12;
inline constexpr std::size_t MAX_COLUMN_HEIGHTS = 3;  // bin heights given column starting plans
// Up to this many items a round's children load the whole shipment again from a changed
// order; beyond it they change a few bins of their parent (see local_moves.hpp), so that a
// round's work does not grow with the shipment.
inline constexpr std::size_t WHOLE_REPACK_ITEMS = 1000;

// The search behind optimize: good starting orders (several sort keys, each with every wall
// rule and two type choices, pack's own decoder on the volume order and, where containers hold
// few boxes each, containers filled one at a time from many loadings), then rounds of
// children of the best plans so far, evaluated in parallel (mutated orders loaded whole, or on
// long shipments moves on a few containers); finally every kept plan is
// improved (bins emptied into others, cheaper types) and the best one wins; its bins are then
// balanced along their length. Every random draw
// happens on the calling thread, so a seed and an effort give the same plan for any thread count.
// Run once.
class PlanSearch : public PlanSearchConfig {
 public:
  PlanSearch(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
             double totalWeight, std::uint32_t seed);

  // The best plan, improved and scored as pack scores its plans (it carries its bins).
  Individual run();

  // Set by run: the clock stopped some part of the search, so the plan may be a worse one.
  bool timedOut = false;

  // Both called on the calling thread only, at the checkpoints: while the starting plans are
  // built, once they are scored, after every round, before the improvement steps and at the end
  // (checkInterrupt first). Either may throw to stop the search. Apart from `seconds`, the
  // reports are the same for a seed and an effort whatever the thread count, unless the clock
  // ends the search.
  std::function<void()> checkInterrupt;
  std::function<void(const SearchProgress&)> progress;

  // Decodes and scores one candidate (thread-safe for distinct candidates).
  void evaluate(PlanCandidate& candidate) const;
  // The starting candidates, unevaluated except pack's decoding.
  std::vector<PlanCandidate> startingCandidates() const;
  // A changed copy of the parent's order and types, unevaluated.
  PlanCandidate mutated(const PlanCandidate& parent);

  const std::vector<ItemSpec>& items;
  const std::vector<BinType>& binTypes;
  double totalWeight;
  std::vector<std::int32_t> preference;
  std::mt19937 rng;

 private:
  // Positions [begin, end) of each factory's run in every order.
  std::vector<std::pair<std::int32_t, std::int32_t>> groups_;
  Individual summary(const PlanCandidate& candidate, bool improve) const;
  // One round's children made by moves on a few bins of their parents, those that may enter
  // the pool loaded and scored; nullopt when the clock cut the round short.
  std::optional<std::vector<PlanCandidate>> localChildren(const std::vector<PlanCandidate>& pool,
                                                          const StopCheck& timeUp);
  WallPacker packerFor(WallRule rule) const;
  // Where containers hold few boxes each: plans filled container by container (one per
  // FILL_SIZE_POWERS), before the last starting plan; skipped once `stop` says yes.
  void addFilledPlans(std::vector<PlanCandidate>& pool, const StopCheck& stop);
  // Checks for an interrupt, then reports where the search stands.
  void checkpoint(SearchStage stage, std::int32_t round, double cost, std::size_t containers,
                  std::chrono::steady_clock::time_point start) const;
};

}  // namespace stowra
