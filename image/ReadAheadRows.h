// Rows that a decoder makes one after another (a compressed file's rows), made on a thread of
// their own ahead of the band asked for, so that decoding runs beside the filter and the writer
// instead of before them. kReadAheadBands bands of rows are held, whatever the picture's size.
// The same machinery serves the 24-bit rows of TRowSource and the 16-bit samples of
// TDeepRowSource.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "DeepRowSource.h"
#include "Interface.h"
#include "RowSource.h"

namespace penamo {

// Bands of rows the ring holds: the one being read and the decoder's lead. Decoding is the
// longest stage of a compressed picture's save and cannot be shared between threads, so it must
// not stop while the filter and the writer, which share the cores with it, fall behind for a
// while. With three bands the decoder of a 4096 × 4096 16-bit PNG slept 175 ms of a 0.8 s save,
// and the save took 30-40 ms longer than with twelve; more gained nothing. At the band filter's
// bands (512 KiB of 24-bit output) the ring is 6 MiB of 8-bit rows, 12 MiB of 16-bit ones.
inline constexpr std::int32_t kReadAheadBands = 12;

// Sample: std::uint8_t for 24-bit rows, std::uint16_t for deep ones.
template <typename Sample>
class TBasicRowDecoder : public TInterface {
 public:
  // Row y into bgr (3 × width samples: blue, green, red). Rows are asked for once each, in order
  // from row 0, all on one thread (not always the reader's). May raise any error of ours; the
  // reader receives it at the first band that needs the row, and no row is asked for after it.
  virtual void DecodeRow(std::int32_t y, Sample* bgr) = 0;

  // The open file the rows come from, or -1.
  virtual int Handle() const { return -1; }
};

using TRowDecoder = TBasicRowDecoder<std::uint8_t>;
using TDeepRowDecoder = TBasicRowDecoder<std::uint16_t>;

// Source: the row source served (TRowSource or TDeepRowSource), Sample its sample type.
template <class Source, typename Sample>
class TBasicReadAheadRows final : public Source {
 public:
  // aside false: every row is decoded on the reader's thread, in ReadBand. So it is too when no
  // thread can be started.
  TBasicReadAheadRows(std::unique_ptr<TBasicRowDecoder<Sample>> decoder, std::int32_t width,
                      std::int32_t height, bool aside = true);
  // Stops the decoding thread (it finishes the row it is on) before the decoder goes.
  ~TBasicReadAheadRows() override;

  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  // Waits until the band's rows are decoded. The first band's row count sets how many rows are
  // held (kReadAheadBands bands of it); a later band may not be longer, nor start above the band
  // before. Raises EInvalidGraphicOperation for such a band, and the decoder's error when one of
  // the band's rows could not be made.
  void ReadBand(std::int32_t first, std::int32_t count) override;
  const Sample* Row(std::int32_t y) const override;
  int Handle() const override { return FDecoder->Handle(); }

 private:
  Sample* Slot(std::int32_t y);
  // Decodes rows from FDecoded up to end (exclusive) on the calling thread; false when the
  // decoder raised (its error kept in FError).
  bool DecodeUpTo(std::int32_t end);
  void DecodeAhead();
  void Stop();

  std::unique_ptr<TBasicRowDecoder<Sample>> FDecoder;
  std::int32_t FWidth;
  std::int32_t FHeight;
  bool FAside;
  std::size_t FRowSamples;
  // Not cleared when made: a row is read only once decoded, and the pages of a ring of 12 MiB
  // are first touched by the decoder, beside the filter, instead of all at once before the first
  // row (clearing them took 8-10 ms of a 16-bit PNG's save start).
  std::unique_ptr<Sample[]> FRing;
  std::int32_t FBandRows = 0;  // the first band's rows; 0 before it
  std::int32_t FCapacity = 0;  // rows the ring holds

  std::mutex FLock;
  std::condition_variable FChanged;
  std::int32_t FDecoded = 0;   // rows 0 .. FDecoded - 1 are made
  std::int32_t FReleased = 0;  // rows above this one may be overwritten
  std::exception_ptr FError;   // the decoder's, after which nothing more is decoded
  bool FStop = false;
  // FStop, read between rows without the lock, so that a stop need not wait for the rows
  // decoded ahead.
  std::atomic<bool> FStopping = false;
  std::thread FThread;  // last: stopped before anything else goes
};

extern template class TBasicReadAheadRows<TRowSource, std::uint8_t>;
extern template class TBasicReadAheadRows<TDeepRowSource, std::uint16_t>;

using TReadAheadRows = TBasicReadAheadRows<TRowSource, std::uint8_t>;
using TDeepReadAheadRows = TBasicReadAheadRows<TDeepRowSource, std::uint16_t>;

}  // namespace penamo
