#include "variation/initial_population.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "candidate/random_draws.hpp"
#include "problem/bin_type.hpp"
#include "variation/normalization.hpp"

namespace stowra {

namespace {

std::int32_t binGeneCountFor(const std::vector<ItemSpec>& items,
                             const std::vector<BinType>& binTypes) {
  double totalVolume = 0.0;
  for (const ItemSpec& item : items) totalVolume += item.volume;
  const BinType& first = binTypes.front();
  const double binVolume = (first.w * first.l) * first.h;
  const double maxBins = static_cast<double>(items.size()) + 1.0;
  double bins = std::ceil(totalVolume / binVolume);
  if (!std::isfinite(bins) || bins > maxBins) bins = maxBins;
  return std::max(static_cast<std::int32_t>(bins) + 2, 3);
}

void drawRotations(std::mt19937& rng, const std::vector<ItemSpec>& items,
                   std::vector<std::int32_t>& rotations) {
  rotations.resize(items.size());
  for (std::size_t item = 0; item < items.size(); ++item) {
    const std::vector<std::int32_t>& allowed = items[item].allowedRotations;
    rotations[item] = allowed[boundedDraw(rng, 0, static_cast<std::int32_t>(allowed.size()) - 1)];
  }
}

void drawBinGenes(std::mt19937& rng, std::int32_t count, std::vector<std::int32_t>& genes) {
  genes.resize(static_cast<std::size_t>(count));
  static_assert(PACK_BIN_TYPES == 2, "one random bit draws a gene");
  for (std::int32_t& gene : genes) gene = static_cast<std::int32_t>(rng() >> 31);
}

// Permutes the items at k distinct random positions among those positions.
void scramblePositions(std::mt19937& rng, std::int32_t count, std::vector<std::int32_t>& order) {
  const auto n = static_cast<std::int32_t>(order.size());
  std::vector<bool> picked(order.size(), false);
  std::vector<std::int32_t> positions;
  positions.reserve(static_cast<std::size_t>(count));
  while (static_cast<std::int32_t>(positions.size()) < count) {
    const std::int32_t position = boundedDraw(rng, 0, n - 1);
    if (picked[position]) continue;
    picked[position] = true;
    positions.push_back(position);
  }
  std::vector<std::int32_t> values;
  values.reserve(positions.size());
  for (const std::int32_t position : positions) values.push_back(order[position]);
  shuffle(rng, values);
  for (std::size_t i = 0; i < positions.size(); ++i) order[positions[i]] = values[i];
}

}  // namespace

PopulationShape populationShape(std::int32_t slots, const std::vector<ItemSpec>& items,
                                const std::vector<BinType>& binTypes) {
  PopulationShape shape;
  shape.candidateCount = 5 * slots;
  shape.nearOrderCount = static_cast<std::int32_t>(shape.candidateCount * 0.5);
  shape.scrambleCount =
      std::max(1, static_cast<std::int32_t>(static_cast<double>(items.size()) * 0.2));
  shape.binGeneCount = binGeneCountFor(items, binTypes);
  return shape;
}

std::uint64_t initialPopulationBytes(const PopulationShape& shape, std::size_t itemCount) {
  // A heap block holds its size plus 8 bytes, rounded up to 16, and is at least 32 bytes.
  const auto block = [](std::uint64_t bytes) {
    return std::max<std::uint64_t>(32, (bytes + 23) / 16 * 16);
  };
  const std::uint64_t geneBytes = sizeof(std::int32_t);
  // The first generation's chromosome index entry and fitness for each member.
  constexpr std::uint64_t BOOKKEEPING = 64;
  const std::uint64_t perMember =
      sizeof(Individual) + 2 * block(itemCount * geneBytes) +
      block(static_cast<std::uint64_t>(shape.binGeneCount) * geneBytes) + BOOKKEEPING;
  const auto members = static_cast<std::uint64_t>(std::max(shape.candidateCount, 0)) + 1;
  return members * perMember;
}

void buildCandidates(std::mt19937& rng, std::int32_t slots, const std::vector<ItemSpec>& items,
                     const std::vector<BinType>& binTypes,
                     const std::vector<std::int32_t>& itemFactories,
                     const std::function<bool()>& keepBuilding, std::vector<Individual>& into) {
  const PopulationShape shape = populationShape(slots, items, binTypes);
  // A negative count wraps to a huge size here and fails with the length error.
  into.reserve(into.size() + static_cast<std::size_t>(shape.candidateCount));

  std::vector<std::int32_t> baseOrder(items.size());
  std::iota(baseOrder.begin(), baseOrder.end(), 0);

  for (std::int32_t built = 0; built < shape.candidateCount; ++built) {
    if (keepBuilding && built % INTERRUPT_CHECK_INTERVAL == 0 && !keepBuilding()) break;
    Individual candidate;
    candidate.order = baseOrder;
    if (built < shape.nearOrderCount) {
      scramblePositions(rng, shape.scrambleCount, candidate.order);
    } else {
      shuffle(rng, candidate.order);
    }
    drawRotations(rng, items, candidate.rotations);
    drawBinGenes(rng, shape.binGeneCount, candidate.binTypeSequence);
    normalizeChromosome(candidate, itemFactories);  // draws nothing
    into.push_back(std::move(candidate));
  }
}

}  // namespace stowra
