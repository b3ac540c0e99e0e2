// Times one default search (pop size 100, 50 generations) on a 200-item problem with a 20-foot
// and a 40-foot container type. Usage: search_bench [threads] [items] [seed] [generations]
#include <omp.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "candidate/random_draws.hpp"
#include "problem/number_format.hpp"
#include "search/genetic_solver.hpp"

namespace {

stowra::BinType container(const char* name, double length, double cost, double weightLimit) {
  stowra::BinType type;
  type.id = name;
  type.l = length;
  type.w = 235.0;
  type.h = 239.0;
  type.cost = cost;
  type.weight_limit = weightLimit;
  return type;
}

}  // namespace

int main(int argc, char** argv) {
  const int threads = argc > 1 ? std::atoi(argv[1]) : 0;
  const int itemCount = argc > 2 ? std::atoi(argv[2]) : 200;
  const auto seed = static_cast<std::uint32_t>(argc > 3 ? std::atoll(argv[3]) : 42);
  const int generations = argc > 4 ? std::atoi(argv[4]) : 50;
  if (threads > 0) omp_set_num_threads(threads);

  const std::vector<stowra::BinType> binTypes{container("20GP", 590.0, 1000.0, 21770.0),
                                              container("40GP", 1203.0, 1600.0, 26680.0)};
  std::vector<stowra::ItemSpec> items;
  std::mt19937 rng(12345);
  const double sides[] = {30.0, 45.0, 50.0, 60.0, 75.0, 80.0, 100.0, 120.0};
  for (int i = 0; i < itemCount; ++i) {
    stowra::ItemRow row;
    row.id = i + 1;
    row.l = sides[stowra::boundedDraw(rng, 0, 7)];
    row.w = sides[stowra::boundedDraw(rng, 0, 7)];
    row.h = sides[stowra::boundedDraw(rng, 0, 6)];
    row.weight = 5.0 + stowra::boundedDraw(rng, 0, 300);
    row.factory = 1 + stowra::boundedDraw(rng, 0, 3);
    row.stackable = stowra::boundedDraw(rng, 0, 5) != 0;
    items.push_back(stowra::makeItemSpec(row, static_cast<std::size_t>(i)));
  }
  const std::vector<std::int32_t> factories = stowra::itemFactoriesOf(items);
  const double totalWeight = stowra::totalItemWeight(items);

  stowra::GeneticSolver solver(items, binTypes, factories, totalWeight, seed);
  solver.generations = generations;
  const auto start = std::chrono::steady_clock::now();
  const stowra::Individual best = solver.run();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

  std::printf("threads=%d items=%d bins=%zu fitness=%s wall=%.3fs\n", omp_get_max_threads(),
              itemCount, best.bins.size(), stowra::formatNumber(best.fitness).c_str(),
              elapsed.count());
  return 0;
}
