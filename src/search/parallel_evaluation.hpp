#pragma once

#include <cstdint>
#include <functional>

namespace stowra {

// Runs body(0) .. body(count - 1) on the OpenMP team, one index at a time to whichever thread
// is free. An exception cannot leave the parallel region, so the first one is kept, the
// remaining indices are skipped, and it is rethrown on the calling thread after the region.
void forEachIndexInParallel(std::int32_t count, const std::function<void(std::int32_t)>& body);

}  // namespace stowra
