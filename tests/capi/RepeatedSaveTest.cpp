// A save is a function of its input and options: the same file saved again and again, through
// penamo-filter's own path, gives the same bytes every time, whatever the number of threads.
// Cut bitmaps (whose missing rows read as black) and odd sizes (one pixel wide, rows that fill
// no whole band or deflate segment) through every filter into both output formats; run under
// ThreadSanitizer and valgrind too, where a race or a byte read before it was written shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "PictureMakers.h"
#include "Pictures24.h"
#include "PngWriter.h"
#include "TemporaryFolder.h"
#include "penamo.h"

namespace penamo {
namespace {

struct TContextFree {
  void operator()(penamo_context* context) const { penamo_context_free(context); }
};
using TContext = std::unique_ptr<penamo_context, TContextFree>;

// The inputs: a noise picture of each size as a whole bitmap, the same bitmap cut inside a row
// of its pixels, and a PNG from our writer.
std::vector<std::string> MakeInputs(const test::TTemporaryFolder& folder, std::int32_t width,
                                    std::int32_t height) {
  TBitmap picture;
  std::mt19937 random(static_cast<unsigned>(width * 31 + height));
  test::MakePicture24(picture, width, height, [&](std::int32_t i, std::int32_t y) {
    // Smooth runs broken by noise: the filters' error carries along rows and across them.
    return (i * 3 + y * 5) / 4 + static_cast<std::int32_t>(random() % 9);
  });
  const std::string name = std::to_string(width) + "x" + std::to_string(height);
  const std::string bitmap = folder / (name + ".bmp");
  picture.WriteBitmapFile(bitmap);
  test::TBytes bytes = test::ReadFileBytes(bitmap);
  bytes.resize(bytes.size() - (bytes.size() - 54) / 3 - 1);
  const std::string cut = folder / (name + "-cut.bmp");
  test::WriteFileBytes(cut, bytes);
  const std::string png = folder / (name + ".png");
  WritePngFile(picture, png, {});
  return {bitmap, cut, png};
}

// The options of one save.
struct TSave {
  std::string Filter;
  int Threads;
  penamo_format Format;
};

test::TBytes SaveOnce(const std::string& input, const TSave& save, const std::string& output) {
  TContext context(penamo_context_new());
  EXPECT_EQ(penamo_set_filter(context.get(), save.Filter.c_str()), PENAMO_OK);
  EXPECT_EQ(penamo_set_threads(context.get(), save.Threads), PENAMO_OK);
  const penamo_status status =
      penamo_filter_file(context.get(), input.c_str(), output.c_str(), save.Format);
  EXPECT_EQ(status, PENAMO_OK) << penamo_message(context.get()) << " " << input;
  return test::ReadFileBytes(output);
}

std::vector<std::string> Filters() {
  std::vector<std::string> filters = {"none"};
  for (int i = 0; i < penamo_filter_count(); ++i)
    filters.emplace_back(penamo_filter_at(i)->name);
  return filters;
}

TEST(RepeatedSaves, TheSameInputAndOptionsGiveTheSameBytesEveryTime) {
  const test::TTemporaryFolder folder;
  const int repeats = 3;
  for (const auto& [width, height] : std::vector<std::pair<std::int32_t, std::int32_t>>{
           {1, 131}, {3, 7}, {17, 131}, {4097, 37}}) {
    for (const std::string& input : MakeInputs(folder, width, height)) {
      for (const std::string& filter : Filters()) {
        for (const penamo_format format : {PENAMO_FORMAT_BMP, PENAMO_FORMAT_PNG}) {
          test::TBytes first;
          for (const int threads : {1, 0}) {
            for (int repeat = 0; repeat < repeats; ++repeat) {
              const test::TBytes bytes = SaveOnce(input, {filter, threads, format}, folder / "out");
              if (first.empty()) {
                first = bytes;
                ASSERT_FALSE(first.empty());
                continue;
              }
              ASSERT_TRUE(bytes == first) << input << ", " << filter
                                          << (format == PENAMO_FORMAT_PNG ? " to PNG" : " to BMP")
                                          << ", threads " << threads << ", save " << repeat + 1;
            }
          }
        }
      }
    }
  }
}

// The 69-byte bitmap (2 x 10 pixels of 32 bits with colour masks, cut short) that a fuzzing
// run once saved to PNG with two different deflate streams: into a new file (read band by band)
// and over itself (read whole first), one thread and two, again and again, always the same bytes.
TEST(RepeatedSaves, ATinyBitmapSavesToTheSamePngBothWaysEveryTime) {
  const test::TBytes input = {
      0x42, 0x4d, 0x46, 0x7f, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46, 0x00, 0x00, 0x00,
      0x37, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x01, 0x00,
      0x20, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x7f, 0x00, 0x01, 0x00, 0x00, 0x40, 0xff,
      0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0xff, 0xff, 0x60, 0x61, 0xf9,
      0xd9, 0xd9, 0xd9, 0xd9, 0xd9, 0xd9, 0xd9, 0x00, 0x20, 0xd9, 0xd9, 0xd9, 0xd9};
  const test::TTemporaryFolder folder;
  const std::string bitmap = folder / "tiny.bmp", over = folder / "over.bmp";
  test::WriteFileBytes(bitmap, input);
  test::TBytes first;
  for (const int threads : {1, 2}) {
    for (int repeat = 0; repeat < 40; ++repeat) {
      const TSave save{"none", threads, PENAMO_FORMAT_PNG};
      const test::TBytes banded = SaveOnce(bitmap, save, folder / "out.png");
      test::WriteFileBytes(over, input);
      const test::TBytes whole = SaveOnce(over, save, over);
      if (first.empty()) first = banded;
      ASSERT_FALSE(first.empty());
      ASSERT_TRUE(banded == first)
          << "into a new file, threads " << threads << ", save " << repeat + 1;
      ASSERT_TRUE(whole == first) << "over the input, threads " << threads << ", save "
                                  << repeat + 1;
    }
  }
}

}  // namespace
}  // namespace penamo
