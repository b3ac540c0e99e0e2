#pragma once

// Builders and probes shared by the unit tests.

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <tuple>
#include <vector>

#include "candidate/individual.hpp"
#include "problem/bin_type.hpp"
#include "problem/item.hpp"

namespace stowra::testing {

using Genes = std::vector<std::int32_t>;

inline ItemSpec makeItem(double l, double w, double h, double weight = 1.0, bool stackable = true) {
  return makeItemSpec(ItemRow{0, l, w, h, weight, 0, stackable, {}}, 0);
}

inline Individual individualWith(Genes order, Genes rotations, Genes binTypeSequence) {
  Individual individual;
  individual.order = std::move(order);
  individual.rotations = std::move(rotations);
  individual.binTypeSequence = std::move(binTypeSequence);
  return individual;
}

// The same items at the same spots, turned the same way, in the same order.
inline bool samePlacements(std::span<const Placement> a, std::span<const Placement> b) {
  const auto spot = [](const Placement& p) {
    return std::tie(p.itemIndex, p.x, p.y, p.z, p.rotation);
  };
  return std::ranges::equal(a, b, [&](auto& p, auto& q) { return spot(p) == spot(q); });
}

// How many raw outputs `used` has consumed since it was seeded with `seed` (-1: over 100000).
inline std::int64_t rawOutputsConsumed(const std::mt19937& used, std::uint32_t seed) {
  std::mt19937 reference(seed);
  for (std::int64_t k = 0; k <= 100000; ++k, reference.discard(1)) {
    if (reference == used) return k;
  }
  return -1;
}

// A problem together with one chromosome for it.
struct RandomProblem {
  std::vector<ItemSpec> items;
  std::vector<BinType> binTypes;
  Genes order, rotations, binTypeSequence;
};

// Sizes come from a short list most of the time so that equal boxes, and so identical free
// spaces, are common; `binScale` stretches the bins so that free-space lists grow. A weight
// limit of 0 or below means none; small integer weights often meet a limit exactly.
inline RandomProblem randomProblem(std::mt19937& rng, int maxItems = 40, double binScale = 1.0,
                                   int minItems = 1) {
  auto draw = [&](int low, int high) { return std::uniform_int_distribution(low, high)(rng); };
  RandomProblem problem;
  for (int t = 0, types = draw(1, 3); t < types; ++t) {
    const double limit = draw(0, 2) == 0 ? draw(10, 60) : draw(0, 1) == 0 ? 0.0 : -5.0;
    problem.binTypes.push_back(BinType{t == 0 ? "20GP" : "40GP", draw(8, 20) * binScale,
                                       draw(6, 12) * binScale, draw(6, 12) * binScale, t + 1.0,
                                       limit});
  }
  const double sizes[] = {2, 3, 4, 5, 2.5};
  auto side = [&] { return draw(0, 3) == 0 ? double(draw(1, 9)) : sizes[draw(0, 4)]; };
  for (int i = 0, count = draw(minItems, maxItems); i < count; ++i) {
    problem.items.push_back(makeItemSpec(
        ItemRow{i, side(), side(), side(), double(draw(0, 12)), i % 3, draw(0, 4) != 0, {}}, i));
    problem.order.push_back(i);
    problem.rotations.push_back(problem.items.back().allowedRotations.size() == 2 ? draw(0, 1) : 0);
  }
  std::shuffle(problem.order.begin(), problem.order.end(), rng);
  for (int g = draw(0, 4); g > 0; --g) problem.binTypeSequence.push_back(draw(-1, 3));
  return problem;
}

}  // namespace stowra::testing
