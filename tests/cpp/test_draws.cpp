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

TEST_CASE("raw outputs: standard seeding, unit draws, bounded draws and shuffles") {
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

  rng.seed(42);
  CHECK(boundedDraw(rng, 1, 1) == 1);
  CHECK(rawOutputsConsumed(rng, 42) == 1);
  reference = rng;
  // [-1, 2^31 - 1] holds r = 2^31 + 1 values: an output is kept when the low half of x * r is
  // at least 2^32 mod r, so about half are redrawn.
  constexpr std::uint64_t range = (1ULL << 31) + 1, threshold = (1ULL << 32) % range;
  for (int draw = 0; draw < 100; ++draw) {
    std::uint64_t product = reference() * range;
    while ((product & 0xFFFFFFFFULL) < threshold) product = reference() * range;
    CHECK(boundedDraw(rng, -1, INT32_MAX) == static_cast<std::int32_t>(product >> 32) - 1);
  }

  // Entry i is exchanged with boundedDraw(0, i), i rising; fewer than two entries draw nothing.
  Genes none, one{7}, values{0, 1, 2, 3, 4, 5, 6, 7, 8}, expected = values;
  for (int i = 1; i < 9; ++i) std::swap(expected[i], expected[boundedDraw(reference, 0, i)]);
  shuffle(rng, none);
  shuffle(rng, one);
  shuffle(rng, values);
  CHECK(values == expected);
  CHECK((rng == reference));
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
  CHECK((rng == twin));
  CHECK(std::pair(a, b) ==
        std::pair(rouletteIndex(weights, first), rouletteIndex(weights, second)));
}
