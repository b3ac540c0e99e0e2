#include <doctest/doctest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "candidate/fitness.hpp"
#include "packing/bin_packer.hpp"
#include "packing/free_space_update.hpp"
#include "plan_validator.hpp"
#include "test_support.hpp"

using namespace stowra;
using namespace stowra::testing;

namespace {

// length, width, height, x, y, z
using SpaceRow = std::array<double, 6>;

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
  using Case = std::tuple<std::array<double, 3>, std::vector<ItemSpec>, std::vector<SpaceRow>>;
  // clang-format off
  const Case cases[] = {
      // A leaves the column (9), the y-slab (700) and the x-slab (720); B takes the 700 space,
      // the x-slab of what B used lies inside 9x8x10 and is dropped, 9x8x10 is cut around B.
      {{10, 8, 10}, {a, b}, {{1, 1, 9, 0, 0, 1}, {1, 2, 8, 1, 1, 2}, {2, 2, 8, 0, 1, 2},
          {9, 1, 10, 1, 0, 0}, {9, 5, 10, 1, 3, 0}, {10, 5, 10, 0, 3, 0}, {8, 8, 10, 2, 0, 0}}},
      // The same less the column over B and the piece above B's overlap.
      {{10, 8, 10}, {a, flatB}, {{1, 1, 9, 0, 0, 1},
          {9, 1, 10, 1, 0, 0}, {9, 5, 10, 1, 3, 0}, {10, 5, 10, 0, 3, 0}, {8, 8, 10, 2, 0, 0}}},
      // Column, then the two equal slabs in the order made.
      {{10, 10, 10}, {a}, {{1, 1, 9, 0, 0, 1}, {9, 10, 10, 1, 0, 0}, {10, 9, 10, 0, 1, 0}}},
      {{4, 3, 2}, {makeItem(4, 3, 2)}, {}},  // an equality fit leaves nothing
      // The slab beyond the item is 1 x 1 x 0.001, exactly the floor volume, so it goes ...
      {{3, 1, 0.001}, {makeItem(2, 1, 0.001)}, {}},
      // ... and at 1.5 x 1 x 0.001 it is just above and stays.
      {{3.5, 1, 0.001}, {makeItem(2, 1, 0.001)}, {{1.5, 1, 0.001, 2, 0, 0}}},
  };
  // clang-format on
  for (const auto& [size, items, expected] : cases) {
    CAPTURE(size[0]);
    PackedBin bin = openBin({BinType{"20GP", size[0], size[1], size[2]}}, 0, 0);
    for (std::int32_t i = 0; i < std::ssize(items); ++i)  // each into the first space, unturned
      placeItem(bin, i, items[i], tryFit(bin, items[i], 0).value(), 0);
    std::vector<SpaceRow> rows;
    for (const FreeSpace& s : bin.freeSpaces)
      rows.push_back({s.length, s.width, s.height, s.x, s.y, s.z});
    CHECK(rows == expected);
  }
}

TEST_CASE("the decoder: current bin, earlier bins, then a new bin that must take the item") {
  const std::vector<BinType> cube = {{"cube", 10, 10, 10}};
  // Heights 6 and 7 cannot share a bin; 4 then fits over the 6 in the earlier bin, and 3 over
  // the 7 because the current bin is tried first.
  const std::vector<ItemSpec> slabs = {makeItem(10, 10, 6), makeItem(10, 10, 7),
                                       makeItem(10, 10, 4), makeItem(10, 10, 3)};
  BinPacker packer(slabs, cube);
  packer.packSequence(Genes{0, 1, 2, 3}, Genes{0, 0, 0, 0}, Genes{});
  CHECK(layout(packer.bins()) == "cube[0 2] cube[1 3]");

  const std::vector<BinType> types = {{"20GP", 590, 234, 230}, {"40GP", 1203, 234, 230}};
  // A 700-long pipe fits only the 40GP; its gene asks for a 20GP.
  const std::vector<ItemSpec> items = {makeItem(100, 100, 100), makeItem(700, 30, 30)};
  BinPacker mended(items, types);
  mended.packSequence(Genes{0, 1}, Genes{0, 0}, Genes{0, 0});
  CHECK(layout(mended.bins()) == "20GP[0] 40GP[1]");
  // The first bin is opened before any item and keeps its gene's type; the default for a load
  // this small is a 20GP too, so the pipe's new bin becomes a 40GP.
  mended.packSequence(Genes{1, 0}, Genes{0, 0}, Genes{0});
  CHECK(layout(mended.bins()) == "20GP[] 40GP[1 0]");
  mended.packSequence(Genes{}, Genes{0, 0}, Genes{});
  CHECK(layout(mended.bins()) == "20GP[]");  // an empty order still opens one bin
}

TEST_CASE("default bin type") {
  // Type 0: volume 1000, limit 100 unless unlimited; type 1: volume 2000.
  const BinType limited{"20GP", 10, 10, 10, 1, 100}, unlimited{"20GP", 10, 10, 10},
      big{"40GP", 20, 10, 10};
  auto two = [](double h, double weight) { return std::vector(2, makeItem(10, 10, h, weight)); };
  // clang-format off
  const std::tuple<std::vector<BinType>, std::vector<ItemSpec>, std::int32_t> cases[] = {
      {{unlimited}, {makeItem(10, 10, 10, 1e6)}, 0},  // a single type is always the default
      {{limited, big}, {makeItem(1, 1, 1, 101)}, 1},  // the first item alone is over the limit
      {{limited, big}, {makeItem(1, 1, 1, 100)}, 0},  // at the limit is not over it
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
    types.push_back(BinType{name, 10, 10, 10});
  }
  const std::vector<ItemSpec> items(6, makeItem(10, 10, 10));  // one full bin each
  Individual ind = individualWith({0, 1, 2, 3, 4, 5}, Genes(6, 0), {0, 1, 2, 3, 4, 5});
  evaluate(ind, items, types, 6.0);
  CHECK(std::pair(ind.sum20, ind.sum40) == std::pair(2, 4));
  BinPacker packer(items, types);
  packer.packSequence(ind.order, ind.rotations, ind.binTypeSequence);
  CHECK(packer.binTypeCodes() == Genes{0, 0, 1, 1, 1, 1});
}

TEST_CASE("random plans are sound") {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 600; ++round) {
    CAPTURE(round);
    // Every third problem has roomy bins, many items to a bin and long space lists; some have
    // very long lists, with many spaces of equal volume.
    const RandomProblem p = round % 50 == 1  ? randomProblem(rng, 160, 4.0)
                            : round % 3 == 2 ? randomProblem(rng, 50, 2.5)
                                             : randomProblem(rng, 50);
    Individual ind = individualWith(p.order, p.rotations, p.binTypeSequence);
    decode(ind, p.items, p.binTypes);
    CHECK(planFaults(p.items, p.binTypes, ind.bins) == std::vector<std::string>{});
  }
}

TEST_CASE("the fitness of a forced plan, term by term, worked out by hand") {
  // Bin 1: a 4x10x10 block (30 kg) at the origin and a 2x5x10 one (10 kg) beside it at x 4.
  // Loaded extent 6 x 10; centre of gravity x (2*30 + 5*10) / 40 = 2.75, y (5*30 + 2.5*10) /
  // 40 = 4.375: off-centre |3 - 2.75| + |5 - 4.375| = 0.875. Bin 2: a full 10 kg cube, centred.
  // Weights 40 and 10 against a mean of all 60 kg of cargo (a 10 kg item left out) over two
  // bins, 30: |40 - 30| + |10 - 30| = 30. Fill (400 + 100 + 1000) / 2000 = 0.75; cost 2 + 2.
  const std::vector<BinType> types = {{"20GP", 10, 10, 10, 2}};
  const std::vector<ItemSpec> items = {makeItem(4, 10, 10, 30), makeItem(2, 5, 10, 10),
                                       makeItem(10, 10, 10, 10)};
  Individual ind = individualWith({0, 1, 2}, {0, 0, 0}, {});
  evaluate(ind, items, types, 60.0);
  REQUIRE(layout(ind.bins) == "20GP[0 1] 20GP[2]");
  CHECK(ind.cost == 4);
  CHECK(ind.utilization == 0.75);
  CHECK(ind.centerPenalty == 0.875);
  CHECK(ind.weightPenalty == 30);
  CHECK(ind.fitness == 4 * 100 - 0.75 * 1000 + 0.875 + 30);
}

TEST_CASE("the copy rule and the cache") {
  const std::vector<BinType> types = {{"20GP", 10, 10, 10, 2}, {"40GP", 20, 10, 10, 3}};
  const std::vector<ItemSpec> items = {makeItem(10, 10, 10, 10), makeItem(10, 10, 5, 30),
                                       makeItem(2, 2, 2, 10)};
  Individual ind = individualWith({0, 1, 2}, {0, 0, 0}, {0, 1});
  evaluate(ind, items, types, 50.0);
  // Without its bins an evaluation gives the same figures.
  Individual lean = individualWith({0, 1, 2}, {0, 0, 0}, {0, 1});
  evaluate(lean, items, types, 50.0, KeepBins::no);
  CHECK(std::tuple(lean.fitness, lean.centerPenalty, lean.sum40, lean.bins.empty()) ==
        std::tuple(ind.fitness, ind.centerPenalty, ind.sum40, true));

  Individual target = individualWith({0}, {0}, {});
  evaluate(target, {items[0]}, types, 10.0);
  target = ind;  // assignment drops the bins the target held
  CHECK((target.bins.empty() && target.centerPenalty == ind.centerPenalty));

  // A copy carries the figures, not the bins, and is not decoded again, even with a negative
  // fitness (free bins make the utilization term win).
  const std::vector<BinType> free = {{"20", 10, 10, 10, 0}};
  Individual cheap = individualWith({0}, {0}, {});
  evaluate(cheap, {items[0]}, free, 10.0);
  Individual copy = cheap;
  evaluate(copy, {items[0]}, free, 10.0);
  CHECK(std::pair(copy.fitness, copy.bins.empty()) == std::pair(-1000.0, true));
}
