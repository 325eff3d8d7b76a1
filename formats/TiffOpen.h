// The TIFF reader's first room: opening a file through libtiff (one opener for the bytes in
// memory and for an open file, every allocation of the library held to the storage limit, its
// messages kept for the read alone), the first directory's tags as a row layout, and the limits
// checked before anything the size of the picture is made. TiffRows.h turns strips and tiles
// into rows, TiffConvert.h rows into colours, TiffReader.h puts them together.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PictureExtras.h"

namespace penamo::formats::tiff {

// Where libtiff's client reads the file's bytes from: Data in memory, or (Data null) the open
// file Handle at offsets of its own. Size, Position and Failed are the client's either way.
struct TClient {
  const std::uint8_t* Data = nullptr;
  int Handle = -1;
  std::uint64_t Size = 0;
  std::uint64_t Position = 0;
  bool Failed = false;  // the library reported an error
};

struct TTiffClose {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TTiff = std::unique_ptr<TIFF, TTiffClose>;

// Quietens the process-wide handlers once, which a few library paths print through.
void SilenceGlobalHandlers();

// Opens the first directory of the file client reads (which must outlive the result): no single
// block nor all blocks together (where the library can hold them so) beyond the storage limit.
// A file too short for a header is refused as cut, any other the library cannot open as damaged.
TTiff OpenTiff(TClient& client);

[[noreturn]] void RaiseTiff(const std::string& reason);
// A sound file of a variant neither the direct read nor libtiff's RGBA interface takes.
[[noreturn]] void RaiseUnsupported(const std::string& reason);
// A read of strip or tile number index failed: the file ended before it, or it is damaged.
[[noreturn]] void RaiseReadFailure(TIFF* tif, std::uint32_t index, const TClient& client);

// How the samples of one row are laid out, and how they become colours.
struct TLayout {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint16_t SamplesPerPixel = 1;
  std::uint16_t BitsPerSample = 1;
  std::uint16_t Photometric = 0;
  std::uint16_t Planar = PLANARCONFIG_CONTIG;
  int Alpha = -1;  // the alpha sample's index, or -1
  bool Associated = false;
  std::uint16_t Compression = COMPRESSION_NONE;
  int Orientation = 1;  // how the stored rows are shown, 1..8
  // False for a layout the direct read does not take, which goes through libtiff's RGBA
  // interface; Refusal then says why, for when that refuses it too.
  bool Direct = true;
  std::string Refusal;
  // Palette colours, rounded to 8 bits.
  std::vector<std::uint8_t> Red, Green, Blue;
};

// The first directory's layout; the picture's size checked against the storage limit, signed
// and floating-point samples refused as unsupported.
TLayout ReadLayout(TIFF* tif);

// Refuses, before anything the size of the picture is allocated, a file whose strips or tiles
// claim more pixels than its bytes can hold under its compression: data the read would take from
// beyond the end of the file (EReadError, as that read would end), or decoded sizes beyond what
// the bytes present (counted once where strips overlap) can expand to (EInvalidGraphic).
void CheckClaimsAgainstFile(TIFF* tif, const TLayout& f, const TClient& client);

// The colour profile, when the file has one, into extras.
void TakeProfile(TIFF* tif, TPictureExtras& extras);

// rows × bytes of working memory, checked against the storage limit (reason names the refusal)
// and then allocated.
std::uint8_t* Allocate(std::vector<std::uint8_t>& buffer, std::uint64_t rows, std::uint64_t bytes,
                       const char* reason);

}  // namespace penamo::formats::tiff
