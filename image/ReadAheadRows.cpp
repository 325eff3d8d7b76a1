#include "ReadAheadRows.h"

#include <algorithm>
#include <system_error>

#include "Exceptions.h"
#include "Machine.h"

namespace penamo {

namespace {

// Rows decoded between two reports to the reader: fewer reports, and still a band's rows
// arrive in several steps.
constexpr std::int32_t kRowsPerReport = 8;

}  // namespace

template <class Source, typename Sample>
TBasicReadAheadRows<Source, Sample>::TBasicReadAheadRows(
    std::unique_ptr<TBasicRowDecoder<Sample>> decoder, std::int32_t width, std::int32_t height,
    bool aside)
    : FDecoder(std::move(decoder)),
      FWidth(std::max(0, width)),
      FHeight(std::max(0, height)),
      FAside(aside),
      FRowSamples(3 * static_cast<std::size_t>(FWidth)) {}

template <class Source, typename Sample>
TBasicReadAheadRows<Source, Sample>::~TBasicReadAheadRows() {
  Stop();
}

template <class Source, typename Sample>
void TBasicReadAheadRows<Source, Sample>::Stop() {
  if (!FThread.joinable()) return;
  {
    const std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FStopping.store(true, std::memory_order_relaxed);
  FChanged.notify_all();
  FThread.join();
}

template <class Source, typename Sample>
Sample* TBasicReadAheadRows<Source, Sample>::Slot(std::int32_t y) {
  return FRing.get() + static_cast<std::size_t>(y % FCapacity) * FRowSamples;
}

template <class Source, typename Sample>
const Sample* TBasicReadAheadRows<Source, Sample>::Row(std::int32_t y) const {
  return FRing.get() + static_cast<std::size_t>(y % FCapacity) * FRowSamples;
}

template <class Source, typename Sample>
bool TBasicReadAheadRows<Source, Sample>::DecodeUpTo(std::int32_t end) {
  try {
    for (; FDecoded < end; ++FDecoded)
      FDecoder->DecodeRow(FDecoded, Slot(FDecoded));
  } catch (...) {
    FError = std::current_exception();
    return false;
  }
  return true;
}

template <class Source, typename Sample>
void TBasicReadAheadRows<Source, Sample>::ReadBand(std::int32_t first, std::int32_t count) {
  if (count <= 0 || first < FReleased || first > FHeight - count ||
      (FBandRows > 0 && count > FBandRows)) {
    throw EInvalidGraphicOperation(Msg::ScanLineOutOfRange, "read-ahead-band");
  }
  const std::int32_t end = first + count;
  if (FCapacity == 0) {
    FBandRows = count;
    const auto capacity = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::int64_t{count} * kReadAheadBands, FHeight));
    WithMemory("read-ahead-rows", [&] {
      FRing = std::make_unique_for_overwrite<Sample[]>(static_cast<std::size_t>(capacity) *
                                                       FRowSamples);
    });
    FCapacity = capacity;
    if (FAside) {
      try {
        FThread = std::thread([this] { DecodeAhead(); });
      } catch (const std::system_error&) {
        FAside = false;  // rows are decoded here instead
      }
    }
  }
  if (!FThread.joinable()) {
    FReleased = first;
    // After an error nothing more is decoded.
    if (FDecoded < end && (FError || !DecodeUpTo(end))) std::rethrow_exception(FError);
    return;
  }
  std::unique_lock<std::mutex> lock(FLock);
  FReleased = first;
  FChanged.notify_all();
  FChanged.wait(lock, [&] { return FDecoded >= end || FError; });
  if (FDecoded < end) std::rethrow_exception(FError);
}

template <class Source, typename Sample>
void TBasicReadAheadRows<Source, Sample>::DecodeAhead() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    FChanged.wait(
        lock, [this] { return FStop || (FDecoded < FHeight && FDecoded < FReleased + FCapacity); });
    if (FStop) return;
    const std::int32_t end = std::min(FHeight, FReleased + FCapacity);
    std::int32_t y = FDecoded;
    lock.unlock();
    // Rows FDecoded .. end - 1 are not the reader's: it waits for them, and rows are given
    // back only while more are asked for.
    std::exception_ptr error;
    while (y < end) {
      const std::int32_t stop = std::min(end, y + kRowsPerReport);
      try {
        for (; y < stop; ++y)
          FDecoder->DecodeRow(y, Slot(y));
      } catch (...) {
        error = std::current_exception();
      }
      {
        const std::lock_guard<std::mutex> guard(FLock);
        FDecoded = y;
        if (error) FError = error;
      }
      FChanged.notify_all();
      if (error) return;
      if (FStopping.load(std::memory_order_relaxed)) break;
    }
    lock.lock();
    if (FDecoded == FHeight) return;
  }
}

template class TBasicReadAheadRows<TRowSource, std::uint8_t>;
template class TBasicReadAheadRows<TDeepRowSource, std::uint16_t>;

}  // namespace penamo
