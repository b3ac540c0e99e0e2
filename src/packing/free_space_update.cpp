#include "packing/free_space_update.hpp"

#include <algorithm>
#include <bit>

namespace stowra {

namespace {

bool sameSpace(const FreeSpace& a, const FreeSpace& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z && a.length == b.length && a.width == b.width &&
         a.height == b.height;
}

// Touching faces count as inside.
bool liesInside(const FreeSpace& piece, const FreeSpace& outer) {
  return outer.x <= piece.x && piece.x + piece.length <= outer.x + outer.length &&
         outer.y <= piece.y && piece.y + piece.width <= outer.y + outer.width &&
         outer.z <= piece.z && piece.z + piece.height <= outer.z + outer.height;
}

bool insideAny(const FreeSpace& piece, const std::vector<FreeSpace>& spaces) {
  for (const FreeSpace& outer : spaces) {
    if (liesInside(piece, outer)) return true;
  }
  return false;
}

std::int64_t addCopies(std::int64_t a, std::int64_t b) {
  return a > MAX_SPACE_COPIES - b ? MAX_SPACE_COPIES : a + b;
}

// Bits of the volumes of the new entries: an entry can only equal a new one of the same volume,
// so most carried-over entries are ruled out without a table lookup.
class VolumeFilter {
 public:
  void add(double volume) { words_[slot(volume) >> 6] |= bit(volume); }
  bool mayContain(double volume) const { return (words_[slot(volume) >> 6] & bit(volume)) != 0; }

 private:
  static std::size_t slot(double volume) {
    // Adding +0 turns -0 into +0, so volumes that compare equal land in the same slot.
    return static_cast<std::size_t>(
        (std::bit_cast<std::uint64_t>(volume + 0.0) * 0x9e3779b97f4a7c15ULL) >> 54);
  }
  static std::uint64_t bit(double volume) { return std::uint64_t{1} << (slot(volume) & 63); }

  std::array<std::uint64_t, 16> words_{};
};

// Folds every entry identical to an earlier one into that first copy, adding the counts.
// Entries carried over unchanged are distinct from one another (the list never holds two
// identical entries), so every identical pair involves a new entry: only new entries are
// recorded, and a carried-over entry is looked up only when a new entry has its volume.
void foldIdenticalSpaces(FreeSpaceWorkspace& workspace) {
  using Entry = FreeSpaceWorkspace::Entry;
  std::vector<FreeSpace>& rebuilt = workspace.rebuilt;
  std::vector<Entry>& kind = workspace.entryKind;
  const auto newCount = static_cast<std::size_t>(std::count(kind.begin(), kind.end(), Entry::NEW));
  if (newCount == 0) return;

  workspace.mergeTable.reset(newCount);
  VolumeFilter newVolumes;
  for (std::size_t i = 0; i < rebuilt.size(); ++i) {
    if (kind[i] != Entry::NEW) continue;
    const std::int64_t earlier =
        workspace.mergeTable.findOrInsert(rebuilt, rebuilt[i], static_cast<std::uint32_t>(i));
    if (earlier >= 0) {
      FreeSpace& first = rebuilt[static_cast<std::size_t>(earlier)];
      first.copies = addCopies(first.copies, rebuilt[i].copies);
      kind[i] = Entry::FOLDED;
    } else {
      newVolumes.add(rebuilt[i].volume());
    }
  }

  for (std::size_t i = 0; i < rebuilt.size(); ++i) {
    if (kind[i] != Entry::CARRIED_OVER || !newVolumes.mayContain(rebuilt[i].volume())) continue;
    const std::int64_t match = workspace.mergeTable.find(rebuilt, rebuilt[i]);
    if (match < 0) continue;
    const auto other = static_cast<std::size_t>(match);
    const std::size_t first = std::min(i, other);
    const std::size_t later = std::max(i, other);
    rebuilt[first].copies = addCopies(rebuilt[first].copies, rebuilt[later].copies);
    kind[later] = Entry::FOLDED;
  }
}

// Writes the rebuilt list into `spaces` in ascending order of volume, equal volumes in list
// order. Entries carried over unchanged are already in that order among themselves, so only
// the new ones need sorting before the two runs are merged.
void sortByVolumeInto(FreeSpaceWorkspace& workspace, std::vector<FreeSpace>& spaces) {
  using Entry = FreeSpaceWorkspace::Entry;
  const std::vector<FreeSpace>& rebuilt = workspace.rebuilt;
  const std::vector<Entry>& kind = workspace.entryKind;
  auto& newOrder = workspace.newOrder;
  newOrder.clear();
  for (std::size_t i = 0; i < rebuilt.size(); ++i) {
    if (kind[i] == Entry::NEW)
      newOrder.emplace_back(rebuilt[i].volume(), static_cast<std::uint32_t>(i));
  }
  // (volume, position) pairs are all distinct, so this order is the stable one.
  std::sort(newOrder.begin(), newOrder.end());

  spaces.clear();
  auto nextNew = newOrder.begin();
  for (std::size_t i = 0; i < rebuilt.size(); ++i) {
    if (kind[i] != Entry::CARRIED_OVER) continue;
    const double volume = rebuilt[i].volume();
    while (nextNew != newOrder.end() &&
           (nextNew->first < volume || (nextNew->first == volume && nextNew->second < i))) {
      spaces.push_back(rebuilt[nextNew->second]);
      ++nextNew;
    }
    spaces.push_back(rebuilt[i]);
  }
  for (; nextNew != newOrder.end(); ++nextNew) spaces.push_back(rebuilt[nextNew->second]);
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
  auto space = std::partition_point(spaces.begin(), spaces.end(),
                                    [&](const FreeSpace& s) { return s.volume() < itemVolume; });
  for (; space != spaces.end(); ++space) {
    if (space->length >= extents.dx && space->width >= extents.dy && space->height >= extents.h) {
      return *space;
    }
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
  auto used = std::partition_point(spaces.begin(), spaces.end(),
                                   [&](const FreeSpace& s) { return s.volume() < usedVolume; });
  used = std::find_if(used, spaces.end(), [&](const FreeSpace& s) { return sameSpace(s, space); });
  if (used != spaces.end()) {
    if (used->copies > 1) {
      --used->copies;
    } else {
      spaces.erase(used);
    }
  }

  // Pieces of the used space enter only when no remaining space already covers them.
  const std::size_t carriedOver = spaces.size();
  const SpacePieces pieces =
      splitAfterPlacement(space, extents.dx, extents.dy, extents.h, item.stackable);
  SpacePieces kept;
  for (const FreeSpace& piece : pieces) {
    if (piece.volume() > MIN_SPACE_VOLUME && !insideAny(piece, spaces)) kept.add(piece);
  }
  for (const FreeSpace& piece : kept) spaces.push_back(piece);

  // Cut every space that the item's box enters into the pieces around it.
  const double boxX1 = space.x + extents.dx;
  const double boxY1 = space.y + extents.dy;
  const double boxZ1 = space.z + extents.h;
  using Entry = FreeSpaceWorkspace::Entry;
  workspace.rebuilt.clear();
  workspace.entryKind.clear();
  for (std::size_t i = 0; i < spaces.size(); ++i) {
    const FreeSpace& other = spaces[i];
    const double x0 = std::max(other.x, space.x);
    const double x1 = std::min(other.x + other.length, boxX1);
    const double y0 = std::max(other.y, space.y);
    const double y1 = std::min(other.y + other.width, boxY1);
    const double z0 = std::max(other.z, space.z);
    const double z1 = std::min(other.z + other.height, boxZ1);
    if (x1 > x0 && y1 > y0 && z1 > z0) {
      const OverlapBox overlap{x0, x1, y0, y1, z0, z1, other.openTop && item.stackable};
      for (const FreeSpace& piece : splitAroundOverlap(other, overlap)) {
        if (piece.volume() > MIN_SPACE_VOLUME) {
          workspace.rebuilt.push_back(piece);
          workspace.entryKind.push_back(Entry::NEW);
        }
      }
    } else if (other.volume() > MIN_SPACE_VOLUME) {
      workspace.rebuilt.push_back(other);
      workspace.entryKind.push_back(i >= carriedOver ? Entry::NEW : Entry::CARRIED_OVER);
    }
  }

  foldIdenticalSpaces(workspace);
  sortByVolumeInto(workspace, spaces);
}

}  // namespace stowra
