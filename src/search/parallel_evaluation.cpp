#include "search/parallel_evaluation.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>

#include "candidate/fitness.hpp"
#include "search/chromosome_index.hpp"
#include "search/genetic_solver.hpp"
#include "variation/initial_population.hpp"

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

void GeneticSolver::evaluatePopulation(std::span<const Individual> alreadyDecoded) {
  // Each distinct chromosome is decoded once. A member repeating an evaluated individual (a
  // clone that crossover and mutation left unchanged) takes its figures; repeats among the
  // new members wait for the first of them. Evaluation is deterministic, so the figures are
  // those a decoding would give.
  ChromosomeIndex evaluated;
  for (const Individual& known : alreadyDecoded) {
    if (known.evaluated) evaluated.add(known, chromosomeHash(known));
  }
  for (const Individual& member : population) {
    if (member.evaluated) evaluated.add(member, chromosomeHash(member));
  }
  ChromosomeIndex pending;
  std::vector<std::size_t> toDecode;
  std::vector<std::pair<Individual*, const Individual*>> repeats;
  for (Individual& member : population) {
    if (member.evaluated) continue;
    const std::uint64_t hash = chromosomeHash(member);
    if (const Individual* same = evaluated.find(member, hash)) {
      member = *same;
    } else if (const Individual* first = pending.find(member, hash)) {
      repeats.emplace_back(&member, first);
    } else {
      pending.add(member, hash);
      toDecode.push_back(static_cast<std::size_t>(&member - population.data()));
    }
  }

  forEachIndexInParallel(static_cast<std::int32_t>(toDecode.size()), [&](std::int32_t index) {
    Individual& member = population[toDecode[static_cast<std::size_t>(index)]];
    evaluate(member, items, binTypes, totalWeight, KeepBins::no);
  });
  for (const auto& [repeat, first] : repeats) *repeat = *first;
}

void GeneticSolver::evaluateInitialMembers(const StopCheck& timeIsUp) {
  // Chunks of members on the OpenMP team, with an interrupt check on this thread between them.
  // A chunk that ends quickly makes the next one twice as long: small problems then pay for
  // few parallel regions, large ones still see an interrupt within a fraction of a second.
  constexpr auto QUICK_CHUNK = std::chrono::milliseconds(50);
  const auto count = static_cast<std::int32_t>(population.size());
  std::int32_t chunk = INTERRUPT_CHECK_INTERVAL;
  // Once the time is up, the members not started yet are skipped: a chunk of large decodes
  // would otherwise keep going for many times the limit.
  std::atomic<bool> late{false};
  const auto lateNow = [&] {
    if (!late.load(std::memory_order_relaxed) && timeIsUp && timeIsUp()) late.store(true);
    return late.load(std::memory_order_relaxed);
  };
  for (std::int32_t start = 0; start < count && !lateNow();) {
    interruptPoint();
    const std::int32_t size = std::min(chunk, count - start);
    const auto chunkStart = std::chrono::steady_clock::now();
    forEachIndexInParallel(size, [&](std::int32_t offset) {
      Individual& member = population[static_cast<std::size_t>(start + offset)];
      if (!member.evaluated && !lateNow()) {
        evaluate(member, items, binTypes, totalWeight, KeepBins::no);
      }
    });
    start += size;
    if (std::chrono::steady_clock::now() - chunkStart < QUICK_CHUNK && chunk < count) chunk *= 2;
  }
}

}  // namespace stowra
