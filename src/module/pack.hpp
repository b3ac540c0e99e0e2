#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

namespace stowra {

// The one entry point: validates the problem, runs the search and returns the plan.
pybind11::dict pack(const pybind11::dict& input, std::int32_t popSize, std::int32_t generations,
                    double timeLimit, std::int32_t threads, std::int32_t seed);

void registerPack(pybind11::module_& module);

}  // namespace stowra
