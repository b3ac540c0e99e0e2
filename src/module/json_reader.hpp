#pragma once

#include <pybind11/pybind11.h>

namespace stowra {

void registerJsonReader(pybind11::module_& module);

}  // namespace stowra
