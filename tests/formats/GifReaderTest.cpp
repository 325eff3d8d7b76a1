// GIF files written by giflib's encoder, read back by our reader: palettes, transparency,
// interlacing, frames that do not cover the screen, animations, damage and the storage limit.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "GifReader.h"
#include "PictureMakers.h"
#include "StorageLimitScope.h"

namespace penamo {
namespace {

using test::PixelAt;
using test::TBytes;

struct TGifFrame {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Interlace = false;
  int Transparent = -1;
  std::vector<GifColorType> LocalMap;  // a power of two of entries, or empty
  std::vector<GifPixelType> Indices;   // Width × Height, rows top to bottom
};

struct TGifFile {
  int Width = 0;
  int Height = 0;
  int Background = 0;
  std::vector<GifColorType> GlobalMap;  // a power of two of entries, or empty
  std::vector<TGifFrame> Frames;
};

int WriteToBytes(GifFileType* gif, const GifByteType* data, int length) {
  auto* bytes = static_cast<TBytes*>(gif->UserData);
  bytes->insert(bytes->end(), data, data + length);
  return length;
}

ColorMapObject* MapOf(const std::vector<GifColorType>& colours) {
  if (colours.empty()) return nullptr;
  return GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
}

TBytes MakeGif(const TGifFile& file) {
  TBytes bytes;
  int error = 0;
  GifFileType* gif = EGifOpen(&bytes, WriteToBytes, &error);
  EXPECT_NE(gif, nullptr);
  EGifSetGifVersion(gif, true);
  ColorMapObject* global = MapOf(file.GlobalMap);
  EXPECT_EQ(EGifPutScreenDesc(gif, file.Width, file.Height, 8, file.Background, global), GIF_OK);
  GifFreeMapObject(global);
  for (const TGifFrame& frame : file.Frames) {
    if (frame.Transparent >= 0) {
      GraphicsControlBlock control{};
      control.TransparentColor = frame.Transparent;
      GifByteType extension[4];
      const size_t length = EGifGCBToExtension(&control, extension);
      EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension),
                GIF_OK);
    }
    ColorMapObject* local = MapOf(frame.LocalMap);
    EXPECT_EQ(EGifPutImageDesc(gif, frame.Left, frame.Top, frame.Width, frame.Height,
                               frame.Interlace, local),
              GIF_OK);
    GifFreeMapObject(local);
    // The encoder writes rows in the order given: an interlaced frame's in its four passes.
    std::vector<int> order;
    if (frame.Interlace) {
      const int start[] = {0, 4, 2, 1};
      const int step[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < frame.Height; y += step[pass])
          order.push_back(y);
    } else {
      for (int y = 0; y < frame.Height; ++y)
        order.push_back(y);
    }
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    for (const int y : order) {
      std::memcpy(line.data(), &frame.Indices[static_cast<std::size_t>(y * frame.Width)],
                  line.size());
      EXPECT_EQ(EGifPutLine(gif, line.data(), frame.Width), GIF_OK);
    }
  }
  EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
  return bytes;
}

std::vector<GifColorType> Palette(int count) {
  std::vector<GifColorType> colours;
  for (int i = 0; i < count; ++i)
    colours.push_back({static_cast<GifByteType>(i * 37), static_cast<GifByteType>(255 - i * 11),
                       static_cast<GifByteType>(i * 5 + 3)});
  return colours;
}

std::uint32_t Rgb(const GifColorType& c) {
  return std::uint32_t{c.Red} << 16 | std::uint32_t{c.Green} << 8 | c.Blue;
}

TGifFrame PatternFrame(int width, int height, int colours) {
  TGifFrame frame;
  frame.Width = width;
  frame.Height = height;
  for (int i = 0; i < width * height; ++i)
    frame.Indices.push_back(static_cast<GifPixelType>((i * 7 + i / width) % colours));
  return frame;
}

// Each pixel of the frame against the palette; alpha 0 exactly where the transparent index is.
void ExpectFrame(const TBitmap& picture, const TPictureExtras& extras, const TGifFrame& frame,
                 const std::vector<GifColorType>& colours) {
  for (int y = 0; y < frame.Height; ++y) {
    for (int x = 0; x < frame.Width; ++x) {
      const int index = frame.Indices[static_cast<std::size_t>(y * frame.Width + x)];
      const int px = frame.Left + x;
      const int py = frame.Top + y;
      ASSERT_EQ(PixelAt(picture, px, py), Rgb(colours[static_cast<std::size_t>(index)]))
          << px << "," << py;
      if (extras.HasAlpha()) {
        ASSERT_EQ(extras.Alpha[static_cast<std::size_t>(py * picture.Width() + px)],
                  index == frame.Transparent ? 0 : 255)
            << px << "," << py;
      }
    }
  }
}

TEST(GifReader, PalettesAndInterlacingComeBackExactly) {
  for (const bool interlace : {false, true}) {
    for (const bool local : {false, true}) {
      SCOPED_TRACE(testing::Message() << "interlace " << interlace << " local " << local);
      TGifFile file;
      file.Width = 23;
      file.Height = 19;  // every interlace pass has rows, the last ones partial
      file.GlobalMap = Palette(16);
      TGifFrame frame = PatternFrame(23, 19, 16);
      frame.Interlace = interlace;
      if (local) {
        frame.LocalMap = Palette(16);
        std::reverse(frame.LocalMap.begin(), frame.LocalMap.end());
      }
      file.Frames.push_back(frame);
      const TBytes bytes = MakeGif(file);
      TBitmap picture;
      TPictureExtras extras;
      ReadGif(bytes.data(), bytes.size(), picture, extras);
      ASSERT_EQ(picture.Width(), 23);
      ASSERT_EQ(picture.Height(), 19);
      EXPECT_FALSE(extras.HasAlpha());
      ExpectFrame(picture, extras, frame, local ? frame.LocalMap : file.GlobalMap);
    }
  }
}

TEST(GifReader, GreyPaletteGivesGreyPixels) {
  TGifFile file;
  file.Width = 16;
  file.Height = 16;
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<GifByteType>(i);
    file.GlobalMap.push_back({v, v, v});
  }
  TGifFrame frame = PatternFrame(16, 16, 256);
  for (int i = 0; i < 256; ++i)
    frame.Indices[static_cast<std::size_t>(i)] = static_cast<GifPixelType>(i);
  file.Frames.push_back(frame);
  const TBytes bytes = MakeGif(file);
  TBitmap picture;
  TPictureExtras extras;
  ReadGif(bytes.data(), bytes.size(), picture, extras);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(PixelAt(picture, i % 16, i / 16), static_cast<std::uint32_t>(i) * 0x010101u);
}

TEST(GifReader, TransparentIndexBecomesAlpha) {
  TGifFile file;
  file.Width = 12;
  file.Height = 9;
  file.GlobalMap = Palette(8);
  TGifFrame frame = PatternFrame(12, 9, 8);
  frame.Transparent = 3;
  file.Frames.push_back(frame);
  const TBytes bytes = MakeGif(file);
  TBitmap picture;
  TPictureExtras extras;
  ReadGif(bytes.data(), bytes.size(), picture, extras);
  ASSERT_TRUE(extras.HasAlpha());
  ASSERT_EQ(extras.Alpha.size(), 12u * 9u);
  ExpectFrame(picture, extras, frame, file.GlobalMap);
}

TEST(GifReader, FirstFrameOnTheScreenAndTheRestTransparent) {
  TGifFile file;
  file.Width = 20;
  file.Height = 15;
  file.Background = 5;
  file.GlobalMap = Palette(8);
  TGifFrame first = PatternFrame(7, 6, 8);
  first.Left = 9;
  first.Top = 4;
  TGifFrame second = PatternFrame(20, 15, 8);  // covers everything; must not show
  for (auto& index : second.Indices)
    index = 1;
  file.Frames = {first, second};
  const TBytes bytes = MakeGif(file);
  TBitmap picture;
  TPictureExtras extras;
  ReadGif(bytes.data(), bytes.size(), picture, extras);
  ASSERT_EQ(picture.Width(), 20);
  ASSERT_EQ(picture.Height(), 15);
  ASSERT_TRUE(extras.HasAlpha());
  ExpectFrame(picture, extras, first, file.GlobalMap);
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 20; ++x) {
      if (x >= 9 && x < 16 && y >= 4 && y < 10) continue;
      EXPECT_EQ(extras.Alpha[static_cast<std::size_t>(y * 20 + x)], 0) << x << "," << y;
      EXPECT_EQ(PixelAt(picture, x, y), Rgb(file.GlobalMap[5])) << x << "," << y;
    }
  }
}

TEST(GifReader, ScreenSmallerThanTheFrameGrowsToHoldIt) {
  TGifFile file;
  file.Width = 4;
  file.Height = 4;
  file.GlobalMap = Palette(4);
  TGifFrame frame = PatternFrame(10, 6, 4);
  frame.Left = 2;
  frame.Top = 1;
  file.Frames.push_back(frame);
  const TBytes bytes = MakeGif(file);
  TBitmap picture;
  TPictureExtras extras;
  ReadGif(bytes.data(), bytes.size(), picture, extras);
  ASSERT_EQ(picture.Width(), 12);
  ASSERT_EQ(picture.Height(), 7);
  ExpectFrame(picture, extras, frame, file.GlobalMap);
}

TEST(GifReader, DamagedAndTruncatedFilesAreRefusedAndLeaveThePicture) {
  TGifFile file;
  file.Width = 30;
  file.Height = 20;
  file.GlobalMap = Palette(32);
  file.Frames.push_back(PatternFrame(30, 20, 32));
  const TBytes bytes = MakeGif(file);

  TBitmap picture;
  TPictureExtras extras;
  extras.ColorProfile = {1, 2, 3};
  // Every cut before the first frame's pixels are all there.
  const std::size_t end = bytes.size() - 1;  // the trailer alone may go
  for (std::size_t size = 0; size < end; ++size) {
    SCOPED_TRACE(::testing::Message() << "a file cut to " << size << " bytes");
    const auto raised = test::ExpectRefusal<Exception>(
        [&] { ReadGif(bytes.data(), size, picture, extras); }, test::kAnyReason);
    if (raised && raised->As<EReadError>() == nullptr) {
      EXPECT_NE(raised->As<EInvalidGraphic>(), nullptr) << raised->ClassName;
      EXPECT_EQ(raised->Message, "GIF イメージが不正です");
    }
    ASSERT_EQ(picture.Width(), 0);
    ASSERT_EQ(extras.ColorProfile, (std::vector<std::uint8_t>{1, 2, 3}));
  }

  TBytes wrong = bytes;
  wrong[0] = 'J';
  test::ExpectRefusal<EInvalidGraphic>(
      [&] { ReadGif(wrong.data(), wrong.size(), picture, extras); }, "gif-bad-signature",
      "GIF イメージが不正です");

  // Damage in the compressed pixels: refused, or read at the right size, never a crash.
  for (std::size_t at = 40; at < bytes.size() - 2; at += 3) {
    TBytes damaged = bytes;
    damaged[at] ^= 0x5A;
    TBitmap read;
    try {
      ReadGif(damaged.data(), damaged.size(), read, extras);
      EXPECT_GT(read.Width(), 0);
    } catch (const EReadError&) {
    } catch (const EInvalidGraphic&) {
    } catch (const EOutOfResources&) {
    }
  }
}

TEST(GifReader, ScreenOverTheStorageLimitIsRefusedBeforeAllocation) {
  TGifFile file;
  file.Width = 4000;
  file.Height = 3000;
  file.GlobalMap = Palette(2);
  file.Frames.push_back(PatternFrame(2, 2, 2));
  const TBytes bytes = MakeGif(file);
  test::TStorageLimitScope limit(4000u * 3000u * 3u - 1);
  TBitmap picture;
  TPictureExtras extras;
  test::ExpectRefusal<EOutOfResources>(
      [&] { ReadGif(bytes.data(), bytes.size(), picture, extras); }, "gif-too-large");
}

}  // namespace
}  // namespace penamo
