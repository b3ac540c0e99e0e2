#include "problem/item.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "problem/number_format.hpp"

namespace stowra {

namespace {

[[noreturn]] void failItem(std::size_t index, std::string_view text) {
  throw std::invalid_argument("Item #" + std::to_string(index) + ": " + std::string(text));
}

void requirePositiveFinite(double value, std::string_view field, std::size_t index) {
  requirePositive(value, field, index);
  if (std::isinf(value)) {
    failItem(index, std::string(field) + " must be finite, got " + formatNumber(value));
  }
}

}  // namespace

void requirePositive(double value, std::string_view field, std::size_t index) {
  // Written as "not greater than zero" so that NaN fails too.
  if (!(value > 0.0)) {
    failItem(index, std::string(field) + " must be positive, got " + formatNumber(value));
  }
}

ItemSpec makeItemSpec(const ItemRow& row, std::size_t index) {
  requirePositiveFinite(row.l, "l", index);
  requirePositiveFinite(row.w, "w", index);
  requirePositiveFinite(row.h, "h", index);
  if (!std::isfinite(row.weight)) {
    failItem(index, "weight must be finite, got " + formatNumber(row.weight));
  }
  if (row.maxLoad && !(std::isfinite(*row.maxLoad) && *row.maxLoad >= 0.0)) {
    failItem(index,
             "max_load must be a finite number, 0 or more, got " + formatNumber(*row.maxLoad));
  }

  ItemSpec item;
  item.id = row.id;
  item.l = row.l;
  item.w = row.w;
  item.h = row.h;
  item.volume = row.w * row.l * row.h;
  item.weight = row.weight;
  item.factory = row.factory;
  item.stackable = row.stackable;
  if (row.maxLoad) item.maxLoad = *row.maxLoad;
  if (row.l > MAX_TURNABLE_LENGTH || row.l == row.w) {
    item.allowedRotations = {0};
  } else {
    item.allowedRotations = {0, 1};
  }
  return item;
}

std::vector<std::int32_t> itemFactoriesOf(const std::vector<ItemSpec>& items) {
  std::vector<std::int32_t> factories;
  factories.reserve(items.size());
  for (const ItemSpec& item : items) factories.push_back(item.factory);
  return factories;
}

double totalItemWeight(const std::vector<ItemSpec>& items) {
  double total = 0.0;
  for (const ItemSpec& item : items) total += item.weight;
  if (!std::isfinite(total)) {
    throw std::invalid_argument("Total item weight must be finite, got " + formatNumber(total));
  }
  return total;
}

}  // namespace stowra
