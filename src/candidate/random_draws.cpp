#include "candidate/random_draws.hpp"

#include <utility>

namespace stowra {

double unitDraw(std::mt19937& rng) {
  const std::uint64_t first = rng();
  const std::uint64_t second = rng();
  const std::uint64_t bits53 = (second << 21) | (first >> 11);
  return static_cast<double>(bits53) * 0x1.0p-53;
}

double uniformDraw(std::mt19937& rng, double a, double b) {
  return a + (b - a) * unitDraw(rng);
}

bool chance(std::mt19937& rng, double p) {
  return unitDraw(rng) < p;
}

std::int32_t boundedDraw(std::mt19937& rng, std::int32_t lo, std::int32_t hi) {
  const auto low = static_cast<std::uint32_t>(lo);
  const std::uint32_t range = static_cast<std::uint32_t>(hi) - low + 1U;
  if (range == 0U) return static_cast<std::int32_t>(low + static_cast<std::uint32_t>(rng()));

  std::uint64_t product = static_cast<std::uint64_t>(rng()) * range;
  if (static_cast<std::uint32_t>(product) < range) {
    const std::uint32_t threshold = (0U - range) % range;  // 2^32 mod range
    while (static_cast<std::uint32_t>(product) < threshold) {
      product = static_cast<std::uint64_t>(rng()) * range;
    }
  }
  return static_cast<std::int32_t>(low + static_cast<std::uint32_t>(product >> 32));
}

void shuffle(std::mt19937& rng, std::span<std::int32_t> values) {
  for (std::size_t i = 1; i < values.size(); ++i) {
    const auto j = static_cast<std::size_t>(boundedDraw(rng, 0, static_cast<std::int32_t>(i)));
    std::swap(values[i], values[j]);
  }
}

}  // namespace stowra
