#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "module/result_builder.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"
#include "problem/search_arguments.hpp"
#include "search/elapsed_time.hpp"

namespace stowra {

// What the entry points share: reading the tables, the thread count, Ctrl-C, the clock and the
// mapping of every failure to a Python exception.

struct Problem {
  std::vector<ItemSpec> items;
  std::vector<BinType> binTypes;
  std::vector<std::size_t> binRows;  // each type's position in binTable, unavailable rows counted
  std::vector<std::int32_t> itemFactories;
  double totalWeight = 0.0;
};

// Reads and checks both tables, max_load included, and nothing more.
Problem readTables(const pybind11::dict& input, bool readMaxLoad = true);

// Reads and checks both tables (every item must fit one of the first `searchedTypes` types),
// then runs `checkArguments`, then derives the factories and total weight. With `readMaxLoad`
// the items' optional max_load is read and checked too.
Problem readProblem(const pybind11::dict& input, std::size_t searchedTypes,
                    const std::function<void()>& checkArguments, bool readMaxLoad = false);

void setThreadCount(std::int32_t threads);

// Runs pending Python signal handlers (the search holds the interpreter lock); throws
// PythonSignalRaised when one raised, e.g. KeyboardInterrupt for Ctrl-C.
void runPythonSignalHandlers();
struct PythonSignalRaised {};

// Half the physical memory, the most a search's population may take by its estimate: the rest
// is left to decoding, the caller and the machine. 0 (no limit) where it cannot be read.
std::uint64_t searchMemoryLimit();

// Runs the search on its own clock and builds the result dict from the plan it returns.
template <typename Search>
pybind11::dict timedResult(Search&& search) {
  const auto start = std::chrono::steady_clock::now();
  const Individual best = search();
  return buildResult(best, secondsSince(start));
}

[[noreturn]] void raisePython(PyObject* type, const std::string& message);
std::string describe(pybind11::error_already_set& error);

// Runs `body` and maps what it throws: invalid input to ValueError, too little memory to
// MemoryError, runtime failures to RuntimeError, interrupts and exits through unchanged.
template <typename Body>
auto callMappingErrors(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const PythonSignalRaised&) {
    throw pybind11::error_already_set();
  } catch (pybind11::error_already_set& error) {
    // Interrupts and exits are the caller's business, not failures of the solver.
    if (!error.matches(PyExc_Exception)) throw;
    pybind11::raise_from(error, PyExc_RuntimeError, ("C++ exception: " + describe(error)).c_str());
    throw pybind11::error_already_set();
  } catch (const std::invalid_argument& error) {
    raisePython(PyExc_ValueError, error.what());
  } catch (const MemoryLimitExceeded& error) {
    raisePython(PyExc_MemoryError, error.what());
  } catch (const std::bad_alloc&) {
    raisePython(PyExc_MemoryError, "memory ran out during the search");
  } catch (const std::runtime_error& error) {
    raisePython(PyExc_RuntimeError, error.what());
  } catch (const std::exception& error) {
    raisePython(PyExc_RuntimeError, std::string("C++ exception: ") + error.what());
  } catch (...) {
    raisePython(PyExc_RuntimeError, "Unknown C++ error in stowra");
  }
}

}  // namespace stowra
