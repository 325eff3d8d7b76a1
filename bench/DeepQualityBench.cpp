// How well the filters for deep pictures keep a smooth 16-bit gradation when it is cut to 8 bits,
// beside plain rounding and a plain luma-only Floyd–Steinberg, on three pictures made here (a
// sky, a dark ramp, a grey ramp; 2048 × 1536 each):
//
//   block luma error: the mean, over the picture's 8 × 8 blocks, of the distance between the
//     block's mean written luma and its mean source luma, in 8-bit levels (luma
//     0.299 R + 0.587 G + 0.114 B with 16-bit samples taken as v / 257);
//   chroma error: the mean, over the pixels, of the distance in the (Cb, Cr) plane between the
//     written pixel and its 16-bit source (Cb = −0.168736 R − 0.331264 G + 0.5 B,
//     Cr = 0.5 R − 0.418688 G − 0.081312 B), in 8-bit levels, and the same as a ratio to
//     rounding's.
//
//   penamo_deep_quality_bench                 the table for rounding and the filters
//   penamo_deep_quality_bench --write DIR     also writes DIR/<picture>.png, 16 bits a sample
//   penamo_deep_quality_bench --compare DIR   also measures DIR/<picture>-other.png (8 or 16
//                                             bits), the same pictures through another tool
//   penamo_deep_quality_bench --kernels       also every candidate diffusion kernel
//   penamo_deep_quality_bench --light [DIR]   the two lights at 2, 4 and 16 levels, grey and
//                                             colour (below); DIR/<picture>-gegl-<N>.png, when
//                                             there, is GEGL's grey dither of DIR/<picture>.png
//   penamo_deep_quality_bench --light-write DIR   writes DIR/<picture>.png for that
//   penamo_deep_quality_bench --speed ROUNDS  linear against encoded light on a 4096 × 4096
//                                             16-bit picture, interleaved rounds
//   penamo_deep_quality_bench --speed-write FILE  that picture as a 16-bit PNG
//   penamo_deep_quality_bench --chroma-bound  how low any choice of levels could bring the chroma
//                                             error of colour output (below)
//   penamo_deep_quality_bench --preview DIR   2-level grey previews of the ramp and the sky, both
//                                             filters, both lights (whole and 4 x magnified)
//
// --light measures what the eye integrates from a viewing distance: the mean, over the picture's
// 16 × 16 blocks, of the distance between the block's mean light and its source's, as a share of
// white's light (light: the sRGB curve on each channel in double precision, then the BT.709
// luminance; written separately from the filters' integer tables), and the worst block; for
// colour output also the chroma error above as a ratio to plain rounding's. Pictures: a 16-bit
// grey ramp (1024 × 256) and the three above.
//
// bench/deep-quality-bench.sh runs GEGL's Floyd–Steinberg dither through --write and --compare.
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "DeepFilters.h"
#include "DeepRowSource.h"
#include "StraightforwardDeepFilters.h"

namespace {

using namespace penamo;

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;

struct TNamedPicture {
  std::string Name;
  TDeepPicture Picture;
};

TDeepPicture Make(const std::function<void(double u, double v, double* rgb)>& colour) {
  TDeepPicture picture;
  picture.Width = kWidth;
  picture.Height = kHeight;
  picture.Samples.resize(3 * static_cast<std::size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      double rgb[3];
      colour(x / (kWidth - 1.0), y / (kHeight - 1.0), rgb);
      std::uint16_t* pixel = picture.Row(y) + 3 * static_cast<std::size_t>(x);
      for (int c = 0; c < 3; ++c)
        pixel[2 - c] =
            static_cast<std::uint16_t>(std::lround(std::clamp(rgb[c], 0.0, 1.0) * 65535));
    }
  }
  return picture;
}

std::vector<TNamedPicture> MakePictures() {
  std::vector<TNamedPicture> pictures;
  // A clear sky: deep blue at the top to a pale haze at the horizon, a little warmer to one side.
  pictures.push_back({"sky", Make([](double u, double v, double* rgb) {
                        rgb[0] = 0.20 + 0.55 * v + 0.05 * u;
                        rgb[1] = 0.38 + 0.42 * v + 0.02 * u;
                        rgb[2] = 0.78 + 0.17 * v - 0.03 * u;
                      })});
  // A dark, slightly warm ramp: the shadows where banding shows most.
  pictures.push_back({"dark-ramp", Make([](double u, double v, double* rgb) {
                        rgb[0] = 0.10 * u + 0.004 * v;
                        rgb[1] = 0.085 * u + 0.004 * v;
                        rgb[2] = 0.07 * u + 0.004 * v;
                      })});
  // Black to white.
  pictures.push_back({"grey-ramp", Make([](double u, double v, double* rgb) {
                        rgb[0] = rgb[1] = rgb[2] = u * 0.98 + 0.02 * v;
                      })});
  return pictures;
}

struct TYCC {
  double Y, Cb, Cr;
};

TYCC Convert(double b, double g, double r) {
  return {0.299 * r + 0.587 * g + 0.114 * b, -0.168736 * r - 0.331264 * g + 0.5 * b,
          0.5 * r - 0.418688 * g - 0.081312 * b};
}

struct TScore {
  double BlockLuma = 0;
  double Chroma = 0;
};

// out: packed 8-bit rows (blue, green, red).
TScore Score(const TDeepPicture& source, const std::vector<std::uint8_t>& out) {
  TScore score;
  double chroma = 0;
  double blocks = 0, blockError = 0;
  for (int by = 0; by + 8 <= source.Height; by += 8) {
    for (int bx = 0; bx + 8 <= source.Width; bx += 8) {
      double sourceY = 0, writtenY = 0;
      for (int y = by; y < by + 8; ++y) {
        for (int x = bx; x < bx + 8; ++x) {
          const std::uint16_t* in = source.Row(y) + 3 * static_cast<std::size_t>(x);
          const std::uint8_t* o = out.data() + 3 * (static_cast<std::size_t>(y) * source.Width + x);
          const TYCC s = Convert(in[0] / 257.0, in[1] / 257.0, in[2] / 257.0);
          const TYCC w = Convert(o[0], o[1], o[2]);
          sourceY += s.Y;
          writtenY += w.Y;
          chroma += std::hypot(s.Cb - w.Cb, s.Cr - w.Cr);
        }
      }
      blockError += std::fabs(sourceY - writtenY) / 64;
      ++blocks;
    }
  }
  score.BlockLuma = blockError / blocks;
  score.Chroma = chroma / (blocks * 64);
  return score;
}

std::vector<std::uint8_t> Rounded(const TDeepPicture& picture) {
  std::vector<std::uint8_t> out(picture.Samples.size());
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>((picture.Samples[i] * 2u + 257u) / 514u);
  return out;
}

// The plain way: luma error diffusion (Floyd–Steinberg, left to right) to the nearest whole
// 8-bit level of luma, each pixel rebuilt by adding the level's offset to its channels and
// rounding them, the error carried against the luma of the pixel so written.
std::vector<std::uint8_t> PlainDiffusion(const TDeepPicture& picture) {
  const int w = picture.Width;
  std::vector<std::uint8_t> out(picture.Samples.size());
  std::vector<double> current(w + 2, 0.0), next(w + 2, 0.0);
  for (int y = 0; y < picture.Height; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::uint16_t* in = picture.Row(y) + 3 * static_cast<std::size_t>(x);
      const double luma = Convert(in[0] / 257.0, in[1] / 257.0, in[2] / 257.0).Y;
      const double wanted = luma + current[x + 1];
      const double level = std::clamp(std::round(wanted), 0.0, 255.0);
      std::uint8_t* o = out.data() + 3 * (static_cast<std::size_t>(y) * w + x);
      for (int c = 0; c < 3; ++c)
        o[c] = static_cast<std::uint8_t>(
            std::clamp(std::round(in[c] / 257.0 + level - luma), 0.0, 255.0));
      const double e = wanted - Convert(o[0], o[1], o[2]).Y;
      current[x + 2] += e * 7 / 16;
      next[x] += e * 3 / 16;
      next[x + 1] += e * 5 / 16;
      next[x + 2] += e / 16;
    }
    current.swap(next);
    std::fill(next.begin(), next.end(), 0.0);
  }
  return out;
}

std::vector<std::uint8_t> FilteredAt(TFilterId filter, const TDeepPicture& picture,
                                     const TDeepOptions& options) {
  TBitmap out;
  if (!FilterDeepPicture(filter, picture, out, options)) return {};
  std::vector<std::uint8_t> bytes;
  bytes.reserve(picture.Samples.size());
  for (int y = 0; y < out.Height(); ++y) {
    const std::uint8_t* row = out.ConstRowAddress(y);
    bytes.insert(bytes.end(), row, row + 3 * static_cast<std::size_t>(out.Width()));
  }
  return bytes;
}

// Red, green, blue rows of 8- or 16-bit samples (16-bit ones in the host's byte order: libspng
// stores them big-endian itself) as a PNG.
bool WritePng(const std::string& path, int width, int height, int bits, const void* rows,
              std::size_t bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_ihdr ihdr{};
  ihdr.width = static_cast<std::uint32_t>(width);
  ihdr.height = static_cast<std::uint32_t>(height);
  ihdr.bit_depth = static_cast<std::uint8_t>(bits);
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  bool ok = spng_set_png_file(ctx, file) == 0 && spng_set_ihdr(ctx, &ihdr) == 0 &&
            spng_encode_image(ctx, rows, bytes, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0;
  spng_ctx_free(ctx);
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

bool WritePng16(const std::string& path, const TDeepPicture& picture) {
  std::vector<std::uint16_t> rows(picture.Samples.size());
  for (std::size_t p = 0; p < picture.Samples.size(); p += 3)
    for (int c = 0; c < 3; ++c)
      rows[p + c] = picture.Samples[p + 2 - c];
  return WritePng(path, picture.Width, picture.Height, 16, rows.data(), rows.size() * 2);
}

// An RGB or RGBA PNG of 8 or 16 bits as packed 8-bit blue, green, red (16-bit samples rounded).
std::vector<std::uint8_t> ReadPng(const std::string& path, int width, int height) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return {};
  spng_ctx* ctx = spng_ctx_new(0);
  spng_ihdr ihdr{};
  std::vector<std::uint8_t> out;
  std::size_t size = 0;
  if (spng_set_png_file(ctx, file) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
      static_cast<int>(ihdr.width) == width && static_cast<int>(ihdr.height) == height &&
      spng_decoded_image_size(ctx, SPNG_FMT_RGBA16, &size) == 0) {
    std::vector<std::uint8_t> rgba(size);
    if (spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA16, 0) == 0) {
      out.resize(3 * static_cast<std::size_t>(width) * height);
      for (std::size_t p = 0; p < out.size() / 3; ++p) {
        for (int c = 0; c < 3; ++c) {
          std::uint16_t v;
          std::memcpy(&v, rgba.data() + 8 * p + 2 * c, 2);  // host order
          out[3 * p + 2 - c] = static_cast<std::uint8_t>((v * 2u + 257u) / 514u);
        }
      }
    }
  }
  spng_ctx_free(ctx);
  std::fclose(file);
  return out;
}

void Print(const std::string& picture, const std::string& method, const TScore& score,
           const TScore& rounding) {
  // A grey picture rounds without any chroma error: there is no ratio then.
  if (rounding.Chroma < 1e-9) {
    std::printf("%-10s %-40s %8.4f %8.4f %7s\n", picture.c_str(), method.c_str(), score.BlockLuma,
                score.Chroma, "-");
    return;
  }
  std::printf("%-10s %-40s %8.4f %8.4f %6.3fx\n", picture.c_str(), method.c_str(), score.BlockLuma,
              score.Chroma, score.Chroma / rounding.Chroma);
}

// ---- Light ----

double LinearOf(double c) {
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Light of blue, green, red channels in 0..1.
double LightOf(double b, double g, double r) {
  return 0.2126 * LinearOf(r) + 0.7152 * LinearOf(g) + 0.0722 * LinearOf(b);
}

struct TLightScore {
  double MeanBlock = 0;
  double WorstBlock = 0;
  double Chroma = 0;
};

TLightScore LightScore(const TDeepPicture& source, const std::vector<std::uint8_t>& out) {
  TLightScore score;
  double blocks = 0, sum = 0, chroma = 0, pixels = 0;
  for (int by = 0; by + 16 <= source.Height; by += 16) {
    for (int bx = 0; bx + 16 <= source.Width; bx += 16) {
      double sourceLight = 0, writtenLight = 0;
      for (int y = by; y < by + 16; ++y) {
        for (int x = bx; x < bx + 16; ++x) {
          const std::uint16_t* in = source.Row(y) + 3 * static_cast<std::size_t>(x);
          const std::uint8_t* o = out.data() + 3 * (static_cast<std::size_t>(y) * source.Width + x);
          sourceLight += LightOf(in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0);
          writtenLight += LightOf(o[0] / 255.0, o[1] / 255.0, o[2] / 255.0);
          const TYCC s = Convert(in[0] / 257.0, in[1] / 257.0, in[2] / 257.0);
          const TYCC w = Convert(o[0], o[1], o[2]);
          chroma += std::hypot(s.Cb - w.Cb, s.Cr - w.Cr);
          ++pixels;
        }
      }
      const double error = std::fabs(sourceLight - writtenLight) / 256;
      sum += error;
      score.WorstBlock = std::max(score.WorstBlock, error);
      ++blocks;
    }
  }
  score.MeanBlock = sum / blocks;
  score.Chroma = chroma / pixels;
  return score;
}

std::vector<TNamedPicture> LightPictures() {
  std::vector<TNamedPicture> pictures;
  TDeepPicture ramp;
  ramp.Width = 1024;
  ramp.Height = 256;
  ramp.Samples.resize(3 * 1024 * 256);
  for (int y = 0; y < ramp.Height; ++y)
    for (int x = 0; x < ramp.Width; ++x)
      for (int c = 0; c < 3; ++c)
        ramp.Row(y)[3 * x + c] = static_cast<std::uint16_t>(std::lround(x * 65535.0 / 1023));
  pictures.push_back({"ramp16", std::move(ramp)});
  for (TNamedPicture& picture : MakePictures())
    pictures.push_back(std::move(picture));
  return pictures;
}

// The targets: the mean block error at most this share of white for these level counts.
double LightTarget(int levels) {
  return levels == 2 ? 0.005 : levels == 4 ? 0.002 : 0.0005;  // 16 levels and more
}

int RunLight(const std::string& dir) {
  std::printf(
      "16 x 16 block-mean error in linear light (share of white: mean over blocks, worst "
      "block), chroma error / plain rounding's; target: mean <= 0.005 / 0.002 / 0.0005 "
      "at 2 / 4 / 16 levels, chroma ratio <= 1.1\n");
  std::printf("%-10s %-6s %3s %-22s %9s %9s %8s  %s\n", "picture", "output", "N", "method", "mean",
              "worst", "chroma", "target");
  int missed = 0;
  for (const TNamedPicture& p : LightPictures()) {
    const TLightScore rounding = LightScore(p.Picture, Rounded(p.Picture));
    for (bool grey : {true, false}) {
      // A grey picture's colour output is its grey output: measured once.
      if (!grey && (p.Name == "ramp16" || p.Name == "grey-ramp")) continue;
      for (int levels : {2, 4, 16, 256}) {
        if (grey && levels == 256) continue;  // 256 levels: for the chroma of colour output
        const auto line = [&](const std::string& method, const TLightScore& score, bool judged) {
          char ratio[32] = "-";
          if (!grey && rounding.Chroma > 1e-9)
            std::snprintf(ratio, sizeof ratio, "%.3fx", score.Chroma / rounding.Chroma);
          const bool met = score.MeanBlock <= LightTarget(levels);
          if (judged && !met) ++missed;
          std::printf("%-10s %-6s %3d %-22s %9.5f %9.5f %8s  %s\n", p.Name.c_str(),
                      grey ? "grey" : "colour", levels, method.c_str(), score.MeanBlock,
                      score.WorstBlock, ratio, judged ? (met ? "met" : "MISSED") : "");
        };
        for (TFilterId filter : {TFilterId::Diffusion, TFilterId::Ordered}) {
          for (TDeepLight light : {TDeepLight::Linear, TDeepLight::Encoded}) {
            const std::string method =
                std::string(filter == TFilterId::Diffusion ? "diffusion" : "ordered") +
                (light == TDeepLight::Linear ? ", linear" : ", encoded");
            line(method,
                 LightScore(p.Picture, FilteredAt(filter, p.Picture, {levels, grey, light})),
                 light == TDeepLight::Linear);
          }
        }
        if (grey && !dir.empty()) {
          const std::string path = dir + "/" + p.Name + "-gegl-" + std::to_string(levels) + ".png";
          const std::vector<std::uint8_t> other = ReadPng(path, p.Picture.Width, p.Picture.Height);
          if (other.empty()) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
          }
          line("gegl:dither", LightScore(p.Picture, other), false);
        }
      }
    }
  }
  std::printf("%d of the linear-light figures missed their target\n", missed);
  return 0;
}

// Packed 8-bit blue, green, red rows as an 8-bit RGB PNG: a Width × Height crop from (Left, Top),
// each pixel drawn as Scale × Scale, so that a viewer shows the dither's dots as they are.
struct TCrop {
  int Left = 0, Top = 0, Width = 0, Height = 0, Scale = 1;
};

bool WritePng8(const std::string& path, const std::vector<std::uint8_t>& out, int pictureWidth,
               const TCrop& crop) {
  const int width = crop.Width * crop.Scale, height = crop.Height * crop.Scale;
  std::vector<std::uint8_t> rgb(3 * static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* o =
          out.data() + 3 * (static_cast<std::size_t>(crop.Top + y / crop.Scale) * pictureWidth +
                            static_cast<std::size_t>(crop.Left + x / crop.Scale));
      for (int c = 0; c < 3; ++c)
        rgb[3 * (static_cast<std::size_t>(y) * width + x) + c] = o[2 - c];
    }
  }
  return WritePng(path, width, height, 8, rgb.data(), rgb.size());
}

// 2-level grey previews of the ramp and the sky through both filters in both lights, 1:1 and
// magnified, for looking at the dots (a grid along the 16 × 16 blocks would show there).
int RunPreview(const std::string& dir) {
  for (const TNamedPicture& p : LightPictures()) {
    if (p.Name != "ramp16" && p.Name != "sky") continue;
    const TCrop whole{0, 0, p.Picture.Width, std::min(p.Picture.Height, 512), 1};
    // Close up: a dark stretch, and the stretch of the ramp whose light is about half white's.
    const TCrop close{p.Picture.Width / 4, 0, 256, 128, 4};
    const TCrop middle{p.Picture.Width * 5 / 8, 0, 256, 128, 4};
    for (TFilterId filter : {TFilterId::Diffusion, TFilterId::Ordered}) {
      for (TDeepLight light : {TDeepLight::Linear, TDeepLight::Encoded}) {
        const std::vector<std::uint8_t> out = FilteredAt(filter, p.Picture, {2, true, light});
        const std::string stem = dir + "/" + p.Name + "-" +
                                 (filter == TFilterId::Diffusion ? "diffusion" : "ordered") + "-" +
                                 (light == TDeepLight::Linear ? "linear" : "encoded");
        if (!WritePng8(stem + ".png", out, p.Picture.Width, whole) ||
            !WritePng8(stem + "-x4.png", out, p.Picture.Width, close) ||
            !WritePng8(stem + "-middle-x4.png", out, p.Picture.Width, middle)) {
          std::fprintf(stderr, "cannot write %s\n", stem.c_str());
          return 1;
        }
      }
    }
  }
  return 0;
}

// ---- How low the chroma error can go at few levels ----
//
// Whatever a dither does, it writes each pixel at one of its N levels, and the pixel written at
// level k is fixed: one luma offset on all three channels, each rounded and clamped to 0..255
// (docs/deep-filters.md, "The pixel written at level k"). So for each source pixel the N written
// pixels W_k, their light L_k and their chroma errors e_k are known, and:
//
//   any choice: the chroma error is at least min_k e_k, pixel by pixel;
//   a choice that keeps the light: where an area of one colour is written as a mix of levels
//     whose mean light is the source's light L, the mean chroma error is at least the lower
//     convex hull of the points (L_k, e_k) at L (the cheapest mix of two levels around L);
//   plain rounding to the nearest level (in light, no dither), for comparison.
//
// Each is a mean over the picture's pixels, beside plain rounding to 8 bits, whose chroma error is
// what the target multiplies.

// The written pixel at level k, exactly as the filters build it.
void WrittenAt(const std::uint16_t* in, const TDeepLevels& levels, int k, std::uint8_t* out) {
  const std::int64_t luma = DeepLuma(in[0], in[1], in[2]);
  for (int c = 0; c < 3; ++c) {
    const std::int64_t n = 1000 * std::int64_t{in[c]} + levels.Luma[static_cast<std::size_t>(k)] -
                           luma + kByteLevelUnits / 2;
    // Floored division of a value that may be negative, then clamped.
    const std::int64_t q =
        n >= 0 ? n / kByteLevelUnits : -((-n + kByteLevelUnits - 1) / kByteLevelUnits);
    out[c] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(q, 0, 255));
  }
}

double ChromaError(const std::uint16_t* in, const std::uint8_t* o) {
  const TYCC s = Convert(in[0] / 257.0, in[1] / 257.0, in[2] / 257.0);
  const TYCC w = Convert(o[0], o[1], o[2]);
  return std::hypot(s.Cb - w.Cb, s.Cr - w.Cr);
}

int RunChromaBound() {
  std::printf(
      "chroma error (mean over pixels, 8-bit levels) and its ratio to plain rounding to 8 bits; "
      "target: the filters within 1.1x\n");
  std::printf("%-10s %3s %-44s %8s %9s\n", "picture", "N", "what", "chroma", "ratio");
  for (const TNamedPicture& p : MakePictures()) {
    if (p.Name == "grey-ramp") continue;  // grey: no chroma to keep
    const TDeepPicture& picture = p.Picture;
    const std::size_t pixels = static_cast<std::size_t>(picture.Width) * picture.Height;
    double rounding = 0;
    {
      const std::vector<std::uint8_t> rounded = Rounded(picture);
      for (std::size_t i = 0; i < pixels; ++i)
        rounding += ChromaError(picture.Samples.data() + 3 * i, rounded.data() + 3 * i);
      rounding /= static_cast<double>(pixels);
    }
    for (int n : {2, 4, 16, 256}) {
      const TDeepLevels levels = MakeDeepLevels(n);
      double least = 0, keepingLight = 0, nearest = 0;
      std::vector<double> light(static_cast<std::size_t>(n)), error(static_cast<std::size_t>(n));
      std::vector<int> hull;
      for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint16_t* in = picture.Samples.data() + 3 * i;
        const double target = LightOf(in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0);
        double lowest = 1e300;
        int near = 0;
        for (int k = 0; k < n; ++k) {
          std::uint8_t w[3];
          WrittenAt(in, levels, k, w);
          light[static_cast<std::size_t>(k)] = LightOf(w[0] / 255.0, w[1] / 255.0, w[2] / 255.0);
          error[static_cast<std::size_t>(k)] = ChromaError(in, w);
          lowest = std::min(lowest, error[static_cast<std::size_t>(k)]);
          if (std::fabs(light[static_cast<std::size_t>(k)] - target) <
              std::fabs(light[static_cast<std::size_t>(near)] - target))
            near = k;
        }
        least += lowest;
        nearest += error[static_cast<std::size_t>(near)];
        // The lower convex hull of (light, error); the lights never fall as k rises. Of points
        // with the same light only the lowest error counts.
        hull.clear();
        const auto at = [&](int k) {
          return std::pair{light[static_cast<std::size_t>(k)], error[static_cast<std::size_t>(k)]};
        };
        for (int k = 0; k < n; ++k) {
          if (!hull.empty() && at(hull.back()).first == at(k).first) {
            if (at(k).second >= at(hull.back()).second) continue;
            hull.pop_back();
          }
          while (hull.size() >= 2) {
            const auto [x1, y1] = at(hull[hull.size() - 2]);
            const auto [x2, y2] = at(hull.back());
            const auto [x3, y3] = at(k);
            // Drop the middle point where it lies on or above the line from the first to k.
            if ((y2 - y1) * (x3 - x1) >= (y3 - y1) * (x2 - x1)) {
              hull.pop_back();
            } else {
              break;
            }
          }
          hull.push_back(k);
        }
        const double l = std::clamp(target, at(hull.front()).first, at(hull.back()).first);
        double bound = at(hull.back()).second;
        for (std::size_t h = 0; h + 1 < hull.size(); ++h) {
          const auto [x1, y1] = at(hull[h]);
          const auto [x2, y2] = at(hull[h + 1]);
          if (l <= x2) {
            bound = y1 + (y2 - y1) * (l - x1) / (x2 - x1);
            break;
          }
        }
        if (hull.size() == 1) bound = at(hull.front()).second;
        keepingLight += bound;
      }
      const auto line = [&](const char* what, double sum) {
        const double mean = sum / static_cast<double>(pixels);
        std::printf("%-10s %3d %-44s %8.4f %8.3fx\n", p.Name.c_str(), n, what, mean,
                    mean / rounding);
      };
      line("least for any choice of levels", least);
      line("least for a mix keeping each colour's light", keepingLight);
      line("nearest level in light, no dither", nearest);
    }
    std::printf("%-10s     %-44s %8.4f\n", p.Name.c_str(), "plain rounding to 8 bits", rounding);
  }
  return 0;
}

// The bench's gradient of DeepFilterBench.cpp at 16 bits.
TDeepPicture SpeedPicture() {
  TDeepPicture picture;
  picture.Width = picture.Height = 4096;
  picture.Samples.resize(3 * std::size_t{4096} * 4096);
  for (int y = 0; y < 4096; ++y) {
    std::uint16_t* row = picture.Row(y);
    for (int x = 0; x < 4096; ++x) {
      const double u = x / 4095.0, v = y / 4095.0;
      row[3 * x] = static_cast<std::uint16_t>(65535.0 * (1.0 - u) * v + 0.5);
      row[3 * x + 1] = static_cast<std::uint16_t>(65535.0 * (u + v) / 2.0 + 0.5);
      row[3 * x + 2] = static_cast<std::uint16_t>(65535.0 * u * (1.0 - v / 2.0) + 0.5);
    }
  }
  return picture;
}

int RunSpeed(int rounds) {
  const TDeepPicture picture = SpeedPicture();
  struct TCase {
    TFilterId Filter;
    TDeepOptions Options;
    std::string Name;
    std::vector<double> Ms;
  };
  std::vector<TCase> cases;
  for (TFilterId filter : {TFilterId::Diffusion, TFilterId::Ordered})
    for (const TDeepOptions& base : {TDeepOptions{256, false}, TDeepOptions{2, true}})
      for (TDeepLight light : {TDeepLight::Encoded, TDeepLight::Linear})
        cases.push_back({filter,
                         {base.Levels, base.Grey, light},
                         std::string(filter == TFilterId::Diffusion ? "diffusion" : "ordered") +
                             (base.Grey ? ", 2 levels grey" : ", 256 levels colour") +
                             (light == TDeepLight::Linear ? ", linear" : ", encoded"),
                         {}});
  TBitmap out;
  for (int round = 0; round < rounds; ++round) {
    for (TCase& c : cases) {
      const auto start = std::chrono::steady_clock::now();
      if (!FilterDeepPicture(c.Filter, picture, out, c.Options)) return 1;
      c.Ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  };
  std::printf("4096 x 4096 16-bit gradient, whole picture, %d interleaved rounds (wall ms)\n",
              rounds);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const TCase& c = cases[i];
    std::printf("  %-40s median %7.1f (%.1f .. %.1f)", c.Name.c_str(), median(c.Ms),
                *std::min_element(c.Ms.begin(), c.Ms.end()),
                *std::max_element(c.Ms.begin(), c.Ms.end()));
    if (c.Options.Light == TDeepLight::Linear)
      std::printf("  linear / encoded %.2fx (target at most 1.2x)",
                  median(c.Ms) / median(cases[i - 1].Ms));
    std::printf("\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--light") return RunLight(argc >= 3 ? argv[2] : "");
  if (argc == 3 && std::string(argv[1]) == "--speed") return RunSpeed(std::atoi(argv[2]));
  if (argc == 3 && std::string(argv[1]) == "--preview") return RunPreview(argv[2]);
  if (argc == 2 && std::string(argv[1]) == "--chroma-bound") return RunChromaBound();
  if (argc == 3 && std::string(argv[1]) == "--speed-write")
    return WritePng16(argv[2], SpeedPicture()) ? 0 : 1;
  if (argc == 3 && std::string(argv[1]) == "--light-write") {
    for (const TNamedPicture& p : LightPictures())
      if (!WritePng16(std::string(argv[2]) + "/" + p.Name + ".png", p.Picture)) return 1;
    return 0;
  }
  std::string writeDir, compareDir;
  bool kernels = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--write" && i + 1 < argc) {
      writeDir = argv[++i];
    } else if (arg == "--compare" && i + 1 < argc) {
      compareDir = argv[++i];
    } else if (arg == "--kernels") {
      kernels = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--write DIR] [--compare DIR] [--kernels] | --light [DIR] | "
                   "--light-write DIR | --speed ROUNDS\n",
                   argv[0]);
      return 2;
    }
  }
  const std::vector<TNamedPicture> pictures = MakePictures();
  if (!writeDir.empty()) {
    for (const TNamedPicture& p : pictures) {
      if (!WritePng16(writeDir + "/" + p.Name + ".png", p.Picture)) {
        std::fprintf(stderr, "cannot write %s/%s.png\n", writeDir.c_str(), p.Name.c_str());
        return 1;
      }
    }
    if (compareDir.empty()) return 0;
  }
  std::printf("%-10s %-40s %8s %8s %7s\n", "picture", "method", "block-Y", "chroma", "ratio");
  for (const TNamedPicture& p : pictures) {
    const TScore rounding = Score(p.Picture, Rounded(p.Picture));
    Print(p.Name, "rounding to 8 bits", rounding, rounding);
    Print(p.Name, "plain luma Floyd-Steinberg", Score(p.Picture, PlainDiffusion(p.Picture)),
          rounding);
    Print(p.Name, "diffusion, 256 levels",
          Score(p.Picture, FilteredAt(TFilterId::Diffusion, p.Picture, {})), rounding);
    Print(p.Name, "ordered, 256 levels",
          Score(p.Picture, FilteredAt(TFilterId::Ordered, p.Picture, {})), rounding);
    if (kernels) {
      for (const auto& kernel : straightforward::CandidateKernels())
        Print(p.Name, "definition, " + std::string(kernel.Name),
              Score(p.Picture, straightforward::DeepDiffusion(p.Picture, {}, kernel)), rounding);
    }
    if (!compareDir.empty()) {
      const std::vector<std::uint8_t> other =
          ReadPng(compareDir + "/" + p.Name + "-other.png", kWidth, kHeight);
      if (other.empty()) {
        std::fprintf(stderr, "cannot read %s/%s-other.png\n", compareDir.c_str(), p.Name.c_str());
        return 1;
      }
      Print(p.Name, "other tool", Score(p.Picture, other), rounding);
    }
  }
  return 0;
}
