#pragma once

#include <cstdint>
#include <unordered_map>

#include "candidate/individual.hpp"

namespace stowra {

// A hash of the three chromosome lists (their lengths included).
std::uint64_t chromosomeHash(const Individual& individual);

// Individuals by their chromosomes, to find one with the very same order, rotations and
// bin-type genes. Holds pointers: the individuals must stay where they are while it is used.
class ChromosomeIndex {
 public:
  void add(const Individual& individual, std::uint64_t hash);
  // An added individual with the same three lists as `individual` (whose hash is `hash`), or
  // nullptr.
  const Individual* find(const Individual& individual, std::uint64_t hash) const;

 private:
  std::unordered_multimap<std::uint64_t, const Individual*> entries_;
};

}  // namespace stowra
