#include "module/pack.hpp"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "module/result_builder.hpp"
#include "module/table_reader.hpp"
#include "problem/fit_check.hpp"
#include "problem/search_arguments.hpp"
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
    "  RuntimeError: solver failure or unexpected C++ error\n";

[[noreturn]] void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

void setThreadCount(std::int32_t threads) {
  if (threads <= 0) return;
  // More threads than processors cannot help, and a huge count makes the OpenMP runtime end
  // the whole process.
  omp_set_num_threads(std::min(threads, omp_get_num_procs()));
}

// Thrown when a Python signal handler raised (Ctrl-C gives KeyboardInterrupt); the Python error
// indicator still holds that exception, which reaches the caller unchanged.
struct PythonSignalRaised {};

// The search runs with the interpreter lock held, so pending signals are handled here.
void runPythonSignalHandlers() {
  if (PyErr_CheckSignals() != 0) throw PythonSignalRaised{};
}

double secondsBetween(std::chrono::steady_clock::time_point start,
                      std::chrono::steady_clock::time_point stop) {
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(stop - start);
  return static_cast<double>(nanoseconds.count()) / 1e9;
}

// "TypeName: text", without the traceback that the binding library would append.
std::string describe(py::error_already_set& error) {
  std::string name = "<unknown>";
  std::string text = "<unprintable>";
  try {
    name = py::str(error.type().attr("__name__")).cast<std::string>();
    text = py::str(error.value()).cast<std::string>();
  } catch (py::error_already_set&) {
    // A __str__ that fails itself: keep what was read.
  }
  return name + ": " + text;
}

struct Problem {
  std::vector<ItemSpec> items;
  std::vector<BinType> binTypes;
  std::vector<std::int32_t> itemFactories;
  double totalWeight = 0.0;
};

Problem readProblem(const py::dict& input, std::int32_t popSize, double timeLimit) {
  Problem problem;
  problem.items = readItemTable(asTable(input["itemTable"]));
  problem.binTypes =
      readBinTable(input.contains("binTable") ? asTable(input["binTable"]) : py::list());
  checkItemsFit(problem.items, problem.binTypes);
  checkSearchArguments(popSize, timeLimit);
  problem.itemFactories = itemFactoriesOf(problem.items);
  problem.totalWeight = totalItemWeight(problem.items);
  return problem;
}

}  // namespace

py::dict pack(const py::dict& input, std::int32_t popSize, std::int32_t generations,
              double timeLimit, std::int32_t threads, std::int32_t seed) {
  try {
    setThreadCount(threads);
    const Problem problem = readProblem(input, popSize, timeLimit);
    GeneticSolver solver(problem.items, problem.binTypes, problem.itemFactories,
                         problem.totalWeight, static_cast<std::uint32_t>(seed));
    solver.popSize = popSize;
    solver.generations = generations;
    solver.timeLimit = timeLimit;
    solver.checkInterrupt = runPythonSignalHandlers;

    const auto start = std::chrono::steady_clock::now();
    const Individual best = solver.run();
    const double elapsedSeconds = secondsBetween(start, std::chrono::steady_clock::now());
    return buildResult(best, elapsedSeconds);
  } catch (const PythonSignalRaised&) {
    throw py::error_already_set();
  } catch (py::error_already_set& error) {
    // Interrupts and exits are the caller's business, not failures of the solver.
    if (!error.matches(PyExc_Exception)) throw;
    py::raise_from(error, PyExc_RuntimeError, ("C++ exception: " + describe(error)).c_str());
    throw py::error_already_set();
  } catch (const std::invalid_argument& error) {
    raise(PyExc_ValueError, error.what());
  } catch (const std::runtime_error& error) {
    raise(PyExc_RuntimeError, error.what());
  } catch (const std::exception& error) {
    raise(PyExc_RuntimeError, std::string("C++ exception: ") + error.what());
  } catch (...) {
    raise(PyExc_RuntimeError, "Unknown C++ error in stowra");
  }
}

void registerPack(py::module_& module) {
  using namespace pybind11::literals;
  module.def("pack", &pack, PACK_DOC, "input"_a, "pop_size"_a = 100, "generations"_a = 50,
             "time_limit"_a = 300.0, "threads"_a = 0, "seed"_a = 42);
}

}  // namespace stowra
