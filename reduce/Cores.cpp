#include "Cores.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "Machine.h"

namespace penamo {

int PartsWorthRunning(std::size_t pixels) {
  constexpr std::size_t kPixelsPerThread = 1 << 17;
  constexpr int kMostParts = 8;
  const auto cores = static_cast<std::size_t>(std::min(UsableCores(), kMostParts));
  const std::size_t worth = std::max<std::size_t>(1, pixels / kPixelsPerThread);
  return static_cast<int>(std::min(cores, worth));
}

void RunInParts(int wanted, const std::function<void(int part, int parts)>& work) {
  std::promise<int> partsKnown;
  const std::shared_future<int> parts = partsKnown.get_future().share();
  std::vector<std::jthread> helpers;
  try {
    helpers.reserve(static_cast<std::size_t>(std::max(0, wanted - 1)));
    for (int part = 1; part < wanted; ++part) {
      helpers.emplace_back([&work, parts, part] { work(part, parts.get()); });
    }
  } catch (...) {
    // Fewer threads than hoped for: the parts already started share the work.
  }
  const int count = static_cast<int>(helpers.size()) + 1;
  partsKnown.set_value(count);
  work(0, count);
}

TPartPool::TPartPool(int wanted) {
  try {
    FHelpers.reserve(static_cast<std::size_t>(std::max(0, wanted - 1)));
    for (int part = 1; part < wanted; ++part)
      FHelpers.emplace_back([this, part] { Help(part); });
  } catch (...) {
    // Fewer threads than hoped for: the parts already started share the work.
  }
}

TPartPool::~TPartPool() {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    FStop = true;
  }
  FWake.notify_all();
  for (std::thread& helper : FHelpers)
    helper.join();
}

void TPartPool::Run(const std::function<void(int part, int parts)>& work) {
  const int parts = Parts();
  if (parts > 1) {
    {
      const std::lock_guard<std::mutex> lock(FMutex);
      FWork = &work;
      FPending = parts - 1;
      ++FGeneration;
    }
    FWake.notify_all();
  }
  work(0, parts);
  if (parts > 1) {
    std::unique_lock<std::mutex> lock(FMutex);
    FDone.wait(lock, [this] { return FPending == 0; });
  }
}

void TPartPool::Help(int part) {
  std::uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    FWake.wait(lock, [&] { return FStop || FGeneration != seen; });
    if (FStop) return;
    seen = FGeneration;
    const std::function<void(int, int)>& work = *FWork;
    lock.unlock();
    work(part, Parts());
    lock.lock();
    if (--FPending == 0) FDone.notify_one();
  }
}

void ShareRows(TPartPool& pool, std::int32_t first, std::int32_t count,
               const std::function<void(std::int32_t begin, std::int32_t end)>& rows) {
  // About eight runs a part: short enough that a stalled part holds little back, long enough
  // that taking one costs nothing beside its rows.
  constexpr std::int32_t kRunsPerPart = 8;
  const std::int32_t runRows = std::max(1, count / (pool.Parts() * kRunsPerPart));
  std::atomic<std::int32_t> next{0};
  pool.Run([&](int, int) {
    for (;;) {
      const std::int32_t begin = next.fetch_add(runRows, std::memory_order_relaxed);
      if (begin >= count) return;
      rows(first + begin, first + std::min(count, begin + runRows));
    }
  });
}

}  // namespace penamo
