// The picture formats this tool reads or writes, described once: the name the dialogs show, the
// file-name extensions, the MIME types the desktop entry announces, the signature that tells a
// file's kind by its first bytes (never by its name), the reader's functions, and whether the
// tool writes it. The command line, the dialogs, the desktop entry's check and every read
// (PictureFile.h) go through this one table; a new format joins by adding a row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace penamo {

enum class TPictureKind { Bitmap, Png, Jpeg, Tiff, WebP, Gif, Heif, Avif, Jxl };

// The bytes needed to tell every kind apart: HEIF and AVIF are told by the brands of their
// leading `ftyp` box, which lists its compatible brands after the first sixteen bytes.
inline constexpr std::size_t kPictureSignatureSize = 64;

class TBitmap;
class TDeepRowSource;
class TRowSource;
class TStream;
struct TDeepPicture;
struct TPictureExtras;

// How a format's pictures are read (PictureFile.h says what each read gives). Read is the one a
// format must have; each other function may be null, and then the read falls back as stated.
struct TPictureReader {
  // The whole picture at 8 bits from the file's bytes.
  void (*Read)(const std::uint8_t* data, std::size_t size, TBitmap& picture,
               TPictureExtras& extras);
  // The whole picture at full precision; null: Read widened (v × 257).
  void (*ReadDeep)(const std::uint8_t* data, std::size_t size, TDeepPicture& deep,
                   TPictureExtras& extras);
  // Both from one decode, true when the file holds more than 8 bits a sample; null: Read alone.
  bool (*ReadWithDeep)(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                       TDeepPicture& deep, TPictureExtras& extras);
  // The 8-bit rows band by band from the file at path (null where this file must be read
  // whole); null: every file of the format is read whole.
  std::unique_ptr<TRowSource> (*OpenRows)(const std::string& path, TPictureExtras& extras);
  // The deep rows band by band, on the same terms; null: OpenRows widened.
  std::unique_ptr<TDeepRowSource> (*OpenDeepRows)(const std::string& path, TPictureExtras& extras);
};

struct TPictureFormat {
  TPictureKind Kind;
  const char* Name;  // "PNG"
  std::vector<std::string>
      Extensions;  // lower case, without the dot: "png"; the first is the usual one
  std::vector<std::string> MimeTypes;  // "image/png"
  // Whether the first size bytes of a file carry this format's signature. Null for the bitmap,
  // which takes whatever no other format claims.
  bool (*HasSignature)(const std::uint8_t* head, std::size_t size);
  // The bitmap's Read takes the file's bytes as any other; a whole bitmap file is read from
  // its stream instead (ReadPicture), since the bitmap reader needs no copy of the file.
  TPictureReader Reader;
  bool Writable;  // a save can produce it
};

// Every format, the bitmap first.
const std::vector<TPictureFormat>& PictureFormats();
// The row of a kind.
const TPictureFormat& PictureFormatOf(TPictureKind kind);

// A whole bitmap from an open stream, as the bitmap row's Read reads its bytes: converted to 24
// bits aside and then installed, an alpha mask the file keeps becoming the extras' alpha plane.
void ReadBitmapFromStream(TStream& stream, TBitmap& picture, TPictureExtras& extras);

// The kind whose signature starts head. Anything unrecognised is taken for a bitmap; whether
// it is to be refused as a bitmap or as a file of no known kind is IsBitmapCandidate's call.
TPictureKind PictureKindOf(const std::uint8_t* head, std::size_t size);

// Whether a file that no other format claims goes to the bitmap reader, so that its refusals
// stay the bitmap reader's own: it starts with the bitmap's "BM", or its name (empty when not
// known) ends in .bmp in any case. Any other such file is of no kind this tool reads.
bool IsBitmapCandidate(const std::uint8_t* head, std::size_t size, std::string_view name);

// The format an extension (without the dot, in any case) names, or null.
const TPictureFormat* FormatOfExtension(std::string_view extension);

// The format the extension of a file name names (what follows its last dot, in any case), or
// null for a name without one or with one no format has.
const TPictureFormat* FormatOfFileName(std::string_view name);

}  // namespace penamo
