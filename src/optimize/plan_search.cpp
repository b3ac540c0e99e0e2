#include "optimize/plan_search.hpp"

#include <algorithm>
#include <chrono>
#include <numeric>

#include "candidate/fitness.hpp"
#include "candidate/random_draws.hpp"
#include "optimize/column_order.hpp"
#include "optimize/item_orders.hpp"
#include "optimize/local_moves.hpp"
#include "optimize/plan_balance.hpp"
#include "optimize/plan_improvement.hpp"
#include "optimize/small_start.hpp"
#include "optimize/type_choice.hpp"
#include "packing/bin_packer.hpp"
#include "packing/load_balance.hpp"
#include "packing/load_limits.hpp"
#include "packing/pickup_order.hpp"
#include "packing/wall_packer.hpp"
#include "search/elapsed_time.hpp"
#include "search/parallel_evaluation.hpp"

namespace stowra {

namespace {

bool sameScore(const PlanCandidate& a, const PlanCandidate& b) {
  return a.leftOut == b.leftOut && a.cost == b.cost && a.unbalanced == b.unbalanced &&
         a.fillSpread == b.fillSpread;
}

}  // namespace

bool betterPlan(const PlanCandidate& a, const PlanCandidate& b) {
  if (a.leftOut != b.leftOut) return a.leftOut < b.leftOut;
  if (a.cost != b.cost) return a.cost < b.cost;
  if (a.unbalanced != b.unbalanced) return a.unbalanced < b.unbalanced;
  return a.fillSpread > b.fillSpread;
}

PlanSearch::PlanSearch(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                       double totalWeight, std::uint32_t seed)
    : items(items),
      binTypes(binTypes),
      totalWeight(totalWeight),
      preference(typePreference(items, binTypes)),
      rng(seed) {
  const std::vector<std::int32_t> order = groupedOrder(items, startingKeys().back());
  for (std::size_t position = 0; position < order.size(); ++position) {
    const std::int32_t factory = items[static_cast<std::size_t>(order[position])].factory;
    if (groups_.empty() ||
        items[static_cast<std::size_t>(order[position - 1])].factory != factory) {
      groups_.emplace_back(static_cast<std::int32_t>(position), 0);
    }
    groups_.back().second = static_cast<std::int32_t>(position + 1);
  }
}

void PlanSearch::evaluate(PlanCandidate& candidate) const {
  if (candidate.evaluated) return;
  WallPacker packer = packerFor(candidate.rule);
  if (candidate.bins.empty()) {
    candidate.bins = packer.pack(candidate.order, candidate.types);
    retypeBins(candidate.bins, packer, items, binTypes);
    // Children start from the types this plan ended with.
    candidate.types.clear();
    for (const PackedBin& bin : candidate.bins) {
      candidate.types.push_back(bin.typeIndex);
    }
  }
  std::size_t placed = 0;
  candidate.cost = 0.0;
  candidate.fillSpread = 0.0;
  candidate.unbalanced = 0;
  for (const PackedBin& bin : candidate.bins) {
    placed += bin.placements.size();
    if (balanceLimit < 1.0 && centredShare(bin, items, balanceLimit) > balanceLimit) {
      ++candidate.unbalanced;
    }
    candidate.cost += bin.cost;
    candidate.fillSpread += bin.spaceUtilization * bin.spaceUtilization;
  }
  candidate.leftOut = static_cast<std::int32_t>(items.size() - placed);
  candidate.evaluated = true;
}

std::vector<PlanCandidate> PlanSearch::startingCandidates() const {
  const std::vector<std::int32_t> cover = cheapestCover(items, binTypes, preference);
  std::vector<std::vector<std::int32_t>> orders;
  for (const ItemOrder& key : startingKeys()) orders.push_back(groupedOrder(items, key));
  // Columns as tall as the bins of the first few heights, the most economical types first:
  // each height costs six more starting plans.
  std::vector<std::int32_t> all(items.size());
  std::iota(all.begin(), all.end(), 0);
  std::vector<double> heights;
  for (const std::int32_t type : preference) {
    const double height = binTypes[static_cast<std::size_t>(type)].h;
    if (heights.size() < MAX_COLUMN_HEIGHTS &&
        std::find(heights.begin(), heights.end(), height) == heights.end()) {
      heights.push_back(height);
      orders.push_back(columnOrder(items, all, height));
    }
  }
  std::vector<PlanCandidate> candidates;
  for (const std::vector<std::int32_t>& order : orders) {
    for (std::int32_t rule = 0; rule < WALL_RULE_COUNT; ++rule) {
      PlanCandidate candidate;
      candidate.order = order;
      candidate.rule = static_cast<WallRule>(rule);
      candidates.push_back(candidate);
      if (!cover.empty()) {
        candidate.types = cover;
        candidates.push_back(std::move(candidate));
      }
    }
  }
  // pack's own decoder on the volume order: the plan is never worse than this greedy one.
  PlanCandidate greedy;
  greedy.order = groupedOrder(items, startingKeys().front());
  BinPacker packer(items, binTypes);
  packer.packSequence(greedy.order, std::vector<std::int32_t>(items.size(), 0), {});
  greedy.bins = packer.takeBins();
  std::erase_if(greedy.bins, [](const PackedBin& bin) { return bin.placements.empty(); });
  for (const PackedBin& bin : greedy.bins) greedy.types.push_back(bin.typeIndex);
  // pack's decoder fills gaps wherever they are, so its plan may stand a later factory's
  // goods behind an earlier one's: then it is no plan for this search.
  // pack's decoder knows no load limits either.
  const bool loadable =
      std::all_of(greedy.bins.begin(), greedy.bins.end(), [&](const PackedBin& bin) {
        return (!pickupOrder || keepsPickupOrder(bin, items)) && keepsLoadLimits(bin, items);
      });
  if (loadable) candidates.push_back(std::move(greedy));
  return candidates;
}

PlanCandidate PlanSearch::mutated(const PlanCandidate& parent) {
  PlanCandidate child;
  child.order = parent.order;
  child.types = parent.types;
  child.rule = parent.rule;
  const auto n = static_cast<std::int32_t>(items.size());
  const std::int32_t changes = 1 + boundedDraw(rng, 0, 2);
  for (std::int32_t change = 0; change < changes; ++change) {
    const std::int32_t kind = boundedDraw(rng, 0, 9);
    if (kind >= 8 && binTypes.size() > 1) {
      const auto position = static_cast<std::size_t>(
          boundedDraw(rng, 0, static_cast<std::int32_t>(child.types.size())));
      const std::int32_t type = preference[static_cast<std::size_t>(
          boundedDraw(rng, 0, static_cast<std::int32_t>(preference.size()) - 1))];
      if (position == child.types.size()) {
        child.types.push_back(type);
      } else {
        child.types[position] = type;
      }
      continue;
    }
    // Orders change only inside one factory's run, so factories stay in order.
    const std::int32_t anchor = boundedDraw(rng, 0, n - 1);
    const auto group = std::find_if(groups_.begin(), groups_.end(),
                                    [&](const auto& run) { return anchor < run.second; });
    const auto [begin, end] = *group;
    if (end - begin < 2) continue;
    const std::int32_t a = boundedDraw(rng, begin, end - 1);
    const std::int32_t b = boundedDraw(rng, begin, end - 1);
    changeOrder(child.order,
                kind < 4   ? OrderChange::SWAP
                : kind < 7 ? OrderChange::MOVE
                           : OrderChange::REVERSE,
                a, b);
  }
  return child;
}

Individual PlanSearch::summary(const PlanCandidate& candidate, bool improve) const {
  Individual individual;
  individual.bins = candidate.bins;
  if (improve) {
    WallPacker packer = packerFor(candidate.rule);
    improvePlan(individual.bins, packer, items, binTypes);
  }
  finishBins(individual.bins, items);
  scoreBins(individual, totalWeight);
  return individual;
}

std::optional<std::vector<PlanCandidate>> PlanSearch::localChildren(
    const std::vector<PlanCandidate>& pool, const StopCheck& timeUp) {
  struct Drawn {
    std::size_t parent = 0;
    MoveDraw draw;
    std::optional<LocalMove> move;
    bool made = false;
  };
  std::vector<Drawn> drawn;
  const auto last = static_cast<std::int32_t>(pool.size()) - 1;
  // A round loads about as many items as the shipment holds, however few bins that takes: a
  // shipment of a few full bins gets few children a round, a long one the full number.
  std::size_t work = 0;
  while (drawn.size() < static_cast<std::size_t>(CHILDREN_PER_ROUND) && work < items.size()) {
    Drawn& child = drawn.emplace_back();
    // The better of two drawn members breeds.
    child.parent =
        static_cast<std::size_t>(std::min(boundedDraw(rng, 0, last), boundedDraw(rng, 0, last)));
    child.draw = drawMove(pool[child.parent].bins, rng);
    work += movedItems(pool[child.parent].bins, child.draw);
  }
  forEachIndexInParallel(static_cast<std::int32_t>(drawn.size()), [&](std::int32_t index) {
    if (timeUp()) return;
    Drawn& child = drawn[static_cast<std::size_t>(index)];
    const PlanCandidate& parent = pool[child.parent];
    WallPacker packer = packerFor(parent.rule);
    child.move = makeMove(parent.bins, child.draw, packer, items, binTypes);
    child.made = true;
  });
  // As with whole loadings, a round cut short is dropped whole.
  if (std::any_of(drawn.begin(), drawn.end(), [](const Drawn& child) { return !child.made; })) {
    return std::nullopt;
  }
  const auto unbalanced = [&](const PackedBin& bin) {
    return balanceLimit < 1.0 && centredShare(bin, items, balanceLimit) > balanceLimit ? 1 : 0;
  };
  std::vector<PlanCandidate> children;
  for (const Drawn& child : drawn) {
    if (!child.move) continue;
    const PlanCandidate& parent = pool[child.parent];
    // The child's score from its parent's and the bins the move changed: only a child that
    // may enter the pool is copied out in full.
    PlanCandidate estimate;
    estimate.leftOut = parent.leftOut;
    estimate.cost = parent.cost;
    estimate.unbalanced = parent.unbalanced;
    estimate.fillSpread = parent.fillSpread;
    for (const std::size_t position : child.move->positions) {
      const PackedBin& bin = parent.bins[position];
      estimate.cost -= bin.cost;
      estimate.fillSpread -= bin.spaceUtilization * bin.spaceUtilization;
      estimate.unbalanced -= unbalanced(bin);
    }
    for (const PackedBin& bin : child.move->built) {
      estimate.cost += bin.cost;
      estimate.fillSpread += bin.spaceUtilization * bin.spaceUtilization;
      estimate.unbalanced += unbalanced(bin);
    }
    if (pool.size() >= static_cast<std::size_t>(POOL_SIZE) && !betterPlan(estimate, pool.back())) {
      continue;
    }
    PlanCandidate made;
    made.order = parent.order;
    made.types = parent.types;
    made.rule = parent.rule;
    made.bins = applyMove(parent.bins, *child.move);
    evaluate(made);
    children.push_back(std::move(made));
  }
  return children;
}

Individual PlanSearch::run() {
  const auto start = std::chrono::steady_clock::now();
  const StopCheck timeUp = timeLimitCheck(start, timeLimit);
  std::vector<PlanCandidate> pool = startingCandidates();
  addFilledPlans(pool, [&] {
    if (checkInterrupt) checkInterrupt();
    return timeUp();
  });
  // Each candidate is started only while time is left, so a late one never holds the search up;
  // the ones skipped stay unevaluated. `always` is scored whatever the clock says.
  const auto evaluateAll = [&](std::vector<PlanCandidate>& candidates, std::size_t always) {
    forEachIndexInParallel(static_cast<std::int32_t>(candidates.size()), [&](std::int32_t index) {
      const auto at = static_cast<std::size_t>(index);
      if (at != always && timeUp()) return;
      evaluate(candidates[at]);
    });
  };
  // The last starting plan (pack's greedy one when it keeps the pickup order, loaded already)
  // is scored whatever the clock says: there is always a complete plan.
  evaluateAll(pool, pool.size() - 1);
  std::erase_if(pool, [](const PlanCandidate& candidate) { return !candidate.evaluated; });
  std::stable_sort(pool.begin(), pool.end(), betterPlan);
  if (pool.size() > static_cast<std::size_t>(POOL_SIZE)) pool.resize(POOL_SIZE);
  checkpoint(SearchStage::START, 0, pool.front().cost, pool.front().bins.size(), start);

  const std::int32_t rounds = ROUNDS_PER_EFFORT * effort;
  // Better plans come early or not at all: a long run of rounds without one ends the search.
  const std::int32_t stallRounds = STALL_ROUNDS_PER_EFFORT * effort;
  std::int32_t lastBetter = 0;
  const bool searchable = items.size() > 1;
  const bool local = items.size() > WHOLE_REPACK_ITEMS;
  std::int32_t roundsDone = 0;
  for (std::int32_t round = 0; searchable && round < rounds && round - lastBetter < stallRounds;
       ++round) {
    if (timeUp()) break;
    std::vector<PlanCandidate> children;
    if (local) {
      std::optional<std::vector<PlanCandidate>> made = localChildren(pool, timeUp);
      if (!made) break;
      children = std::move(*made);
    } else {
      children.reserve(CHILDREN_PER_ROUND);
      const auto last = static_cast<std::int32_t>(pool.size()) - 1;
      for (std::int32_t child = 0; child < CHILDREN_PER_ROUND; ++child) {
        // The better of two drawn members breeds.
        const std::int32_t parent = std::min(boundedDraw(rng, 0, last), boundedDraw(rng, 0, last));
        children.push_back(mutated(pool[static_cast<std::size_t>(parent)]));
      }
      evaluateAll(children, children.size());
      // A round cut short by the clock is dropped whole, so which children made it in time
      // never shows in the plan.
      if (std::any_of(children.begin(), children.end(),
                      [](const PlanCandidate& child) { return !child.evaluated; })) {
        break;
      }
    }

    PlanCandidate previousBest;
    previousBest.leftOut = pool.front().leftOut;
    previousBest.cost = pool.front().cost;
    previousBest.unbalanced = pool.front().unbalanced;
    previousBest.fillSpread = pool.front().fillSpread;
    for (PlanCandidate& child : children) {
      // A child scoring exactly like a kept plan adds nothing but crowding.
      const bool known = std::any_of(pool.begin(), pool.end(), [&](const PlanCandidate& kept) {
        return sameScore(kept, child);
      });
      if (!known) pool.push_back(std::move(child));
    }
    std::stable_sort(pool.begin(), pool.end(), betterPlan);
    if (pool.size() > static_cast<std::size_t>(POOL_SIZE)) pool.resize(POOL_SIZE);

    roundsDone = round + 1;
    if (betterPlan(pool.front(), previousBest)) lastBetter = roundsDone;
    checkpoint(SearchStage::SEARCH, roundsDone, pool.front().cost, pool.front().bins.size(), start);
  }
  checkpoint(SearchStage::IMPROVE, roundsDone, pool.front().cost, pool.front().bins.size(), start);
  // The improvement steps can reorder plans of one cost, so every kept plan gets them, each
  // until the clock runs out; a step is finished or not begun, so every plan stays complete.
  for (PlanCandidate& kept : pool) kept.evaluated = false;
  forEachIndexInParallel(static_cast<std::int32_t>(pool.size()), [&](std::int32_t index) {
    PlanCandidate& kept = pool[static_cast<std::size_t>(index)];
    WallPacker packer = packerFor(kept.rule);
    improvePlan(kept.bins, packer, items, binTypes, timeUp);
    evaluate(kept);
  });
  std::stable_sort(pool.begin(), pool.end(), betterPlan);
  PlanCandidate& best = pool.front();
  WallPacker packer = packerFor(best.rule);
  balanceBins(best.bins, packer, items, binTypes, balanceLimit, timeUp);
  timedOut = timeUp();
  Individual plan = summary(best, false);
  checkpoint(SearchStage::DONE, roundsDone, plan.cost, plan.bins.size(), start);
  return plan;
}

void PlanSearch::addFilledPlans(std::vector<PlanCandidate>& pool, const StopCheck& stop) {
  if (!fewBoxesPerContainer(items, binTypes, preference)) return;
  for (const double power : FILL_SIZE_POWERS) {
    FillConfig config;
    config.pickupOrder = pickupOrder;
    config.balanceLimit = balanceLimit;
    config.seed = rng();
    config.sizePower = power;
    PlanCandidate filled;
    filled.bins = fillWithCorrections(items, binTypes, preference, config, FILL_ROUNDS, stop);
    refillEmptiest(filled.bins, items, binTypes, preference, config, stop);
    for (const PackedBin& bin : filled.bins) {
      filled.types.push_back(bin.typeIndex);
      for (const Placement& placement : bin.placements) filled.order.push_back(placement.itemIndex);
    }
    // Children change orders within each factory's run, and the packer loads factories in
    // the order given: container by container, but factory by factory first.
    filled.order = groupedOrder(items, filled.order, startingKeys().back());
    // Cut short by the clock: the wall plans stand for it.
    if (stop && stop()) return;
    // Before the last plan, which is scored whatever the clock says.
    pool.insert(pool.end() - 1, std::move(filled));
  }
}

WallPacker PlanSearch::packerFor(WallRule rule) const {
  WallPacker packer(items, binTypes, preference);
  packer.rule = rule;
  packer.pickupOrder = pickupOrder;
  // Long shipments of many like cartons lose a strip along the side wall in every row; shorter
  // ones are loaded whole in many orders, where turning boxes for the rows left some full bins
  // that no arrangement could balance.
  packer.rowTurns = items.size() > WHOLE_REPACK_ITEMS;
  return packer;
}

void PlanSearch::checkpoint(SearchStage stage, std::int32_t round, double cost,
                            std::size_t containers,
                            std::chrono::steady_clock::time_point start) const {
  if (checkInterrupt) checkInterrupt();
  if (!progress) return;
  SearchProgress at;
  at.stage = stage;
  at.round = round;
  at.cost = cost;
  at.containers = static_cast<std::int32_t>(containers);
  at.seconds = secondsSince(start);
  progress(at);
}

}  // namespace stowra
