// libpenamo through its C interface: a caller's buffer filtered whole and band by band gives
// exactly the file penamo-filter's own path writes, every refusal is a status with its words,
// and contexts keep their settings apart on threads side by side.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HostilePictures.h"
#include "Machine.h"
#include "PictureKind.h"
#include "PictureMakers.h"
#include "TemporaryFolder.h"
#include "penamo.h"

namespace penamo {
namespace {

struct TContextFree {
  void operator()(penamo_context* context) const { penamo_context_free(context); }
};
using TContext = std::unique_ptr<penamo_context, TContextFree>;
struct TPictureFree {
  void operator()(penamo_picture* picture) const { penamo_picture_free(picture); }
};
using TPicture = std::unique_ptr<penamo_picture, TPictureFree>;

// An enumeration's value that none of its names has, as a C caller may pass it.
template <class Enum>
Enum Unlisted(int value) {
  static_assert(sizeof(Enum) == sizeof(int));
  Enum unlisted;
  std::memcpy(&unlisted, &value, sizeof unlisted);
  return unlisted;
}

// The options of one run: the filter and what it takes.
struct TFilterCase {
  const char* Filter;
  int Strength = 100;
  int Levels = 256;
  bool Grey = false;
  penamo_light Light = PENAMO_LIGHT_LINEAR;
};

TContext NewContext(const TFilterCase& options) {
  TContext context(penamo_context_new());
  EXPECT_NE(context, nullptr);
  EXPECT_EQ(penamo_set_filter(context.get(), options.Filter), PENAMO_OK);
  EXPECT_EQ(penamo_set_strength(context.get(), options.Strength), PENAMO_OK);
  EXPECT_EQ(penamo_set_levels(context.get(), options.Levels), PENAMO_OK);
  EXPECT_EQ(penamo_set_grey(context.get(), options.Grey), PENAMO_OK);
  EXPECT_EQ(penamo_set_light(context.get(), options.Light), PENAMO_OK);
  return context;
}

// A picture's samples (red, green, blue, alpha as the layout has them, 0 .. 2^depth - 1): smooth
// gradients, where dithering shows, with a little noise and an alpha that varies.
struct TSamples {
  int Width = 0;
  int Height = 0;
  penamo_layout Layout = PENAMO_RGB;
  int Depth = 8;
  std::vector<std::uint32_t> Values;
};

TSamples MakeSamples(int width, int height, penamo_layout layout, int depth) {
  TSamples samples{width, height, layout, depth, {}};
  const std::uint32_t full = depth == 8 ? 255 : 65535;
  std::uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < layout; ++c) {
        noise = noise * 1103515245u + 12345u;
        const std::uint64_t ramp = (static_cast<std::uint64_t>(x) * (c + 1) +
                                    static_cast<std::uint64_t>(y) * (3 - c % 3)) *
                                   full / static_cast<std::uint64_t>(width * 2 + height * 3);
        samples.Values.push_back(
            static_cast<std::uint32_t>((ramp + (noise >> 16) % 7) % (full + 1)));
      }
    }
  }
  return samples;
}

// The samples as a caller's buffer: rows stride bytes apart, the bytes past each row's end set
// to pad so that a write there shows.
std::vector<std::uint8_t> BufferOf(const TSamples& samples, std::size_t stride,
                                   std::uint8_t pad = 0xA5) {
  std::vector<std::uint8_t> buffer(stride * static_cast<std::size_t>(samples.Height), pad);
  const std::size_t perRow = static_cast<std::size_t>(samples.Width) * samples.Layout;
  for (int y = 0; y < samples.Height; ++y) {
    std::uint8_t* row = buffer.data() + stride * static_cast<std::size_t>(y);
    for (std::size_t i = 0; i < perRow; ++i) {
      const std::uint32_t value = samples.Values[perRow * static_cast<std::size_t>(y) + i];
      if (samples.Depth == 8) {
        row[i] = static_cast<std::uint8_t>(value);
      } else {
        const auto sample = static_cast<std::uint16_t>(value);
        std::memcpy(row + 2 * i, &sample, 2);
      }
    }
  }
  return buffer;
}

std::size_t RowBytes(int width, penamo_layout layout, int depth) {
  return static_cast<std::size_t>(width) * layout * static_cast<std::size_t>(depth / 8);
}

test::TBytes PngOf(const TSamples& samples) {
  test::TPngLayout png;
  png.Width = samples.Width;
  png.Height = samples.Height;
  png.BitDepth = samples.Depth;
  png.ColorType = samples.Layout == PENAMO_GREY         ? PNG_COLOR_TYPE_GRAY
                  : samples.Layout == PENAMO_GREY_ALPHA ? PNG_COLOR_TYPE_GRAY_ALPHA
                  : samples.Layout == PENAMO_RGB        ? PNG_COLOR_TYPE_RGB
                                                        : PNG_COLOR_TYPE_RGBA;
  png.Samples = samples.Values;
  return test::MakePng(png);
}

// The 8-bit pixels of out_layout the file at path holds, as penamo_filter_image would give them.
std::vector<std::uint8_t> FilePixels(const std::string& path, penamo_layout outLayout) {
  const TContext context(penamo_context_new());
  penamo_picture* read = nullptr;
  EXPECT_EQ(penamo_read(context.get(), path.c_str(), 8, &read), PENAMO_OK)
      << penamo_message(context.get());
  const TPicture picture(read);
  std::vector<std::uint8_t> pixels;
  if (!picture) return pixels;
  penamo_image image{};
  EXPECT_EQ(penamo_picture_image(picture.get(), &image), PENAMO_OK);
  for (int y = 0; y < image.height; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(image.pixels) + image.stride * y;
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* pixel = row + x * image.layout;
      const std::uint8_t alpha = image.layout == PENAMO_RGBA ? pixel[3] : 255;
      switch (outLayout) {
        case PENAMO_GREY:
        case PENAMO_GREY_ALPHA:
          EXPECT_TRUE(pixel[0] == pixel[1] && pixel[1] == pixel[2]) << x << "," << y;
          pixels.push_back(pixel[0]);
          break;
        case PENAMO_RGB:
        case PENAMO_RGBA:
          pixels.insert(pixels.end(), pixel, pixel + 3);
          break;
      }
      if (outLayout == PENAMO_GREY_ALPHA || outLayout == PENAMO_RGBA) pixels.push_back(alpha);
    }
  }
  return pixels;
}

// The rows of a buffer without what lies past each row's end.
std::vector<std::uint8_t> Packed(const std::vector<std::uint8_t>& buffer, std::size_t stride,
                                 std::size_t rowBytes, int height) {
  std::vector<std::uint8_t> packed;
  for (int y = 0; y < height; ++y)
    packed.insert(packed.end(), buffer.begin() + static_cast<std::ptrdiff_t>(stride * y),
                  buffer.begin() + static_cast<std::ptrdiff_t>(stride * y + rowBytes));
  return packed;
}

// Whether every byte past each row's end is still pad.
bool PaddingUntouched(const std::vector<std::uint8_t>& buffer, std::size_t stride,
                      std::size_t rowBytes, std::uint8_t pad) {
  for (std::size_t at = 0; at < buffer.size(); ++at)
    if (at % stride >= rowBytes && buffer[at] != pad) return false;
  return true;
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const TFilterCase kFilterCases[] = {
    {"none"},
    {"pattern4"},
    {"pattern16"},
    {"diffusion64"},
    {"diffusion32", 55},
    {"diffusion16", 0},
    {"diffusion", 100, 4, false, PENAMO_LIGHT_LINEAR},
    {"diffusion", 100, 16, true, PENAMO_LIGHT_ENCODED},
    {"ordered", 100, 2, true, PENAMO_LIGHT_LINEAR},
    {"ordered", 100, 256, false, PENAMO_LIGHT_ENCODED},
};

struct TLayoutCase {
  penamo_layout Layout;
  int Depth;
};

class FilterImage : public testing::TestWithParam<std::tuple<TFilterCase, TLayoutCase>> {};

// The picture written as a PNG, then through penamo_filter_file, gives the bytes that
// penamo_filter_image gives from the buffer, in every out layout the options allow; penamo_save
// from the buffer writes the very file penamo_filter_file writes. 300 × 600 pixels are two bands.
TEST_P(FilterImage, GivesTheBytesOfTheFilteredFile) {
  const auto [options, in] = GetParam();
  const test::TTemporaryFolder folder;
  const TSamples samples = MakeSamples(300, 600, in.Layout, in.Depth);
  const std::string input = folder / "in.png";
  test::WriteFileBytes(input, PngOf(samples));
  const TContext context = NewContext(options);
  const std::string filtered = folder / "filtered.png";
  ASSERT_EQ(
      penamo_filter_file(context.get(), input.c_str(), filtered.c_str(), PENAMO_FORMAT_BY_NAME),
      PENAMO_OK)
      << penamo_message(context.get());

  const std::size_t inStride = RowBytes(samples.Width, in.Layout, in.Depth) + 5;
  std::vector<std::uint8_t> inBuffer = BufferOf(samples, inStride);
  const penamo_image inImage{inBuffer.data(), samples.Width, samples.Height,
                             inStride,        in.Layout,     in.Depth};
  std::vector<penamo_layout> outLayouts = {PENAMO_RGB, PENAMO_RGBA};
  if (options.Grey) outLayouts.insert(outLayouts.end(), {PENAMO_GREY, PENAMO_GREY_ALPHA});
  for (const penamo_layout outLayout : outLayouts) {
    SCOPED_TRACE("out layout " + std::to_string(outLayout));
    const std::size_t rowBytes = RowBytes(samples.Width, outLayout, 8);
    const std::size_t outStride = rowBytes + 3;
    std::vector<std::uint8_t> out(outStride * samples.Height, 0x5A);
    const penamo_image outImage{out.data(), samples.Width, samples.Height, outStride, outLayout, 8};
    ASSERT_EQ(penamo_filter_image(context.get(), &inImage, &outImage), PENAMO_OK)
        << penamo_message(context.get());
    EXPECT_STREQ(penamo_message(context.get()), "");
    EXPECT_TRUE(PaddingUntouched(out, outStride, rowBytes, 0x5A));
    EXPECT_EQ(Packed(out, outStride, rowBytes, samples.Height), FilePixels(filtered, outLayout));
  }

  const std::string saved = folder / "saved.png";
  ASSERT_EQ(penamo_save(context.get(), &inImage, nullptr, saved.c_str(), PENAMO_FORMAT_BY_NAME),
            PENAMO_OK)
      << penamo_message(context.get());
  EXPECT_EQ(FileBytes(saved), FileBytes(filtered));
}

INSTANTIATE_TEST_SUITE_P(
    FiltersLayoutsDepths, FilterImage,
    testing::Combine(testing::ValuesIn(kFilterCases),
                     testing::Values(TLayoutCase{PENAMO_GREY, 8}, TLayoutCase{PENAMO_GREY_ALPHA, 8},
                                     TLayoutCase{PENAMO_RGB, 8}, TLayoutCase{PENAMO_RGBA, 8},
                                     TLayoutCase{PENAMO_GREY, 16},
                                     TLayoutCase{PENAMO_GREY_ALPHA, 16},
                                     TLayoutCase{PENAMO_RGB, 16}, TLayoutCase{PENAMO_RGBA, 16})));

// The unfiltered copy gives each pixel's samples back, 16-bit ones rounded as the readers round
// them and grey repeated: the conversions in and out against the plainest definition, at every
// width from 1 to 17 (the byte shuffles take five pixels a step and finish pixel by pixel).
TEST(FilterImage, TheUnfilteredCopyGivesEachPixelsSamples) {
  const TContext context = NewContext({"none"});
  for (int width = 1; width <= 17; ++width) {
    for (const TLayoutCase in : {TLayoutCase{PENAMO_RGB, 8}, TLayoutCase{PENAMO_RGBA, 8},
                                 TLayoutCase{PENAMO_GREY_ALPHA, 16}, TLayoutCase{PENAMO_RGB, 16}}) {
      SCOPED_TRACE(std::to_string(width) + " pixels, layout " + std::to_string(in.Layout));
      const TSamples samples = MakeSamples(width, 3, in.Layout, in.Depth);
      std::vector<std::uint8_t> buffer = BufferOf(samples, RowBytes(width, in.Layout, in.Depth));
      const penamo_image inImage{buffer.data(), width,   3, RowBytes(width, in.Layout, in.Depth),
                                 in.Layout,     in.Depth};
      for (const penamo_layout outLayout : {PENAMO_RGB, PENAMO_RGBA}) {
        std::vector<std::uint8_t> out(RowBytes(width, outLayout, 8) * 3);
        const penamo_image outImage{out.data(), width, 3, RowBytes(width, outLayout, 8),
                                    outLayout,  8};
        ASSERT_EQ(penamo_filter_image(context.get(), &inImage, &outImage), PENAMO_OK);
        std::vector<std::uint8_t> expected;
        for (std::size_t pixel = 0; pixel < static_cast<std::size_t>(width) * 3; ++pixel) {
          const auto sample = [&](int c) {
            const std::uint32_t value = samples.Values[pixel * in.Layout + c];
            return static_cast<std::uint8_t>(in.Depth == 8 ? value : (value * 255 + 32767) / 65535);
          };
          const bool grey = in.Layout <= PENAMO_GREY_ALPHA;
          for (int c = 0; c < 3; ++c)
            expected.push_back(sample(grey ? 0 : c));
          if (outLayout == PENAMO_RGBA)
            expected.push_back(in.Layout % 2 == 0 ? sample(in.Layout - 1) : 255);
        }
        EXPECT_EQ(out, expected);
      }
    }
  }
}

struct TBandsFree {
  void operator()(penamo_bands* bands) const { penamo_bands_free(bands); }
};
using TBands = std::unique_ptr<penamo_bands, TBandsFree>;

class Bands : public testing::TestWithParam<TFilterCase> {};

// Rows pushed 1, then 7, then the rest at once come out as the whole call gives them: the
// diffusions carry their error from push to push.
TEST_P(Bands, PushedInOddCountsEqualTheWholeCall) {
  const TFilterCase options = GetParam();
  const TContext context = NewContext(options);
  for (const TLayoutCase in : {TLayoutCase{PENAMO_RGBA, 16}, TLayoutCase{PENAMO_RGB, 8}}) {
    const TSamples samples = MakeSamples(613, 300, in.Layout, in.Depth);
    const std::size_t inStride = RowBytes(samples.Width, in.Layout, in.Depth) + 2;
    std::vector<std::uint8_t> inBuffer = BufferOf(samples, inStride);
    const penamo_layout outLayout = options.Grey ? PENAMO_GREY_ALPHA : PENAMO_RGBA;
    const std::size_t outStride = RowBytes(samples.Width, outLayout, 8);
    std::vector<std::uint8_t> whole(outStride * samples.Height);
    const penamo_image inImage{inBuffer.data(), samples.Width, samples.Height,
                               inStride,        in.Layout,     in.Depth};
    const penamo_image outImage{whole.data(), samples.Width, samples.Height,
                                outStride,    outLayout,     8};
    ASSERT_EQ(penamo_filter_image(context.get(), &inImage, &outImage), PENAMO_OK);

    penamo_bands* begun = nullptr;
    ASSERT_EQ(penamo_bands_begin(context.get(), samples.Width, samples.Height, in.Layout, in.Depth,
                                 outLayout, &begun),
              PENAMO_OK)
        << penamo_message(context.get());
    const TBands bands(begun);
    std::vector<std::uint8_t> pushed(whole.size());
    for (const int count : {1, 7, samples.Height - 8}) {
      const std::int32_t done = penamo_bands_rows_done(bands.get());
      ASSERT_EQ(penamo_bands_push(bands.get(), inBuffer.data() + inStride * done, inStride, count,
                                  pushed.data() + outStride * done, outStride),
                PENAMO_OK)
          << penamo_message(context.get());
    }
    EXPECT_EQ(penamo_bands_rows_done(bands.get()), samples.Height);
    EXPECT_EQ(pushed, whole);
    // No row past the picture's height.
    EXPECT_EQ(
        penamo_bands_push(bands.get(), inBuffer.data(), inStride, 1, pushed.data(), outStride),
        PENAMO_INVALID_ARGUMENT);
    EXPECT_STREQ(penamo_reason(context.get()), "too-many-rows");
  }
}

INSTANTIATE_TEST_SUITE_P(EveryKernel, Bands, testing::ValuesIn(kFilterCases));

// ---- Refusals ----

struct TRefusalCase {
  const char* Name;
  const char* Reason;
  // Makes the call with a context set to diffusion32 and a 4 × 3 RGB 8-bit picture.
  std::function<penamo_status(penamo_context*, penamo_image in, penamo_image out)> Call;
};

class Refusal : public testing::TestWithParam<TRefusalCase> {};

TEST_P(Refusal, IsAnInvalidArgumentWithItsWords) {
  const TRefusalCase& refusal = GetParam();
  const TContext context = NewContext({"diffusion32"});
  std::vector<std::uint8_t> in(4 * 3 * 3, 100);
  std::vector<std::uint8_t> out(4 * 3 * 4, 0);
  const penamo_image inImage{in.data(), 4, 3, 12, PENAMO_RGB, 8};
  const penamo_image outImage{out.data(), 4, 3, 12, PENAMO_RGB, 8};
  EXPECT_EQ(refusal.Call(context.get(), inImage, outImage), PENAMO_INVALID_ARGUMENT);
  EXPECT_STRNE(penamo_message(context.get()), "");
  EXPECT_STREQ(penamo_reason(context.get()), refusal.Reason);
  EXPECT_STREQ(penamo_error_class(context.get()), "EInvalidArgument");
  // The next success empties the words.
  EXPECT_EQ(penamo_set_strength(context.get(), 50), PENAMO_OK);
  EXPECT_STREQ(penamo_message(context.get()), "");
  EXPECT_STREQ(penamo_reason(context.get()), "");
}

penamo_status FilterWith(penamo_context* context, const penamo_image& in, const penamo_image& out) {
  return penamo_filter_image(context, &in, &out);
}

const TRefusalCase kRefusals[] = {
    {"NullIn", "null-in",
     [](penamo_context* c, penamo_image, penamo_image out) {
       return penamo_filter_image(c, nullptr, &out);
     }},
    {"NullOut", "null-out",
     [](penamo_context* c, penamo_image in, penamo_image) {
       return penamo_filter_image(c, &in, nullptr);
     }},
    {"NullPixels", "null-in->pixels",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       in.pixels = nullptr;
       return FilterWith(c, in, out);
     }},
    {"StrideShorterThanARow", "bad-stride",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       in.stride = 11;
       return FilterWith(c, in, out);
     }},
    {"OutStrideShorterThanARow", "bad-stride",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       out.layout = PENAMO_RGBA;
       return FilterWith(c, in, out);
     }},
    {"OutSmallerThanIn", "size-mismatch",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       out.height = 2;
       return FilterWith(c, in, out);
     }},
    {"OutOfSixteenBits", "bad-out-depth",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       out.depth = 16;
       out.stride = 24;
       return FilterWith(c, in, out);
     }},
    {"GreyOutWithoutGrey", "grey-out-without-grey",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       out.layout = PENAMO_GREY;
       out.stride = 4;
       return FilterWith(c, in, out);
     }},
    {"GreyOutOfADeepFilterWithoutGrey", "grey-out-without-grey",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       penamo_set_filter(c, "ordered");
       out.layout = PENAMO_GREY_ALPHA;
       return FilterWith(c, in, out);
     }},
    {"UnknownLayout", "bad-layout",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       in.layout = Unlisted<penamo_layout>(5);
       return FilterWith(c, in, out);
     }},
    {"TwelveBits", "bad-depth",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       in.depth = 12;
       return FilterWith(c, in, out);
     }},
    {"NoRows", "bad-size",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       in.height = 0;
       return FilterWith(c, in, out);
     }},
    {"Overlapping", "buffers-overlap",
     [](penamo_context* c, penamo_image in, penamo_image out) {
       out.pixels = static_cast<std::uint8_t*>(in.pixels) + 6;
       return FilterWith(c, in, out);
     }},
    {"UnknownFilter", "unknown-filter",
     [](penamo_context* c, penamo_image, penamo_image) {
       return penamo_set_filter(c, "diffusion8");
     }},
    {"NullFilterName", "null-name",
     [](penamo_context* c, penamo_image, penamo_image) { return penamo_set_filter(c, nullptr); }},
    {"StrengthAbove100", "bad-strength",
     [](penamo_context* c, penamo_image, penamo_image) { return penamo_set_strength(c, 101); }},
    {"NegativeStrength", "bad-strength",
     [](penamo_context* c, penamo_image, penamo_image) { return penamo_set_strength(c, -1); }},
    {"OneLevel", "bad-levels",
     [](penamo_context* c, penamo_image, penamo_image) { return penamo_set_levels(c, 1); }},
    {"TooManyLevels", "bad-levels",
     [](penamo_context* c, penamo_image, penamo_image) { return penamo_set_levels(c, 257); }},
    {"UnknownLight", "bad-light",
     [](penamo_context* c, penamo_image, penamo_image) {
       return penamo_set_light(c, Unlisted<penamo_light>(2));
     }},
    {"NegativeThreads", "bad-threads",
     [](penamo_context* c, penamo_image, penamo_image) { return penamo_set_threads(c, -1); }},
    {"BandsWithoutPlace", "null-bands",
     [](penamo_context* c, penamo_image, penamo_image) {
       return penamo_bands_begin(c, 4, 3, PENAMO_RGB, 8, PENAMO_RGB, nullptr);
     }},
    {"BandsOfNoWidth", "bad-size",
     [](penamo_context* c, penamo_image, penamo_image) {
       penamo_bands* bands = nullptr;
       return penamo_bands_begin(c, 0, 3, PENAMO_RGB, 8, PENAMO_RGB, &bands);
     }},
    {"ReadAtFourBits", "bad-depth",
     [](penamo_context* c, penamo_image, penamo_image) {
       penamo_picture* picture = nullptr;
       return penamo_read(c, "x.png", 4, &picture);
     }},
    {"ReadWithoutPath", "null-path",
     [](penamo_context* c, penamo_image, penamo_image) {
       penamo_picture* picture = nullptr;
       return penamo_read(c, nullptr, 8, &picture);
     }},
    {"SaveInAnUnknownFormat", "bad-format",
     [](penamo_context* c, penamo_image in, penamo_image) {
       return penamo_save(c, &in, nullptr, "/nonexistent/x", Unlisted<penamo_format>(9));
     }},
    {"FilterFileWithoutOutput", "null-output",
     [](penamo_context* c, penamo_image, penamo_image) {
       return penamo_filter_file(c, "a.png", nullptr, PENAMO_FORMAT_PNG);
     }},
};

INSTANTIATE_TEST_SUITE_P(Arguments, Refusal, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<TRefusalCase>& refusal) {
                           return std::string(refusal.param.Name);
                         });

TEST(Refusal, WithoutAContextIsAnInvalidArgumentAndEmptyWords) {
  std::uint8_t pixels[3] = {};
  const penamo_image image{pixels, 1, 1, 3, PENAMO_RGB, 8};
  EXPECT_EQ(penamo_filter_image(nullptr, &image, &image), PENAMO_INVALID_ARGUMENT);
  EXPECT_EQ(penamo_set_filter(nullptr, "none"), PENAMO_INVALID_ARGUMENT);
  EXPECT_EQ(penamo_bands_push(nullptr, pixels, 3, 1, pixels, 3), PENAMO_INVALID_ARGUMENT);
  EXPECT_STREQ(penamo_message(nullptr), "");
  EXPECT_STREQ(penamo_cause(nullptr), "");
}

TEST(Files, AMissingFileIsAReadErrorNamingTheFileAndWhy) {
  const test::TTemporaryFolder folder;
  const TContext context = NewContext({"diffusion"});
  const std::string input = folder / "missing.png";
  const std::string output = folder / "out.png";
  EXPECT_EQ(penamo_filter_file(context.get(), input.c_str(), output.c_str(), PENAMO_FORMAT_PNG),
            PENAMO_READ_ERROR);
  EXPECT_EQ(std::string(penamo_message(context.get())), "ファイル " + input + " は開けません.");
  EXPECT_EQ(std::string(penamo_cause(context.get())),
            "ファイル " + input + ": ファイルまたはフォルダーがありません");
  EXPECT_STREQ(penamo_error_class(context.get()), "EFOpenError");
  EXPECT_FALSE(std::filesystem::exists(output));
  penamo_picture* picture = nullptr;
  EXPECT_EQ(penamo_read(context.get(), input.c_str(), 0, &picture), PENAMO_READ_ERROR);
  EXPECT_EQ(picture, nullptr);
  EXPECT_EQ(std::string(penamo_cause(context.get())),
            "ファイル " + input + ": ファイルまたはフォルダーがありません");
}

TEST(Files, AnOutputThatCannotBeMadeIsAWriteErrorNamingTheOutput) {
  const test::TTemporaryFolder folder;
  const TContext context = NewContext({"pattern4"});
  const std::string input = folder / "in.png";
  test::WriteFileBytes(input, PngOf(MakeSamples(8, 8, PENAMO_RGB, 8)));
  const std::string output = folder / "no/such/folder/out.png";
  EXPECT_EQ(penamo_filter_file(context.get(), input.c_str(), output.c_str(), PENAMO_FORMAT_PNG),
            PENAMO_WRITE_ERROR);
  EXPECT_EQ(std::string(penamo_cause(context.get())),
            "ファイル " + output + ": ファイルまたはフォルダーがありません");
}

TEST(Files, ReadGivesTheSamplesAndMetadataSavedAndTheFullDepth) {
  const test::TTemporaryFolder folder;
  const TContext context = NewContext({"none"});
  // 8-bit RGBA with a profile, EXIF and XMP: saved unfiltered and read back unchanged.
  const TSamples samples = MakeSamples(37, 21, PENAMO_RGBA, 8);
  std::vector<std::uint8_t> buffer = BufferOf(samples, RowBytes(37, PENAMO_RGBA, 8));
  const penamo_image image{buffer.data(), 37, 21, RowBytes(37, PENAMO_RGBA, 8), PENAMO_RGBA, 8};
  const test::TBytes profile = test::SmallProfile();
  const std::uint8_t exif[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0};
  const std::string xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
  const penamo_metadata metadata{profile.data(),
                                 profile.size(),
                                 exif,
                                 sizeof exif,
                                 reinterpret_cast<const std::uint8_t*>(xmp.data()),
                                 xmp.size()};
  const std::string path = folder / "saved.png";
  ASSERT_EQ(penamo_save(context.get(), &image, &metadata, path.c_str(), PENAMO_FORMAT_BY_NAME),
            PENAMO_OK)
      << penamo_message(context.get());
  penamo_picture* read = nullptr;
  ASSERT_EQ(penamo_read(context.get(), path.c_str(), 0, &read), PENAMO_OK);
  const TPicture picture(read);
  penamo_image got{};
  ASSERT_EQ(penamo_picture_image(picture.get(), &got), PENAMO_OK);
  EXPECT_EQ(got.layout, PENAMO_RGBA);
  EXPECT_EQ(got.depth, 8);
  EXPECT_EQ(std::vector<std::uint8_t>(static_cast<std::uint8_t*>(got.pixels),
                                      static_cast<std::uint8_t*>(got.pixels) + buffer.size()),
            buffer);
  penamo_metadata gotMetadata{};
  ASSERT_EQ(penamo_picture_metadata(picture.get(), &gotMetadata), PENAMO_OK);
  EXPECT_EQ(
      test::TBytes(gotMetadata.icc_profile, gotMetadata.icc_profile + gotMetadata.icc_profile_size),
      profile);
  EXPECT_EQ(test::TBytes(gotMetadata.exif, gotMetadata.exif + gotMetadata.exif_size),
            test::TBytes(exif, exif + sizeof exif));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(gotMetadata.xmp), gotMetadata.xmp_size), xmp);

  // With strip the same save carries none of them.
  ASSERT_EQ(penamo_set_strip(context.get(), 1), PENAMO_OK);
  ASSERT_EQ(penamo_save(context.get(), &image, &metadata, path.c_str(), PENAMO_FORMAT_PNG),
            PENAMO_OK);
  ASSERT_EQ(penamo_read(context.get(), path.c_str(), 8, &read), PENAMO_OK);
  const TPicture stripped(read);
  ASSERT_EQ(penamo_picture_metadata(stripped.get(), &gotMetadata), PENAMO_OK);
  EXPECT_EQ(gotMetadata.icc_profile, nullptr);
  EXPECT_EQ(gotMetadata.exif_size, 0u);
  EXPECT_EQ(gotMetadata.xmp, nullptr);

  // A 16-bit PNG: at full precision by depth 0 and 16, rounded as the readers round by depth 8.
  const TSamples deep = MakeSamples(19, 5, PENAMO_RGB, 16);
  const std::string deepPath = folder / "deep.png";
  test::WriteFileBytes(deepPath, PngOf(deep));
  for (const int depth : {0, 16, 8}) {
    ASSERT_EQ(penamo_read(context.get(), deepPath.c_str(), depth, &read), PENAMO_OK);
    const TPicture deepPicture(read);
    ASSERT_EQ(penamo_picture_image(deepPicture.get(), &got), PENAMO_OK);
    EXPECT_EQ(got.depth, depth == 8 ? 8 : 16);
    for (std::size_t i = 0; i < deep.Values.size(); ++i) {
      const std::uint32_t value = deep.Values[i];
      if (depth == 8) {
        ASSERT_EQ(static_cast<std::uint8_t*>(got.pixels)[i], (value * 255 + 32767) / 65535) << i;
      } else {
        ASSERT_EQ(static_cast<std::uint16_t*>(got.pixels)[i], value) << i;
      }
    }
  }
}

// ---- Progress and cancelling ----

struct TProgressLog {
  std::vector<double> Fractions;
  int CancelAfter = -1;  // calls before the one that cancels; -1 never
};

int LogProgress(void* user, double fraction) {
  auto& log = *static_cast<TProgressLog*>(user);
  log.Fractions.push_back(fraction);
  return log.CancelAfter >= 0 && static_cast<int>(log.Fractions.size()) > log.CancelAfter;
}

TEST(Progress, RisesToOneAndCancellingLeavesNoFile) {
  const test::TTemporaryFolder folder;
  // Tall enough for several bands, so that the callback is asked between them.
  const TSamples samples = MakeSamples(1000, 900, PENAMO_RGB, 8);
  const std::string input = folder / "in.png";
  test::WriteFileBytes(input, PngOf(samples));
  std::vector<std::uint8_t> buffer = BufferOf(samples, RowBytes(1000, PENAMO_RGB, 8));
  const penamo_image image{buffer.data(), 1000, 900, RowBytes(1000, PENAMO_RGB, 8), PENAMO_RGB, 8};
  std::vector<std::uint8_t> out(buffer.size());
  const penamo_image outImage{out.data(), 1000, 900, RowBytes(1000, PENAMO_RGB, 8), PENAMO_RGB, 8};

  for (const char* filter : {"diffusion64", "ordered"}) {
    SCOPED_TRACE(filter);
    const TContext context = NewContext({filter});
    TProgressLog log;
    ASSERT_EQ(penamo_set_progress(context.get(), LogProgress, &log), PENAMO_OK);
    const std::string output = folder / "out.bmp";
    ASSERT_EQ(
        penamo_filter_file(context.get(), input.c_str(), output.c_str(), PENAMO_FORMAT_BY_NAME),
        PENAMO_OK);
    ASSERT_GT(log.Fractions.size(), 2u);
    EXPECT_EQ(log.Fractions.front(), 0.0);
    EXPECT_EQ(log.Fractions.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(log.Fractions.begin(), log.Fractions.end()));

    const std::string cancelled = folder / "cancelled.png";
    const std::string kept = folder / "kept.png";
    test::WriteFileBytes(kept, {1, 2, 3});
    const std::function<penamo_status()> calls[] = {
        [&] {
          return penamo_filter_file(context.get(), input.c_str(), cancelled.c_str(),
                                    PENAMO_FORMAT_PNG);
        },
        [&] {
          return penamo_save(context.get(), &image, nullptr, cancelled.c_str(), PENAMO_FORMAT_PNG);
        },
        // An earlier file under the name stays as it was.
        [&] {
          return penamo_filter_file(context.get(), input.c_str(), kept.c_str(), PENAMO_FORMAT_PNG);
        },
        [&] { return penamo_filter_image(context.get(), &image, &outImage); },
    };
    for (const auto& call : calls) {
      log = {{}, 1};
      EXPECT_EQ(call(), PENAMO_CANCELLED);
      EXPECT_STREQ(penamo_reason(context.get()), "cancelled");
      EXPECT_EQ(log.Fractions.size(), 2u);
    }
    EXPECT_FALSE(std::filesystem::exists(cancelled));
    // Asked to stop when all is done: too late, the file is whole and the call a success.
    ASSERT_EQ(
        penamo_set_progress(
            context.get(), [](void*, double fraction) { return fraction >= 1.0 ? 1 : 0; }, nullptr),
        PENAMO_OK);
    EXPECT_EQ(penamo_filter_file(context.get(), input.c_str(), output.c_str(), PENAMO_FORMAT_PNG),
              PENAMO_OK);
    EXPECT_TRUE(std::filesystem::exists(output));
    EXPECT_EQ(FileBytes(kept), (std::vector<std::uint8_t>{1, 2, 3}));
    std::filesystem::remove(output);
    std::filesystem::remove(kept);
    for (const std::string& name : folder.Names())
      EXPECT_EQ(name, "in.png") << "left behind";
  }
}

// ---- Threads ----

// The claim rule is each context's own: a trusted context and a wary one, reading the same file
// that claims far more than it holds at the same time, each get their own answer every time.
TEST(Threads, TheClaimRuleIsEachContextsOwn) {
  const test::TTemporaryFolder folder;
  const std::string input = folder / "huge.bmp";
  test::WriteFileBytes(input, test::BitmapHeaderOnly(2000000000, 2000000000));
  std::atomic<int> wrong{0};
  const auto reader = [&](bool trusted, const char* reason) {
    const TContext context(penamo_context_new());
    penamo_set_trusted_input(context.get(), trusted);
    for (int i = 0; i < 200; ++i) {
      penamo_picture* picture = nullptr;
      const penamo_status status = penamo_read(context.get(), input.c_str(), 8, &picture);
      penamo_picture_free(picture);
      if (status != PENAMO_TOO_LARGE || std::string(penamo_reason(context.get())) != reason)
        ++wrong;
    }
  };
  std::thread trustedReader(reader, true, "picture-too-large");
  std::thread waryReader(reader, false, "bitmap-claims-more-than-data");
  trustedReader.join();
  waryReader.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Two contexts filtering on two threads at once give what each gives alone.
TEST(Threads, TwoContextsAtOnceGiveWhatEachGivesAlone) {
  const TSamples first = MakeSamples(700, 300, PENAMO_RGBA, 16);
  const TSamples second = MakeSamples(500, 400, PENAMO_RGB, 8);
  struct TJob {
    const TSamples* Samples;
    TFilterCase Options;
    std::vector<std::uint8_t> In;
    std::vector<std::uint8_t> Alone;
  };
  TJob jobs[2] = {{&first, {"diffusion", 100, 8, false, PENAMO_LIGHT_LINEAR}, {}, {}},
                  {&second, {"diffusion32", 70}, {}, {}}};
  const auto run = [](TJob& job, penamo_context* context) {
    const TSamples& s = *job.Samples;
    const std::size_t inStride = RowBytes(s.Width, s.Layout, s.Depth);
    std::vector<std::uint8_t> out(RowBytes(s.Width, PENAMO_RGB, 8) * s.Height);
    const penamo_image in{job.In.data(), s.Width, s.Height, inStride, s.Layout, s.Depth};
    const penamo_image outImage{out.data(), s.Width, s.Height, RowBytes(s.Width, PENAMO_RGB, 8),
                                PENAMO_RGB, 8};
    EXPECT_EQ(penamo_filter_image(context, &in, &outImage), PENAMO_OK);
    return out;
  };
  for (TJob& job : jobs) {
    job.In = BufferOf(*job.Samples,
                      RowBytes(job.Samples->Width, job.Samples->Layout, job.Samples->Depth));
    job.Alone = run(job, NewContext(job.Options).get());
  }
  std::atomic<int> different{0};
  std::vector<std::thread> threads;
  for (TJob& job : jobs) {
    threads.emplace_back([&] {
      const TContext context = NewContext(job.Options);
      for (int i = 0; i < 4; ++i)
        if (run(job, context.get()) != job.Alone) ++different;
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(different.load(), 0);
}

// ---- The lists ----

// Every filter of the list is found by its name, and its ranges are what the setters take.
TEST(FilterList, RangesAreWhatTheSettersTake) {
  ASSERT_EQ(penamo_filter_count(), 7);
  EXPECT_EQ(penamo_filter_at(-1), nullptr);
  EXPECT_EQ(penamo_filter_at(7), nullptr);
  EXPECT_EQ(penamo_filter_named("none"), nullptr);
  EXPECT_EQ(penamo_filter_named(nullptr), nullptr);
  const TContext context(penamo_context_new());
  for (int i = 0; i < penamo_filter_count(); ++i) {
    const penamo_filter_info* info = penamo_filter_at(i);
    SCOPED_TRACE(info->name);
    EXPECT_EQ(penamo_filter_named(info->name), info);
    EXPECT_EQ(penamo_set_filter(context.get(), info->name), PENAMO_OK);
    EXPECT_STRNE(info->caption, "");
    if (info->takes_strength) {
      EXPECT_EQ(penamo_set_strength(context.get(), info->min_strength), PENAMO_OK);
      EXPECT_EQ(penamo_set_strength(context.get(), info->max_strength), PENAMO_OK);
      EXPECT_EQ(penamo_set_strength(context.get(), info->max_strength + 1),
                PENAMO_INVALID_ARGUMENT);
      EXPECT_EQ(penamo_set_strength(context.get(), info->min_strength - 1),
                PENAMO_INVALID_ARGUMENT);
    }
    if (info->takes_levels) {
      EXPECT_EQ(info->fixed_levels, 0);
      EXPECT_EQ(penamo_set_levels(context.get(), info->min_levels), PENAMO_OK);
      EXPECT_EQ(penamo_set_levels(context.get(), info->max_levels), PENAMO_OK);
      EXPECT_EQ(penamo_set_levels(context.get(), info->max_levels + 1), PENAMO_INVALID_ARGUMENT);
      EXPECT_EQ(penamo_set_levels(context.get(), info->min_levels - 1), PENAMO_INVALID_ARGUMENT);
      EXPECT_GE(info->default_levels, info->min_levels);
    } else {
      EXPECT_GT(info->fixed_levels, 1);
    }
  }
  EXPECT_STREQ(penamo_filter_at(0)->name, "pattern4");
  EXPECT_STREQ(penamo_filter_at(6)->name, "ordered");
}

// The format list is the format table, row for row, and each kind it calls written is what
// penamo_save writes when asked for it: a file whose first bytes are that kind's, whatever its
// name says.
TEST(FormatList, IsTheFormatTableAndEveryWrittenKindIsWritten) {
  const std::vector<TPictureFormat>& table = PictureFormats();
  ASSERT_EQ(penamo_format_count(), static_cast<int>(table.size()));
  EXPECT_EQ(penamo_format_at(-1), nullptr);
  EXPECT_EQ(penamo_format_at(penamo_format_count()), nullptr);
  const auto listed = [](const char* const* texts) {
    std::vector<std::string> list;
    for (; texts != nullptr && *texts != nullptr; ++texts)
      list.emplace_back(*texts);
    return list;
  };
  test::TTemporaryFolder folder;
  const TSamples samples = MakeSamples(5, 3, PENAMO_RGB, 8);
  std::vector<std::uint8_t> pixels = BufferOf(samples, RowBytes(5, PENAMO_RGB, 8));
  const penamo_image image{pixels.data(), 5, 3, RowBytes(5, PENAMO_RGB, 8), PENAMO_RGB, 8};
  const TContext context(penamo_context_new());
  int written = 0;
  for (int i = 0; i < penamo_format_count(); ++i) {
    const penamo_format_info* info = penamo_format_at(i);
    const TPictureFormat& row = table[static_cast<std::size_t>(i)];
    SCOPED_TRACE(row.Name);
    EXPECT_STREQ(info->name, row.Name);
    EXPECT_EQ(listed(info->extensions), row.Extensions);
    EXPECT_EQ(listed(info->mime_types), row.MimeTypes);
    EXPECT_EQ(info->writable != 0, row.Writable());
    if (!info->writable) {
      EXPECT_EQ(info->format, PENAMO_FORMAT_BY_NAME);
      continue;
    }
    ++written;
    // A name that says nothing of the kind, so that only the value asks for it.
    const std::string path = folder / ("written-" + std::to_string(i) + ".out");
    ASSERT_EQ(penamo_save(context.get(), &image, nullptr, path.c_str(), info->format), PENAMO_OK)
        << penamo_message(context.get());
    const test::TBytes bytes = test::ReadFileBytes(path);
    const std::size_t head = std::min(bytes.size(), kPictureSignatureSize);
    EXPECT_EQ(PictureKindOf(bytes.data(), head), row.Kind);
    EXPECT_TRUE(row.Kind != TPictureKind::Bitmap || IsBitmapCandidate(bytes.data(), head, ""));
  }
  EXPECT_EQ(written, 2) << "a bitmap and a PNG";
  EXPECT_STREQ(penamo_format_at(0)->name, table.front().Name);
}

// The cores penamo splits its work by, as the library's own count gives them.
TEST(UsableCores, AreTheCountTheLibrarySplitsItsWorkBy) {
  EXPECT_EQ(penamo_usable_cores(), UsableCores());
  EXPECT_GE(penamo_usable_cores(), 1);
}

TEST(StatusNames, NameEveryStatusAndNoOther) {
  EXPECT_STREQ(penamo_status_name(PENAMO_OK), "PENAMO_OK");
  EXPECT_STREQ(penamo_status_name(PENAMO_READ_ERROR), "PENAMO_READ_ERROR");
  EXPECT_STREQ(penamo_status_name(PENAMO_INTERNAL_ERROR), "PENAMO_INTERNAL_ERROR");
  EXPECT_STREQ(penamo_status_name(Unlisted<penamo_status>(10)), "PENAMO_UNKNOWN_STATUS");
  EXPECT_STREQ(penamo_status_name(Unlisted<penamo_status>(-1)), "PENAMO_UNKNOWN_STATUS");
}

TEST(SystemCause, IsWrittenAsSnprintfWritesAndCutsNothingItCounts) {
  const std::string whole = "アクセス権がありません";
  EXPECT_EQ(penamo_system_cause(EACCES, nullptr, 0), whole.size());
  char text[64];
  EXPECT_EQ(penamo_system_cause(EACCES, text, sizeof text), whole.size());
  EXPECT_EQ(std::string(text), whole);
  EXPECT_EQ(penamo_system_cause(EACCES, text, 4), whole.size());
  EXPECT_EQ(std::string(text), whole.substr(0, 3));
  EXPECT_EQ(penamo_system_cause(123456, text, sizeof text),
            std::string("システム エラー (コード 123456)").size());
}

}  // namespace
}  // namespace penamo
