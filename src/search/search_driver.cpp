#include <algorithm>
#include <chrono>
#include <limits>

#include "candidate/fitness.hpp"
#include "search/elapsed_time.hpp"
#include "search/genetic_solver.hpp"
#include "search/progress_line.hpp"
#include "search/selection.hpp"

namespace stowra {

Individual GeneticSolver::run() {
  const auto start = std::chrono::steady_clock::now();
  const StopCheck timeIsUp = timeLimitCheck(start, timeLimit);
  print(INITIALIZING_LINE);
  initPopulation(timeIsUp);

  Individual best;
  double bestFitness = std::numeric_limits<double>::max();
  bool taken = false;
  for (Individual& member : population) {
    const double fitness = fitnessOf(member);
    if (fitness < bestFitness) {
      best = member;
      bestFitness = fitness;
      taken = true;
    }
  }
  // A fitness at the very top of the range beats nothing; the plan is still the first one,
  // never an empty default.
  if (!taken && !population.empty()) {
    best = population.front();
    bestFitness = best.fitness;
  }
  print(initialBestLine(bestFitness));

  const std::int32_t eliteCount = eliteCountFor(popSize, eliteRatio);
  std::vector<Individual> previousGeneration;
  const bool searchable = items.size() > 1;
  for (std::int32_t generation = 0; searchable && generation < generations; ++generation) {
    interruptPoint();
    if (timeIsUp()) {
      print(timeLimitLine(generation));
      break;
    }

    evaluatePopulation(previousGeneration);
    previousGeneration.clear();
    // Stable, so equal fitness keeps the previous order and a seed gives one plan everywhere.
    std::stable_sort(
        population.begin(), population.end(),
        [](const Individual& a, const Individual& b) { return a.fitness < b.fitness; });

    // Room for the elites, which move over once the parents are drawn and the leader is read.
    const auto elites = std::min(static_cast<std::size_t>(eliteCount), population.size());
    std::vector<Individual> next(elites);
    next.reserve(std::max(static_cast<std::size_t>(popSize), elites));

    std::vector<double> fitnessList;
    fitnessList.reserve(population.size());
    for (Individual& member : population) fitnessList.push_back(fitnessOf(member));

    while (next.size() < static_cast<std::size_t>(popSize)) {
      const ParentPair parents = selectParents(fitnessList);
      auto [first, second] = crossover(parents.first, parents.second);
      mutate(first);
      mutate(second);
      next.push_back(std::move(first));
      if (next.size() < static_cast<std::size_t>(popSize)) next.push_back(std::move(second));
    }

    // The best of this sorted generation, which is evaluated even when no elite carries it
    // over (pop sizes below 10 keep none).
    const Individual& leader = population.front();
    const std::int32_t generationNumber = generation + 1;
    if (leader.fitness < bestFitness) {
      best = leader;
      bestFitness = leader.fitness;
      print(improvementLine(generationNumber, best));
    } else if (generationNumber % 10 == 0) {
      print(periodicLine(generationNumber, bestFitness));
    }
    const auto elitesEnd = population.begin() + static_cast<std::ptrdiff_t>(elites);
    std::move(population.begin(), elitesEnd, next.begin());
    population.erase(population.begin(), elitesEnd);
    // Kept until the next evaluation: offspring that are clones of its members need no decoding.
    previousGeneration = std::move(population);
    population = std::move(next);
  }

  best.invalidate();
  evaluate(best, items, binTypes, totalWeight);
  return best;
}

}  // namespace stowra
