#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "problem/bin_type.hpp"
#include "problem/fit_check.hpp"
#include "problem/item_spec.hpp"
#include "problem/number_format.hpp"
#include "problem/search_arguments.hpp"

using namespace stowra;

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
const double NaN = std::nan("");

ItemRow itemRow(double l, double w, double h, double weight = 1.0) {
  return ItemRow{7, l, w, h, weight, 0, true};
}

BinRow binRow(std::string id, double l, double w, double h, double limit = 0.0) {
  return BinRow{std::move(id), l, w, h, 100, limit};
}

std::string messageOf(auto&& call) {
  try {
    call();
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "<no error>";
}

}  // namespace

TEST_CASE("numbers print like %g with six significant digits") {
  const std::vector<std::pair<double, std::string>> cases = {
      {590.0, "590"},
      {0.5, "0.5"},
      {-0.0, "-0"},
      {0.00001, "1e-05"},
      {1234567, "1.23457e+06"},
      {INF, "inf"},
      {-INF, "-inf"},
      {1.7976931348623157e308, "1.79769e+308"},
      {2500000, "2.5e+06"},
      {0.0001, "0.0001"}};
  for (const auto& [value, text] : cases) {
    CAPTURE(text);
    CHECK(formatNumber(value) == text);
  }
}

TEST_CASE("item rows: positivity, finiteness, then weight, field by field") {
  const std::vector<std::pair<ItemRow, std::string>> cases = {
      {itemRow(0, -1, 5), "Item #3: l must be positive, got 0"},
      {itemRow(5, -5, 0), "Item #3: w must be positive, got -5"},
      {itemRow(NaN, 5, 5), "Item #3: l must be positive, got nan"},
      {itemRow(-INF, 5, 5), "Item #3: l must be positive, got -inf"},
      {itemRow(INF, 0, 5), "Item #3: l must be finite, got inf"},  // l is finished before w
      {itemRow(5, INF, 5), "Item #3: w must be finite, got inf"},
      {itemRow(5, 5, INF), "Item #3: h must be finite, got inf"},
      {itemRow(5, 5, 0.0, NaN), "Item #3: h must be positive, got 0"},
      {itemRow(5, 5, 5, NaN), "Item #3: weight must be finite, got nan"},
      {itemRow(5, 5, 5, -INF), "Item #3: weight must be finite, got -inf"},
  };
  for (const auto& [row, message] : cases) {
    CAPTURE(message);
    CHECK(messageOf([&] { makeItemSpec(row, 3); }) == message);
  }
}

TEST_CASE("an item keeps its row values, volume and allowed rotations") {
  const ItemSpec item = makeItemSpec(ItemRow{12, 3, 5, 7, -2.5, 4, false}, 0);
  CHECK(item.id == 12);
  CHECK(item.volume == 5.0 * 3.0 * 7.0);
  CHECK(item.weight == -2.5);  // weights are not validated
  CHECK(item.factory == 4);
  CHECK_FALSE(item.stackable);

  // Longer than 234 never turns; a square footprint gains nothing by turning.
  const std::vector<std::pair<ItemRow, std::vector<std::int32_t>>> cases = {
      {itemRow(100, 100, 50), {0}},    {itemRow(100, 120, 50), {0, 1}},
      {itemRow(234, 120, 50), {0, 1}}, {itemRow(234.0001, 120, 50), {0}},
      {itemRow(300, 100, 100), {0}},
  };
  for (const auto& [row, rotations] : cases) {
    CHECK(makeItemSpec(row, 0).allowedRotations == rotations);
  }
}

TEST_CASE("bin rows: dimensions, volume, weight limit and name") {
  const double big = 1e200;
  const std::vector<std::pair<BinRow, std::string>> cases = {
      {binRow("R", 590, 0, 230), "Bin #2 ('R'): dimensions must be positive"},
      {binRow("R", NaN, 234, 230), "Bin #2 ('R'): dimensions must be positive"},
      {binRow("R", INF, -1, 230), "Bin #2 ('R'): dimensions must be positive"},
      {binRow("R", 590, INF, 230), "Bin #2 ('R'): dimensions must be finite"},
      {binRow("R", big, big, 230), "Bin #2 ('R'): volume must be positive and finite"},
      {binRow("R", 1e-200, 1e-200, 1e-200), "Bin #2 ('R'): volume must be positive and finite"},
      {binRow("R", 590, 234, 230, NaN), "Bin #2 ('R'): weight_limit must be a number"},
      {binRow("\xff\xfe", 590, 234, 230), "Bin #2: id is not valid UTF-8"},
      {binRow("\xc3", -1, 234, 230), "Bin #2: id is not valid UTF-8"},
  };
  for (const auto& [row, message] : cases) {
    CAPTURE(message);
    CHECK(messageOf([&] { makeBinType(row, 2); }) == message);
  }

  const BinType noLimit = makeBinType(binRow("40GP", 1203, 234, 230, INF), 0);
  CHECK(noLimit.weight_limit == INF);
  CHECK(noLimit.cost == 100.0);
  CHECK(noLimit.available);
  CHECK(messageOf([] { requireSomeBinType({}); }) == "No available bins in binTable");
}

TEST_CASE("UTF-8 check accepts text and refuses broken sequences") {
  CHECK(isValidUtf8(""));
  CHECK(isValidUtf8("20GP"));
  CHECK(isValidUtf8("K\xc3\xbchl-40"));                // two-byte letter
  CHECK(isValidUtf8("\xe2\x82\xac\xf0\x9f\x93\xa6"));  // three- and four-byte characters
  CHECK_FALSE(isValidUtf8("\x80"));                    // lone continuation byte
  CHECK_FALSE(isValidUtf8("\xe2\x82"));                // cut short
  CHECK_FALSE(isValidUtf8("\xc0\xaf"));                // overlong slash
  CHECK_FALSE(isValidUtf8("\xed\xa0\x80"));            // surrogate
  CHECK_FALSE(isValidUtf8("\xf4\x90\x80\x80"));        // past U+10FFFF
}

TEST_CASE("fit pre-check looks at the first two available types only") {
  const BinType small = makeBinType(binRow("20GP", 590, 234, 230), 0);
  const BinType medium = makeBinType(binRow("40GP", 1203, 234, 230), 1);
  const BinType wide = makeBinType(binRow("FLAT", 1203, 400, 230), 2);

  SUBCASE("a long item fits along the length only") {
    CHECK_NOTHROW(checkItemsFit({makeItemSpec(itemRow(300, 100, 100), 0)}, {small}));
  }
  SUBCASE("an item longer than 234 is not turned to make it fit") {
    const ItemSpec item = makeItemSpec(itemRow(250, 300, 100), 0);
    CHECK(messageOf([&] { checkItemsFit({item}, {small}); }) ==
          "Item #7 (250x300x100) does not fit in any available bin type");
  }
  SUBCASE("a turnable item fits turned") {
    const ItemSpec item = makeItemSpec(itemRow(200, 300, 100), 0);
    CHECK_NOTHROW(checkItemsFit({item}, {small}));
  }
  SUBCASE("equality fits, weight plays no part") {
    CHECK_NOTHROW(checkItemsFit({makeItemSpec(itemRow(590, 234, 230, 1e9), 0)}, {small}));
  }
  SUBCASE("an item that only a later type holds is refused with the reason") {
    const ItemSpec item = makeItemSpec(itemRow(100, 80, 300), 0);
    BinType tall = wide;
    tall.h = 400;
    CHECK(messageOf([&] { checkItemsFit({item}, {small, medium, tall}); }) ==
          "Item #7 (100x80x300) fits only bin types after the first two available ('20GP', "
          "'40GP'); the search opens only those two");
    CHECK(messageOf([&] { checkItemsFit({item}, {small, medium, wide}); }) ==
          "Item #7 (100x80x300) does not fit in any available bin type");
  }
  SUBCASE("the first failing item is reported") {
    const std::vector<ItemSpec> items = {makeItemSpec(itemRow(10, 10, 10), 0),
                                         makeItemSpec(ItemRow{1, 700, 10, 10, 1, 0, true}, 1),
                                         makeItemSpec(ItemRow{2, 10, 10, 999, 1, 0, true}, 2)};
    CHECK(messageOf([&] { checkItemsFit(items, {small}); }) ==
          "Item #1 (700x10x10) does not fit in any available bin type");
  }
}

TEST_CASE("search arguments and total weight") {
  const std::vector<std::pair<std::pair<std::int32_t, double>, std::string>> cases = {
      {{0, 1.0}, "pop_size must be at least 1, got 0"},
      {{-5, NaN}, "pop_size must be at least 1, got -5"},
      {{429496731, 1.0}, "pop_size must be at most 429496730, got 429496731"},
      {{10, NaN}, "time_limit must not be NaN"},
      {{1, 1.0}, "<no error>"},
      {{429496730, -INF}, "<no error>"},
  };
  for (const auto& [arguments, message] : cases) {
    CAPTURE(message);
    CHECK(messageOf([&] { checkSearchArguments(arguments.first, arguments.second); }) == message);
  }

  std::vector<ItemSpec> items = {makeItemSpec(itemRow(1, 1, 1, 1.5), 0),
                                 makeItemSpec(itemRow(1, 1, 1, -0.5), 1)};
  CHECK(totalItemWeight(items) == 1.0);
  CHECK(itemFactoriesOf(items) == std::vector<std::int32_t>{0, 0});
  items[0].weight = 1.7e308;
  items[1].weight = 1.7e308;
  CHECK(messageOf([&] { totalItemWeight(items); }) == "Total item weight must be finite, got inf");
}
