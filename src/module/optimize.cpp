#include "module/optimize.hpp"

#include <chrono>
#include <string>

#include "module/entry_point.hpp"
#include "module/result_builder.hpp"
#include "optimize/plan_search.hpp"
#include "problem/search_arguments.hpp"
#include "problem/search_defaults.hpp"

namespace py = pybind11;
using namespace pybind11::literals;

namespace stowra {

namespace {

const std::string OPTIMIZE_DOC =
    "Search for the cheapest loading plan under pack's loading rules.\n"
    "\n"
    "Takes the same input and returns the same result dict as pack, and checks the input the\n"
    "same way, but opens every available container type. Items of one factory are loaded\n"
    "together, factories in ascending number: within each container the factory numbers of\n"
    "the items, in placement order, never decrease, and (with pickup_order) no item stands\n"
    "behind or below an item of an earlier factory. With a balance_limit below 1, each\n"
    "container's load is moved or loaded again so that neither half of its length carries\n"
    "more than that share of its cargo weight, where some loading of its items allows it.\n"
    "\n"
    "Args:\n"
    "  input: dict with 'binTable' and 'itemTable' keys\n"
    "  time_limit: seconds after which the search stops early, <= 0 for none\n"
    "  threads: OpenMP threads, 0=all; the plan is the same for any count\n"
    "  seed: random seed; the same seed gives the same plan\n"
    "  effort: 0 to " +
    std::to_string(MAX_EFFORT) + ", rounds of search (at most " +
    std::to_string(ROUNDS_PER_EFFORT) + " per level, ending after " +
    std::to_string(STALL_ROUNDS_PER_EFFORT) +
    " per level without a better plan); 0 keeps the best starting plan\n"
    "  balance_limit: 0.5 to 1, the most of a container's cargo weight either half of its\n"
    "    length may carry; 1 turns the rule off\n"
    "  pickup_order: keep each container loadable factory by factory\n"
    "  progress: None, or a callable given one dict at each step of the search: 'stage'\n"
    "    ('start': the starting plans are scored, 'search': a round is done, 'improve': the\n"
    "    best plans are being improved, 'done': the plan is final), 'round' (rounds done),\n"
    "    'cost' and 'containers' (of the best plan so far) and 'seconds' (since the search\n"
    "    started). An exception it raises stops the search and is raised by optimize.\n"
    "    optimize itself prints nothing.\n"
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

// Indexed by SearchStage.
constexpr const char* STAGE_NAMES[] = {"start", "search", "improve", "done"};

}  // namespace

py::dict optimize(const py::dict& input, double timeLimit, std::int32_t threads, std::int32_t seed,
                  std::int32_t effort, double balanceLimit, bool pickupOrder,
                  const py::object& progress) {
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
    // The search runs without the interpreter lock and takes it only at its checkpoints, so
    // other Python threads run meanwhile.
    search.checkInterrupt = [] {
      py::gil_scoped_acquire locked;
      runPythonSignalHandlers();
    };
    if (!progress.is_none()) {
      search.progress = [&progress](const SearchProgress& at) {
        py::gil_scoped_acquire locked;
        try {
          progress(py::dict("stage"_a = STAGE_NAMES[static_cast<std::size_t>(at.stage)],
                            "round"_a = at.round, "cost"_a = at.cost,
                            "containers"_a = at.containers, "seconds"_a = at.seconds));
        } catch (py::error_already_set& error) {
          // The caller's own exception, passed back unchanged.
          error.restore();
          throw PythonErrorPending{};
        }
      };
    }
    const auto start = std::chrono::steady_clock::now();
    Individual best;
    {
      py::gil_scoped_release unlocked;
      best = search.run();
    }
    py::dict result = buildResult(best, secondsSince(start));
    addOptimizeMarks(result, best, problem.items, problem.binTypes, problem.binRows, balanceLimit,
                     search.timedOut);
    return result;
  });
}

void registerOptimize(py::module_& module) {
  module.def("optimize", &optimize, OPTIMIZE_DOC.c_str(), "input"_a, py::kw_only(),
             "time_limit"_a = DEFAULT_OPTIMIZE_TIME_LIMIT, "threads"_a = DEFAULT_THREADS,
             "seed"_a = DEFAULT_SEED, "effort"_a = DEFAULT_EFFORT,
             "balance_limit"_a = DEFAULT_BALANCE_LIMIT, "pickup_order"_a = DEFAULT_PICKUP_ORDER,
             "progress"_a = py::none());
}

}  // namespace stowra
