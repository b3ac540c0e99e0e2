#pragma once

#include <cstdint>
#include <random>

namespace stowra::testing {

// How many raw outputs `used` has consumed since it was seeded with `seed`: the k for which a
// fresh generator advanced by discard(k) has the same state. -1 if more than `limit`.
inline std::int64_t rawOutputsConsumed(const std::mt19937& used, std::uint32_t seed,
                                       std::int64_t limit = 100000) {
  std::mt19937 reference(seed);
  for (std::int64_t k = 0; k <= limit; ++k) {
    if (reference == used) return k;
    reference.discard(1);
  }
  return -1;
}

}  // namespace stowra::testing
