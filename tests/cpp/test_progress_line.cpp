#include <doctest/doctest.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "search/individual.hpp"
#include "search/progress_line.hpp"

using stowra::Individual;

TEST_CASE("progress line texts") {
  CHECK(std::string(stowra::INITIALIZING_LINE) == "GA: Initializing population...");
  CHECK(stowra::initialBestLine(1.7976931348623157e308) ==
        "GA: Initial best fitness = 1.79769e+308");
  CHECK(stowra::initialBestLine(2500000.0) == "GA: Initial best fitness = 2.5e+06");
  CHECK(stowra::timeLimitLine(0) == "GA: Time limit reached at generation 0");
  CHECK(stowra::periodicLine(20, -812.25) == "GA: Generation 20 best fitness = -812.25");

  Individual best;
  best.fitness = 14231.123456;
  best.cost = 150.0;
  best.sum20 = 1;
  best.sum40 = 2;
  best.utilization = 0.00001;
  best.centerPenalty = 12.5;
  best.weightPenalty = 0.0;
  CHECK(stowra::improvementLine(7, best) ==
        "GA: Generation 7 best fitness = 14231.1 (cost=150, 20GP=1, 40GP=2, util=1e-05, "
        "cp=12.5, wp=0)");
}

namespace {

// Points file descriptor 1 at `target` for the lifetime of the object.
class StdoutRedirect {
 public:
  explicit StdoutRedirect(int target) : saved_(dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    dup2(target, STDOUT_FILENO);
  }
  ~StdoutRedirect() {
    std::fflush(stdout);
    std::clearerr(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  StdoutRedirect(const StdoutRedirect&) = delete;
  StdoutRedirect& operator=(const StdoutRedirect&) = delete;

 private:
  int saved_;
};

}  // namespace

TEST_CASE("lines reach the process's standard output, and write errors are ignored") {
  int fds[2];
  REQUIRE(pipe(fds) == 0);

  SUBCASE("a line, its newline, flushed") {
    {
      StdoutRedirect redirect(fds[1]);
      stowra::writeLineToStdout("GA: hello");
    }
    close(fds[1]);
    char buffer[64] = {};
    const ssize_t got = read(fds[0], buffer, sizeof buffer - 1);
    close(fds[0]);
    CHECK(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0) == "GA: hello\n");
  }
  SUBCASE("a broken pipe neither stops the caller nor leaves the stream in error") {
    close(fds[0]);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);  // as the Python interpreter does
    bool streamClean = false;
    {
      StdoutRedirect redirect(fds[1]);
      stowra::writeLineToStdout("GA: nobody reads this");
      stowra::writeLineToStdout("GA: nor this");
      streamClean = std::ferror(stdout) == 0;
    }
    std::signal(SIGPIPE, previous);
    close(fds[1]);
    CHECK(streamClean);
  }
}
