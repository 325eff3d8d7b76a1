#include "PictureFile.h"

#include <new>
#include <vector>

#include "DeepRowSource.h"
#include "Exceptions.h"
#include "FormatSupport.h"
#include "Machine.h"
#include "Stream.h"

namespace penamo {

namespace {

// A file no other format claims goes to the bitmap reader only when it may be a bitmap, so that
// a bitmap's refusals stay as they always were and any other file is told it is of no kind read.
void CheckBitmapCandidate(const std::uint8_t* head, std::size_t size, const std::string& name) {
  if (!IsBitmapCandidate(head, size, name))
    throw EUnsupportedGraphic(Msg::UnsupportedPicture, "unknown-format");
}

}  // namespace

TPictureKind ReadPictureBytes(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                              TPictureExtras& extras) {
  const TPictureKind kind = PictureKindOf(data, size);
  if (kind == TPictureKind::Bitmap) CheckBitmapCandidate(data, size, {});
  PictureFormatOf(kind).Reader.Read(data, size, picture, extras);
  return kind;
}

namespace {

TPictureKind KindOfStream(TStream& stream) {
  std::uint8_t head[kPictureSignatureSize] = {};
  const auto headSize = static_cast<std::size_t>(stream.Read(head, sizeof head));
  return PictureKindOf(head, headSize);
}

// The kind of the file at path open in stream, a file that is neither a known kind nor a bitmap
// refused.
TPictureKind ReadableKindOfStream(TStream& stream, const std::string& path) {
  std::uint8_t head[kPictureSignatureSize] = {};
  const auto headSize = static_cast<std::size_t>(stream.Read(head, sizeof head));
  const TPictureKind kind = PictureKindOf(head, headSize);
  if (kind == TPictureKind::Bitmap) CheckBitmapCandidate(head, headSize, path);
  return kind;
}

TPictureKind ReadableKindOfFile(const std::string& path) {
  TFileStream stream(path);
  return ReadableKindOfStream(stream, path);
}

}  // namespace

TPictureKind PictureKindOfFile(const std::string& path) {
  TFileStream stream(path);
  return KindOfStream(stream);
}

std::unique_ptr<TRowSource> OpenPictureRows(const std::string& path, TPictureExtras& extras) {
  const TPictureReader& reader = PictureFormatOf(ReadableKindOfFile(path)).Reader;
  return reader.OpenRows != nullptr ? reader.OpenRows(path, extras) : nullptr;
}

namespace {

// A 24-bit picture's samples widened into a deep picture of its size.
TDeepPicture Widened(TBitmap& picture) {
  TBitmapRows rows(picture);
  TDeepPicture deep;
  deep.Width = rows.Width();
  deep.Height = rows.Height();
  WithMemory(formats::kOutOfMemory, [&] {
    deep.Samples.resize(3 * static_cast<std::size_t>(deep.Width) *
                        static_cast<std::size_t>(deep.Height));
  });
  const std::size_t samples = 3 * static_cast<std::size_t>(deep.Width);
  for (std::int32_t y = 0; y < deep.Height; ++y) {
    const std::uint8_t* in = rows.Row(y);
    std::uint16_t* out = deep.Row(y);
    WidenSamples(in, out, samples);
  }
  return deep;
}

// The file's kind and, for a compressed format, its bytes; a bitmap is read into picture at once.
struct TOpenedFile {
  TPictureKind Kind = TPictureKind::Bitmap;
  std::vector<std::uint8_t> Bytes;
};

TOpenedFile OpenFile(const std::string& path, TBitmap& picture, TPictureExtras& extras) {
  TFileStream stream(path);
  TOpenedFile file;
  file.Kind = ReadableKindOfStream(stream, path);
  if (stream.Seek(0, TSeekOrigin::Beginning) != 0) throw EReadError(Msg::ReadError, "seek-failed");
  if (file.Kind == TPictureKind::Bitmap) {
    ReadBitmapFromStream(stream, picture, extras);
    return file;
  }
  // The compressed formats are decoded from memory.
  file.Bytes = formats::ReadWholeFile(stream);
  return file;
}

}  // namespace

std::unique_ptr<TDeepRowSource> OpenPictureDeepRows(const std::string& path,
                                                    TPictureExtras& extras) {
  const TPictureReader& reader = PictureFormatOf(ReadableKindOfFile(path)).Reader;
  if (reader.OpenDeepRows != nullptr) return reader.OpenDeepRows(path, extras);
  if (reader.OpenRows == nullptr) return nullptr;
  std::unique_ptr<TRowSource> rows = reader.OpenRows(path, extras);
  if (!rows) return nullptr;
  return std::make_unique<TWidenedRows>(std::move(rows));
}

TPictureKind ReadPictureDeep(const std::string& path, TDeepPicture& deep, TPictureExtras& extras) {
  TBitmap picture;
  TPictureExtras read;
  TOpenedFile file = OpenFile(path, picture, read);
  if (file.Kind != TPictureKind::Bitmap) {
    const TPictureReader& reader = PictureFormatOf(file.Kind).Reader;
    if (reader.ReadDeep != nullptr) {
      reader.ReadDeep(file.Bytes.data(), file.Bytes.size(), deep, extras);
      return file.Kind;
    }
    reader.Read(file.Bytes.data(), file.Bytes.size(), picture, read);
  }
  deep = Widened(picture);
  extras = std::move(read);
  return file.Kind;
}

bool ReadPictureWithDeep(const std::string& path, TBitmap& picture, TDeepPicture& deep,
                         TPictureExtras& extras) {
  TOpenedFile file = OpenFile(path, picture, extras);
  if (file.Kind != TPictureKind::Bitmap) {
    const TPictureReader& reader = PictureFormatOf(file.Kind).Reader;
    if (reader.ReadWithDeep != nullptr)
      return reader.ReadWithDeep(file.Bytes.data(), file.Bytes.size(), picture, deep, extras);
    reader.Read(file.Bytes.data(), file.Bytes.size(), picture, extras);
  }
  deep = TDeepPicture();
  return false;
}

TPictureKind ReadPicture(const std::string& path, TBitmap& picture, TPictureExtras& extras) {
  TFileStream stream(path);
  const TPictureKind kind = ReadableKindOfStream(stream, path);
  if (stream.Seek(0, TSeekOrigin::Beginning) != 0) throw EReadError(Msg::ReadError, "seek-failed");
  if (kind == TPictureKind::Bitmap) {
    ReadBitmapFromStream(stream, picture, extras);
    return kind;
  }
  // The compressed formats are decoded from memory.
  const std::vector<std::uint8_t> bytes = formats::ReadWholeFile(stream);
  PictureFormatOf(kind).Reader.Read(bytes.data(), bytes.size(), picture, extras);
  return kind;
}

}  // namespace penamo
