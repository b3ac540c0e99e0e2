#include <pybind11/pybind11.h>

using namespace pybind11::literals;

#include "module/check_plan.hpp"
#include "module/json_reader.hpp"
#include "module/optimize.hpp"
#include "module/pack.hpp"
#include "problem/bin_type.hpp"
#include "problem/search_defaults.hpp"

PYBIND11_MODULE(_core, module) {
  module.doc() =
      "Three-dimensional bin packing of items into shipping containers, solved by a genetic "
      "algorithm parallelised with OpenMP.";
  // Defined by the build from the package's one version.
  module.attr("__version__") = STOWRA_VERSION;
  // How many of the first available container types pack may open (optimize opens them all).
  module.attr("PACK_BIN_TYPES") = stowra::PACK_BIN_TYPES;
  // Each search's option defaults, as its signature has them: the front ends read them here.
  module.attr("DEFAULTS") = pybind11::dict(
      "pack"_a = pybind11::dict(
          "pop_size"_a = stowra::DEFAULT_POP_SIZE, "generations"_a = stowra::DEFAULT_GENERATIONS,
          "time_limit"_a = stowra::DEFAULT_PACK_TIME_LIMIT, "threads"_a = stowra::DEFAULT_THREADS,
          "seed"_a = stowra::DEFAULT_SEED),
      "optimize"_a = pybind11::dict(
          "time_limit"_a = stowra::DEFAULT_OPTIMIZE_TIME_LIMIT,
          "threads"_a = stowra::DEFAULT_THREADS, "seed"_a = stowra::DEFAULT_SEED,
          "effort"_a = stowra::DEFAULT_EFFORT, "balance_limit"_a = stowra::DEFAULT_BALANCE_LIMIT,
          "pickup_order"_a = stowra::DEFAULT_PICKUP_ORDER));
  stowra::registerPack(module);
  stowra::registerOptimize(module);
  stowra::registerCheckPlan(module);
  stowra::registerJsonReader(module);
}
