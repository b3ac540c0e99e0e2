#include <doctest/doctest.h>
#include <omp.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "search/parallel_evaluation.hpp"

using stowra::forEachIndexInParallel;

namespace {

// Restores the OpenMP thread count the test found.
class ThreadCount {
 public:
  explicit ThreadCount(int threads) : saved_(omp_get_max_threads()) {
    omp_set_num_threads(threads);
  }
  ~ThreadCount() { omp_set_num_threads(saved_); }
  ThreadCount(const ThreadCount&) = delete;
  ThreadCount& operator=(const ThreadCount&) = delete;

 private:
  int saved_;
};

}  // namespace

TEST_CASE("parallel for-each visits every index exactly once") {
  for (const int threads : {1, 2, 3}) {
    CAPTURE(threads);
    ThreadCount count(threads);
    std::vector<int> visits(257, 0);
    forEachIndexInParallel(257, [&visits](std::int32_t index) { ++visits[index]; });
    forEachIndexInParallel(0, [&visits](std::int32_t index) { ++visits[index]; });
    CHECK(visits == std::vector<int>(257, 1));
  }
}

TEST_CASE("an exception inside the parallel region is rethrown on the calling thread") {
  for (const int threads : {1, 2}) {
    CAPTURE(threads);
    ThreadCount count(threads);
    std::vector<int> visits(64, 0);
    const auto failAtTen = [&visits](std::int32_t index) {
      visits[index] = 1;
      if (index == 10) throw std::length_error("vector too long");
    };
    CHECK_THROWS_AS(forEachIndexInParallel(64, failAtTen), std::length_error);
    CHECK(visits[10] == 1);

    // A failure on every index still yields exactly one exception, and the region is left.
    CHECK_THROWS_WITH(
        forEachIndexInParallel(64, [](std::int32_t) { throw std::runtime_error("out of memory"); }),
        "out of memory");
  }
}
