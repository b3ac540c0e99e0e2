#include "module/optimize.hpp"

#include <chrono>
#include <string>

#include "module/entry_point.hpp"
#include "module/result_builder.hpp"
#include "optimize/plan_search.hpp"
#include "problem/search_arguments.hpp"

namespace py = pybind11;

namespace stowra {

namespace {

const std::string OPTIMIZE_DOC =
    "Search for the cheapest loading plan under pack's loading rules.\n"
    "\n"
    "Takes the same input and returns the same result dict as pack, and checks the input the\n"
    "same way, but opens every available container type. Items of one factory are loaded\n"
    "together, factories in ascending number: within each container the factory numbers of\n"
    "the items, in loading order, never decrease, and (with pickup_order) no item stands\n"
    "behind or below an item of an earlier factory. With a balance_limit below 1, each\n"
    "container's load is moved or loaded again so that neither half of its length carries\n"
    "more than that share of its cargo weight, where some loading of its items allows it.\n"
    "\n"
    "Args:\n"
    "  input: dict with 'binTable' and 'itemTable' keys\n"
    "  time_limit: seconds after which the search stops early, <= 0 for none (default 60)\n"
    "  threads: OpenMP threads, 0=all (default 0); the plan is the same for any count\n"
    "  seed: random seed (default 42)\n"
    "  effort: 0 to " +
    std::to_string(MAX_EFFORT) + ", rounds of search (at most " +
    std::to_string(ROUNDS_PER_EFFORT) + " per level, ending after " +
    std::to_string(STALL_ROUNDS_PER_EFFORT) +
    " per level without a better plan); 0 keeps the best starting plan (default 2)\n"
    "  balance_limit: 0.5 to 1, the most of a container's cargo weight either half of its\n"
    "    length may carry; 1 turns the rule off (default 0.6)\n"
    "  pickup_order: keep each container loadable factory by factory (default True)\n"
    "\n"
    "An item row may give max_load, the most weight that may rest on it (None: no limit);\n"
    "each box's weight, with what rests on it, is shared among the boxes under it by contact\n"
    "area.\n"
    "\n"
    "Returns: dict with packing results, as pack's; each packingTable row adds 'balance' (the\n"
    "heavier half's share of its cargo weight along its length, None when it carries none) and\n"
    "'balanceKept' (within balance_limit), and the result adds 'leftOut': one {'itemIndex',\n"
    "'reason'} per item no container holds, in item order.\n"
    "\n"
    "Raises:\n"
    "  ValueError: invalid input (missing keys, negative dimensions, etc.)\n"
    "  MemoryError: memory ran out\n"
    "  RuntimeError: solver failure or unexpected C++ error\n";

}  // namespace

py::dict optimize(const py::dict& input, double timeLimit, std::int32_t threads, std::int32_t seed,
                  std::int32_t effort, double balanceLimit, bool pickupOrder) {
  return callMappingErrors([&] {
    setThreadCount(threads);
    const Problem problem = readProblem(
        input, static_cast<std::size_t>(-1),
        [&] { checkOptimizeArguments(effort, timeLimit, balanceLimit); }, true);
    PlanSearch search(problem.items, problem.binTypes, problem.totalWeight,
                      static_cast<std::uint32_t>(seed));
    search.effort = effort;
    search.timeLimit = timeLimit;
    search.balanceLimit = balanceLimit;
    search.pickupOrder = pickupOrder;
    search.checkInterrupt = runPythonSignalHandlers;
    const auto start = std::chrono::steady_clock::now();
    const Individual best = search.run();
    py::dict result = buildResult(best, secondsSince(start));
    addOptimizeMarks(result, best, problem.items, problem.binTypes, problem.binRows, balanceLimit,
                     search.timedOut);
    return result;
  });
}

void registerOptimize(py::module_& module) {
  using namespace pybind11::literals;
  module.def("optimize", &optimize, OPTIMIZE_DOC.c_str(), "input"_a, py::kw_only(),
             "time_limit"_a = 60.0, "threads"_a = 0, "seed"_a = 42, "effort"_a = 2,
             "balance_limit"_a = 0.6, "pickup_order"_a = true);
}

}  // namespace stowra
