#include "optimize/corner_loading.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "packing/load_limits.hpp"
#include "packing/pickup_order.hpp"

namespace stowra {

namespace {

double overlapLength(double a0, double a1, double b0, double b1) {
  return std::max(0.0, std::min(a1, b1) - std::max(a0, b0));
}

bool within(double value, double lo, double hi) {
  return value >= lo - TOUCH && value < hi - TOUCH;
}

// The coordinates a rule compares, in its order.
std::array<double, 3> keyOf(WallRule rule, const Point3& at) {
  switch (rule) {
    case WallRule::BACK_SIDE_BOTTOM:
      return {at.x, at.y, at.z};
    case WallRule::FLOOR_FIRST:
      return {at.z, at.x, at.y};
    case WallRule::BACK_BOTTOM_SIDE:
      break;
  }
  return {at.x, at.z, at.y};
}

class CornerLoader {
 public:
  CornerLoader(PackedBin& bin, const std::vector<ItemSpec>& items) : bin_(bin), items_(items) {
    corners_.push_back({0.0, 0.0, 0.0});
  }

  bool place(std::int32_t index, WallRule rule, bool pickupOrder, bool limitedLoads) {
    const ItemSpec& item = items_[static_cast<std::size_t>(index)];
    if (bin_.weightLimit > 0 && !(bin_.weightLimit >= item.weight + bin_.currentWeight)) {
      return false;
    }
    // Nothing has changed since a box like it found no corner: neither does it.
    if (std::any_of(misfits_.begin(), misfits_.end(),
                    [&](const ItemSpec* misfit) { return alike(*misfit, item); })) {
      return false;
    }
    const bool mixed =
        pickupOrder && std::any_of(bin_.placements.begin(), bin_.placements.end(),
                                   [&](const Placement& placement) {
                                     return itemOf(placement).factory != item.factory;
                                   });
    std::optional<PickupGuard> pickup;
    if (mixed) pickup.emplace(bin_, items_, item.factory);
    if (limitedLoads && !loadsKnown_) {
      loads_.update(bin_, items_);
      loadsKnown_ = true;
    }
    std::optional<Placement> best;
    std::array<double, 3> bestKey{};
    for (const std::int32_t rotation : item.allowedRotations) {
      // A square base looks the same turned.
      if (rotation != item.allowedRotations.front() && item.l == item.w) continue;
      const ItemExtents size = extentsOf(item, rotation);
      for (const Point3& at : corners_) {
        const std::array<double, 3> key = keyOf(rule, at);
        if (best && !(key < bestKey)) continue;
        const Box box{at.x, at.y, at.z, at.x + size.dx, at.y + size.dy, at.z + size.h};
        if (!fits(box)) continue;
        if (pickup && !pickup->allows(box)) continue;
        if (limitedLoads && box.z0 > TOUCH && !loads_.allows(box, item.weight)) continue;
        best = Placement{index, at.x, at.y, at.z, rotation};
        bestKey = key;
      }
    }
    if (!best) {
      misfits_.push_back(&item);
      return false;
    }
    misfits_.clear();
    bin_.placements.push_back(*best);
    bin_.currentWeight += item.weight;
    bin_.spaceUtilization += item.volume / (bin_.width * bin_.length * bin_.height);
    addBox(boxOf(*best, item), item.stackable);
    loadsKnown_ = false;
    return true;
  }

 private:
  const ItemSpec& itemOf(const Placement& placement) const {
    return items_[static_cast<std::size_t>(placement.itemIndex)];
  }

  // Alike in all that decides where a box may go.
  static bool alike(const ItemSpec& a, const ItemSpec& b) {
    return a.l == b.l && a.w == b.w && a.h == b.h && a.weight == b.weight &&
           a.factory == b.factory && a.allowedRotations == b.allowedRotations;
  }

  // Inside the container, clear of every box, and on the floor or carried whole.
  bool fits(const Box& box) const {
    if (box.x1 > bin_.length + TOUCH || box.y1 > bin_.width + TOUCH ||
        box.z1 > bin_.height + TOUCH) {
      return false;
    }
    const double base = (box.x1 - box.x0) * (box.y1 - box.y0);
    double carried = 0.0;
    for (std::size_t b = 0; b < boxes_.size(); ++b) {
      const Box& other = boxes_[b];
      const double along = overlapLength(box.x0, box.x1, other.x0, other.x1);
      const double across = overlapLength(box.y0, box.y1, other.y0, other.y1);
      if (along <= TOUCH || across <= TOUCH) continue;
      if (overlapLength(box.z0, box.z1, other.z0, other.z1) > TOUCH) return false;
      if (std::abs(other.z1 - box.z0) <= TOUCH) {
        if (!stackable_[b]) return false;
        carried += along * across;
      }
    }
    return box.z0 <= TOUCH || carried >= base - TOUCH * std::max(1.0, base);
  }

  // From `at` back along one axis (0: x, 1: y, 2: z) to the nearest face of a box or the wall.
  Point3 pushedBack(Point3 at, int axis) const {
    double reach = 0.0;
    for (const Box& box : boxes_) {
      const bool inX = axis == 0 || within(at.x, box.x0, box.x1);
      const bool inY = axis == 1 || within(at.y, box.y0, box.y1);
      const bool inZ = axis == 2 || within(at.z, box.z0, box.z1);
      if (!(inX && inY && inZ)) continue;
      const double face = axis == 0 ? box.x1 : axis == 1 ? box.y1 : box.z1;
      const double from = axis == 0 ? at.x : axis == 1 ? at.y : at.z;
      if (face <= from + TOUCH) reach = std::max(reach, face);
    }
    (axis == 0 ? at.x : axis == 1 ? at.y : at.z) = reach;
    return at;
  }

  void addBox(const Box& box, bool stackable) {
    boxes_.push_back(box);
    stackable_.push_back(stackable);
    // Corners the box now fills are gone.
    std::erase_if(corners_, [&](const Point3& at) {
      return within(at.x, box.x0, box.x1) && within(at.y, box.y0, box.y1) &&
             within(at.z, box.z0, box.z1);
    });
    const Point3 beside{box.x1, box.y0, box.z0};
    const Point3 across{box.x0, box.y1, box.z0};
    std::vector<Point3> added{beside, pushedBack(beside, 1), pushedBack(beside, 2),
                              across, pushedBack(across, 0), pushedBack(across, 2)};
    if (stackable) {
      const Point3 above{box.x0, box.y0, box.z1};
      added.insert(added.end(), {above, pushedBack(above, 0), pushedBack(above, 1)});
    }
    for (const Point3& at : added) {
      const bool known = std::any_of(corners_.begin(), corners_.end(), [&](const Point3& corner) {
        return corner.x == at.x && corner.y == at.y && corner.z == at.z;
      });
      if (!known) corners_.push_back(at);
    }
  }

  PackedBin& bin_;
  const std::vector<ItemSpec>& items_;
  std::vector<Box> boxes_;
  std::vector<bool> stackable_;
  std::vector<Point3> corners_;
  std::vector<const ItemSpec*> misfits_;  // found no corner since the last box went in
  LoadGuard loads_;
  bool loadsKnown_ = false;
};

}  // namespace

PackedBin loadAtCorners(std::span<const std::int32_t> order, WallRule rule, std::int32_t type,
                        std::int32_t binId, const std::vector<ItemSpec>& items,
                        const std::vector<BinType>& binTypes, bool pickupOrder) {
  PackedBin bin = openBin(binTypes, type, static_cast<std::size_t>(binId - 1));
  bin.freeSpaces.clear();
  const bool limitedLoads = anyLoadLimit(items);
  CornerLoader loader(bin, items);
  for (const std::int32_t index : order) loader.place(index, rule, pickupOrder, limitedLoads);
  return bin;
}

}  // namespace stowra
