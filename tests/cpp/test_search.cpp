#include <doctest/doctest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "plan_validator.hpp"
#include "problem/number_format.hpp"
#include "search/genetic_solver.hpp"
#include "search/parallel_evaluation.hpp"
#include "search/progress_line.hpp"
#include "test_support.hpp"

using namespace stowra;
using namespace stowra::testing;

namespace {

// A random load of at least ten items in three factories; bins cost enough that every fitness
// is positive.
RandomProblem searchProblem(std::uint32_t seed) {
  std::mt19937 rng(seed);
  RandomProblem problem = randomProblem(rng);
  while (problem.items.size() < 10) problem = randomProblem(rng);
  for (BinType& type : problem.binTypes) type.cost *= 20;
  return problem;
}

struct SearchRun {
  Individual best;
  std::vector<std::string> lines;
};

SearchRun search(const RandomProblem& p, std::int32_t popSize, std::int32_t generations,
                 double timeLimit = 0.0) {
  const Genes factories = itemFactoriesOf(p.items);
  GeneticSolver solver(p.items, p.binTypes, factories, totalItemWeight(p.items), 42);
  solver.popSize = popSize;
  solver.generations = generations;
  solver.timeLimit = timeLimit;
  SearchRun run;
  solver.printLine = [&run](const std::string& line) { run.lines.push_back(line); };
  run.best = solver.run();
  CHECK(planFaults(p.items, p.binTypes, run.best.bins, true).empty());
  return run;
}

}  // namespace

TEST_CASE("a search gives the same lines and plan for one and two threads") {
  const RandomProblem problem = searchProblem(3);
  const SearchRun single = withThreads(1, [&] { return search(problem, 20, 25); });
  const SearchRun pair = withThreads(2, [&] { return search(problem, 20, 25); });
  CHECK(single.lines.size() > 3);
  CHECK(single.lines == pair.lines);
  const Individual &a = single.best, &b = pair.best;
  CHECK(std::tie(a.order, a.rotations, a.binTypeSequence, a.fitness) ==
        std::tie(b.order, b.rotations, b.binTypeSequence, b.fitness));
}

TEST_CASE("without elites the best of each sorted generation is tracked, not an offspring") {
  // Below ten members there are no elites: the next population holds only unevaluated
  // offspring, whose -1 must never be taken for a fitness.
  const RandomProblem problem = searchProblem(9);
  const SearchRun run = search(problem, 4, 30);
  const std::string& last = run.lines.back();
  CHECK(last.substr(last.find(" = ") + 3, last.find(" (") - last.find(" = ") - 3) ==
        formatNumber(run.best.fitness));
  for (const std::string& line : run.lines) CHECK(line.find("= -1") == std::string::npos);
}

TEST_CASE("a tiny time limit stops at generation 0 with a plan") {
  const SearchRun run = search(searchProblem(4), 10, 50, 1e-9);
  REQUIRE(run.lines.size() == 3);
  CHECK(run.lines[2] == "GA: Time limit reached at generation 0");
  CHECK_FALSE(run.best.bins.empty());
}

TEST_CASE("failures stop the search and reach the caller") {
  SUBCASE("an exception inside the parallel region is rethrown on the calling thread") {
    // Every index fails, on both threads; one exception leaves the region, with its type.
    const auto failEverywhere = [] {
      forEachIndexInParallel(64, [](std::int32_t) { throw std::length_error("out of memory"); });
      return 0;
    };
    CHECK_THROWS_WITH_AS(withThreads(2, failEverywhere), "out of memory", std::length_error);
  }
  SUBCASE("an exception from the interrupt check leaves run") {
    const RandomProblem problem = searchProblem(1);
    const Genes factories = itemFactoriesOf(problem.items);
    GeneticSolver solver(problem.items, problem.binTypes, factories, 1.0, 42);
    solver.popSize = 30;
    solver.printLine = [](const std::string&) {};
    int calls = 0;
    solver.checkInterrupt = [&calls] {
      if (++calls == 12) throw std::runtime_error("KeyboardInterrupt");
    };
    CHECK_THROWS_WITH(solver.run(), "KeyboardInterrupt");
    CHECK(calls == 12);
  }
}

TEST_CASE("a progress line to a closed pipe neither stops the caller nor leaves stdout in error") {
  int fds[2];
  REQUIRE(pipe(fds) == 0);
  close(fds[0]);
  const auto previous = std::signal(SIGPIPE, SIG_IGN);  // as the Python interpreter does
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  dup2(fds[1], STDOUT_FILENO);
  writeLineToStdout("GA: nobody reads this");
  writeLineToStdout("GA: nor this");
  const bool clean = std::ferror(stdout) == 0;
  std::clearerr(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(fds[1]);
  std::signal(SIGPIPE, previous);
  CHECK(clean);
}
