#include "packing/free_space_update.hpp"

#include <algorithm>
#include <limits>

namespace stowra {

namespace {

bool sameSpace(const FreeSpace& a, const FreeSpace& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z && a.length == b.length && a.width == b.width &&
         a.height == b.height;
}

// A space as its lower and upper faces on each axis.
struct Bounds {
  double x0, x1, y0, y1, z0, z1;
};

Bounds boundsOf(const FreeSpace& space) {
  return {space.x, space.x + space.length, space.y, space.y + space.width,
          space.z, space.z + space.height};
}

// Touching faces count as inside. Like `overlaps`, evaluated without early exits: the answer
// is nearly always no, and one well-predicted branch is cheaper than six poorly predicted ones.
bool liesInside(const Bounds& piece, const Bounds& outer) {
  return (outer.x0 <= piece.x0) & (piece.x1 <= outer.x1) & (outer.y0 <= piece.y0) &
         (piece.y1 <= outer.y1) & (outer.z0 <= piece.z0) & (piece.z1 <= outer.z1);
}

// Whether the boxes share positive volume: on every axis the larger lower face lies below the
// smaller upper face.
bool overlaps(const Bounds& a, const Bounds& b) {
  return (std::min(a.x1, b.x1) > std::max(a.x0, b.x0)) &
         (std::min(a.y1, b.y1) > std::max(a.y0, b.y0)) &
         (std::min(a.z1, b.z1) > std::max(a.z0, b.z0));
}

// The x and y faces of one box side by side, so that the scan over the free-space list tests
// both axes in one vector instruction each (the compiler splits it where there are no
// vector registers). Lane 0 is x, lane 1 is y.
using Pair = double __attribute__((vector_size(16)));

// A box's lower and upper faces on x and y.
struct PairBounds {
  Pair low, high;
};

PairBounds pairBoundsOf(const FreeSpace& space) {
  const Pair low = {space.x, space.y};
  return {low, low + Pair{space.length, space.width}};
}

// The tests of `overlaps` and `liesInside` on the x and y axes, as masks (all bits set in both
// lanes when true). min and max are written as std::min and std::max compute them.
auto overlapsXY(const PairBounds& a, const PairBounds& b) {
  const Pair upper = b.high < a.high ? b.high : a.high;
  const Pair lower = a.low < b.low ? b.low : a.low;
  return upper > lower;
}

auto liesInsideXY(const PairBounds& piece, const PairBounds& outer) {
  return (outer.low <= piece.low) & (piece.high <= outer.high);
}

// Per axis, the largest lower face and the smallest upper face of the given boxes. A space
// holding any one of them holds this "box" too, so one test rules out most spaces at once;
// with no boxes it rules out every space.
Bounds reachNeeded(const std::array<Bounds, 6>& boxes, std::size_t count) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  Bounds need{-inf, inf, -inf, inf, -inf, inf};
  for (std::size_t k = 0; k < count; ++k) {
    need.x0 = std::max(need.x0, boxes[k].x0);
    need.x1 = std::min(need.x1, boxes[k].x1);
    need.y0 = std::max(need.y0, boxes[k].y0);
    need.y1 = std::min(need.y1, boxes[k].y1);
    need.z0 = std::max(need.z0, boxes[k].z0);
    need.z1 = std::min(need.z1, boxes[k].z1);
  }
  return need;
}

std::int64_t addCopies(std::int64_t a, std::int64_t b) {
  return a > MAX_SPACE_COPIES - b ? MAX_SPACE_COPIES : a + b;
}

// The first position in the volume-sorted list whose space is not smaller than `volume`.
// Written without a data-dependent branch: the probes of a binary search go either way at
// random, and mispredicting them costs more than the search itself.
std::size_t firstNotSmaller(const std::vector<FreeSpace>& spaces, double volume) {
  if (spaces.empty()) return 0;
  const FreeSpace* base = spaces.data();
  std::size_t length = spaces.size();
  while (length > 1) {
    const std::size_t half = length / 2;
    base = base[half - 1].volume() < volume ? base + half : base;
    length -= half;
  }
  return static_cast<std::size_t>(base - spaces.data()) + (base->volume() < volume ? 1 : 0);
}

// Folds every new space identical to an earlier one (made earlier, or listed before the space
// it was cut from) into that first copy, adding the counts, and finds where each remaining new
// space goes: after the listed spaces of smaller volume and those of equal volume listed
// before its source, as a stable sort of the whole rebuilt list would place it. Listed spaces
// are distinct from one another, so every identical pair involves a new space; identical
// spaces have equal volumes, so only equal-volume runs are compared.
void foldAndPlaceNewSpaces(std::vector<FreeSpace>& spaces, FreeSpaceWorkspace& workspace) {
  auto& made = workspace.made;
  const auto& order = workspace.order;
  for (std::size_t run = 0; run < order.size();) {
    std::size_t runEnd = run + 1;
    while (runEnd < order.size() && order[runEnd].first == order[run].first) {
      ++runEnd;
    }
    for (std::size_t later = run + 1; later < runEnd; ++later) {
      FreeSpaceWorkspace::NewSpace& repeat = made[order[later].second];
      for (std::size_t first = run; first < later; ++first) {
        FreeSpaceWorkspace::NewSpace& original = made[order[first].second];
        if (!original.folded && sameSpace(original.space, repeat.space)) {
          original.space.copies = addCopies(original.space.copies, repeat.space.copies);
          repeat.folded = true;
          break;
        }
      }
    }
    run = runEnd;
  }

  // The new spaces come in ascending volume, so their places in the list only move forward:
  // one walk along the listed volumes finds them all (a placement often makes dozens).
  const std::size_t cutAway = workspace.dropped.size();  // ascending: the scan found them
  const std::vector<double>& volumes = workspace.volumes;
  std::size_t smaller = 0;  // listed spaces smaller than the current new one
  for (const auto& [volume, index] : order) {
    FreeSpaceWorkspace::NewSpace& fresh = made[index];
    if (fresh.folded) continue;
    while (smaller < volumes.size() && volumes[smaller] < volume) ++smaller;
    std::size_t position = smaller;
    fresh.insertBefore = static_cast<std::uint32_t>(position);
    for (; position < volumes.size() && volumes[position] == fresh.volume; ++position) {
      if (position <= fresh.source) fresh.insertBefore = static_cast<std::uint32_t>(position + 1);
      FreeSpace& listed = spaces[position];
      if (fresh.folded || !sameSpace(listed, fresh.space) ||
          std::binary_search(workspace.dropped.begin(), workspace.dropped.begin() + cutAway,
                             position)) {
        continue;
      }
      if (position < fresh.source) {
        listed.copies = addCopies(listed.copies, fresh.space.copies);
        fresh.folded = true;
      } else {
        fresh.space.copies = addCopies(fresh.space.copies, listed.copies);
        workspace.dropped.push_back(static_cast<std::uint32_t>(position));
      }
    }
  }
  // Rarely more than the scan found; a short, nearly sorted list.
  if (workspace.dropped.size() > cutAway) {
    std::sort(workspace.dropped.begin(), workspace.dropped.end());
  }
}

// Writes the listed spaces that stay, in order, with the new ones merged in at their places.
// Runs of staying spaces are copied whole.
void assembleInto(std::vector<FreeSpace>& spaces, FreeSpaceWorkspace& workspace) {
  std::size_t survivors = 0;
  for (const FreeSpaceWorkspace::NewSpace& fresh : workspace.made) {
    survivors += fresh.folded ? 0 : 1;
  }
  std::vector<FreeSpace>& next = workspace.next;
  // Mostly a no-op: the buffer last held a list of about this length.
  next.resize(spaces.size() - workspace.dropped.size() + survivors);

  FreeSpace* out = next.data();
  std::size_t cursor = 0;
  auto nextDrop = workspace.dropped.begin();
  const auto copyUpTo = [&](std::size_t end) {
    for (; nextDrop != workspace.dropped.end() && *nextDrop < end; ++nextDrop) {
      out = std::copy(spaces.data() + cursor, spaces.data() + *nextDrop, out);
      cursor = *nextDrop + 1;
    }
    if (cursor < end) out = std::copy(spaces.data() + cursor, spaces.data() + end, out);
    cursor = std::max(cursor, end);
  };
  for (const auto& [volume, index] : workspace.order) {
    const FreeSpaceWorkspace::NewSpace& fresh = workspace.made[index];
    if (fresh.folded) continue;
    copyUpTo(fresh.insertBefore);
    *out++ = fresh.space;
  }
  copyUpTo(spaces.size());
  spaces.swap(next);
}

}  // namespace

std::optional<FreeSpace> tryFit(const PackedBin& bin, const ItemSpec& item, std::int32_t rotation) {
  // The weight test does not depend on the space: a too heavy item fits nowhere in this bin.
  if (bin.weightLimit > 0 && !(bin.weightLimit >= item.weight + bin.currentWeight)) {
    return std::nullopt;
  }
  const ItemExtents extents = extentsOf(item, rotation);
  const double itemVolume = extents.dx * extents.dy * extents.h;
  const std::vector<FreeSpace>& spaces = bin.freeSpaces;
  // Spaces smaller than the item come first in the sorted list and can all be skipped.
  for (auto space =
           spaces.begin() + static_cast<std::ptrdiff_t>(firstNotSmaller(spaces, itemVolume));
       space != spaces.end(); ++space) {
    // One test for all three extents: most spaces fail one of them at random.
    const auto wideEnough = Pair{space->length, space->width} >= Pair{extents.dx, extents.dy};
    if ((wideEnough[0] & wideEnough[1]) && space->height >= extents.h) return *space;
  }
  return std::nullopt;
}

void placeItem(PackedBin& bin, std::int32_t itemIndex, const ItemSpec& item, const FreeSpace& space,
               std::int32_t rotation, FreeSpaceWorkspace& workspace) {
  bin.placements.push_back(Placement{itemIndex, space.x, space.y, space.z, rotation});
  bin.currentWeight += item.weight;
  bin.spaceUtilization += item.volume / (bin.width * bin.length * bin.height);
  updateFreeSpaces(bin, item, space, rotation, workspace);
}

void placeItem(PackedBin& bin, std::int32_t itemIndex, const ItemSpec& item, const FreeSpace& space,
               std::int32_t rotation) {
  FreeSpaceWorkspace workspace;
  placeItem(bin, itemIndex, item, space, rotation, workspace);
}

SpacePieces splitAfterPlacement(const FreeSpace& space, double dx, double dy, double h,
                                bool stackable) {
  SpacePieces result;
  if (space.length - dx > 0) {
    result.add(FreeSpace{space.length - dx, space.width, space.height, space.x + dx, space.y,
                         space.z, true, 1});
  }
  if (space.width - dy > 0) {
    result.add(FreeSpace{space.length, space.width - dy, space.height, space.x, space.y + dy,
                         space.z, true, 1});
  }
  if (stackable && space.height - h > 0) {
    result.add(FreeSpace{dx, dy, space.height - h, space.x, space.y, space.z + h, true, 1});
  }
  return result;
}

SpacePieces splitAroundOverlap(const FreeSpace& space, const OverlapBox& overlap) {
  const double x0 = space.x;
  const double x1 = space.x + space.length;
  const double y0 = space.y;
  const double y1 = space.y + space.width;
  const double z0 = space.z;
  const double top = z0 + space.height;
  const std::int64_t copies = space.copies;
  SpacePieces result;
  if (overlap.x0 > x0) {  // left
    result.add(FreeSpace{overlap.x0 - x0, space.width, space.height, x0, y0, z0, true, copies});
  }
  if (x1 > overlap.x1) {  // right
    result.add(
        FreeSpace{x1 - overlap.x1, space.width, space.height, overlap.x1, y0, z0, true, copies});
  }
  if (y1 > overlap.y1) {  // back
    result.add(
        FreeSpace{space.length, y1 - overlap.y1, space.height, x0, overlap.y1, z0, true, copies});
  }
  if (overlap.y0 > y0) {  // front
    result.add(FreeSpace{space.length, overlap.y0 - y0, space.height, x0, y0, z0, true, copies});
  }
  if (overlap.openTop && top > overlap.z1) {  // above
    result.add(FreeSpace{overlap.x1 - overlap.x0, overlap.y1 - overlap.y0, top - overlap.z1,
                         overlap.x0, overlap.y0, overlap.z1, true, copies});
  }
  if (overlap.z0 > z0) {  // below
    result.add(FreeSpace{overlap.x1 - overlap.x0, overlap.y1 - overlap.y0, overlap.z0 - z0,
                         overlap.x0, overlap.y0, z0, true, copies});
  }
  return result;
}

void updateFreeSpaces(PackedBin& bin, const ItemSpec& item, const FreeSpace& space,
                      std::int32_t rotation, FreeSpaceWorkspace& workspace) {
  std::vector<FreeSpace>& spaces = bin.freeSpaces;
  const ItemExtents extents = extentsOf(item, rotation);

  // Use up one copy of the space taken; a copy left behind still shelters pieces below.
  // The list is sorted by volume, and an identical entry has exactly the same volume.
  const double usedVolume = space.volume();
  const auto used = std::find_if(
      spaces.begin() + static_cast<std::ptrdiff_t>(firstNotSmaller(spaces, usedVolume)),
      spaces.end(), [&](const FreeSpace& s) { return sameSpace(s, space); });
  if (used != spaces.end()) {
    if (used->copies > 1) {
      --used->copies;
    } else {
      spaces.erase(used);
    }
  }

  // Pieces of the used space enter only when no remaining space already covers them.
  const SpacePieces pieces =
      splitAfterPlacement(space, extents.dx, extents.dy, extents.h, item.stackable);
  std::array<bool, 6> covered{};
  std::array<Bounds, 6> pending;  // bounds of the pieces no space is known to cover yet
  std::array<std::size_t, 6> pendingPiece{};
  std::size_t pendingCount = 0;
  for (std::size_t p = 0; p < pieces.count; ++p) {
    covered[p] = !(pieces.pieces[p].volume() > MIN_SPACE_VOLUME);
    if (!covered[p]) {
      pending[pendingCount] = boundsOf(pieces.pieces[p]);
      pendingPiece[pendingCount++] = p;
    }
  }

  // Every space that the item's box enters is replaced by the pieces around it, in one pass
  // that also looks for spaces covering the pieces above.
  const Bounds box{space.x, space.x + extents.dx, space.y, space.y + extents.dy,
                   space.z, space.z + extents.h};
  workspace.made.clear();
  workspace.dropped.clear();
  // Replaces a space that the item's box enters by the pieces around it.
  const auto cutAround = [&](const FreeSpace& other, const Bounds& outer, std::uint32_t source) {
    const OverlapBox overlap{std::max(outer.x0, box.x0),     std::min(outer.x1, box.x1),
                             std::max(outer.y0, box.y0),     std::min(outer.y1, box.y1),
                             std::max(outer.z0, box.z0),     std::min(outer.z1, box.z1),
                             other.openTop && item.stackable};
    for (const FreeSpace& piece : splitAroundOverlap(other, overlap)) {
      const double volume = piece.volume();
      if (volume > MIN_SPACE_VOLUME) workspace.made.push_back({piece, volume, source});
    }
  };

  Bounds need = reachNeeded(pending, pendingCount);
  const auto listed = static_cast<std::uint32_t>(spaces.size());
  // The volumes, for the searches below: computed here, where the spaces are read anyway.
  std::vector<double>& volumes = workspace.volumes;
  volumes.resize(listed);
  const PairBounds boxXY{Pair{box.x0, box.y0}, Pair{box.x1, box.y1}};
  PairBounds needXY{Pair{need.x0, need.y0}, Pair{need.x1, need.y1}};
  for (std::uint32_t i = 0; i < listed; ++i) {
    const FreeSpace& other = spaces[i];
    const double volume = other.volume();
    volumes[i] = volume;
    // liesInside(need, outer) and overlaps(outer, box), with x and y tested together.
    const PairBounds outerXY = pairBoundsOf(other);
    const double outerZ1 = other.z + other.height;
    const auto mayCoverXY = liesInsideXY(needXY, outerXY);
    const auto cutsXY = overlapsXY(outerXY, boxXY);
    const bool mayCover =
        (mayCoverXY[0] & mayCoverXY[1]) && (other.z <= need.z0) & (need.z1 <= outerZ1);
    const bool cuts =
        (cutsXY[0] & cutsXY[1]) && (std::min(outerZ1, box.z1) > std::max(other.z, box.z0));
    if (!(mayCover | cuts)) {                                            // nearly every space
      if (!(volume > MIN_SPACE_VOLUME)) workspace.dropped.push_back(i);  // a bin's first space
      continue;
    }
    const Bounds outer = boundsOf(other);
    if (mayCover) {
      for (std::size_t k = 0; k < pendingCount;) {
        if (liesInside(pending[k], outer)) {
          covered[pendingPiece[k]] = true;
          --pendingCount;
          pending[k] = pending[pendingCount];
          pendingPiece[k] = pendingPiece[pendingCount];
        } else {
          ++k;
        }
      }
      need = reachNeeded(pending, pendingCount);
      needXY = {Pair{need.x0, need.y0}, Pair{need.x1, need.y1}};
    }
    if (cuts) {
      cutAround(other, outer, i);
      workspace.dropped.push_back(i);
    } else if (!(volume > MIN_SPACE_VOLUME)) {
      workspace.dropped.push_back(i);
    }
  }
  // The kept pieces of the used space come after every listed space.
  std::uint32_t source = listed;
  for (std::size_t p = 0; p < pieces.count; ++p) {
    if (covered[p]) continue;
    const FreeSpace& piece = pieces.pieces[p];
    const Bounds bounds = boundsOf(piece);
    if (overlaps(bounds, box)) {
      cutAround(piece, bounds, source);
    } else {
      workspace.made.push_back({piece, piece.volume(), source});
    }
    ++source;
  }

  // New spaces in ascending order of volume, equal volumes in the order they were made (the
  // order of `made`).
  auto& order = workspace.order;
  order.clear();
  for (std::uint32_t index = 0; index < workspace.made.size(); ++index) {
    order.emplace_back(workspace.made[index].volume, index);
  }
  std::sort(order.begin(), order.end());  // (volume, position) pairs are all distinct
  foldAndPlaceNewSpaces(spaces, workspace);
  assembleInto(spaces, workspace);
}

}  // namespace stowra
