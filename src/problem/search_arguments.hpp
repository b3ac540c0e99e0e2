#pragma once

#include <cstdint>
#include <stdexcept>

#include "problem/search_defaults.hpp"

namespace stowra {

// 5 * (pop_size - 1) random candidates must stay countable in 32 bits.
inline constexpr std::int32_t MAX_POP_SIZE = 429496730;

// Rejects arguments the search cannot run with: pop_size outside [1, MAX_POP_SIZE], a NaN
// time limit (it would silently switch the limit off).
void checkSearchArguments(std::int32_t popSize, double timeLimit);

// The largest effort level of the plan search (each level adds a fixed number of rounds).
inline constexpr std::int32_t MAX_EFFORT = 20;

// The search's arguments would take more memory than it may use; thrown before allocating.
class MemoryLimitExceeded : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Rejects an effort outside [0, MAX_EFFORT], a NaN time limit and a balance limit outside
// [0.5, 1].
void checkOptimizeArguments(std::int32_t effort, double timeLimit,
                            double balanceLimit = DEFAULT_BALANCE_LIMIT);

}  // namespace stowra
