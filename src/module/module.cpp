#include <pybind11/pybind11.h>

#include "module/check_plan.hpp"
#include "module/json_reader.hpp"
#include "module/optimize.hpp"
#include "module/pack.hpp"
#include "problem/bin_type.hpp"

PYBIND11_MODULE(_core, module) {
  module.doc() =
      "Three-dimensional bin packing of items into shipping containers, solved by a genetic "
      "algorithm parallelised with OpenMP.";
  // Defined by the build from the package's one version.
  module.attr("__version__") = STOWRA_VERSION;
  // How many of the first available container types pack may open (optimize opens them all).
  module.attr("PACK_BIN_TYPES") = stowra::PACK_BIN_TYPES;
  stowra::registerPack(module);
  stowra::registerOptimize(module);
  stowra::registerCheckPlan(module);
  stowra::registerJsonReader(module);
}
