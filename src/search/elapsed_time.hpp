#pragma once

#include <chrono>
#include <functional>

namespace stowra {

// Seconds on the steady clock since `start`: what time limits and the result's elapsed time read.
double secondsSince(std::chrono::steady_clock::time_point start);

// True once the caller's time is up; an empty one never is.
using StopCheck = std::function<bool()>;

// A check that is true once more than `limit` seconds have passed since `start`; never true when
// `limit` <= 0 (no limit).
StopCheck timeLimitCheck(std::chrono::steady_clock::time_point start, double limit);

}  // namespace stowra
