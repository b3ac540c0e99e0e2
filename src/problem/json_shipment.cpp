#include "problem/json_shipment.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_set>

namespace stowra {

namespace {

// How each column's value is checked and converted, as the file readers do it.
enum class Rule : std::uint8_t { ItemId, Text, Real, OptionalReal, Whole, Flag, Count };

constexpr Rule ITEM_RULES[] = {Rule::ItemId, Rule::Real, Rule::Real,  Rule::Real,        Rule::Real,
                               Rule::Whole,  Rule::Flag, Rule::Count, Rule::OptionalReal};
constexpr Rule BIN_RULES[] = {Rule::Text,  Rule::Real, Rule::Real, Rule::Real,
                              Rule::Whole, Rule::Real, Rule::Flag};
constexpr std::uint8_t BIN_COST = 4;

constexpr std::int64_t INT32_LOW = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t INT32_HIGH = std::numeric_limits<std::int32_t>::max();
// Whole numbers a double holds exactly; larger ones are left to the careful reader.
constexpr std::int64_t DOUBLE_EXACT = std::int64_t{1} << 53;
constexpr std::size_t MAX_ID_LENGTH = 64;
// Digits of a whole number read here; a longer one is only ever skipped (under an unknown key).
constexpr int WHOLE_DIGITS = 18;

enum class Kind : std::uint8_t { Null, False, True, Whole, Real, Number, Text, Nested };

// One scalar as written: Number is a valid number this reader does not convert (too long, or
// out of a double's range), which only an unknown key may hold.
struct Scalar {
  Kind kind = Kind::Null;
  std::int64_t whole = 0;
  double real = 0;
  std::string_view text;
};

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// A byte a string holds as it is: printable ASCII other than a quote or a backslash.
bool plainByte(char c) {
  return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
}

// Eight bytes are looked at at once where a text's runs of spaces and plain string bytes are
// skipped: a mask holds the top bit of each byte that matches.
constexpr std::uint64_t ONES = 0x0101010101010101u;
constexpr std::uint64_t HIGH = 0x8080808080808080u;

// The eight bytes at `at`, the first one lowest, whatever the machine's byte order.
std::uint64_t eightBytes(const char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    std::uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) swapped |= ((word >> (8 * i)) & 0xFF) << (8 * (7 - i));
    word = swapped;
  }
  return word;
}

// Bytes equal to `c` (exact: no carry crosses into the next byte).
std::uint64_t bytesEqual(std::uint64_t word, char c) {
  const std::uint64_t x = word ^ (ONES * static_cast<unsigned char>(c));
  return ~(((x & ~HIGH) + ~HIGH) | x) & HIGH;
}

// Bytes below 0x20 or from 0x80 up: control characters and UTF-8 sequences.
std::uint64_t bytesOutsideAscii(std::uint64_t word) {
  return (word | ~((word & ~HIGH) + ONES * 0x60)) & HIGH;
}

// A table's column names by length, for a key lookup that compares one or two names at most.
class ColumnIndex {
 public:
  explicit ColumnIndex(const std::vector<std::string_view>& columns) : columns_(columns) {
    for (std::size_t column = 0; column < columns.size(); ++column) {
      const std::size_t length = columns[column].size();
      if (length < byLength_.size()) byLength_[length] |= 1u << column;
      // The name and its closing quote as two words of text, with the bytes they cover.
      char bytes[16] = {};
      std::uint64_t covered[2] = {};
      if (length == 0 || length >= sizeof bytes) continue;
      std::memcpy(bytes, columns[column].data(), length);
      bytes[length] = '"';
      for (std::size_t i = 0; i <= length; ++i)
        covered[i / 8] |= std::uint64_t{0xFF} << (8 * (i % 8));
      Quoted& name = quoted_[column];
      name.low = eightBytes(bytes);
      name.high = eightBytes(bytes + 8);
      name.lowMask = covered[0];
      name.highMask = covered[1];
      byFirst_[static_cast<unsigned char>(bytes[0])] |= 1u << column;
    }
  }

  // The column named by the key whose text starts at `at` (after its opening quote) when that
  // text is a column's name and the closing quote as they stand, with 16 bytes to look at; the
  // number of columns otherwise (the key is then read as any string). Most keys are found so,
  // without a string read and a lookup.
  std::size_t match(const char* at, std::size_t& length) const {
    const std::uint64_t low = eightBytes(at), high = eightBytes(at + 8);
    for (std::uint32_t left = byFirst_[static_cast<unsigned char>(*at)]; left != 0;
         left &= left - 1) {
      const auto column = static_cast<std::size_t>(std::countr_zero(left));
      const Quoted& name = quoted_[column];
      if ((low & name.lowMask) == name.low && (high & name.highMask) == name.high) {
        length = columns_[column].size() + 1;
        return column;
      }
    }
    return columns_.size();
  }

  // The column `key` names, or the number of columns.
  std::size_t find(std::string_view key) const {
    if (key.empty() || key.size() >= byLength_.size()) return columns_.size();
    for (std::uint32_t left = byLength_[key.size()]; left != 0; left &= left - 1) {
      const auto column = static_cast<std::size_t>(std::countr_zero(left));
      const std::string_view name = columns_[column];
      if (name[0] == key[0] && std::memcmp(name.data(), key.data(), key.size()) == 0) return column;
    }
    return columns_.size();
  }

 private:
  struct Quoted {
    std::uint64_t low = 0, high = 0, lowMask = 0, highMask = 0;
  };
  const std::vector<std::string_view>& columns_;
  std::array<std::uint32_t, 16> byLength_{};
  std::array<std::uint32_t, 256> byFirst_{};
  std::array<Quoted, 32> quoted_{};
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The bytes between a row's members as the row before had them at the same place: the comma,
// line break, indentation, key and colon before a value. Rows of a table are mostly written
// alike, so a row's text that repeats them is a member read in one comparison: the same bytes
// in the same place in a row read as they did before, to the same column and line count.
struct Lead {
  std::uint64_t low = 0, high = 0, lowMask = 0, highMask = 0;
  std::uint32_t length = 0;  // 0: nothing remembered (or too long to)
  std::uint32_t newlines = 0;
  std::uint8_t column = 0;

  void remember(std::string_view bytes, std::uint8_t to) {
    length = 0;
    if (bytes.empty() || bytes.size() > 16) return;
    char padded[16] = {};
    std::memcpy(padded, bytes.data(), bytes.size());
    std::uint64_t covered[2] = {};
    newlines = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      covered[i / 8] |= std::uint64_t{0xFF} << (8 * (i % 8));
      newlines += bytes[i] == '\n';
    }
    low = eightBytes(padded);
    high = eightBytes(padded + 8);
    lowMask = covered[0];
    highMask = covered[1];
    column = to;
    length = static_cast<std::uint32_t>(bytes.size());
  }

  // Whether the 16 bytes at `at` start with the remembered ones.
  bool matches(const char* at) const {
    return (eightBytes(at) & lowMask) == low && (eightBytes(at + 8) & highMask) == high;
  }
};

class Reader {
 public:
  Reader(std::string_view text, ShipmentRowSink& sink, std::string* declined)
      : text_(text), sink_(sink), declined_(declined) {}

  std::optional<JsonShipmentOutline> read() {
    if (text_.size() > MAX_JSON_SHIPMENT_BYTES) return decline("larger than the reader takes");
    if (!document()) return std::nullopt;
    return std::move(outline_);
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::uint32_t line_ = 1;
  ShipmentRowSink& sink_;
  std::string* declined_;
  JsonShipmentOutline outline_;
  // The row being read: its cells and their texts, handed to the sink when it ends.
  std::vector<ShipmentCell> cells_;
  std::string texts_;
  std::string keyScratch_, valueScratch_;
  std::unordered_set<std::string> binIds_;

  std::nullopt_t decline(const char* why) {
    if (declined_ != nullptr) *declined_ = why;
    return std::nullopt;
  }
  bool refuse(const char* why) {
    decline(why);
    return false;
  }

  void space() {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c > ' ') return;
      if (c == '\n') {
        ++line_;
        ++at_;
        // The next line's indentation, up to eight spaces at once.
        if (at_ + 8 <= text_.size()) {
          const std::uint64_t stop = ~bytesEqual(eightBytes(text_.data() + at_), ' ') & HIGH;
          at_ += stop == 0 ? 8 : static_cast<std::size_t>(std::countr_zero(stop)) / 8;
        }
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++at_;
      } else {
        return;
      }
    }
  }

  bool next(char expected) { return at_ < text_.size() && text_[at_] == expected; }

  // The string starting at the opening quote; escapes are decoded into `scratch`.
  bool string(std::string_view& out, std::string& scratch) {
    const std::size_t start = ++at_;
    bool escaped = false;
    while (true) {
      if (!escaped) {
        while (at_ + 8 <= text_.size()) {
          const std::uint64_t word = eightBytes(text_.data() + at_);
          const std::uint64_t stop =
              bytesEqual(word, '"') | bytesEqual(word, '\\') | bytesOutsideAscii(word);
          if (stop != 0) {
            at_ += static_cast<std::size_t>(std::countr_zero(stop)) / 8;
            break;
          }
          at_ += 8;
        }
        while (at_ < text_.size() && plainByte(text_[at_])) ++at_;
      }
      if (at_ >= text_.size()) return refuse("an unterminated string");
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') break;
      if (c < 0x20) return refuse("a control character in a string");
      if (c == '\\') {
        if (!escaped) scratch.assign(text_.data() + start, at_ - start);
        escaped = true;
        if (!escape(scratch)) return false;
        continue;
      }
      const std::size_t from = at_;
      if (c < 0x80) {
        ++at_;
      } else if (!utf8()) {
        return refuse("a string that is not UTF-8");
      }
      if (escaped) scratch.append(text_.data() + from, at_ - from);
    }
    out = escaped ? std::string_view(scratch) : text_.substr(start, at_ - start);
    ++at_;
    return true;
  }

  // One multi-byte UTF-8 sequence at at_, checked and stepped over: no overlong forms, no
  // surrogates, nothing past U+10FFFF.
  bool utf8() {
    const auto byte = [&](std::size_t offset) {
      return at_ + offset < text_.size() ? static_cast<unsigned char>(text_[at_ + offset]) : 0u;
    };
    const unsigned lead = byte(0);
    unsigned low = 0x80, high = 0xBF;
    std::size_t length;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    const unsigned second = byte(1);
    if (second < low || second > high) return false;
    for (std::size_t offset = 2; offset < length; ++offset) {
      if ((byte(offset) & 0xC0) != 0x80) return false;
    }
    at_ += length;
    return true;
  }

  bool hex4(std::uint32_t& code) {
    if (at_ + 4 > text_.size()) return false;
    code = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const int digit = hexValue(text_[at_ + i]);
      if (digit < 0) return false;
      code = code * 16 + static_cast<std::uint32_t>(digit);
    }
    at_ += 4;
    return true;
  }

  bool escape(std::string& out) {
    ++at_;  // the backslash
    if (at_ >= text_.size()) return refuse("an unterminated string");
    const char c = text_[at_++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out.push_back(c);
        return true;
      case 'b':
        out.push_back('\b');
        return true;
      case 'f':
        out.push_back('\f');
        return true;
      case 'n':
        out.push_back('\n');
        return true;
      case 'r':
        out.push_back('\r');
        return true;
      case 't':
        out.push_back('\t');
        return true;
      case 'u':
        break;
      default:
        return refuse("an unknown escape");
    }
    std::uint32_t code;
    if (!hex4(code)) return refuse("a bad \\u escape");
    if (code >= 0xDC00 && code <= 0xDFFF) return refuse("a lone surrogate");
    if (code >= 0xD800 && code <= 0xDBFF) {
      std::uint32_t low;
      if (!(next('\\') && at_ + 1 < text_.size() && text_[at_ + 1] == 'u')) {
        return refuse("a lone surrogate");
      }
      at_ += 2;
      if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return refuse("a lone surrogate");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUtf8(out, code);
    return true;
  }

  bool word(std::string_view expected) {
    if (text_.substr(at_, expected.size()) != expected) return refuse("not JSON");
    at_ += expected.size();
    return true;
  }

  bool number(Scalar& out) {
    const std::size_t start = at_;
    if (next('-')) ++at_;
    // The digits before any point, added up on the way (a plain whole number needs no more).
    std::uint64_t whole = 0;  // wraps past 19 digits, which are never used so
    const std::size_t digitsFrom = at_;
    if (next('0')) {
      ++at_;
    } else if (at_ < text_.size() && text_[at_] >= '1' && text_[at_] <= '9') {
      while (at_ < text_.size() && isDigit(text_[at_])) {
        whole = whole * 10 + static_cast<std::uint64_t>(text_[at_] - '0');
        ++at_;
      }
    } else {
      return refuse("not JSON");
    }
    const bool negative = text_[start] == '-';
    if (!(next('.') || next('e') || next('E'))) {
      if (at_ - digitsFrom > WHOLE_DIGITS) {
        out.kind = Kind::Number;
        return true;
      }
      out.kind = Kind::Whole;
      out.whole = negative ? -static_cast<std::int64_t>(whole) : static_cast<std::int64_t>(whole);
      return true;
    }
    if (next('.')) {
      ++at_;
      if (!(at_ < text_.size() && isDigit(text_[at_]))) return refuse("a number without digits");
      while (at_ < text_.size() && isDigit(text_[at_])) ++at_;
    }
    if (next('e') || next('E')) {
      ++at_;
      if (next('+') || next('-')) ++at_;
      if (!(at_ < text_.size() && isDigit(text_[at_]))) return refuse("a number without digits");
      while (at_ < text_.size() && isDigit(text_[at_])) ++at_;
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + at_;
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    out.kind =
        (error == std::errc() && end == last && std::isfinite(value)) ? Kind::Real : Kind::Number;
    out.real = value;
    return true;
  }

  // A value that nests nothing; an object or a list is reported as Nested, not read.
  bool scalar(Scalar& out, std::string& scratch) {
    if (at_ >= text_.size()) return refuse("the text ends early");
    switch (text_[at_]) {
      case '"':
        out.kind = Kind::Text;
        return string(out.text, scratch);
      case '{':
      case '[':
        out.kind = Kind::Nested;
        return true;
      case 't':
        out.kind = Kind::True;
        return word("true");
      case 'f':
        out.kind = Kind::False;
        return word("false");
      case 'n':
        out.kind = Kind::Null;
        return word("null");
      default:
        return number(out);
    }
  }

  // After a member or an element: true and on the next one after a comma, false at the end.
  bool more(char close, bool& done) {
    if (at_ < text_.size() && text_[at_] <= ' ') space();
    if (next(',')) {
      ++at_;
      space();
      done = false;
      return true;
    }
    if (next(close)) {
      ++at_;
      done = true;
      return true;
    }
    return refuse("not JSON");
  }

  bool document() {
    space();
    if (!next('{')) return refuse("not an object");
    ++at_;
    space();
    std::unordered_set<std::string> seen;
    bool done = next('}');
    if (done) ++at_;
    while (!done) {
      if (!next('"')) return refuse("not JSON");
      std::string_view key;
      if (!string(key, keyScratch_)) return false;
      if (!seen.emplace(key).second) return refuse("a key given twice");
      space();
      if (!next(':')) return refuse("not JSON");
      ++at_;
      space();
      if (key == "itemTable" || key == "binTable") {
        const bool items = key == "itemTable";
        if (!next('[')) return refuse("a table that is not a list");
        if (!table(items)) return false;
      } else if (key == "items" || key == "containers") {
        return refuse("a table named as a CSV file");
      } else {
        std::string name(key);
        Scalar value;
        if (!scalar(value, valueScratch_)) return false;
        if (value.kind == Kind::Nested) return refuse("a nested value beside the tables");
        outline_.extraKeys.push_back(std::move(name));
      }
      if (!more('}', done)) return false;
    }
    space();
    if (at_ != text_.size()) return refuse("text after the object");
    if (!outline_.itemsGiven) return refuse("no item table");
    return true;
  }

  bool table(bool items) {
    (items ? outline_.itemsGiven : outline_.binsGiven) = true;
    std::vector<std::string>& unknownKeys =
        items ? outline_.itemUnknownKeys : outline_.binUnknownKeys;
    const std::vector<std::string_view>& columns = items ? itemColumns() : binColumns();
    static const ColumnIndex itemIndex(itemColumns()), binIndex(binColumns());
    const ColumnIndex& index = items ? itemIndex : binIndex;
    std::unordered_set<std::string> unknown;
    std::array<Lead, 16> leads;  // by a member's place in its row
    ++at_;
    space();
    bool done = next(']');
    if (done) ++at_;
    while (!done) {
      if (!next('{')) return refuse("a row that is not an object");
      ShipmentRow row;
      row.line = line_;
      cells_.clear();
      texts_.clear();
      std::uint32_t given = 0;  // columns seen in this row, one bit each
      ++at_;
      for (std::size_t member = 0;; ++member) {
        // From the end of the row's brace or of the value before to the start of this value.
        const std::size_t from = at_;
        std::size_t column = columns.size();
        Lead* lead = member < leads.size() ? &leads[member] : nullptr;
        if (lead != nullptr && lead->length != 0 && at_ + 16 <= text_.size() &&
            lead->matches(text_.data() + at_)) {
          at_ += lead->length;
          line_ += lead->newlines;
          column = lead->column;
          if (given & (1u << column)) return refuse("a column given twice in a row");
          space();  // more than the remembered bytes had
        } else {
          space();
          if (member > 0 && next(',')) {
            ++at_;
            space();
          } else if (next('}')) {
            ++at_;
            break;
          } else if (member > 0) {
            return refuse("not JSON");
          }
          if (!next('"')) return refuse("not JSON");
          std::string_view key;
          std::size_t length = 0;
          if (at_ + 17 <= text_.size()) column = index.match(text_.data() + at_ + 1, length);
          if (column < columns.size()) {
            at_ += 1 + length;
          } else {
            if (!string(key, keyScratch_)) return false;
            column = index.find(key);
          }
          if (column == columns.size()) {
            if (!items && key == "quantity") return refuse("a container row with a quantity");
            if (!unknown.count(std::string(key))) {
              unknown.emplace(key);
              unknownKeys.emplace_back(key);
            }
          } else if (given & (1u << column)) {
            return refuse("a column given twice in a row");
          }
          space();
          if (!next(':')) return refuse("not JSON");
          ++at_;
          space();
          if (lead != nullptr && column < columns.size()) {
            lead->remember(text_.substr(from, at_ - from), static_cast<std::uint8_t>(column));
          }
        }
        if (column < columns.size()) {
          given |= 1u << column;
          const Rule rule = items ? ITEM_RULES[column] : BIN_RULES[column];
          if (!quickCell(static_cast<std::uint8_t>(column), rule, row)) {
            Scalar value;
            if (!scalar(value, valueScratch_)) return false;
            if (value.kind == Kind::Nested) return refuse("a nested value in a row");
            if (!cell(static_cast<std::uint8_t>(column), rule, value, row)) return false;
          }
        } else {
          Scalar value;
          if (!scalar(value, valueScratch_)) return false;
          if (value.kind == Kind::Nested) return refuse("a nested value in a row");
        }
      }
      row.cellCount = static_cast<std::uint32_t>(cells_.size());
      if (items) {
        outline_.itemCount += row.quantity;
        if (outline_.itemCount > MAX_SHIPMENT_ITEMS) return refuse("too many items");
      } else if (!containerRow()) {
        return false;
      }
      if (!sink_.row(items, row, cells_, texts_)) return refuse("stopped by the caller");
      if (!more(']', done)) return false;
    }
    return true;
  }

  bool containerRow() {
    for (const ShipmentCell& found : cells_) {
      if (found.column == BIN_COST && found.whole < 0) return refuse("a negative cost");
      if (found.column == 0) {
        std::string id = texts_.substr(found.textStart, found.textLength);
        if (!binIds_.insert(std::move(id)).second) return refuse("a container id given twice");
      }
    }
    return true;
  }

  bool realCell(ShipmentCell& out, const Scalar& value) {
    out.kind = CellKind::Real;
    if (value.kind == Kind::Real) {
      out.real = value.real;
    } else if (value.kind == Kind::Whole && value.whole >= -DOUBLE_EXACT &&
               value.whole <= DOUBLE_EXACT) {
      out.real = static_cast<double>(value.whole);
    } else {
      return refuse("a number column holding something else");
    }
    return true;
  }

  void textCell(ShipmentCell& out, std::string_view text) {
    out.kind = CellKind::Text;
    out.textStart = static_cast<std::uint32_t>(texts_.size());
    out.textLength = static_cast<std::uint32_t>(text.size());
    texts_.append(text);
  }

  // An item id: a whole number in 32 bits, or text of printable ASCII (other text is left to
  // the careful reader), trimmed; text that is such a number becomes the number.
  bool itemId(ShipmentCell& out, const Scalar& value) {
    if (value.kind == Kind::Whole && value.whole >= INT32_LOW && value.whole <= INT32_HIGH) {
      out.kind = CellKind::Whole;
      out.whole = value.whole;
      return true;
    }
    if (value.kind != Kind::Text) return refuse("an item id that is not a number or text");
    std::string_view text = value.text;
    for (const char c : text) {
      if (c < 0x20 || c > 0x7E) return refuse("an item id beyond printable ASCII");
    }
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty() || text.size() > MAX_ID_LENGTH) return refuse("an empty or long item id");
    std::string_view digits = text;
    if (digits.front() == '+' || digits.front() == '-') digits.remove_prefix(1);
    bool plain = text.size() <= 11 && !digits.empty();
    for (const char c : digits) plain = plain && isDigit(c);
    if (plain) {
      std::int64_t number = 0;
      for (const char c : digits) number = number * 10 + (c - '0');
      if (text.front() == '-') number = -number;
      if (number >= INT32_LOW && number <= INT32_HIGH) {
        out.kind = CellKind::Whole;
        out.whole = number;
        return true;
      }
    }
    textCell(out, text);
    return true;
  }

  // The value at at_ stored as `cell` would store it, when it is a plain whole number or a
  // flag its column takes as it stands: most cells of most tables, read here without the steps
  // a value in general needs. False, with nothing read, for anything else (including what a
  // column refuses), which the general steps then read and word.
  bool quickCell(std::uint8_t column, Rule rule, ShipmentRow& row) {
    const char* const end = text_.data() + text_.size();
    const char* p = text_.data() + at_;
    ShipmentCell out;
    out.column = column;
    if (rule == Rule::Flag) {
      // As `word` reads them: what follows is for the caller to judge.
      if (end - p >= 4 && std::memcmp(p, "true", 4) == 0) {
        out.flag = true;
        p += 4;
      } else if (end - p >= 5 && std::memcmp(p, "false", 5) == 0) {
        p += 5;
      } else {
        return false;
      }
      out.kind = CellKind::Flag;
    } else {
      // At most 15 digits (no leading zero) and a byte after them that ends the number.
      const bool negative = p < end && *p == '-';
      const char* digits = negative ? p + 1 : p;
      std::int64_t value = 0;
      const char* q = digits;
      const char* last = end - digits > 16 ? digits + 16 : end;
      while (q < last && isDigit(*q)) value = value * 10 + (*q++ - '0');
      const std::ptrdiff_t count = q - digits;
      if (count == 0 || count > 15 || (*digits == '0' && count > 1)) return false;
      if (q == end || *q == '.' || *q == 'e' || *q == 'E') return false;
      if (negative) value = -value;
      p = q;
      switch (rule) {
        case Rule::Real:
          out.real = static_cast<double>(value);
          break;
        case Rule::OptionalReal:
          if (value < 0) return false;
          out.real = static_cast<double>(value);
          break;
        case Rule::ItemId:
        case Rule::Whole:
          if (value < INT32_LOW || value > INT32_HIGH) return false;
          out.kind = CellKind::Whole;
          out.whole = value;
          break;
        case Rule::Count:
          if (value < 0 || value > MAX_SHIPMENT_ITEMS) return false;
          row.quantity = value;
          at_ = static_cast<std::size_t>(p - text_.data());
          return true;  // a count, not a column of the item
        default:
          return false;
      }
    }
    at_ = static_cast<std::size_t>(p - text_.data());
    cells_.push_back(out);
    return true;
  }

  bool cell(std::uint8_t column, Rule rule, const Scalar& value, ShipmentRow& row) {
    ShipmentCell out;
    out.column = column;
    switch (rule) {
      case Rule::ItemId:
        if (!itemId(out, value)) return false;
        break;
      case Rule::Text:
        if (value.kind != Kind::Text) return refuse("a text column holding something else");
        textCell(out, value.text);
        break;
      case Rule::OptionalReal:
        if (value.kind == Kind::Null) return true;  // no limit: the column is left out
        if (!realCell(out, value)) return false;
        if (out.real < 0) return refuse("a negative load limit");
        break;
      case Rule::Real:
        if (!realCell(out, value)) return false;
        break;
      case Rule::Whole:
        if (value.kind != Kind::Whole || value.whole < INT32_LOW || value.whole > INT32_HIGH) {
          return refuse("a whole-number column holding something else");
        }
        out.kind = CellKind::Whole;
        out.whole = value.whole;
        break;
      case Rule::Flag:
        if (value.kind != Kind::True && value.kind != Kind::False) {
          return refuse("a true-or-false column holding something else");
        }
        out.kind = CellKind::Flag;
        out.flag = value.kind == Kind::True;
        break;
      case Rule::Count:
        if (value.kind != Kind::Whole || value.whole < 0 || value.whole > MAX_SHIPMENT_ITEMS) {
          return refuse("a quantity that is not a whole number of items");
        }
        row.quantity = value.whole;
        return true;  // a count, not a column of the item
    }
    cells_.push_back(out);
    return true;
  }
};

}  // namespace

const std::vector<std::string_view>& itemColumns() {
  static const std::vector<std::string_view> columns = {
      "id", "l", "w", "h", "weight", "factory", "stackable", "quantity", "max_load"};
  return columns;
}

const std::vector<std::string_view>& binColumns() {
  static const std::vector<std::string_view> columns = {
      "id", "l", "w", "h", "cost", "weight_limit", "available"};
  return columns;
}

std::optional<JsonShipmentOutline> readJsonShipmentRows(std::string_view text,
                                                        ShipmentRowSink& sink,
                                                        std::string* declined) {
  return Reader(text, sink, declined).read();
}

std::uint32_t appendRowCells(std::span<const ShipmentCell> rowCells, std::string_view rowTexts,
                             std::vector<ShipmentCell>& cells, std::string& texts) {
  const auto first = static_cast<std::uint32_t>(cells.size());
  cells.insert(cells.end(), rowCells.begin(), rowCells.end());
  if (!rowTexts.empty()) {
    const auto textsBefore = static_cast<std::uint32_t>(texts.size());
    for (std::size_t i = first; i < cells.size(); ++i) {
      if (cells[i].kind == CellKind::Text) cells[i].textStart += textsBefore;
    }
    texts.append(rowTexts);
  }
  return first;
}

namespace {

// Keeps every row, its cells and texts appended to the shipment's.
class KeptRows final : public ShipmentRowSink {
 public:
  JsonShipment shipment;

  bool row(bool items, const ShipmentRow& row, std::span<const ShipmentCell> cells,
           std::string_view texts) override {
    ShipmentRow kept = row;
    kept.firstCell = appendRowCells(cells, texts, shipment.cells, shipment.texts);
    (items ? shipment.items : shipment.bins).rows.push_back(kept);
    return true;
  }
};

}  // namespace

std::optional<JsonShipment> readJsonShipment(std::string_view text, std::string* declined) {
  KeptRows kept;
  std::optional<JsonShipmentOutline> outline = readJsonShipmentRows(text, kept, declined);
  if (!outline) return std::nullopt;
  JsonShipment& read = kept.shipment;
  read.items.given = outline->itemsGiven;
  read.bins.given = outline->binsGiven;
  read.items.unknownKeys = std::move(outline->itemUnknownKeys);
  read.bins.unknownKeys = std::move(outline->binUnknownKeys);
  read.extraKeys = std::move(outline->extraKeys);
  read.itemCount = outline->itemCount;
  return std::move(read);
}

}  // namespace stowra
