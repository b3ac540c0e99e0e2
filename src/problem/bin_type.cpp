#include "problem/bin_type.hpp"

#include <cmath>
#include <stdexcept>

namespace stowra {

namespace {

[[noreturn]] void failBin(std::size_t index, const std::string& name, const char* text) {
  throw std::invalid_argument("Bin #" + std::to_string(index) + " ('" + name + "'): " + text);
}

}  // namespace

bool isValidUtf8(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    std::size_t extra = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (i + extra >= size) return false;  // sequence cut short
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (bytes[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

BinType makeBinType(const BinRow& row, std::size_t index) {
  if (!isValidUtf8(row.id)) {
    throw std::invalid_argument("Bin #" + std::to_string(index) + ": id is not valid UTF-8");
  }
  // "Not greater than zero" so that NaN fails too.
  if (!(row.l > 0.0) || !(row.w > 0.0) || !(row.h > 0.0)) {
    failBin(index, row.id, "dimensions must be positive");
  }
  if (std::isinf(row.l) || std::isinf(row.w) || std::isinf(row.h)) {
    failBin(index, row.id, "dimensions must be finite");
  }
  const double volume = row.w * row.l * row.h;
  if (!(volume > 0.0) || std::isinf(volume)) {
    failBin(index, row.id, "volume must be positive and finite");
  }
  if (std::isnan(row.weight_limit)) failBin(index, row.id, "weight_limit must be a number");

  BinType type;
  type.id = row.id;
  type.l = row.l;
  type.w = row.w;
  type.h = row.h;
  type.cost = static_cast<double>(row.cost);
  type.weight_limit = row.weight_limit;
  type.available = true;
  return type;
}

void requireSomeBinType(const std::vector<BinType>& binTypes) {
  if (binTypes.empty()) throw std::invalid_argument("No available bins in binTable");
}

}  // namespace stowra
