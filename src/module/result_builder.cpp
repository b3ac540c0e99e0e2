#include "module/result_builder.hpp"

#include "packing/left_out.hpp"
#include "packing/load_balance.hpp"

namespace py = pybind11;

namespace stowra {

namespace {

py::dict placementRow(const Placement& placement) {
  py::dict row;
  row["itemIndex"] = placement.itemIndex;
  row["x"] = placement.x;
  row["y"] = placement.y;
  row["z"] = placement.z;
  row["rotation"] = placement.rotation;
  return row;
}

py::dict binRow(const PackedBin& bin) {
  py::dict row;
  row["id"] = bin.id;
  row["binType"] = py::str(bin.binType);
  row["cost"] = bin.cost;
  row["spaceUtilization"] = bin.spaceUtilization;
  row["currentWeight"] = bin.currentWeight;
  row["centerOfGravity"] =
      py::make_tuple(bin.centerOfGravity.x, bin.centerOfGravity.y, bin.centerOfGravity.z);
  row["itemCount"] = static_cast<std::int64_t>(bin.placements.size());
  py::list items;
  for (const Placement& placement : bin.placements) items.append(placementRow(placement));
  row["items"] = std::move(items);
  return row;
}

}  // namespace

py::dict buildResult(const Individual& best, double elapsedSeconds) {
  py::list packingTable;
  for (const PackedBin& bin : best.bins) packingTable.append(binRow(bin));

  py::dict result;
  result["sum20"] = best.sum20;
  result["sum40"] = best.sum40;
  result["fitness"] = best.fitness;
  result["cost"] = best.cost;
  result["utilization"] = best.utilization;
  result["centerPenalty"] = best.centerPenalty;
  result["weightPenalty"] = best.weightPenalty;
  result["elapsedSeconds"] = elapsedSeconds;
  result["totalBins"] = static_cast<std::int64_t>(best.bins.size());
  result["packingTable"] = std::move(packingTable);
  return result;
}

void addOptimizeMarks(py::dict& result, const Individual& best, const std::vector<ItemSpec>& items,
                      const std::vector<BinType>& binTypes, const std::vector<std::size_t>& binRows,
                      double balanceLimit, bool timedOut) {
  // Rounding slack, as the report allows it.
  constexpr double SLACK = 1e-9;
  py::list rows = result["packingTable"];
  std::vector<bool> placed(items.size(), false);
  for (std::size_t index = 0; index < best.bins.size(); ++index) {
    const PackedBin& bin = best.bins[index];
    py::dict row = rows[index];
    row["binTypeIndex"] =
        static_cast<std::int64_t>(binRows[static_cast<std::size_t>(bin.typeIndex)]);
    double weight = 0.0;
    for (const Placement& placement : bin.placements) {
      placed[static_cast<std::size_t>(placement.itemIndex)] = true;
      weight += items[static_cast<std::size_t>(placement.itemIndex)].weight;
    }
    if (weight > 0) {
      const double share = heavierHalfShare(bin, items);
      row["balance"] = share;
      row["balanceKept"] = share <= balanceLimit + SLACK;
    } else {
      row["balance"] = py::none();
      row["balanceKept"] = true;
    }
  }
  py::list leftOut;
  for (std::size_t index = 0; index < items.size(); ++index) {
    if (placed[index]) continue;
    py::dict entry;
    entry["itemIndex"] = static_cast<std::int64_t>(index);
    entry["reason"] =
        leftOutReason(items[index], binTypes, timedOut ? TimeLimit::RAN_OUT : TimeLimit::KEPT);
    leftOut.append(std::move(entry));
  }
  result["leftOut"] = std::move(leftOut);
}

}  // namespace stowra
