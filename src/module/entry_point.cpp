#include "module/entry_point.hpp"

#include <omp.h>
#include <unistd.h>

#include <algorithm>

#include "module/table_reader.hpp"
#include "problem/fit_check.hpp"

namespace py = pybind11;

namespace stowra {

Problem readTables(const py::dict& input, bool readMaxLoad) {
  Problem problem;
  problem.items = readItemTable(asTable(input["itemTable"]), readMaxLoad);
  problem.binTypes = readBinTable(
      input.contains("binTable") ? asTable(input["binTable"]) : py::list(), &problem.binRows);
  return problem;
}

Problem readProblem(const py::dict& input, std::size_t searchedTypes,
                    const std::function<void()>& checkArguments, bool readMaxLoad) {
  Problem problem = readTables(input, readMaxLoad);
  checkItemsFit(problem.items, problem.binTypes, searchedTypes);
  checkArguments();
  problem.itemFactories = itemFactoriesOf(problem.items);
  problem.totalWeight = totalItemWeight(problem.items);
  return problem;
}

void setThreadCount(std::int32_t threads) {
  if (threads <= 0) return;
  // More threads than processors cannot help, and a huge count makes the OpenMP runtime end
  // the whole process.
  omp_set_num_threads(std::min(threads, omp_get_num_procs()));
}

void runPythonSignalHandlers() {
  if (PyErr_CheckSignals() != 0) throw PythonSignalRaised{};
}

std::uint64_t searchMemoryLimit() {
#ifdef _SC_PHYS_PAGES
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && pageSize > 0) {
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2;
  }
#endif
  return 0;
}

void raisePython(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
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

}  // namespace stowra
