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

// pack's genetic search knows the first two available types only: its bin-type genes are 0 or
// 1, its default choice weighs type 0 against type 1, and an item must fit one of the two.
// Every rule of pack about which types it may open reads this; optimize opens them all.
inline constexpr std::size_t PACK_BIN_TYPES = 2;
inline constexpr const char* PACK_BIN_TYPES_WORD = "two";  // for messages: "the first two"

// What counts as a 20-foot container for pack's counts and its seed's genes: the names "20GP"
// and "20"; every other name counts as 40-foot.
inline bool isTwentyFootName(const std::string& name) {
  return name == "20GP" || name == "20";
}

}  // namespace stowra
