#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra {

// The rows of a table given as any iterable, as by list().
pybind11::list asTable(pybind11::handle table);

// Fails with "Missing required key '<key>' in <context>" when the row lacks the key.
void requireKey(const pybind11::dict& row, const char* key, const std::string& context);

// With `readMaxLoad` an optional max_load (None or absent: no limit) is read as well.
std::vector<ItemSpec> readItemTable(const pybind11::list& table, bool readMaxLoad = false);
// With `rows`, the position in the table of each available type is appended to it.
std::vector<BinType> readBinTable(const pybind11::list& table,
                                  std::vector<std::size_t>* rows = nullptr);

}  // namespace stowra
