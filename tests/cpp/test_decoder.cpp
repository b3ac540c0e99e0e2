#include <doctest/doctest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "literal_decoder.hpp"
#include "packing/bin_packer.hpp"
#include "plan_validator.hpp"
#include "test_problems.hpp"

using namespace stowra;
using stowra::testing::makeBinType;
using stowra::testing::makeItem;

namespace {

using Genes = std::vector<std::int32_t>;

std::vector<std::int32_t> itemsIn(const PackedBin& bin) {
  std::vector<std::int32_t> indices;
  for (const Placement& p : bin.placements) indices.push_back(p.itemIndex);
  return indices;
}

std::vector<std::string> typesOf(const std::vector<PackedBin>& bins) {
  std::vector<std::string> names;
  for (const PackedBin& bin : bins) names.push_back(bin.binType);
  return names;
}

Genes identityOrder(std::size_t n) {
  Genes order;
  for (std::size_t i = 0; i < n; ++i) order.push_back(static_cast<std::int32_t>(i));
  return order;
}

}  // namespace

TEST_CASE("four slabs into 10 x 10 x 10 bins go back to the first bin when it has room") {
  const std::vector<BinType> types = {makeBinType("cube", 10, 10, 10)};
  // Heights 6 and 7 cannot share a bin; 4 then fits over the 6 and 3 over the 7.
  const std::vector<ItemSpec> items = {makeItem(10, 10, 6), makeItem(10, 10, 7),
                                       makeItem(10, 10, 4), makeItem(10, 10, 3)};
  BinPacker packer(items, types);
  packer.packSequence(Genes{0, 1, 2, 3}, Genes{0, 0, 0, 0}, Genes{});
  const auto& bins = packer.bins();
  REQUIRE(bins.size() == 2);
  CHECK(bins[0].id == 1);
  CHECK(bins[1].id == 2);
  CHECK(itemsIn(bins[0]) == Genes{0, 2});
  CHECK(itemsIn(bins[1]) == Genes{1, 3});
  CHECK(bins[0].placements[1].z == 6);
  CHECK(bins[1].placements[1].z == 7);
  CHECK(bins[0].placements[0].z == 0);
  CHECK(bins[1].placements[0].z == 0);
}

TEST_CASE("bin types follow the genes, then the default") {
  const std::vector<BinType> types = {makeBinType("20GP", 10, 10, 10),
                                      makeBinType("40GP", 20, 10, 10)};
  // Three full-size cubes of the larger type: each needs a bin of its own.
  const std::vector<ItemSpec> items = {makeItem(10, 10, 10), makeItem(10, 10, 10),
                                       makeItem(10, 10, 10)};
  BinPacker packer(items, types);

  SUBCASE("an empty order still opens one bin") {
    packer.packSequence(Genes{}, Genes{0, 0, 0}, Genes{1});
    CHECK(typesOf(packer.bins()) == std::vector<std::string>{"40GP"});
    CHECK(packer.bins()[0].placements.empty());
    packer.packSequence(Genes{}, Genes{0, 0, 0}, Genes{});
    REQUIRE(packer.bins().size() == 1);
    CHECK(packer.bins()[0].binType == types[packer.defaultBinType()].id);
  }

  SUBCASE("genes (0, 0) then the default for the third bin") {
    // Total volume 3000 over a 2000 second type: ratio 1.5, so the default is type 1.
    REQUIRE(packer.defaultBinType() == 1);
    packer.packSequence(identityOrder(3), Genes{0, 0, 0}, Genes{0, 0});
    CHECK(typesOf(packer.bins()) == std::vector<std::string>{"20GP", "20GP", "40GP"});
    CHECK(itemsIn(packer.bins()[2]) == Genes{2});
  }

  SUBCASE("out-of-range genes are clamped") {
    packer.packSequence(identityOrder(3), Genes{0, 0, 0}, Genes{-1, 7, -1});
    // Bin 2 is a 40GP and takes two cubes; nothing is left for a third bin.
    CHECK(typesOf(packer.bins()) == std::vector<std::string>{"20GP", "40GP"});
    CHECK(packer.binTypeCodes() == Genes{0, 1});
  }
}

TEST_CASE("other rotations are tried only in a new bin") {
  const std::vector<BinType> types = {makeBinType("box", 10, 4, 5)};
  // Item 1 is 5 wide, more than the bin's width 4, so unturned it fits nowhere. Turned
  // (5 along x) it would fit the 5 x 4 x 5 left beside item 0, but an existing bin is tried
  // in the gene rotation only: it opens bin 2 and is turned there.
  const std::vector<ItemSpec> items = {makeItem(5, 4, 5), makeItem(3, 5, 5)};
  BinPacker packer(items, types);
  packer.packSequence(Genes{0, 1}, Genes{0, 0}, Genes{});
  const auto& bins = packer.bins();
  REQUIRE(bins.size() == 2);
  REQUIRE(bins[1].placements.size() == 1);
  CHECK(bins[1].placements[0].rotation == 1);

  // With the gene already turned it goes into the first bin beside item 0.
  packer.packSequence(Genes{0, 1}, Genes{0, 1}, Genes{});
  REQUIRE(packer.bins().size() == 1);
  CHECK(packer.bins()[0].placements[1].x == 5);
  CHECK(packer.bins()[0].placements[1].rotation == 1);
}

TEST_CASE("an item too heavy for every bin is left out and its empty bin stays") {
  const std::vector<BinType> types = {makeBinType("box", 10, 10, 10, 1.0, 50.0)};
  const std::vector<ItemSpec> items = {makeItem(5, 5, 5, 40.0), makeItem(1, 1, 1, 60.0),
                                       makeItem(1, 1, 1, 20.0)};
  BinPacker packer(items, types);
  packer.packSequence(identityOrder(3), Genes{0, 0, 0}, Genes{});
  const auto& bins = packer.bins();
  // Item 1 exceeds the limit alone; item 2 would fit bin 1 by size but 40 + 20 > 50, so it is
  // tried first in the empty bin 2, which takes it.
  REQUIRE(bins.size() == 2);
  CHECK(itemsIn(bins[0]) == Genes{0});
  CHECK(itemsIn(bins[1]) == Genes{2});
}

TEST_CASE("after filling an earlier bin the decoder returns to the current one") {
  const std::vector<BinType> types = {makeBinType("box", 10, 10, 10)};
  // 8 fills most of bin 1, 9 opens bin 2, 2 drops back into bin 1, 1 then goes to bin 2 first.
  const std::vector<ItemSpec> items = {makeItem(10, 10, 8), makeItem(10, 10, 9),
                                       makeItem(10, 10, 2), makeItem(10, 10, 1)};
  BinPacker packer(items, types);
  packer.packSequence(identityOrder(4), Genes{0, 0, 0, 0}, Genes{});
  REQUIRE(packer.bins().size() == 2);
  CHECK(itemsIn(packer.bins()[0]) == Genes{0, 2});
  CHECK(itemsIn(packer.bins()[1]) == Genes{1, 3});
}

TEST_CASE("a bin-type gene never costs an item its place") {
  const std::vector<BinType> types = {makeBinType("20GP", 590, 234, 230, 1500),
                                      makeBinType("40GP", 1203, 234, 230, 2800)};
  // A 700-long pipe fits only the 40GP; its gene asks for a 20GP.
  const std::vector<ItemSpec> items = {makeItem(100, 100, 100), makeItem(700, 30, 30)};
  BinPacker packer(items, types);

  SUBCASE("the new bin becomes a 40GP with the same number") {
    packer.packSequence(Genes{0, 1}, Genes{0, 0}, Genes{0, 0});
    const auto& bins = packer.bins();
    REQUIRE(bins.size() == 2);
    CHECK(bins[1].id == 2);
    CHECK(bins[1].binType == "40GP");
    CHECK(bins[1].cost == 2800);
    CHECK(itemsIn(bins[1]) == Genes{1});
    CHECK(packer.binTypeCodes() == Genes{0, 1});
  }

  SUBCASE("the first bin, opened before any item, keeps its gene's type") {
    // The pipe comes first and cannot enter the first bin (a 20GP); the default for a load
    // this small is also a 20GP, so the bin opened for the pipe becomes a 40GP.
    REQUIRE(packer.defaultBinType() == 0);
    packer.packSequence(Genes{1, 0}, Genes{0, 0}, Genes{0});
    const auto& bins = packer.bins();
    REQUIRE(bins.size() == 2);
    CHECK(bins[0].binType == "20GP");
    CHECK(bins[0].placements.empty());
    CHECK(bins[1].binType == "40GP");
    CHECK(itemsIn(bins[1]) == Genes{1, 0});  // the cube tries the current bin first
  }

  SUBCASE("a heavy item that no type can hold is still left out") {
    std::vector<BinType> limited = types;
    limited[0].weight_limit = 10;
    limited[1].weight_limit = 10;
    const std::vector<ItemSpec> heavy = {makeItem(100, 100, 100, 5), makeItem(700, 30, 30, 11)};
    BinPacker heavyPacker(heavy, limited);
    heavyPacker.packSequence(Genes{0, 1}, Genes{0, 0}, Genes{0, 0});
    REQUIRE(heavyPacker.bins().size() == 2);
    CHECK(heavyPacker.bins()[1].binType == "20GP");  // the gene's type, empty
    CHECK(heavyPacker.bins()[1].placements.empty());
  }
}

TEST_CASE("default bin type") {
  SUBCASE("a single type is always the default") {
    const std::vector<BinType> types = {makeBinType("20GP", 10, 10, 10)};
    const std::vector<ItemSpec> items = {makeItem(10, 10, 10, 1e6)};
    CHECK(BinPacker(items, types).defaultBinType() == 0);
  }

  SUBCASE("the first item alone heavier than the first type's limit") {
    const std::vector<BinType> types = {makeBinType("20GP", 10, 10, 10, 1, 100),
                                        makeBinType("40GP", 10, 10, 20)};
    const std::vector<ItemSpec> items = {makeItem(1, 1, 1, 101)};
    CHECK(BinPacker(items, types).defaultBinType() == 1);
  }

  SUBCASE("volume ratio and weight rules") {
    // Type 0: volume 1000, limit 100; type 1: volume 2000. Items are 10 x 10 x h cartons.
    const std::vector<BinType> types = {makeBinType("20GP", 10, 10, 10, 1, 100),
                                        makeBinType("40GP", 20, 10, 10)};
    struct Case {
      double totalHeight;  // total volume = 100 x this
      double weightEach;   // two items
      std::int32_t expected;
    };
    const Case cases[] = {
        {15, 1, 1},   // ratio 0.75 > 0.7
        {5, 1, 0},    // ratio 0.25 < 0.4
        {10, 60, 1},  // ratio 0.5, total weight 120 reaches the limit
        {10, 25, 0},  // ratio 0.5, density 50 / 1000 * 1e6, far above 500
    };
    for (const Case& c : cases) {
      CAPTURE(c.totalHeight);
      CAPTURE(c.weightEach);
      const std::vector<ItemSpec> items = {makeItem(10, 10, c.totalHeight / 2, c.weightEach),
                                           makeItem(10, 10, c.totalHeight / 2, c.weightEach)};
      CHECK(BinPacker(items, types).defaultBinType() == c.expected);
    }
  }

  SUBCASE("density decides when the first type has no limit") {
    const std::vector<BinType> types = {makeBinType("20GP", 10, 10, 10),
                                        makeBinType("40GP", 20, 10, 10)};
    // Volume 1000 (ratio 0.5): 0.4 weighs in at density 400, 0.6 at 600.
    CHECK(BinPacker({makeItem(10, 10, 10, 0.4)}, types).defaultBinType() == 1);
    CHECK(BinPacker({makeItem(10, 10, 10, 0.6)}, types).defaultBinType() == 0);
  }
}

TEST_CASE("bin type codes go by the exact name") {
  const std::vector<BinType> types = {
      makeBinType("20GP", 10, 10, 10), makeBinType("20", 10, 10, 10),
      makeBinType("40GP", 10, 10, 10), makeBinType("20GPX", 10, 10, 10),
      makeBinType("20gp", 10, 10, 10), makeBinType("", 10, 10, 10)};
  // Five full-size cubes, one bin each, the genes naming every type in turn.
  const std::vector<ItemSpec> items(6, makeItem(10, 10, 10));
  BinPacker packer(items, types);
  packer.packSequence(identityOrder(6), Genes(6, 0), Genes{0, 1, 2, 3, 4, 5});
  CHECK(packer.binTypeCodes() == Genes{0, 0, 1, 1, 1, 1});
}

namespace {

using SpaceKey = std::array<double, 6>;

SpaceKey keyOf(double x, double y, double z, double l, double w, double h) {
  return {x, y, z, l, w, h};
}

}  // namespace

TEST_CASE("counted free spaces give the plans of the literal free-space list") {
  std::mt19937 rng(20240611);
  int problemsWithIdenticalSpaces = 0;
  std::size_t longestLiteralList = 0;
  for (int round = 0; round < 600; ++round) {
    // Every third problem has roomy bins, many items to a bin and long space lists.
    const stowra::testing::RandomProblem problem =
        round % 3 == 2 ? stowra::testing::randomProblem(rng, 40, 2.0)
                       : stowra::testing::randomProblem(rng);
    CAPTURE(round);
    BinPacker packer(problem.items, problem.binTypes);
    packer.packSequence(problem.order, problem.rotations, problem.binTypeSequence);
    stowra::testing::LiteralDecoder literal(problem.items, problem.binTypes,
                                            packer.defaultBinType());
    const stowra::testing::LiteralPlan expected =
        literal.decode(problem.order, problem.rotations, problem.binTypeSequence);
    problemsWithIdenticalSpaces += expected.hadIdenticalSpaces ? 1 : 0;
    longestLiteralList = std::max(longestLiteralList, expected.longestSpaceList);

    const auto& bins = packer.bins();
    REQUIRE(bins.size() == expected.bins.size());
    for (std::size_t b = 0; b < bins.size(); ++b) {
      CAPTURE(b);
      const PackedBin& bin = bins[b];
      const stowra::testing::LiteralBin& reference = expected.bins[b];
      CHECK(bin.binType == reference.name);
      CHECK(bin.currentWeight == reference.weight);
      REQUIRE(bin.placements.size() == reference.placements.size());
      for (std::size_t p = 0; p < bin.placements.size(); ++p) {
        const Placement& got = bin.placements[p];
        const Placement& want = reference.placements[p];
        CAPTURE(p);
        CHECK(got.itemIndex == want.itemIndex);
        CHECK(got.rotation == want.rotation);
        CHECK(got.x == want.x);
        CHECK(got.y == want.y);
        CHECK(got.z == want.z);
      }

      // The counted list is the literal one with each space's copies folded into its first.
      std::vector<SpaceKey> literalFirsts;
      std::vector<std::int64_t> literalCounts;
      for (const auto& s : reference.spaces) {
        const SpaceKey key = keyOf(s.x, s.y, s.z, s.length, s.width, s.height);
        const auto seen = std::find(literalFirsts.begin(), literalFirsts.end(), key);
        if (seen == literalFirsts.end()) {
          literalFirsts.push_back(key);
          literalCounts.push_back(1);
        } else {
          ++literalCounts[static_cast<std::size_t>(seen - literalFirsts.begin())];
        }
      }
      std::vector<SpaceKey> countedFirsts;
      std::vector<std::int64_t> countedCounts;
      for (const FreeSpace& s : bin.freeSpaces) {
        countedFirsts.push_back(keyOf(s.x, s.y, s.z, s.length, s.width, s.height));
        countedCounts.push_back(s.copies);
      }
      CHECK(countedFirsts == literalFirsts);
      CHECK(countedCounts == literalCounts);
    }
  }
  // The comparison means little unless duplicates actually arose.
  CHECK(problemsWithIdenticalSpaces > 20);
  MESSAGE("problems with identical spaces: " << problemsWithIdenticalSpaces
                                             << ", longest literal list: " << longestLiteralList);
}

TEST_CASE("decoded plans of random problems are sound and lose no cargo") {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    const stowra::testing::RandomProblem problem =
        stowra::testing::randomProblem(rng, 60, round % 2 == 0 ? 1.0 : 2.5);
    CAPTURE(round);
    BinPacker packer(problem.items, problem.binTypes);
    packer.packSequence(problem.order, problem.rotations, problem.binTypeSequence);
    std::vector<PackedBin> bins = packer.takeBins();
    for (PackedBin& bin : bins) {
      computeCenterOfGravity(bin, problem.items);
      computeUsedExtent(bin, problem.items);
    }
    CHECK(stowra::testing::planFaults(problem.items, problem.binTypes, bins, true) ==
          std::vector<std::string>{});
    CHECK(stowra::testing::lostItems(problem.items, problem.binTypes, bins) ==
          std::vector<std::size_t>{});
  }
}

TEST_CASE("the plan validator notices broken plans") {
  const std::vector<BinType> types = {makeBinType("box", 10, 10, 10, 1.0, 20.0)};
  const std::vector<ItemSpec> items = {makeItem(4, 4, 4, 8), makeItem(2, 2, 2, 8, false),
                                       makeItem(6, 6, 2, 8)};
  BinPacker packer(items, types);
  packer.packSequence(Genes{0, 1}, Genes{0, 0, 0}, Genes{});
  const std::vector<PackedBin> sound = packer.bins();
  REQUIRE(stowra::testing::planFaults(items, types, sound, false).empty());

  struct Breakage {
    const char* what;
    void (*apply)(PackedBin&);
  };
  const Breakage breakages[] = {
      {"overlap", [](PackedBin& b) { b.placements[1].x = 3; }},
      {"outside", [](PackedBin& b) { b.placements[1].x = 9; }},
      {"floating", [](PackedBin& b) { b.placements[1].z = 5; }},
      {"overhang", [](PackedBin& b) { b.placements[1] = {1, 3, 0, 4, 0}; }},
      {"twice", [](PackedBin& b) { b.placements.push_back({1, 6, 6, 0, 0}); }},
      {"weight", [](PackedBin& b) { b.currentWeight += 1; }},
      {"utilization", [](PackedBin& b) { b.spaceUtilization *= 2; }},
      {"over the limit",
       [](PackedBin& b) {
         b.placements.push_back({2, 4, 4, 0, 0});
         b.currentWeight += 8;
         b.spaceUtilization += 72.0 / 1000;
       }},
      {"on a non-stackable box", [](PackedBin& b) { b.placements.push_back({2, 4, 0, 2, 0}); }},
  };
  for (const Breakage& breakage : breakages) {
    CAPTURE(breakage.what);
    std::vector<PackedBin> broken = sound;
    breakage.apply(broken[0]);
    CHECK_FALSE(stowra::testing::planFaults(items, types, broken, false).empty());
  }
}
