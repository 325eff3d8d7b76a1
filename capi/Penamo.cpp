// The calls of penamo.h over the filter table, the format table and the band filter: the lists
// of filters and of kinds of file, contexts, a caller's buffer filtered whole or band by band.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "BandFilter.h"
#include "Buffers.h"
#include "Context.h"
#include "DeepFilters.h"
#include "Machine.h"
#include "PenamoVersion.h"
#include "PictureKind.h"

#define PENAMO_EXPORT extern "C" __attribute__((visibility("default")))

using namespace penamo;
using namespace penamo::capi;

namespace {

// The list penamo_filter_at gives: one entry a row of the filter table, made once.
struct TFilterList {
  std::vector<std::string> Names;
  std::vector<std::string> Captions;
  std::vector<penamo_filter_info> Infos;

  TFilterList() {
    const auto table = FilterTable();
    Names.reserve(table.size());
    Captions.reserve(table.size());
    for (const TFilterEntry& filter : table) {
      Names.emplace_back(filter.Name);
      Captions.emplace_back(filter.Caption);
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
      const TFilterEntry& filter = table[i];
      penamo_filter_info info{};
      info.name = Names[i].c_str();
      info.caption = Captions[i].c_str();
      info.takes_strength = filter.TakesStrength ? 1 : 0;
      if (filter.TakesStrength) {
        info.min_strength = 0;
        info.max_strength = kFullStrength;
        info.default_strength = kFullStrength;
      }
      info.takes_levels = filter.TakesLevels ? 1 : 0;
      if (filter.TakesLevels) {
        info.min_levels = kMinDeepLevels;
        info.max_levels = kMaxDeepLevels;
        info.default_levels = TDeepOptions{}.Levels;
      } else {
        // The count its name and caption give: "pattern4", "4階調パターンディザ".
        info.fixed_levels = filter.Levels;
      }
      Infos.push_back(info);
    }
  }
};

const TFilterList& Filters() {
  static const TFilterList list;
  return list;
}

// What penamo_save is asked for to write a kind; PENAMO_FORMAT_BY_NAME for a kind it does not
// write.
penamo_format WrittenAs(const TPictureFormat& format) {
  if (!format.Writable()) return PENAMO_FORMAT_BY_NAME;
  switch (format.Kind) {
    case TPictureKind::Bitmap:
      return PENAMO_FORMAT_BMP;
    case TPictureKind::Png:
      return PENAMO_FORMAT_PNG;
    default:
      return PENAMO_FORMAT_BY_NAME;
  }
}

// The list penamo_format_at gives: one entry a row of the format table, made once. The entries
// point into the table's own strings, which live as long as the program.
struct TFormatList {
  std::vector<std::vector<const char*>> Extensions;  // each ending in a null
  std::vector<std::vector<const char*>> MimeTypes;
  std::vector<penamo_format_info> Infos;

  TFormatList() {
    const std::vector<TPictureFormat>& table = PictureFormats();
    const auto terminated = [](const std::vector<std::string>& texts) {
      std::vector<const char*> list;
      for (const std::string& text : texts)
        list.push_back(text.c_str());
      list.push_back(nullptr);
      return list;
    };
    for (const TPictureFormat& format : table) {
      Extensions.push_back(terminated(format.Extensions));
      MimeTypes.push_back(terminated(format.MimeTypes));
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
      penamo_format_info info{};
      info.name = table[i].Name;
      info.extensions = Extensions[i].data();
      info.mime_types = MimeTypes[i].data();
      info.format = WrittenAs(table[i]);
      // A kind is written only where penamo_save has a value that asks for it.
      info.writable = info.format != PENAMO_FORMAT_BY_NAME ? 1 : 0;
      Infos.push_back(info);
    }
  }
};

const TFormatList& Formats() {
  static const TFormatList list;
  return list;
}

// How many entries a list made once holds: 0 when it could not be made.
template <class List>
int CountOf(const List& (*list)()) noexcept {
  try {
    return static_cast<int>(list().Infos.size());
  } catch (...) {
    return 0;
  }
}

// Entry index of a list made once, or null (an index outside it, a list that could not be made).
template <class List>
auto EntryAt(const List& (*list)(), int index) noexcept -> decltype(&list().Infos[0]) {
  try {
    const auto& infos = list().Infos;
    if (index < 0 || static_cast<std::size_t>(index) >= infos.size()) return nullptr;
    return &infos[static_cast<std::size_t>(index)];
  } catch (...) {
    return nullptr;
  }
}

const char* Text(const penamo_context* context, const std::string penamo_context::*member) {
  return context == nullptr ? "" : (context->*member).c_str();
}

// The filter the context runs and the layouts it may write: grey only when the filter writes
// grey pixels.
void CheckOutLayout(const penamo_context& context, const TBufferShape& out) {
  if (out.Depth != 8)
    RaiseInvalid("出力のサンプルのビット数は 8 です: " + std::to_string(out.Depth),
                 "bad-out-depth");
  if (out.Grey() &&
      (context.Filter == nullptr || !context.Filter->TakesLevels || !context.Deep.Grey))
    RaiseInvalid("グレーの出力は、グレーを指定した diffusion と ordered にだけできます",
                 "grey-out-without-grey");
}

bool Overlap(const void* a, const TBufferShape& sa, const void* b, const TBufferShape& sb) {
  const auto begin = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
  const auto end = [&](const void* p, const TBufferShape& s) {
    return begin(p) + s.Stride * static_cast<std::size_t>(s.Height - 1) + s.RowBytes();
  };
  return begin(a) < end(b, sb) && begin(b) < end(a, sa);
}

// A caller's 8-bit RGB rows, read where they lie: nothing copied or reordered.
class TRgbRowsInPlace final : public TRowSource {
 public:
  TRgbRowsInPlace(const void* pixels, const TBufferShape& shape)
      : FPixels(static_cast<const std::uint8_t*>(pixels)), FShape(shape) {}
  std::int32_t Width() const override { return FShape.Width; }
  std::int32_t Height() const override { return FShape.Height; }
  void ReadBand(std::int32_t, std::int32_t) override {}
  const std::uint8_t* Row(std::int32_t y) const override {
    return FPixels + static_cast<std::size_t>(y) * FShape.Stride;
  }

 private:
  const std::uint8_t* FPixels;
  TBufferShape FShape;
};

bool IsRgb8(const TBufferShape& shape) {
  return shape.Samples == 3 && shape.Depth == 8;
}

// 8-bit RGB in and out through one of the five filters (or none): the band filter reads the
// caller's rows and writes the caller's rows itself, in their own byte order, band by band, so
// that no band is copied or converted on the way. The bytes are those of the banded save.
void FilterRgbInPlace(const penamo_context& context, const TFilterEntry* filter,
                      const penamo_image& in, const TBufferShape& inShape, const penamo_image& out,
                      const TBufferShape& outShape) {
  const std::int32_t width = inShape.Width, height = inShape.Height;
  const TBandOptions options = BandOptionsOf(context);
  TBandFilter band(filter, static_cast<std::uint8_t>(context.Strength), width, height,
                   options.Parts, TChannelOrder::Rgb);
  if (band.Refused()) RaiseRefused(*filter);
  const TRgbRowsInPlace rows(in.pixels, inShape);
  auto* const target = static_cast<std::uint8_t*>(out.pixels);
  const std::int32_t bandRows = options.BandRows > 0
                                    ? options.BandRows
                                    : static_cast<std::int32_t>(std::clamp<std::size_t>(
                                          kBandBytes / (3 * static_cast<std::size_t>(width)), 1,
                                          static_cast<std::size_t>(height)));
  for (std::int32_t first = 0; first < height; first += bandRows) {
    ReportProgress(context, static_cast<double>(first) / static_cast<double>(height));
    const std::int32_t count = std::min(bandRows, height - first);
    band.Filter(first, count, rows, target + static_cast<std::size_t>(first) * outShape.Stride,
                outShape.Stride);
  }
}

}  // namespace

struct penamo_bands {
  penamo_context* Context = nullptr;
  TBufferShape In;
  TBufferShape Out;
  const TFilterEntry* Filter = nullptr;
  bool Deep = false;
  std::unique_ptr<TBandFilter> Five;
  std::unique_ptr<TDeepBandFilter> DeepFilter;
  std::unique_ptr<TBufferRows> Rows;
  std::unique_ptr<TBufferDeepRows> DeepRows;
  std::unique_ptr<TBufferWriter> Writer;
  std::vector<std::uint8_t> Band;  // one chunk's filtered rows, blue, green, red
  std::int32_t Done = 0;
  bool Broken = false;  // a push failed: the carried error is lost, no further push is taken
};

PENAMO_EXPORT const char* penamo_status_name(penamo_status status) {
  static constexpr std::array<const char*, 10> kNames = {
      "PENAMO_OK",        "PENAMO_INVALID_ARGUMENT", "PENAMO_UNSUPPORTED",   "PENAMO_READ_ERROR",
      "PENAMO_TOO_LARGE", "PENAMO_WRITE_ERROR",      "PENAMO_OUT_OF_MEMORY", "PENAMO_REFUSED",
      "PENAMO_CANCELLED", "PENAMO_INTERNAL_ERROR"};
  const auto index = static_cast<std::size_t>(static_cast<unsigned>(EnumValue(status)));
  return index < kNames.size() ? kNames[index] : "PENAMO_UNKNOWN_STATUS";
}

PENAMO_EXPORT const char* penamo_version(void) {
  return kVersion;
}

PENAMO_EXPORT int penamo_usable_cores(void) {
  return UsableCores();
}

PENAMO_EXPORT int penamo_filter_count(void) {
  return CountOf(Filters);
}

PENAMO_EXPORT const penamo_filter_info* penamo_filter_at(int index) {
  return EntryAt(Filters, index);
}

PENAMO_EXPORT const penamo_filter_info* penamo_filter_named(const char* name) {
  if (name == nullptr) return nullptr;
  try {
    for (const penamo_filter_info& info : Filters().Infos)
      if (std::strcmp(info.name, name) == 0) return &info;
  } catch (...) {
  }
  return nullptr;
}

PENAMO_EXPORT int penamo_format_count(void) {
  return CountOf(Formats);
}

PENAMO_EXPORT const penamo_format_info* penamo_format_at(int index) {
  return EntryAt(Formats, index);
}

PENAMO_EXPORT penamo_context* penamo_context_new(void) {
  return new (std::nothrow) penamo_context;
}

PENAMO_EXPORT void penamo_context_free(penamo_context* context) {
  delete context;
}

PENAMO_EXPORT const char* penamo_message(const penamo_context* context) {
  return Text(context, &penamo_context::Message);
}
PENAMO_EXPORT const char* penamo_reason(const penamo_context* context) {
  return Text(context, &penamo_context::Reason);
}
PENAMO_EXPORT const char* penamo_cause(const penamo_context* context) {
  return Text(context, &penamo_context::Cause);
}
PENAMO_EXPORT const char* penamo_error_class(const penamo_context* context) {
  return Text(context, &penamo_context::ClassName);
}

PENAMO_EXPORT penamo_status penamo_set_filter(penamo_context* context, const char* name) {
  return Guarded(context, {}, {}, [&] {
    RequireNotNull(name, "name");
    if (std::strcmp(name, "none") == 0) {
      context->Filter = nullptr;
      return;
    }
    const TFilterEntry* filter = FindFilter(name);
    if (filter == nullptr)
      RaiseInvalid(std::string("不明なフィルタです: ") + name, "unknown-filter");
    context->Filter = filter;
  });
}

PENAMO_EXPORT penamo_status penamo_set_strength(penamo_context* context, int strength) {
  return Guarded(context, {}, {}, [&] {
    if (strength < 0 || strength > kFullStrength)
      RaiseInvalid("強さは 0 から 100 までの整数です: " + std::to_string(strength), "bad-strength");
    context->Strength = strength;
  });
}

PENAMO_EXPORT penamo_status penamo_set_levels(penamo_context* context, int levels) {
  return Guarded(context, {}, {}, [&] {
    if (levels < kMinDeepLevels || levels > kMaxDeepLevels)
      RaiseInvalid("階調数は 2 から 256 までの整数です: " + std::to_string(levels), "bad-levels");
    context->Deep.Levels = levels;
  });
}

PENAMO_EXPORT penamo_status penamo_set_grey(penamo_context* context, int grey) {
  return Guarded(context, {}, {}, [&] { context->Deep.Grey = grey != 0; });
}

PENAMO_EXPORT penamo_status penamo_set_light(penamo_context* context, penamo_light light) {
  return Guarded(context, {}, {}, [&] {
    const int value = EnumValue(light);
    if (value == PENAMO_LIGHT_LINEAR)
      context->Deep.Light = TDeepLight::Linear;
    else if (value == PENAMO_LIGHT_ENCODED)
      context->Deep.Light = TDeepLight::Encoded;
    else
      RaiseInvalid("光の測り方は PENAMO_LIGHT_LINEAR または PENAMO_LIGHT_ENCODED です: " +
                       std::to_string(value),
                   "bad-light");
  });
}

PENAMO_EXPORT penamo_status penamo_set_strip(penamo_context* context, int strip) {
  return Guarded(context, {}, {}, [&] { context->Strip = strip != 0; });
}

PENAMO_EXPORT penamo_status penamo_set_threads(penamo_context* context, int threads) {
  return Guarded(context, {}, {}, [&] {
    if (threads < 0)
      RaiseInvalid("スレッド数は 0 以上の整数です: " + std::to_string(threads), "bad-threads");
    context->Threads = threads;
  });
}

PENAMO_EXPORT penamo_status penamo_set_trusted_input(penamo_context* context, int trusted) {
  return Guarded(context, {}, {}, [&] { context->Trusted = trusted != 0; });
}

PENAMO_EXPORT penamo_status penamo_set_progress(penamo_context* context,
                                                penamo_progress_fn progress, void* user) {
  return Guarded(context, {}, {}, [&] {
    context->Progress = progress;
    context->ProgressUser = progress == nullptr ? nullptr : user;
  });
}

PENAMO_EXPORT penamo_status penamo_filter_image(penamo_context* context, const penamo_image* in,
                                                const penamo_image* out) {
  return Guarded(context, {}, {}, [&] {
    const TBufferShape inShape = CheckImage(in, "in");
    const TBufferShape outShape = CheckImage(out, "out");
    CheckOutLayout(*context, outShape);
    if (inShape.Width != outShape.Width || inShape.Height != outShape.Height)
      RaiseInvalid("out の大きさ " + std::to_string(outShape.Width) + " x " +
                       std::to_string(outShape.Height) + " が in の大きさ " +
                       std::to_string(inShape.Width) + " x " + std::to_string(inShape.Height) +
                       " と違います",
                   "size-mismatch");
    if (Overlap(in->pixels, inShape, out->pixels, outShape))
      RaiseInvalid("in と out が重なっています", "buffers-overlap");
    const TFilterEntry* filter = context->Filter;
    const bool deep = filter != nullptr && filter->TakesLevels;
    if (!deep && IsRgb8(inShape) && IsRgb8(outShape)) {
      FilterRgbInPlace(*context, filter, *in, inShape, *out, outShape);
      ReportDone(*context);
      return;
    }
    TBufferWriter writer(out->pixels, outShape, in->pixels, inShape);
    const TBandOptions options = BandOptionsOf(*context);
    if (deep) {
      TBufferDeepRows rows(in->pixels, inShape, context);
      if (!FilterDeepInBands(*filter, context->Deep, rows, writer, options)) RaiseRefused(*filter);
    } else {
      TBufferRows rows(in->pixels, inShape, context);
      if (!FilterInBands(filter, static_cast<std::uint8_t>(context->Strength), rows, writer,
                         options))
        RaiseRefused(*filter);
    }
    ReportDone(*context);
  });
}

PENAMO_EXPORT penamo_status penamo_bands_begin(penamo_context* context, std::int32_t width,
                                               std::int32_t height, penamo_layout in_layout,
                                               int in_depth, penamo_layout out_layout,
                                               penamo_bands** bands) {
  return Guarded(context, {}, {}, [&] {
    RequireNotNull(bands, "bands");
    *bands = nullptr;
    const TBufferShape in = CheckLayout(width, height, EnumValue(in_layout), in_depth, "in");
    TBufferShape out = CheckLayout(width, height, EnumValue(out_layout), 8, "out");
    CheckOutLayout(*context, out);
    auto made =
        WithMemory("bands-allocation-failed", [&] { return std::make_unique<penamo_bands>(); });
    made->Context = context;
    made->In = in;
    made->Out = out;
    made->Filter = context->Filter;
    made->Deep = context->Filter != nullptr && context->Filter->TakesLevels;
    WithMemory("bands-allocation-failed", [&] {
      if (made->Deep) {
        made->DeepFilter = std::make_unique<TDeepBandFilter>(made->Filter->Id, context->Deep, width,
                                                             height, context->Threads);
        made->DeepRows = std::make_unique<TBufferDeepRows>(nullptr, in, nullptr);
      } else {
        made->Five = std::make_unique<TBandFilter>(made->Filter,
                                                   static_cast<std::uint8_t>(context->Strength),
                                                   width, height, context->Threads);
        if (made->Five->Refused()) RaiseRefused(*made->Filter);
        made->Rows = std::make_unique<TBufferRows>(nullptr, in, nullptr);
      }
      made->Writer = std::make_unique<TBufferWriter>(nullptr, out, nullptr, in);
    });
    *bands = made.release();
  });
}

PENAMO_EXPORT penamo_status penamo_bands_push(penamo_bands* bands, const void* in,
                                              std::size_t in_stride, std::int32_t count, void* out,
                                              std::size_t out_stride) {
  if (bands == nullptr) return Guarded(nullptr, {}, {}, [] {});
  penamo_context* context = bands->Context;
  return Guarded(context, {}, {}, [&] {
    if (bands->Broken)
      RaiseInvalid("前の行の処理に失敗したので、続きを処理できません", "bands-broken");
    RequireNotNull(in, "in");
    RequireNotNull(out, "out");
    if (count < 0 || count > bands->In.Height - bands->Done)
      RaiseInvalid("行数 " + std::to_string(count) + " が画像の残りの " +
                       std::to_string(bands->In.Height - bands->Done) + " 行を超えています",
                   "too-many-rows");
    if (count == 0) return;
    const TBufferShape inShape =
        CheckShape(bands->In.Width, count, bands->In.Samples, bands->In.Depth, in_stride, "in");
    const TBufferShape outShape =
        CheckShape(bands->Out.Width, count, bands->Out.Samples, 8, out_stride, "out");
    if (Overlap(in, inShape, out, outShape))
      RaiseInvalid("in と out が重なっています", "buffers-overlap");
    bands->Broken = true;  // until every row of this push is done
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(bands->In.Width);
    // The push is filtered in chunks of about a band, so that memory stays small however many
    // rows come at once.
    const auto chunkRows = static_cast<std::int32_t>(
        std::clamp<std::size_t>(kBandBytes / rowBytes, 1, static_cast<std::size_t>(count)));
    WithMemory("band-allocation-failed",
               [&] { bands->Band.resize(rowBytes * static_cast<std::size_t>(chunkRows)); });
    const std::int32_t start = bands->Done;
    bands->Writer->Rebase(out, out_stride, in, in_stride, start);
    for (std::int32_t first = start; first < start + count; first += chunkRows) {
      const std::int32_t rows = std::min(chunkRows, start + count - first);
      if (bands->Deep) {
        bands->DeepRows->Rebase(in, in_stride, start);
        bands->DeepRows->ReadBand(first, rows);
        bands->DeepFilter->Filter(first, rows, *bands->DeepRows, bands->Band.data(), rowBytes);
      } else {
        bands->Rows->Rebase(in, in_stride, start);
        bands->Rows->ReadBand(first, rows);
        bands->Five->Filter(first, rows, *bands->Rows, bands->Band.data(), rowBytes);
      }
      bands->Writer->WriteBand(first, rows, bands->Band.data(), rowBytes);
      ReportProgress(*context,
                     static_cast<double>(first + rows) / static_cast<double>(bands->In.Height));
    }
    bands->Done = start + count;
    bands->Broken = false;
  });
}

PENAMO_EXPORT std::int32_t penamo_bands_rows_done(const penamo_bands* bands) {
  return bands == nullptr ? 0 : bands->Done;
}

PENAMO_EXPORT void penamo_bands_free(penamo_bands* bands) {
  delete bands;
}
