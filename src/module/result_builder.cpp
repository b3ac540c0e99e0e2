#include "module/result_builder.hpp"

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

}  // namespace stowra
