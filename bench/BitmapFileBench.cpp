// Reading and writing bitmap files: one read straight into the storage for uncompressed pixels,
// one pass over the data for run-length ones, three writes for a 24-bit file. The figures are
// bytes of file per second, to and from memory, so the disk plays no part.
//   build/bench/penamo_bench --benchmark_filter=Bitmap
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "Bitmap.h"
#include "Gradient.h"
#include "Stream.h"

namespace penamo {
namespace {

constexpr int kSide = 4096;

const std::vector<std::uint8_t>& File24() {
  static const std::vector<std::uint8_t> bytes = [] {
    TBitmap picture;
    bench::MakeGradient(picture, kSide, kSide);
    TMemoryStream stream;
    picture.WriteBitmapStream(stream);
    return stream.Bytes();
  }();
  return bytes;
}

// An 8-bit run-length file of the same size: runs of 16 pixels of a grey ramp, one end of line
// per row.
const std::vector<std::uint8_t>& FileRunLength8() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> data;
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; x += 16)
        data.insert(data.end(), {16, static_cast<std::uint8_t>((x + y) / 32)});
      data.insert(data.end(), {0, 0});
    }
    data.insert(data.end(), {0, 1});
    std::vector<std::uint8_t> file(54 + 1024, 0);
    auto put = [&](std::size_t at, std::uint32_t v) {
      for (int i = 0; i < 4; ++i)
        file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put(14, 40), put(18, kSide), put(22, kSide), put(26, 1 | (8 << 16)), put(30, BI_RLE8);
    put(34, static_cast<std::uint32_t>(data.size()));
    for (int i = 0; i < 256; ++i)
      file[54 + 4 * i] = file[55 + 4 * i] = file[56 + 4 * i] = static_cast<std::uint8_t>(i);
    file.insert(file.end(), data.begin(), data.end());
    return file;
  }();
  return bytes;
}

void Read(benchmark::State& state, const std::vector<std::uint8_t>& bytes) {
  for (auto _ : state) {
    state.PauseTiming();
    TMemoryStream stream(bytes);
    state.ResumeTiming();
    TBitmap picture;
    picture.ReadBitmapStream(stream);
    benchmark::DoNotOptimize(picture.Image().Pixels());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

void BM_BitmapRead24Bits4096(benchmark::State& state) {
  Read(state, File24());
}
void BM_BitmapReadRunLength8Bits4096(benchmark::State& state) {
  Read(state, FileRunLength8());
}

void BM_BitmapWrite24Bits4096(benchmark::State& state) {
  TMemoryStream source(File24());
  TBitmap picture;
  picture.ReadBitmapStream(source);
  for (auto _ : state) {
    TMemoryStream stream;
    picture.WriteBitmapStream(stream);
    benchmark::DoNotOptimize(stream.Bytes().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(File24().size()));
}

BENCHMARK(BM_BitmapRead24Bits4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapReadRunLength8Bits4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapWrite24Bits4096)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace penamo
