#include "search/progress_line.hpp"

#include <cstdio>

#include "problem/number_format.hpp"

namespace stowra {

std::string initialBestLine(double bestFitness) {
  return "GA: Initial best fitness = " + formatNumber(bestFitness);
}

std::string timeLimitLine(std::int32_t generation) {
  return "GA: Time limit reached at generation " + std::to_string(generation);
}

std::string improvementLine(std::int32_t generationNumber, const Individual& best) {
  return "GA: Generation " + std::to_string(generationNumber) +
         " best fitness = " + formatNumber(best.fitness) + " (cost=" + formatNumber(best.cost) +
         ", 20GP=" + std::to_string(best.sum20) + ", 40GP=" + std::to_string(best.sum40) +
         ", util=" + formatNumber(best.utilization) + ", cp=" + formatNumber(best.centerPenalty) +
         ", wp=" + formatNumber(best.weightPenalty) + ")";
}

std::string periodicLine(std::int32_t generationNumber, double bestFitness) {
  return "GA: Generation " + std::to_string(generationNumber) +
         " best fitness = " + formatNumber(bestFitness);
}

void writeLineToStdout(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  // A failed write must not poison later ones (or anyone else's) with a sticky error flag.
  if (std::ferror(stdout)) std::clearerr(stdout);
}

}  // namespace stowra
