#pragma once

#include <pybind11/pybind11.h>

#include "candidate/individual.hpp"

namespace stowra {

// The plan as the caller receives it: summary figures, then one row per bin with one entry
// per placed item, keys in a fixed order.
pybind11::dict buildResult(const Individual& best, double elapsedSeconds);

}  // namespace stowra
