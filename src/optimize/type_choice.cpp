#include "optimize/type_choice.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace stowra {

namespace {

struct Load {
  double volume = 0.0;
  double weight = 0.0;
};

Load loadOf(const std::vector<ItemSpec>& items) {
  Load load;
  for (const ItemSpec& item : items) {
    load.volume += item.volume;
    load.weight += std::max(item.weight, 0.0);
  }
  return load;
}

double volumeOf(const BinType& type) {
  return type.l * type.w * type.h;
}

// Enough nodes for a handful of types and a few dozen bins; beyond that the cover is skipped.
constexpr std::int64_t COVER_NODE_BUDGET = 200000;
constexpr double MAX_COVER_BINS = 200.0;

struct CoverSearch {
  const std::vector<BinType>& binTypes;
  const std::vector<std::int32_t>& types;
  std::vector<std::int32_t> counts;
  std::vector<std::int32_t> bestCounts;
  double bestCost = std::numeric_limits<double>::infinity();
  std::int64_t nodes = 0;

  void visit(std::size_t position, double volumeLeft, double weightLeft, double cost) {
    if (++nodes > COVER_NODE_BUDGET || cost >= bestCost) return;
    if (volumeLeft <= 0 && weightLeft <= 0) {
      bestCost = cost;
      bestCounts = counts;
      return;
    }
    if (position == types.size()) return;
    const BinType& type = binTypes[static_cast<std::size_t>(types[position])];
    const double volume = volumeOf(type);
    const bool limited = type.weight_limit > 0;
    double most = volume > 0 ? std::ceil(std::max(volumeLeft, 0.0) / volume) : 0.0;
    if (weightLeft > 0) {
      most =
          limited ? std::max(most, std::ceil(weightLeft / type.weight_limit)) : std::max(most, 1.0);
    }
    most = std::min(most, MAX_COVER_BINS);
    for (auto count = static_cast<std::int32_t>(most); count >= 0; --count) {
      counts[position] = count;
      const double weightCovered = limited     ? count * type.weight_limit
                                   : count > 0 ? std::numeric_limits<double>::infinity()
                                               : 0.0;
      visit(position + 1, volumeLeft - count * volume, weightLeft - weightCovered,
            cost + count * type.cost);
    }
    counts[position] = 0;
  }
};

}  // namespace

std::vector<std::int32_t> typePreference(const std::vector<ItemSpec>& items,
                                         const std::vector<BinType>& binTypes) {
  const Load load = loadOf(items);
  const double density = load.volume > 0 ? load.weight / load.volume : 0.0;
  std::vector<double> pricePerUnit(binTypes.size());
  for (std::size_t t = 0; t < binTypes.size(); ++t) {
    const BinType& type = binTypes[t];
    double capacity = volumeOf(type);
    if (type.weight_limit > 0 && density > 0) {
      capacity = std::min(capacity, type.weight_limit / density);
    }
    pricePerUnit[t] = capacity > 0 ? type.cost / capacity : std::numeric_limits<double>::max();
  }
  std::vector<std::int32_t> order(binTypes.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
    if (pricePerUnit[a] != pricePerUnit[b]) return pricePerUnit[a] < pricePerUnit[b];
    return volumeOf(binTypes[a]) > volumeOf(binTypes[b]);
  });
  return order;
}

std::vector<std::int32_t> cheapestCover(const std::vector<ItemSpec>& items,
                                        const std::vector<BinType>& binTypes,
                                        const std::vector<std::int32_t>& preference) {
  const Load load = loadOf(items);
  CoverSearch search{binTypes, preference, std::vector<std::int32_t>(preference.size(), 0), {}};
  search.visit(0, load.volume, load.weight, 0.0);
  if (search.bestCounts.empty()) return {};

  std::vector<std::int32_t> sequence;
  for (std::size_t p = 0; p < preference.size(); ++p) {
    sequence.insert(sequence.end(), static_cast<std::size_t>(search.bestCounts[p]), preference[p]);
  }
  std::stable_sort(sequence.begin(), sequence.end(), [&](std::int32_t a, std::int32_t b) {
    return volumeOf(binTypes[a]) > volumeOf(binTypes[b]);
  });
  return sequence;
}

}  // namespace stowra
