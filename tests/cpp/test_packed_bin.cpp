#include <doctest/doctest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "packing/packed_bin.hpp"
#include "test_problems.hpp"

using namespace stowra;
using stowra::testing::makeBinType;
using stowra::testing::makeItem;

TEST_CASE("openBin copies the type, numbers the bin and clamps the index") {
  const std::vector<BinType> types = {makeBinType("20GP", 590, 234, 230, 1500, 28000),
                                      makeBinType("40GP", 1203, 234, 230, 2800, 0)};

  SUBCASE("fields of a fresh bin") {
    const PackedBin bin = openBin(types, 1, 4);
    CHECK(bin.id == 5);
    CHECK(bin.binType == "40GP");
    CHECK(bin.cost == 2800);
    CHECK(bin.weightLimit == 0);
    CHECK(bin.length == 1203);
    CHECK(bin.width == 234);
    CHECK(bin.height == 230);
    CHECK(bin.currentWeight == 0);
    CHECK(bin.spaceUtilization == 0);
    CHECK(bin.placements.empty());
    CHECK(bin.placements.capacity() >= 64);
    CHECK(bin.freeSpaces.capacity() >= 64);
    REQUIRE(bin.freeSpaces.size() == 1);
    const FreeSpace& whole = bin.freeSpaces[0];
    CHECK(whole.length == 1203);
    CHECK(whole.width == 234);
    CHECK(whole.height == 230);
    CHECK(whole.x == 0);
    CHECK(whole.y == 0);
    CHECK(whole.z == 0);
    CHECK(whole.openTop);
    CHECK(whole.copies == 1);
  }

  SUBCASE("indices outside the table") {
    struct Case {
      std::int64_t index;
      const char* expected;
    };
    const Case cases[] = {{7, "40GP"},
                          {2, "40GP"},
                          {-1, "20GP"},
                          {std::numeric_limits<std::int32_t>::max(), "40GP"},
                          {std::numeric_limits<std::int32_t>::min(), "20GP"},
                          {0, "20GP"}};
    for (const Case& c : cases) {
      CAPTURE(c.index);
      CHECK(openBin(types, c.index, 0).binType == c.expected);
    }
  }
}

TEST_CASE("centre of gravity and used extent") {
  const std::vector<BinType> types = {makeBinType("20GP", 10, 8, 6)};
  std::vector<ItemSpec> items = {makeItem(4, 2, 3, 5.0), makeItem(2, 2, 2, 15.0)};

  SUBCASE("an empty bin reports its middle and its full size") {
    PackedBin bin = openBin(types, 0, 0);
    computeCenterOfGravity(bin, items);
    computeUsedExtent(bin, items);
    CHECK(bin.centerOfGravity.x == 5);
    CHECK(bin.centerOfGravity.y == 4);
    CHECK(bin.centerOfGravity.z == 3);
    CHECK(bin.usedExtent.x == 10);
    CHECK(bin.usedExtent.y == 8);
    CHECK(bin.usedExtent.z == 6);
  }

  SUBCASE("one item at the origin, unturned: its own middle and size") {
    PackedBin bin = openBin(types, 0, 0);
    bin.placements.push_back({0, 0, 0, 0, 0});
    computeCenterOfGravity(bin, items);
    computeUsedExtent(bin, items);
    CHECK(bin.centerOfGravity.x == 2);
    CHECK(bin.centerOfGravity.y == 1);
    CHECK(bin.centerOfGravity.z == 1.5);
    CHECK(bin.usedExtent.x == 4);
    CHECK(bin.usedExtent.y == 2);
    CHECK(bin.usedExtent.z == 3);
  }

  SUBCASE("a turned item puts its width along x") {
    PackedBin bin = openBin(types, 0, 0);
    bin.placements.push_back({0, 1, 0, 0, 1});
    computeCenterOfGravity(bin, items);
    computeUsedExtent(bin, items);
    CHECK(bin.centerOfGravity.x == 2);  // 1 + 2 / 2
    CHECK(bin.centerOfGravity.y == 2);  // 4 / 2
    CHECK(bin.usedExtent.x == 3);
    CHECK(bin.usedExtent.y == 4);
  }

  SUBCASE("two items weigh in by weight; the extent takes the farthest faces") {
    PackedBin bin = openBin(types, 0, 0);
    bin.placements.push_back({0, 0, 0, 0, 0});  // centre (2, 1, 1.5), weight 5
    bin.placements.push_back({1, 6, 4, 0, 0});  // centre (7, 5, 1), weight 15
    computeCenterOfGravity(bin, items);
    computeUsedExtent(bin, items);
    CHECK(bin.centerOfGravity.x == doctest::Approx((2 * 5 + 7 * 15) / 20.0));
    CHECK(bin.centerOfGravity.y == doctest::Approx((1 * 5 + 5 * 15) / 20.0));
    CHECK(bin.centerOfGravity.z == doctest::Approx((1.5 * 5 + 1 * 15) / 20.0));
    CHECK(bin.usedExtent.x == 8);
    CHECK(bin.usedExtent.y == 6);
    CHECK(bin.usedExtent.z == 3);
  }

  SUBCASE("weights summing to zero leave the centre where it was") {
    items[0].weight = 3.0;
    items[1].weight = -3.0;
    PackedBin bin = openBin(types, 0, 0);
    bin.placements.push_back({0, 0, 0, 0, 0});
    bin.placements.push_back({1, 6, 4, 0, 0});
    computeCenterOfGravity(bin, items);
    CHECK(bin.centerOfGravity.x == 0);
    CHECK(bin.centerOfGravity.y == 0);
    CHECK(bin.centerOfGravity.z == 0);
  }
}
