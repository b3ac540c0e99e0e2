#include <pybind11/pybind11.h>

#include "module/check_plan.hpp"
#include "module/json_reader.hpp"
#include "module/optimize.hpp"
#include "module/pack.hpp"

PYBIND11_MODULE(_core, module) {
  module.doc() =
      "Three-dimensional bin packing of items into shipping containers, solved by a genetic "
      "algorithm parallelised with OpenMP.";
  // Defined by the build from the package's one version.
  module.attr("__version__") = STOWRA_VERSION;
  stowra::registerPack(module);
  stowra::registerOptimize(module);
  stowra::registerCheckPlan(module);
  stowra::registerJsonReader(module);
}
