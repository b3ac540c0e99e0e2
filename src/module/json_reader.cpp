#include "module/json_reader.hpp"

#include <array>
#include <cstring>
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
    "quantity, one id, count (None when every row is one item) and line per row as given\n(the "
    "lines as native unsigned ints in bytes).\n";

// Numbers repeat down a table (sizes, weights): equal ones share one float object, as a dict
// copy shares them, through a small cache indexed by the value's bits.
class FloatCache {
 public:
  py::object get(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Slot& slot = slots_[(bits ^ (bits >> 29) ^ (bits >> 47)) % slots_.size()];
    if (!slot.object || slot.bits != bits) {
      slot.object = py::float_(value);
      slot.bits = bits;
    }
    return slot.object;
  }

 private:
  struct Slot {
    std::uint64_t bits = 0;
    py::object object;
  };
  std::array<Slot, 251> slots_;
};

py::object cellValue(const JsonShipment& read, const ShipmentCell& cell, FloatCache& floats) {
  switch (cell.kind) {
    case CellKind::Real:
      return floats.get(cell.real);
    case CellKind::Whole:
      return py::int_(cell.whole);
    case CellKind::Flag:
      return py::bool_(cell.flag);
    case CellKind::Text:
      break;
  }
  return py::str(read.texts.data() + cell.textStart, cell.textLength);
}

bool sameValue(const JsonShipment& read, const ShipmentCell& a, const ShipmentCell& b) {
  if (a.kind != b.kind || a.flag != b.flag) return false;
  if (a.kind == CellKind::Text) {
    return std::string_view(read.texts).substr(a.textStart, a.textLength) ==
           std::string_view(read.texts).substr(b.textStart, b.textLength);
  }
  // A number's bits (-0.0 is not 0.0 here); a flag's slot is never set, so equal.
  std::uint64_t x, y;
  std::memcpy(&x, &a.real, sizeof x);
  std::memcpy(&y, &b.real, sizeof y);
  return x == y;
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
  py::bytes lines;  // one native unsigned int per row
};

TableObjects tableObjects(const JsonShipment& read, const JsonTable& table,
                          const std::vector<py::str>& keys, FloatCache& floats) {
  TableObjects out;
  std::size_t expanded = 0;
  bool single = true;
  std::vector<unsigned int> lines;
  lines.reserve(table.rows.size());
  for (const ShipmentRow& row : table.rows) {
    expanded += static_cast<std::size_t>(row.quantity);
    single = single && row.quantity == 1;
    lines.push_back(row.line);
  }
  out.lines =
      py::bytes(reinterpret_cast<const char*>(lines.data()), lines.size() * sizeof(unsigned int));
  out.rows = py::list(expanded);
  out.ids = py::list(table.rows.size());
  py::list counts = single ? py::list() : py::list(table.rows.size());
  // Rows of one table mostly give the same columns in the same order: such a row starts as a
  // copy of the one before and has its values replaced, which builds no new key table.
  PyObject* shape = nullptr;  // borrowed: the previous row's dict, held by out.rows or shapeHeld
  py::object shapeHeld;       // a row of quantity 0 is in no list
  const ShipmentCell* shapeCells = nullptr;
  std::uint32_t shapeCount = 0;
  std::size_t at = 0;
  for (std::size_t index = 0; index < table.rows.size(); ++index) {
    const ShipmentRow& row = table.rows[index];
    const ShipmentCell* cells = read.cells.data() + row.firstCell;
    bool copied = shape != nullptr && shapeCount == row.cellCount;
    for (std::uint32_t i = 0; copied && i < row.cellCount; ++i) {
      copied = cells[i].column == shapeCells[i].column;
    }
    auto values = py::reinterpret_steal<py::object>(copied ? PyDict_Copy(shape) : PyDict_New());
    if (!values) throw py::error_already_set();
    PyObject* id = Py_None;  // borrowed from the row's dict
    for (std::uint32_t i = 0; i < row.cellCount; ++i) {
      const ShipmentCell& cell = cells[i];
      PyObject* key = keys[cell.column].ptr();
      if (copied && sameValue(read, cell, shapeCells[i])) {
        // The copy holds it already (sizes and flags repeat from row to row).
        if (cell.column == 0) id = PyDict_GetItem(values.ptr(), key);
        continue;
      }
      py::object value = cellValue(read, cell, floats);
      if (PyDict_SetItem(values.ptr(), key, value.ptr()) != 0) throw py::error_already_set();
      if (cell.column == 0) id = value.ptr();
    }
    Py_INCREF(id);
    PyList_SET_ITEM(out.ids.ptr(), static_cast<Py_ssize_t>(index), id);
    if (!single) counts[index] = py::int_(row.quantity);
    shape = values.ptr();
    shapeCells = cells;
    shapeCount = row.cellCount;
    if (row.quantity == 0) {
      shapeHeld = std::move(values);
      continue;
    }
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
  FloatCache floats;
  TableObjects items = tableObjects(*read, read->items, *itemKeys, floats);
  TableObjects bins = tableObjects(*read, read->bins, *binKeys, floats);
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
