#include "GifReader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "FormatSupport.h"
#include "Machine.h"

namespace penamo {

namespace {

using namespace formats;

// The bytes giflib reads, from memory.
struct TGifInput {
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Position = 0;
};

int ReadInput(GifFileType* gif, GifByteType* out, int length) {
  auto* input = static_cast<TGifInput*>(gif->UserData);
  const std::size_t n =
      std::min(static_cast<std::size_t>(length < 0 ? 0 : length), input->Size - input->Position);
  std::memcpy(out, input->Data + input->Position, n);
  input->Position += n;
  return static_cast<int>(n);
}

struct TGifClose {
  void operator()(GifFileType* gif) const {
    int ignored = 0;
    DGifCloseFile(gif, &ignored);
  }
};
using TGif = std::unique_ptr<GifFileType, TGifClose>;

// Maps a giflib error code to our refusals; giflib's own text never reaches the user.
[[noreturn]] void RaiseError(int error) {
  switch (error) {
    case D_GIF_ERR_NOT_ENOUGH_MEM:
      RaiseOutOfMemory();
    case D_GIF_ERR_READ_FAILED:
    case D_GIF_ERR_EOF_TOO_SOON:
      RaiseTruncated("gif-truncated");
    case D_GIF_ERR_NOT_GIF_FILE:
      RaiseInvalid(Msg::InvalidGif, "gif-bad-signature");
    case D_GIF_ERR_NO_SCRN_DSCR:
      RaiseInvalid(Msg::InvalidGif, "gif-bad-screen");
    case D_GIF_ERR_NO_IMAG_DSCR:
      RaiseInvalid(Msg::InvalidGif, "gif-bad-image-descriptor");
    case D_GIF_ERR_WRONG_RECORD:
      RaiseInvalid(Msg::InvalidGif, "gif-bad-record");
    case D_GIF_ERR_IMAGE_DEFECT:
    case D_GIF_ERR_DATA_TOO_BIG:
      RaiseInvalid(Msg::InvalidGif, "gif-bad-image-data");
    default:
      RaiseInvalid(Msg::InvalidGif, "gif-invalid-" + std::to_string(error));
  }
}

void Check(GifFileType* gif, int result) {
  if (result == GIF_ERROR) RaiseError(gif->Error);
}

// What the graphics control extension before the first frame says that matters for one still
// picture: the transparent colour index, or -1.
int TransparentIndex(GifFileType* gif, GifByteType* extension) {
  int index = -1;
  // The first sub-block is the control block; DGifExtensionToGCB checks its length.
  GraphicsControlBlock control{};
  if (extension != nullptr && DGifExtensionToGCB(extension[0], extension + 1, &control) == GIF_OK)
    index = control.TransparentColor;
  // Every further sub-block is skipped, so the next record is read from its start.
  while (extension != nullptr)
    Check(gif, DGifGetExtensionNext(gif, &extension));
  return index;
}

void SkipExtension(GifFileType* gif, GifByteType* extension) {
  while (extension != nullptr)
    Check(gif, DGifGetExtensionNext(gif, &extension));
}

// The first frame's rows in the order they are stored: interlaced frames in their four passes.
std::vector<std::int32_t> StoredRowOrder(std::int32_t height, bool interlaced) {
  std::vector<std::int32_t> order;
  WithMemory(kOutOfMemory, [&] { order.reserve(static_cast<std::size_t>(height)); });
  if (!interlaced) {
    for (std::int32_t y = 0; y < height; ++y)
      order.push_back(y);
    return order;
  }
  static constexpr std::int32_t kStart[] = {0, 4, 2, 1};
  static constexpr std::int32_t kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (std::int32_t y = kStart[pass]; y < height; y += kStep[pass])
      order.push_back(y);
  return order;
}

// The picture giflib reads through input; its whole size counts for the claim rule.
void ReadGifFrom(TGifInput& input, TBitmap& picture, TPictureExtras& extras) {
  const std::size_t size = input.Size;
  int error = 0;
  TGif gif(DGifOpen(&input, ReadInput, &error));
  if (!gif) RaiseError(error);

  // Records up to the first frame: extensions are skipped except the graphics control block
  // that belongs to the frame.
  int transparent = -1;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    Check(gif.get(), DGifGetRecordType(gif.get(), &record));
    if (record == IMAGE_DESC_RECORD_TYPE) break;
    if (record == TERMINATE_RECORD_TYPE) RaiseInvalid(Msg::InvalidGif, "gif-no-frame");
    if (record != EXTENSION_RECORD_TYPE) RaiseInvalid(Msg::InvalidGif, "gif-bad-record");
    int code = 0;
    GifByteType* extension = nullptr;
    Check(gif.get(), DGifGetExtension(gif.get(), &code, &extension));
    if (code == GRAPHICS_EXT_FUNC_CODE) {
      transparent = TransparentIndex(gif.get(), extension);
    } else {
      SkipExtension(gif.get(), extension);
    }
  }
  Check(gif.get(), DGifGetImageDesc(gif.get()));

  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (colours == nullptr || colours->Colors == nullptr)
    RaiseInvalid(Msg::InvalidGif, "gif-no-colour-map");
  const std::int64_t left = frame.Left;
  const std::int64_t top = frame.Top;
  const std::int64_t frameWidth = frame.Width;
  const std::int64_t frameHeight = frame.Height;
  const std::int64_t width = std::max<std::int64_t>(gif->SWidth, left + frameWidth);
  const std::int64_t height = std::max<std::int64_t>(gif->SHeight, top + frameHeight);
  CheckClaimedSize(width, height, size, PixelsPerByte::Gif, "gif");
  CheckPictureSize(width, height, Msg::InvalidGif, "gif");

  const bool covers = left == 0 && top == 0 && frameWidth == width && frameHeight == height;
  const bool alpha = !covers || (transparent >= 0 && transparent < 256);
  TPictureBuilder builder(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                          alpha);

  // Where the frame does not reach, the screen's background colour, fully transparent.
  std::uint8_t background[3] = {0, 0, 0};
  if (!covers && gif->SColorMap != nullptr && gif->SBackGroundColor < gif->SColorMap->ColorCount) {
    const GifColorType& c = gif->SColorMap->Colors[gif->SBackGroundColor];
    background[0] = c.Blue;
    background[1] = c.Green;
    background[2] = c.Red;
  }
  if (!covers) {
    for (std::int32_t y = 0; y < builder.Height(); ++y) {
      std::uint8_t* row = builder.Row(y);
      for (std::int32_t x = 0; x < builder.Width(); ++x, row += 3)
        std::memcpy(row, background, 3);
      std::memset(builder.AlphaRow(y), 0, static_cast<std::size_t>(builder.Width()));
    }
  }

  // An index past the colour map shows black, as it does in viewers.
  std::uint8_t palette[256][3] = {};
  for (int i = 0; i < std::min(colours->ColorCount, 256); ++i) {
    palette[i][0] = colours->Colors[i].Blue;
    palette[i][1] = colours->Colors[i].Green;
    palette[i][2] = colours->Colors[i].Red;
  }

  if (frameWidth > 0 && frameHeight > 0) {
    std::vector<GifPixelType> line;
    WithMemory(kOutOfMemory, [&] { line.resize(static_cast<std::size_t>(frameWidth)); });
    const auto rows = StoredRowOrder(static_cast<std::int32_t>(frameHeight), frame.Interlace);
    for (const std::int32_t frameY : rows) {
      Check(gif.get(), DGifGetLine(gif.get(), line.data(), static_cast<int>(frameWidth)));
      const auto y = static_cast<std::int32_t>(top + frameY);
      std::uint8_t* bgr = builder.Row(y) + 3 * left;
      std::uint8_t* opacity = alpha ? builder.AlphaRow(y) + left : nullptr;
      for (std::int64_t x = 0; x < frameWidth; ++x, bgr += 3) {
        const GifPixelType index = line[static_cast<std::size_t>(x)];
        std::memcpy(bgr, palette[index], 3);
        if (opacity != nullptr) opacity[x] = index == transparent ? 0 : 255;
      }
    }
  }
  builder.Install(picture, extras);
}

}  // namespace

void ReadGif(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras) {
  TGifInput input{data, size};
  // giflib reads a sub-block of compressed data (255 bytes at most) before it decodes it.
  NotingDamage([&] { return static_cast<std::uint64_t>(input.Position); },
               [&] { ReadGifFrom(input, picture, extras); });
}

}  // namespace penamo
