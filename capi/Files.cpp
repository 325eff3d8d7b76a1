// Reading, saving and filtering picture files, exactly as penamo-filter does: the rows read a
// band at a time where the file allows, the save in one pass through the band filter into the
// writer the format table gives the output's kind, and nothing left behind when it fails or is
// cancelled.

#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "BandFilter.h"
#include "Bitmap.h"
#include "Buffers.h"
#include "Context.h"
#include "DeepRowSource.h"
#include "Machine.h"
#include "PictureFile.h"
#include "PictureKind.h"
#include "RowSource.h"
#include "SaveInterruption.h"

#define PENAMO_EXPORT extern "C" __attribute__((visibility("default")))

using namespace penamo;
using namespace penamo::capi;

struct penamo_picture {
  TBufferShape Shape;
  std::vector<std::uint8_t> Pixels8;
  std::vector<std::uint16_t> Pixels16;
  TPictureExtras Extras;  // the colour profile and metadata; the alpha is in the pixels

  void* Pixels() {
    return Shape.Depth == 8 ? static_cast<void*>(Pixels8.data())
                            : static_cast<void*>(Pixels16.data());
  }
};

namespace {

// The row of the kind to write.
const TPictureFormat& OutputFormat(int format, const std::string& path) {
  switch (format) {
    case PENAMO_FORMAT_BY_NAME: {
      // A name whose extension (in any case) names a kind written gives that kind; every other
      // name a bitmap.
      const TPictureFormat* named = FormatOfFileName(path);
      return named != nullptr && named->Writable() ? *named : PictureFormatOf(TPictureKind::Bitmap);
    }
    case PENAMO_FORMAT_BMP:
      return PictureFormatOf(TPictureKind::Bitmap);
    case PENAMO_FORMAT_PNG:
      return PictureFormatOf(TPictureKind::Png);
  }
  RaiseInvalid("出力形式が不正です: " + std::to_string(format), "bad-format");
}

// A source's rows with the progress callback told before each band (and asked whether to go
// on), for rows read from a file.
template <class Source>
class TReportedRows final : public Source {
 public:
  TReportedRows(Source& source, const penamo_context& context)
      : FSource(source), FContext(context) {}

  std::int32_t Width() const override { return FSource.Width(); }
  std::int32_t Height() const override { return FSource.Height(); }
  void ReadBand(std::int32_t first, std::int32_t count) override {
    ReportProgress(FContext, static_cast<double>(first) / static_cast<double>(Height()));
    FSource.ReadBand(first, count);
  }
  auto Row(std::int32_t y) const -> decltype(std::declval<const Source&>().Row(y)) override {
    return FSource.Row(y);
  }
  int Handle() const override { return FSource.Handle(); }

 private:
  Source& FSource;
  const penamo_context& FContext;
};

// Whether path names the file open at handle (through any link), so that saving there would
// replace the very file being read.
bool SameFile(int handle, const std::string& path) {
  struct stat open {};
  struct stat named {};
  return ::fstat(handle, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// The rows to save: read from the file a band at a time when it is an uncompressed 24-bit
// bitmap, a non-interlaced PNG or a JPEG that needs no turning (OpenPictureRows), so that memory
// stays small whatever the picture's size; any other file is decoded whole into picture and
// converted to 24 bits, as the window reads it. So is a file saved over itself: a file is never
// replaced while it is read (it stays locked for reading), so it is read whole and closed first.
std::unique_ptr<TRowSource> OpenInput(const std::string& path, const std::string& output,
                                      TBitmap& picture, TPictureExtras& extras) {
  if (std::unique_ptr<TRowSource> rows = OpenPictureRows(path, extras)) {
    if (!SameFile(rows->Handle(), output)) return rows;
  }
  ReadPicture(path, picture, extras);
  return std::make_unique<TBitmapRows>(picture);
}

// The deep rows to save, on the same terms as OpenInput: band by band from the file where it
// allows (a 16-bit PNG at its full precision, the 8-bit band-by-band files widened), else the
// whole picture read into picture at its full precision.
std::unique_ptr<TDeepRowSource> OpenDeepInput(const std::string& path, const std::string& output,
                                              TDeepPicture& picture, TPictureExtras& extras) {
  if (std::unique_ptr<TDeepRowSource> rows = OpenPictureDeepRows(path, extras)) {
    if (!SameFile(rows->Handle(), output)) return rows;
  }
  ReadPictureDeep(path, picture, extras);
  return std::make_unique<TDeepPictureRows>(picture);
}

// Where the bands go. An unfiltered copy keeps the picture's resolution, as the picture itself
// would be written; a filter's output is a new picture that carries none. The writer keeps what
// its format keeps of the extras (a PNG: alpha, colour profile, metadata), which must outlive it.
std::unique_ptr<TBandWriter> CreateOutput(const std::string& path, const TRowSource& rows,
                                          bool unfiltered, const TPictureFormat& format,
                                          const TPictureExtras& extras) {
  TPictureWriteOptions options;
  if (unfiltered) {
    options.XPelsPerMeter = rows.XPelsPerMeter();
    options.YPelsPerMeter = rows.YPelsPerMeter();
  }
  return format.Writer.OpenBands(path, rows.Width(), rows.Height(), extras, options);
}

// Grey output goes as grey to a format that stores it (a PNG at the smallest depth that holds
// the levels, grey and alpha at 8 bits when the picture has transparency); a bitmap stays
// 24-bit, its pixels grey.
std::unique_ptr<TBandWriter> CreateDeepOutput(const std::string& path, std::int32_t width,
                                              std::int32_t height, const TPictureFormat& format,
                                              const TDeepOptions& deep,
                                              const TPictureExtras& extras) {
  TPictureWriteOptions options;
  if (deep.Grey) options.GreyLevels = deep.Levels;
  return format.Writer.OpenBands(path, width, height, extras, options);
}

// What strip leaves behind: the colour profile and the metadata; the alpha plane, part of the
// picture, is always kept.
void Strip(TPictureExtras& extras) {
  extras.ColorProfile.clear();
  extras.Exif.clear();
  extras.Xmp.clear();
}

void CheckNotEmpty(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) throw Exception("画像が空です", "empty-picture");
}

// The deep rows of the context's filter through it into a new file at output.
void SaveDeep(const penamo_context& context, TDeepRowSource& source, const std::string& output,
              const TPictureFormat& format, const TPictureExtras& extras) {
  CheckNotEmpty(source.Width(), source.Height());
  const std::unique_ptr<TBandWriter> writer =
      CreateDeepOutput(output, source.Width(), source.Height(), format, context.Deep, extras);
  TReportedRows<TDeepRowSource> rows(source, context);
  if (!FilterDeepInBands(*context.Filter, context.Deep, rows, *writer, BandOptionsOf(context)))
    RaiseRefused(*context.Filter);
  ReportDone(context);
}

// The rows through the context's filter of the five (or unfiltered) into a new file at output.
void Save(const penamo_context& context, TRowSource& source, const std::string& output,
          const TPictureFormat& format, const TPictureExtras& extras) {
  CheckNotEmpty(source.Width(), source.Height());
  const std::unique_ptr<TBandWriter> writer =
      CreateOutput(output, source, context.Filter == nullptr, format, extras);
  TReportedRows<TRowSource> rows(source, context);
  if (!FilterInBands(context.Filter, static_cast<std::uint8_t>(context.Strength), rows, *writer,
                     BandOptionsOf(context)))
    RaiseRefused(*context.Filter);
  ReportDone(context);
}

bool DeepFilter(const penamo_context& context) {
  return context.Filter != nullptr && context.Filter->TakesLevels;
}

std::vector<std::uint8_t> Copied(const std::uint8_t* bytes, std::size_t size) {
  return bytes == nullptr ? std::vector<std::uint8_t>()
                          : std::vector<std::uint8_t>(bytes, bytes + size);
}

// The picture's rows as the caller receives them: red, green, blue (and alpha) from the blue,
// green, red rows and the alpha plane.
template <class Sample, class RowOf>
void FillPicture(penamo_picture& picture, std::vector<Sample>& pixels,
                 const std::vector<std::uint8_t>& alpha, RowOf&& rowOf, unsigned alphaScale) {
  const auto width = static_cast<std::size_t>(picture.Shape.Width);
  const auto samples = static_cast<std::size_t>(picture.Shape.Samples);
  pixels.resize(width * samples * static_cast<std::size_t>(picture.Shape.Height));
  for (std::int32_t y = 0; y < picture.Shape.Height; ++y) {
    const Sample* in = rowOf(y);
    Sample* out = pixels.data() + width * samples * static_cast<std::size_t>(y);
    const std::uint8_t* alphaRow =
        alpha.empty() ? nullptr : alpha.data() + width * static_cast<std::size_t>(y);
    for (std::size_t x = 0; x < width; ++x, in += 3, out += samples) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      if (alphaRow != nullptr) out[3] = static_cast<Sample>(alphaRow[x] * alphaScale);
    }
  }
}

}  // namespace

PENAMO_EXPORT penamo_status penamo_read(penamo_context* context, const char* path, int depth,
                                        penamo_picture** picture) {
  const std::string input = path == nullptr ? std::string() : std::string(path);
  return Guarded(context, input, {}, [&] {
    RequireNotNull(path, "path");
    RequireNotNull(picture, "picture");
    *picture = nullptr;
    if (depth != 0 && depth != 8 && depth != 16)
      RaiseInvalid("サンプルのビット数は 0, 8 または 16 です: " + std::to_string(depth),
                   "bad-depth");
    auto made =
        WithMemory("picture-allocation-failed", [] { return std::make_unique<penamo_picture>(); });
    TBitmap bitmap;
    TDeepPicture deep;
    TPictureExtras extras;
    bool isDeep = depth == 16;
    if (depth == 0)
      isDeep = ReadPictureWithDeep(input, bitmap, deep, extras);
    else if (depth == 16)
      ReadPictureDeep(input, deep, extras);
    else
      ReadPicture(input, bitmap, extras);
    if (depth == 0 && !isDeep) deep = {};
    WithMemory("picture-allocation-failed", [&] {
      if (isDeep) {
        CheckNotEmpty(deep.Width, deep.Height);
        made->Shape = {deep.Width, deep.Height, extras.HasAlpha() ? 4 : 3, 16, 0};
        made->Shape.Stride = made->Shape.RowBytes();
        FillPicture(
            *made, made->Pixels16, extras.Alpha, [&](std::int32_t y) { return deep.Row(y); }, 257u);
      } else {
        const TBitmapRows rows(bitmap);
        CheckNotEmpty(rows.Width(), rows.Height());
        made->Shape = {rows.Width(), rows.Height(), extras.HasAlpha() ? 4 : 3, 8, 0};
        made->Shape.Stride = made->Shape.RowBytes();
        FillPicture(
            *made, made->Pixels8, extras.Alpha, [&](std::int32_t y) { return rows.Row(y); }, 1u);
      }
      extras.Alpha.clear();
      made->Extras = std::move(extras);
    });
    *picture = made.release();
  });
}

PENAMO_EXPORT penamo_status penamo_picture_image(const penamo_picture* picture,
                                                 penamo_image* image) {
  if (picture == nullptr || image == nullptr) return PENAMO_INVALID_ARGUMENT;
  image->pixels = const_cast<penamo_picture*>(picture)->Pixels();
  image->width = picture->Shape.Width;
  image->height = picture->Shape.Height;
  image->stride = picture->Shape.Stride;
  image->layout = static_cast<penamo_layout>(picture->Shape.Samples);
  image->depth = picture->Shape.Depth;
  return PENAMO_OK;
}

PENAMO_EXPORT penamo_status penamo_picture_metadata(const penamo_picture* picture,
                                                    penamo_metadata* metadata) {
  if (picture == nullptr || metadata == nullptr) return PENAMO_INVALID_ARGUMENT;
  const auto part = [](const std::vector<std::uint8_t>& bytes, const std::uint8_t*& data,
                       std::size_t& size) {
    data = bytes.empty() ? nullptr : bytes.data();
    size = bytes.size();
  };
  part(picture->Extras.ColorProfile, metadata->icc_profile, metadata->icc_profile_size);
  part(picture->Extras.Exif, metadata->exif, metadata->exif_size);
  part(picture->Extras.Xmp, metadata->xmp, metadata->xmp_size);
  return PENAMO_OK;
}

PENAMO_EXPORT void penamo_picture_free(penamo_picture* picture) {
  delete picture;
}

PENAMO_EXPORT penamo_status penamo_save(penamo_context* context, const penamo_image* image,
                                        const penamo_metadata* metadata, const char* path,
                                        penamo_format format) {
  const std::string output = path == nullptr ? std::string() : std::string(path);
  return Guarded(context, {}, output, [&] {
    const TBufferShape shape = CheckImage(image, "image");
    RequireNotNull(path, "path");
    const TPictureFormat& outputFormat = OutputFormat(EnumValue(format), output);
    TPictureExtras extras;
    WithMemory("metadata-allocation-failed", [&] {
      if (metadata != nullptr && !context->Strip) {
        extras.ColorProfile = Copied(metadata->icc_profile, metadata->icc_profile_size);
        extras.Exif = Copied(metadata->exif, metadata->exif_size);
        extras.Xmp = Copied(metadata->xmp, metadata->xmp_size);
      }
      // A writer that keeps the alpha takes it as a plane beside the rows.
      if (shape.HasAlpha() && outputFormat.Writer.KeepsAlpha) {
        const auto width = static_cast<std::size_t>(shape.Width);
        extras.Alpha.resize(width * static_cast<std::size_t>(shape.Height));
        const auto* pixels = static_cast<const std::uint8_t*>(image->pixels);
        for (std::int32_t y = 0; y < shape.Height; ++y)
          AlphaRow(pixels + shape.Stride * static_cast<std::size_t>(y), shape,
                   extras.Alpha.data() + width * static_cast<std::size_t>(y));
      }
    });
    if (DeepFilter(*context)) {
      TBufferDeepRows rows(image->pixels, shape, nullptr);
      SaveDeep(*context, rows, output, outputFormat, extras);
    } else {
      TBufferRows rows(image->pixels, shape, nullptr);
      Save(*context, rows, output, outputFormat, extras);
    }
  });
}

PENAMO_EXPORT penamo_status penamo_filter_file(penamo_context* context, const char* input,
                                               const char* output, penamo_format format) {
  const std::string in = input == nullptr ? std::string() : std::string(input);
  const std::string out = output == nullptr ? std::string() : std::string(output);
  return Guarded(context, in, out, [&] {
    RequireNotNull(input, "input");
    RequireNotNull(output, "output");
    const TPictureFormat& outputFormat = OutputFormat(EnumValue(format), out);
    TPictureExtras extras;
    if (DeepFilter(*context)) {
      TDeepPicture picture;  // only for a file that is read whole
      const std::unique_ptr<TDeepRowSource> rows = OpenDeepInput(in, out, picture, extras);
      if (context->Strip) Strip(extras);
      SaveDeep(*context, *rows, out, outputFormat, extras);
    } else {
      TBitmap picture;  // only for a file that is decoded whole
      const std::unique_ptr<TRowSource> rows = OpenInput(in, out, picture, extras);
      if (context->Strip) Strip(extras);
      Save(*context, *rows, out, outputFormat, extras);
    }
  });
}

PENAMO_EXPORT void penamo_handle_interruptions(void) {
  try {
    HandleInterruptions(TInterruptionPolicy::Abandon);
  } catch (...) {
    // Nothing installed: interruptions end the program as they would without penamo.
  }
}
