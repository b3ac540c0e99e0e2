#include <doctest/doctest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "search/random_draws.hpp"
#include "search/selection.hpp"
#include "test_support.hpp"

using namespace stowra;
using stowra::testing::Genes;
using stowra::testing::rawOutputsConsumed;

TEST_CASE("unit draws: standard seeding, bit layout and raw outputs") {
  std::mt19937 reference(42);
  const std::uint64_t a = reference(), b = reference();
  CHECK(a == 1608637542U);
  std::mt19937 rng(42);
  const double u = unitDraw(rng);
  CHECK(rawOutputsConsumed(rng, 42) == 2);
  // High 32 bits from the second output, low 21 from the first; 53-bit integers are exact.
  CHECK(static_cast<std::uint64_t>(u * 9007199254740992.0) == (b << 21 | a >> 11));
  CHECK(uniformDraw(rng, 2.0, 6.0) == 2.0 + 4.0 * unitDraw(reference));
  CHECK(rawOutputsConsumed(rng, 42) == 4);
  rng.seed(42);
  CHECK_FALSE(chance(rng, u));  // strictly below p
  CHECK(rawOutputsConsumed(rng, 42) == 2);
}

TEST_CASE("bounded draws and shuffles: values and raw outputs") {
  std::mt19937 rng(42), reference(42);
  CHECK(boundedDraw(rng, 1, 1) == 1);
  CHECK(rawOutputsConsumed(rng, 42) == 1);
  reference.discard(1);
  for (int draw = 0; draw < 32; ++draw) {  // (0, 1) is the top bit of one output
    CHECK(boundedDraw(rng, 0, 1) == static_cast<std::int32_t>(reference() >> 31));
  }
  // [-1, 2^31 - 1] holds r = 2^31 + 1 values: an output is kept when the low half of x * r is
  // at least 2^32 mod r, so about half are redrawn.
  constexpr std::uint64_t range = (1ULL << 31) + 1, threshold = (1ULL << 32) % range;
  int redrawn = 0;
  for (int draw = 0; draw < 100; ++draw) {
    std::uint64_t product = reference() * range;
    for (; (product & 0xFFFFFFFFULL) < threshold; ++redrawn) product = reference() * range;
    CHECK(boundedDraw(rng, -1, std::numeric_limits<std::int32_t>::max()) ==
          static_cast<std::int32_t>(product >> 32) - 1);
  }
  CHECK(redrawn > 25);
  CHECK((rng == reference));

  // Entry i is exchanged with boundedDraw(0, i), i rising; fewer than two entries draw nothing.
  Genes none, one{7}, values{0, 1, 2, 3, 4, 5, 6, 7, 8}, expected = values;
  for (std::size_t i = 1; i < expected.size(); ++i) {
    std::swap(expected[i], expected[boundedDraw(reference, 0, static_cast<std::int32_t>(i))]);
  }
  shuffle(rng, none);
  shuffle(rng, one);
  shuffle(rng, values);
  CHECK(values == expected);
  CHECK((rng == reference));
  for (const std::uint32_t seed : {1U, 2U, 3U, 4U}) {  // a pair: one draw, swapped on 0
    rng.seed(seed);
    Genes pair{10, 20};
    shuffle(rng, pair);
    CHECK(rawOutputsConsumed(rng, seed) == 1);
    CHECK(pair == ((std::mt19937(seed)() >> 31) == 0 ? Genes{20, 10} : Genes{10, 20}));
  }
}

TEST_CASE("elite count: a tenth of the population, raised to even") {
  const std::pair<std::int32_t, std::int32_t> table[] = {
      {1, 0},  {9, 0},  {10, 2},  {19, 2},   {20, 2},   {29, 2},  {30, 4},
      {50, 6}, {70, 8}, {99, 10}, {100, 10}, {150, 16}, {200, 20}};
  for (const auto& [popSize, elites] : table) {
    CAPTURE(popSize);
    CHECK(eliteCountFor(popSize, 0.1) == elites);
  }
}

TEST_CASE("roulette: weights, the wheel and the parent draws") {
  using W = std::vector<double>;
  CHECK(rouletteWeights(W{0.0, 1.0, 3.0}) == W{1.0, 0.5, 0.25});
  CHECK(rouletteWeights(W{-0.5, 1.0}) == W{2.0, 0.5});  // above -1: the plain 1 / (f + 1)
  // At or below -1 every entry is shifted by the smallest: 1 / (f - min + 1).
  CHECK(rouletteWeights(W{-1.0, 0.0, 1.0}) == W{1.0, 0.5, 1.0 / 3.0});
  CHECK(rouletteWeights(W{-851.5, -700.0, -851.5}) == W{1.0, 1.0 / 152.5, 1.0});

  const W weights{1.0, 0.5, 0.25};
  CHECK(rouletteIndex(weights, 1.0) == 0);  // reaching the target is enough
  CHECK(rouletteIndex(weights, 1.0000001) == 1);
  CHECK(rouletteIndex(weights, 2.0) == 2);  // rounding past the total: the last index

  std::mt19937 twin(42), rng(42);
  const double first = uniformDraw(twin, 0.0, 1.75), second = uniformDraw(twin, 0.0, 1.75);
  const auto [a, b] = drawParentIndices(rng, W{0.0, 1.0, 3.0});
  CHECK(rawOutputsConsumed(rng, 42) == 4);
  CHECK(a == rouletteIndex(weights, first));
  CHECK(b == rouletteIndex(weights, second));
}
