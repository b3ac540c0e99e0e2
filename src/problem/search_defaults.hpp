#pragma once

#include <cstdint>

namespace stowra {

// The searches' option defaults, written once: the core's configurations, the module's
// signatures and, through the module, every front end read them from here.
inline constexpr std::int32_t DEFAULT_POP_SIZE = 100;
inline constexpr std::int32_t DEFAULT_GENERATIONS = 50;
inline constexpr double DEFAULT_PACK_TIME_LIMIT = 300.0;     // seconds
inline constexpr double DEFAULT_OPTIMIZE_TIME_LIMIT = 60.0;  // seconds
inline constexpr std::int32_t DEFAULT_THREADS = 0;           // all cores
inline constexpr std::int32_t DEFAULT_SEED = 42;
inline constexpr std::int32_t DEFAULT_EFFORT = 2;
inline constexpr double DEFAULT_BALANCE_LIMIT = 0.6;  // the 60/40 rule
inline constexpr bool DEFAULT_PICKUP_ORDER = true;

}  // namespace stowra
