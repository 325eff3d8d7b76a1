#include "Cores.h"

#include <algorithm>
#include <future>
#include <thread>
#include <vector>

namespace penamo {

int PartsWorthRunning(std::size_t pixels) {
  constexpr std::size_t kPixelsPerThread = 1 << 17;
  constexpr unsigned kMostParts = 8;
  const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), kMostParts));
  const std::size_t worth = std::max<std::size_t>(1, pixels / kPixelsPerThread);
  return static_cast<int>(std::min<std::size_t>(cores, worth));
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

}  // namespace penamo
