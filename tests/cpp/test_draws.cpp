#include <doctest/doctest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "candidate/random_draws.hpp"
#include "search/selection.hpp"
#include "test_support.hpp"

using namespace stowra;
using stowra::testing::Genes;
using stowra::testing::rawOutputsConsumed;

// The standard mt19937 seeded with 42 gives 1608637542, 3421126067, 4083286876, 787846414, ...
// Every value below is worked out by hand from those outputs and the documented draw rules.
TEST_CASE("draws from seed 42, worked out by hand") {
  std::mt19937 rng(42);
  CHECK(rng() == 1608637542U);
  rng.seed(42);
  // (3421126067 * 2^21 + (1608637542 >> 11)) * 2^-53 = 0.7965429842878459
  CHECK(unitDraw(rng) * 0x1p53 == 7174621374446651.0);
  CHECK(rawOutputsConsumed(rng, 42) == 2);
  rng.seed(42);
  CHECK(uniformDraw(rng, 2.0, 6.0) == 5.186171937151384);  // 2 + 4 * 0.7965...
  rng.seed(42);
  CHECK_FALSE(chance(rng, 0x1.97d47b66bfc3bp-1));  // the draw itself: strictly below p only
  rng.seed(42);
  CHECK(chance(rng, 0x1.97d47b66bfc3cp-1));  // one step above it

  rng.seed(42);
  CHECK(boundedDraw(rng, 1, 1) == 1);
  CHECK(rawOutputsConsumed(rng, 42) == 1);
  rng.seed(42);
  // [0, 1] is the top bit of one output.
  CHECK(Genes{boundedDraw(rng, 0, 1), boundedDraw(rng, 0, 1), boundedDraw(rng, 0, 1),
              boundedDraw(rng, 0, 1)} == Genes{0, 1, 1, 0});
  rng.seed(42);
  // r = 2^31 + 1 values: the low halves of 1608637542 * r and 3421126067 * r are below
  // 2^32 mod r = 2^31 - 1, so both are redrawn; 4083286876 * r >> 32 = 2041643438, less 1.
  CHECK(boundedDraw(rng, -1, INT32_MAX) == 2041643437);
  CHECK(rawOutputsConsumed(rng, 42) == 3);
  rng.seed(42);
  CHECK(boundedDraw(rng, INT32_MIN, INT32_MAX) == INT32_MIN + 1608637542);  // r = 0: one output
  CHECK(rawOutputsConsumed(rng, 42) == 1);

  // Entry i is exchanged with boundedDraw(0, i), i rising: here with 0, 2, 3 and 0.
  Genes none, one{7}, two{0, 1}, values{0, 1, 2, 3, 4};
  rng.seed(42);
  shuffle(rng, none);
  shuffle(rng, one);
  CHECK(rawOutputsConsumed(rng, 42) == 0);
  shuffle(rng, two);
  CHECK((two == Genes{1, 0} && rawOutputsConsumed(rng, 42) == 1));
  rng.seed(42);
  shuffle(rng, values);
  CHECK(values == Genes{4, 0, 2, 3, 1});
  CHECK(rawOutputsConsumed(rng, 42) == 4);
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

  // Spins 1.75 * 0.7965... = 1.394 (past 1, within 1.5) and 1.75 * 0.1834... = 0.321, the
  // second unit draw being (787846414 * 2^21 + (4083286876 >> 11)) * 2^-53.
  std::mt19937 rng(42);
  CHECK(drawParentIndices(rng, W{0.0, 1.0, 3.0}) == std::pair<std::size_t, std::size_t>(1, 0));
  CHECK(rawOutputsConsumed(rng, 42) == 4);
}
