#include <doctest/doctest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "draw_counting.hpp"
#include "search/random_draws.hpp"

using stowra::boundedDraw;
using stowra::chance;
using stowra::shuffle;
using stowra::uniformDraw;
using stowra::unitDraw;
using stowra::testing::rawOutputsConsumed;

TEST_CASE("the generator is the standard mt19937 with its standard seeding") {
  std::mt19937 rng(42);
  CHECK(rng() == 1608637542U);
}

TEST_CASE("unitDraw takes the high 32 bits from the second output, the low 21 from the first") {
  for (const std::uint32_t seed : {42U, 7U, 4294967295U}) {
    CAPTURE(seed);
    std::mt19937 reference(seed);
    const std::uint64_t a = reference();
    const std::uint64_t b = reference();

    std::mt19937 rng(seed);
    const double u = unitDraw(rng);
    CHECK(rawOutputsConsumed(rng, seed) == 2);
    // Every 53-bit integer is exact in a double, so the scaling back is lossless.
    const auto bits = static_cast<std::uint64_t>(u * 9007199254740992.0);
    CHECK((bits >> 21) == b);
    CHECK((bits & ((1U << 21) - 1U)) == a >> 11);
    CHECK(u >= 0.0);
    CHECK(u < 1.0);
  }
}

TEST_CASE("uniformDraw and chance each consume one unit draw") {
  std::mt19937 rng(42);
  std::mt19937 twin(42);
  const double u = unitDraw(twin);

  SUBCASE("uniformDraw scales the unit draw onto [a, b)") {
    CHECK(uniformDraw(rng, 2.0, 6.0) == 2.0 + 4.0 * u);
    CHECK(rawOutputsConsumed(rng, 42) == 2);
  }
  SUBCASE("chance compares the unit draw with p, strictly") {
    CHECK(chance(rng, u) == false);
    CHECK(chance(rng, 1.0) == true);  // a unit draw is never 1
    CHECK(chance(rng, 0.0) == false);
    CHECK(rawOutputsConsumed(rng, 42) == 6);
  }
}

TEST_CASE("boundedDraw: values, ranges and raw outputs consumed") {
  SUBCASE("a single-value range still consumes one output") {
    std::mt19937 rng(42);
    CHECK(boundedDraw(rng, 1, 1) == 1);
    CHECK(rawOutputsConsumed(rng, 42) == 1);
    CHECK(boundedDraw(rng, 0, 0) == 0);
    CHECK(rawOutputsConsumed(rng, 42) == 2);
  }
  SUBCASE("(0, 1) is the top bit of one output") {
    std::mt19937 reference(9);
    std::mt19937 rng(9);
    for (int draw = 0; draw < 64; ++draw) {
      CHECK(boundedDraw(rng, 0, 1) == static_cast<std::int32_t>(reference() >> 31));
    }
    CHECK((rng == reference));
  }
  SUBCASE("the full 32-bit range adds one raw output to lo, wrapping") {
    constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t highest = std::numeric_limits<std::int32_t>::max();
    std::mt19937 reference(42);
    std::mt19937 rng(42);
    CHECK(boundedDraw(rng, lowest, highest) ==
          static_cast<std::int32_t>(static_cast<std::uint32_t>(reference()) + 0x80000000U));
    CHECK(boundedDraw(rng, 0, -1) == static_cast<std::int32_t>(reference()));
    CHECK((rng == reference));
  }
  SUBCASE("with a range just above 2^31 about half the outputs are rejected") {
    // [-1, 2^31 - 1] holds r = 2^31 + 1 values, so 2^32 mod r = 2^31 - 1: an output is kept when
    // the low half of x * r is at least that.
    constexpr std::uint64_t range = (1ULL << 31) + 1;
    constexpr std::uint64_t threshold = (1ULL << 32) % range;
    std::mt19937 reference(42);
    std::mt19937 rng(42);
    int rejected = 0;
    for (int draw = 0; draw < 200; ++draw) {
      const std::int32_t value = boundedDraw(rng, -1, std::numeric_limits<std::int32_t>::max());
      std::uint64_t product = reference() * range;
      while ((product & 0xFFFFFFFFULL) < threshold) {
        ++rejected;
        product = reference() * range;
      }
      CHECK(value == static_cast<std::int32_t>(product >> 32) - 1);
    }
    CHECK((rng == reference));
    CHECK(rejected > 50);
  }
  SUBCASE("negative bounds stay inside the range and reach both ends") {
    std::mt19937 rng(3);
    std::array<int, 6> counts{};
    int outside = 0;
    for (int draw = 0; draw < 60000; ++draw) {
      const std::int32_t value = boundedDraw(rng, -3, 2);
      if (value < -3 || value > 2) {
        ++outside;
        continue;
      }
      ++counts[value + 3];
    }
    CHECK(outside == 0);
    for (const int count : counts) CHECK(count == doctest::Approx(10000).epsilon(0.05));
  }
}

TEST_CASE("shuffle makes one bounded draw per entry after the first") {
  SUBCASE("fewer than two entries consume nothing") {
    std::mt19937 rng(42);
    std::vector<std::int32_t> empty;
    std::vector<std::int32_t> single{7};
    shuffle(rng, empty);
    shuffle(rng, single);
    CHECK(single == std::vector<std::int32_t>{7});
    CHECK(rawOutputsConsumed(rng, 42) == 0);
  }
  SUBCASE("two entries: one draw in [0, 1], the pair swapped when it is 0") {
    for (const std::uint32_t seed : {1U, 2U, 3U, 4U, 5U, 6U}) {
      CAPTURE(seed);
      std::mt19937 reference(seed);
      const bool swapped = (reference() >> 31) == 0;
      std::mt19937 rng(seed);
      std::vector<std::int32_t> pair{10, 20};
      shuffle(rng, pair);
      CHECK(rawOutputsConsumed(rng, seed) == 1);
      CHECK(pair ==
            (swapped ? std::vector<std::int32_t>{20, 10} : std::vector<std::int32_t>{10, 20}));
    }
  }
  SUBCASE("entry i is exchanged with boundedDraw(0, i), in increasing i") {
    std::mt19937 rng(42);
    std::mt19937 twin(42);
    std::vector<std::int32_t> values(12);
    std::iota(values.begin(), values.end(), 0);
    std::vector<std::int32_t> expected = values;
    for (std::size_t i = 1; i < expected.size(); ++i) {
      std::swap(expected[i], expected[boundedDraw(twin, 0, static_cast<std::int32_t>(i))]);
    }
    shuffle(rng, values);
    CHECK(values == expected);
    CHECK((rng == twin));
    std::sort(values.begin(), values.end());
    CHECK(values == std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  }
}
