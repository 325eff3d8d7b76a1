// The TIFF reader's rows: strips and tiles (or libtiff's RGBA interface, for the layouts the
// direct read leaves to it) decoded a band at a time into stored rows of interleaved samples,
// each turned into colours by the converter its layout chose once (TiffConvert.h). The whole
// reads and the band-by-band read take their rows from here alike, so a file gets one answer
// whichever read meets it.
#pragma once

#include <cstdint>
#include <memory>

#include "TiffConvert.h"
#include "TiffOpen.h"

namespace penamo::formats::tiff {

// A picture's stored rows a band at a time (the rows of one strip or one row of tiles), each
// row as interleaved samples of Layout().
class TBandSource {
 public:
  virtual ~TBandSource() = default;

  virtual const TLayout& Layout() const = 0;
  virtual std::uint32_t BandRows() const = 0;
  // Decodes the band of rows rows from row top; raises the read's error when it cannot.
  virtual void Read(std::uint32_t top, std::uint32_t rows) = 0;
  // Row r of the band read last.
  virtual const std::uint8_t* Samples(std::uint32_t r) = 0;
};

// The stored rows of an open TIFF, top to bottom, with the converters of their layout.
class TStoredRows {
 public:
  // f is ReadLayout's for tif, whose client must outlive these rows. Every band buffer is sized
  // and checked here, before any picture is; a layout the direct read leaves goes through the
  // RGBA interface, refused as an unsupported variant (f.Refusal) where that refuses it too.
  TStoredRows(TIFF* tif, const TLayout& f, const TClient& client);

  // The layout of the rows as given: f's, or 8-bit RGBA (alpha premultiplied) for the RGBA
  // interface's rows.
  const TLayout& Layout() const { return FBands->Layout(); }
  bool HasAlpha() const { return Layout().Alpha >= 0; }
  // Whether the rows carry more than 8 bits a colour sample, which ToDeep keeps.
  bool KeepsDepth() const { return FConverters.ToDeep != nullptr; }

  // Stored row y's samples. Rows are asked for in order from 0; each band is decoded when its
  // first row is asked for, and its error raised then.
  const std::uint8_t* Next(std::uint32_t y);
  // The row's 8-bit colours and, when the rows have alpha, its alpha row (never null then).
  void To8(const std::uint8_t* samples, std::uint8_t* bgr, std::uint8_t* alpha) const {
    FConverters.To8(Layout(), samples, bgr, alpha);
  }
  // The row's colours at full precision; only where KeepsDepth.
  void ToDeep(const std::uint8_t* samples, std::uint16_t* bgr) const {
    FConverters.ToDeep(Layout(), samples, bgr);
  }

 private:
  std::unique_ptr<TBandSource> FBands;
  TRowConverters FConverters;
  std::uint32_t FTop = 0;
  std::uint32_t FCount = 0;
};

}  // namespace penamo::formats::tiff
