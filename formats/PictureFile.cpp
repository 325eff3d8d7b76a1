#include "PictureFile.h"

#include <new>
#include <vector>

#include "BitmapFileRows.h"
#include "Exceptions.h"
#include "FormatSupport.h"
#include "JpegReader.h"
#include "PngReader.h"
#include "Stream.h"
#include "TiffReader.h"
#include "WebPReader.h"

namespace penamo {

namespace {

// A bitmap through the bitmap reader, converted to 24 bits aside and then installed.
void ReadBitmap(TStream& stream, TBitmap& picture, TPictureExtras& extras) {
  TBitmap read;
  read.ReadBitmapStream(stream);
  read.ConvertTo24Bits();
  picture.ShareFrom(&read);
  extras = TPictureExtras();
}

void ReadCompressed(TPictureKind kind, const std::uint8_t* data, std::size_t size, TBitmap& picture,
                    TPictureExtras& extras) {
  switch (kind) {
    case TPictureKind::Png:
      ReadPng(data, size, picture, extras);
      return;
    case TPictureKind::Jpeg:
      ReadJpeg(data, size, picture, extras);
      return;
    case TPictureKind::Tiff:
      ReadTiff(data, size, picture, extras);
      return;
    case TPictureKind::WebP:
      ReadWebP(data, size, picture, extras);
      return;
    case TPictureKind::Bitmap:
      break;
  }
}

}  // namespace

TPictureKind ReadPictureBytes(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                              TPictureExtras& extras) {
  const TPictureKind kind = PictureKindOf(data, size);
  if (kind == TPictureKind::Bitmap) {
    TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
    ReadBitmap(stream, picture, extras);
  } else {
    ReadCompressed(kind, data, size, picture, extras);
  }
  return kind;
}

namespace {

TPictureKind KindOfStream(TStream& stream) {
  std::uint8_t head[kPictureSignatureSize] = {};
  const auto headSize = static_cast<std::size_t>(stream.Read(head, sizeof head));
  return PictureKindOf(head, headSize);
}

}  // namespace

TPictureKind PictureKindOfFile(const std::string& path) {
  TFileStream stream(path);
  return KindOfStream(stream);
}

std::unique_ptr<TRowSource> OpenPictureRows(const std::string& path, TPictureExtras& extras) {
  switch (PictureKindOfFile(path)) {
    case TPictureKind::Bitmap:
      return TBitmapFileRows::Open(path);
    case TPictureKind::Png:
      return OpenPngRows(path, extras);
    case TPictureKind::Jpeg:
      return OpenJpegRows(path, extras);
    default:
      return nullptr;
  }
}

TPictureKind ReadPicture(const std::string& path, TBitmap& picture, TPictureExtras& extras) {
  TFileStream stream(path);
  const TPictureKind kind = KindOfStream(stream);
  if (stream.Seek(0, TSeekOrigin::Beginning) != 0) throw EReadError(Msg::ReadError, "seek-failed");
  if (kind == TPictureKind::Bitmap) {
    ReadBitmap(stream, picture, extras);
    return kind;
  }
  // The compressed formats are decoded from memory.
  const std::vector<std::uint8_t> bytes = formats::ReadWholeFile(stream);
  ReadCompressed(kind, bytes.data(), bytes.size(), picture, extras);
  return kind;
}

}  // namespace penamo
