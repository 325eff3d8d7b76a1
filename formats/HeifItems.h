// The least of a HEIF file's own boxes that libheif does not tell: which items the primary
// picture is made from, which of their properties the file calls essential, how their coded
// samples are ranged, and whether the file holds a still picture at all. Every box is read
// within the bounds of the box that holds it; what cannot be read is reported as not known, never
// guessed, and libheif stays the judge of whether the file is damaged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace penamo::formats {

using TFourCC = std::array<char, 4>;

struct THeifBox {
  TFourCC Type{};
  std::size_t Start = 0;               // where the box begins in the file
  const std::uint8_t* Body = nullptr;  // after the header (and, for a full box, not past it)
  std::size_t Size = 0;
};

struct THeifItem {
  std::uint32_t Id = 0;
  TFourCC Type{};
  std::size_t EntryStart = 0;  // where its 'infe' box begins in the file
  // Indices into THeifLayout::Properties (from 0), each with whether it is essential.
  std::vector<std::pair<std::size_t, bool>> Properties;
};

struct THeifReference {
  TFourCC Type{};
  std::uint32_t From = 0;
  std::vector<std::uint32_t> To;
};

// Where an item's coded data lie in the file: its first extent ('iloc', data in the file itself
// only). Enough for the header at the start of an item's stream.
struct THeifLocation {
  std::uint32_t Id = 0;
  std::size_t Offset = 0;
  std::size_t Length = 0;
};

struct THeifLayout {
  // The file the boxes were read from; every pointer and location lies within it.
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
  bool HasMeta = false;
  bool HasMovie = false;  // a 'moov' box: an image sequence's track
  std::uint32_t Primary = 0;
  std::vector<THeifItem> Items;
  std::vector<THeifReference> References;
  std::vector<THeifBox> Properties;  // the 'ipco' boxes in order
  std::vector<THeifLocation> Locations;
  // Where the 'iinf' entry count and the 'pitm' item number lie, and their widths in bytes.
  std::size_t EntryCountAt = 0;
  int EntryCountBytes = 0;
  std::size_t PrimaryAt = 0;
  int PrimaryBytes = 0;

  const THeifItem* Item(std::uint32_t id) const;
  // The first property of type of the item, or null.
  const THeifBox* Property(const THeifItem& item, const char* type) const;
};

// The boxes of the file held in data, as far as they can be read.
THeifLayout ReadHeifLayout(const std::uint8_t* data, std::size_t size);

// Why the primary picture cannot be shown as the file means it, as a reason tag ("predicted-item",
// "unsupported-essential-property"), or empty: a picture predicted from another item, or an item
// it is made from carrying an essential property the decoder does not apply.
std::string UnsupportedPrimaryReason(const THeifLayout& layout);

// Whether the file holds an identity-derived ('iden') item, which the decoder here cannot read.
bool HoldsIdentityItem(const THeifLayout& layout);

// One transform of an identity-derived item, applied after its source is decoded: a rotation by
// Quarter quarter turns anticlockwise ('irot'), or a mirroring ('imir') about the vertical axis
// (Axis 0: left and right swap) or the horizontal one (Axis 1: top and bottom swap).
// Or a clean-aperture crop ('clap'): width, height and the centre's offsets from the picture's
// centre, each a fraction (numerator, denominator).
struct THeifTransform {
  bool Mirror = false;
  int Quarters = 0;
  int Axis = 0;
  bool Crop = false;
  std::int64_t Fractions[8] = {};  // width, height, horizontal and vertical offset: n, d each
};

// The whole pixels of a crop of a width × height picture: left, top, width and height. Where the
// clean aperture's edge falls inside a pixel, the crop starts at that pixel (as libheif crops a
// coded item). False when the crop is empty, not whole within the picture, or a denominator is 0.
bool CropRectangle(const THeifTransform& crop, std::int64_t width, std::int64_t height,
                   std::int64_t rectangle[4]);

// A file holding identity-derived items made readable by the decoder here, which cannot read one:
// a copy in which their item entries are 'free' boxes (of the same size, so nothing moves) and,
// where the primary picture is such an item, the item it is derived from is primary instead,
// with the transforms to apply to that item's decoded picture, innermost first.
struct TIdentityRewrite {
  bool Possible = false;
  std::string Refusal;  // why not, as a reason tag, when a primary is derived in a way not applied
  std::vector<std::uint8_t> Bytes;
  std::uint32_t Primary = 0;
  std::vector<THeifTransform> Transforms;
};
TIdentityRewrite RewriteIdentityItems(const std::uint8_t* data, std::size_t size,
                                      const THeifLayout& layout);

// How the coded samples of an item are ranged: the item's own 'colr' nclx box when it has one,
// otherwise the coded stream's own colour description (the AV1 sequence header, from the 'av1C'
// box or else from the start of the item's data; the HEVC sequence parameter set's video signal
// type). Derived items answer for the first item they are
// made from.
struct THeifRange {
  bool Known = false;
  bool Limited = false;
  bool Monochrome = false;
};
THeifRange RangeOfItem(const THeifLayout& layout, std::uint32_t id);

// The alpha item of the primary picture (an 'auxl' reference with an alpha 'auxC'), or 0.
std::uint32_t AlphaItemOf(const THeifLayout& layout, std::uint32_t primary);

// A sample of bits bits coded in limited ("video") range as a full-range 16-bit sample: black
// (16 · 2^(bits-8)) is 0, white (235 · 2^(bits-8)) 65535, rounded to nearest and held within.
std::uint16_t LimitedTo16Bits(std::uint32_t sample, int bits);

}  // namespace penamo::formats
