#pragma once

#include <chrono>

namespace stowra {

// Seconds on the steady clock since `start`: what time limits and the result's elapsed time read.
double secondsSince(std::chrono::steady_clock::time_point start);

}  // namespace stowra
