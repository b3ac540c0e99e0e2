#include <doctest/doctest.h>
#include <omp.h>

#include <atomic>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "candidate/fitness.hpp"
#include "problem/search_arguments.hpp"
#include "search/genetic_solver.hpp"
#include "search/parallel_evaluation.hpp"
#include "test_support.hpp"
#include "variation/initial_population.hpp"

using namespace stowra;
using namespace stowra::testing;

TEST_CASE("failures stop the search and reach the caller") {
  // Every index fails, on both threads; one exception leaves the region, with its type.
  omp_set_num_threads(2);
  CHECK_THROWS_WITH_AS(
      forEachIndexInParallel(64, [](std::int32_t) { throw std::length_error("out of memory"); }),
      "out of memory", std::length_error);
  // An interrupt while the candidates are built, while they are decoded, during generations.
  std::mt19937 rng(1);
  const RandomProblem p = randomProblem(rng, 40, 1.0, 10);
  const Genes factories = itemFactoriesOf(p.items);
  for (const int stopAt : {3, 6, 12}) {
    CAPTURE(stopAt);
    GeneticSolver solver(p.items, p.binTypes, factories, totalItemWeight(p.items), 42);
    solver.popSize = 30;
    solver.generations = 50;
    solver.printLine = {};
    int calls = 0;
    solver.checkInterrupt = [&calls, stopAt] {
      if (++calls == stopAt) throw std::runtime_error("KeyboardInterrupt");
    };
    CHECK_THROWS_WITH(solver.run(), "KeyboardInterrupt");
    CHECK(calls == stopAt);
  }
}

TEST_CASE("the initial population: refused over the memory limit, cut short by the clock") {
  std::mt19937 rng(5);
  const RandomProblem p = randomProblem(rng, 60, 2.0);
  const Genes factories = itemFactoriesOf(p.items);
  const double totalWeight = totalItemWeight(p.items);
  omp_set_num_threads(2);
  const auto initialPopulation = [&](std::uint64_t memoryLimit, std::function<bool()> timeIsUp) {
    GeneticSolver solver(p.items, p.binTypes, factories, totalWeight, 42);
    solver.popSize = 12;
    solver.memoryLimit = memoryLimit;
    solver.initPopulation(timeIsUp);
    return solver.population;
  };
  // The estimate as the limit still builds; a byte less refuses before anything is built.
  const std::uint64_t estimate =
      initialPopulationBytes(populationShape(11, p.items, p.binTypes), p.items.size());
  const std::string refusal = "pop_size 12 with " + std::to_string(p.items.size()) + " item";
  CHECK_THROWS_WITH_AS(initialPopulation(estimate - 1, {}), doctest::Contains(refusal.c_str()),
                       MemoryLimitExceeded);
  const std::vector<Individual> population = initialPopulation(estimate, {});
  REQUIRE(population.size() == 56);
  // Members carry figures, not bins; the golden plans at two threads pin the figures.
  for (const Individual& member : population) CHECK((member.evaluated && member.bins.empty()));

  // Time up at the first check keeps the seed alone; later, some decoded members, each the
  // member at its place in the full population (nothing drawn differently, none undecoded).
  for (const int timeUpAt : {0, 10}) {
    CAPTURE(timeUpAt);
    std::atomic<int> checks{0};
    const auto kept = initialPopulation(0, [&] { return checks++ >= timeUpAt; });
    CHECK((timeUpAt == 0 ? kept.size() == 1 : kept.size() > 1 && kept.size() < 56));
    std::size_t at = 0;
    for (const Individual& member : kept) {
      const auto genes = [](const Individual& i) {
        return std::tie(i.order, i.rotations, i.binTypeSequence);
      };
      while (at < population.size() && genes(population[at]) != genes(member)) ++at;
      REQUIRE(at < population.size());
      CHECK((member.evaluated && member.fitness == population[at].fitness));
    }
  }
}

TEST_CASE("a population decodes each distinct chromosome once") {
  std::mt19937 rng(11);
  const RandomProblem p = randomProblem(rng, 30, 1.0, 4);
  const Genes factories = itemFactoriesOf(p.items);
  const double totalWeight = totalItemWeight(p.items);
  GeneticSolver solver(p.items, p.binTypes, factories, totalWeight, 42);

  // Figures no decoding gives mark where a member's figures came from.
  const auto marked = [](Individual individual, double fitness) {
    individual.fitness = fitness;
    individual.evaluated = true;
    return individual;
  };
  const Individual a = individualWith(p.order, p.rotations, p.binTypeSequence);
  Individual otherOrder = a, otherRotation = a, otherGenes = a;
  std::swap(otherOrder.order[0], otherOrder.order[1]);
  otherRotation.rotations[0] = 1 - otherRotation.rotations[0];
  otherGenes.binTypeSequence.push_back(1);
  const std::vector<Individual> previous = {marked(a, -7.5)};
  solver.population = {
      marked(otherGenes, 1234.5), a, otherGenes, otherOrder, otherRotation, otherOrder};
  omp_set_num_threads(2);
  solver.evaluatePopulation(previous);

  const std::vector<Individual>& members = solver.population;
  CHECK(members[1].fitness == -7.5);    // a clone of the previous generation
  CHECK(members[2].fitness == 1234.5);  // a clone of a member evaluated before
  for (const std::size_t decoded : {3, 4}) {
    CAPTURE(decoded);  // differs in one list only, so decoded for itself
    Individual alone = members[decoded];
    alone.invalidate();
    evaluate(alone, p.items, p.binTypes, totalWeight);
    CHECK(members[decoded].fitness == alone.fitness);
  }
  // The repeat among the new members has the figures of the first, and nobody keeps bins.
  CHECK(std::tie(members[5].fitness, members[5].cost, members[5].weightPenalty) ==
        std::tie(members[3].fitness, members[3].cost, members[3].weightPenalty));
  for (const Individual& member : members) CHECK((member.evaluated && member.bins.empty()));
}
