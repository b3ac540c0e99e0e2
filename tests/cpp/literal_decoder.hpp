#pragma once

// A reference decoder: the free-space list is kept literally, one entry per space, never
// merged, rebuilt and stably sorted after every placement. Slow, but plain enough to check the
// production decoder against.

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "packing/packed_bin.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra::testing {

struct LiteralSpace {
  double length, width, height, x, y, z;
  bool openTop = true;

  double volume() const { return width * length * height; }
  auto key() const { return std::tie(x, y, z, length, width, height); }
};

struct LiteralBin {
  std::string name;
  double weightLimit = 0.0, weight = 0.0;
  std::vector<LiteralSpace> spaces;
  std::vector<Placement> placements;
};

class LiteralDecoder {
 public:
  LiteralDecoder(const std::vector<ItemSpec>& items, const std::vector<BinType>& types,
                 std::int32_t defaultType)
      : items_(items), types_(types), defaultType_(defaultType) {}

  std::vector<LiteralBin> decode(const std::vector<std::int32_t>& order,
                                 const std::vector<std::int32_t>& rotations,
                                 const std::vector<std::int32_t>& genes) {
    std::size_t gene = 0;
    auto nextType = [&]() -> std::int64_t {
      return std::clamp<std::int64_t>(gene < genes.size() ? genes[gene++] : defaultType_, 0,
                                      std::ssize(types_) - 1);
    };
    std::vector<LiteralBin> bins{open(nextType())};
    for (std::int32_t index : order) {
      const std::int32_t rotation = rotations[index];
      bool placed = tryPlace(bins.back(), index, rotation);
      for (std::size_t b = 0; b + 1 < bins.size() && !placed; ++b) {
        placed = tryPlace(bins[b], index, rotation);
      }
      if (placed) continue;
      const std::int64_t type = nextType();
      bins.push_back(open(type));
      if (placeAnyRotation(bins.back(), index, rotation)) continue;
      for (std::int64_t other = 0; other < std::min<std::int64_t>(2, std::ssize(types_)); ++other) {
        LiteralBin replacement = open(other);
        if (other != type && placeAnyRotation(replacement, index, rotation)) {
          bins.back() = replacement;
          break;
        }
      }
    }
    return bins;
  }

 private:
  LiteralBin open(std::int64_t type) const {
    const BinType& t = types_[static_cast<std::size_t>(type)];
    return LiteralBin{t.id, t.weight_limit, 0.0, {{t.l, t.w, t.h, 0, 0, 0}}, {}};
  }

  bool placeAnyRotation(LiteralBin& bin, std::int32_t index, std::int32_t gene) {
    if (tryPlace(bin, index, gene)) return true;
    for (std::int32_t rotation : items_[index].allowedRotations) {
      if (rotation != gene && tryPlace(bin, index, rotation)) return true;
    }
    return false;
  }

  bool tryPlace(LiteralBin& bin, std::int32_t index, std::int32_t rotation) {
    const ItemSpec& item = items_[index];
    const double dx = rotation == 0 ? item.l : item.w, dy = rotation == 0 ? item.w : item.l;
    for (const LiteralSpace& s : bin.spaces) {
      if (dx * dy * item.h <= s.volume() && s.length >= dx && s.width >= dy && s.height >= item.h &&
          (bin.weightLimit <= 0 || bin.weightLimit >= item.weight + bin.weight)) {
        const LiteralSpace used = s;
        bin.placements.push_back({index, used.x, used.y, used.z, rotation});
        bin.weight += item.weight;
        update(bin.spaces, used, dx, dy, item.h, item.stackable);
        return true;
      }
    }
    return false;
  }

  static void update(std::vector<LiteralSpace>& list, const LiteralSpace& s, double dx, double dy,
                     double h, bool stackable) {
    list.erase(std::find_if(list.begin(), list.end(),
                            [&](const LiteralSpace& e) { return e.key() == s.key(); }));
    std::vector<LiteralSpace> pieces;
    if (s.length - dx > 0) pieces.push_back({s.length - dx, s.width, s.height, s.x + dx, s.y, s.z});
    if (s.width - dy > 0) pieces.push_back({s.length, s.width - dy, s.height, s.x, s.y + dy, s.z});
    if (stackable && s.height - h > 0) pieces.push_back({dx, dy, s.height - h, s.x, s.y, s.z + h});
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
      if (lx > e.x) next.push_back({lx - e.x, e.width, e.height, e.x, e.y, e.z});
      if (x1 > hx) next.push_back({x1 - hx, e.width, e.height, hx, e.y, e.z});
      if (y1 > hy) next.push_back({e.length, y1 - hy, e.height, e.x, hy, e.z});
      if (ly > e.y) next.push_back({e.length, ly - e.y, e.height, e.x, e.y, e.z});
      if (e.openTop && stackable && top > hz)
        next.push_back({hx - lx, hy - ly, top - hz, lx, ly, hz});
      if (lz > e.z) next.push_back({hx - lx, hy - ly, lz - e.z, lx, ly, e.z});
    }
    std::erase_if(next, [](const LiteralSpace& e) { return e.volume() <= 0.001; });
    std::stable_sort(next.begin(), next.end(), [](const LiteralSpace& a, const LiteralSpace& b) {
      return a.volume() < b.volume();
    });
    list = std::move(next);
  }

  const std::vector<ItemSpec>& items_;
  const std::vector<BinType>& types_;
  std::int32_t defaultType_;
};

}  // namespace stowra::testing
