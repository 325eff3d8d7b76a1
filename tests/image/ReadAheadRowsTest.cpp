// Rows decoded ahead on a thread of their own: every row arrives once, in order and intact,
// however the bands fall; a decoder's error reaches the band that needs the row; the rows held
// stay a few bands, and a reader that stops early is never kept waiting.
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "ReadAheadRows.h"

namespace penamo {
namespace {

using test::ExpectRefusal;

constexpr std::int32_t kWidth = 5;

std::uint8_t ByteOf(std::int32_t y, std::int32_t i) {
  return static_cast<std::uint8_t>(y * 7 + i * 31 + (y >> 8));
}

// Makes row y as ByteOf says, and counts what it is asked for.
class TCountingDecoder final : public TRowDecoder {
 public:
  // failAt: the row whose decoding raises (-1: none).
  explicit TCountingDecoder(std::int32_t failAt = -1) : FFailAt(failAt) {}

  void DecodeRow(std::int32_t y, std::uint8_t* bgr) override {
    if (y != Next.load()) OutOfOrder = true;
    if (y == FFailAt) throw EReadError(Msg::ReadError, "test-decoder-failed");
    for (std::int32_t i = 0; i < 3 * kWidth; ++i)
      bgr[i] = ByteOf(y, i);
    Next = y + 1;
  }

  std::atomic<std::int32_t> Next = 0;
  std::atomic<bool> OutOfOrder = false;

 private:
  std::int32_t FFailAt;
};

std::string RowError(const TRowSource& rows, std::int32_t y) {
  const std::uint8_t* row = rows.Row(y);
  for (std::int32_t i = 0; i < 3 * kWidth; ++i) {
    if (row[i] != ByteOf(y, i)) return "row " + std::to_string(y) + " byte " + std::to_string(i);
  }
  return {};
}

struct TBandCase {
  std::int32_t Height;
  std::int32_t BandRows;
  bool Aside;
};

class ReadAheadBands : public testing::TestWithParam<TBandCase> {};

TEST_P(ReadAheadBands, EveryRowArrivesOnceInOrderAndIntact) {
  const TBandCase c = GetParam();
  auto owned = std::make_unique<TCountingDecoder>();
  TCountingDecoder& decoder = *owned;
  TReadAheadRows rows(std::move(owned), kWidth, c.Height, c.Aside);
  EXPECT_EQ(rows.Width(), kWidth);
  EXPECT_EQ(rows.Height(), c.Height);
  for (std::int32_t first = 0; first < c.Height; first += c.BandRows) {
    const std::int32_t count = std::min(c.BandRows, c.Height - first);
    rows.ReadBand(first, count);
    for (std::int32_t y = first; y < first + count; ++y)
      ASSERT_EQ(RowError(rows, y), "") << "band at " << first;
  }
  EXPECT_EQ(decoder.Next.load(), c.Height);
  EXPECT_FALSE(decoder.OutOfOrder.load());
}

INSTANTIATE_TEST_SUITE_P(BandSizes, ReadAheadBands,
                         testing::Values(TBandCase{1, 1, true}, TBandCase{100, 1, true},
                                         TBandCase{100, 7, true}, TBandCase{100, 34, true},
                                         TBandCase{100, 100, true}, TBandCase{1000, 42, true},
                                         TBandCase{100, 7, false}, TBandCase{100, 100, false}),
                         [](const auto& param) {
                           return std::to_string(param.param.Height) + "RowsIn" +
                                  std::to_string(param.param.BandRows) +
                                  (param.param.Aside ? "Aside" : "OnTheReadersThread");
                         });

TEST(ReadAheadRows, TheRowsOfABandStayIntactWhileTheDecoderFillsEveryFreeSlot) {
  auto owned = std::make_unique<TCountingDecoder>();
  TCountingDecoder& decoder = *owned;
  TReadAheadRows rows(std::move(owned), kWidth, 1000, true);
  rows.ReadBand(0, 10);
  rows.ReadBand(10, 10);
  // Rows 0..9 are given back; the decoder may now run up to the ring's bands past row 10 and no
  // further. Wait until it is there, then look at the band still held.
  const std::int32_t reach = 10 + 10 * kReadAheadBands;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (decoder.Next.load() < reach && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(decoder.Next.load(), reach);
  for (std::int32_t y = 10; y < 20; ++y)
    ASSERT_EQ(RowError(rows, y), "");
  rows.ReadBand(20, 10);
  for (std::int32_t y = 20; y < 30; ++y)
    ASSERT_EQ(RowError(rows, y), "");
}

TEST(ReadAheadRows, ADecodersErrorReachesTheBandThatNeedsTheRowAndNoEarlierOne) {
  for (const bool aside : {true, false}) {
    TReadAheadRows rows(std::make_unique<TCountingDecoder>(25), kWidth, 100, aside);
    rows.ReadBand(0, 10);
    rows.ReadBand(10, 10);
    for (std::int32_t y = 10; y < 20; ++y)
      ASSERT_EQ(RowError(rows, y), "") << aside;
    ExpectRefusal<EReadError>([&] { rows.ReadBand(20, 10); }, "test-decoder-failed");
    // The error stays: the rows after it can never be had.
    ExpectRefusal<EReadError>([&] { rows.ReadBand(30, 10); }, test::kAnyReason);
  }
}

TEST(ReadAheadRows, BandsThatGoBackOrGrowPastTheFirstAreRefused) {
  TReadAheadRows rows(std::make_unique<TCountingDecoder>(), kWidth, 100, true);
  ExpectRefusal<EInvalidGraphicOperation>([&] { rows.ReadBand(0, 0); }, test::kAnyReason);
  ExpectRefusal<EInvalidGraphicOperation>([&] { rows.ReadBand(95, 10); }, test::kAnyReason);
  rows.ReadBand(0, 10);
  rows.ReadBand(10, 10);
  ExpectRefusal<EInvalidGraphicOperation>([&] { rows.ReadBand(5, 10); }, test::kAnyReason);
  ExpectRefusal<EInvalidGraphicOperation>([&] { rows.ReadBand(20, 11); }, test::kAnyReason);
  rows.ReadBand(20, 5);  // a shorter band (the last one is) is taken
  EXPECT_EQ(RowError(rows, 24), "");
}

TEST(ReadAheadRows, AReaderThatDwellsOrStopsEarlyHoldsAFewBandsOnly) {
  auto owned = std::make_unique<TCountingDecoder>();
  TCountingDecoder& decoder = *owned;
  TReadAheadRows rows(std::move(owned), kWidth, 1000000, true);
  rows.ReadBand(0, 16);
  // However long the reader dwells on its band, the decoder holds the ring's bands at most;
  // going, the rows stop their thread (a hang here ends in the test's time limit).
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_LE(decoder.Next.load(), 16 * kReadAheadBands);
}

// Deep rows go through the same ring: every 16-bit sample, high byte included, arrives as made,
// aside or on the reader's thread, and a band beyond the first band's length is refused.
class TDeepDecoder final : public TDeepRowDecoder {
 public:
  void DecodeRow(std::int32_t y, std::uint16_t* bgr) override {
    for (std::int32_t i = 0; i < 3 * kWidth; ++i)
      bgr[i] = static_cast<std::uint16_t>(y * 4099 + i * 257 + 1);
  }
};

TEST(ReadAheadRows, DeepSamplesArriveWhole) {
  for (const bool aside : {true, false}) {
    TDeepReadAheadRows rows(std::make_unique<TDeepDecoder>(), kWidth, 50, aside);
    for (std::int32_t first = 0; first < 50; first += 6) {
      const std::int32_t count = std::min(6, 50 - first);
      rows.ReadBand(first, count);
      for (std::int32_t y = first; y < first + count; ++y) {
        for (std::int32_t i = 0; i < 3 * kWidth; ++i)
          ASSERT_EQ(rows.Row(y)[i], static_cast<std::uint16_t>(y * 4099 + i * 257 + 1))
              << "row " << y << " sample " << i << (aside ? " aside" : "");
      }
    }
    TDeepReadAheadRows longer(std::make_unique<TDeepDecoder>(), kWidth, 50, aside);
    longer.ReadBand(0, 4);
    ExpectRefusal<EInvalidGraphicOperation>([&] { longer.ReadBand(4, 5); }, test::kAnyReason);
  }
}

// CPU milliseconds of the whole process, every thread.
double ProcessCpuMilliseconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

TEST(ReadAheadRows, ADecoderWithEverySlotFullSleepsUntilTheReaderMovesOn) {
  auto owned = std::make_unique<TCountingDecoder>();
  TCountingDecoder& decoder = *owned;
  TReadAheadRows rows(std::move(owned), kWidth, 1000, true);
  rows.ReadBand(0, 16);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (decoder.Next.load() < 16 * kReadAheadBands && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(decoder.Next.load(), 16 * kReadAheadBands) << "the decoder filled the ring's slots";
  // A decoder that polled instead of waiting would burn the whole dwell on its core.
  const double cpuBefore = ProcessCpuMilliseconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double cpu = ProcessCpuMilliseconds() - cpuBefore;
  EXPECT_LT(cpu, 30.0) << "CPU milliseconds spent while the reader dwelt 300 ms";
  rows.ReadBand(16, 16);
  EXPECT_EQ(RowError(rows, 31), "");
}

}  // namespace
}  // namespace penamo
