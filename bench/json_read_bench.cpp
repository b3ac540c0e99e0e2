// Reading a JSON shipment's text without Python: the parse and the row checks alone, to set
// against the whole read that `_core.read_json_shipment` does (which also builds the rows).
//
//   json_read_bench FILE.json [runs]
//
// Prints the best and the median time of the runs, and the bytes per nanosecond of the best.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "problem/json_shipment.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: json_read_bench FILE.json [runs]\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::stringstream buffer;
  buffer << file.rdbuf();
  const std::string text = buffer.str();
  const int runs = argc > 2 ? std::atoi(argv[2]) : 15;
  std::vector<double> taken;
  std::size_t rows = 0;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    std::string declined;
    const auto read = stowra::readJsonShipment(text, &declined);
    taken.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (!read) {
      std::fprintf(stderr, "declined: %s\n", declined.c_str());
      return 1;
    }
    rows = read->items.rows.size();
  }
  std::sort(taken.begin(), taken.end());
  std::printf("%s: %zu bytes, %zu item rows, best %.3f ms, median %.3f ms, %.2f bytes/ns\n",
              argv[1], text.size(), rows, taken.front(), taken[taken.size() / 2],
              static_cast<double>(text.size()) / (taken.front() * 1e6));
}
