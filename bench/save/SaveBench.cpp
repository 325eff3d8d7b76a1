// The save of the command-line tool (read, convert to 24 bits, filter, write) with a choice of
// filter implementation, for measuring the fast filters against the straightforward ones over
// the same files; and the maker of the test picture. A measuring tool only: the program itself
// has no such switch.
//
//   penamo_save_bench [--straightforward] [--stage-times] FILTER IN.bmp OUT.bmp
//   penamo_save_bench --make-gradient WIDTH HEIGHT OUT.bmp
//
// FILTER is pattern4, pattern16, diffusion16, diffusion32 or diffusion64.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "Bitmap.h"
#include "Gradient.h"
#include "StraightforwardFilters.h"
#include "YReduce.h"

namespace {

using namespace penamo;

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
  std::fprintf(
      stderr,
      "usage: penamo_save_bench [--straightforward] [--stage-times] FILTER IN.bmp OUT.bmp\n"
      "       penamo_save_bench --make-gradient WIDTH HEIGHT OUT.bmp\n");
  return 2;
}

// Milliseconds since the previous call, for --stage-times.
double Lap() {
  static auto last = std::chrono::steady_clock::now();
  const auto now = std::chrono::steady_clock::now();
  const double ms = std::chrono::duration<double, std::milli>(now - last).count();
  last = now;
  return ms;
}

int Save(int argc, char** argv) {
  bool slow = false;
  bool stageTimes = false;
  int first = 1;
  for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
    if (std::strcmp(argv[first], "--straightforward") == 0) {
      slow = true;
    } else if (std::strcmp(argv[first], "--stage-times") == 0) {
      stageTimes = true;
    } else {
      return Usage();
    }
  }
  if (argc - first != 3) return Usage();
  const TNamedFilter* chosen = nullptr;
  for (const TNamedFilter& f : kFilters) {
    if (std::strcmp(f.Name, argv[first]) == 0) chosen = &f;
  }
  if (chosen == nullptr) return Usage();

  Lap();
  TBitmap picture;
  picture.ReadBitmapFile(argv[first + 1]);
  const double read = Lap();
  picture.ConvertTo24Bits();
  const double convert = Lap();
  TBitmap output;
  if (!(slow ? chosen->Straightforward : chosen->Fast)(picture, output)) {
    std::fprintf(stderr, "the filter failed\n");
    return 1;
  }
  const double filter = Lap();
  output.WriteBitmapFile(argv[first + 2]);
  const double write = Lap();
  if (stageTimes) {
    std::fprintf(stderr, "read %.1f ms, convert %.1f ms, filter %.1f ms, write %.1f ms\n", read,
                 convert, filter, write);
  }
  return 0;
}

int MakeGradient(int argc, char** argv) {
  if (argc != 5) return Usage();
  TBitmap picture;
  bench::MakeGradient(picture, std::atoi(argv[2]), std::atoi(argv[3]));
  picture.WriteBitmapFile(argv[4]);
  return 0;
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
