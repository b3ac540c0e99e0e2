// Decoding speed: items placed per second on realistic container loads.
//
//   decode_bench [BR-file] [seconds per load]
//
// Loads: problem 1 of the BR1 benchmark file (cartons of three sizes) and a generated mix of
// 20-60 cm cartons, each into 20GP / 40GP containers.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "candidate/fitness.hpp"

using namespace stowra;

namespace {

ItemSpec carton(double l, double w, double h, double weight, bool stackable = true) {
  ItemRow row;
  row.l = l;
  row.w = w;
  row.h = h;
  row.weight = weight;
  row.stackable = stackable;
  return makeItemSpec(row, 0);
}

std::vector<BinType> containers() {
  BinType twenty{"20GP", 590, 234, 230, 1500, 28000, true};
  BinType forty{"40GP", 1203, 234, 230, 2800, 26500, true};
  return {twenty, forty};
}

// The first problem of a BR file: one item per box, length/width/height as listed.
std::vector<ItemSpec> readFirstBrProblem(const std::filesystem::path& path) {
  std::ifstream in(path);
  int problems = 0, number = 0, types = 0;
  long seed = 0;
  double containerL = 0, containerW = 0, containerH = 0;
  in >> problems >> number >> seed >> containerL >> containerW >> containerH >> types;
  std::vector<ItemSpec> items;
  for (int t = 0; t < types && in; ++t) {
    int type = 0, flag1 = 0, flag2 = 0, flag3 = 0, count = 0;
    double d1 = 0, d2 = 0, d3 = 0;
    in >> type >> d1 >> flag1 >> d2 >> flag2 >> d3 >> flag3 >> count;
    for (int c = 0; c < count; ++c) items.push_back(carton(d1, d2, d3, 10.0 + t));
  }
  return items;
}

std::vector<ItemSpec> cartonMix(std::size_t count, std::mt19937& rng) {
  std::uniform_int_distribution<int> side(20, 60);
  std::uniform_int_distribution<int> weight(5, 30);
  std::uniform_int_distribution<int> percent(0, 99);
  std::vector<ItemSpec> items;
  for (std::size_t i = 0; i < count; ++i) {
    items.push_back(carton(side(rng), side(rng), side(rng), weight(rng), percent(rng) >= 10));
  }
  return items;
}

// Input order plus shuffled orders with random rotations and bin genes, as a search sees them.
std::vector<Individual> chromosomes(const std::vector<ItemSpec>& items, std::size_t count,
                                    std::mt19937& rng) {
  std::vector<Individual> result;
  for (std::size_t k = 0; k < count; ++k) {
    Individual individual;
    individual.order.resize(items.size());
    std::iota(individual.order.begin(), individual.order.end(), 0);
    if (k > 0) std::shuffle(individual.order.begin(), individual.order.end(), rng);
    for (const ItemSpec& item : items) {
      const auto& allowed = item.allowedRotations;
      individual.rotations.push_back(k == 0 ? 0 : allowed[rng() % allowed.size()]);
    }
    for (int g = 0; g < 6; ++g) individual.binTypeSequence.push_back(static_cast<int>(rng() % 2));
    result.push_back(std::move(individual));
  }
  return result;
}

void run(const char* name, const std::vector<ItemSpec>& items, double seconds) {
  const std::vector<BinType> types = containers();
  std::mt19937 rng(12345);
  std::vector<Individual> population = chromosomes(items, 16, rng);
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::size_t decodes = 0;
  std::size_t bins = 0;
  double elapsed = 0.0;
  do {
    for (Individual& individual : population) {
      decode(individual, items, types);
      bins += individual.bins.size();
    }
    decodes += population.size();
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  const double itemsPerSecond = static_cast<double>(decodes * items.size()) / elapsed;
  std::printf("%-28s %4zu items  %7zu decodes  %5.2f bins/decode  %9.0f items/s  %7.3f ms/decode\n",
              name, items.size(), decodes, static_cast<double>(bins) / static_cast<double>(decodes),
              itemsPerSecond, 1000.0 * elapsed / static_cast<double>(decodes));
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path source = std::filesystem::path(__FILE__).parent_path().parent_path();
  const std::filesystem::path brFile =
      argc > 1 ? std::filesystem::path(argv[1]) : source / "data/container-loading/BR1.txt";
  const double seconds = argc > 2 ? std::stod(argv[2]) : 3.0;

  const std::vector<ItemSpec> brItems = readFirstBrProblem(brFile);
  if (brItems.empty()) {
    std::fprintf(stderr, "no items read from %s\n", brFile.c_str());
    return 1;
  }
  std::mt19937 rng(2024);
  run("BR1 problem 1", brItems, seconds);
  run("cartons 20-60 cm", cartonMix(300, rng), seconds);
  return 0;
}
