#include "variation/normalization.hpp"

#include <algorithm>
#include <unordered_map>

namespace stowra {

void normalizeChromosome(Individual& individual, const std::vector<std::int32_t>& itemFactories) {
  std::vector<std::int32_t>& order = individual.order;

  // Group number per item, so the sort compares plain integers instead of hashing.
  std::unordered_map<std::int32_t, std::int32_t> groupOfFactory;
  std::vector<std::int32_t> groupOfItem(itemFactories.size(), 0);
  for (const std::int32_t item : order) {
    const auto nextGroup = static_cast<std::int32_t>(groupOfFactory.size());
    const auto [entry, added] = groupOfFactory.try_emplace(itemFactories[item], nextGroup);
    (void)added;
    groupOfItem[item] = entry->second;
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::int32_t a, std::int32_t b) { return groupOfItem[a] < groupOfItem[b]; });

  individual.invalidate();
}

}  // namespace stowra
