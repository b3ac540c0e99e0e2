#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "draw_counting.hpp"
#include "search/random_draws.hpp"
#include "variation/crossover.hpp"
#include "variation/normalization.hpp"
#include "variation_fixtures.hpp"

using stowra::boundedDraw;
using stowra::crossover;
using stowra::Individual;
using stowra::onePointCrossover;
using stowra::orderCrossover;
using stowra::unitDraw;
using stowra::testing::individualWith;
using stowra::testing::isPermutation;
using stowra::testing::pretendEvaluated;
using stowra::testing::rawOutputsConsumed;
using stowra::testing::seedWhoseFirstUnitDraw;
using Genes = std::vector<std::int32_t>;

TEST_CASE("order crossover keeps the slice of the source and fills from the filler") {
  const Genes a{0, 1, 2, 3, 4, 5};
  const Genes b{5, 3, 1, 4, 0, 2};

  SUBCASE("worked example, lo 2 and hi 3") {
    CHECK(orderCrossover(a, b, 2, 3) == Genes{1, 4, 2, 3, 0, 5});
    CHECK(orderCrossover(b, a, 2, 3) == Genes{2, 3, 1, 4, 5, 0});
  }
  SUBCASE("the widest cut reproduces the source") {
    CHECK(orderCrossover(a, b, 1, 5) == a);
    CHECK(orderCrossover(b, a, 1, 5) == b);
  }
  SUBCASE("lo equal to hi takes exactly one position from the source") {
    for (std::int32_t cut = 1; cut <= 5; ++cut) {
      CAPTURE(cut);
      const Genes child = orderCrossover(b, a, cut, cut);
      CHECK(child[cut] == b[cut]);
      CHECK(isPermutation(child));
      // The rest is the filler's order with the kept item left out, starting after the cut.
      Genes rest;
      for (std::int32_t step = 1; step < 6; ++step) rest.push_back(child[(cut + step) % 6]);
      Genes fillerRest;
      for (std::int32_t step = 1; step <= 6; ++step) {
        const std::int32_t item = a[(cut + step) % 6];
        if (item != b[cut]) fillerRest.push_back(item);
      }
      CHECK(rest == fillerRest);
    }
  }
}

TEST_CASE("one-point crossover swaps the tails over the common length") {
  struct Case {
    const char* name;
    Genes a;
    Genes b;
    std::int32_t cut;
    Genes first;
    Genes second;
  };
  const std::vector<Case> cases = {
      {"rotations, cut 1", {0, 1, 1, 0}, {1, 0, 0, 1}, 1, {0, 0, 0, 1}, {1, 1, 1, 0}},
      {"bin types cut to the shorter", {1, 1, 0, 1, 0}, {0, 0, 1}, 2, {1, 1, 1}, {0, 0, 0}},
      {"cut at the common length copies", {1, 1, 0, 1, 0}, {0, 0, 1}, 3, {1, 1, 0}, {0, 0, 1}},
      {"cut beyond the common length copies", {1}, {0, 1}, 2, {1}, {0}},
      {"an empty list empties both", {}, {1, 1}, 1, {}, {}},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    const auto [first, second] = onePointCrossover(c.a, c.b, c.cut);
    CHECK(first == c.first);
    CHECK(second == c.second);
  }
}

TEST_CASE("crossover copies the parents when the test fails") {
  const std::uint32_t seed = seedWhoseFirstUnitDraw([](double u) { return u >= 0.8; });
  std::mt19937 rng(seed);
  Individual parentA = individualWith({2, 0, 1}, {1, 0, 1}, {0, 1, 1, 0});
  Individual parentB = individualWith({1, 2, 0}, {0, 0, 1}, {1});
  pretendEvaluated(parentA, 10.0);
  pretendEvaluated(parentB, 20.0);

  const auto [first, second] = crossover(rng, parentA, parentB, 0.8, {4, 4, 4});

  CHECK(rawOutputsConsumed(rng, seed) == 2);
  for (const auto& [child, parent] : {std::pair{&first, &parentA}, std::pair{&second, &parentB}}) {
    CHECK(child->order == parent->order);
    CHECK(child->rotations == parent->rotations);
    CHECK(child->binTypeSequence == parent->binTypeSequence);
    CHECK(child->fitness == parent->fitness);
    CHECK(child->cost == parent->cost);
    CHECK(child->sum20 == parent->sum20);
    CHECK(child->sum40 == parent->sum40);
    CHECK(child->utilization == parent->utilization);
    CHECK(child->centerPenalty == parent->centerPenalty);
    CHECK(child->weightPenalty == parent->weightPenalty);
    CHECK(child->evaluated);
    CHECK(child->bins.empty());
  }
  CHECK(parentA.bins.size() == 1);  // the parents are left alone
}

TEST_CASE("recombination draws x, y, t, d after the test and normalises both offspring") {
  const std::uint32_t seed = seedWhoseFirstUnitDraw([](double u) { return u < 0.8; });
  const Genes factories{3, 1, 3, 2, 1, 3, 2, 1};
  Individual parentA =
      individualWith({0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 0, 1, 0, 1, 0, 1}, {1, 1, 0, 1, 0});
  Individual parentB =
      individualWith({7, 5, 3, 1, 6, 4, 2, 0}, {1, 1, 1, 1, 0, 0, 0, 0}, {0, 0, 1});
  pretendEvaluated(parentA, 10.0);

  std::mt19937 twin(seed);
  REQUIRE(unitDraw(twin) < 0.8);
  const std::int32_t x = boundedDraw(twin, 1, 7);
  const std::int32_t y = boundedDraw(twin, 1, 7);
  const std::int32_t t = boundedDraw(twin, 1, 7);
  const std::int32_t d = boundedDraw(twin, 1, 2);  // common bin length 3: range 1 .. max(2, 2)

  std::mt19937 rng(seed);
  const auto [first, second] = crossover(rng, parentA, parentB, 0.8, factories);
  CHECK((rng == twin));

  Individual expectedFirst;
  expectedFirst.order =
      orderCrossover(parentA.order, parentB.order, std::min(x, y), std::max(x, y));
  stowra::normalizeChromosome(expectedFirst, factories);
  CHECK(first.order == expectedFirst.order);
  CHECK(stowra::testing::groupedByFactory(first.order, factories));
  CHECK(stowra::testing::groupedByFactory(second.order, factories));
  CHECK(isPermutation(second.order));
  CHECK(first.rotations == onePointCrossover(parentA.rotations, parentB.rotations, t).first);
  CHECK(second.rotations == onePointCrossover(parentA.rotations, parentB.rotations, t).second);
  CHECK(first.binTypeSequence.size() == 3);
  CHECK(second.binTypeSequence ==
        onePointCrossover(parentA.binTypeSequence, parentB.binTypeSequence, d).second);
  for (const Individual* child : {&first, &second}) {
    CHECK(child->fitness == -1.0);
    CHECK_FALSE(child->evaluated);
    CHECK(child->bins.empty());
  }
}

TEST_CASE("recombination edge cases") {
  const std::uint32_t seed = seedWhoseFirstUnitDraw([](double u) { return u < 0.8; });
  std::mt19937 rng(seed);

  SUBCASE("two items: every cut is 1, so each order equals its source parent's") {
    const Individual parentA = individualWith({0, 1}, {0, 1}, {1, 1, 1});
    const Individual parentB = individualWith({1, 0}, {1, 0}, {0, 0, 0});
    const auto [first, second] = crossover(rng, parentA, parentB, 0.8, {9, 8});
    CHECK(first.order == Genes{0, 1});
    CHECK(second.order == Genes{1, 0});
    CHECK(first.rotations == Genes{0, 0});  // item 0 from A, item 1 from B
    CHECK(second.rotations == Genes{1, 1});
  }
  SUBCASE("identical parents reproduce the parent's genes, unevaluated") {
    Individual parent = individualWith({3, 1, 0, 2, 4}, {1, 0, 0, 1, 1}, {0, 1, 0});
    pretendEvaluated(parent, 3.0);
    const auto [first, second] = crossover(rng, parent, parent, 0.8, {0, 0, 0, 0, 0});
    for (const Individual* child : {&first, &second}) {
      CHECK(child->order == parent.order);
      CHECK(child->rotations == parent.rotations);
      CHECK(child->binTypeSequence == parent.binTypeSequence);
      CHECK_FALSE(child->evaluated);
      CHECK(child->fitness == -1.0);
    }
  }
  SUBCASE("a one-gene parent gives one-gene offspring, and no genes give none") {
    const Individual parentA = individualWith({0, 1, 2}, {0, 0, 0}, {1});
    const Individual parentB = individualWith({2, 1, 0}, {0, 0, 0}, {0, 0, 0, 0});
    const auto [first, second] = crossover(rng, parentA, parentB, 0.8, {1, 2, 3});
    CHECK(first.binTypeSequence == Genes{1});  // whatever d, A's first gene
    CHECK(second.binTypeSequence == Genes{0});

    std::mt19937 again(seed);
    const Individual bare = individualWith({0, 1, 2}, {0, 0, 0}, {});
    const auto [bareFirst, bareSecond] = crossover(again, bare, parentB, 0.8, {1, 2, 3});
    CHECK(bareFirst.binTypeSequence.empty());
    CHECK(bareSecond.binTypeSequence.empty());
  }
}
