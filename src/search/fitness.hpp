#pragma once

#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item_spec.hpp"
#include "search/individual.hpp"

namespace stowra {

// Replaces the individual's bins by the decoding of its chromosomes, statistics finished.
void decode(Individual& individual, const std::vector<ItemSpec>& items,
            const std::vector<BinType>& binTypes);

// Decodes and scores an unevaluated individual; an evaluated one is left as it is.
void evaluate(Individual& individual, const std::vector<ItemSpec>& items,
              const std::vector<BinType>& binTypes, double totalWeight);

}  // namespace stowra
