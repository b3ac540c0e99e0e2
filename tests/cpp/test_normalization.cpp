#include <doctest/doctest.h>

#include <cstdint>
#include <vector>

#include "variation/normalization.hpp"
#include "variation_fixtures.hpp"

using stowra::Individual;
using stowra::normalizeChromosome;
using stowra::testing::individualWith;
using stowra::testing::pretendEvaluated;
using Genes = std::vector<std::int32_t>;

TEST_CASE("normalisation groups the order by factory in order of first appearance") {
  struct Case {
    const char* name;
    Genes factories;
    Genes order;
    Genes expected;
  };
  const std::vector<Case> cases = {
      {"worked example", {7, 3, 7, 9, 3, 7}, {4, 0, 3, 2, 1, 5}, {4, 1, 0, 2, 5, 3}},
      {"one factory keeps the order", {5, 5, 5, 5}, {2, 0, 3, 1}, {2, 0, 3, 1}},
      {"distinct factories keep the order", {1, 2, 3, 4}, {3, 1, 0, 2}, {3, 1, 0, 2}},
      {"interleaved pairs", {1, 2, 1, 2}, {0, 1, 2, 3}, {0, 2, 1, 3}},
      {"negative and large factory values", {-8, 2000000000, -8}, {1, 2, 0}, {1, 2, 0}},
      // Factories by position 1 1 1 2 3 3, positions 1 and 4 swapped: the moved item of
      // factory 1 ends its run and factory 3 moves ahead of factory 2.
      {"after a swap across factories", {1, 1, 1, 2, 3, 3}, {0, 4, 2, 3, 1, 5}, {0, 2, 1, 4, 5, 3}},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    Individual individual = individualWith(c.order, {1, 0, 1, 0, 1, 0}, {1, 0, 1});
    normalizeChromosome(individual, c.factories);
    CHECK(individual.order == c.expected);

    normalizeChromosome(individual, c.factories);  // already grouped: nothing moves
    CHECK(individual.order == c.expected);
  }
}

TEST_CASE("normalisation keeps the genes of items and bins and discards the evaluation") {
  const Genes factories{7, 3, 7, 9, 3, 7};
  Individual individual = individualWith({0, 1, 2, 3, 4, 5}, {1, 0, 0, 1, 1, 0}, {0, 1, 1, 0});
  pretendEvaluated(individual, 12.0);

  normalizeChromosome(individual, factories);

  CHECK(individual.order == Genes{0, 2, 5, 1, 4, 3});
  CHECK(individual.rotations == Genes{1, 0, 0, 1, 1, 0});  // indexed by item, not position
  CHECK(individual.binTypeSequence == Genes{0, 1, 1, 0});
  CHECK(individual.fitness == -1.0);
  CHECK_FALSE(individual.evaluated);
  CHECK(individual.bins.empty());
}
