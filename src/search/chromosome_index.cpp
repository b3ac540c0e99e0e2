#include "search/chromosome_index.hpp"

#include <vector>

namespace stowra {

namespace {

// FNV-1a over whole genes rather than bytes: one multiply per gene.
std::uint64_t mix(std::uint64_t hash, std::uint64_t value) {
  return (hash ^ value) * 0x100000001b3ULL;
}

std::uint64_t hashGenes(std::uint64_t hash, const std::vector<std::int32_t>& genes) {
  hash = mix(hash, genes.size());
  for (const std::int32_t gene : genes) hash = mix(hash, static_cast<std::uint32_t>(gene));
  return hash;
}

bool sameChromosomes(const Individual& a, const Individual& b) {
  return a.order == b.order && a.rotations == b.rotations && a.binTypeSequence == b.binTypeSequence;
}

}  // namespace

std::uint64_t chromosomeHash(const Individual& individual) {
  std::uint64_t hash = hashGenes(0xcbf29ce484222325ULL, individual.order);
  hash = hashGenes(hash, individual.rotations);
  return hashGenes(hash, individual.binTypeSequence);
}

void ChromosomeIndex::add(const Individual& individual, std::uint64_t hash) {
  entries_.emplace(hash, &individual);
}

const Individual* ChromosomeIndex::find(const Individual& individual, std::uint64_t hash) const {
  const auto [first, last] = entries_.equal_range(hash);
  for (auto entry = first; entry != last; ++entry) {
    if (sameChromosomes(*entry->second, individual)) return entry->second;
  }
  return nullptr;
}

}  // namespace stowra
