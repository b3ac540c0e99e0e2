#include <doctest/doctest.h>
#include <omp.h>

#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "problem/number_format.hpp"
#include "search/genetic_solver.hpp"
#include "search/parallel_evaluation.hpp"
#include "test_support.hpp"

using namespace stowra;
using namespace stowra::testing;

namespace {

// A search with seed 42 over a random load of at least ten items, whose bins cost enough that
// every fitness is positive: its best plan and its progress lines.
std::pair<Individual, std::vector<std::string>> search(std::uint32_t problemSeed,
                                                       std::int32_t popSize,
                                                       std::int32_t generations,
                                                       std::function<void()> checkInterrupt = {}) {
  std::mt19937 rng(problemSeed);
  RandomProblem p = randomProblem(rng);
  while (p.items.size() < 10) p = randomProblem(rng);
  for (BinType& type : p.binTypes) type.cost *= 20;
  const Genes factories = itemFactoriesOf(p.items);
  GeneticSolver solver(p.items, p.binTypes, factories, totalItemWeight(p.items), 42);
  solver.popSize = popSize;
  solver.generations = generations;
  solver.checkInterrupt = std::move(checkInterrupt);
  std::vector<std::string> lines;
  solver.printLine = [&lines](const std::string& line) { lines.push_back(line); };
  return {solver.run(), lines};
}

}  // namespace

TEST_CASE("one and two threads give the same search, whose best is never an offspring") {
  omp_set_num_threads(1);
  const auto [a, linesA] = search(9, 4, 30);
  omp_set_num_threads(2);
  const auto [b, linesB] = search(9, 4, 30);
  CHECK(linesA.size() > 3);
  CHECK(linesA == linesB);
  CHECK(std::tie(a.order, a.rotations, a.binTypeSequence, a.fitness) ==
        std::tie(b.order, b.rotations, b.binTypeSequence, b.fitness));
  // Below ten members there are no elites: the next population holds only unevaluated
  // offspring, whose -1 must never be taken for a fitness.
  const std::string& last = linesA.back();
  CHECK(last.substr(last.find(" = ") + 3, last.find(" (") - last.find(" = ") - 3) ==
        formatNumber(a.fitness));
  for (const std::string& line : linesA) CHECK(line.find("= -1") == std::string::npos);
}

TEST_CASE("failures stop the search and reach the caller") {
  // Every index fails, on both threads; one exception leaves the region, with its type.
  omp_set_num_threads(2);
  CHECK_THROWS_WITH_AS(
      forEachIndexInParallel(64, [](std::int32_t) { throw std::length_error("out of memory"); }),
      "out of memory", std::length_error);
  int calls = 0;
  const auto interrupt = [&calls] {
    if (++calls == 12) throw std::runtime_error("KeyboardInterrupt");
  };
  CHECK_THROWS_WITH(search(1, 30, 50, interrupt), "KeyboardInterrupt");
  CHECK(calls == 12);
}
