// The save of the command-line tool with a choice of path, for measuring: the banded save
// penamo-filter runs (read a band, filter it, write it), the whole-picture save it replaced
// (read the whole picture, filter it into a second one, write that), and the whole-picture save
// through the straightforward extended-precision filters; and the maker of the test pictures.
// A measuring tool only: the program itself has no such switches.
//
//   penamo_save_bench [--whole | --straightforward] [--stage-times] FILTER IN.bmp OUT.bmp
//   penamo_save_bench [--stage-times] [--write-inline] [--band-rows N] [--parts N] FILTER IN OUT
//   penamo_save_bench --make-gradient WIDTH HEIGHT OUT.bmp
//
// FILTER is pattern4, pattern16, diffusion16, diffusion32 or diffusion64. --stage-times prints
// where the time went: for the banded save the time spent reading bands, filtering them,
// writing them (on the writing thread, beside the filtering) and committing (flush, rename).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "BandFilter.h"
#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "BitmapFileRows.h"
#include "FilterTable.h"
#include "Gradient.h"
#include "RowSource.h"
#include "StraightforwardFilters.h"
#include "YReduce.h"

namespace {

using namespace penamo;
using TClock = std::chrono::steady_clock;

using TFilter = bool (*)(TBitmap&, TBitmap&);

struct TNamedFilter {
  const char* Name;
  TFilter Fast;
  TFilter Straightforward;
};

const TNamedFilter kFilters[] = {
    {"pattern4", YPatternDither4, straightforward::YPatternDither4},
    {"pattern16", YPatternDither16, straightforward::YPatternDither16},
    {"diffusion16", [](TBitmap& s, TBitmap& d) { return YDiffError16(s, d, 100); },
     [](TBitmap& s, TBitmap& d) { return straightforward::YDiffError16(s, d, 100); }},
    {"diffusion32", [](TBitmap& s, TBitmap& d) { return YDiffError32(s, d, 100); },
     [](TBitmap& s, TBitmap& d) { return straightforward::YDiffError32(s, d, 100); }},
    {"diffusion64", [](TBitmap& s, TBitmap& d) { return YDiffError64(s, d, 100); },
     [](TBitmap& s, TBitmap& d) { return straightforward::YDiffError64(s, d, 100); }},
};

int Usage() {
  std::fprintf(stderr,
               "usage: penamo_save_bench [--whole | --straightforward] [--stage-times] FILTER "
               "IN.bmp OUT.bmp\n"
               "       penamo_save_bench --make-gradient WIDTH HEIGHT OUT.bmp\n");
  return 2;
}

double Milliseconds(TClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Milliseconds since the previous call, for the whole-picture stage times.
double Lap() {
  static auto last = TClock::now();
  const auto now = TClock::now();
  const double ms = Milliseconds(now - last);
  last = now;
  return ms;
}

// A row source and a band writer that count the time spent in them.
class TTimedRows final : public TRowSource {
 public:
  explicit TTimedRows(TRowSource& rows) : FRows(rows) {}
  std::int32_t Width() const override { return FRows.Width(); }
  std::int32_t Height() const override { return FRows.Height(); }
  void ReadBand(std::int32_t first, std::int32_t count) override {
    const auto start = TClock::now();
    FRows.ReadBand(first, count);
    Spent += TClock::now() - start;
  }
  const std::uint8_t* Row(std::int32_t y) const override { return FRows.Row(y); }
  TClock::duration Spent{};

 private:
  TRowSource& FRows;
};

class TTimedWriter final : public TBandWriter {
 public:
  explicit TTimedWriter(TBandWriter& writer) : FWriter(writer) {}
  void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                 std::size_t stride) override {
    const auto start = TClock::now();
    FWriter.WriteBand(first, count, rows, stride);
    Spent += TClock::now() - start;
  }
  void Commit() override {
    const auto start = TClock::now();
    FWriter.Commit();
    Committing = TClock::now() - start;
  }
  TClock::duration Spent{};
  TClock::duration Committing{};

 private:
  TBandWriter& FWriter;
};

// What penamo-filter does, with the stages timed.
int BandedSave(const char* name, const char* in, const char* out, bool stageTimes,
               const TBandOptions& options) {
  const TFilterEntry* filter = FindFilter(name);
  if (filter == nullptr) return Usage();
  const auto start = TClock::now();
  TBitmap picture;
  std::unique_ptr<TRowSource> rows = TBitmapFileRows::Open(in);
  if (!rows) {
    picture.ReadBitmapFile(in);
    picture.ConvertTo24Bits();
    rows = std::make_unique<TBitmapRows>(picture);
  }
  const auto opened = TClock::now();
  TBitmapBandWriter file(out, rows->Width(), rows->Height());
  const auto created = TClock::now();
  TTimedRows timedRows(*rows);
  TTimedWriter writer(file);
  if (!FilterInBands(filter, kFullStrength, timedRows, writer, options)) {
    std::fprintf(stderr, "the filter refused\n");
    return 1;
  }
  const auto end = TClock::now();
  if (stageTimes) {
    const double all = Milliseconds(end - created);
    const double read = Milliseconds(timedRows.Spent);
    const double commit = Milliseconds(writer.Committing);
    std::fprintf(stderr,
                 "open %.1f ms, create %.1f ms, read %.1f ms, filter %.1f ms (with any wait for "
                 "the writes), write %.1f ms "
                 "(beside the filter), flush and rename %.1f ms; total %.1f ms\n",
                 Milliseconds(opened - start), Milliseconds(created - opened), read,
                 all - read - commit, Milliseconds(writer.Spent), commit,
                 Milliseconds(end - start));
  }
  return 0;
}

int WholeSave(const TNamedFilter& chosen, bool slow, const char* in, const char* out,
              bool stageTimes) {
  Lap();
  TBitmap picture;
  picture.ReadBitmapFile(in);
  const double read = Lap();
  picture.ConvertTo24Bits();
  const double convert = Lap();
  TBitmap output;
  if (!(slow ? chosen.Straightforward : chosen.Fast)(picture, output)) {
    std::fprintf(stderr, "the filter failed\n");
    return 1;
  }
  const double filter = Lap();
  output.WriteBitmapFile(out);
  const double write = Lap();
  if (stageTimes) {
    std::fprintf(stderr, "read %.1f ms, convert %.1f ms, filter %.1f ms, write %.1f ms\n", read,
                 convert, filter, write);
  }
  return 0;
}

int Save(int argc, char** argv) {
  bool whole = false;
  bool slow = false;
  bool stageTimes = false;
  TBandOptions options;
  int first = 1;
  for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
    if (std::strcmp(argv[first], "--straightforward") == 0) {
      slow = whole = true;
    } else if (std::strcmp(argv[first], "--whole") == 0) {
      whole = true;
    } else if (std::strcmp(argv[first], "--stage-times") == 0) {
      stageTimes = true;
    } else if (std::strcmp(argv[first], "--write-inline") == 0) {
      options.WriteAside = false;
    } else if (std::strcmp(argv[first], "--band-rows") == 0 && first + 1 < argc) {
      options.BandRows = std::atoi(argv[++first]);
    } else if (std::strcmp(argv[first], "--parts") == 0 && first + 1 < argc) {
      options.Parts = std::atoi(argv[++first]);
    } else {
      return Usage();
    }
  }
  if (argc - first != 3) return Usage();
  if (!whole) return BandedSave(argv[first], argv[first + 1], argv[first + 2], stageTimes, options);
  for (const TNamedFilter& f : kFilters) {
    if (std::strcmp(f.Name, argv[first]) == 0)
      return WholeSave(f, slow, argv[first + 1], argv[first + 2], stageTimes);
  }
  return Usage();
}

// The gradient written band by band, so that pictures of any size are made in little memory.
class TGradientRows final : public TRowSource {
 public:
  TGradientRows(std::int32_t width, std::int32_t height) : FWidth(width), FHeight(height) {}
  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  void ReadBand(std::int32_t first, std::int32_t count) override {
    FFirst = first;
    FBand.resize(3 * static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i)
      bench::GradientRow(Row(first + i), FWidth, FHeight, first + i);
  }
  const std::uint8_t* Row(std::int32_t y) const override {
    return FBand.data() +
           3 * static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(y - FFirst);
  }

 private:
  std::uint8_t* Row(std::int32_t y) {
    return FBand.data() +
           3 * static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(y - FFirst);
  }
  std::int32_t FWidth, FHeight, FFirst = 0;
  std::vector<std::uint8_t> FBand;
};

int MakeGradient(int argc, char** argv) {
  if (argc != 5) return Usage();
  TGradientRows rows(std::atoi(argv[2]), std::atoi(argv[3]));
  TBitmapBandWriter writer(argv[4], rows.Width(), rows.Height());
  return FilterInBands(nullptr, 0, rows, writer) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc > 1 && std::strcmp(argv[1], "--make-gradient") == 0) return MakeGradient(argc, argv);
    return Save(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
