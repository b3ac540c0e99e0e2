#include <doctest/doctest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "draw_counting.hpp"
#include "search/random_draws.hpp"
#include "search/selection.hpp"

using stowra::drawParentIndices;
using stowra::eliteCountFor;
using stowra::rouletteIndex;
using stowra::rouletteWeights;
using stowra::testing::rawOutputsConsumed;

TEST_CASE("elite count: a tenth of the population, raised to even") {
  const std::vector<std::pair<std::int32_t, std::int32_t>> table = {
      {1, 0},  {5, 0},  {9, 0},  {10, 2}, {15, 2},  {19, 2},   {20, 2},   {29, 2},
      {30, 4}, {39, 4}, {50, 6}, {70, 8}, {99, 10}, {100, 10}, {150, 16}, {200, 20}};
  for (const auto& [popSize, elites] : table) {
    CAPTURE(popSize);
    CHECK(eliteCountFor(popSize, 0.1) == elites);
  }
}

TEST_CASE("roulette weights favour low fitness and stay usable below -1") {
  SUBCASE("ordinary fitness: 1 / (f + 1)") {
    const std::vector<double> weights = rouletteWeights(std::vector<double>{0.0, 1.0, 3.0});
    CHECK(weights == std::vector<double>{1.0, 0.5, 0.25});
  }
  SUBCASE("a smallest fitness just above -1 keeps the plain rule") {
    const std::vector<double> weights = rouletteWeights(std::vector<double>{-0.5, 1.0});
    CHECK(weights == std::vector<double>{2.0, 0.5});
  }
  SUBCASE("at or below -1 every entry is shifted by the smallest") {
    for (const std::vector<double>& fitness :
         {std::vector<double>{-1.0, 0.0, 1.0}, std::vector<double>{-851.5, -851.5, -700.0, 12.0}}) {
      const std::vector<double> weights = rouletteWeights(fitness);
      CHECK(weights.front() == 1.0);
      for (std::size_t i = 0; i < weights.size(); ++i) {
        CAPTURE(i);
        CHECK(std::isfinite(weights[i]));
        CHECK(weights[i] > 0.0);
        if (i > 0) CHECK(weights[i] <= weights[i - 1]);
      }
    }
    CHECK(rouletteWeights(std::vector<double>{-3.0, -1.0})[1] == doctest::Approx(1.0 / 3.0));
  }
}

TEST_CASE("the wheel picks the first index whose running sum reaches the target") {
  const std::vector<double> weights{1.0, 0.5, 0.25};
  CHECK(rouletteIndex(weights, 0.0) == 0);
  CHECK(rouletteIndex(weights, 1.0) == 0);  // reaching is enough
  CHECK(rouletteIndex(weights, 1.0000001) == 1);
  CHECK(rouletteIndex(weights, 1.5) == 1);
  CHECK(rouletteIndex(weights, 1.6) == 2);
  CHECK(rouletteIndex(weights, 2.0) == 2);  // rounding past the total: the last index
}

TEST_CASE("parent draws: two uniform draws over the total weight") {
  const std::vector<double> fitness{0.0, 1.0, 3.0};

  SUBCASE("four raw outputs, spun in order") {
    std::mt19937 twin(42);
    const double first = stowra::uniformDraw(twin, 0.0, 1.75);
    const double second = stowra::uniformDraw(twin, 0.0, 1.75);
    std::mt19937 rng(42);
    const auto [a, b] = drawParentIndices(rng, fitness);
    CHECK(rawOutputsConsumed(rng, 42) == 4);
    const std::vector<double> weights{1.0, 0.5, 0.25};
    CHECK(a == rouletteIndex(weights, first));
    CHECK(b == rouletteIndex(weights, second));
  }
  SUBCASE("equal fitness gives every member the same chance") {
    std::mt19937 rng(11);
    std::array<int, 4> counts{};
    for (int draw = 0; draw < 20000; ++draw) {
      const auto [a, b] = drawParentIndices(rng, std::vector<double>(4, 250.0));
      ++counts[a];
      ++counts[b];
    }
    for (const int count : counts) CHECK(count == doctest::Approx(10000).epsilon(0.05));
  }
  SUBCASE("zero-cost plans (fitness below -1) still select, favouring the best") {
    std::mt19937 rng(11);
    std::array<int, 3> counts{};
    for (int draw = 0; draw < 6000; ++draw) {
      const auto [a, b] = drawParentIndices(rng, std::vector<double>{-950.0, -949.0, -900.0});
      ++counts[a];
      ++counts[b];
    }
    CHECK(counts[0] > counts[1]);
    CHECK(counts[1] > counts[2]);
    CHECK(counts[2] > 0);
  }
}
