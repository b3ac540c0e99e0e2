#include "problem/number_format.hpp"

#include <sstream>

namespace stowra {

std::string formatNumber(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace stowra
