#include <doctest/doctest.h>

#include <array>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "literal_decoder.hpp"
#include "packing/bin_packer.hpp"
#include "packing/free_space_update.hpp"
#include "plan_validator.hpp"
#include "search/fitness.hpp"
#include "test_support.hpp"

using namespace stowra;
using namespace stowra::testing;

namespace {

// length, width, height, x, y, z
using SpaceRow = std::array<double, 6>;

std::vector<SpaceRow> rowsOf(const PackedBin& bin) {
  std::vector<SpaceRow> rows;
  for (const FreeSpace& s : bin.freeSpaces)
    rows.push_back({s.length, s.width, s.height, s.x, s.y, s.z});
  return rows;
}

PackedBin emptyBin(double l, double w, double h, double weightLimit = 0.0) {
  return openBin({makeBinType("20GP", l, w, h, 1.0, weightLimit)}, 0, 0);
}

// Places each item into the first space that takes it, unturned.
void placeAll(PackedBin& bin, const std::vector<ItemSpec>& items) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto space = tryFit(bin, items[i], 0);
    REQUIRE(space.has_value());
    placeItem(bin, static_cast<std::int32_t>(i), items[i], *space, 0);
  }
}

// Each bin's type and items, e.g. "20GP[0 2] 40GP[1]".
std::string layout(const std::vector<PackedBin>& bins) {
  std::string text;
  for (const PackedBin& bin : bins) {
    text += (text.empty() ? "" : " ") + bin.binType + "[";
    for (const Placement& p : bin.placements) text += std::to_string(p.itemIndex) + " ";
    if (!bin.placements.empty()) text.pop_back();
    text += "]";
  }
  return text;
}

}  // namespace

TEST_CASE("free spaces after each placement, exactly and in order") {
  const ItemSpec a = makeItem(1, 1, 1), b = makeItem(2, 2, 2), flatB = makeItem(2, 2, 2, 1, false);
  using Case =
      std::tuple<const char*, std::array<double, 3>, std::vector<ItemSpec>, std::vector<SpaceRow>>;
  // clang-format off
  const Case cases[] = {
      // A leaves the column (9), the y-slab (700) and the x-slab (720); B takes the 700 space,
      // the x-slab of what B used lies inside 9x8x10 and is dropped, 9x8x10 is cut around B.
      {"A then B", {10, 8, 10}, {a, b}, {{1, 1, 9, 0, 0, 1}, {1, 2, 8, 1, 1, 2}, {2, 2, 8, 0, 1, 2},
          {9, 1, 10, 1, 0, 0}, {9, 5, 10, 1, 3, 0}, {10, 5, 10, 0, 3, 0}, {8, 8, 10, 2, 0, 0}}},
      // The same less the column over B and the piece above B's overlap.
      {"A then a non-stackable B", {10, 8, 10}, {a, flatB}, {{1, 1, 9, 0, 0, 1},
          {9, 1, 10, 1, 0, 0}, {9, 5, 10, 1, 3, 0}, {10, 5, 10, 0, 3, 0}, {8, 8, 10, 2, 0, 0}}},
      // Column, then the two equal slabs in the order made.
      {"1x1x1", {10, 10, 10}, {a},
          {{1, 1, 9, 0, 0, 1}, {9, 10, 10, 1, 0, 0}, {10, 9, 10, 0, 1, 0}}},
      {"non-stackable 1x1x1", {10, 10, 10}, {makeItem(1, 1, 1, 1, false)},
          {{9, 10, 10, 1, 0, 0}, {10, 9, 10, 0, 1, 0}}},
      {"equality fit leaves nothing", {4, 3, 2}, {makeItem(4, 3, 2)}, {}},
      {"as tall as its space", {10, 10, 5}, {makeItem(10, 4, 5)}, {{10, 6, 5, 0, 4, 0}}},
      // The slab beyond the item is 1 x 1 x 0.001, exactly the floor volume, so it goes ...
      {"volume 0.001 dropped", {3, 1, 0.001}, {makeItem(2, 1, 0.001)}, {}},
      // ... and at 1.5 x 1 x 0.001 it is just above and stays.
      {"volume 0.0015 kept", {3.5, 1, 0.001}, {makeItem(2, 1, 0.001)}, {{1.5, 1, 0.001, 2, 0, 0}}},
  };
  // clang-format on
  for (const auto& [name, size, items, expected] : cases) {
    CAPTURE(name);
    PackedBin bin = emptyBin(size[0], size[1], size[2]);
    placeAll(bin, items);
    CHECK(rowsOf(bin) == expected);
  }
}

TEST_CASE("size and weight boundaries of a fit") {
  // Weight limit, weight of a 1x1x1 placed first (none when 0), the item, whether it fits.
  // clang-format off
  const std::tuple<double, double, ItemSpec, bool> cases[] = {
      {0, 0, makeItem(4.5, 3, 2), false},      // too long
      {0, 0, makeItem(4, 3, 2.5), false},      // too tall
      {0, 30, makeItem(1, 1, 1, 1e9), true},   // no limit
      {-5, 30, makeItem(1, 1, 1, 1e9), true},  // a negative limit means none too
      {50, 30, makeItem(1, 1, 1, 20), true},   // exactly at the limit
      {50, 30, makeItem(1, 1, 1, 21), false},
  };
  // clang-format on
  for (const auto& [limit, firstWeight, item, fits] : cases) {
    CAPTURE(item.weight);
    PackedBin bin = emptyBin(4, 3, 2, limit);
    if (firstWeight > 0) placeAll(bin, {makeItem(1, 1, 1, firstWeight)});
    CHECK(tryFit(bin, item, 0).has_value() == fits);
  }
}

TEST_CASE("the decoder: current bin, earlier bins, then a new bin in any rotation") {
  const std::vector<BinType> cube = {makeBinType("cube", 10, 10, 10)};
  // Heights 6 and 7 cannot share a bin; 4 then fits over the 6 in the earlier bin, and 3 over
  // the 7 because the current bin is tried first.
  const std::vector<ItemSpec> slabs = {makeItem(10, 10, 6), makeItem(10, 10, 7),
                                       makeItem(10, 10, 4), makeItem(10, 10, 3)};
  BinPacker packer(slabs, cube);
  packer.packSequence(Genes{0, 1, 2, 3}, Genes{0, 0, 0, 0}, Genes{});
  CHECK(layout(packer.bins()) == "cube[0 2] cube[1 3]");
  CHECK(packer.bins()[0].placements[1].z == 6);
  CHECK(packer.bins()[1].placements[1].z == 7);

  // Item 1 is 5 wide in a 4-wide bin. Turned it would fit beside item 0, but an existing bin is
  // tried in the gene rotation only: it opens bin 2 and is turned there.
  const std::vector<BinType> narrow = {makeBinType("box", 10, 4, 5)};
  const std::vector<ItemSpec> wide = {makeItem(5, 4, 5), makeItem(3, 5, 5)};
  BinPacker turning(wide, narrow);
  turning.packSequence(Genes{0, 1}, Genes{0, 0}, Genes{});
  CHECK(layout(turning.bins()) == "box[0] box[1]");
  CHECK(turning.bins().back().placements.at(0).rotation == 1);
  turning.packSequence(Genes{0, 1}, Genes{0, 1}, Genes{});  // turned by its gene: beside item 0
  CHECK(layout(turning.bins()) == "box[0 1]");
}

TEST_CASE("bin types follow the genes, clamped, then the default") {
  const std::vector<BinType> types = {makeBinType("20GP", 10, 10, 10),
                                      makeBinType("40GP", 20, 10, 10)};
  // Three full-size cubes: volume 3000 over a 2000 second type, ratio 1.5, so the default is 1.
  const std::vector<ItemSpec> items(3, makeItem(10, 10, 10));
  BinPacker packer(items, types);
  packer.packSequence(Genes{0, 1, 2}, Genes{0, 0, 0}, Genes{0, 0});
  CHECK(layout(packer.bins()) == "20GP[0] 20GP[1] 40GP[2]");
  packer.packSequence(Genes{0, 1, 2}, Genes{0, 0, 0}, Genes{-1, 7, -1});
  CHECK(layout(packer.bins()) == "20GP[0] 40GP[1 2]");
  packer.packSequence(Genes{}, Genes{0, 0, 0}, Genes{});
  CHECK(layout(packer.bins()) == "40GP[]");  // an empty order still opens one bin
}

TEST_CASE("a bin-type gene never costs an item its place") {
  const std::vector<BinType> types = {makeBinType("20GP", 590, 234, 230, 1500, 10),
                                      makeBinType("40GP", 1203, 234, 230, 2800, 10)};
  // A 700-long pipe fits only the 40GP; its gene asks for a 20GP.
  std::vector<ItemSpec> items = {makeItem(100, 100, 100, 5), makeItem(700, 30, 30, 5)};
  BinPacker packer(items, types);
  packer.packSequence(Genes{0, 1}, Genes{0, 0}, Genes{0, 0});
  CHECK(layout(packer.bins()) == "20GP[0] 40GP[1]");
  CHECK(packer.bins()[1].id == 2);
  CHECK(packer.bins()[1].cost == 2800);
  // The first bin is opened before any item and keeps its gene's type; the default for a load
  // this small is a 20GP too, so the pipe's new bin becomes a 40GP.
  packer.packSequence(Genes{1, 0}, Genes{0, 0}, Genes{0});
  CHECK(layout(packer.bins()) == "20GP[] 40GP[1 0]");
  // An item too heavy for every type is left out and its empty bin stays.
  items[1].weight = 11;
  packer.packSequence(Genes{0, 1}, Genes{0, 0}, Genes{0, 0});
  CHECK(layout(packer.bins()) == "20GP[0] 20GP[]");
}

TEST_CASE("default bin type") {
  // Type 0: volume 1000, limit 100 unless unlimited; type 1: volume 2000.
  const BinType limited = makeBinType("20GP", 10, 10, 10, 1, 100);
  const BinType unlimited = makeBinType("20GP", 10, 10, 10);
  const BinType big = makeBinType("40GP", 20, 10, 10);
  auto two = [](double h, double weight) { return std::vector(2, makeItem(10, 10, h, weight)); };
  // clang-format off
  const std::tuple<std::vector<BinType>, std::vector<ItemSpec>, std::int32_t> cases[] = {
      {{unlimited}, {makeItem(10, 10, 10, 1e6)}, 0},  // a single type is always the default
      {{limited, big}, {makeItem(1, 1, 1, 101)}, 1},  // the first item alone is over the limit
      {{limited, big}, two(7.5, 1), 1},               // ratio 0.75 > 0.7
      {{limited, big}, two(2.5, 1), 0},               // ratio 0.25 < 0.4
      {{limited, big}, two(5, 60), 1},                // ratio 0.5, weight 120 reaches the limit
      {{limited, big}, two(5, 25), 0},                // ratio 0.5, density 50 / 1000 * 1e6 > 500
      {{unlimited, big}, {makeItem(10, 10, 10, 0.4)}, 1},  // no limit: density 400
      {{unlimited, big}, {makeItem(10, 10, 10, 0.6)}, 0},  // density 600
  };
  // clang-format on
  for (const auto& [types, items, expected] : cases) {
    CAPTURE(items[0].weight);
    CHECK(BinPacker(items, types).defaultBinType() == expected);
  }
}

TEST_CASE("bin type codes and sum20 / sum40 go by the exact name") {
  std::vector<BinType> types;
  for (const char* name : {"20GP", "20", "40GP", "20GPX", "20gp", "20GP "}) {
    types.push_back(makeBinType(name, 10, 10, 10));
  }
  const std::vector<ItemSpec> items(6, makeItem(10, 10, 10));  // one full bin each
  BinPacker packer(items, types);
  packer.packSequence(Genes{0, 1, 2, 3, 4, 5}, Genes(6, 0), Genes{0, 1, 2, 3, 4, 5});
  CHECK(packer.binTypeCodes() == Genes{0, 0, 1, 1, 1, 1});
  Individual ind = individualWith({0, 1, 2, 3, 4, 5}, Genes(6, 0), {0, 1, 2, 3, 4, 5});
  evaluate(ind, items, types, 6.0);
  CHECK(ind.sum20 == 2);
  CHECK(ind.sum40 == 4);
}

TEST_CASE("counted free spaces give the plans of the literal free-space list") {
  std::mt19937 rng(20240611);
  int binsWithCopies = 0;
  for (int round = 0; round < 600; ++round) {
    CAPTURE(round);
    // Every third problem has roomy bins, many items to a bin and long space lists.
    const RandomProblem problem = randomProblem(rng, 40, round % 3 == 2 ? 2.0 : 1.0);
    BinPacker packer(problem.items, problem.binTypes);
    packer.packSequence(problem.order, problem.rotations, problem.binTypeSequence);
    const auto expected = LiteralDecoder(problem.items, problem.binTypes, packer.defaultBinType())
                              .decode(problem.order, problem.rotations, problem.binTypeSequence);
    REQUIRE(packer.bins().size() == expected.size());
    for (std::size_t b = 0; b < expected.size(); ++b) {
      CAPTURE(b);
      const PackedBin& bin = packer.bins()[b];
      CHECK(bin.binType == expected[b].name);
      CHECK(bin.currentWeight == expected[b].weight);
      REQUIRE(bin.placements.size() == expected[b].placements.size());
      for (std::size_t p = 0; p < bin.placements.size(); ++p) {
        const Placement &got = bin.placements[p], &want = expected[b].placements[p];
        CHECK(std::tie(got.itemIndex, got.rotation, got.x, got.y, got.z) ==
              std::tie(want.itemIndex, want.rotation, want.x, want.y, want.z));
      }
      // The counted list is the literal one with each space's copies folded into its first.
      std::vector<std::pair<SpaceRow, std::int64_t>> literal, counted;
      for (const LiteralSpace& s : expected[b].spaces) {
        const SpaceRow row{s.length, s.width, s.height, s.x, s.y, s.z};
        const auto seen = std::find_if(literal.begin(), literal.end(),
                                       [&](const auto& entry) { return entry.first == row; });
        if (seen == literal.end()) {
          literal.emplace_back(row, 1);
        } else {
          ++seen->second;
        }
      }
      for (const FreeSpace& s : bin.freeSpaces) {
        counted.emplace_back(SpaceRow{s.length, s.width, s.height, s.x, s.y, s.z}, s.copies);
        binsWithCopies += s.copies > 1 ? 1 : 0;
      }
      CHECK(counted == literal);
    }
  }
  CHECK(binsWithCopies > 20);  // the comparison means little unless copies actually arose
}

TEST_CASE("decoded plans of random problems are sound and lose no cargo") {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    CAPTURE(round);
    const RandomProblem problem = randomProblem(rng, 60, round % 2 == 0 ? 1.0 : 2.5);
    Individual ind = individualWith(problem.order, problem.rotations, problem.binTypeSequence);
    decode(ind, problem.items, problem.binTypes);
    CHECK(planFaults(problem.items, problem.binTypes, ind.bins, true) ==
          std::vector<std::string>{});
    CHECK(lostItems(problem.items, problem.binTypes, ind.bins) == std::vector<std::size_t>{});
  }
}

TEST_CASE("the plan validator notices broken plans") {
  const std::vector<BinType> types = {makeBinType("box", 10, 10, 10, 1.0, 30.0)};
  const std::vector<ItemSpec> items = {makeItem(4, 4, 4, 8), makeItem(4, 4, 2, 8, false)};
  BinPacker packer(items, types);
  packer.packSequence(Genes{0, 1}, Genes{0, 0}, Genes{});
  REQUIRE(planFaults(items, types, packer.bins(), false).empty());
  const std::vector<Placement> breakages[] = {
      {{0, 0, 0, 0, 0}, {1, 3, 0, 0, 0}},                   // overlap
      {{0, 0, 0, 0, 0}, {1, 7, 0, 0, 0}},                   // outside
      {{0, 0, 0, 0, 0}, {1, 1, 0, 4, 0}},                   // overhanging the box below
      {{1, 0, 0, 0, 0}, {0, 0, 0, 2, 0}},                   // on a non-stackable box
      {{0, 0, 0, 0, 0}, {1, 4, 0, 0, 0}, {1, 4, 4, 0, 0}},  // placed twice
  };
  for (const auto& placements : breakages) {
    CAPTURE(placements.back().x);
    std::vector<PackedBin> broken = packer.bins();
    broken[0].placements = placements;  // weight and utilization kept in step
    broken[0].currentWeight = 8.0 * placements.size();
    for (std::size_t i = 2; i < placements.size(); ++i) broken[0].spaceUtilization += 32.0 / 1000;
    CHECK_FALSE(planFaults(items, types, broken, false).empty());
  }
  std::vector<PackedBin> broken = packer.bins();
  broken[0].currentWeight += 1;  // statistics that disagree
  CHECK_FALSE(planFaults(items, types, broken, false).empty());
}

TEST_CASE("fitness figures, the copy rule and the cache") {
  // A full 20GP cube in bin 1; a half-height slab and a small cube on it in a 40GP bin 2.
  const std::vector<BinType> types = {makeBinType("20GP", 10, 10, 10, 2),
                                      makeBinType("40GP", 20, 10, 10, 3)};
  const std::vector<ItemSpec> items = {makeItem(10, 10, 10, 10), makeItem(10, 10, 5, 30),
                                       makeItem(2, 2, 2, 10)};
  Individual ind = individualWith({0, 1, 2}, {0, 0, 0}, {0, 1});
  Individual leftOut = ind;
  evaluate(ind, items, types, 50.0);
  REQUIRE(ind.bins.size() == 2);
  CHECK(ind.bins[1].placements[1].z == 5);  // the 10x10x5 column is smaller than the space beside
  CHECK(std::tuple(ind.cost, ind.sum20, ind.sum40) == std::tuple(5.0, 1, 1));
  CHECK(ind.utilization == doctest::Approx((1000.0 + 508.0) / 3000.0));
  // Bin 2's centre is x = y = (5 * 30 + 1 * 10) / 40 = 4 against a floor middle of 5.
  CHECK(ind.centerPenalty == doctest::Approx(2.0));
  CHECK(ind.weightPenalty == doctest::Approx(30.0));  // mean 25: |10 - 25| + |40 - 25|
  CHECK(ind.fitness == doctest::Approx(500.0 - 1508.0 / 3.0 + 2.0 + 30.0));
  evaluate(leftOut, items, types, 100.0);  // cargo left out still counts: mean 50
  CHECK(leftOut.weightPenalty == doctest::Approx(50.0));

  Individual copy = ind;  // carries the figures, not the bins, and is not decoded again
  CHECK(copy.bins.empty());
  CHECK(std::tie(copy.fitness, copy.weightPenalty) == std::tie(ind.fitness, ind.weightPenalty));
  evaluate(copy, items, types, 50.0);
  CHECK(copy.bins.empty());
  leftOut = ind;  // assignment drops the bins the target held
  CHECK(leftOut.bins.empty());
  CHECK(leftOut.centerPenalty == ind.centerPenalty);

  // Free bins make the utilization term win: a negative fitness is still cached.
  const std::vector<BinType> free = {makeBinType("20", 10, 10, 10, 0)};
  Individual cheap = individualWith({0}, {0}, {});
  evaluate(cheap, {items[0]}, free, 10.0);
  CHECK(cheap.fitness == -1000.0);
  cheap.bins.clear();
  evaluate(cheap, {items[0]}, free, 10.0);
  CHECK(cheap.bins.empty());
}
