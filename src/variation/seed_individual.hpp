#pragma once

#include <vector>

#include "candidate/fitness.hpp"
#include "candidate/individual.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// The one deterministic member of the initial population: items in input order, unrotated,
// with one bin-type gene per bin the decoder opens when it picks every type itself (0 for a
// 20-foot name, else 1). Returned evaluated; draws nothing and is not normalised.
Individual buildSeedIndividual(const std::vector<ItemSpec>& items,
                               const std::vector<BinType>& binTypes, double totalWeight,
                               KeepBins keepBins = KeepBins::yes);

}  // namespace stowra
