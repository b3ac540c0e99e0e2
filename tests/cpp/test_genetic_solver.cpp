#include <doctest/doctest.h>
#include <omp.h>

#include <cstdint>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "draw_counting.hpp"
#include "plan_validator.hpp"
#include "problem/number_format.hpp"
#include "search/fitness.hpp"
#include "search/genetic_solver.hpp"
#include "search_fixtures.hpp"

using stowra::GeneticSolver;
using stowra::Individual;
using stowra::testing::cargoProblem;
using stowra::testing::planFaults;
using stowra::testing::SearchProblem;

namespace {

// One search with its progress lines collected instead of printed.
struct SearchRun {
  Individual best;
  std::vector<std::string> lines;
  std::size_t finalPopulation = 0;
};

SearchRun search(const SearchProblem& problem, std::int32_t popSize, std::int32_t generations,
                 double timeLimit = 0.0, std::uint32_t seed = 42) {
  GeneticSolver solver(problem.items, problem.binTypes, problem.itemFactories, problem.totalWeight,
                       seed);
  solver.popSize = popSize;
  solver.generations = generations;
  solver.timeLimit = timeLimit;
  SearchRun run;
  solver.printLine = [&run](const std::string& line) { run.lines.push_back(line); };
  run.best = solver.run();
  run.finalPopulation = solver.population.size();
  return run;
}

class ThreadCount {
 public:
  explicit ThreadCount(int threads) : saved_(omp_get_max_threads()) {
    omp_set_num_threads(threads);
  }
  ~ThreadCount() { omp_set_num_threads(saved_); }
  ThreadCount(const ThreadCount&) = delete;
  ThreadCount& operator=(const ThreadCount&) = delete;

 private:
  int saved_;
};

// The best fitness the lines last reported, as printed.
std::string lastReportedFitness(const std::vector<std::string>& lines) {
  static const std::regex reported(R"(best fitness = (\S+))");
  std::string last;
  for (const std::string& line : lines) {
    std::smatch match;
    if (std::regex_search(line, match, reported)) last = match[1];
  }
  return last;
}

// The returned plan is sound, carries its own bins and is the plan the lines reported.
void checkSoundBest(const SearchRun& run, const SearchProblem& problem) {
  CHECK(run.best.evaluated);
  CHECK_FALSE(run.best.bins.empty());
  CHECK(planFaults(problem.items, problem.binTypes, run.best.bins, true).empty());
  CHECK(run.best.order.size() == problem.items.size());
  CHECK(lastReportedFitness(run.lines) == stowra::formatNumber(run.best.fitness));
  Individual again = run.best;
  again.invalidate();
  stowra::evaluate(again, problem.items, problem.binTypes, problem.totalWeight);
  CHECK(again.fitness == run.best.fitness);
}

}  // namespace

TEST_CASE("a search gives the same lines and plan for one and two threads") {
  const SearchProblem problem = cargoProblem(40, 3);
  SearchRun single;
  SearchRun twin;
  SearchRun pair;
  {
    ThreadCount threads(1);
    single = search(problem, 20, 25);
    twin = search(problem, 20, 25);
  }
  {
    ThreadCount threads(2);
    pair = search(problem, 20, 25);
  }
  CHECK(single.lines == pair.lines);
  CHECK(single.lines == twin.lines);
  CHECK(single.best.order == pair.best.order);
  CHECK(single.best.rotations == pair.best.rotations);
  CHECK(single.best.binTypeSequence == pair.best.binTypeSequence);
  CHECK(single.best.fitness == pair.best.fitness);
  checkSoundBest(pair, problem);

  const SearchRun otherSeed = search(problem, 20, 25, 0.0, 7);
  CHECK(otherSeed.lines != single.lines);
}

TEST_CASE("progress lines follow their patterns and the generation rules") {
  const SearchProblem problem = cargoProblem(30, 5);
  const std::int32_t generations = 30;
  const SearchRun run = search(problem, 12, generations);

  REQUIRE(run.lines.size() >= 2);
  CHECK(run.lines[0] == "GA: Initializing population...");
  CHECK(std::regex_match(run.lines[1], std::regex(R"(GA: Initial best fitness = \S+)")));

  const std::regex improvement(
      R"(GA: Generation (\d+) best fitness = (\S+) \(cost=\S+, 20GP=\d+, 40GP=\d+, util=\S+, cp=\S+, wp=\S+\))");
  const std::regex periodic(R"(GA: Generation (\d+) best fitness = (\S+))");
  std::int32_t previousGeneration = 0;
  std::vector<std::int32_t> periodicGenerations;
  double previousFitness = std::stod(run.lines[1].substr(run.lines[1].rfind(' ') + 1));
  for (std::size_t i = 2; i < run.lines.size(); ++i) {
    CAPTURE(run.lines[i]);
    std::smatch match;
    const bool improved = std::regex_match(run.lines[i], match, improvement);
    if (!improved) REQUIRE(std::regex_match(run.lines[i], match, periodic));
    const std::int32_t generation = std::stoi(match[1]);
    const double fitness = std::stod(match[2]);
    CHECK(generation > previousGeneration);
    CHECK(generation <= generations);
    if (improved) {
      CHECK(fitness < previousFitness);
    } else {
      CHECK(generation % 10 == 0);
      CHECK(match[2] == stowra::formatNumber(previousFitness));
      periodicGenerations.push_back(generation);
    }
    previousGeneration = generation;
    previousFitness = fitness;
  }
  // Every tenth generation prints something: the periodic line unless it improved.
  for (const std::int32_t tenth : {10, 20, 30}) {
    bool printed = false;
    for (const std::string& line : run.lines) {
      printed = printed || line.starts_with("GA: Generation " + std::to_string(tenth) + " ");
    }
    CHECK(printed);
  }
  CHECK(run.finalPopulation == 12);
  checkSoundBest(run, problem);
}

TEST_CASE("searches that run no generation print only the two initial lines") {
  SUBCASE("generations 0") {
    const SearchProblem problem = cargoProblem(12, 8);
    const SearchRun run = search(problem, 10, 0);
    CHECK(run.lines.size() == 2);
    CHECK(run.finalPopulation == 1 + 5 * 9);
    checkSoundBest(run, problem);
  }
  SUBCASE("a single item") {
    const SearchProblem problem = cargoProblem(1, 8);
    const SearchRun run = search(problem, 10, 50);
    CHECK(run.lines.size() == 2);
    checkSoundBest(run, problem);
    CHECK(run.best.bins.front().placements.size() == 1);
  }
}

TEST_CASE("a tiny time limit stops at generation 0 with a valid plan") {
  const SearchProblem problem = cargoProblem(25, 4);
  const SearchRun run = search(problem, 10, 50, 1e-9);
  REQUIRE(run.lines.size() == 3);
  CHECK(run.lines[2] == "GA: Time limit reached at generation 0");
  checkSoundBest(run, problem);

  // Zero and negative limits switch the check off.
  CHECK(search(problem, 10, 3, 0.0).lines == search(problem, 10, 3, -5.0).lines);
  CHECK(search(problem, 10, 3, -5.0).lines.size() >= 2);
}

TEST_CASE("population sizes below ten (no elites) still return the best plan found") {
  const SearchProblem problem = cargoProblem(20, 9);
  for (std::int32_t popSize = 1; popSize <= 9; ++popSize) {
    CAPTURE(popSize);
    const SearchRun run = search(problem, popSize, 12);
    CHECK(run.finalPopulation == static_cast<std::size_t>(popSize));
    checkSoundBest(run, problem);
    for (const std::string& line : run.lines)
      CHECK(line.find("fitness = -1 ") == std::string::npos);
  }
}

TEST_CASE("zero-cost containers (fitness below -1) do not break selection") {
  const SearchProblem problem = cargoProblem(30, 6, 0.0, 0.0);
  const SearchRun run = search(problem, 14, 15);
  checkSoundBest(run, problem);
  CHECK(run.best.fitness < -1.0);
  CHECK(run.best.cost == 0.0);
}

TEST_CASE("the initial population: seed first, then 5 * (popSize - 1) evaluated candidates") {
  const SearchProblem problem = cargoProblem(15, 2);
  GeneticSolver solver(problem.items, problem.binTypes, problem.itemFactories, problem.totalWeight,
                       42);
  CHECK(solver.popSize == 100);
  CHECK(solver.generations == 50);
  CHECK(solver.crossoverRate == 0.8);
  CHECK(solver.mutationRate == 0.1);
  CHECK(solver.eliteRatio == 0.1);
  CHECK(solver.timeLimit == 300.0);
  CHECK(solver.population.empty());

  SUBCASE("pop size 1: the seed alone, nothing drawn") {
    solver.popSize = 1;
    solver.initPopulation();
    REQUIRE(solver.population.size() == 1);
    CHECK(stowra::testing::rawOutputsConsumed(solver.rng, 42) == 0);
  }
  SUBCASE("pop size 4") {
    solver.popSize = 4;
    solver.initPopulation();
    REQUIRE(solver.population.size() == 16);
    for (const Individual& member : solver.population) {
      CHECK(member.evaluated);
      CHECK_FALSE(member.bins.empty());
    }
  }
  const Individual& seed = solver.population.front();
  CHECK(seed.order == std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
  CHECK(seed.rotations == std::vector<std::int32_t>(15, 0));
  CHECK(seed.binTypeSequence.size() == seed.bins.size());
  CHECK(seed.evaluated);
}

TEST_CASE("the interrupt hook runs while the search works and stops it by throwing") {
  const SearchProblem problem = cargoProblem(20, 1);
  GeneticSolver solver(problem.items, problem.binTypes, problem.itemFactories, problem.totalWeight,
                       42);
  solver.popSize = 30;  // 145 candidates: checks while building and while evaluating them
  solver.generations = 10;
  int calls = 0;
  int callsBeforeGenerations = -1;
  solver.printLine = [&](const std::string& line) {
    if (line.starts_with("GA: Initial best")) callsBeforeGenerations = calls;
  };

  SUBCASE("counted over a whole search") {
    solver.checkInterrupt = [&calls] { ++calls; };
    solver.run();
    CHECK(callsBeforeGenerations >= 8);           // 5 while building, 5 while evaluating
    CHECK(calls - callsBeforeGenerations == 10);  // once per generation
  }
  SUBCASE("an exception from the hook leaves run") {
    solver.checkInterrupt = [&calls] {
      if (++calls == 12) throw std::runtime_error("KeyboardInterrupt");
    };
    CHECK_THROWS_WITH(solver.run(), "KeyboardInterrupt");
  }
}
