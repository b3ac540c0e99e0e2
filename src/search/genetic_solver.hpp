#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "candidate/individual.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"
#include "problem/search_defaults.hpp"
#include "search/elapsed_time.hpp"

namespace stowra {

struct SolverConfig {
  std::int32_t popSize = DEFAULT_POP_SIZE;
  std::int32_t generations = DEFAULT_GENERATIONS;
  double crossoverRate = 0.8;
  double mutationRate = 0.1;
  double eliteRatio = 0.1;
  double timeLimit = DEFAULT_PACK_TIME_LIMIT;  // seconds; <= 0 switches the limit off
  // Bytes the initial population may take by its estimate; 0 switches the check off.
  std::uint64_t memoryLimit = 0;
};

// Two members of the current population chosen to breed; may be the same one.
struct ParentPair {
  const Individual& first;
  const Individual& second;
};

// The genetic search over one problem. Holds references to the problem lists (which must
// outlive it), the only random generator and the population. Run once.
class GeneticSolver : public SolverConfig {
 public:
  GeneticSolver(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                const std::vector<std::int32_t>& itemFactories, double totalWeight,
                std::uint32_t seed);

  // The best plan found, evaluated afresh (it carries its bins).
  Individual run();

  // Where progress lines go (without the newline); default: process stdout, newline, flush,
  // write errors ignored.
  std::function<void(const std::string&)> printLine;
  // Called on the calling thread between generations and every few dozen candidates while the
  // initial population is built and evaluated; may throw to stop the search.
  std::function<void()> checkInterrupt;

  // The stored fitness, evaluating the individual first when it is not evaluated yet.
  double fitnessOf(Individual& individual) const;
  // Roulette selection over the current (sorted) population; fitnessList[i] belongs to
  // population[i].
  ParentPair selectParents(const std::vector<double>& fitnessList);
  // Evaluates every unevaluated member on the OpenMP team; rethrows the first failure. A
  // member whose chromosomes equal those of an evaluated individual (of `alreadyDecoded` or
  // the population) or of another new member is not decoded again. Members keep no bins.
  void evaluatePopulation(std::span<const Individual> alreadyDecoded = {});
  // The seed individual followed by 5 * (popSize - 1) candidates, all evaluated: built in
  // order on this thread, then decoded on the OpenMP team. Once `timeIsUp` (may be empty)
  // says so, no more candidates are built or decoded and the undecoded ones are dropped; which
  // of them were decoded then depends on timing. Fails with MemoryLimitExceeded, before
  // building anything, when the population's estimate exceeds `memoryLimit`.
  void initPopulation(const StopCheck& timeIsUp = {});
  std::pair<Individual, Individual> crossover(const Individual& parentA, const Individual& parentB);
  void mutate(Individual& individual);

  const std::vector<ItemSpec>& items;
  const std::vector<BinType>& binTypes;
  const std::vector<std::int32_t>& itemFactories;
  double totalWeight;
  std::mt19937 rng;
  std::vector<Individual> population;

 private:
  // Evaluates the initial population in chunks, checking for an interrupt between them; once
  // `timeIsUp`, members not started yet stay unevaluated.
  void evaluateInitialMembers(const StopCheck& timeIsUp);
  void checkPopulationMemory() const;
  void interruptPoint() const;
  void print(const std::string& line) const;
};

}  // namespace stowra
