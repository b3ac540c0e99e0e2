#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "draw_counting.hpp"
#include "variation/initial_population.hpp"
#include "variation_fixtures.hpp"

using stowra::BinType;
using stowra::buildCandidates;
using stowra::CandidatePlan;
using stowra::ItemSpec;
using stowra::planCandidates;
using stowra::testing::cubeBin;
using stowra::testing::cubesFrom;
using stowra::testing::groupedByFactory;
using stowra::testing::isPermutation;
using stowra::testing::rawOutputsConsumed;
using Genes = std::vector<std::int32_t>;

namespace {

std::vector<ItemSpec> cubes(std::size_t count) {
  return cubesFrom(Genes(count, 0));
}

// Items whose volumes add up to `total` first-bin volumes of a 10 x 10 x 10 bin.
std::vector<ItemSpec> loadOf(std::size_t count, double total) {
  std::vector<ItemSpec> items = cubes(count);
  for (ItemSpec& item : items) item.volume = total * 1000.0 / static_cast<double>(count);
  return items;
}

}  // namespace

TEST_CASE("candidate plan: counts, scramble size and bin genes") {
  const std::vector<BinType> bins{cubeBin("20GP", 10.0), cubeBin("40GP", 20.0)};

  SUBCASE("pop size 100 with 37 items and 2.5 bin volumes") {
    const CandidatePlan plan = planCandidates(99, loadOf(37, 2.5), bins);
    CHECK(plan.candidateCount == 495);
    CHECK(plan.nearOrderCount == 247);
    CHECK(plan.scrambleCount == 7);
    CHECK(plan.binGeneCount == 5);
  }
  SUBCASE("an odd candidate count rounds the near-order share down") {
    const CandidatePlan plan = planCandidates(1, cubes(3), bins);
    CHECK(plan.candidateCount == 5);
    CHECK(plan.nearOrderCount == 2);
  }
  SUBCASE("scramble count is a fifth of the items, at least one") {
    for (const auto& [items, expected] : std::vector<std::pair<std::size_t, std::int32_t>>{
             {1, 1}, {4, 1}, {5, 1}, {10, 2}, {37, 7}, {200, 40}}) {
      CAPTURE(items);
      CHECK(planCandidates(1, cubes(items), bins).scrambleCount == expected);
    }
  }
  SUBCASE("bin genes: ceil of the load plus two, at least three, at most n + 3") {
    CHECK(planCandidates(1, loadOf(30, 0.2), bins).binGeneCount == 3);
    CHECK(planCandidates(1, loadOf(30, 10.2), bins).binGeneCount == 13);
    CHECK(planCandidates(1, loadOf(30, 12.0), bins).binGeneCount == 14);
    // A first bin given in metres against items in millimetres: one gene per possible bin.
    const std::vector<BinType> metres{cubeBin("20GP", 0.001)};
    CHECK(planCandidates(1, loadOf(30, 1.0), metres).binGeneCount == 33);
    const std::vector<BinType> vanishing{cubeBin("20GP", 1e-120)};
    CHECK(planCandidates(1, loadOf(30, 1.0), vanishing).binGeneCount == 33);
  }
}

TEST_CASE(
    "candidates draw picks, shuffle, rotations, then bin genes, one candidate after another") {
  const std::vector<BinType> bins{cubeBin("20GP", 10.0)};

  SUBCASE("one item: a near-order candidate costs 2 + G outputs, a shuffled one 1 + G") {
    const auto items = cubes(1);
    const std::int32_t genes = planCandidates(1, items, bins).binGeneCount;
    REQUIRE(genes == 3);
    std::mt19937 reference(42);
    std::vector<std::uint32_t> raw(40);
    for (auto& output : raw) output = static_cast<std::uint32_t>(reference());

    std::mt19937 rng(42);
    const auto candidates = buildCandidates(rng, 1, items, bins, {0}, {});
    REQUIRE(candidates.size() == 5);
    CHECK(rawOutputsConsumed(rng, 42) == 2 * (2 + genes) + 3 * (1 + genes));
    // First candidate: output 0 picks the position, output 1 the rotation, then the genes.
    CHECK(candidates[0].rotations == Genes{static_cast<std::int32_t>(raw[1] >> 31)});
    CHECK(candidates[0].binTypeSequence == Genes{static_cast<std::int32_t>(raw[2] >> 31),
                                                 static_cast<std::int32_t>(raw[3] >> 31),
                                                 static_cast<std::int32_t>(raw[4] >> 31)});
    // Third candidate, the first fully shuffled one, starts at output 10 with its rotation.
    CHECK(candidates[2].rotations == Genes{static_cast<std::int32_t>(raw[10] >> 31)});
    CHECK(candidates[2].binTypeSequence.front() == static_cast<std::int32_t>(raw[11] >> 31));
  }
  SUBCASE("single-rotation items still spend a draw each") {
    const auto fixed = cubesFrom({0, 0}, false);
    const auto turnable = cubesFrom({0, 0}, true);
    std::mt19937 a(5);
    std::mt19937 b(5);
    buildCandidates(a, 2, fixed, bins, {0, 0}, {});
    buildCandidates(b, 2, turnable, bins, {0, 0}, {});
    CHECK((a == b));
  }
}

TEST_CASE("candidates are sound, normalised, unevaluated and reproducible") {
  const std::vector<BinType> bins{cubeBin("20GP", 3.0), cubeBin("40GP", 4.0)};
  const Genes factories{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
  const auto items = cubesFrom(factories);
  const CandidatePlan plan = planCandidates(8, items, bins);
  REQUIRE(plan.scrambleCount == 4);

  std::mt19937 rng(42);
  const auto candidates = buildCandidates(rng, 8, items, bins, factories, {});
  REQUIRE(candidates.size() == 40);
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    CAPTURE(c);
    const auto& candidate = candidates[c];
    CHECK(isPermutation(candidate.order));
    CHECK(groupedByFactory(candidate.order, factories));
    CHECK(candidate.rotations.size() == items.size());
    CHECK(candidate.binTypeSequence.size() == static_cast<std::size_t>(plan.binGeneCount));
    CHECK_FALSE(candidate.evaluated);
    CHECK(candidate.fitness == -1.0);
  }

  std::mt19937 again(42);
  const auto repeated = buildCandidates(again, 8, items, bins, factories, {});
  bool same = true;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    same = same && candidates[c].order == repeated[c].order &&
           candidates[c].rotations == repeated[c].rotations &&
           candidates[c].binTypeSequence == repeated[c].binTypeSequence;
  }
  CHECK(same);
}

TEST_CASE("near-order candidates move at most k items; shuffled ones move more") {
  const std::vector<BinType> bins{cubeBin("20GP", 3.0)};
  const auto items = cubes(20);
  const CandidatePlan plan = planCandidates(8, items, bins);
  std::mt19937 rng(42);
  const auto candidates = buildCandidates(rng, 8, items, bins, Genes(20, 0), {});
  int widestNearMove = 0;
  int widestShuffledMove = 0;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    int moved = 0;
    for (std::size_t p = 0; p < candidates[c].order.size(); ++p) {
      moved += candidates[c].order[p] != static_cast<std::int32_t>(p) ? 1 : 0;
    }
    int& widest =
        static_cast<std::int32_t>(c) < plan.nearOrderCount ? widestNearMove : widestShuffledMove;
    widest = std::max(widest, moved);
  }
  CHECK(widestNearMove >= 2);
  CHECK(widestNearMove <= plan.scrambleCount);
  CHECK(widestShuffledMove > plan.scrambleCount);
}

TEST_CASE("building candidates: no slots, negative slots and interrupts") {
  const std::vector<BinType> bins{cubeBin("20GP", 10.0)};
  const auto items = cubes(6);
  const Genes factories(6, 0);

  SUBCASE("no slots: nothing built, nothing drawn") {
    std::mt19937 rng(42);
    CHECK(buildCandidates(rng, 0, items, bins, factories, {}).empty());
    CHECK(rawOutputsConsumed(rng, 42) == 0);
  }
  SUBCASE("negative slots fail with a length error") {
    std::mt19937 rng(42);
    CHECK_THROWS_AS(buildCandidates(rng, -1, items, bins, factories, {}), std::length_error);
  }
  SUBCASE("the interrupt check runs every few dozen candidates and can stop the build") {
    std::mt19937 rng(42);
    int checks = 0;
    buildCandidates(rng, 20, items, bins, factories, [&checks] { ++checks; });
    CHECK(checks == 4);  // 100 candidates, one check per 32 started

    std::mt19937 stopped(42);
    int calls = 0;
    const auto stopOnSecond = [&calls] {
      if (++calls == 2) throw std::runtime_error("interrupted");
    };
    CHECK_THROWS_WITH(buildCandidates(stopped, 20, items, bins, factories, stopOnSecond),
                      "interrupted");
  }
}
