#include <doctest/doctest.h>

#include <utility>
#include <vector>

#include "search/fitness.hpp"
#include "search/individual.hpp"
#include "test_problems.hpp"

using namespace stowra;
using stowra::testing::makeBinType;
using stowra::testing::makeItem;

namespace {

// A full 20-foot cube in bin 1; a half-height slab and a small cube on it in a 40-foot bin 2.
struct TwoBinCase {
  std::vector<BinType> types = {makeBinType("20GP", 10, 10, 10, 2),
                                makeBinType("40GP", 20, 10, 10, 3)};
  std::vector<ItemSpec> items = {makeItem(10, 10, 10, 10), makeItem(10, 10, 5, 30),
                                 makeItem(2, 2, 2, 10)};
  Individual individual;

  TwoBinCase() {
    individual.order = {0, 1, 2};
    individual.rotations = {0, 0, 0};
    individual.binTypeSequence = {0, 1};
  }
};

}  // namespace

TEST_CASE("fitness figures of a two-bin plan") {
  TwoBinCase c;
  evaluate(c.individual, c.items, c.types, 50.0);
  const Individual& ind = c.individual;
  REQUIRE(ind.bins.size() == 2);
  // The small cube takes the 10x10x5 column on the slab (smaller than the 10x10x10 beside it).
  CHECK(ind.bins[1].placements[1].z == 5);

  CHECK(ind.evaluated);
  CHECK(ind.cost == 5);
  CHECK(ind.sum20 == 1);
  CHECK(ind.sum40 == 1);
  // Volumes 1000 and 2000; bin 2 holds 500 + 8.
  CHECK(ind.utilization == doctest::Approx((1000.0 + 508.0) / 3000.0));
  // Bin 1 is centred. Bin 2: centre x = y = (5 * 30 + 1 * 10) / 40 = 4, floor middle 5.
  CHECK(ind.centerPenalty == doctest::Approx(2.0));
  // Mean weight 25: |10 - 25| + |40 - 25|.
  CHECK(ind.weightPenalty == doctest::Approx(30.0));
  CHECK(ind.fitness == doctest::Approx(500.0 - 1508.0 / 3.0 + 2.0 + 30.0));
  // The statistics of finished bins are filled in and their free spaces released.
  CHECK(ind.bins[1].centerOfGravity.x == 4);
  CHECK(ind.bins[1].usedExtent.z == 7);
  CHECK(ind.bins[1].freeSpaces.capacity() == 0);
}

TEST_CASE("the mean bin weight counts cargo left out") {
  TwoBinCase c;
  // 100 in all, but only 50 placed: mean 50, |10 - 50| + |40 - 50|.
  evaluate(c.individual, c.items, c.types, 100.0);
  CHECK(c.individual.weightPenalty == doctest::Approx(50.0));
}

TEST_CASE("copies keep figures but not bins") {
  TwoBinCase c;
  evaluate(c.individual, c.items, c.types, 50.0);
  const Individual& source = c.individual;

  SUBCASE("copy construction") {
    Individual copy(source);
    CHECK(copy.order == source.order);
    CHECK(copy.binTypeSequence == source.binTypeSequence);
    CHECK(copy.fitness == source.fitness);
    CHECK(copy.weightPenalty == source.weightPenalty);
    CHECK(copy.evaluated);
    CHECK(copy.bins.empty());
    evaluate(copy, c.items, c.types, 50.0);
    CHECK(copy.bins.empty());  // still evaluated: nothing is decoded

    copy.invalidate();
    CHECK(copy.fitness == -1.0);
    CHECK_FALSE(copy.evaluated);
    evaluate(copy, c.items, c.types, 50.0);
    CHECK(copy.fitness == source.fitness);
    CHECK(copy.centerPenalty == source.centerPenalty);
    REQUIRE(copy.bins.size() == source.bins.size());
    CHECK(copy.bins[1].placements.size() == source.bins[1].placements.size());
  }

  SUBCASE("copy assignment drops the bins the target held") {
    Individual target = source;
    target.invalidate();
    evaluate(target, c.items, c.types, 50.0);
    REQUIRE_FALSE(target.bins.empty());
    target = source;
    CHECK(target.bins.empty());
    CHECK(target.fitness == source.fitness);
  }

  SUBCASE("a move carries the bins") {
    Individual moved = std::move(c.individual);
    CHECK(moved.bins.size() == 2);
    CHECK(moved.evaluated);
  }
}

TEST_CASE("an evaluated individual with negative fitness is not decoded again") {
  // Free bins make the utilization term win: fitness = -1000 * utilization + penalties.
  const std::vector<BinType> types = {makeBinType("20", 10, 10, 10, 0)};
  const std::vector<ItemSpec> items = {makeItem(10, 10, 10, 1)};
  Individual ind;
  ind.order = {0};
  ind.rotations = {0};
  evaluate(ind, items, types, 1.0);
  REQUIRE(ind.fitness < 0);
  CHECK(ind.fitness == -1000.0);
  CHECK(ind.sum20 == 1);

  ind.bins.clear();
  evaluate(ind, items, types, 1.0);
  CHECK(ind.bins.empty());
  CHECK(ind.fitness == -1000.0);
}

TEST_CASE("sum20 and sum40 go by the exact type name") {
  const std::vector<BinType> types = {makeBinType("20", 10, 10, 10),
                                      makeBinType("20GP ", 10, 10, 10),
                                      makeBinType("20gp", 10, 10, 10)};
  const std::vector<ItemSpec> items(3, makeItem(10, 10, 10));
  Individual ind;
  ind.order = {0, 1, 2};
  ind.rotations = {0, 0, 0};
  ind.binTypeSequence = {0, 1, 2};
  evaluate(ind, items, types, 3.0);
  CHECK(ind.sum20 == 1);
  CHECK(ind.sum40 == 2);
}
