#include "optimize/plan_balance.hpp"

#include <algorithm>

#include "optimize/column_order.hpp"
#include "optimize/item_orders.hpp"
#include "optimize/plan_improvement.hpp"
#include "packing/load_balance.hpp"

namespace stowra {

namespace {

// Loads tried get shorter by this share of the bin's length at a time.
constexpr double LENGTH_STEP = 0.05;

double loadFront(const PackedBin& bin, const std::vector<ItemSpec>& items) {
  double front = 0.0;
  for (const Placement& placement : bin.placements) {
    const ItemSpec& item = items[static_cast<std::size_t>(placement.itemIndex)];
    front = std::max(front, placement.x + extentsOf(item, placement.rotation).dx);
  }
  return front;
}

}  // namespace

void balanceBins(std::vector<PackedBin>& bins, WallPacker& packer,
                 const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                 double limit, const StopCheck& stop) {
  if (!(limit < 1.0)) return;
  for (PackedBin& bin : bins) {
    if (centreLoad(bin, items, limit)) continue;
    std::vector<std::int32_t> given;
    for (const Placement& placement : bin.placements) given.push_back(placement.itemIndex);
    std::vector<std::vector<std::int32_t>> orders;
    for (const ItemOrder& key : startingKeys()) orders.push_back(groupedOrder(items, given, key));
    orders.push_back(columnOrder(items, given, bin.height));
    const std::int32_t type = bin.typeIndex;
    double least = heavierHalfShare(bin, items);
    // A load kept short has room to move: loaded into ever shorter lengths of the bin, its
    // heavy end comes nearer the middle, and the load is then moved as a whole.
    std::vector<BinType> shortened = binTypes;
    WallPacker local(items, shortened, packer.typePreference());
    local.pickupOrder = packer.pickupOrder;
    bool balanced = false;
    bool fitted = true;
    for (double length = loadFront(bin, items); !balanced && fitted && length > 0;
         length -= LENGTH_STEP * bin.length) {
      shortened[static_cast<std::size_t>(type)].l = length;
      fitted = false;
      for (std::int32_t rule = 0; !balanced && rule < WALL_RULE_COUNT; ++rule) {
        local.rule = static_cast<WallRule>(rule);
        for (std::size_t k = 0; !balanced && k < orders.size(); ++k) {
          if (stop && stop()) return;
          auto loaded = local.packAllInto(orders[k], type, bin.id);
          if (!loaded) continue;
          fitted = true;
          loaded->length = bin.length;
          loaded->spaceUtilization = bin.spaceUtilization;  // the same items in the same bin
          loaded->freeSpaces.clear();
          balanced = centreLoad(*loaded, items, limit);
          const double share = heavierHalfShare(*loaded, items);
          if (balanced || share < least) {
            least = share;
            bin = std::move(*loaded);
          }
        }
      }
    }
  }
}

}  // namespace stowra
