#include "BandFilter.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "BandWriter.h"
#include "Cores.h"
#include "DeepFilters.h"
#include "DeepRowSource.h"
#include "Exceptions.h"
#include "FilterKernels.h"
#include "FilterSteps.h"
#include "FilterTable.h"
#include "Machine.h"
#include "RowSource.h"

namespace penamo {

namespace {

std::vector<std::uint8_t> AllocateBand(std::size_t bytes) {
  return WithMemory("band-allocation-failed", [&] { return std::vector<std::uint8_t>(bytes); });
}

using TClock = std::chrono::steady_clock;

// Where a save's time went, printed on standard error when it ends if the environment variable
// PENAMO_STAGE_TIMES is set (bench/past-bench.sh sets it): the calling thread's time reading
// each band's source rows (for a source decoded on a thread of its own, the time it waited for
// them), filtering them, and handing them to the writer (waiting for the band before; without a
// writer's thread, writing them); the writer's own time over the bands and the commit; and what
// the filter's parts did. Costs two clock readings a stage and band, and nothing unset.
struct TStageTimes {
  bool Wanted = std::getenv("PENAMO_STAGE_TIMES") != nullptr;
  TClock::duration Read{};
  TClock::duration Filter{};
  TClock::duration WriterWait{};
  TClock::duration Commit{};

  template <typename Work>
  void Time(TClock::duration& total, Work&& work) {
    if (!Wanted) {
      work();
      return;
    }
    const TClock::time_point start = TClock::now();
    work();
    total += TClock::now() - start;
  }

  void Print(std::int32_t bands, std::int32_t bandRows, TClock::duration writing,
             const std::optional<TPartsRecord>& parts) const {
    if (!Wanted) return;
    const auto ms = [](TClock::duration d) {
      return std::chrono::duration<double, std::milli>(d).count();
    };
    char partsText[96] = "parts not recorded";
    if (parts) {
      std::snprintf(partsText, sizeof partsText, "parts %d, sleeps %d, bands alone %d",
                    parts->Parts, parts->Sleeps, parts->BandsAlone);
    }
    std::fprintf(stderr,
                 "penamo stages: %d bands of %d rows; read %.1f ms, filter %.1f ms, writer wait "
                 "%.1f ms; writer %.1f ms, commit %.1f ms; %s\n",
                 bands, bandRows, ms(Read), ms(Filter), ms(WriterWait), ms(writing), ms(Commit),
                 partsText);
  }
};

// Hands each band to the writer on a thread of its own, so that the next band is filtered while
// this one is written; the writer still sees one band at a time, in order. Without that thread
// (not wanted, or none to be had) each band is written at once.
class TAsideWriter {
 public:
  TAsideWriter(TBandWriter& writer, bool aside, bool timed) : FWriter(writer), FTimed(timed) {
    if (!aside) return;
    try {
      FThread = std::thread([this] { WriteBands(); });
    } catch (const std::system_error&) {
      // No thread: bands are written on the caller's.
    }
  }
  ~TAsideWriter() {
    if (!FThread.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(FMutex);
      FStop = true;
    }
    FChanged.notify_all();
    FThread.join();
  }
  TAsideWriter(const TAsideWriter&) = delete;
  TAsideWriter& operator=(const TAsideWriter&) = delete;

  // Waits until the band before is written (raising its error, if any), then hands this one
  // over; rows must stay untouched until the next call returns.
  void Write(std::int32_t first, std::int32_t count, const std::uint8_t* rows, std::size_t stride) {
    if (!FThread.joinable()) {
      FWriting += TimedWrite({first, count, rows, stride});
      return;
    }
    std::unique_lock<std::mutex> lock(FMutex);
    WaitIdle(lock);
    FBand = {first, count, rows, stride};
    FHasBand = true;
    lock.unlock();
    FChanged.notify_all();
  }

  // Waits until every band is written, raising the error of a band that was not.
  void Finish() {
    if (!FThread.joinable()) return;
    std::unique_lock<std::mutex> lock(FMutex);
    WaitIdle(lock);
  }

  // The writer's time over the bands so far; call after Finish.
  TClock::duration Writing() {
    const std::lock_guard<std::mutex> lock(FMutex);
    return FWriting;
  }

 private:
  struct TBand {
    std::int32_t First = 0;
    std::int32_t Count = 0;
    const std::uint8_t* Rows = nullptr;
    std::size_t Stride = 0;
  };

  // Writes band, returning the time it took when the stage times are wanted.
  TClock::duration TimedWrite(const TBand& band) {
    if (!FTimed) {
      FWriter.WriteBand(band.First, band.Count, band.Rows, band.Stride);
      return {};
    }
    const TClock::time_point start = TClock::now();
    FWriter.WriteBand(band.First, band.Count, band.Rows, band.Stride);
    return TClock::now() - start;
  }

  void WaitIdle(std::unique_lock<std::mutex>& lock) {
    FChanged.wait(lock, [this] { return !FHasBand && !FBusy; });
    if (FError) std::rethrow_exception(FError);
  }

  void WriteBands() {
    std::unique_lock<std::mutex> lock(FMutex);
    for (;;) {
      FChanged.wait(lock, [this] { return FHasBand || FStop; });
      if (!FHasBand) return;
      const TBand band = FBand;
      FHasBand = false;
      FBusy = true;
      lock.unlock();
      std::exception_ptr error;
      TClock::duration took{};
      // After a failure no band is written any more; the caller raises the first error.
      if (!FError) {
        try {
          took = TimedWrite(band);
        } catch (...) {
          error = std::current_exception();
        }
      }
      lock.lock();
      FWriting += took;
      if (error) FError = error;
      FBusy = false;
      FChanged.notify_all();
    }
  }

  TBandWriter& FWriter;
  const bool FTimed;
  TClock::duration FWriting{};
  std::mutex FMutex;
  std::condition_variable FChanged;
  TBand FBand;
  bool FHasBand = false;
  bool FBusy = false;
  bool FStop = false;
  std::exception_ptr FError;
  std::thread FThread;
};

// A band of 8-bit rows seen at 16 bits, for the filters that read deep rows.
class TWidenedBand final : public TDeepRowSource {
 public:
  TWidenedBand(std::int32_t width, std::int32_t height) : FWidth(width), FHeight(height) {}

  void Widen(std::int32_t first, std::int32_t count, const TRowSource& source) {
    const std::size_t samples = 3 * static_cast<std::size_t>(FWidth);
    FRows.resize(samples * static_cast<std::size_t>(count));
    FFirst = first;
    for (std::int32_t i = 0; i < count; ++i) {
      const std::uint8_t* in = source.Row(first + i);
      std::uint16_t* out = FRows.data() + samples * static_cast<std::size_t>(i);
      for (std::size_t s = 0; s < samples; ++s)
        out[s] = static_cast<std::uint16_t>(in[s] * 257u);
    }
  }

  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  void ReadBand(std::int32_t, std::int32_t) override {}
  const std::uint16_t* Row(std::int32_t y) const override {
    return FRows.data() +
           3 * static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(y - FFirst);
  }

 private:
  std::int32_t FWidth;
  std::int32_t FHeight;
  std::int32_t FFirst = 0;
  std::vector<std::uint16_t> FRows;
};

// Every row of a source of width × height pixels through filterBand(first, count, out, stride)
// into writer, band by band, then writer.Commit(); readBand(first, count) makes each band's
// source rows ready first. partsRecord() says what the filter's parts did (if it keeps a record),
// for the stage times.
template <typename ReadBand, typename FilterBand, typename PartsRecord>
void WriteInBands(std::int32_t width, std::int32_t height, TBandWriter& writer,
                  const TBandOptions& options, ReadBand&& readBand, FilterBand&& filterBand,
                  PartsRecord&& partsRecord) {
  const std::size_t stride = 3 * static_cast<std::size_t>(width);
  const std::int32_t bandRows =
      options.BandRows > 0
          ? std::min(options.BandRows, height)
          : static_cast<std::int32_t>(std::clamp<std::size_t>(kBandBytes / stride, 1, height));
  const std::size_t bandBytes = stride * static_cast<std::size_t>(bandRows);
  // Two buffers when writing aside: one is filtered while the other is written.
  std::vector<std::uint8_t> buffers[2] = {
      AllocateBand(bandBytes),
      options.WriteAside ? AllocateBand(bandBytes) : std::vector<std::uint8_t>()};
  // Declared after the buffers: however this function is left, the band being written is
  // finished before they go.
  TStageTimes stages;
  TAsideWriter aside(writer, options.WriteAside, stages.Wanted);
  int current = 0;
  std::int32_t bands = 0;
  for (std::int32_t first = 0; first < height; first += bandRows, ++bands) {
    const std::int32_t count = std::min(bandRows, height - first);
    stages.Time(stages.Read, [&] { readBand(first, count); });
    std::uint8_t* band = buffers[current].data();
    stages.Time(stages.Filter, [&] { filterBand(first, count, band, stride); });
    stages.Time(stages.WriterWait, [&] { aside.Write(first, count, band, stride); });
    if (options.WriteAside) current = 1 - current;
  }
  stages.Time(stages.WriterWait, [&] { aside.Finish(); });
  stages.Time(stages.Commit, [&] { writer.Commit(); });
  if (stages.Wanted) stages.Print(bands, bandRows, aside.Writing(), partsRecord());
}

}  // namespace

struct TBandFilter::TState {
  const TFilterEntry* Filter = nullptr;
  std::int32_t Width = 0;
  int Parts = 1;
  const TFastYCbCr* Ycc = nullptr;
  // The ordered dithers: the levels of whichever pattern size the filter has.
  TPatternLevels<2> Levels2{};
  TPatternLevels<4> Levels4{};
  // The diffusions: the error row carried from band to band, and the run that carries it.
  std::vector<std::int16_t> ColumnError;
  TDiffusionTables Tables{};
  std::unique_ptr<TDiffusionRun> Run;
  // The diffusions: how the next band runs.
  TPartsJudge Judge;
  // For the stage times: the sleeps and the bands done alone so far.
  int Sleeps = 0;
  int BandsAlone = 0;
  // The helpers, kept from band to band.
  std::unique_ptr<TPartPool> Pool;
  // The filters for deep pictures, at their default options, over the rows widened.
  std::unique_ptr<TDeepBandFilter> Deep;
  std::unique_ptr<TWidenedBand> Widened;

  void StartParts(int wanted) {
    if (wanted > 1) Pool = std::make_unique<TPartPool>(wanted);
    Parts = Pool ? Pool->Parts() : 1;
  }

  template <int Size>
  void Dither(const TPatternLevels<Size>& levels, std::int32_t first, std::int32_t count,
              const TRowSource& source, std::uint8_t* out, std::size_t stride) {
    const auto row = [&](std::int32_t y) {
      DitherRow<Size>(*Ycc, levels[y & (Size - 1)], source.Row(y),
                      out + static_cast<std::size_t>(y - first) * stride, Width);
    };
    if (Parts == 1) {
      for (std::int32_t y = first; y < first + count; ++y)
        row(y);
      return;
    }
    // Rows are independent: the parts share the band's rows in short runs.
    ShareRows(*Pool, first, count, [&](std::int32_t begin, std::int32_t end) {
      for (std::int32_t y = begin; y < end; ++y)
        row(y);
    });
  }

  void Diffuse(std::int32_t first, std::int32_t count, const TRowSource& source, std::uint8_t* out,
               std::size_t stride) {
    // The rows above this band are all done: the parts of the band before have returned.
    Run->StartAtRow(first);
    const auto rows = [&](std::int32_t end, int part, int parts) {
      for (std::int32_t y = first + part; y < end; y += parts)
        Run->DiffuseRow(y, source.Row(y), out + static_cast<std::size_t>(y - first) * stride, part,
                        parts);
    };
    const std::int32_t end = first + count;
    if (Parts == 1) {
      rows(end, 0, 1);
      return;
    }
    const TPartsJudge::TWay way = Judge.Next();
    if (way == TPartsJudge::TWay::Alone) {
      ++BandsAlone;
      rows(end, 0, 1);
      Judge.Done(0);
      return;
    }
    // A trial shares only the band's first rows, so that parts which hold one another up cost
    // few rows; the calling thread does the rest, the rows above all done when the parts return.
    // The rows are the same bytes whichever way a band runs.
    const std::int32_t shared =
        way == TPartsJudge::TWay::Trial ? std::min(count, TPartsJudge::kTrialRows) : count;
    Pool->Run([&](int part, int parts) { rows(first + shared, part, parts); });
    for (std::int32_t y = first + shared; y < end; ++y)
      Run->DiffuseRow(y, source.Row(y), out + static_cast<std::size_t>(y - first) * stride, 0, 1);
    const int sleeps = Run->TakeSleeps();
    Sleeps += sleeps;
    Judge.Done(sleeps);
  }
};

TBandFilter::TBandFilter(const TFilterEntry* filter, std::uint8_t strength, std::int32_t width,
                         std::int32_t height, int parts, TChannelOrder order, int writerThreads)
    : FState(std::make_unique<TState>()) {
  TState& state = *FState;
  state.Width = width;
  if (filter == nullptr) return;
  state.Filter = filter;
  const std::size_t pixels =
      static_cast<std::size_t>(std::max(0, width)) * static_cast<std::size_t>(std::max(0, height));
  const auto partsFor = [&](bool wideEnough) {
    if (!wideEnough) return 1;
    return parts > 0 ? parts : PartsWorthRunning(pixels);
  };
  // The luma-chroma tables (built once a process) only for the filters that use
  // them: the deep filters work from the rows widened.
  const auto tables = [&] { state.Ycc = &TFastYCbCr::Tables(order); };
  switch (filter->Kernel) {
    case TFilterKernel::PatternDither:
      tables();
      // As the whole-picture dithers: the pattern's cell count is also the luma step.
      if (filter->Levels == 4)
        state.Levels2 = MakePatternLevels(4, kPattern2x2);
      else
        state.Levels4 = MakePatternLevels(16, kPattern4x4);
      state.StartParts(partsFor(width >= kWidthWorthParts));
      return;
    case TFilterKernel::ErrorDiffusion:
      tables();
      break;
    case TFilterKernel::DeepDiffusion:
    case TFilterKernel::DeepOrdered:
      state.Deep =
          std::make_unique<TDeepBandFilter>(filter->Id, TDeepOptions{}, width, height, parts);
      state.Widened = std::make_unique<TWidenedBand>(width, height);
      return;
  }
  // As the whole-picture diffusion: the error row first (its failure reaches the caller), then
  // the refusal of a strength above 100.
  state.ColumnError = AllocateColumnError(width);
  if (strength > kMaxStrength) {
    FRefused = true;
    return;
  }
  state.Tables = MakeDiffusionTables(LevelStep(filter->Levels), DiffusionWeight(strength));
  // The diffusion's parts wait for one another row by row. Beside a writer whose own threads
  // keep a core busy (a PNG writer deflating), parts sharing the cores with them were held up
  // again and again: on two cores the diffusion alone saved to PNG 6-17 % faster at rest and
  // 6-9 % faster with a core kept busy, and more steadily. So the parts leave the writer one
  // core.
  int wanted = partsFor(TDiffusionRun::WideEnoughForParts(width));
  if (parts == 0 && writerThreads > 0) wanted = std::min(wanted, std::max(1, UsableCores() - 1));
  state.StartParts(wanted);
  state.Run = std::make_unique<TDiffusionRun>(*state.Ycc, state.Tables, state.ColumnError.data(),
                                              width, state.Parts);
}

TBandFilter::~TBandFilter() = default;

TPartsRecord TBandFilter::PartsRecord() const {
  const TState& state = *FState;
  return {state.Parts, state.Sleeps, state.BandsAlone};
}

void TBandFilter::Filter(std::int32_t first, std::int32_t count, const TRowSource& source,
                         std::uint8_t* out, std::size_t stride) {
  TState& state = *FState;
  if (!state.Filter) {
    const std::size_t bytes = 3 * static_cast<std::size_t>(state.Width);
    for (std::int32_t y = first; y < first + count; ++y)
      std::memcpy(out + static_cast<std::size_t>(y - first) * stride, source.Row(y), bytes);
    return;
  }
  switch (state.Filter->Kernel) {
    case TFilterKernel::PatternDither:
      if (state.Filter->Levels == 4)
        state.Dither<2>(state.Levels2, first, count, source, out, stride);
      else
        state.Dither<4>(state.Levels4, first, count, source, out, stride);
      return;
    case TFilterKernel::ErrorDiffusion:
      state.Diffuse(first, count, source, out, stride);
      return;
    case TFilterKernel::DeepDiffusion:
    case TFilterKernel::DeepOrdered:
      state.Widened->Widen(first, count, source);
      state.Deep->Filter(first, count, *state.Widened, out, stride);
      return;
  }
}

bool FilterInBands(const TFilterEntry* filter, std::uint8_t strength, TRowSource& source,
                   TBandWriter& writer, const TBandOptions& options) {
  const std::int32_t width = source.Width();
  const std::int32_t height = source.Height();
  if (width <= 0 || height <= 0) return false;
  TBandFilter bandFilter(filter, strength, width, height, options.Parts, TChannelOrder::Bgr,
                         writer.BusyThreads());
  if (bandFilter.Refused()) return false;

  WriteInBands(
      width, height, writer, options,
      [&](std::int32_t first, std::int32_t count) { source.ReadBand(first, count); },
      [&](std::int32_t first, std::int32_t count, std::uint8_t* out, std::size_t stride) {
        bandFilter.Filter(first, count, source, out, stride);
      },
      [&] { return std::optional<TPartsRecord>(bandFilter.PartsRecord()); });
  return true;
}

bool FilterDeepInBands(const TFilterEntry& filter, const TDeepOptions& deepOptions,
                       TDeepRowSource& source, TBandWriter& writer, const TBandOptions& options) {
  if (!filter.TakesLevels || !ValidDeepOptions(deepOptions)) return false;
  const std::int32_t width = source.Width();
  const std::int32_t height = source.Height();
  if (width <= 0 || height <= 0) return false;
  TDeepBandFilter bandFilter(filter.Id, deepOptions, width, height, options.Parts);
  WriteInBands(
      width, height, writer, options,
      [&](std::int32_t first, std::int32_t count) { source.ReadBand(first, count); },
      [&](std::int32_t first, std::int32_t count, std::uint8_t* out, std::size_t stride) {
        bandFilter.Filter(first, count, source, out, stride);
      },
      [] { return std::optional<TPartsRecord>(); });
  return true;
}

}  // namespace penamo
