#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

namespace stowra {

// Items longer than this are never turned sideways, whatever the containers.
inline constexpr double MAX_TURNABLE_LENGTH = 234.0;

// One item to load, from one itemTable row; items are named by their row position.
struct ItemSpec {
  std::int32_t id = 0;
  double l = 0.0;
  double w = 0.0;
  double h = 0.0;
  double volume = 0.0;  // w * l * h
  double weight = 0.0;
  std::int32_t factory = 0;
  bool stackable = true;
  // The most weight that may rest on the item; infinite for no limit.
  double maxLoad = std::numeric_limits<double>::infinity();
  std::vector<std::int32_t> allowedRotations;  // {0} or {0, 1}
};

// The values of one itemTable row once converted, before any check.
struct ItemRow {
  std::int32_t id = 0;
  double l = 0.0;
  double w = 0.0;
  double h = 0.0;
  double weight = 0.0;
  std::int32_t factory = 0;
  bool stackable = true;
  std::optional<double> maxLoad;  // none: no limit
};

// Fails with "Item #<index>: <field> must be positive, got <value>" unless value > 0.
void requirePositive(double value, std::string_view field, std::size_t index);

// Validates one converted row (row position `index`) and builds its record.
ItemSpec makeItemSpec(const ItemRow& row, std::size_t index);

// Entry i is the factory of item i.
std::vector<std::int32_t> itemFactoriesOf(const std::vector<ItemSpec>& items);

// Sum of all item weights in item order; fails when it overflows.
double totalItemWeight(const std::vector<ItemSpec>& items);

}  // namespace stowra
