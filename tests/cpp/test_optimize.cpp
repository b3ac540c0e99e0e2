#include <doctest/doctest.h>

#include <algorithm>
#include <array>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

#include "candidate/fitness.hpp"
#include "optimize/column_order.hpp"
#include "optimize/item_orders.hpp"
#include "optimize/local_moves.hpp"
#include "optimize/plan_improvement.hpp"
#include "optimize/plan_search.hpp"
#include "packing/pickup_order.hpp"
#include "packing/wall_packer.hpp"
#include "plan_validator.hpp"
#include "test_support.hpp"

using namespace stowra;
using namespace stowra::testing;

namespace {

std::vector<ItemSpec> flatItems(const std::vector<std::pair<double, double>>& bases) {
  std::vector<ItemSpec> items;
  for (const auto& [l, w] : bases) {
    items.push_back(makeItemSpec(
        ItemRow{static_cast<std::int32_t>(items.size()), l, w, 10, 1, 1, true, {}}, items.size()));
  }
  return items;
}

PlanSearch quietSearch(const std::vector<ItemSpec>& items, const std::vector<BinType>& types,
                       std::uint32_t seed) {
  return PlanSearch(items, types, totalItemWeight(items), seed);
}

}  // namespace

TEST_CASE("pack's decoder wins a small case that defeats the wall rule") {
  // One 100 x 100 layer: the five bases fill 79% of it. Whatever the order and the corner
  // rule, placing each box at the rearmost corner strands space beside the 90 x 10 strip and
  // needs a second bin; pack's decoder puts each box into the smallest free space that holds
  // it and fits all five into one. The search keeps that starting plan.
  const auto items = flatItems({{30, 30}, {20, 80}, {50, 30}, {90, 10}, {50, 60}});
  const std::vector<BinType> types{BinType{"B", 100, 100, 10, 1}};
  PlanSearch search = quietSearch(items, types, 1);
  std::vector<PlanCandidate> starts = search.startingCandidates();
  for (PlanCandidate& candidate : starts) search.evaluate(candidate);
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) CHECK(starts[k].bins.size() == 2);
  CHECK(starts.back().bins.size() == 1);
  search.effort = 0;
  CHECK(search.run().bins.size() == 1);
}

TEST_CASE("a bin moves to the cheapest type that holds its items") {
  // Twelve boxes tile 60 x 20 x 10 exactly; the packer opens the big type first.
  std::vector<std::pair<double, double>> bases(12, {10, 10});
  const auto items = flatItems(bases);
  const std::vector<BinType> types{BinType{"big", 200, 20, 10, 9}, BinType{"mid", 80, 20, 10, 5},
                                   BinType{"exact", 60, 20, 10, 4},
                                   BinType{"small", 50, 20, 10, 1}};
  WallPacker packer(items, types, {0, 1, 2, 3});
  const std::vector<std::int32_t> order{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  std::vector<PackedBin> bins = packer.pack(order, {});
  REQUIRE(bins.size() == 1);
  CHECK(bins[0].binType == "big");
  CHECK(retypeBins(bins, packer, items, types, true));
  CHECK((bins[0].binType == "exact" && bins[0].typeIndex == 2));
  CHECK_FALSE(retypeBins(bins, packer, items, types, true));
  CHECK(bins[0].placements.size() == 12);
  finishBins(bins, items);
  CHECK(planFaults(items, types, bins).empty());
}

TEST_CASE("emptying a bin keeps each bin's factories in ascending order") {
  auto items = flatItems({{50, 50}, {50, 50}, {50, 50}});
  items[1].factory = 2;  // the others are of factory 1
  const std::vector<BinType> types{BinType{"B", 100, 100, 10, 1}};
  WallPacker packer(items, types, {0});
  // Bin 1 already loads factory 2, so factory 1's box cannot follow it there...
  std::vector<PackedBin> bins = packer.pack(std::vector<std::int32_t>{1}, {});
  std::vector<PackedBin> second = packer.pack(std::vector<std::int32_t>{2}, {});
  bins.push_back(std::move(second.front()));
  CHECK_FALSE(emptyBin(bins, 1, packer, items));
  CHECK(bins.size() == 2);
  // ...but factory 2's box may follow factory 1's.
  CHECK(emptyBin(bins, 0, packer, items));
  REQUIRE(bins.size() == 1);
  CHECK(bins[0].id == 1);
  CHECK(bins[0].placements.size() == 2);
  finishBins(bins, items);
  CHECK(planFaults(items, types, bins).empty());
}

TEST_CASE("two full bins merge into one cheaper bin, factories in order, only when it saves") {
  // Each 60 x 20 bin is full with six 10 x 20 boxes, so neither can be emptied into the other;
  // the 120 x 20 type holds both loads.
  for (const double wholeCost : {8.0, 10.0}) {
    auto items = flatItems(std::vector<std::pair<double, double>>(12, {10, 20}));
    for (std::size_t k = 0; k < 6; ++k) items[k].factory = 2;
    const std::vector<BinType> types{BinType{"half", 60, 20, 10, 5},
                                     BinType{"whole", 120, 20, 10, wholeCost}};
    WallPacker packer(items, types, {0, 1});
    std::vector<PackedBin> bins = packer.pack(std::vector<std::int32_t>{0, 1, 2, 3, 4, 5}, {});
    std::vector<PackedBin> second = packer.pack(std::vector<std::int32_t>{6, 7, 8, 9, 10, 11}, {});
    bins.push_back(std::move(second.front()));
    REQUIRE(bins.size() == 2);
    CHECK_FALSE(emptyBin(bins, 0, packer, items));
    const bool saves = wholeCost < 10.0;
    CHECK(mergeBins(bins, packer, items, types) == saves);
    REQUIRE(bins.size() == (saves ? 1U : 2U));
    if (!saves) continue;
    CHECK((bins[0].binType == "whole" && bins[0].typeIndex == 1));
    REQUIRE(bins[0].placements.size() == 12);
    CHECK(items[bins[0].placements.front().itemIndex].factory == 1);
    CHECK(items[bins[0].placements.back().itemIndex].factory == 2);
    finishBins(bins, items);
    CHECK(planFaults(items, types, bins).empty());
  }
}

TEST_CASE("a row across the bin turns boxes where that leaves less width over") {
  // 70 x 50 boxes across 234 cm: three with the short side along x leave 24 cm that nothing
  // fills; one that way and three turned fill 220 cm. The bin is one box deep either way.
  const auto items = flatItems(std::vector<std::pair<double, double>>(5, {70, 50}));
  const std::vector<BinType> types{BinType{"row", 70, 234, 10, 1}};
  for (std::int32_t rule = 0; rule < WALL_RULE_COUNT; ++rule) {
    for (const bool rowTurns : {false, true}) {
      WallPacker packer(items, types, {0});
      packer.rule = static_cast<WallRule>(rule);
      packer.rowTurns = rowTurns;
      std::vector<PackedBin> bins = packer.pack(std::vector<std::int32_t>{0, 1, 2, 3, 4}, {});
      REQUIRE(bins.size() == 2);
      // Boxes 50 or 70 across: 220 takes four of them, 210 three.
      double across = 0.0;
      for (const Placement& placement : bins[0].placements) {
        across += extentsOf(items[placement.itemIndex], placement.rotation).dy;
      }
      CHECK(across == (rowTurns ? 220.0 : 210.0));
      finishBins(bins, items);
      CHECK(planFaults(items, types, bins).empty());
    }
  }
}

TEST_CASE("boxes that carry nothing ride on columns instead of taking the floor") {
  // The 20 x 10 x 30 bin holds two 10 x 10 x 10 boxes, each under a 10 x 10 x 20 box that
  // carries nothing, exactly. By volume the tall boxes come first and take the whole floor, and
  // nothing may stand on them: two bins. In columns each tall box tops a short one: one bin.
  std::vector<ItemSpec> items = {makeItem(10, 10, 20, 1, false), makeItem(10, 10, 10),
                                 makeItem(10, 10, 20, 1, false), makeItem(10, 10, 10)};
  items[0].factory = items[1].factory = 2;
  items[2].factory = items[3].factory = 1;
  const std::vector<BinType> types{BinType{"B", 20, 10, 30, 1}};
  const std::vector<std::int32_t> all{0, 1, 2, 3};
  const std::vector<std::int32_t> columns = columnOrder(items, all, 30);
  // Factory 1's column first, each column from the bottom up.
  CHECK(columns == std::vector<std::int32_t>{3, 2, 1, 0});
  for (std::int32_t rule = 0; rule < WALL_RULE_COUNT; ++rule) {
    WallPacker packer(items, types, {0});
    packer.rule = static_cast<WallRule>(rule);
    CHECK(packer.pack(groupedOrder(items, all, startingKeys().front()), {}).size() == 2);
    CHECK(packer.pack(columns, {}).size() == 1);
  }
  PlanSearch search = quietSearch(items, types, 1);
  search.effort = 0;
  const Individual best = search.run();
  CHECK(best.bins.size() == 1);
  CHECK(planFaults(items, types, best.bins).empty());
}

TEST_CASE("the search ends after a run of rounds without a better plan, or at an exception") {
  // Two boxes side by side fill the bin: no round can find a better plan, so effort 2 ends
  // after 20 stalled rounds (10 a level, as the README has it) instead of running all 60.
  const auto items = flatItems({{10, 10}, {10, 10}});
  const std::vector<BinType> types{BinType{"B", 20, 10, 10, 1}};
  PlanSearch search = quietSearch(items, types, 1);
  std::vector<SearchProgress> reports;
  search.progress = [&](const SearchProgress& at) { reports.push_back(at); };
  CHECK(search.run().bins.size() == 1);
  // Scored starts, one report a round, then the improvement and the end, each with the rounds
  // done and the one-bin plan.
  const std::int32_t stalled = 20;  // ten rounds a level of effort
  REQUIRE(reports.size() == static_cast<std::size_t>(stalled) + 3);
  for (std::size_t k = 0; k < reports.size(); ++k) {
    const SearchStage stage = k == 0                    ? SearchStage::START
                              : k + 2 < reports.size()  ? SearchStage::SEARCH
                              : k + 2 == reports.size() ? SearchStage::IMPROVE
                                                        : SearchStage::DONE;
    CHECK(reports[k].stage == stage);
    CHECK(reports[k].round == std::min(static_cast<std::int32_t>(k), stalled));
    CHECK(reports[k].cost == 1.0);
    CHECK(reports[k].containers == 1);
    if (k > 0) CHECK(reports[k].seconds >= reports[k - 1].seconds);
  }
  // Thrown at the first round's end of a second run, as the binding throws for Ctrl-C or a failing
  // callable: the rounds stop and nothing else is reported.
  reports.clear();
  search.progress = [&](const SearchProgress& at) {
    reports.push_back(at);
    if (at.stage == SearchStage::SEARCH) throw std::runtime_error("stop");
  };
  CHECK_THROWS_AS(search.run(), std::runtime_error);
  REQUIRE(reports.size() == 2);
  CHECK((reports[0].stage == SearchStage::START && reports[1].stage == SearchStage::SEARCH));
}

TEST_CASE("moves on a few bins keep every item, the bins they do not touch and the loading rules") {
  // 160 boxes of four kinds from two factories, some carrying at most a light load, loaded
  // twenty at a time into bins of two types: a loose plan of eight bins or more for the moves to
  // work on (a chunk of two factories may take two), with room to empty a bin into the others.
  const std::vector<std::array<double, 3>> kinds{
      {10, 10, 10}, {20, 10, 10}, {20, 20, 10}, {30, 20, 15}};
  std::vector<ItemSpec> items;
  for (std::size_t k = 0; k < 160; ++k) {
    const auto& [l, w, h] = kinds[k % kinds.size()];
    items.push_back(makeItem(l, w, h, static_cast<double>(1 + k % 7)));
    items.back().factory = 1 + static_cast<std::int32_t>(k % 3 == 0);
    if (k % 5 == 0) items.back().maxLoad = 2.0;
  }
  const std::vector<BinType> types{BinType{"S", 60, 40, 30, 3}, BinType{"L", 120, 40, 30, 5}};
  WallPacker packer(items, types, {1, 0});
  packer.pickupOrder = true;
  const std::vector<std::int32_t> order = groupedOrder(items, startingKeys().front());
  std::vector<PackedBin> bins;
  for (std::size_t start = 0; start < order.size(); start += 20) {
    const std::span<const std::int32_t> chunk(order.data() + start, 20);
    for (PackedBin& bin : packer.pack(chunk, {})) bins.push_back(std::move(bin));
  }
  REQUIRE(bins.size() >= 8);
  // Later factories' bins first: first fit then meets them before any bin an item may join.
  std::reverse(bins.begin(), bins.end());
  const auto same = [](const PackedBin& a, const PackedBin& b) {
    return a.binType == b.binType && samePlacements(a.placements, b.placements);
  };
  std::mt19937 rng(7);
  std::int32_t made = 0;
  std::int32_t emptied = 0;
  std::int32_t toppedUp = 0;
  // Without the pickup rule only the moves keep each bin's factories in placement order.
  for (const bool pickup : {true, false}) {
    packer.pickupOrder = pickup;
    // Drawn moves, then every bin emptied and thinned in turn.
    for (std::size_t draws = 0; draws < 60 + 2 * bins.size(); ++draws) {
      const std::size_t victim = (draws - 60) / 2;
      const MoveDraw draw = draws < 60 ? drawMove(bins, rng) : MoveDraw{};
      const auto move = draws < 60       ? makeMove(bins, draw, packer, items, types)
                        : draws % 2 == 0 ? emptyMove(bins, victim, packer, items)
                                         : thinMove(bins, victim, packer, items, types);
      if (!move) continue;
      ++made;
      emptied += move->built.size() < move->positions.size() ? 1 : 0;
      // A top-up is there to fill bins: it never opens one more than it replaces.
      if (draws < 60 && draw.kind == MoveDraw::Kind::TOP_UP) {
        ++toppedUp;
        CHECK(move->built.size() <= move->positions.size());
      }
      std::vector<PackedBin> changed = applyMove(bins, *move);
      // The bins the move did not touch come through as they were, in their order.
      std::size_t next = 0;
      for (std::size_t b = 0; b < bins.size(); ++b) {
        if (std::find(move->positions.begin(), move->positions.end(), b) != move->positions.end()) {
          continue;
        }
        while (next < changed.size() && !same(changed[next], bins[b])) ++next;
        CHECK(next < changed.size());
      }
      std::size_t placed = 0;
      for (std::size_t b = 0; b < changed.size(); ++b) {
        const PackedBin& bin = changed[b];
        CHECK(bin.id == static_cast<std::int32_t>(b + 1));
        placed += bin.placements.size();
        CHECK(std::is_sorted(bin.placements.begin(), bin.placements.end(),
                             [&](const Placement& p, const Placement& q) {
                               return items[p.itemIndex].factory < items[q.itemIndex].factory;
                             }));
        CHECK((!pickup || keepsPickupOrder(bin, items)));
      }
      CHECK(placed == items.size());
      // The checker's load limits too: some boxes bear at most 2.
      finishBins(changed, items);
      CHECK(planFaults(items, types, changed).empty());
    }
  }
  CHECK(made > 0);
  CHECK(emptied > 0);
  CHECK(toppedUp > 0);
}
