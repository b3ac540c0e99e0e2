#pragma once

#include <cstdint>

namespace stowra {

// 5 * (pop_size - 1) random candidates must stay countable in 32 bits.
inline constexpr std::int32_t MAX_POP_SIZE = 429496730;

// Rejects arguments the search cannot run with: pop_size outside [1, MAX_POP_SIZE], a NaN
// time limit (it would silently switch the limit off).
void checkSearchArguments(std::int32_t popSize, double timeLimit);

}  // namespace stowra
