#pragma once

#include <cstdint>
#include <vector>

#include "packing/packed_bin.hpp"

namespace stowra {

// One candidate plan: three chromosomes and the cached result of decoding and scoring them.
// A copy keeps the chromosomes and figures but never the bins, so kept copies (elites, the
// best so far) do not drag decoded bins around; a move transfers everything.
struct Individual {
  std::vector<std::int32_t> order;            // item indices in packing order
  std::vector<std::int32_t> rotations;        // first rotation tried, indexed by item
  std::vector<std::int32_t> binTypeSequence;  // type index of the 1st, 2nd, ... bin opened
  double fitness = -1.0;                      // -1 until evaluated; lower is better
  double cost = 0.0;
  std::int32_t sum20 = 0;
  std::int32_t sum40 = 0;
  double utilization = 0.0;
  double centerPenalty = 0.0;
  double weightPenalty = 0.0;
  std::vector<PackedBin> bins;
  // Explicit, because a real fitness may be negative (zero-cost bins) and would otherwise
  // be decoded again and again.
  bool evaluated = false;

  Individual() = default;
  Individual(const Individual& other);
  Individual& operator=(const Individual& other);
  Individual(Individual&&) noexcept = default;
  Individual& operator=(Individual&&) noexcept = default;
  ~Individual() = default;

  // Forgets the evaluation after a chromosome change: fitness -1, no bins.
  void invalidate();
};

}  // namespace stowra
