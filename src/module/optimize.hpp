#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

namespace stowra {

// The second entry point: the same tables, checks and result as pack, searched for cheaper
// plans by the plan search over every available bin type.
pybind11::dict optimize(const pybind11::dict& input, double timeLimit, std::int32_t threads,
                        std::int32_t seed, std::int32_t effort, double balanceLimit,
                        bool pickupOrder, const pybind11::object& progress);

void registerOptimize(pybind11::module_& module);

}  // namespace stowra
