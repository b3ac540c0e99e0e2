#include "module/json_reader.hpp"

#include <string_view>
#include <vector>

#include "problem/json_shipment.hpp"

namespace py = pybind11;

namespace stowra {

namespace {

constexpr const char* READ_DOC =
    "Read a JSON shipment's text in one pass.\n"
    "\n"
    "Returns None when the text needs the careful reader (anything wrong with it, or a shape\n"
    "this reader leaves alone); else (items, item_ids, item_counts, item_lines, item_unknown,\n"
    "bins or None, bin_ids, bin_lines, bin_unknown, extra_keys): the items expanded by\n"
    "quantity, one id, count (None when every row is one item) and line per row as given.\n";

py::object cellValue(const JsonShipment& read, const ShipmentCell& cell) {
  switch (cell.kind) {
    case CellKind::Real:
      return py::float_(cell.real);
    case CellKind::Whole:
      return py::int_(cell.whole);
    case CellKind::Flag:
      return py::bool_(cell.flag);
    case CellKind::Text:
      break;
  }
  return py::str(read.texts.data() + cell.textStart, cell.textLength);
}

py::list strings(const std::vector<std::string>& values) {
  py::list out;
  for (const std::string& value : values) out.append(py::str(value));
  return out;
}

struct TableObjects {
  py::list rows;  // expanded by quantity
  py::list ids;
  py::object counts = py::none();
  py::list lines;
};

TableObjects tableObjects(const JsonShipment& read, const JsonTable& table,
                          const std::vector<py::str>& keys) {
  TableObjects out;
  std::size_t expanded = 0;
  bool single = true;
  for (const ShipmentRow& row : table.rows) {
    expanded += static_cast<std::size_t>(row.quantity);
    single = single && row.quantity == 1;
  }
  out.rows = py::list(expanded);
  out.ids = py::list(table.rows.size());
  out.lines = py::list(table.rows.size());
  py::list counts = single ? py::list() : py::list(table.rows.size());
  std::size_t at = 0;
  for (std::size_t index = 0; index < table.rows.size(); ++index) {
    const ShipmentRow& row = table.rows[index];
    py::dict values;
    py::object id = py::none();
    for (std::uint32_t i = row.firstCell; i < row.firstCell + row.cellCount; ++i) {
      const ShipmentCell& cell = read.cells[i];
      py::object value = cellValue(read, cell);
      if (cell.column == 0) id = value;
      values[keys[cell.column]] = std::move(value);
    }
    out.ids[index] = std::move(id);
    out.lines[index] = py::int_(row.line);
    if (!single) counts[index] = py::int_(row.quantity);
    if (row.quantity == 0) continue;
    // The row's own dict is its first item; the others are copies, as the row readers make.
    PyObject* first = values.release().ptr();
    PyList_SET_ITEM(out.rows.ptr(), static_cast<Py_ssize_t>(at++), first);
    for (std::int64_t copy = 1; copy < row.quantity; ++copy) {
      PyObject* made = PyDict_Copy(first);
      if (made == nullptr) throw py::error_already_set();
      PyList_SET_ITEM(out.rows.ptr(), static_cast<Py_ssize_t>(at++), made);
    }
  }
  if (!single) out.counts = std::move(counts);
  return out;
}

std::vector<py::str> columnKeys(const std::vector<std::string_view>& columns) {
  std::vector<py::str> keys;
  for (std::string_view name : columns) {
    PyObject* key = PyUnicode_InternFromString(std::string(name).c_str());
    if (key == nullptr) throw py::error_already_set();
    keys.push_back(py::reinterpret_steal<py::str>(key));
  }
  return keys;
}

py::object readJsonText(const py::str& text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) {  // lone surrogates: the careful reader says what it makes of them
    PyErr_Clear();
    return py::none();
  }
  std::optional<JsonShipment> read;
  {
    // The text's UTF-8 form belongs to the str, which the caller holds throughout.
    py::gil_scoped_release release;
    read = readJsonShipment(std::string_view(data, static_cast<std::size_t>(size)));
  }
  if (!read) return py::none();
  static const std::vector<py::str>* itemKeys = new std::vector<py::str>(columnKeys(itemColumns()));
  static const std::vector<py::str>* binKeys = new std::vector<py::str>(columnKeys(binColumns()));
  TableObjects items = tableObjects(*read, read->items, *itemKeys);
  TableObjects bins = tableObjects(*read, read->bins, *binKeys);
  py::object binRows = read->bins.given ? py::object(bins.rows) : py::none();
  return py::make_tuple(items.rows, items.ids, items.counts, items.lines,
                        strings(read->items.unknownKeys), binRows, bins.ids, bins.lines,
                        strings(read->bins.unknownKeys), strings(read->extraKeys));
}

}  // namespace

void registerJsonReader(py::module_& module) {
  using namespace pybind11::literals;
  module.def("read_json_shipment", &readJsonText, READ_DOC, "text"_a);
}

}  // namespace stowra
