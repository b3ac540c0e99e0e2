#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stowra {

// One available container type, from one binTable row; types are named by their position
// among the available rows.
struct BinType {
  std::string id;  // name such as "20GP"
  double l = 0.0;
  double w = 0.0;
  double h = 0.0;
  double cost = 0.0;
  double weight_limit = 0.0;  // <= 0 means no limit
  bool available = true;
};

// The values of one available binTable row once converted, before any check.
struct BinRow {
  std::string id;
  double l = 0.0;
  double w = 0.0;
  double h = 0.0;
  std::int32_t cost = 0;
  double weight_limit = 0.0;
};

// Validates one converted row (`index` counts all rows, unavailable ones too).
BinType makeBinType(const BinRow& row, std::size_t index);

// Fails with "No available bins in binTable" when no row was available.
void requireSomeBinType(const std::vector<BinType>& binTypes);

bool isValidUtf8(const std::string& text);

}  // namespace stowra
