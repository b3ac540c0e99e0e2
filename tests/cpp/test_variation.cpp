#include <doctest/doctest.h>

#include <malloc.h>

#include <array>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "test_support.hpp"
#include "variation/crossover.hpp"
#include "variation/initial_population.hpp"
#include "variation/mutation.hpp"
#include "variation/normalization.hpp"

using namespace stowra;
using namespace stowra::testing;

TEST_CASE("order and one-point crossover") {
  const Genes a{0, 1, 2, 3, 4, 5}, b{5, 3, 1, 4, 0, 2};
  CHECK(orderCrossover(a, b, 2, 3) == Genes{1, 4, 2, 3, 0, 5});
  CHECK(orderCrossover(b, a, 2, 3) == Genes{2, 3, 1, 4, 5, 0});
  CHECK(orderCrossover(b, a, 1, 5) == b);  // the widest cut reproduces the source

  // clang-format off
  const std::tuple<Genes, Genes, std::int32_t, Genes, Genes> cases[] = {
      {{0, 1, 1, 0}, {1, 0, 0, 1}, 1, {0, 0, 0, 1}, {1, 1, 1, 0}},  // rotations
      {{1, 1, 0, 1, 0}, {0, 0, 1}, 2, {1, 1, 1}, {0, 0, 0}},        // bin types: the shorter length
      {{1, 1, 0, 1, 0}, {0, 0, 1}, 3, {1, 1, 0}, {0, 0, 1}},        // a cut at the end copies
      {{}, {1, 1}, 1, {}, {}},                                      // an empty list empties both
  };
  // clang-format on
  for (const auto& [a, b, cut, first, second] : cases) {
    CAPTURE(cut);
    CHECK(onePointCrossover(a, b, cut) == std::pair{first, second});
  }
}

TEST_CASE("swap mutation: a pair always swaps, however often the second index is redrawn") {
  for (std::uint32_t s = 1; s <= 5; ++s) {
    Genes pair{4, 9};
    std::mt19937 g(s);
    swapMutation(g, pair);
    CHECK(pair == Genes{9, 4});
  }
}

TEST_CASE("normalisation groups by factory in order of first appearance") {
  // clang-format off
  const std::tuple<Genes, Genes, Genes> cases[] = {  // factories, order, normalised order
      {{7, 3, 7, 9, 3, 7}, {4, 0, 3, 2, 1, 5}, {4, 1, 0, 2, 5, 3}},
      // Factories 1 1 1 2 3 3 with positions 1 and 4 swapped: the moved item of factory 1 ends
      // its run and factory 3 moves ahead of factory 2.
      {{1, 1, 1, 2, 3, 3}, {0, 4, 2, 3, 1, 5}, {0, 2, 1, 4, 5, 3}},
  };
  // clang-format on
  for (const auto& [factories, order, expected] : cases) {
    Individual ind = individualWith(order, {1, 0, 1, 0, 1, 0}, {1, 0});
    ind.evaluated = true;
    normalizeChromosome(ind, factories);
    // Rotations are indexed by item, not position, so they stay.
    CHECK(std::tie(ind.order, ind.rotations, ind.evaluated) ==
          std::tuple(expected, Genes{1, 0, 1, 0, 1, 0}, false));
  }
}

TEST_CASE("initial population: M, H, k, G and the interrupt checks") {
  const std::vector<BinType> bins{{"20GP", 10, 10, 10}, {"40GP", 20, 20, 20}};
  const ItemSpec cube = makeItem(4, 4, 4), bar = makeItem(2, 1, 1);  // volumes 64 and 2
  // clang-format off
  using Plan = std::array<std::int32_t, 4>;  // M, H, k, G
  const std::tuple<std::int32_t, std::vector<ItemSpec>, std::vector<BinType>, Plan> cases[] = {
      {99, std::vector(37, cube), bins, {495, 247, 7, 5}},  // volume 2368: 3 bins, G = 3 + 2
      {1, std::vector(3, bar), bins, {5, 2, 1, 3}},  // odd M rounds H down; G at least 3
      // A bin in metres against items in millimetres: G is capped at n + 1 + 2.
      {1, std::vector(30, bar), {{"20GP", 0.001, 0.001, 0.001}}, {5, 2, 6, 33}},
  };
  // clang-format on
  for (const auto& [slots, items, types, expected] : cases) {
    CAPTURE(items.size());
    const PopulationShape shape = populationShape(slots, items, types);
    CHECK(std::array{shape.candidateCount, shape.nearOrderCount, shape.scrambleCount,
                     shape.binGeneCount} == expected);
  }

  // 100 candidates: a check per 32 started; one that says stop ends the build there.
  std::mt19937 rng(42);
  for (const auto& [stopAt, expectedChecks, expectedBuilt] : {std::tuple{99, 4, 100}, {2, 2, 32}}) {
    int checks = 0;
    std::vector<Individual> built(1);  // appended after what is there
    buildCandidates(
        rng, 20, std::vector(6, bar), bins, Genes(6, 0),
        [&checks, stopAt] { return ++checks < stopAt; }, built);
    CHECK(std::tuple{checks, built.size()} == std::tuple{expectedChecks, expectedBuilt + 1});
  }
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's allocator keeps its own books
TEST_CASE("the population's memory estimate covers what building it takes") {
  const std::vector<BinType> bins{{"20GP", 10, 10, 10}, {"40GP", 20, 20, 20}};
  const ItemSpec bar = makeItem(2, 1, 1);
  std::mt19937 rng(3);
  for (const std::size_t itemCount : {2, 50, 400}) {
    CAPTURE(itemCount);
    const std::vector<ItemSpec> items(itemCount, bar);
    const PopulationShape shape = populationShape(500, items, bins);
    std::vector<Individual> population;
    // Blocks in use on the heap and those mapped on their own: which of the two a large block
    // lands in depends on what earlier tests freed (glibc's mmap threshold moves).
    const auto inUse = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
    const std::size_t before = inUse();
    buildCandidates(rng, 500, items, bins, Genes(itemCount, 0), {}, population);
    const auto taken = static_cast<double>(inUse() - before);
    // Beyond what building takes, the estimate holds the generation's bookkeeping.
    const auto estimate = static_cast<double>(initialPopulationBytes(shape, itemCount));
    CHECK(taken <= estimate);
    CHECK(estimate < 1.3 * taken);
  }
}
#endif
