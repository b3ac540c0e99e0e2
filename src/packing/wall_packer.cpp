#include "packing/wall_packer.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "packing/load_limits.hpp"
#include "packing/pickup_order.hpp"

namespace stowra {

namespace {

// Boxes of one side counted at most in a row: a wider room leaves little over whatever the mix,
// and the work per place stays bounded.
constexpr double MOST_IN_A_ROW = 16.0;

// The width that a row across `room` of boxes a or b wide, any mix of the two, leaves over.
double rowWaste(double room, double a, double b) {
  double best = 0.0;
  for (double i = 0; i <= MOST_IN_A_ROW && i * a <= room; ++i) {
    best = std::max(best, i * a + b * std::min(MOST_IN_A_ROW, std::floor((room - i * a) / b)));
  }
  return room - best;
}

}  // namespace

std::optional<WallFit> wallFit(const PackedBin& bin, const ItemSpec& item, WallRule rule,
                               const FitFilter& allowed, bool rowTurns) {
  if (bin.weightLimit > 0 && !(bin.weightLimit >= item.weight + bin.currentWeight)) {
    return std::nullopt;
  }
  using Corner = std::tuple<double, double, double, double>;
  using Key = std::tuple<double, double, double, double, double, double>;
  // A box that turns decides with each place how much width its row leaves that no box of its
  // kind can fill: always the shorter side along x leaves a strip along the side wall (three
  // 70 cm sides in a 234 cm container leave 24 cm; one of them turned and three 50 cm sides, 14).
  const bool turnable = rowTurns && item.allowedRotations.size() > 1 && item.l != item.w;
  const auto keyOf = [&](const Corner& corner, const ItemExtents& extents, const FreeSpace& space) {
    const double waste = turnable ? rowWaste(space.width - extents.dy, item.l, item.w) : 0.0;
    return std::tuple_cat(corner, std::make_tuple(waste, extents.dx));
  };
  const auto forEachFit = [&](const auto& use) {
    for (const std::int32_t rotation : item.allowedRotations) {
      // A square base turned is the same box.
      if (rotation != 0 && item.l == item.w) continue;
      const ItemExtents extents = extentsOf(item, rotation);
      for (const FreeSpace& space : bin.freeSpaces) {
        if (space.length < extents.dx || space.width < extents.dy || space.height < extents.h) {
          continue;
        }
        // A box that carries nothing would waste the height above it on the floor: it takes a
        // place on top of another box whenever one holds it.
        const double floor = !item.stackable && space.z == 0 ? 1.0 : 0.0;
        const Corner corner =
            rule == WallRule::BACK_BOTTOM_SIDE   ? Corner{floor, space.x, space.z, space.y}
            : rule == WallRule::BACK_SIDE_BOTTOM ? Corner{floor, space.x, space.y, space.z}
                                                 : Corner{floor, space.z, space.x, space.y};
        use(corner, extents, space, rotation);
      }
    }
  };
  std::optional<WallFit> best;
  Key bestKey{};
  Corner bestCorner{};
  forEachFit([&](const Corner& corner, const ItemExtents& extents, const FreeSpace& space,
                 std::int32_t rotation) {
    // What the row leaves is worked out only at a corner as good as the best so far.
    if (best && bestCorner < corner) return;
    const Key key = keyOf(corner, extents, space);
    if (!best || key < bestKey) {
      best = WallFit{space, rotation};
      bestKey = key;
      bestCorner = corner;
    }
  });
  if (!best || !allowed || allowed(*best)) return best;
  // The filter refuses the best place (rarely): the others in the same order.
  std::vector<std::pair<Key, WallFit>> fits;
  forEachFit([&](const Corner& corner, const ItemExtents& extents, const FreeSpace& space,
                 std::int32_t rotation) {
    fits.emplace_back(keyOf(corner, extents, space), WallFit{space, rotation});
  });
  std::stable_sort(fits.begin(), fits.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [key, fit] : fits) {
    if (allowed(fit)) return fit;
  }
  return std::nullopt;
}

WallPacker::WallPacker(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                       std::vector<std::int32_t> typePreference)
    : items_(items),
      binTypes_(binTypes),
      typePreference_(std::move(typePreference)),
      limitedLoads_(anyLoadLimit(items)) {}

namespace {

// Shapes kept per bin: loads of a few kinds repeat them; a load of all different boxes gains
// nothing from more.
constexpr std::size_t MAX_MISFITS = 32;

}  // namespace

bool WallPacker::Misfits::rulesOut(const ItemSpec& item) const {
  return std::any_of(shapes_.begin(), shapes_.end(), [&](const Shape& shape) {
    return shape.l == item.l && shape.w == item.w && shape.h == item.h &&
           shape.turns == item.allowedRotations.size() && shape.weight <= item.weight;
  });
}

void WallPacker::Misfits::add(const ItemSpec& item) {
  for (Shape& shape : shapes_) {
    if (shape.l == item.l && shape.w == item.w && shape.h == item.h &&
        shape.turns == item.allowedRotations.size()) {
      shape.weight = std::min(shape.weight, item.weight);
      return;
    }
  }
  if (shapes_.size() < MAX_MISFITS) {
    shapes_.push_back({item.l, item.w, item.h, item.weight, item.allowedRotations.size()});
  }
}

LoadGuard& WallPacker::loadGuardFor(const PackedBin& bin) {
  // Kept by opening number; a guard holding another bin's boxes gathers this one's anew.
  const std::size_t slot = static_cast<std::size_t>(std::max(bin.id, 0));
  if (loadGuards_.size() <= slot) loadGuards_.resize(slot + 1);
  loadGuards_[slot].update(bin, items_);
  return loadGuards_[slot];
}

bool WallPacker::placeIn(PackedBin& bin, std::int32_t itemIndex, Misfits* misfits) {
  const ItemSpec& item = items_[static_cast<std::size_t>(itemIndex)];
  if (misfits && misfits->rulesOut(item)) return false;
  // Only a bin holding another factory's goods can be out of order. Every order the packer is
  // given loads a bin's factories in ascending number, so the first and last box tell.
  const auto factoryAt = [&](const Placement& placement) {
    return items_[static_cast<std::size_t>(placement.itemIndex)].factory;
  };
  const bool mixed = pickupOrder && !bin.placements.empty() &&
                     (factoryAt(bin.placements.front()) != item.factory ||
                      factoryAt(bin.placements.back()) != item.factory);
  // A raised place may overload a box below; a bin with nothing in it has no raised place.
  const bool loaded = limitedLoads_ && !bin.placements.empty();
  FitFilter allowed;
  // Gathered at the first place asked about: most bins of a long plan are full and are
  // passed over before any.
  std::optional<PickupGuard> guard;
  LoadGuard* loads = nullptr;
  if (mixed || loaded) {
    allowed = [&](const WallFit& fit) {
      const Placement at{itemIndex, fit.space.x, fit.space.y, fit.space.z, fit.rotation};
      const Box box = boxOf(at, item);
      if (mixed) {
        if (!guard) guard.emplace(bin, items_, item.factory);
        if (!guard->allows(box)) return false;
      }
      if (loaded && fit.space.z > 0) {
        if (!loads) loads = &loadGuardFor(bin);
        if (!loads->allows(box, item.weight)) return false;
      }
      return true;
    };
  }
  auto fit = wallFit(bin, item, rule, {}, rowTurns);
  if (!fit) {
    if (misfits) misfits->add(item);
    return false;
  }
  // The filter refuses the best place (rarely): the others in the same order.
  if (allowed && !allowed(*fit)) fit = wallFit(bin, item, rule, allowed, rowTurns);
  if (!fit) return false;
  placeItem(bin, itemIndex, item, fit->space, fit->rotation, workspace_);
  return true;
}

bool WallPacker::placeInAny(std::span<PackedBin*> bins, std::int32_t itemIndex) {
  for (PackedBin* bin : bins) {
    if (placeIn(*bin, itemIndex)) return true;
  }
  return false;
}

bool WallPacker::placeInAny(std::span<PackedBin*> bins, std::span<Misfits> misfits,
                            std::int32_t itemIndex) {
  for (std::size_t b = 0; b < bins.size(); ++b) {
    if (placeIn(*bins[b], itemIndex, &misfits[b])) return true;
  }
  return false;
}

std::vector<PackedBin> WallPacker::pack(std::span<const std::int32_t> order,
                                        std::span<const std::int32_t> typeSequence) {
  std::vector<PackedBin> bins;
  std::vector<Misfits> misfits;
  std::size_t nextGene = 0;
  for (const std::int32_t itemIndex : order) {
    bool placed = false;
    for (std::size_t b = 0; b < bins.size() && !placed; ++b) {
      placed = placeIn(bins[b], itemIndex, &misfits[b]);
    }
    if (placed) continue;

    const std::int32_t wanted =
        nextGene < typeSequence.size() ? typeSequence[nextGene] : typePreference_.front();
    PackedBin fresh = openBin(binTypes_, wanted, bins.size());
    if (!placeIn(fresh, itemIndex)) {
      bool fitted = false;
      for (const std::int32_t type : typePreference_) {
        if (type == wanted) continue;
        fresh = openBin(binTypes_, type, bins.size());
        if (placeIn(fresh, itemIndex)) {
          fitted = true;
          break;
        }
      }
      // No type holds it: left out, and the gene stays for the next bin.
      if (!fitted) continue;
    }
    ++nextGene;
    bins.push_back(std::move(fresh));
    misfits.emplace_back();
  }
  return bins;
}

std::optional<PackedBin> WallPacker::packAllInto(std::span<const std::int32_t> order,
                                                 std::int32_t type, std::int32_t binId) {
  PackedBin bin = openBin(binTypes_, type, static_cast<std::size_t>(binId - 1));
  for (const std::int32_t itemIndex : order) {
    if (!placeIn(bin, itemIndex)) return std::nullopt;
  }
  return bin;
}

}  // namespace stowra
