// Red and blue exchanged: every version this processor can run gives the byte-by-byte rows for
// every width up to a few shuffles' worth and every start, and touches nothing around the row.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "RedBlue.h"

namespace penamo {
namespace {

using TExchange = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);

TEST(RedBlue, EveryVersionExchangesExactlyTheRowsPixels) {
  std::vector<std::pair<const char*, TExchange>> versions = {{"dispatched", ExchangeRedBlue},
                                                             {"bytes", ExchangeRedBlueBytes}};
  __builtin_cpu_init();
  if (__builtin_cpu_supports("ssse3")) versions.emplace_back("shuffling", ExchangeRedBlueShuffling);
  std::mt19937 random(7);
  constexpr std::size_t kGuard = 32;
  for (const auto& [name, exchange] : versions) {
    for (std::size_t width = 0; width <= 40; ++width) {
      for (std::size_t start = 0; start < 3; ++start) {
        // The row at an odd place between guard bytes, in and out each.
        std::vector<std::uint8_t> in(kGuard + start + 3 * width + kGuard);
        for (auto& byte : in)
          byte = static_cast<std::uint8_t>(random());
        std::vector<std::uint8_t> out(in.size(), 0xA5);
        exchange(in.data() + kGuard + start, out.data() + kGuard + start, width);
        for (std::size_t i = 0; i < out.size(); ++i) {
          const std::size_t at = i - kGuard - start;
          const bool inRow = i >= kGuard + start && at < 3 * width;
          const std::uint8_t want =
              inRow ? in[kGuard + start + at - at % 3 + (2 - at % 3)] : std::uint8_t{0xA5};
          ASSERT_EQ(out[i], want) << name << ", width " << width << ", start " << start << ", byte "
                                  << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace penamo
