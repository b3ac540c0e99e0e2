#pragma once

#include <cstdint>
#include <string>

#include "candidate/individual.hpp"

namespace stowra {

// The texts of the search's progress lines, without the newline.
inline constexpr const char* INITIALIZING_LINE = "GA: Initializing population...";
std::string initialBestLine(double bestFitness);
std::string timeLimitLine(std::int32_t generation);
// `generationNumber` counts from 1.
std::string improvementLine(std::int32_t generationNumber, const Individual& best);
std::string periodicLine(std::int32_t generationNumber, double bestFitness);

// Writes the line, a newline and a flush to the process's standard output. Errors (closed
// stream, broken pipe) are ignored: the lines are progress, the plan is the product.
void writeLineToStdout(const std::string& line);

}  // namespace stowra
