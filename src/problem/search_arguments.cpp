#include "problem/search_arguments.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "problem/number_format.hpp"

namespace stowra {

void checkSearchArguments(std::int32_t popSize, double timeLimit) {
  if (popSize < 1) {
    throw std::invalid_argument("pop_size must be at least 1, got " + std::to_string(popSize));
  }
  if (popSize > MAX_POP_SIZE) {
    throw std::invalid_argument("pop_size must be at most " + std::to_string(MAX_POP_SIZE) +
                                ", got " + std::to_string(popSize));
  }
  if (std::isnan(timeLimit)) throw std::invalid_argument("time_limit must not be NaN");
}

void checkOptimizeArguments(std::int32_t effort, double timeLimit, double balanceLimit) {
  if (effort < 0 || effort > MAX_EFFORT) {
    throw std::invalid_argument("effort must be between 0 and " + std::to_string(MAX_EFFORT) +
                                ", got " + std::to_string(effort));
  }
  if (std::isnan(timeLimit)) throw std::invalid_argument("time_limit must not be NaN");
  if (!(balanceLimit >= 0.5 && balanceLimit <= 1.0)) {
    throw std::invalid_argument("balance_limit must be between 0.5 and 1, got " +
                                formatNumber(balanceLimit));
  }
}

}  // namespace stowra
