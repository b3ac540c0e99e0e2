#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stowra {

// A JSON shipment read in one pass: the item and container rows with their values already
// checked and converted, and each row's line. Only a right shipment of the usual shape is read
// here; anything else (a syntax error, a value a row check refuses, a nested value, tables named
// as CSV files) is declined, and the careful reader above reads the text again to word the
// message. The parser never goes deeper than a value in a row, so no input nests it further.

enum class CellKind : std::uint8_t { Real, Whole, Flag, Text };

// One known column of one row, as the planner's tables take it: 16 bytes, the value read by its
// kind, so a long table's cells take few pages.
struct ShipmentCell {
  std::uint8_t column = 0;  // index into itemColumns() or binColumns()
  CellKind kind = CellKind::Real;
  bool flag = false;
  std::uint8_t unused = 0;  // no padding: a cell's bytes say all it holds, and compare as such
  std::uint32_t textLength = 0;
  union {
    double real = 0;
    std::int64_t whole;
    std::uint32_t textStart;  // Text: its decoded bytes in JsonShipment::texts
  };
};
static_assert(sizeof(ShipmentCell) == 16, "a cell without padding");

struct ShipmentRow {
  std::uint32_t line = 0;       // of the row's opening brace, from 1
  std::uint32_t firstCell = 0;  // into JsonShipment::cells (a row handed to a sink: 0)
  std::uint32_t cellCount = 0;  // known columns, in the order the row gives them
  std::int64_t quantity = 1;    // items the row stands for (containers: always 1)
};

struct JsonTable {
  bool given = false;
  std::vector<ShipmentRow> rows;
  std::vector<std::string> unknownKeys;  // keys no column has, in the order they first appear
};

struct JsonShipment {
  JsonTable items;
  JsonTable bins;
  std::vector<ShipmentCell> cells;
  std::string texts;
  std::vector<std::string> extraKeys;  // top-level keys beside the tables, in order
  std::int64_t itemCount = 0;          // items after quantities
};

// The column names, in the order the cells index them.
const std::vector<std::string_view>& itemColumns();
const std::vector<std::string_view>& binColumns();

// Far above any shipment file, and what 32-bit offsets into the text hold comfortably.
inline constexpr std::size_t MAX_JSON_SHIPMENT_BYTES = 256u << 20;
// Items in one shipment after quantities (the file readers' limit).
inline constexpr std::int64_t MAX_SHIPMENT_ITEMS = 100000;

// Takes the rows of both tables one by one, in the text's order, as they are read: a long
// table need not be held whole before its rows are used. The cells and their texts (a Text
// cell's textStart counts from the start of `texts`) are valid for the call only. A row handed
// over may still belong to a text that is declined later.
class ShipmentRowSink {
 public:
  // False stops the read, which is then declined.
  virtual bool row(bool items, const ShipmentRow& row, std::span<const ShipmentCell> cells,
                   std::string_view texts) = 0;

 protected:
  ~ShipmentRowSink() = default;
};

// What a read says beside its rows.
struct JsonShipmentOutline {
  bool itemsGiven = false;
  bool binsGiven = false;
  std::vector<std::string> itemUnknownKeys;  // keys no column has, in the order they first appear
  std::vector<std::string> binUnknownKeys;
  std::vector<std::string> extraKeys;  // top-level keys beside the tables, in order
  std::int64_t itemCount = 0;          // items after quantities
};

// The rows of the shipment in `text` (UTF-8) handed to `sink`, and its outline; nothing when
// the careful reader must look at it (or the sink stopped the read). `declined`, when given,
// then says why (for tests and debugging, not for users).
std::optional<JsonShipmentOutline> readJsonShipmentRows(std::string_view text,
                                                        ShipmentRowSink& sink,
                                                        std::string* declined = nullptr);

// Appends a row's cells and texts to `cells` and `texts`, its Text cells counted from the start
// of `texts`; the index of the row's first cell.
std::uint32_t appendRowCells(std::span<const ShipmentCell> rowCells, std::string_view rowTexts,
                             std::vector<ShipmentCell>& cells, std::string& texts);

// The same read with every row kept.
std::optional<JsonShipment> readJsonShipment(std::string_view text,
                                             std::string* declined = nullptr);

}  // namespace stowra
