#include <doctest/doctest.h>

#include <array>
#include <vector>

#include "packing/free_space_update.hpp"
#include "test_problems.hpp"

using namespace stowra;
using stowra::testing::makeBinType;
using stowra::testing::makeItem;

namespace {

// length, width, height, x, y, z
using SpaceRow = std::array<double, 6>;

std::vector<SpaceRow> rowsOf(const PackedBin& bin) {
  std::vector<SpaceRow> rows;
  for (const FreeSpace& s : bin.freeSpaces) {
    rows.push_back({s.length, s.width, s.height, s.x, s.y, s.z});
  }
  return rows;
}

FreeSpace placeFirstFit(PackedBin& bin, const ItemSpec& item, std::int32_t index,
                        std::int32_t rotation = 0) {
  const auto space = tryFit(bin, item, rotation);
  REQUIRE(space.has_value());
  placeItem(bin, index, item, *space, rotation);
  return *space;
}

PackedBin emptyBin(double l, double w, double h, double weightLimit = 0.0) {
  return openBin({makeBinType("20GP", l, w, h, 1.0, weightLimit)}, 0, 0);
}

}  // namespace

TEST_CASE("two small items in a 10 x 8 x 10 bin leave exactly the expected spaces") {
  PackedBin bin = emptyBin(10, 8, 10);
  const ItemSpec a = makeItem(1, 1, 1);
  const ItemSpec b = makeItem(2, 2, 2);

  placeFirstFit(bin, a, 0);
  CHECK(rowsOf(bin) == std::vector<SpaceRow>{{1, 1, 9, 0, 0, 1},     // volume 9
                                             {10, 7, 10, 0, 1, 0},   // 700
                                             {9, 8, 10, 1, 0, 0}});  // 720

  SUBCASE("a stackable second item") {
    // The 1x1x9 column is too small; the 700 space is the smallest that holds B.
    const FreeSpace used = placeFirstFit(bin, b, 1);
    CHECK(used.x == 0);
    CHECK(used.y == 1);
    CHECK(used.z == 0);
    // The x-slab of the used space lies inside 9x8x10 and is dropped; 9x8x10 is cut around B.
    CHECK(rowsOf(bin) == std::vector<SpaceRow>{{1, 1, 9, 0, 0, 1},
                                               {1, 2, 8, 1, 1, 2},
                                               {2, 2, 8, 0, 1, 2},
                                               {9, 1, 10, 1, 0, 0},
                                               {9, 5, 10, 1, 3, 0},
                                               {10, 5, 10, 0, 3, 0},
                                               {8, 8, 10, 2, 0, 0}});
    CHECK(bin.placements.size() == 2);
    CHECK(bin.currentWeight == 2);
    CHECK(bin.spaceUtilization == 1.0 / 800 + 8.0 / 800);
  }

  SUBCASE("a non-stackable second item gets nothing on top") {
    ItemSpec flat = b;
    flat.stackable = false;
    placeFirstFit(bin, flat, 1);
    // Same as above less the column over B and the piece above B's overlap.
    CHECK(rowsOf(bin) == std::vector<SpaceRow>{{1, 1, 9, 0, 0, 1},
                                               {9, 1, 10, 1, 0, 0},
                                               {9, 5, 10, 1, 3, 0},
                                               {10, 5, 10, 0, 3, 0},
                                               {8, 8, 10, 2, 0, 0}});
  }
}

TEST_CASE("a unit cube in an empty 10 x 10 x 10 bin") {
  PackedBin bin = emptyBin(10, 10, 10);
  SUBCASE("stackable: column, then the two equal slabs in the order made") {
    placeFirstFit(bin, makeItem(1, 1, 1), 0);
    CHECK(rowsOf(bin) ==
          std::vector<SpaceRow>{{1, 1, 9, 0, 0, 1}, {9, 10, 10, 1, 0, 0}, {10, 9, 10, 0, 1, 0}});
  }
  SUBCASE("non-stackable: only the slabs") {
    placeFirstFit(bin, makeItem(1, 1, 1, 1.0, false), 0);
    CHECK(rowsOf(bin) == std::vector<SpaceRow>{{9, 10, 10, 1, 0, 0}, {10, 9, 10, 0, 1, 0}});
  }
}

TEST_CASE("boundaries of a fit") {
  SUBCASE("an item exactly the size of the bin fits and leaves nothing") {
    PackedBin bin = emptyBin(4, 3, 2);
    placeFirstFit(bin, makeItem(4, 3, 2), 0);
    CHECK(bin.freeSpaces.empty());
    CHECK(bin.spaceUtilization == 1);
  }
  SUBCASE("an item as tall as its space leaves no piece above it") {
    PackedBin bin = emptyBin(10, 10, 5);
    placeFirstFit(bin, makeItem(10, 4, 5), 0);
    CHECK(rowsOf(bin) == std::vector<SpaceRow>{{10, 6, 5, 0, 4, 0}});
  }
  SUBCASE("a turned item swaps its footprint") {
    PackedBin bin = emptyBin(3, 5, 1);
    const ItemSpec item = makeItem(5, 3, 1);
    CHECK_FALSE(tryFit(bin, item, 0).has_value());  // 5 along a length of 3
    placeFirstFit(bin, item, 0, 1);
    CHECK(bin.freeSpaces.empty());
    CHECK(bin.placements[0].rotation == 1);
  }
  SUBCASE("one length unit too long fits nowhere") {
    PackedBin bin = emptyBin(4, 3, 2);
    CHECK_FALSE(tryFit(bin, makeItem(4.5, 3, 2), 0).has_value());
    CHECK_FALSE(tryFit(bin, makeItem(4, 3, 2.5), 0).has_value());
  }
}

TEST_CASE("weight limit") {
  const ItemSpec first = makeItem(1, 1, 1, 30.0);
  struct Case {
    double limit;
    double secondWeight;
    bool fits;
  };
  const Case cases[] = {
      {0.0, 1e9, true},    // no limit
      {-5.0, 1e9, true},   // a negative limit means none too
      {50.0, 20.0, true},  // exactly at the limit
      {50.0, 21.0, false},
  };
  for (const Case& c : cases) {
    CAPTURE(c.limit);
    CAPTURE(c.secondWeight);
    PackedBin bin = emptyBin(10, 10, 10, c.limit);
    placeFirstFit(bin, first, 0);
    CHECK(tryFit(bin, makeItem(1, 1, 1, c.secondWeight), 0).has_value() == c.fits);
  }
}

TEST_CASE("free spaces of volume at most 0.001 are dropped") {
  // The slab beyond a 2-long item is 1 x 1 x 0.001: exactly the floor, so it goes.
  PackedBin thin = emptyBin(3, 1, 0.001);
  placeFirstFit(thin, makeItem(2, 1, 0.001), 0);
  CHECK(thin.freeSpaces.empty());

  // The same slab 1.5 long is just above the floor and stays.
  PackedBin wider = emptyBin(3.5, 1, 0.001);
  placeFirstFit(wider, makeItem(2, 1, 0.001), 0);
  CHECK(rowsOf(wider) == std::vector<SpaceRow>{{1.5, 1, 0.001, 2, 0, 0}});
}

TEST_CASE("the smallest space that holds the item is taken, wherever it is") {
  PackedBin bin = emptyBin(10, 10, 10);
  placeFirstFit(bin, makeItem(6, 6, 6), 0);
  // Spaces now: column 6x6x4 on the item, slabs 4x10x10 and 10x4x10.
  // A 3x3x3 cube fits all three; the column (144) is the smallest.
  const FreeSpace used = placeFirstFit(bin, makeItem(3, 3, 3), 1);
  CHECK(used.z == 6);
  CHECK(used.x == 0);
  CHECK(used.y == 0);
}

TEST_CASE("split rules make their pieces in order") {
  const FreeSpace space{10, 8, 6, 1, 2, 3, true, 4};

  SUBCASE("after placement: x-slab, y-slab, column; all counted once") {
    const SpacePieces pieces = splitAfterPlacement(space, 4, 5, 2, true);
    REQUIRE(pieces.count == 3);
    CHECK(pieces.pieces[0].length == 6);
    CHECK(pieces.pieces[0].x == 5);
    CHECK(pieces.pieces[1].width == 3);
    CHECK(pieces.pieces[1].y == 7);
    CHECK(pieces.pieces[2].height == 4);
    CHECK(pieces.pieces[2].z == 5);
    for (const FreeSpace& piece : pieces) CHECK(piece.copies == 1);
    CHECK(splitAfterPlacement(space, 4, 5, 2, false).count == 2);
    CHECK(splitAfterPlacement(space, 10, 8, 6, true).count == 0);
  }

  SUBCASE("around an overlap strictly inside: all six pieces, inheriting the count") {
    const OverlapBox box{3, 5, 4, 6, 4, 7, true};  // inside [1,11] x [2,10] x [3,9]
    const SpacePieces pieces = splitAroundOverlap(space, box);
    REQUIRE(pieces.count == 6);
    const std::vector<SpaceRow> expected = {
        {2, 8, 6, 1, 2, 3},   // left
        {6, 8, 6, 5, 2, 3},   // right
        {10, 4, 6, 1, 6, 3},  // back
        {10, 2, 6, 1, 2, 3},  // front
        {2, 2, 2, 3, 4, 7},   // above
        {2, 2, 1, 3, 4, 3},   // below
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const FreeSpace& p = pieces.pieces[i];
      CAPTURE(i);
      CHECK(SpaceRow{p.length, p.width, p.height, p.x, p.y, p.z} == expected[i]);
      CHECK(p.copies == 4);
    }
    OverlapBox closed = box;
    closed.openTop = false;
    CHECK(splitAroundOverlap(space, closed).count == 5);
  }
}
