#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "candidate/individual.hpp"
#include "problem/item.hpp"

namespace stowra {

// Exchanges two distinct positions (needs at least two entries).
void swapMutation(std::mt19937& rng, std::span<std::int32_t> order);

// Redraws the rotation gene of min(n, 5) randomly drawn items among their allowed rotations;
// an item with a single allowed rotation costs only the item draw.
void rotationMutation(std::mt19937& rng, std::span<std::int32_t> rotations,
                      const std::vector<ItemSpec>& items);

// Flips one gene between 0 and 1; an empty list draws nothing.
void binFlipMutation(std::mt19937& rng, std::span<std::int32_t> binTypeSequence);

// Three independent steps, each tested with `mutationRate` in every call: swap (followed by
// normalisation), rotations, bin flip. Always leaves the individual unevaluated.
void mutate(std::mt19937& rng, Individual& individual, const std::vector<ItemSpec>& items,
            const std::vector<std::int32_t>& itemFactories, double mutationRate);

}  // namespace stowra
