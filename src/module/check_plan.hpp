#pragma once

#include <pybind11/pybind11.h>

namespace stowra {

// stowra's plan checker: the breaches of a plan, given as either search returns it, against the
// tables it was made for.
void registerCheckPlan(pybind11::module_& module);

}  // namespace stowra
