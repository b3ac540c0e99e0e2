#include "problem/json_row_blocks.hpp"

#include <chrono>
#include <thread>

namespace stowra {

void RowHandoff::read(std::string_view text) {
  std::optional<JsonShipmentOutline> outline;
  std::exception_ptr failure;
  try {
    // Room for a line per row from the start, a row taking at least so many bytes as a rule: a
    // long table's lines are not moved as they grow (nor its pages given back) while the other
    // thread builds.
    tallies_[0].lines.reserve(text.size() / 32);
    outline = readJsonShipmentRows(text, *this);
    if (outline) publish();  // the last rows (a declined read's are of no use)
  } catch (...) {            // out of memory: for the taker to raise, not to end the process
    failure = std::current_exception();
  }
  // Nothing below allocates, so the taker always learns that the read has ended.
  std::lock_guard lock(mutex_);
  outline_ = std::move(outline);
  failure_ = failure;
  ended_ = true;
  news_.fetch_add(1, std::memory_order_release);
  if (takerWaiting_) changed_.notify_one();
}

bool RowHandoff::row(bool items, const ShipmentRow& row, std::span<const ShipmentCell> cells,
                     std::string_view rowTexts) {
  if (stopped_.load(std::memory_order_relaxed)) return false;
  RowTally& tally = tallies_[items ? 0 : 1];
  if (row.quantity != 1 && tally.quantities.size() != tally.lines.size()) {
    tally.quantities.assign(tally.lines.size(), 1);  // the rows before were of one item each
  }
  tally.lines.push_back(row.line);
  tally.items += row.quantity;
  if (!tally.quantities.empty() || row.quantity != 1) tally.quantities.push_back(row.quantity);

  if (filling_.rows.capacity() == 0) {  // a new block: room for its rows at once
    filling_.rows.reserve(BLOCK_ROWS);
    filling_.cells.reserve(BLOCK_ROWS * 8);
  }
  RowBlock::Row& out = filling_.rows.emplace_back();
  out.items = items;
  out.quantity = row.quantity;
  out.firstCell = appendRowCells(cells, rowTexts, filling_.cells, filling_.texts);
  out.cellCount = static_cast<std::uint32_t>(cells.size());
  if (filling_.rows.size() == (published_ == 0 ? FIRST_BLOCK_ROWS : BLOCK_ROWS)) publish();
  return true;
}

void RowHandoff::publish() {
  std::lock_guard lock(mutex_);
  ++published_;
  if (filling_.rows.empty()) return;
  ready_.push_back(std::move(filling_));
  filling_ = RowBlock();
  news_.fetch_add(1, std::memory_order_release);
  if (takerWaiting_) changed_.notify_one();
}

RowHandoff::Taken RowHandoff::take(RowBlock& block, Wait wait) {
  if (wait == Wait::Spin && spinning_) {
    // A block is due within microseconds as a rule, sooner than a sleeping thread is woken. The
    // thread is offered to others meanwhile (the reader's, should it share this core); once a
    // look finds nothing in time, this read's takes sleep instead.
    const auto until = std::chrono::steady_clock::now() + SPIN;
    while (news_.load(std::memory_order_acquire) == newsSeen_) {
      if (std::chrono::steady_clock::now() >= until) {
        spinning_ = false;
        break;
      }
      std::this_thread::yield();
    }
  }
  std::unique_lock lock(mutex_);
  if (wait == Wait::Block) {
    takerWaiting_ = true;
    changed_.wait(lock, [&] { return !ready_.empty() || ended_; });
    takerWaiting_ = false;
  }
  if (ready_.empty()) return ended_ ? Taken::End : Taken::NotYet;
  block = std::move(ready_.front());
  ready_.pop_front();
  // The next take looks for news only once every block published so far was taken.
  newsSeen_ = ready_.empty() && !ended_ ? news_.load(std::memory_order_relaxed) : NO_WAIT;
  return Taken::Block;
}

void RowHandoff::stop() {
  stopped_.store(true, std::memory_order_relaxed);
}

std::optional<JsonShipmentOutline> RowHandoff::outline() {
  std::lock_guard lock(mutex_);
  if (failure_) std::rethrow_exception(failure_);
  return std::move(outline_);
}

}  // namespace stowra
