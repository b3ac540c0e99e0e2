#include "search/elapsed_time.hpp"

namespace stowra {

double secondsSince(std::chrono::steady_clock::time_point start) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now() - start);
  return static_cast<double>(elapsed.count()) / 1e9;
}

StopCheck timeLimitCheck(std::chrono::steady_clock::time_point start, double limit) {
  return [start, limit] { return limit > 0.0 && secondsSince(start) > limit; };
}

}  // namespace stowra
