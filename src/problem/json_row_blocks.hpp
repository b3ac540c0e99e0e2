#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "problem/json_shipment.hpp"

namespace stowra {

// A JSON shipment's rows passed from the thread that reads the text to the one that makes
// objects of them, a block at a time, so that the two run side by side. Blocks are taken in the
// order the rows were read: what is made of them does not depend on which thread read them.

struct RowBlock {
  struct Row {
    bool items = true;
    std::int64_t quantity = 1;
    std::uint32_t firstCell = 0;  // into cells
    std::uint32_t cellCount = 0;
  };
  std::vector<Row> rows;
  std::vector<ShipmentCell> cells;  // a Text cell's textStart into texts
  std::string texts;
};

// What a table's rows say beside their cells, kept whole until the read ends.
struct RowTally {
  std::vector<std::uint32_t> lines;
  std::vector<std::int64_t> quantities;  // empty while every row is one item
  std::int64_t items = 0;                // the quantities' sum
};

class RowHandoff final : public ShipmentRowSink {
 public:
  enum class Taken { Block, NotYet, End };
  // Whether `take` waits for a block while the reader is behind: not at all, by looking for a
  // short while (the thread kept, but yielded to others), or until one comes (it sleeps).
  enum class Wait { No, Spin, Block };

  // The reading side: reads `text` to its end (or until stopped), handing its rows on.
  void read(std::string_view text);
  bool row(bool items, const ShipmentRow& row, std::span<const ShipmentCell> cells,
           std::string_view texts) override;

  // The taking side: the next block of rows into `block` (in place of the one it held), or
  // NotYet while the reader is behind, or End once every row was taken.
  Taken take(RowBlock& block, Wait wait);
  // Makes the reader stop at its next row (its read is then declined).
  void stop();

  // Once End was taken: the read's outline (none when declined) or what the reader threw, and
  // each table's lines and quantities.
  std::optional<JsonShipmentOutline> outline();
  const RowTally& tally(bool items) const { return tallies_[items ? 0 : 1]; }

 private:
  static constexpr std::size_t FIRST_BLOCK_ROWS = 32;  // the taker starts soon
  static constexpr std::size_t BLOCK_ROWS = 512;
  static constexpr std::chrono::microseconds SPIN{200};

  void publish();

  // The reader's own.
  RowBlock filling_;
  std::size_t published_ = 0;
  RowTally tallies_[2];

  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> stopped_{false};
  std::deque<RowBlock> ready_;
  bool ended_ = false;
  bool takerWaiting_ = false;
  // Blocks published and the end, counted; on a cache line of its own, which the reader
  // writes once a block and the taker reads while it looks.
  alignas(64) std::atomic<std::size_t> news_{0};
  static constexpr std::size_t NO_WAIT = ~std::size_t{0};  // news_ never comes to it
  alignas(64) std::size_t newsSeen_ = 0;  // the taker's own: news_ when it last took
  bool spinning_ = true;                  // the taker's own
  std::optional<JsonShipmentOutline> outline_;
  std::exception_ptr failure_;
};

}  // namespace stowra
