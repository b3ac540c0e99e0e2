#pragma once

#include <cstdint>
#include <vector>

#include "candidate/individual.hpp"

namespace stowra {

// Groups `order` by factory: runs ordered by each factory's first appearance, items keeping
// their relative order within a run. Rotation and bin-type genes stay as they are; the
// evaluation is discarded even when nothing moved.
void normalizeChromosome(Individual& individual, const std::vector<std::int32_t>& itemFactories);

}  // namespace stowra
