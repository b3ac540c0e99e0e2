#include "optimize/small_start.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <tuple>

#include "candidate/random_draws.hpp"
#include "optimize/column_order.hpp"
#include "optimize/corner_loading.hpp"
#include "optimize/item_orders.hpp"
#include "packing/load_balance.hpp"
#include "packing/wall_packer.hpp"
#include "search/parallel_evaluation.hpp"

namespace stowra {

namespace {

constexpr std::int32_t EITHER_WAY = -1;
// Items offered times loadings up to which one container's loadings run on this thread: so
// little work is over before a team of threads would have met.
constexpr std::size_t SERIAL_LOADING_WORK = 20000;
// Drawn loadings that take the items in a shuffled order rather than kind by kind.
constexpr double SHUFFLED_SHARE = 0.25;

// One way to load a container: the items in this order (grouped by factory), the corner rule,
// and per item the one rotation it must stand in, or EITHER_WAY.
struct Loading {
  std::vector<std::int32_t> order;
  WallRule rule = WallRule::BACK_BOTTOM_SIDE;
  std::vector<std::int32_t> turns;  // by item index; empty: every item either way
  bool atCorners = false;           // loadAtCorners rather than the wall packer
};

// Boxes alike in everything the packer reads share a kind; kinds numbered by first item.
std::vector<std::int32_t> kindsOf(const std::vector<ItemSpec>& items, std::int32_t& kindCount) {
  using Key = std::tuple<std::int32_t, double, double, double, bool, double, double,
                         std::vector<std::int32_t>>;
  std::map<Key, std::int32_t> numbers;
  std::vector<std::int32_t> kinds;
  kinds.reserve(items.size());
  for (const ItemSpec& item : items) {
    const Key key{item.factory,   item.l,      item.w,       item.h,
                  item.stackable, item.weight, item.maxLoad, item.allowedRotations};
    const auto [at, added] = numbers.try_emplace(key, static_cast<std::int32_t>(numbers.size()));
    kinds.push_back(at->second);
  }
  kindCount = static_cast<std::int32_t>(numbers.size());
  return kinds;
}

// The load's volume, each box's raised to `power` and times its worth.
double loadValue(const PackedBin& bin, const std::vector<ItemSpec>& items, double power,
                 const std::vector<double>& worth) {
  double value = 0.0;
  for (const Placement& placement : bin.placements) {
    const auto index = static_cast<std::size_t>(placement.itemIndex);
    const double volume = items[index].volume;
    const double sized = power == 1.0 ? volume : std::pow(volume, power);
    value += worth.empty() ? sized : sized * worth[index];
  }
  return value;
}

// A plan's score as the plan search ranks plans: items left out, cost, containers out of
// balance, then the sum of squared fills (higher is better).
struct FillScore {
  std::size_t leftOut = 0;
  double cost = 0.0;
  std::int32_t unbalanced = 0;
  double fillSpread = 0.0;

  bool betterThan(const FillScore& other) const {
    if (leftOut != other.leftOut) return leftOut < other.leftOut;
    if (cost != other.cost) return cost < other.cost;
    if (unbalanced != other.unbalanced) return unbalanced < other.unbalanced;
    return fillSpread > other.fillSpread;
  }
};

FillScore scoreOf(const std::vector<PackedBin>& bins, const std::vector<ItemSpec>& items,
                  double balanceLimit) {
  FillScore score;
  std::size_t placed = 0;
  for (const PackedBin& bin : bins) {
    placed += bin.placements.size();
    score.cost += bin.cost;
    score.fillSpread += bin.spaceUtilization * bin.spaceUtilization;
    if (balanceLimit < 1.0 && centredShare(bin, items, balanceLimit) > balanceLimit) {
      ++score.unbalanced;
    }
  }
  score.leftOut = items.size() - placed;
  return score;
}

// The loading of `type` in a container numbered `binId`; turns restrict items to one rotation
// on a copy of the items (placements keep the items' own rotation codes).
PackedBin load(const Loading& loading, std::int32_t type, std::int32_t binId,
               const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
               const std::vector<std::int32_t>& preference, bool pickupOrder) {
  std::vector<ItemSpec> turned;
  if (!loading.turns.empty()) {
    turned = items;
    for (const std::int32_t index : loading.order) {
      const std::int32_t turn = loading.turns[static_cast<std::size_t>(index)];
      if (turn != EITHER_WAY) turned[static_cast<std::size_t>(index)].allowedRotations = {turn};
    }
  }
  const std::vector<ItemSpec>& used = loading.turns.empty() ? items : turned;
  if (loading.atCorners) {
    return loadAtCorners(loading.order, loading.rule, type, binId, used, binTypes, pickupOrder);
  }
  WallPacker packer(used, binTypes, preference);
  packer.rule = loading.rule;
  packer.pickupOrder = pickupOrder;
  PackedBin bin = openBin(binTypes, type, static_cast<std::size_t>(binId - 1));
  PackedBin* target = &bin;
  for (const std::int32_t index : loading.order) {
    packer.placeInAny(std::span<PackedBin*>(&target, 1), index);
  }
  return bin;
}

}  // namespace

bool fewBoxesPerContainer(const std::vector<ItemSpec>& items, const std::vector<BinType>& binTypes,
                          const std::vector<std::int32_t>& preference) {
  if (items.empty() || preference.empty()) return false;
  const BinType& type = binTypes[static_cast<std::size_t>(preference.front())];
  const double capacity = type.l * type.w * type.h;
  double volume = 0.0;
  for (const ItemSpec& item : items) volume += item.volume;
  if (!(capacity > 0)) return false;
  const double containers = std::max(1.0, std::ceil(volume / capacity));
  const auto boxes = static_cast<double>(items.size());
  return boxes / containers <= FEW_BOXES_PER_CONTAINER && boxes * containers <= MAX_FILL_WORK;
}

std::vector<PackedBin> fillOneByOne(const std::vector<ItemSpec>& items,
                                    const std::vector<BinType>& binTypes,
                                    const std::vector<std::int32_t>& preference,
                                    const FillConfig& config, const StopCheck& stop) {
  std::int32_t kindCount = 0;
  const std::vector<std::int32_t> kinds = kindsOf(items, kindCount);
  std::mt19937 rng(config.seed);
  std::vector<PackedBin> bins;
  std::vector<std::int32_t> left = config.only;
  if (left.empty()) {
    left.resize(items.size());
    std::iota(left.begin(), left.end(), 0);
  }
  while (!left.empty() && !(stop && stop())) {
    const auto binId = static_cast<std::int32_t>(bins.size() + 1);
    std::vector<Loading> loadings;
    // The sorted orders first: with every drawn loading refused they still fill well.
    for (std::int32_t rule = 0; rule < WALL_RULE_COUNT; ++rule) {
      for (const ItemOrder& key : startingKeys()) {
        loadings.push_back({groupedOrder(items, left, key), static_cast<WallRule>(rule), {}});
      }
    }
    // Drawn: kinds in a shuffled order (or every item shuffled), a rule, and each kind
    // standing one way, the other, either (the packer's choice) or each box drawn; the draws
    // never depend on what the loadings give.
    std::vector<std::int32_t> rank(static_cast<std::size_t>(kindCount));
    std::vector<std::int32_t> ways(static_cast<std::size_t>(kindCount));
    for (std::int32_t drawn = 0; drawn < config.drawnLoadings; ++drawn) {
      Loading loading;
      loading.rule = static_cast<WallRule>(boundedDraw(rng, 0, WALL_RULE_COUNT - 1));
      loading.order = left;
      if (chance(rng, SHUFFLED_SHARE)) {
        shuffle(rng, loading.order);
        std::stable_sort(loading.order.begin(), loading.order.end(),
                         [&](std::int32_t a, std::int32_t b) {
                           return items[static_cast<std::size_t>(a)].factory <
                                  items[static_cast<std::size_t>(b)].factory;
                         });
      } else {
        std::iota(rank.begin(), rank.end(), 0);
        shuffle(rng, rank);
        const auto rankOf = [&](std::int32_t index) {
          return rank[static_cast<std::size_t>(kinds[static_cast<std::size_t>(index)])];
        };
        std::stable_sort(loading.order.begin(), loading.order.end(),
                         [&](std::int32_t a, std::int32_t b) {
                           const std::int32_t fa = items[static_cast<std::size_t>(a)].factory;
                           const std::int32_t fb = items[static_cast<std::size_t>(b)].factory;
                           if (fa != fb) return fa < fb;
                           return rankOf(a) < rankOf(b);
                         });
      }
      for (std::int32_t& way : ways) way = boundedDraw(rng, 0, 3);
      loading.turns.assign(items.size(), EITHER_WAY);
      for (const std::int32_t index : loading.order) {
        const ItemSpec& item = items[static_cast<std::size_t>(index)];
        const std::int32_t way =
            ways[static_cast<std::size_t>(kinds[static_cast<std::size_t>(index)])];
        // A box that may not turn, or looks the same turned, stands as the packer puts it.
        if (item.allowedRotations.size() < 2 || item.l == item.w || way == 0) continue;
        loading.turns[static_cast<std::size_t>(index)] =
            way == 3 ? boundedDraw(rng, 0, 1) : way - 1;
      }
      loadings.push_back(std::move(loading));
    }
    // Every loading again at corners, where a box may bridge boxes of one height.
    const std::size_t walled = loadings.size();
    for (std::size_t k = 0; k < walled; ++k) {
      loadings.push_back(loadings[k]);
      loadings.back().atCorners = true;
    }

    std::optional<PackedBin> chosen;
    for (const std::int32_t type : preference) {
      const BinType& binType = binTypes[static_cast<std::size_t>(type)];
      loadings.push_back({columnOrder(items, left, binType.h), WallRule::BACK_BOTTOM_SIDE, {}});
      std::vector<PackedBin> loaded(loadings.size());
      const auto loadOne = [&](std::int32_t at) {
        loaded[static_cast<std::size_t>(at)] =
            load(loadings[static_cast<std::size_t>(at)], type, binId, items, binTypes, preference,
                 config.pickupOrder);
      };
      const auto count = static_cast<std::int32_t>(loadings.size());
      if (left.size() * loadings.size() <= SERIAL_LOADING_WORK) {
        for (std::int32_t at = 0; at < count; ++at) loadOne(at);
      } else {
        forEachIndexInParallel(count, loadOne);
      }
      loadings.pop_back();
      // Of loadings worth the same, the one whose load can be moved into balance best.
      double most = 0.0;
      double share = 0.0;
      for (PackedBin& bin : loaded) {
        const double value = loadValue(bin, items, config.sizePower, config.worth);
        if (!(value >= most) || value == 0.0) continue;
        const double centred = centredShare(bin, items, config.balanceLimit);
        if (value > most || centred < share) {
          most = value;
          share = centred;
          chosen = std::move(bin);
        }
      }
      if (chosen) break;  // else nothing left fits this type: the next one
    }
    if (!chosen) break;  // nothing left fits any type: left out
    std::vector<bool> placed(items.size(), false);
    for (const Placement& placement : chosen->placements) {
      placed[static_cast<std::size_t>(placement.itemIndex)] = true;
    }
    std::erase_if(left,
                  [&](std::int32_t index) { return placed[static_cast<std::size_t>(index)]; });
    bins.push_back(std::move(*chosen));
  }
  return bins;
}

std::vector<PackedBin> fillWithCorrections(const std::vector<ItemSpec>& items,
                                           const std::vector<BinType>& binTypes,
                                           const std::vector<std::int32_t>& preference,
                                           const FillConfig& config, std::int32_t rounds,
                                           const StopCheck& stop) {
  std::int32_t kindCount = 0;
  const std::vector<std::int32_t> kinds = kindsOf(items, kindCount);
  std::vector<double> kindWorth(static_cast<std::size_t>(kindCount), 1.0);
  FillConfig round = config;
  std::mt19937 rng(config.seed);
  std::vector<PackedBin> best;
  std::optional<FillScore> bestScore;
  for (std::int32_t at = 0; at < rounds; ++at) {
    round.seed = rng();
    round.worth.resize(items.size());
    for (std::size_t index = 0; index < items.size(); ++index) {
      round.worth[index] = kindWorth[static_cast<std::size_t>(kinds[index])];
    }
    std::vector<PackedBin> bins = fillOneByOne(items, binTypes, preference, round, stop);
    if (stop && stop()) break;  // a plan cut short leaves items out: no measure of anything
    const FillScore score = scoreOf(bins, items, config.balanceLimit);
    if (!bestScore || score.betterThan(*bestScore)) {
      bestScore = score;
      best = bins;
    }
    // A kind's new worth: the mean over its boxes of how much room their container had for
    // each unit loaded (1 / fill), so the kinds that were left to fill empty containers count
    // for more; half the old worth is kept, so the plans settle rather than swing.
    std::vector<double> sum(static_cast<std::size_t>(kindCount), 0.0);
    std::vector<double> count(static_cast<std::size_t>(kindCount), 0.0);
    for (const PackedBin& bin : bins) {
      if (!(bin.spaceUtilization > 0)) continue;
      for (const Placement& placement : bin.placements) {
        const auto kind =
            static_cast<std::size_t>(kinds[static_cast<std::size_t>(placement.itemIndex)]);
        sum[kind] += 1.0 / bin.spaceUtilization;
        count[kind] += 1.0;
      }
    }
    for (std::size_t kind = 0; kind < kindWorth.size(); ++kind) {
      if (count[kind] > 0) kindWorth[kind] = 0.5 * kindWorth[kind] + 0.5 * sum[kind] / count[kind];
    }
  }
  return best;
}

void refillEmptiest(std::vector<PackedBin>& bins, const std::vector<ItemSpec>& items,
                    const std::vector<BinType>& binTypes,
                    const std::vector<std::int32_t>& preference, const FillConfig& config,
                    const StopCheck& stop) {
  std::mt19937 rng(config.seed);
  for (bool saved = true; saved && bins.size() > 1;) {
    saved = false;
    std::vector<std::size_t> byFill(bins.size());
    std::iota(byFill.begin(), byFill.end(), std::size_t{0});
    std::stable_sort(byFill.begin(), byFill.end(), [&](std::size_t a, std::size_t b) {
      return bins[a].spaceUtilization < bins[b].spaceUtilization;
    });
    const std::size_t tail = std::min(REFILL_TAIL, bins.size());
    double largest = 0.0;  // the most one container of any type holds, by volume
    for (const std::int32_t type : preference) {
      const BinType& binType = binTypes[static_cast<std::size_t>(type)];
      largest = std::max(largest, binType.l * binType.w * binType.h);
    }
    for (std::size_t taken = std::max<std::size_t>(tail, 2);
         taken <= std::min(tail + REFILL_MORE, bins.size()) && !saved; taken += REFILL_STEP) {
      if (stop && stop()) return;
      FillConfig refill = config;
      refill.seed = rng();
      refill.only.clear();
      double cost = 0.0;
      double volume = 0.0;
      for (std::size_t k = 0; k < taken; ++k) {
        const PackedBin& bin = bins[byFill[k]];
        cost += bin.cost;
        volume += bin.spaceUtilization * bin.volume();
        for (const Placement& placement : bin.placements) {
          refill.only.push_back(placement.itemIndex);
        }
      }
      // Too much for one container fewer, even with no gaps at all.
      if (volume > static_cast<double>(taken - 1) * largest) continue;
      std::sort(refill.only.begin(), refill.only.end());
      std::vector<PackedBin> made =
          fillWithCorrections(items, binTypes, preference, refill, REFILL_ROUNDS, stop);
      std::size_t placed = 0;
      double madeCost = 0.0;
      for (const PackedBin& bin : made) {
        placed += bin.placements.size();
        madeCost += bin.cost;
      }
      if (placed != refill.only.size() || !(madeCost < cost)) continue;
      // The kept containers in their order, then the new ones.
      std::vector<bool> replaced(bins.size(), false);
      for (std::size_t k = 0; k < taken; ++k) replaced[byFill[k]] = true;
      std::vector<PackedBin> next;
      for (std::size_t b = 0; b < bins.size(); ++b) {
        if (!replaced[b]) next.push_back(std::move(bins[b]));
      }
      for (PackedBin& bin : made) next.push_back(std::move(bin));
      for (std::size_t b = 0; b < next.size(); ++b) next[b].id = static_cast<std::int32_t>(b + 1);
      bins = std::move(next);
      saved = true;
    }
  }
}

}  // namespace stowra
