// The inner loops of the five filters, shared by the whole-picture filters (YReduce.h) and the
// banded save (BandFilter.h), so that the two cannot drift apart: a row of the ordered dither,
// and a row of the error diffusion with the wavefront that lets several parts work down the
// picture at once.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "FastYCbCr.h"
#include "FilterSteps.h"

namespace penamo {

// Only pictures this wide are shared between parts: narrower ones are done before a thread would
// have started.
inline constexpr std::int32_t kWidthWorthParts = 256;

// A span's worth of converted pixels.
struct TSpanBuffer {
  static constexpr int kSize = TFastYCbCr::kSpan;
  alignas(64) std::array<std::int32_t, kSize> Luma;
  alignas(64) std::array<std::int32_t, kSize> Cb;
  alignas(64) std::array<std::int32_t, kSize> Cr;
  alignas(64) std::array<std::int32_t, kSize> Level;
};

// ---- Ordered pattern dither ----

// Reduced luma by cell and luma: [row mod size][column mod size][luma], from PatternLuma itself.
template <int Size>
using TPatternLevels = std::array<std::array<std::array<std::int16_t, 256>, Size>, Size>;

template <int Size>
TPatternLevels<Size> MakePatternLevels(std::int32_t step,
                                       const std::uint8_t (&thresholds)[Size][Size]) {
  TPatternLevels<Size> levels;
  for (int row = 0; row < Size; ++row) {
    for (int column = 0; column < Size; ++column) {
      for (std::int32_t luma = 0; luma < 256; ++luma) {
        levels[row][column][luma] =
            static_cast<std::int16_t>(PatternLuma(luma, step, thresholds[column][row]));
      }
    }
  }
  return levels;
}

// One row of the ordered dither; levels is the table of the row's phase (y mod Size).
template <int Size>
void DitherRow(const TFastYCbCr& ycc, const std::array<std::array<std::int16_t, 256>, Size>& levels,
               const std::uint8_t* in, std::uint8_t* out, std::int32_t width) {
  TSpanBuffer span;
  for (std::int32_t start = 0; start < width; start += TSpanBuffer::kSize) {
    const int count = std::min(TSpanBuffer::kSize, width - start);
    const std::size_t offset = 3 * static_cast<std::size_t>(start);
    ycc.ConvertSpan(in + offset, count, span.Luma.data(), span.Cb.data(), span.Cr.data());
    for (int i = 0; i < count; ++i) {
      span.Level[i] = levels[(start + i) & (Size - 1)][static_cast<std::size_t>(span.Luma[i])];
    }
    ycc.RebuildSpan(span.Level.data(), span.Cb.data(), span.Cr.data(), count, out + offset);
  }
}

// ---- Error diffusion ----

// The errors lie in -step/2 .. step/2 - 1, so -8..7 at most; tables are indexed by error + 8.
inline constexpr std::int32_t kErrorBias = 8;
inline constexpr std::size_t kErrorSlots = 16;

// One pixel of the diffusion, from the luma after the vertical term and the first clamp, and the
// error from the left: the reduced luma and the error handed on. Built from the same steps as
// the straightforward diffusion.
struct TDiffusionOutcome {
  std::int16_t Level;
  std::int16_t Error;
};

struct TDiffusionTables {
  std::array<std::int16_t, kErrorSlots> VerticalTerm{};
  std::array<std::array<TDiffusionOutcome, kErrorSlots>, 256> Outcome{};
};

TDiffusionTables MakeDiffusionTables(std::int32_t step, double weight);

// Rows are handed out in turn to the parts (row y to part y mod parts); a part works along its
// row in spans and may start a span only when the row above has finished it, since the error
// of each pixel comes down from the pixel above. Converting a span and rebuilding its pixels
// need nothing from other rows, so only the short error chain waits.
class TDiffusionRun {
 public:
  TDiffusionRun(const TFastYCbCr& ycc, const TDiffusionTables& tables, std::int16_t* columnError,
                std::int32_t width, int parts);

  static constexpr std::int32_t kSpan = TSpanBuffer::kSize;

  // Whether parts are worth running for a picture this wide; narrower ones would mostly wait.
  static bool WideEnoughForParts(std::int32_t width) {
    return width >= std::max(kWidthWorthParts, 2 * kSpan);
  }

  // Declares every row above row y finished, for a run that goes on in a later batch of rows
  // (a band) after all parts of the earlier batch have returned. Call while no part runs.
  void StartAtRow(std::int32_t y);

  // Row y, from in to out; part and parts say whom to wait for: row y - 1 belongs to part
  // (part - 1) mod parts. parts must not exceed the count given to the constructor.
  void DiffuseRow(std::int32_t y, const std::uint8_t* in, std::uint8_t* out, int part, int parts);

  // How many times a part had to sleep waiting for the row above since the last call: the
  // parts held one another up, their threads waiting for cores other programs hold.
  int TakeSleeps() { return FSleeps.exchange(0, std::memory_order_relaxed); }

 private:
  // Pixels done so far by one part, counted as y · width + x of the next pixel it will do.
  struct alignas(64) TProgress {
    std::atomic<std::int64_t> Next{0};
  };

  // How long a part spins for a row above that does not move before it sleeps. Longer than a
  // sleeping thread takes to wake (up to about a hundred microseconds where the core it wakes on
  // idles, as on a virtual machine at rest): with a shorter spin each part's late wake-up made
  // the other one sleep in turn, one sleep a row, two parts slower than one, and the band filter
  // then went on alone at the first band of every save. Far shorter than the slice of time
  // another program holds a core for, which a sleep leaves to it.
  static constexpr std::chrono::microseconds kSpinBeforeSleep{200};

  void WaitForRowAbove(std::int32_t y, std::int32_t end, int part, int parts);

  const TFastYCbCr& FYcc;
  const TDiffusionTables& FTables;
  std::int16_t* FColumnError;
  std::int32_t FWidth;
  std::vector<TProgress> FProgress;
  std::atomic<int> FSleeps{0};
};

// How a diffusion's next band runs, from how often its parts slept waiting for one another in
// the bands before. Each row waits for the one above, so parts that sleep on one another (their
// threads wait for cores that other programs hold) go slower than one part alone, each wait as
// long as the scheduler takes to wake a thread on a busy machine: the next bands are then done by
// the calling thread alone. On a machine at rest a band is held up now and then (the writer
// asking the disk to start on 8 MiB, the parts' threads starting in the first band): such a band,
// far from the last one held up, is followed by a trial, not by bands alone. Held up again soon,
// or in the trial, the parts give way (to other programs, or to the save's own threads that
// deflate a PNG). Other programs come and go: the parts are tried again after a while, the while
// longer each time they fail, so that a machine that stays busy costs few tries.
class TPartsJudge {
 public:
  enum class TWay {
    Parts,  // the whole band in parts
    Trial,  // only the band's first kTrialRows rows in parts, the rest alone
    Alone,  // the whole band by the calling thread alone
  };
  static constexpr std::int32_t kTrialRows = 8;

  TWay Next() const { return FAloneLeft > 0 ? TWay::Alone : FTrial ? TWay::Trial : TWay::Parts; }

  // After a band done as Next said: with parts, they slept sleeps times.
  void Done(int sleeps);

 private:
  // Held up: more sleeps than this in one band.
  static constexpr int kSleepsWorthParts = 2;
  // A band held up fewer bands with parts than this after the last one held up sends the next
  // bands alone, as a trial held up does.
  static constexpr int kHeldUpApart = 8;
  // Bands alone after a failure: kFirstAlone, then twice as many each time the parts fail
  // again, at most kMostAlone; back to kFirstAlone once a band in parts is not held up.
  static constexpr int kFirstAlone = 4;
  static constexpr int kMostAlone = 64;

  int FAloneLeft = 0;
  int FAloneNext = kFirstAlone;
  bool FTrial = true;
  bool FFirstBand = true;           // whose parts' threads run for the first time
  int FSinceHeldUp = kHeldUpApart;  // bands with parts since the last one held up
};

}  // namespace penamo
