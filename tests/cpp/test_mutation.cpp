#include <doctest/doctest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "draw_counting.hpp"
#include "search/random_draws.hpp"
#include "variation/mutation.hpp"
#include "variation_fixtures.hpp"

using stowra::binFlipMutation;
using stowra::boundedDraw;
using stowra::Individual;
using stowra::mutate;
using stowra::rotationMutation;
using stowra::swapMutation;
using stowra::unitDraw;
using stowra::testing::cubesFrom;
using stowra::testing::groupedByFactory;
using stowra::testing::individualWith;
using stowra::testing::isPermutation;
using stowra::testing::pretendEvaluated;
using stowra::testing::rawOutputsConsumed;
using Genes = std::vector<std::int32_t>;

namespace {

// A seed whose first three unit draws pass (or fail) the 0.1 test as asked.
std::uint32_t seedFiring(bool swap, bool rotate, bool flip) {
  for (std::uint32_t seed = 1;; ++seed) {
    std::mt19937 probe(seed);
    const bool s = unitDraw(probe) < 0.1;
    const bool r = unitDraw(probe) < 0.1;
    const bool f = unitDraw(probe) < 0.1;
    if (s == swap && r == rotate && f == flip) return seed;
  }
}

}  // namespace

TEST_CASE("mutate with no step firing changes no gene and costs six raw outputs") {
  const std::uint32_t seed = seedFiring(false, false, false);
  std::mt19937 rng(seed);
  Individual individual = individualWith({2, 0, 1, 3}, {1, 0, 1, 0}, {0, 1, 1});
  pretendEvaluated(individual, 7.0);

  mutate(rng, individual, cubesFrom({1, 2, 1, 2}), {1, 2, 1, 2}, 0.1);

  CHECK(rawOutputsConsumed(rng, seed) == 6);
  CHECK(individual.order == Genes{2, 0, 1, 3});  // not normalised without a swap
  CHECK(individual.rotations == Genes{1, 0, 1, 0});
  CHECK(individual.binTypeSequence == Genes{0, 1, 1});
  CHECK(individual.fitness == -1.0);
  CHECK_FALSE(individual.evaluated);
  CHECK(individual.bins.empty());
}

TEST_CASE("each mutation step draws between its own test and the next") {
  const Genes factories{5, 6, 5, 6, 7, 5};
  const auto items = cubesFrom(factories);
  const Individual original = individualWith({0, 1, 2, 3, 4, 5}, {0, 0, 0, 0, 0, 0}, {0, 0, 0});

  SUBCASE("a swap is followed by normalisation") {
    const std::uint32_t seed = seedFiring(true, false, false);
    std::mt19937 rng(seed);
    Individual individual = original;
    mutate(rng, individual, items, factories, 0.1);
    CHECK(isPermutation(individual.order));
    CHECK(groupedByFactory(individual.order, factories));
    CHECK(individual.order != original.order);  // the identity is not grouped
    CHECK(individual.rotations == original.rotations);
    CHECK(individual.binTypeSequence == original.binTypeSequence);
  }
  SUBCASE("a bin flip after the three tests flips exactly one gene") {
    const std::uint32_t seed = seedFiring(false, false, true);
    std::mt19937 twin(seed);
    for (int test = 0; test < 3; ++test) unitDraw(twin);
    const std::int32_t flipped = boundedDraw(twin, 0, 2);

    std::mt19937 rng(seed);
    Individual individual = original;
    mutate(rng, individual, items, factories, 0.1);
    Genes expected{0, 0, 0};
    expected[flipped] = 1;
    CHECK(individual.binTypeSequence == expected);
    CHECK((rng == twin));
  }
}

TEST_CASE("swap mutation exchanges two distinct positions") {
  SUBCASE("two items always exchange 0 and 1; redraws end at the first differing j") {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
      CAPTURE(seed);
      std::mt19937 reference(seed);
      const auto i = reference() >> 31;
      while ((reference() >> 31) == i) {
      }
      std::mt19937 rng(seed);
      Genes order{4, 9};
      swapMutation(rng, order);
      CHECK(order == Genes{9, 4});
      CHECK((rng == reference));
    }
  }
  SUBCASE("longer orders differ in exactly two exchanged positions") {
    std::mt19937 rng(42);
    for (int round = 0; round < 50; ++round) {
      const Genes before{0, 1, 2, 3, 4, 5, 6};
      Genes after = before;
      swapMutation(rng, after);
      Genes changed;
      for (std::size_t p = 0; p < before.size(); ++p) {
        if (after[p] != before[p]) changed.push_back(static_cast<std::int32_t>(p));
      }
      REQUIRE(changed.size() == 2);
      CHECK(after[changed[0]] == before[changed[1]]);
      CHECK(after[changed[1]] == before[changed[0]]);
    }
  }
}

TEST_CASE("rotation mutation redraws at most five items among their allowed rotations") {
  SUBCASE("fewer than five items: exactly n item draws") {
    const auto items = cubesFrom({1, 1, 1}, false);
    std::mt19937 twin(42);
    for (int draw = 0; draw < 3; ++draw) boundedDraw(twin, 0, 2);
    std::mt19937 rng(42);
    Genes rotations{0, 0, 0};
    rotationMutation(rng, rotations, items);
    CHECK((rng == twin));
    CHECK(rotations == Genes{0, 0, 0});
  }
  SUBCASE("single-rotation items cost one draw each and never change") {
    const auto items = cubesFrom({1, 1, 1, 1, 1, 1, 1, 1}, false);
    std::mt19937 twin(7);
    for (int draw = 0; draw < 5; ++draw) boundedDraw(twin, 0, 7);
    std::mt19937 rng(7);
    Genes rotations(8, 0);
    rotationMutation(rng, rotations, items);
    CHECK((rng == twin));
    CHECK(rotations == Genes(8, 0));
  }
  SUBCASE("turnable items take the drawn entry of their allowed list") {
    const auto items = cubesFrom({1, 1, 1, 1, 1, 1, 1, 1});
    std::mt19937 twin(7);
    Genes expected(8, 0);
    for (int draw = 0; draw < 5; ++draw) {
      const std::int32_t item = boundedDraw(twin, 0, 7);
      expected[item] = boundedDraw(twin, 0, 1);
    }
    std::mt19937 rng(7);
    Genes rotations(8, 0);
    rotationMutation(rng, rotations, items);
    CHECK(rotations == expected);
    CHECK((rng == twin));
  }
}

TEST_CASE("bin flip mutation") {
  std::mt19937 rng(42);
  SUBCASE("an empty list draws nothing") {
    Genes none;
    binFlipMutation(rng, none);
    CHECK(rawOutputsConsumed(rng, 42) == 0);
  }
  SUBCASE("one gene flips and the others stay") {
    Genes genes{0, 1, 0, 1, 1};
    const Genes before = genes;
    binFlipMutation(rng, genes);
    int differences = 0;
    for (std::size_t g = 0; g < genes.size(); ++g) {
      if (genes[g] != before[g]) {
        ++differences;
        CHECK(genes[g] == 1 - before[g]);
      }
    }
    CHECK(differences == 1);
    CHECK(rawOutputsConsumed(rng, 42) == 1);
  }
}
