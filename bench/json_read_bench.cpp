// Reading a JSON shipment's text without Python, to set against the whole read that
// `_core.read_json_shipment` does (which also builds the rows' objects):
//   parse:  the parse and the row checks alone, each row counted and dropped;
//   blocks: the same into the blocks of changed cells the object builder takes, taken on the
//           same thread (what the reading thread does beside the builder).
//
//   json_read_bench FILE.json [runs]
//
// Prints the best and the median time of the runs of each, and the bytes per nanosecond of the
// best.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "problem/json_row_blocks.hpp"
#include "problem/json_shipment.hpp"

namespace {

class RowCount final : public stowra::ShipmentRowSink {
 public:
  std::size_t items = 0;
  bool row(bool isItem, const stowra::ShipmentRow&, std::span<const stowra::ShipmentCell>,
           std::string_view) override {
    items += isItem;
    return true;
  }
};

// The item rows read, or 0 when the text was declined.
std::size_t parse(const std::string& text) {
  RowCount counted;
  return stowra::readJsonShipmentRows(text, counted) ? counted.items : 0;
}

std::size_t blocks(const std::string& text) {
  stowra::RowHandoff handoff;
  handoff.read(text);
  stowra::RowBlock block;
  while (handoff.take(block, stowra::RowHandoff::Wait::No) == stowra::RowHandoff::Taken::Block) {
  }
  return handoff.outline() ? handoff.tally(true).lines.size() : 0;
}

}  // namespace

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
  const std::pair<const char*, std::function<std::size_t(const std::string&)>> ways[] = {
      {"parse", parse}, {"blocks", blocks}};
  for (const auto& [name, way] : ways) {
    std::vector<double> taken;
    std::size_t rows = 0;
    for (int run = 0; run < runs; ++run) {
      const auto start = std::chrono::steady_clock::now();
      rows = way(text);
      taken.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      if (rows == 0) {
        std::fprintf(stderr, "%s: declined\n", argv[1]);
        return 1;
      }
    }
    std::sort(taken.begin(), taken.end());
    std::printf("%s %s: %zu bytes, %zu item rows, best %.3f ms, median %.3f ms, %.2f bytes/ns\n",
                argv[1], name, text.size(), rows, taken.front(), taken[taken.size() / 2],
                static_cast<double>(text.size()) / (taken.front() * 1e6));
  }
}
