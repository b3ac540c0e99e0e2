#pragma once

#include <string>

namespace stowra {

// Six significant digits in the manner of printf's %g (590, 0.5, -0, 1e-05, 1.23457e+06):
// the one number format of every message and progress line.
std::string formatNumber(double value);

}  // namespace stowra
