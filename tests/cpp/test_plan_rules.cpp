#include <doctest/doctest.h>

#include <limits>
#include <random>
#include <vector>

#include "optimize/plan_balance.hpp"
#include "packing/load_balance.hpp"
#include "packing/load_limits.hpp"
#include "packing/pickup_order.hpp"
#include "packing/plan_check.hpp"
#include "packing/wall_packer.hpp"
#include "test_support.hpp"

using namespace stowra;
using namespace stowra::testing;

namespace {

ItemSpec boxOfFactory(double l, double h, double weight, std::int32_t factory) {
  ItemSpec item = makeItem(l, 10, h, weight);
  item.factory = factory;
  return item;
}

}  // namespace

TEST_CASE("a later factory's box never goes behind an earlier factory's box") {
  // Factory 1 loads a short box at the back and a tall one in front of it. The wall rule
  // puts factory 2's box on the short one, behind the tall one, where the crew could not
  // reach it; with the pickup order it goes on the floor in front of the tall box.
  const std::vector<ItemSpec> items{boxOfFactory(10, 10, 1, 1), boxOfFactory(10, 20, 1, 1),
                                    boxOfFactory(10, 10, 1, 2)};
  const std::vector<BinType> types{BinType{"B", 100, 10, 20, 1}};
  for (const bool pickupOrder : {false, true}) {
    WallPacker packer(items, types, {0});
    packer.pickupOrder = pickupOrder;
    const std::vector<PackedBin> bins = packer.pack(std::vector<std::int32_t>{0, 1, 2}, {});
    REQUIRE(bins.size() == 1);
    REQUIRE(bins[0].placements.size() == 3);
    const Placement& late = bins[0].placements[2];
    CHECK(late.x == (pickupOrder ? 20.0 : 0.0));
    CHECK(late.z == (pickupOrder ? 0.0 : 10.0));
    CHECK(keepsPickupOrder(bins[0], items) == pickupOrder);
  }
}

TEST_CASE("the order rule: behind or below with overlapping faces, nothing else") {
  const Box back{0, 0, 0, 10, 10, 10};
  CHECK(mustLoadBefore(back, Box{10, 0, 5, 20, 10, 15}));         // behind, sections overlap
  CHECK_FALSE(mustLoadBefore(back, Box{10, 0, 10, 20, 10, 20}));  // behind but wholly higher
  CHECK_FALSE(mustLoadBefore(back, Box{10, 10, 0, 20, 20, 10}));  // beside, across the width
  CHECK(mustLoadBefore(back, Box{5, 0, 10, 15, 10, 20}));         // below, footprints overlap
  CHECK_FALSE(mustLoadBefore(Box{10, 0, 5, 20, 10, 15}, back));   // in front comes later
}

TEST_CASE("a load moves towards the middle until its weight is balanced") {
  // One 10-long box at the back of a 100-long bin: all its weight in the back half. Moved by
  // 45 it straddles the middle, half in each; nothing can move a box already at the door.
  const std::vector<ItemSpec> items{makeItem(10, 10, 10, 5)};
  PackedBin bin = openBin({BinType{"B", 100, 10, 10, 1}}, 0, 0);
  bin.placements.push_back(Placement{0, 0, 0, 0, 0});
  CHECK(heavierHalfShare(bin, items) == 1.0);
  CHECK(centreLoad(bin, items, 0.6));
  CHECK(bin.placements[0].x == 45.0);
  CHECK(heavierHalfShare(bin, items) == 0.5);

  bin.placements[0].x = 90;
  CHECK_FALSE(centreLoad(bin, items, 0.6));
  CHECK(bin.placements[0].x == 90.0);
}

TEST_CASE("a container that moving cannot balance is loaded again, shorter, and moved") {
  // Two light boxes of factory 1 at the back, factory 2's heavy box at the door: 10 of the
  // 12 kg in the front half and no room to move. Loaded again from the back (the light boxes
  // stacked, the heavy box in front: 20 long) the load moves by 36, so that the heavy box
  // straddles the middle with 4 of its 10 kg behind it, beside the light boxes' 2 kg.
  const std::vector<ItemSpec> items{boxOfFactory(10, 10, 1, 1), boxOfFactory(10, 10, 1, 1),
                                    boxOfFactory(10, 10, 10, 2)};
  const std::vector<BinType> types{BinType{"B", 100, 10, 20, 1}};
  PackedBin bin = openBin(types, 0, 0);
  bin.placements = {Placement{0, 0, 0, 0, 0}, Placement{1, 10, 0, 0, 0}, Placement{2, 90, 0, 0, 0}};
  bin.currentWeight = 12;
  std::vector<PackedBin> bins{bin};
  WallPacker packer(items, types, {0});
  packer.pickupOrder = true;
  balanceBins(bins, packer, items, types, 0.6);
  REQUIRE(bins[0].placements.size() == 3);
  CHECK(heavierHalfShare(bins[0], items) == doctest::Approx(0.5));
  CHECK(bins[0].placements[2].x == 46.0);
  CHECK(keepsPickupOrder(bins[0], items));
  CHECK(bins[0].length == 100.0);
  // A limit of 1 asks nothing: the bin stays as it is.
  std::vector<PackedBin> untouched{bin};
  balanceBins(untouched, packer, items, types, 1.0);
  CHECK(untouched[0].placements[2].x == 90.0);
}

TEST_CASE("a box's weight and what rests on it is shared by contact area, down the chain") {
  // A and B (x 0-10 and 10-20) carry C (x 5-20): 50 cm2 of C's bottom on A, 100 on B, so A
  // takes a third of C's weight and of everything on C. D (3 kg) stands on C alone.
  const std::vector<ItemSpec> items{makeItem(10, 10, 10, 1), makeItem(10, 10, 10, 1),
                                    makeItem(15, 10, 10, 6), makeItem(15, 10, 10, 3)};
  PackedBin bin = openBin({BinType{"B", 20, 10, 40, 1}}, 0, 0);
  bin.placements = {Placement{0, 0, 0, 0, 0}, Placement{1, 10, 0, 0, 0}, Placement{2, 5, 0, 10, 0},
                    Placement{3, 5, 0, 20, 0}};
  const std::vector<double> loads = restingLoads(bin, items);
  REQUIRE(loads.size() == 4);
  CHECK(loads[0] == doctest::Approx(3.0));  // (6 + 3) / 3
  CHECK(loads[1] == doctest::Approx(6.0));
  CHECK(loads[2] == doctest::Approx(3.0));
  CHECK(loads[3] == 0.0);

  // With A limited to 3.5 kg, a box on D passes a third of its weight down to A: 1 kg keeps A
  // at 3 1/3, 2 kg would put 3 2/3 on it.
  std::vector<ItemSpec> limited = items;
  limited[0].maxLoad = 3.5;
  CHECK(keepsLoadLimits(bin, limited));
  const LoadGuard guard(bin, limited);
  const Box onTop{5, 0, 30, 20, 10, 40};
  CHECK(guard.allows(onTop, 1.0));
  CHECK_FALSE(guard.allows(onTop, 2.0));
  CHECK(guard.allows(Box{0, 0, 0, 5, 10, 10}, 100.0));  // on the floor: rests on nothing
  limited[0].maxLoad = 2.5;
  CHECK_FALSE(keepsLoadLimits(bin, limited));
}

TEST_CASE("a guard kept from box to box has the loads and answers of one gathered anew") {
  // Boxes dropped onto random stacks, with weights and contact shares that do not round
  // evenly; now and then one slid under a raised box, or the last taken out.
  std::mt19937 rng(7);
  const auto draw = [&](int n) { return static_cast<double>(rng() % static_cast<unsigned>(n)); };
  std::vector<ItemSpec> items;
  PackedBin bin = openBin({BinType{"B", 100, 100, 1000, 1}}, 0, 0);
  LoadGuard kept;
  int refused = 0;
  for (int step = 0; step < 400; ++step) {
    ItemSpec item =
        makeItem(5 + draw(60) / 4, 5 + draw(60) / 4, 1 + draw(40) / 4, 1 + draw(900) / 7);
    item.maxLoad = draw(4) == 0 ? std::numeric_limits<double>::infinity() : draw(400) / 3;
    Placement at{static_cast<std::int32_t>(items.size()), draw(320) / 4, draw(320) / 4, 0, 0};
    Box box = boxOf(at, item);
    if (draw(12) == 0 && !bin.placements.empty()) {
      const Placement& raised =
          bin.placements[static_cast<std::size_t>(draw(static_cast<int>(bin.placements.size())))];
      at.x = raised.x;
      at.y = raised.y;
      at.z = std::max(0.0, raised.z - item.h);
    } else if (draw(15) == 0 && !bin.placements.empty()) {
      bin.placements.pop_back();
      continue;
    } else {
      for (const Placement& other : bin.placements) {
        const Box below = boxOf(other, items[static_cast<std::size_t>(other.itemIndex)]);
        if (below.x0 < box.x1 && box.x0 < below.x1 && below.y0 < box.y1 && box.y0 < below.y1) {
          at.z = std::max(at.z, below.z1);
        }
      }
    }
    items.push_back(item);
    bin.placements.push_back(at);
    kept.update(bin, items);
    const LoadGuard fresh(bin, items);
    REQUIRE(kept.loads() == fresh.loads());
    box = boxOf(Placement{at.itemIndex, draw(320) / 4, draw(320) / 4, 0, 0}, item);
    for (const Placement& other : bin.placements) {
      const Box below = boxOf(other, items[static_cast<std::size_t>(other.itemIndex)]);
      if (below.x0 < box.x1 && box.x0 < below.x1 && below.y0 < box.y1 && box.y0 < below.y1) {
        box.z0 = std::max(box.z0, below.z1);
      }
    }
    box.z1 = box.z0 + item.h;
    const double weight = draw(2000) / 3;
    const bool allowed = fresh.allows(box, weight);
    CHECK(kept.allows(box, weight) == allowed);
    refused += allowed ? 0 : 1;
  }
  CHECK(refused > 20);  // the limits refuse some places, so both answers are met
}

TEST_CASE("a box too heavy for the box it would stand on goes on the floor") {
  // The wall rule stacks the 5 kg box on the first (its place is further back than the floor
  // beside it) unless the first may carry less than 5 kg.
  const std::vector<BinType> types{BinType{"B", 20, 10, 20, 1}};
  struct Case {
    double maxLoad;
    double z;
  };
  for (const Case c : {Case{std::numeric_limits<double>::infinity(), 10}, Case{5, 10},
                       Case{4.99, 0}, Case{0, 0}}) {
    std::vector<ItemSpec> items{makeItem(10, 10, 10, 1), makeItem(10, 10, 10, 5)};
    items[0].maxLoad = c.maxLoad;
    WallPacker packer(items, types, {0});
    const std::vector<PackedBin> bins = packer.pack(std::vector<std::int32_t>{0, 1}, {});
    REQUIRE(bins.size() == 1);
    REQUIRE(bins[0].placements.size() == 2);
    CHECK(bins[0].placements[1].z == c.z);
    CHECK(keepsLoadLimits(bins[0], items));
  }
}

TEST_CASE("the plan checker finds each broken rule, worked out by hand, and nothing else") {
  // A 10 x 10 x 10 container carrying at most 100; boxes of 4 x 4 x 4 unless said otherwise.
  const std::vector<BinType> types{BinType{"B", 10, 10, 10, 1, 100}};
  struct Case {
    std::string rule;
    std::vector<ItemSpec> items;
    std::vector<std::vector<Placement>> bins;  // placements of each container, of type 0
    std::int32_t container;
    std::vector<std::int32_t> involved;
    double figure;
  };
  const ItemSpec box = makeItem(4, 4, 4, 10);
  ItemSpec flat = makeItem(4, 4, 2, 10);
  ItemSpec fragile = makeItem(4, 4, 4, 10, false);
  // Bridges two boxes side by side: x 0-4 and 4-8, its base x 1-7.
  const ItemSpec wide = makeItem(6, 4, 2, 10);
  const ItemSpec low = makeItem(4, 4, 3, 10);
  const std::vector<Placement> bridged{{0, 0, 0, 0, 0}, {1, 4, 0, 0, 0}, {2, 1, 0, 4, 0}};
  ItemSpec unturnable = makeItem(4, 2, 4, 10);
  unturnable.allowedRotations = {0};
  ItemSpec limited = box;
  limited.maxLoad = 5;
  ItemSpec heavy = makeItem(4, 4, 4, 30);
  const ItemSpec early = boxOfFactory(4, 4, 10, 1);
  const ItemSpec late = boxOfFactory(4, 4, 10, 2);
  const std::vector<Case> cases{
      {"outside", {box}, {{{0, 8, 0, 0, 0}}}, 1, {0}, 2},
      {"overlap", {box, box}, {{{0, 0, 0, 0, 0}, {1, 2, 1, 0, 0}}}, 1, {0, 1}, 2 * 3 * 4},
      {"unsupported", {box}, {{{0, 0, 0, 5, 0}}}, 1, {0}, 16},  // stands on nothing
      // Half of its footprint over the edge of the box below.
      {"unsupported", {box, flat}, {{{0, 0, 0, 0, 0}, {1, 2, 0, 4, 0}}}, 1, {1}, 8},
      // The right one 1 lower: the 3 x 4 over it is not carried.
      {"unsupported", {box, low, wide}, {bridged}, 1, {2}, 12},
      {"non_stackable", {box, fragile, wide}, {bridged}, 1, {2, 1}, 10},
      {"non_stackable", {fragile, flat}, {{{0, 0, 0, 0, 0}, {1, 0, 0, 4, 0}}}, 1, {1, 0}, 10},
      {"weight_limit",
       {heavy, heavy, heavy, heavy},
       {{{0, 0, 0, 0, 0}, {1, 4, 0, 0, 0}, {2, 0, 4, 0, 0}, {3, 4, 4, 0, 0}}},
       1,
       {},
       120},
      {"placed_twice", {box}, {{{0, 0, 0, 0, 0}}, {{0, 0, 0, 0, 0}}}, 2, {0}, 2},
      {"unknown_item", {box}, {{{0, 0, 0, 0, 0}, {3, 4, 0, 0, 0}}}, 1, {3}, 3},
      {"turned", {unturnable}, {{{0, 0, 0, 0, 1}}}, 1, {0}, 4},
      // 30 wholly in the back half, 10 across the middle with a quarter of its length there.
      {"balance", {heavy, box}, {{{0, 0, 0, 0, 0}, {1, 4, 0, 0, 0}}}, 1, {}, 32.5 / 40},
      // The later factory's box stands behind the earlier one's, nearer the back wall.
      {"pickup_order", {early, late}, {{{1, 1, 0, 0, 0}, {0, 5, 0, 0, 0}}}, 1, {1, 0}, 1},
      {"max_load", {limited, box}, {{{0, 0, 0, 0, 0}, {1, 0, 0, 4, 0}}}, 1, {0}, 10},
  };
  for (const Case& c : cases) {
    CAPTURE(c.rule);
    std::vector<PackedBin> plan;
    for (const auto& placements : c.bins) {
      plan.push_back(openBin(types, 0, plan.size()));
      plan.back().placements = placements;
    }
    // The balance and pickup rules are asked for where they are the case: most of these small
    // loads stand in the back half.
    const bool asked = c.rule == "balance" || c.rule == "pickup_order";
    const PlanRules off{1.0, false};
    const std::vector<PlanBreach> found =
        checkPlan(c.items, types, plan, asked ? PlanRules{} : off);
    REQUIRE(found.size() == 1);
    CHECK(found[0].rule == c.rule);
    CHECK(found[0].container == c.container);
    CHECK(found[0].items == c.involved);
    CHECK(found[0].figure == doctest::Approx(c.figure));
    CHECK(found[0].message.starts_with("container " + std::to_string(c.container) + ": "));
    CHECK(checkPlan(c.items, types, plan, off).size() == (asked ? 0U : 1U));
  }
  // Carried whole by two boxes of one height.
  std::vector<PackedBin> plan{openBin(types, 0, 0)};
  plan[0].placements = bridged;
  CHECK(checkPlan({box, box, wide}, types, plan, PlanRules{1.0, false}).empty());
  // A container of a type not in the table is named, and its placements are not read.
  plan[0].typeIndex = 1;
  plan[0].placements = {{7, 50, 0, 0, 0}};
  const std::vector<PlanBreach> found = checkPlan({box}, types, plan);
  REQUIRE(found.size() == 1);
  CHECK(found[0].rule == "unknown_type");
  CHECK(found[0].figure == 1);
}
