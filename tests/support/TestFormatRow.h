// A written format that joins the format table by one row (TExtraFormatRowScope), for tests that
// prove every save takes its writer from the table: files named .tstpic, written as 24-bit
// bitmaps by a writer that logs each use, so that a test tells this row's writer made a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "PictureExtras.h"
#include "PictureKind.h"

namespace penamo::test {

// What the test row's writer was asked for, since the test began.
struct TTestFormatLog {
  int BandWriters = 0;
  int WholeWrites = 0;
  std::string Path;              // the last file
  TPictureWriteOptions Options;  // the last band writer's
  std::size_t AlphaBytes = 0;    // the size of the last alpha plane handed to the writer
};

inline TTestFormatLog& TestFormatLog() {
  static TTestFormatLog log;
  return log;
}

// The kind after the shipped rows' last.
inline constexpr auto kTestPictureKind = static_cast<TPictureKind>(9);
inline constexpr const char* kTestFormatName = "TestPic";

inline std::unique_ptr<TBandWriter> OpenTestBands(const std::string& path, std::int32_t width,
                                                  std::int32_t height, const TPictureExtras& extras,
                                                  const TPictureWriteOptions& options) {
  TTestFormatLog& log = TestFormatLog();
  ++log.BandWriters;
  log.Path = path;
  log.Options = options;
  log.AlphaBytes = extras.Alpha.size();
  return std::make_unique<TBitmapBandWriter>(path, width, height, options.XPelsPerMeter,
                                             options.YPelsPerMeter);
}

inline void WriteTestPicture(const TBitmap& picture, const std::string& path,
                             const TPictureExtras& extras) {
  TTestFormatLog& log = TestFormatLog();
  ++log.WholeWrites;
  log.Path = path;
  log.AlphaBytes = extras.Alpha.size();
  picture.WriteBitmapFile(path);
}

// Its files are bitmaps, which the bitmap row reads; no file's first bytes claim this kind.
inline bool HasTestSignature(const std::uint8_t*, std::size_t) {
  return false;
}

// The row; keepsAlpha says what its writer claims to keep (it stores no alpha either way).
inline TPictureFormat TestFormatRow(bool keepsAlpha) {
  return {kTestPictureKind,
          kTestFormatName,
          {"tstpic"},
          {"image/x-penamo-test"},
          HasTestSignature,
          PictureFormatOf(TPictureKind::Bitmap).Reader,
          {OpenTestBands, WriteTestPicture, keepsAlpha}};
}

}  // namespace penamo::test
