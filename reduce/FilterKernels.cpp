#include "FilterKernels.h"

#include <algorithm>
#include <chrono>

namespace penamo {

namespace {

// Tells the processor that this thread spins, so that it spends less power and leaves more to a
// thread sharing its core.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

TDiffusionTables MakeDiffusionTables(std::int32_t step, double weight) {
  TDiffusionTables tables;
  for (std::int32_t error = -step / 2; error < step / 2; ++error) {
    tables.VerticalTerm[static_cast<std::size_t>(error + kErrorBias)] =
        static_cast<std::int16_t>(VerticalErrorTerm(error, weight));
  }
  std::array<std::int32_t, kErrorSlots> horizontalTerm{};
  for (std::int32_t error = -step / 2; error < step / 2; ++error) {
    horizontalTerm[static_cast<std::size_t>(error + kErrorBias)] =
        HorizontalErrorTerm(error, weight);
  }
  for (std::int32_t luma = 0; luma < 256; ++luma) {
    for (std::int32_t error = -step / 2; error < step / 2; ++error) {
      const std::int32_t v =
          ClampLuma(luma + horizontalTerm[static_cast<std::size_t>(error + kErrorBias)]);
      const std::int32_t level = NearestLevel(v, step);
      tables.Outcome[static_cast<std::size_t>(luma)][static_cast<std::size_t>(error + kErrorBias)] =
          TDiffusionOutcome{static_cast<std::int16_t>(level), static_cast<std::int16_t>(v - level)};
    }
  }
  return tables;
}

TDiffusionRun::TDiffusionRun(const TFastYCbCr& ycc, const TDiffusionTables& tables,
                             std::int16_t* columnError, std::int32_t width, int parts)
    : FYcc(ycc),
      FTables(tables),
      FColumnError(columnError),
      FWidth(width),
      FProgress(static_cast<std::size_t>(std::max(1, parts))) {}

void TDiffusionRun::StartAtRow(std::int32_t y) {
  for (TProgress& progress : FProgress)
    progress.Next.store(std::int64_t{y} * FWidth, std::memory_order_relaxed);
}

void TDiffusionRun::DiffuseRow(std::int32_t y, const std::uint8_t* in, std::uint8_t* out, int part,
                               int parts) {
  TSpanBuffer span;
  std::int32_t rowError = 0;
  for (std::int32_t start = 0; start < FWidth; start += kSpan) {
    const std::int32_t count = std::min(kSpan, FWidth - start);
    const std::size_t offset = 3 * static_cast<std::size_t>(start);
    FYcc.ConvertSpan(in + offset, count, span.Luma.data(), span.Cb.data(), span.Cr.data());

    WaitForRowAbove(y, start + count, part, parts);
    std::int16_t* columnError = FColumnError + start;
    for (std::int32_t i = 0; i < count; ++i) {
      const std::int32_t v =
          ClampLuma(span.Luma[i] +
                    FTables.VerticalTerm[static_cast<std::size_t>(columnError[i] + kErrorBias)]);
      const TDiffusionOutcome outcome =
          FTables.Outcome[static_cast<std::size_t>(v)]
                         [static_cast<std::size_t>(rowError + kErrorBias)];
      span.Level[i] = outcome.Level;
      rowError = outcome.Error;
      columnError[i] = outcome.Error;
    }
    std::atomic<std::int64_t>& done = FProgress[static_cast<std::size_t>(part)].Next;
    done.store(std::int64_t{y} * FWidth + start + count, std::memory_order_release);
    // Costs a system call only while the part below sleeps.
    if (parts > 1) done.notify_all();

    FYcc.RebuildSpan(span.Level.data(), span.Cb.data(), span.Cr.data(), count, out + offset);
  }
}

void TDiffusionRun::WaitForRowAbove(std::int32_t y, std::int32_t end, int part, int parts) {
  if (y == 0 || parts == 1) return;
  const TProgress& above = FProgress[static_cast<std::size_t>((part + parts - 1) % parts)];
  const std::int64_t needed = std::int64_t{y - 1} * FWidth + end;
  std::int64_t seen = above.Next.load(std::memory_order_acquire);
  if (seen >= needed) return;
  // The part above is usually a span or two ahead and keeps going: a spin finds it done, however
  // far behind it runs while it moves. Only when it has not moved for kSpinBeforeSleep (its
  // thread waits for a core another program holds) does this one sleep until it moves on,
  // leaving the core to it. Never a yield: on a busy machine each one hands the core to every
  // other program in turn, and a wait grew to seconds.
  using TClock = std::chrono::steady_clock;
  TClock::time_point giveUp = TClock::now() + kSpinBeforeSleep;
  std::int64_t moved = seen;  // where the part above was at the last look at the clock
  for (unsigned tries = 1; seen < needed; ++tries) {
    if (tries % 64 != 0) {
      CpuRelax();
    } else if (seen != moved) {
      moved = seen;
      giveUp = TClock::now() + kSpinBeforeSleep;
    } else if (TClock::now() >= giveUp) {
      FSleeps.fetch_add(1, std::memory_order_relaxed);
      above.Next.wait(seen, std::memory_order_acquire);
      giveUp = TClock::now() + kSpinBeforeSleep;
    }
    seen = above.Next.load(std::memory_order_acquire);
  }
}

void TPartsJudge::Done(int sleeps) {
  if (FAloneLeft > 0) {
    --FAloneLeft;
    return;
  }
  if (sleeps <= kSleepsWorthParts) {
    FTrial = false;
    FAloneNext = kFirstAlone;
    ++FSinceHeldUp;
  } else if (FFirstBand || (!FTrial && FSinceHeldUp >= kHeldUpApart)) {
    FTrial = true;
    if (!FFirstBand) FSinceHeldUp = 0;
  } else {
    FAloneLeft = FAloneNext;
    FAloneNext = std::min(2 * FAloneNext, kMostAlone);
    FTrial = true;
    FSinceHeldUp = 0;
  }
  FFirstBand = false;
}

}  // namespace penamo
