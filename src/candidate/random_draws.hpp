#pragma once

#include <cstdint>
#include <random>
#include <span>

namespace stowra {

// Every random choice of the search goes through these, written out by hand so that a seed
// gives the same values with any standard library (its distributions differ between versions).

// [0, 1) from two raw outputs a then b: (b * 2^21 + (a >> 11)) * 2^-53.
double unitDraw(std::mt19937& rng);

// a + (b - a) * unitDraw.
double uniformDraw(std::mt19937& rng, double a, double b);

// One unitDraw, true when it is below p.
bool chance(std::mt19937& rng, double p);

// Uniform integer in [lo, hi] (lo <= hi) by multiply-and-reject on 32-bit outputs; the full
// 32-bit range takes one raw output as it is.
std::int32_t boundedDraw(std::mt19937& rng, std::int32_t lo, std::int32_t hi);

// Forward swap shuffle: entry i is exchanged with boundedDraw(0, i) for i = 1 .. size - 1.
void shuffle(std::mt19937& rng, std::span<std::int32_t> values);

}  // namespace stowra
