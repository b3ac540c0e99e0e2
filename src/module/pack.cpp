#include "module/pack.hpp"

#include <pybind11/stl.h>

#include <vector>

#include "module/entry_point.hpp"
#include "problem/fit_check.hpp"
#include "problem/search_arguments.hpp"
#include "problem/search_defaults.hpp"
#include "search/genetic_solver.hpp"

namespace py = pybind11;

namespace stowra {

namespace {

constexpr const char* PACK_DOC =
    "Run the genetic-algorithm container loading solver.\n"
    "\n"
    "Args:\n"
    "  input: dict with 'binTable' and 'itemTable' keys\n"
    "  pop_size: population size (default 100)\n"
    "  generations: max generations (default 50)\n"
    "  time_limit: time limit in seconds (default 300)\n"
    "  threads: OpenMP threads, 0=all (default 0)\n"
    "  seed: random seed (default 42)\n"
    "\n"
    "Returns: dict with packing results\n"
    "\n"
    "Raises:\n"
    "  ValueError: invalid input (missing keys, negative dimensions, etc.)\n"
    "  MemoryError: the initial population would take more than half the machine's memory\n"
    "    (by an estimate made before it is built), or memory ran out\n"
    "  RuntimeError: solver failure or unexpected C++ error\n";

}  // namespace

namespace {

// pack, and with `typeRows` the binTable row of each container's type, in plan order.
py::dict runPack(const py::dict& input, std::int32_t popSize, std::int32_t generations,
                 double timeLimit, std::int32_t threads, std::int32_t seed,
                 std::vector<std::int64_t>* typeRows) {
  return callMappingErrors([&] {
    setThreadCount(threads);
    const Problem problem =
        readProblem(input, PACK_BIN_TYPES, [&] { checkSearchArguments(popSize, timeLimit); });
    GeneticSolver solver(problem.items, problem.binTypes, problem.itemFactories,
                         problem.totalWeight, static_cast<std::uint32_t>(seed));
    solver.popSize = popSize;
    solver.generations = generations;
    solver.timeLimit = timeLimit;
    solver.memoryLimit = searchMemoryLimit();
    solver.checkInterrupt = runPythonSignalHandlers;
    return timedResult([&] {
      Individual best = solver.run();
      for (const PackedBin& bin : best.bins) {
        if (typeRows != nullptr) {
          typeRows->push_back(
              static_cast<std::int64_t>(problem.binRows[static_cast<std::size_t>(bin.typeIndex)]));
        }
      }
      return best;
    });
  });
}

}  // namespace

py::dict pack(const py::dict& input, std::int32_t popSize, std::int32_t generations,
              double timeLimit, std::int32_t threads, std::int32_t seed) {
  return runPack(input, popSize, generations, timeLimit, threads, seed, nullptr);
}

void registerPack(py::module_& module) {
  using namespace pybind11::literals;
  module.def("pack", &pack, PACK_DOC, "input"_a, "pop_size"_a = DEFAULT_POP_SIZE,
             "generations"_a = DEFAULT_GENERATIONS, "time_limit"_a = DEFAULT_PACK_TIME_LIMIT,
             "threads"_a = DEFAULT_THREADS, "seed"_a = DEFAULT_SEED);
  // pack's result keeps its own keys: the layers around it that need each container's type
  // row (its binTable position) get them beside it.
  module.def(
      "_pack_with_types",
      [](const py::dict& input, std::int32_t popSize, std::int32_t generations, double timeLimit,
         std::int32_t threads, std::int32_t seed) {
        std::vector<std::int64_t> typeRows;
        py::dict result = runPack(input, popSize, generations, timeLimit, threads, seed, &typeRows);
        return py::make_tuple(result, py::cast(typeRows));
      },
      "pack, returning (result, the binTable row of each container's type in plan order)",
      "input"_a, "pop_size"_a = DEFAULT_POP_SIZE, "generations"_a = DEFAULT_GENERATIONS,
      "time_limit"_a = DEFAULT_PACK_TIME_LIMIT, "threads"_a = DEFAULT_THREADS,
      "seed"_a = DEFAULT_SEED);
}

}  // namespace stowra
