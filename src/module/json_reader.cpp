#include "module/json_reader.hpp"

#ifdef __linux__
#include <sched.h>
#endif

#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "problem/json_row_blocks.hpp"
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

py::list strings(const std::vector<std::string>& values) {
  py::list out;
  for (const std::string& value : values) out.append(py::str(value));
  return out;
}

// The cores this process may run on (a container or `taskset` may allow fewer than the machine
// has).
unsigned usableCores() {
#ifdef __linux__
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    return static_cast<unsigned>(CPU_COUNT(&allowed));
  }
#endif
  return std::thread::hardware_concurrency();
}

// Texts at least this long are read on a thread of their own beside the building of their
// rows; a shorter one is read sooner than a thread starts.
constexpr std::size_t THREADED_READ_BYTES = 512u << 10;

// Runs the reader on a thread of its own when that pays, else to its end at once (without the
// GIL either way). However the building ends, the reader is stopped and waited for.
class ReaderRun {
 public:
  ReaderRun(RowHandoff& handoff, std::string_view text) : handoff_(handoff) {
    if (text.size() >= THREADED_READ_BYTES && usableCores() > 1) {
      try {
        thread_ = std::thread([&handoff, text] { handoff.read(text); });
        return;
      } catch (const std::system_error&) {  // no thread to be had: read here instead
      }
    }
    py::gil_scoped_release release;
    handoff.read(text);
  }
  bool threaded() const { return thread_.joinable(); }
  ReaderRun(const ReaderRun&) = delete;
  ReaderRun& operator=(const ReaderRun&) = delete;
  ~ReaderRun() {
    if (!thread_.joinable()) return;
    handoff_.stop();
    py::gil_scoped_release release;
    thread_.join();
  }

 private:
  RowHandoff& handoff_;
  std::thread thread_;
};

// A list filled in order: made at its length at once when that is known (a text read whole
// before its rows are built), else grown as items come.
class ListFill {
 public:
  void expect(std::size_t length) {
    list_ = py::reinterpret_steal<py::list>(PyList_New(static_cast<Py_ssize_t>(length)));
    if (!list_) throw py::error_already_set();
    length_ = length;
  }

  void add(py::object item) {
    if (filled_ < length_) {
      PyList_SET_ITEM(list_.ptr(), static_cast<Py_ssize_t>(filled_++), item.release().ptr());
    } else if (PyList_Append(list_.ptr(), item.ptr()) != 0) {
      throw py::error_already_set();
    }
  }

  py::list take() {
    if (filled_ < length_ && PyList_SetSlice(list_.ptr(), static_cast<Py_ssize_t>(filled_),
                                             static_cast<Py_ssize_t>(length_), nullptr) != 0) {
      throw py::error_already_set();
    }
    length_ = filled_;
    return std::move(list_);
  }

 private:
  py::list list_;
  std::size_t length_ = 0;  // slots made at once; those not yet filled are empty
  std::size_t filled_ = 0;
};

struct TableObjects {
  py::list rows;  // expanded by quantity
  py::list ids;
  py::object counts = py::none();
  py::bytes lines;  // one native unsigned int per row
};

// Makes one table's row dicts as the rows arrive. Rows of a table mostly give the same columns
// in the same order as the row before: such a row's dict starts as a copy of that row's, which
// builds no new key table, and only the values that differ are set (sizes, weights and flags
// repeat down a table).
class TableBuilder {
 public:
  TableBuilder(const std::vector<py::str>& keys, FloatCache& floats)
      : keys_(keys), floats_(floats) {}

  void add(const RowBlock& block, const RowBlock::Row& row) {
    const ShipmentCell* cells = block.cells.data() + row.firstCell;
    const std::string_view texts = block.texts;
    bool alike = shape_ != nullptr && lastCount_ == row.cellCount;
    for (std::uint32_t i = 0; alike && i < row.cellCount; ++i) {
      alike = cells[i].column == lastCells_[i].column;
    }
    auto values = py::reinterpret_steal<py::object>(alike ? PyDict_Copy(shape_) : PyDict_New());
    if (!values) throw py::error_already_set();
    PyObject* id = Py_None;  // borrowed from the row's dict
    for (std::uint32_t i = 0; i < row.cellCount; ++i) {
      const ShipmentCell& cell = cells[i];
      PyObject* key = keys_[cell.column].ptr();
      if (alike && sameValue(cell, texts, lastCells_[i], lastTexts_)) {
        if (cell.column == 0) id = PyDict_GetItem(values.ptr(), key);  // a repeated id
        continue;
      }
      py::object value = cellValue(cell, texts);
      if (PyDict_SetItem(values.ptr(), key, value.ptr()) != 0) throw py::error_already_set();
      if (cell.column == 0) id = value.ptr();
    }
    ids_.add(py::reinterpret_borrow<py::object>(id));
    lastCells_ = cells;
    lastCount_ = row.cellCount;
    lastTexts_ = texts;
    shape_ = values.ptr();
    if (row.quantity == 0) {  // in no list: held here while later rows copy it
      shapeHeld_ = std::move(values);
      return;
    }
    // The row's own dict is its first item; the others are copies, as the row readers make.
    PyObject* first = values.ptr();
    rows_.add(std::move(values));
    for (std::int64_t copy = 1; copy < row.quantity; ++copy) {
      auto made = py::reinterpret_steal<py::object>(PyDict_Copy(first));
      if (!made) throw py::error_already_set();
      rows_.add(std::move(made));
    }
  }

  // Before the block that holds the last row goes back to the reader: its cells, kept.
  void keepLastRow() {
    if (lastCells_ == nullptr || lastCells_ == heldCells_.data()) return;
    heldCells_.assign(lastCells_, lastCells_ + lastCount_);
    heldTexts_.clear();
    for (ShipmentCell& cell : heldCells_) {  // the row's own texts, not the block's
      if (cell.kind != CellKind::Text) continue;
      const auto start = static_cast<std::uint32_t>(heldTexts_.size());
      heldTexts_.append(lastTexts_.substr(cell.textStart, cell.textLength));
      cell.textStart = start;
    }
    lastCells_ = heldCells_.data();
    lastTexts_ = heldTexts_;
  }

  // The table was read whole: its lists are made at their length.
  void expect(const RowTally& tally) {
    rows_.expect(static_cast<std::size_t>(tally.items));
    ids_.expect(tally.lines.size());
  }

  TableObjects finish(const RowTally& tally) {
    TableObjects out;
    out.rows = rows_.take();
    out.ids = ids_.take();
    out.lines = py::bytes(reinterpret_cast<const char*>(tally.lines.data()),
                          tally.lines.size() * sizeof(std::uint32_t));
    if (!tally.quantities.empty()) {
      py::list counts(tally.quantities.size());
      for (std::size_t index = 0; index < tally.quantities.size(); ++index) {
        counts[index] = py::int_(tally.quantities[index]);
      }
      out.counts = std::move(counts);
    }
    return out;
  }

 private:
  static bool sameValue(const ShipmentCell& a, std::string_view aTexts, const ShipmentCell& b,
                        std::string_view bTexts) {
    if (a.kind == CellKind::Text || b.kind == CellKind::Text) {
      return a.kind == b.kind &&
             aTexts.substr(a.textStart, a.textLength) == bTexts.substr(b.textStart, b.textLength);
    }
    // A number by its bits (-0.0 is not 0.0 here), a flag by its own.
    return std::memcmp(&a, &b, sizeof a) == 0;
  }

  py::object cellValue(const ShipmentCell& cell, std::string_view texts) {
    switch (cell.kind) {
      case CellKind::Real:
        return floats_.get(cell.real);
      case CellKind::Whole:
        return py::int_(cell.whole);
      case CellKind::Flag:
        return py::bool_(cell.flag);
      case CellKind::Text:
        break;
    }
    const std::string_view text = texts.substr(cell.textStart, cell.textLength);
    return py::str(text.data(), text.size());
  }

  const std::vector<py::str>& keys_;
  FloatCache& floats_;
  ListFill rows_;
  ListFill ids_;
  PyObject* shape_ = nullptr;  // borrowed: the previous row's dict, held by rows_ or shapeHeld_
  py::object shapeHeld_;
  // The previous row's cells, in its block or (once the block is given back) held here.
  const ShipmentCell* lastCells_ = nullptr;
  std::uint32_t lastCount_ = 0;
  std::string_view lastTexts_;
  std::vector<ShipmentCell> heldCells_;
  std::string heldTexts_;
};

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
  static const std::vector<py::str>* itemKeys = new std::vector<py::str>(columnKeys(itemColumns()));
  static const std::vector<py::str>* binKeys = new std::vector<py::str>(columnKeys(binColumns()));
  FloatCache floats;
  TableBuilder items(*itemKeys, floats), bins(*binKeys, floats);
  RowHandoff handoff;
  {
    // The text's UTF-8 form belongs to the str, which the caller holds throughout.
    ReaderRun reader(handoff, std::string_view(data, static_cast<std::size_t>(size)));
    if (!reader.threaded()) {  // read already: the lists are made at their length
      items.expect(handoff.tally(true));
      bins.expect(handoff.tally(false));
    }
    RowBlock block;
    for (;;) {
      items.keepLastRow();
      bins.keepLastRow();
      RowHandoff::Taken taken = handoff.take(block, RowHandoff::Wait::Spin);
      if (taken == RowHandoff::Taken::NotYet) {
        py::gil_scoped_release release;
        taken = handoff.take(block, RowHandoff::Wait::Block);
      }
      if (taken == RowHandoff::Taken::End) break;
      for (const RowBlock::Row& row : block.rows) (row.items ? items : bins).add(block, row);
    }
  }
  std::optional<JsonShipmentOutline> outline = handoff.outline();
  if (!outline) return py::none();
  TableObjects itemObjects = items.finish(handoff.tally(true));
  TableObjects binObjects = bins.finish(handoff.tally(false));
  py::object binRows = outline->binsGiven ? py::object(binObjects.rows) : py::none();
  return py::make_tuple(itemObjects.rows, itemObjects.ids, itemObjects.counts, itemObjects.lines,
                        strings(outline->itemUnknownKeys), binRows, binObjects.ids,
                        binObjects.lines, strings(outline->binUnknownKeys),
                        strings(outline->extraKeys));
}

}  // namespace

void registerJsonReader(py::module_& module) {
  using namespace pybind11::literals;
  module.def("read_json_shipment", &readJsonText, READ_DOC, "text"_a);
}

}  // namespace stowra
