#include <doctest/doctest.h>

#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "problem/json_row_blocks.hpp"
#include "problem/json_shipment.hpp"

using namespace stowra;

namespace {

constexpr std::string_view ITEM =
    R"({"id": "SKU-1", "l": 60, "w": 40.5, "h": 4e1, "weight": 10, "factory": 2,)"
    R"( "stackable": true, "quantity": 3, "max_load": null})";

std::string cellText(const JsonShipment& read, const ShipmentCell& cell) {
  return read.texts.substr(cell.textStart, cell.textLength);
}

}  // namespace

TEST_CASE("a right shipment is read with its values, quantities, lines and unknown keys") {
  const std::string text =
      "{\"units\": \"cm\",\n \"itemTable\": [\n  {\"id\": \" 0042 \", \"l\": 60, \"w\": 40.5,"
      " \"h\": 4e1, \"quantity\": 3, \"max_load\": null, \"note\": \"x\"},\n  {\"id\": \"SKU-"
      "\\u00e9\\ud83d\\ude00\", \"quantity\": 0}\n ],\n \"binTable\": [{\"id\": \"20GP\", \"cost\":"
      " 1500, \"available\": false, \"max_load\": 1}]}";
  std::string declined;
  const auto read = readJsonShipment(text, &declined);
  // The second id is not printable ASCII: left to the careful reader, which words ids.
  REQUIRE_FALSE(read);
  CHECK(declined == "an item id beyond printable ASCII");

  const std::string plain =
      "{\"units\": \"cm\",\n \"itemTable\": [\n  {\"id\": \" 0042 \", \"l\": 60, \"w\": 40.5,"
      " \"h\": 4e1, \"quantity\": 3, \"max_load\": null, \"note\": \"x\"},\n  {\"id\": \"SKU-"
      "\\\"2\", \"quantity\": 0}\n ],\n \"binTable\": [{\"id\": \"20GP \\u00e9\", \"cost\":"
      " 1500, \"available\": false, \"max_load\": 1}]}";
  const auto right = readJsonShipment(plain, &declined);
  REQUIRE_MESSAGE(right, declined);
  CHECK(right->extraKeys == std::vector<std::string>{"units"});
  CHECK(right->itemCount == 3);
  REQUIRE(right->items.rows.size() == 2);
  CHECK(right->items.rows[0].line == 3);
  CHECK(right->items.rows[1].line == 4);
  CHECK(right->items.rows[0].quantity == 3);
  CHECK(right->items.rows[1].quantity == 0);
  CHECK(right->items.unknownKeys == std::vector<std::string>{"note"});
  CHECK(right->bins.unknownKeys == std::vector<std::string>{"max_load"});
  // Row one: id as the number it spells, sizes as doubles, no cell for a null load limit.
  const ShipmentRow& first = right->items.rows[0];
  REQUIRE(first.cellCount == 4);
  const ShipmentCell* cells = &right->cells[first.firstCell];
  CHECK((cells[0].kind == CellKind::Whole && cells[0].whole == 42));
  CHECK((cells[1].kind == CellKind::Real && cells[1].real == 60.0));
  CHECK(cells[2].real == 40.5);
  CHECK(cells[3].real == 40.0);
  const ShipmentCell& id = right->cells[right->items.rows[1].firstCell];
  CHECK(cellText(*right, id) == "SKU-\"2");
  const ShipmentRow& bin = right->bins.rows[0];
  CHECK(cellText(*right, right->cells[bin.firstCell]) == "20GP \xc3\xa9");
  CHECK(right->cells[bin.firstCell + 2].kind == CellKind::Flag);
  CHECK_FALSE(right->cells[bin.firstCell + 2].flag);
}

TEST_CASE("hostile and wrong texts are declined, never read past their end") {
  const std::string item(ITEM);
  const std::string deep = "{\"itemTable\": [], \"x\": " + std::string(100000, '[');
  const std::string longNumber = "{\"itemTable\": [{\"l\": 1" + std::string(5000, '0') + "}]}";
  const struct {
    std::string text;
    std::string_view why;
  } cases[] = {
      {"", "not an object"},
      {"[1]", "not an object"},
      {std::string("{\"itemTable\": [{\"id\": \"a\0b\"}]}", 30), "a control character in a string"},
      {std::string("{\"itemTable\": [], \0}", 20), "not JSON"},
      {"{\"itemTable\": [{\"id\": \"\xff\"}]}", "a string that is not UTF-8"},
      {"{\"itemTable\": [{\"id\": \"\xc0\xaf\"}]}", "a string that is not UTF-8"},
      {"{\"itemTable\": [{\"id\": \"\xed\xa0\x80\"}]}", "a string that is not UTF-8"},
      {"{\"itemTable\": [{\"id\": \"\xe2\x82\"}]}", "a string that is not UTF-8"},
      {"{\"itemTable\": [{\"id\": \"\\ud800\"}]}", "a lone surrogate"},
      {"{\"itemTable\": [{\"id\": \"\\u12\"}]}", "a bad \\u escape"},
      {"{\"itemTable\": [{\"id\": \"\\", "an unterminated string"},
      {"{\"itemTable\": [{\"id\": \"open", "an unterminated string"},
      {"{\"itemTable\": [{\"l\": 1e400}]}", "a number column holding something else"},
      {"{\"itemTable\": [{\"l\": 9007199254740993}]}", "a number column holding something else"},
      {longNumber, "a number column holding something else"},
      {"{\"itemTable\": [{\"l\": -}]}", "not JSON"},
      {"{\"itemTable\": [{\"l\": 1.}]}", "a number without digits"},
      {"{\"itemTable\": [{\"l\": 01}]}", "not JSON"},
      {"{\"itemTable\": [{\"l\": NaN}]}", "not JSON"},
      {"{\"itemTable\": [{\"factory\": 2147483648}]}",
       "a whole-number column holding something else"},
      {"{\"itemTable\": [{\"quantity\": 100001}]}",
       "a quantity that is not a whole number of items"},
      {"{\"itemTable\": [{\"note\": [1]}]}", "a nested value in a row"},
      {deep, "a nested value beside the tables"},
      {"{\"itemTable\": [{\"l\": 1, \"l\": 2}]}", "a column given twice in a row"},
      {"{\"itemTable\": [], \"itemTable\": []}", "a key given twice"},
      {"{\"itemTable\": [7]}", "a row that is not an object"},
      {"{\"itemTable\": {}}", "a table that is not a list"},
      {"{\"binTable\": []}", "no item table"},
      {"{\"items\": \"i.csv\"}", "a table named as a CSV file"},
      {"{\"itemTable\": []} []", "text after the object"},
      {"{\"itemTable\": [], \"binTable\": [{\"quantity\": 1}]}", "a container row with a quantity"},
      {"{\"itemTable\": [], \"binTable\": [{\"cost\": -1}]}", "a negative cost"},
      {"{\"itemTable\": [], \"binTable\": [{\"id\": \"A\"}, {\"id\": \"A\"}]}",
       "a container id given twice"},
      {"{\"itemTable\": [{\"max_load\": -0.5}]}", "a negative load limit"},
      {"{\"itemTable\": [{\"id\": \"" + std::string(65, 'x') + "\"}]}", "an empty or long item id"},
      {"{\"itemTable\": [{\"id\": true}]}", "an item id that is not a number or text"},
      {"{\"itemTable\": [{\"stackable\": 1}]}", "a true-or-false column holding something else"},
  };
  for (const auto& hostile : cases) {
    CAPTURE(hostile.text.substr(0, 80));
    std::string declined;
    CHECK_FALSE(readJsonShipment(hostile.text, &declined));
    CHECK(declined == hostile.why);
  }
  // Every prefix of a right text is declined without reading past its end.
  const std::string right = "{\"itemTable\": [" + item + "], \"x\": \"\\u00e9\"}";
  REQUIRE(readJsonShipment(right));
  for (std::size_t length = 0; length < right.size(); ++length) {
    CHECK_FALSE(readJsonShipment(std::string_view(right).substr(0, length)));
  }
}

TEST_CASE("many items over few rows are counted up to the limit, and no further") {
  std::string text = "{\"itemTable\": [";
  for (int row = 0; row < 10; ++row) text += "{\"quantity\": 10000},";
  text.back() = ']';
  text += "}";
  const auto read = readJsonShipment(text);
  REQUIRE(read);
  CHECK(read->itemCount == MAX_SHIPMENT_ITEMS);
  const std::string over = text.replace(text.find("10000"), 5, "10001");
  CHECK_FALSE(readJsonShipment(over));
}

TEST_CASE("rows that repeat the bytes between members are read as any row") {
  // Rows two and three repeat row one's bytes before a value in places, then differ: more
  // spaces, a line break after the colon, the keys in another order.
  const std::string text =
      "{\"itemTable\": [\n {\n  \"w\": 1,\n  \"l\": 2\n },\n {\n  \"w\":  3,\n  \"l\":\n 4\n },\n"
      " {\"l\": 5, \"w\": 6}]}";
  std::string declined;
  const auto read = readJsonShipment(text, &declined);
  REQUIRE_MESSAGE(read, declined);
  REQUIRE(read->items.rows.size() == 3);
  const double expected[3][2] = {{1, 2}, {3, 4}, {6, 5}};  // w, l
  const std::uint32_t lines[3] = {2, 6, 11};
  for (std::size_t index = 0; index < 3; ++index) {
    const ShipmentRow& row = read->items.rows[index];
    CAPTURE(index);
    CHECK(row.line == lines[index]);
    REQUIRE(row.cellCount == 2);
    for (std::uint32_t i = 0; i < 2; ++i) {
      const ShipmentCell& cell = read->cells[row.firstCell + i];
      CHECK(cell.real == expected[index][cell.column == 2 ? 0 : 1]);
    }
  }
  // A key the row before had in the same place, given twice in this row.
  CHECK_FALSE(
      readJsonShipment("{\"itemTable\": [{\"w\": 1, \"l\": 2}, {\"l\": 1, \"l\": 2}]}", &declined));
  CHECK(declined == "a column given twice in a row");
}

namespace {

// A long table whose rows are alike and not: text and number ids, quantities in the first row
// and from some row on, a null load limit, an unknown key, columns in another order; containers
// after the items.
std::string varied(int rows) {
  std::string text = "{\"itemTable\": [\n";
  for (int row = 0; row < rows; ++row) {
    text += row % 7 == 3 ? "{\"id\": \"SKU-" + std::to_string(row) + "\", \"w\": 2, \"l\": 1"
                         : "{\"id\": " + std::to_string(row) + ", \"l\": 1, \"w\": 2";
    text += ", \"h\": " + std::to_string(3 + row % 2) + ", \"stackable\": true";
    if (row == 0 || row > rows / 2) text += ", \"quantity\": " + std::to_string(row % 3);
    if (row % 11 == 0) text += ", \"max_load\": null, \"note\": \"x\"";
    text += row + 1 < rows ? "},\n" : "}\n";
  }
  return text + "], \"binTable\": [{\"id\": \"20GP\", \"l\": 5}, {\"id\": \"40GP\", \"l\": 9}]}";
}

// A row as its table, quantity and cells (column, kind and value), whether taken from a block
// or kept by the one-pass read.
std::string rowText(bool items, std::int64_t quantity, const ShipmentCell* cells,
                    std::uint32_t count, std::string_view texts) {
  std::string out(items ? "item x" : "bin x");
  out += std::to_string(quantity);
  for (const ShipmentCell& cell : std::span(cells, count)) {
    for (const int part : {static_cast<int>(cell.column), static_cast<int>(cell.kind)}) {
      out += ' ';
      out += std::to_string(part);
    }
    out += ' ';
    out += cell.kind == CellKind::Text    ? texts.substr(cell.textStart, cell.textLength)
           : cell.kind == CellKind::Flag  ? std::to_string(cell.flag)
           : cell.kind == CellKind::Whole ? std::to_string(cell.whole)
                                          : std::to_string(cell.real);
  }
  return out;
}

}  // namespace

TEST_CASE("rows handed over in blocks arrive whole and in order, read on a thread or not") {
  const std::string text = varied(3000);
  const auto kept = readJsonShipment(text);
  REQUIRE(kept);
  std::vector<std::string> expected;
  for (const bool items : {true, false}) {  // the item table comes first in the text
    for (const ShipmentRow& row : (items ? kept->items : kept->bins).rows) {
      expected.push_back(
          rowText(items, row.quantity, &kept->cells[row.firstCell], row.cellCount, kept->texts));
    }
  }
  for (const bool threaded : {false, true}) {
    CAPTURE(threaded);
    RowHandoff handoff;
    std::thread reader;
    if (threaded) {
      reader = std::thread([&] { handoff.read(text); });
    } else {
      handoff.read(text);
    }
    std::vector<std::string> taken;
    RowBlock block;
    for (int round = 0;; ++round) {
      // Looking, sleeping until a block comes, and not waiting at all, in turn.
      const RowHandoff::Wait wait = round % 3 == 0   ? RowHandoff::Wait::Spin
                                    : round % 3 == 1 ? RowHandoff::Wait::Block
                                                     : RowHandoff::Wait::No;
      const RowHandoff::Taken got = handoff.take(block, wait);
      if (got == RowHandoff::Taken::End) break;
      if (got == RowHandoff::Taken::NotYet) continue;  // the reader is behind: block unchanged
      for (const RowBlock::Row& row : block.rows) {
        taken.push_back(rowText(row.items, row.quantity, &block.cells[row.firstCell], row.cellCount,
                                block.texts));
      }
    }
    if (reader.joinable()) reader.join();
    const auto outline = handoff.outline();
    REQUIRE(outline);
    CHECK(outline->itemCount == kept->itemCount);
    CHECK(outline->itemUnknownKeys == std::vector<std::string>{"note"});
    CHECK(taken == expected);
    // Lines for every row; quantities, one per row, once any row is not of one item.
    const RowTally& tally = handoff.tally(true);
    REQUIRE(tally.lines.size() == kept->items.rows.size());
    REQUIRE(tally.quantities.size() == kept->items.rows.size());
    for (std::size_t index = 0; index < kept->items.rows.size(); ++index) {
      CHECK(tally.lines[index] == kept->items.rows[index].line);
      CHECK(tally.quantities[index] == kept->items.rows[index].quantity);
    }
    CHECK(handoff.tally(false).quantities.empty());
  }
}

TEST_CASE("a stopped read ends declined, no row read after it") {
  const std::string text = varied(2000);
  REQUIRE(readJsonShipment(text));  // read whole when nothing stops it
  // A sink that stops the read at its 500th row: no row is read after it.
  struct StopAt final : ShipmentRowSink {
    int left = 500;
    bool row(bool, const ShipmentRow&, std::span<const ShipmentCell>, std::string_view) override {
      return --left > 0;
    }
  } stopping;
  std::string declined;
  CHECK_FALSE(readJsonShipmentRows(text, stopping, &declined));
  CHECK(declined == "stopped by the caller");
  CHECK(stopping.left == 0);
  // A stopped handoff takes no row: its reader, on a thread of its own, ends declined.
  RowHandoff handoff;
  handoff.stop();
  std::thread reader([&] { handoff.read(text); });
  RowBlock block;
  CHECK(handoff.take(block, RowHandoff::Wait::Block) == RowHandoff::Taken::End);
  reader.join();
  CHECK_FALSE(handoff.outline());
  // A declined text is declined the same through the blocks.
  RowHandoff wrong;
  wrong.read(text.substr(0, text.size() - 1));
  while (wrong.take(block, RowHandoff::Wait::No) == RowHandoff::Taken::Block) {
  }
  CHECK_FALSE(wrong.outline());
}
