#pragma once

#include <vector>

#include "candidate/individual.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// Replaces the individual's bins by the decoding of its chromosomes, statistics finished.
void decode(Individual& individual, const std::vector<ItemSpec>& items,
            const std::vector<BinType>& binTypes);

inline constexpr const char* NON_FINITE_PLAN_MESSAGE =
    "The plan's figures overflow (its fitness is not a finite number): sizes, weights or costs "
    "are too large to combine; give them in larger units";

// Whether an evaluation leaves the decoded bins in the individual. The search reads only the
// figures, and a population of decoded bins is most of its memory on large loads.
enum class KeepBins : bool { no, yes };

// Centre of gravity and used extent of every bin; the free spaces, which nothing reads once a
// plan is finished, are dropped.
void finishBins(std::vector<PackedBin>& bins, const std::vector<ItemSpec>& items);

// Scores the individual's finished bins (whatever packed them) and marks it evaluated. Fails
// with an invalid-argument error when the figures overflow.
void scoreBins(Individual& individual, double totalWeight);

// Decodes and scores an unevaluated individual; an evaluated one is left as it is. Fails with
// an invalid-argument error when the figures overflow.
void evaluate(Individual& individual, const std::vector<ItemSpec>& items,
              const std::vector<BinType>& binTypes, double totalWeight,
              KeepBins keepBins = KeepBins::yes);

}  // namespace stowra
