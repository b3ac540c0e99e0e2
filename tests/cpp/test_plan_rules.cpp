#include <doctest/doctest.h>

#include <vector>

#include "optimize/plan_balance.hpp"
#include "packing/load_balance.hpp"
#include "packing/pickup_order.hpp"
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
  const std::vector<BinType> types{BinType{"B", 100, 10, 20, 1, 0, true}};
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
  PackedBin bin = openBin({BinType{"B", 100, 10, 10, 1, 0, true}}, 0, 0);
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
  const std::vector<BinType> types{BinType{"B", 100, 10, 20, 1, 0, true}};
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
