#pragma once

// A reference decoder for tests: the free-space list is kept literally, one entry per space,
// never merged, rebuilt and stably sorted after every placement. Slow on large loads, plain
// enough to check the production decoder against.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/bin_type.hpp"
#include "problem/item_spec.hpp"

namespace stowra::testing {

struct LiteralSpace {
  double length, width, height, x, y, z;
  bool openTop;

  double volume() const { return width * length * height; }
  auto key() const { return std::tie(x, y, z, length, width, height); }
};

struct LiteralBin {
  std::string name;
  double length = 0.0, width = 0.0, height = 0.0, weightLimit = 0.0;
  double weight = 0.0;
  std::vector<LiteralSpace> spaces;
  std::vector<Placement> placements;
};

struct LiteralPlan {
  std::vector<LiteralBin> bins;
  std::size_t longestSpaceList = 0;
  bool hadIdenticalSpaces = false;  // whether some list ever held the same space twice
};

class LiteralDecoder {
 public:
  LiteralDecoder(const std::vector<ItemSpec>& items, const std::vector<BinType>& types,
                 std::int32_t defaultType)
      : items_(items), types_(types), defaultType_(defaultType) {}

  LiteralPlan decode(std::span<const std::int32_t> order, std::span<const std::int32_t> rotations,
                     std::span<const std::int32_t> binGenes) {
    plan_ = LiteralPlan{};
    std::size_t gene = 0;
    auto nextType = [&]() -> std::int64_t {
      return gene < binGenes.size() ? binGenes[gene++] : defaultType_;
    };
    plan_.bins.push_back(open(nextType()));
    for (std::int32_t index : order) {
      const ItemSpec& item = items_[static_cast<std::size_t>(index)];
      const std::int32_t rotation = rotations[static_cast<std::size_t>(index)];
      if (tryPlace(plan_.bins.back(), index, rotation)) continue;
      bool placed = false;
      for (std::size_t b = 0; b + 1 < plan_.bins.size() && !placed; ++b) {
        placed = tryPlace(plan_.bins[b], index, rotation);
      }
      if (placed) continue;
      const std::int64_t type = clamp(nextType());
      plan_.bins.push_back(open(type));
      if (placeAnyRotation(plan_.bins.back(), index, rotation, item)) continue;
      for (std::int64_t other = 0; other < 2 && other < std::ssize(types_); ++other) {
        if (other == type) continue;
        LiteralBin replacement = open(other);
        if (placeAnyRotation(replacement, index, rotation, item)) {
          plan_.bins.back() = replacement;
          break;
        }
      }
    }
    return plan_;
  }

 private:
  std::int64_t clamp(std::int64_t type) const {
    return std::clamp<std::int64_t>(type, 0, std::ssize(types_) - 1);
  }

  LiteralBin open(std::int64_t type) const {
    const BinType& t = types_[static_cast<std::size_t>(clamp(type))];
    LiteralBin bin;
    bin.name = t.id;
    bin.length = t.l;
    bin.width = t.w;
    bin.height = t.h;
    bin.weightLimit = t.weight_limit;
    bin.spaces.push_back({t.l, t.w, t.h, 0, 0, 0, true});
    return bin;
  }

  bool placeAnyRotation(LiteralBin& bin, std::int32_t index, std::int32_t gene,
                        const ItemSpec& item) {
    if (tryPlace(bin, index, gene)) return true;
    for (std::int32_t rotation : item.allowedRotations) {
      if (rotation != gene && tryPlace(bin, index, rotation)) return true;
    }
    return false;
  }

  bool tryPlace(LiteralBin& bin, std::int32_t index, std::int32_t rotation) {
    const ItemSpec& item = items_[static_cast<std::size_t>(index)];
    const double dx = rotation == 0 ? item.l : item.w;
    const double dy = rotation == 0 ? item.w : item.l;
    const double h = item.h;
    const double v = dx * dy * h;
    for (const LiteralSpace& s : bin.spaces) {
      if (v <= s.volume() && s.length >= dx && s.width >= dy && s.height >= h &&
          (bin.weightLimit <= 0 || bin.weightLimit >= item.weight + bin.weight)) {
        const LiteralSpace used = s;
        bin.placements.push_back({index, used.x, used.y, used.z, rotation});
        bin.weight += item.weight;
        update(bin, used, dx, dy, h, item.stackable);
        return true;
      }
    }
    return false;
  }

  void update(LiteralBin& bin, const LiteralSpace& s, double dx, double dy, double h,
              bool stackable) {
    std::vector<LiteralSpace>& list = bin.spaces;
    list.erase(std::find_if(list.begin(), list.end(),
                            [&](const LiteralSpace& e) { return e.key() == s.key(); }));

    std::vector<LiteralSpace> pieces;
    if (s.length - dx > 0)
      pieces.push_back({s.length - dx, s.width, s.height, s.x + dx, s.y, s.z, true});
    if (s.width - dy > 0)
      pieces.push_back({s.length, s.width - dy, s.height, s.x, s.y + dy, s.z, true});
    if (stackable && s.height - h > 0)
      pieces.push_back({dx, dy, s.height - h, s.x, s.y, s.z + h, true});
    std::vector<LiteralSpace> kept;
    for (const LiteralSpace& p : pieces) {
      const bool inside = std::any_of(list.begin(), list.end(), [&](const LiteralSpace& e) {
        return e.x <= p.x && p.x + p.length <= e.x + e.length && e.y <= p.y &&
               p.y + p.width <= e.y + e.width && e.z <= p.z && p.z + p.height <= e.z + e.height;
      });
      if (p.volume() > 0.001 && !inside) kept.push_back(p);
    }
    list.insert(list.end(), kept.begin(), kept.end());

    std::vector<LiteralSpace> next;
    for (const LiteralSpace& e : list) {
      const double lx = std::max(e.x, s.x), hx = std::min(e.x + e.length, s.x + dx);
      const double ly = std::max(e.y, s.y), hy = std::min(e.y + e.width, s.y + dy);
      const double lz = std::max(e.z, s.z), hz = std::min(e.z + e.height, s.z + h);
      if (!(hx > lx && hy > ly && hz > lz)) {
        next.push_back(e);
        continue;
      }
      const double x1 = e.x + e.length, y1 = e.y + e.width, top = e.z + e.height;
      std::vector<LiteralSpace> around;
      if (lx > e.x) around.push_back({lx - e.x, e.width, e.height, e.x, e.y, e.z, true});
      if (x1 > hx) around.push_back({x1 - hx, e.width, e.height, hx, e.y, e.z, true});
      if (y1 > hy) around.push_back({e.length, y1 - hy, e.height, e.x, hy, e.z, true});
      if (ly > e.y) around.push_back({e.length, ly - e.y, e.height, e.x, e.y, e.z, true});
      if (e.openTop && stackable && top > hz)
        around.push_back({hx - lx, hy - ly, top - hz, lx, ly, hz, true});
      if (lz > e.z) around.push_back({hx - lx, hy - ly, lz - e.z, lx, ly, e.z, true});
      for (const LiteralSpace& p : around) {
        if (p.volume() > 0.001) next.push_back(p);
      }
    }
    std::erase_if(next, [](const LiteralSpace& e) { return e.volume() <= 0.001; });
    std::stable_sort(next.begin(), next.end(), [](const LiteralSpace& a, const LiteralSpace& b) {
      return a.volume() < b.volume();
    });
    list = std::move(next);

    plan_.longestSpaceList = std::max(plan_.longestSpaceList, list.size());
    if (!plan_.hadIdenticalSpaces) {
      std::vector<std::tuple<double, double, double, double, double, double>> keys;
      for (const LiteralSpace& e : list) keys.emplace_back(e.key());
      std::sort(keys.begin(), keys.end());
      plan_.hadIdenticalSpaces = std::adjacent_find(keys.begin(), keys.end()) != keys.end();
    }
  }

  const std::vector<ItemSpec>& items_;
  const std::vector<BinType>& types_;
  std::int32_t defaultType_;
  LiteralPlan plan_;
};

}  // namespace stowra::testing
