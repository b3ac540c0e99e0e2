#include "search/parallel_evaluation.hpp"

#include <atomic>
#include <exception>

#include "candidate/fitness.hpp"
#include "search/genetic_solver.hpp"

namespace stowra {

void forEachIndexInParallel(std::int32_t count, const std::function<void(std::int32_t)>& body) {
  std::exception_ptr firstFailure;
  std::atomic<bool> failed{false};
#pragma omp parallel shared(firstFailure, failed, body, count)
  {
#pragma omp for schedule(dynamic, 1)
    for (std::int32_t index = 0; index < count; ++index) {
      if (failed.load(std::memory_order_relaxed)) continue;
      try {
        body(index);
      } catch (...) {
#pragma omp critical(stowra_parallel_failure)
        {
          if (!firstFailure) firstFailure = std::current_exception();
        }
        failed.store(true, std::memory_order_relaxed);
      }
    }
  }
  if (firstFailure) std::rethrow_exception(firstFailure);
}

void GeneticSolver::evaluatePopulation() {
  const auto count = static_cast<std::int32_t>(population.size());
  forEachIndexInParallel(count, [this](std::int32_t index) {
    Individual& member = population[static_cast<std::size_t>(index)];
    if (!member.evaluated) evaluate(member, items, binTypes, totalWeight);
  });
}

}  // namespace stowra
