#include "candidate/fitness.hpp"

#include <cmath>
#include <stdexcept>

#include "packing/bin_packer.hpp"

namespace stowra {

void decode(Individual& individual, const std::vector<ItemSpec>& items,
            const std::vector<BinType>& binTypes) {
  BinPacker packer(items, binTypes);
  packer.packSequence(individual.order, individual.rotations, individual.binTypeSequence);
  individual.bins = packer.takeBins();
  finishBins(individual.bins, items);
}

void finishBins(std::vector<PackedBin>& bins, const std::vector<ItemSpec>& items) {
  for (PackedBin& bin : bins) {
    computeCenterOfGravity(bin, items);
    computeUsedExtent(bin, items);
    // A population holds many bins.
    bin.freeSpaces.clear();
    bin.freeSpaces.shrink_to_fit();
  }
}

void evaluate(Individual& individual, const std::vector<ItemSpec>& items,
              const std::vector<BinType>& binTypes, double totalWeight, KeepBins keepBins) {
  if (individual.evaluated) return;
  decode(individual, items, binTypes);
  scoreBins(individual, totalWeight);
  if (keepBins == KeepBins::no) std::vector<PackedBin>().swap(individual.bins);
}

void scoreBins(Individual& individual, double totalWeight) {
  const std::vector<PackedBin>& bins = individual.bins;

  double cost = 0.0;
  for (const PackedBin& bin : bins) cost += bin.cost;

  double totalVolume = 0.0;
  double filledVolume = 0.0;
  for (const PackedBin& bin : bins) {
    const double volume = bin.width * bin.length * bin.height;
    totalVolume += volume;
    filledVolume += volume * bin.spaceUtilization;
  }
  const double utilization = totalVolume > 0 ? filledVolume / totalVolume : 0.0;

  // Off-centre loads measured against the middle of the loaded floor area, not of the bin.
  double centerPenalty = 0.0;
  for (const PackedBin& bin : bins) {
    centerPenalty += std::abs(bin.usedExtent.y * 0.5 - bin.centerOfGravity.y) +
                     std::abs(bin.usedExtent.x * 0.5 - bin.centerOfGravity.x);
  }

  // The mean is taken over all cargo, so leaving items out does not lower it.
  const double meanWeight = bins.empty() ? 0.0 : totalWeight / static_cast<double>(bins.size());
  double weightPenalty = 0.0;
  for (const PackedBin& bin : bins) weightPenalty += std::abs(bin.currentWeight - meanWeight);

  individual.fitness = ((cost * 100 - utilization * 1000) + centerPenalty) + weightPenalty;
  // Overflowing figures would make the population unsortable and the plan meaningless.
  if (!std::isfinite(individual.fitness)) throw std::invalid_argument(NON_FINITE_PLAN_MESSAGE);

  std::int32_t sum20 = 0;
  std::int32_t sum40 = 0;
  for (const PackedBin& bin : bins) {
    if (isTwentyFootName(bin.binType)) {
      ++sum20;
    } else {
      ++sum40;
    }
  }
  individual.cost = cost;
  individual.utilization = utilization;
  individual.sum20 = sum20;
  individual.sum40 = sum40;
  individual.centerPenalty = centerPenalty;
  individual.weightPenalty = weightPenalty;
  individual.evaluated = true;
}

}  // namespace stowra
