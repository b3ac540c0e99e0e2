#include "search/genetic_solver.hpp"

#include <iomanip>
#include <sstream>

#include "candidate/fitness.hpp"
#include "problem/search_arguments.hpp"
#include "search/progress_line.hpp"
#include "search/selection.hpp"
#include "variation/crossover.hpp"
#include "variation/initial_population.hpp"
#include "variation/mutation.hpp"
#include "variation/seed_individual.hpp"

namespace stowra {

GeneticSolver::GeneticSolver(const std::vector<ItemSpec>& items,
                             const std::vector<BinType>& binTypes,
                             const std::vector<std::int32_t>& itemFactories, double totalWeight,
                             std::uint32_t seed)
    : printLine(writeLineToStdout),
      items(items),
      binTypes(binTypes),
      itemFactories(itemFactories),
      totalWeight(totalWeight),
      rng(seed) {}

double GeneticSolver::fitnessOf(Individual& individual) const {
  if (!individual.evaluated) evaluate(individual, items, binTypes, totalWeight, KeepBins::no);
  return individual.fitness;
}

ParentPair GeneticSolver::selectParents(const std::vector<double>& fitnessList) {
  const auto [first, second] = drawParentIndices(rng, fitnessList);
  return {population[first], population[second]};
}

void GeneticSolver::initPopulation(const StopCheck& timeIsUp) {
  checkPopulationMemory();
  population.clear();
  population.push_back(buildSeedIndividual(items, binTypes, totalWeight, KeepBins::no));
  const auto keepBuilding = [&] {
    interruptPoint();
    return !(timeIsUp && timeIsUp());
  };
  buildCandidates(rng, popSize - 1, items, binTypes, itemFactories, keepBuilding, population);

  evaluateInitialMembers(timeIsUp);
  std::erase_if(population, [](const Individual& member) { return !member.evaluated; });
}

void GeneticSolver::checkPopulationMemory() const {
  if (memoryLimit == 0) return;
  const std::uint64_t needed =
      initialPopulationBytes(populationShape(popSize - 1, items, binTypes), items.size());
  if (needed <= memoryLimit) return;
  std::ostringstream message;
  message << std::fixed << std::setprecision(1) << "pop_size " << popSize << " with "
          << items.size() << (items.size() == 1 ? " item" : " items") << " needs about "
          << static_cast<double>(needed) / 1e9 << " GB for the initial population (at most "
          << static_cast<double>(memoryLimit) / 1e9 << " GB allowed); lower pop_size";
  throw MemoryLimitExceeded(message.str());
}

std::pair<Individual, Individual> GeneticSolver::crossover(const Individual& parentA,
                                                           const Individual& parentB) {
  return stowra::crossover(rng, parentA, parentB, crossoverRate, itemFactories);
}

void GeneticSolver::mutate(Individual& individual) {
  stowra::mutate(rng, individual, items, itemFactories, mutationRate);
}

void GeneticSolver::interruptPoint() const {
  if (checkInterrupt) checkInterrupt();
}

void GeneticSolver::print(const std::string& line) const {
  if (printLine) printLine(line);
}

}  // namespace stowra
