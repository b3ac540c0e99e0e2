#include "module/check_plan.hpp"

#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "module/entry_point.hpp"
#include "module/table_reader.hpp"
#include "packing/left_out.hpp"
#include "packing/pickup_order.hpp"
#include "packing/plan_check.hpp"
#include "problem/fit_check.hpp"
#include "problem/search_defaults.hpp"

namespace py = pybind11;

namespace stowra {

namespace {

constexpr const char* CHECK_PLAN_DOC =
    "Check a loading plan against the rules the searches keep.\n"
    "\n"
    "Args:\n"
    "  input: dict with 'binTable' and 'itemTable' keys, as pack and optimize take it\n"
    "  result: the plan: a dict whose 'packingTable' lists the containers, each with\n"
    "    'binTypeIndex' (its type's row in binTable, counted from 0) or else 'binType' (the\n"
    "    first available type of that name, of the row's 'cost' when it gives one), and\n"
    "    'items': one {'itemIndex', 'x', 'y', 'z', 'rotation'} per placed item\n"
    "  balance_limit: 0.5 to 1, the most of a container's cargo weight either half of its\n"
    "    length may carry; 1 checks no balance\n"
    "  pickup_order: check that no item stands behind or below an item of an earlier factory\n"
    "  item_names: how messages name each item, by index (default 'item #<index>')\n"
    "\n"
    "Returns: one dict per breach, container by container: 'rule', 'container' (its position\n"
    "in packingTable, from 1), 'items' (item indices, the breaking one first), 'figure' and\n"
    "'message'. An empty list is a plan that keeps every rule.\n"
    "\n"
    "Raises:\n"
    "  ValueError: invalid input or a plan without the keys above\n";

py::dict asMapping(py::handle value, const std::string& context) {
  if (PyDict_Check(value.ptr())) return py::reinterpret_borrow<py::dict>(value);
  try {
    return py::dict(py::reinterpret_borrow<py::object>(value));
  } catch (py::error_already_set&) {
    throw std::invalid_argument(context + " is not a dict");
  }
}

// The type of one plan row, as an index among the available types; -1 for none of them.
std::int32_t typeOf(const py::dict& row, const Problem& problem, const std::string& context) {
  if (row.contains("binTypeIndex")) {
    const auto given = row["binTypeIndex"].cast<std::int64_t>();
    for (std::size_t index = 0; index < problem.binRows.size(); ++index) {
      if (static_cast<std::int64_t>(problem.binRows[index]) == given) {
        return static_cast<std::int32_t>(index);
      }
    }
    return -1;
  }
  requireKey(row, "binType", context);
  const std::string name = row["binType"].cast<std::string>();
  const bool costed = row.contains("cost");
  const double cost = costed ? row["cost"].cast<double>() : 0.0;
  std::int32_t named = -1;
  for (std::size_t index = 0; index < problem.binTypes.size(); ++index) {
    const BinType& type = problem.binTypes[index];
    if (type.id != name) continue;
    if (!costed || type.cost == cost) return static_cast<std::int32_t>(index);
    if (named < 0) named = static_cast<std::int32_t>(index);
  }
  return named;
}

std::vector<PackedBin> readPlan(const py::handle& result, const Problem& problem) {
  const py::dict plan = asMapping(result, "the result");
  requireKey(plan, "packingTable", "the result");
  std::vector<PackedBin> bins;
  std::size_t position = 0;
  for (py::handle entry : asTable(plan["packingTable"])) {
    const std::string context = "packingTable[" + std::to_string(position) + "]";
    const py::dict row = asMapping(entry, context);
    requireKey(row, "items", context);
    PackedBin bin;
    bin.id = static_cast<std::int32_t>(position + 1);
    bin.typeIndex = typeOf(row, problem, context);
    std::size_t placed = 0;
    for (py::handle item : asTable(row["items"])) {
      const std::string where = context + "['items'][" + std::to_string(placed) + "]";
      const py::dict values = asMapping(item, where);
      for (const char* key : {"itemIndex", "x", "y", "z", "rotation"}) {
        requireKey(values, key, where);
      }
      bin.placements.push_back({values["itemIndex"].cast<std::int32_t>(),
                                values["x"].cast<double>(), values["y"].cast<double>(),
                                values["z"].cast<double>(),
                                values["rotation"].cast<std::int32_t>()});
      ++placed;
    }
    bins.push_back(std::move(bin));
    ++position;
  }
  return bins;
}

py::list checkPlanFor(const py::dict& input, const py::handle& result, double balanceLimit,
                      bool pickupOrder, const std::optional<std::vector<std::string>>& itemNames) {
  return callMappingErrors([&]() -> py::list {
    const Problem problem = readTables(input);
    checkOptimizeArguments(0, 0.0, balanceLimit);
    const std::vector<PackedBin> plan = readPlan(result, problem);
    ItemNamer namer;
    if (itemNames) {
      if (itemNames->size() != problem.items.size()) {
        throw std::invalid_argument("item_names must give one name per itemTable row");
      }
      namer = [&](std::size_t index) { return (*itemNames)[index]; };
    }
    const auto breaches =
        checkPlan(problem.items, problem.binTypes, plan, {balanceLimit, pickupOrder}, namer);
    py::list found;
    for (const PlanBreach& breach : breaches) {
      py::dict entry;
      entry["rule"] = breach.rule;
      entry["container"] = breach.container;
      entry["items"] = py::cast(breach.items);
      entry["figure"] = breach.figure;
      entry["message"] = breach.message;
      found.append(std::move(entry));
    }
    return found;
  });
}

// Why each of the given items was left out of a plan that does not say, in their order; the
// plan's time is not known. With `exact`, the search opened only the types pack opens.
std::vector<std::string> leftOutReasons(const py::dict& input,
                                        const std::vector<std::int64_t>& indices, bool exact) {
  return callMappingErrors([&] {
    const Problem problem = readTables(input);
    std::vector<std::string> reasons;
    for (const std::int64_t index : indices) {
      if (index < 0 || static_cast<std::size_t>(index) >= problem.items.size()) {
        throw std::invalid_argument("item index " + std::to_string(index) +
                                    " is not a row of the item table");
      }
      reasons.push_back(leftOutReason(problem.items[static_cast<std::size_t>(index)],
                                      problem.binTypes, TimeLimit::UNKNOWN,
                                      exact ? PACK_BIN_TYPES : SIZE_MAX));
    }
    return reasons;
  });
}

// Whether some box stands behind or below a box of an earlier factory, for boxes given by their
// factories and their corners, six numbers a box (x0, y0, z0, x1, y1, z1): the pickup-order rule
// over a container read as it is, whatever else the checker finds wrong with it (an unknown
// type, an item placed twice).
bool factoriesMixed(const std::vector<std::int32_t>& factories,
                    const std::vector<double>& corners) {
  if (corners.size() != 6 * factories.size()) {
    throw std::invalid_argument("corners must give six numbers for each factory's box");
  }
  std::vector<Box> boxes;
  boxes.reserve(factories.size());
  for (std::size_t at = 0; at < corners.size(); at += 6) {
    boxes.push_back({corners[at], corners[at + 1], corners[at + 2], corners[at + 3],
                     corners[at + 4], corners[at + 5]});
  }
  const auto breaks = pickupOrderBreaks(boxes, factories);
  return std::any_of(breaks.begin(), breaks.end(),
                     [](const std::vector<std::size_t>& found) { return !found.empty(); });
}

}  // namespace

void registerCheckPlan(py::module_& module) {
  using namespace pybind11::literals;
  module.def("check_plan", &checkPlanFor, CHECK_PLAN_DOC, "input"_a, "result"_a, py::kw_only(),
             "balance_limit"_a = DEFAULT_BALANCE_LIMIT, "pickup_order"_a = DEFAULT_PICKUP_ORDER,
             "item_names"_a = py::none());
  module.def("_left_out_reasons", &leftOutReasons,
             "Why each given item was left out of a plan that does not say", "input"_a, "indices"_a,
             py::kw_only(), "exact"_a = false);
  module.def("_factories_mixed", &factoriesMixed,
             "Whether some box stands behind or below a box of an earlier factory", "factories"_a,
             "corners"_a);
}

}  // namespace stowra
