#include "candidate/individual.hpp"

namespace stowra {

Individual::Individual(const Individual& other)
    : order(other.order),
      rotations(other.rotations),
      binTypeSequence(other.binTypeSequence),
      fitness(other.fitness),
      cost(other.cost),
      sum20(other.sum20),
      sum40(other.sum40),
      utilization(other.utilization),
      centerPenalty(other.centerPenalty),
      weightPenalty(other.weightPenalty),
      evaluated(other.evaluated) {}

Individual& Individual::operator=(const Individual& other) {
  if (this == &other) return *this;
  order = other.order;
  rotations = other.rotations;
  binTypeSequence = other.binTypeSequence;
  fitness = other.fitness;
  cost = other.cost;
  sum20 = other.sum20;
  sum40 = other.sum40;
  utilization = other.utilization;
  centerPenalty = other.centerPenalty;
  weightPenalty = other.weightPenalty;
  evaluated = other.evaluated;
  // The copy starts without bins, whatever this object or the source held.
  std::vector<PackedBin>().swap(bins);
  return *this;
}

void Individual::invalidate() {
  fitness = -1.0;
  evaluated = false;
  std::vector<PackedBin>().swap(bins);
}

}  // namespace stowra
