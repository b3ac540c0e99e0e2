#include "module/table_reader.hpp"

#include <stdexcept>

namespace py = pybind11;

namespace stowra {

namespace {

constexpr const char* ITEM_KEYS[] = {"id", "l", "w", "h", "weight", "factory", "stackable"};
constexpr const char* BIN_KEYS[] = {"id", "l", "w", "h", "cost", "weight_limit", "available"};

// A dict is used as it is; anything else goes through dict(), whose errors propagate.
py::dict asRow(py::handle row) {
  if (PyDict_Check(row.ptr())) return py::reinterpret_borrow<py::dict>(row);
  return py::dict(py::reinterpret_borrow<py::object>(row));
}

template <typename T>
T read(const py::dict& row, const char* key) {
  return row[key].cast<T>();
}

}  // namespace

py::list asTable(py::handle table) {
  // Always a private copy: a row conversion may run caller code that resizes the caller's
  // list, which must not pull entries out from under the iteration.
  PyObject* list = PySequence_List(table.ptr());
  if (list == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::list>(list);
}

void requireKey(const py::dict& row, const char* key, const std::string& context) {
  if (!row.contains(key)) {
    throw std::invalid_argument(std::string("Missing required key '") + key + "' in " + context);
  }
}

std::vector<ItemSpec> readItemTable(const py::list& table, bool readMaxLoad) {
  if (table.empty()) throw std::invalid_argument("itemTable is empty");
  std::vector<ItemSpec> items;
  items.reserve(table.size());
  std::size_t index = 0;
  for (py::handle entry : table) {
    const py::dict row = asRow(entry);
    const std::string context = "itemTable[" + std::to_string(index) + "]";
    for (const char* key : ITEM_KEYS) requireKey(row, key, context);
    ItemRow values;
    values.id = read<std::int32_t>(row, "id");
    values.l = read<double>(row, "l");
    values.w = read<double>(row, "w");
    values.h = read<double>(row, "h");
    values.weight = read<double>(row, "weight");
    values.factory = read<std::int32_t>(row, "factory");
    values.stackable = read<bool>(row, "stackable");
    // pack has no load rule and passes the column over as any other unknown key.
    if (readMaxLoad && row.contains("max_load") && !row["max_load"].is_none()) {
      values.maxLoad = read<double>(row, "max_load");
    }
    items.push_back(makeItemSpec(values, index));
    ++index;
  }
  return items;
}

std::vector<BinType> readBinTable(const py::list& table, std::vector<std::size_t>* rows) {
  std::vector<BinType> binTypes;
  std::size_t index = 0;
  for (py::handle entry : table) {
    const py::dict row = asRow(entry);
    const std::string context = "binTable[" + std::to_string(index) + "]";
    for (const char* key : BIN_KEYS) requireKey(row, key, context);
    if (read<bool>(row, "available")) {
      BinRow values;
      values.id = read<std::string>(row, "id");
      values.l = read<double>(row, "l");
      values.w = read<double>(row, "w");
      values.h = read<double>(row, "h");
      values.cost = read<std::int32_t>(row, "cost");
      values.weight_limit = read<double>(row, "weight_limit");
      binTypes.push_back(makeBinType(values, index));
      if (rows != nullptr) rows->push_back(index);
    }
    ++index;
  }
  requireSomeBinType(binTypes);
  return binTypes;
}

}  // namespace stowra
