#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "candidate/individual.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// The numbers that shape the random candidates of one initial population.
struct PopulationShape {
  std::int32_t candidateCount = 0;  // M = 5 * slots
  std::int32_t nearOrderCount = 0;  // H = trunc(M * 0.5); the other M - H are fully shuffled
  std::int32_t scrambleCount = 0;   // k = max(1, trunc(n * 0.2)) positions permuted per near-order
  std::int32_t binGeneCount = 0;    // G = max(min(ceil(V / B), n + 1) + 2, 3)
};

// A decoding opens at most n + 1 bins, so G is capped there: later genes are never read, and a
// first bin type in other units than the items would otherwise ask for billions of genes.
PopulationShape populationShape(std::int32_t slots, const std::vector<ItemSpec>& items,
                                const std::vector<BinType>& binTypes);

// About how many bytes a population of the seed and the planned candidates takes, with the
// allocator's rounding of each chromosome and the first generation's bookkeeping per member.
std::uint64_t initialPopulationBytes(const PopulationShape& shape, std::size_t itemCount);

// Appends 5 * slots random candidates to `into` in build order (near-order ones first, then
// fully shuffled), normalised by factory and unevaluated. `keepBuilding` (may be empty) is
// asked every few dozen candidates; it may throw, or return false to end the build there.
// Fails with a length error when slots < 0.
void buildCandidates(std::mt19937& rng, std::int32_t slots, const std::vector<ItemSpec>& items,
                     const std::vector<BinType>& binTypes,
                     const std::vector<std::int32_t>& itemFactories,
                     const std::function<bool()>& keepBuilding, std::vector<Individual>& into);

// How many candidates are built or evaluated between two interrupt checks.
inline constexpr std::int32_t INTERRUPT_CHECK_INTERVAL = 32;

}  // namespace stowra
