#include "variation/seed_individual.hpp"

#include <numeric>

#include "candidate/fitness.hpp"
#include "packing/bin_packer.hpp"

namespace stowra {

Individual buildSeedIndividual(const std::vector<ItemSpec>& items,
                               const std::vector<BinType>& binTypes, double totalWeight,
                               KeepBins keepBins) {
  Individual seed;
  seed.order.resize(items.size());
  std::iota(seed.order.begin(), seed.order.end(), 0);
  seed.rotations.assign(items.size(), 0);

  BinPacker packer(items, binTypes);
  packer.packSequence(seed.order, seed.rotations, {});
  seed.binTypeSequence = packer.binTypeCodes();

  evaluate(seed, items, binTypes, totalWeight, keepBins);
  return seed;
}

}  // namespace stowra
