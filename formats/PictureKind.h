// The picture formats this tool reads or writes, described once: the name the dialogs show, the
// file-name extensions, the MIME types the desktop entry announces, the signature that tells a
// file's kind by its first bytes (never by its name), the reader's functions and, for a kind the
// tool writes, the writer's. The command line, the dialogs, the desktop entry's check, every
// read (PictureFile.h) and every save go through this one table; a new format joins by adding a
// row.
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

class TBandWriter;
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

// What a save tells a writer beside the picture's size and extras.
struct TPictureWriteOptions {
  // The picture's resolution in pixels per metre, kept by a format that stores one; 0: none.
  std::int32_t XPelsPerMeter = 0;
  std::int32_t YPelsPerMeter = 0;
  // 0: colour rows. 2 to 256: every row's pixels are grey (blue = green = red) and each one of
  // that many equally spaced levels, which a format that stores grey writes at the smallest
  // depth holding them exactly.
  int GreyLevels = 0;
};

// How a format's pictures are written; all null for a kind only read.
struct TPictureWriter {
  // A writer taking a width × height picture band by band (BandWriter.h), the file replaced only
  // at Commit. extras' alpha plane, colour profile and metadata are kept where the format keeps
  // them and must outlive the writer.
  std::unique_ptr<TBandWriter> (*OpenBands)(const std::string& path, std::int32_t width,
                                            std::int32_t height, const TPictureExtras& extras,
                                            const TPictureWriteOptions& options);
  // The whole 24-bit picture at once, on the same terms.
  void (*Write)(const TBitmap& picture, const std::string& path, const TPictureExtras& extras);
  // Whether the file keeps the extras' alpha plane: a save of a picture with transparency to a
  // format that does not must decide what its transparent pixels become.
  bool KeepsAlpha;
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
  TPictureWriter Writer;

  // Whether a save can produce it.
  bool Writable() const { return Writer.OpenBands != nullptr; }
};

// Every format, the bitmap first.
const std::vector<TPictureFormat>& PictureFormats();

// For tests only: while the scope lives, the table ends with one more row, which
// PictureFormats, PictureFormatOf and the lookups by name give like any other, so that a format
// joining by one row is seen wherever the table is read. The row's kind is the one after the
// shipped rows' last. Opened and closed while nothing else reads the table; never in the
// shipped table.
class TExtraFormatRowScope {
 public:
  explicit TExtraFormatRowScope(const TPictureFormat& row);
  ~TExtraFormatRowScope();
  TExtraFormatRowScope(const TExtraFormatRowScope&) = delete;
  TExtraFormatRowScope& operator=(const TExtraFormatRowScope&) = delete;
};
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
