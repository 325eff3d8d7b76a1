// A photograph's EXIF block and XMP packet: read from JPEG, PNG and WebP files whole and band by
// band alike, written into a PNG output byte for byte before its pixels (the EXIF orientation set
// upright where the reader turned the pixels), read by libpng without a warning, and left out by
// penamo-filter --strip together with the colour profile.
#include <gtest/gtest.h>
#include <png.h>
#include <webp/mux.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "JpegReader.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "PngWriter.h"
#include "ProgramRun.h"
#include "TemporaryFolder.h"
#include "Upright.h"

namespace penamo {
namespace {

using test::TBytes;

class Metadata : public testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return FFolder / name; }

  test::TTemporaryFolder FFolder;
};

TBytes Bytes(const std::string& text) {
  return TBytes(text.begin(), text.end());
}
// A literal's bytes, zeros inside included, without its terminating zero.
template <std::size_t N>
TBytes Literal(const char (&text)[N]) {
  return TBytes(text, text + N - 1);
}

// An EXIF block (TIFF header onwards) with the orientation and, after the directory, some bytes
// no reader interprets, standing for the camera's data: they must travel untouched.
TBytes ExifBlock(int orientation, bool bigEndian) {
  TBytes block = test::ExifWithOrientation(orientation, bigEndian);
  block.erase(block.begin(), block.begin() + 6);  // "Exif\0\0"
  for (int i = 0; i < 300; ++i)
    block.push_back(static_cast<std::uint8_t>(i * 7 + 3));
  return block;
}

// An XMP packet as cameras and editors write it, with text beyond ASCII.
TBytes XmpPacket() {
  return Bytes(
      "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
      "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>\xE5\xA4\x95\xE7\x84\xBC"
      "\xE3\x81\x91</dc:title></rdf:Description></rdf:RDF></x:xmpmeta>\n"
      "<?xpacket end=\"w\"?>");
}

// A colour profile large enough for libpng's reader, whose iCCP chunk must hold more than 91
// bytes: the small profile's header, no tags, and 400 bytes that do not compress.
TBytes Profile() {
  TBytes profile = test::SmallProfile();
  std::uint32_t noise = 7;
  for (int i = 0; i < 400; ++i) {
    noise = noise * 1103515245u + 12345u;
    profile.push_back(static_cast<std::uint8_t>(noise >> 24));
  }
  profile[2] = static_cast<std::uint8_t>(profile.size() >> 8);
  profile[3] = static_cast<std::uint8_t>(profile.size());
  return profile;
}

// A 40 × 30 JPEG carrying exif (an EXIF block, or nothing), the XMP packet and the profile.
TBytes JpegWithMetadata(const TBytes& exif, bool withProfile = true) {
  test::TJpegLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  for (int i = 0; i < 40 * 30; ++i)
    layout.Samples.insert(layout.Samples.end(), {static_cast<std::uint8_t>(i % 40 * 6),
                                                 static_cast<std::uint8_t>(i / 40 * 8), 90});
  if (!exif.empty()) {
    layout.Exif = {'E', 'x', 'i', 'f', 0, 0};
    layout.Exif.insert(layout.Exif.end(), exif.begin(), exif.end());
  }
  if (withProfile) layout.Profile = Profile();
  TBytes jpeg = test::MakeJpeg(layout);
  // The XMP segment right after the start of image.
  TBytes segment = Bytes("http://ns.adobe.com/xap/1.0/");
  segment.push_back(0);
  const TBytes xmp = XmpPacket();
  segment.insert(segment.end(), xmp.begin(), xmp.end());
  const std::size_t length = segment.size() + 2;
  TBytes marker = {0xFF, 0xE1, static_cast<std::uint8_t>(length >> 8),
                   static_cast<std::uint8_t>(length)};
  marker.insert(marker.end(), segment.begin(), segment.end());
  jpeg.insert(jpeg.begin() + 2, marker.begin(), marker.end());
  return jpeg;
}

// A PNG chunk: its type and data.
struct TChunk {
  std::string Type;
  TBytes Data;
};

std::vector<TChunk> ChunksOf(const TBytes& png) {
  std::vector<TChunk> chunks;
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::size_t length = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                               std::size_t{png[at + 2]} << 8 | png[at + 3];
    if (png.size() - at - 12 < length) break;
    const auto data = png.begin() + static_cast<std::ptrdiff_t>(at + 8);
    chunks.push_back({std::string(reinterpret_cast<const char*>(&png[at + 4]), 4),
                      TBytes(data, data + static_cast<std::ptrdiff_t>(length))});
    at += 12 + length;
  }
  return chunks;
}

void PutChunk(TBytes& out, const std::string& type, const TBytes& data) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(data.size() >> shift));
  const std::size_t start = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  const auto crc =
      static_cast<std::uint32_t>(crc32(0, &out[start], static_cast<uInt>(out.size() - start)));
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(crc >> shift));
}

// The PNG again, with extra chunks inserted before the chunk of type before.
TBytes WithChunks(const TBytes& png, const std::vector<TChunk>& extra, const std::string& before) {
  TBytes out(png.begin(), png.begin() + 8);
  for (const TChunk& chunk : ChunksOf(png)) {
    if (chunk.Type == before)
      for (const TChunk& added : extra)
        PutChunk(out, added.Type, added.Data);
    PutChunk(out, chunk.Type, chunk.Data);
  }
  return out;
}

// An iTXt chunk's data holding the XMP packet, uncompressed or deflated.
TBytes XmpChunkData(const TBytes& packet, bool compressed) {
  TBytes data = Bytes("XML:com.adobe.xmp");
  data.insert(data.end(), {0, static_cast<std::uint8_t>(compressed ? 1 : 0), 0, 0, 0});
  if (!compressed) {
    data.insert(data.end(), packet.begin(), packet.end());
    return data;
  }
  uLongf length = compressBound(static_cast<uLong>(packet.size()));
  TBytes deflated(length);
  EXPECT_EQ(
      compress2(deflated.data(), &length, packet.data(), static_cast<uLong>(packet.size()), 9),
      Z_OK);
  data.insert(data.end(), deflated.begin(), deflated.begin() + static_cast<std::ptrdiff_t>(length));
  return data;
}

// A 40 × 30 RGBA PNG written by libpng.
TBytes SmallRgbaPng() {
  test::TPngLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  layout.ColorType = PNG_COLOR_TYPE_RGB_ALPHA;
  for (int i = 0; i < 40 * 30 * 4; ++i)
    layout.Samples.push_back(static_cast<std::uint32_t>(i * 37 % 256));
  return test::MakePng(layout);
}

// The extras of the file at path as the whole read and as the band-by-band read find them; the
// second is the first's when the file is only ever read whole.
struct TBothReads {
  TPictureExtras Whole;
  TPictureExtras Banded;
};

TBothReads ReadBothWays(const std::string& path) {
  TBothReads reads;
  TBitmap picture;
  ReadPicture(path, picture, reads.Whole);
  const std::unique_ptr<TRowSource> rows = OpenPictureRows(path, reads.Banded);
  if (rows == nullptr) reads.Banded = reads.Whole;
  return reads;
}

// What libpng finds in the PNG file at path: its warnings and errors, and the metadata.
struct TLibpngRead {
  std::vector<std::string> Complaints;
  TBytes Exif;
  TBytes Xmp;
  int XmpCompression = -2;
  TBytes Profile;
  int ColorType = -1;
};

void Complain(png_structp png, png_const_charp message) {
  static_cast<TLibpngRead*>(png_get_error_ptr(png))->Complaints.emplace_back(message);
}

[[noreturn]] void Fail(png_structp png, png_const_charp message) {
  Complain(png, message);
  png_longjmp(png, 1);
}

// The whole file through libpng's own reader, every CRC and the Adler-32 checked.
TLibpngRead ReadWithLibpng(const std::string& path) {
  TLibpngRead read;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    read.Complaints.emplace_back("cannot open");
    return read;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, Fail, Complain);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &exifLength, &exif) != 0)
      read.Exif.assign(exif, exif + exifLength);
    png_textp texts = nullptr;
    int count = 0;
    png_get_text(png, info, &texts, &count);
    for (int i = 0; i < count; ++i) {
      if (std::strcmp(texts[i].key, "XML:com.adobe.xmp") != 0) continue;
      const auto* text = reinterpret_cast<const std::uint8_t*>(texts[i].text);
      read.Xmp.assign(text, text + texts[i].itxt_length);
      read.XmpCompression = texts[i].compression;
    }
    png_charp name = nullptr;
    int method = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, info, &name, &method, &profile, &profileLength) != 0)
      read.Profile.assign(profile, profile + profileLength);
    read.ColorType = png_get_color_type(png, info);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return read;
}

// A 40 × 30 grey picture written through the PNG writer with extras.
void SavePng(const std::string& path, const TPictureExtras& extras) {
  const std::vector<std::uint8_t> rows(40 * 30 * 3, 128);
  auto writer = CreatePngWriter(path, 40, 30, extras);
  writer->WriteBand(0, 30, rows.data(), 40 * 3);
  writer->Commit();
}

// The chunk types of a PNG file, in order, each run of IDAT as one.
std::string ChunkOrder(const TBytes& png) {
  std::string order;
  for (const TChunk& chunk : ChunksOf(png)) {
    if (chunk.Type == "IDAT" && order.ends_with("IDAT")) continue;
    order += (order.empty() ? "" : " ") + chunk.Type;
  }
  return order;
}

TEST_F(Metadata, AJpegsExifAndXmpReachThePngByteForByteBeforeThePixels) {
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "big-endian EXIF" : "little-endian EXIF");
    const TBytes exif = ExifBlock(1, bigEndian);
    test::WriteFileBytes(PathOf("in.jpg"), JpegWithMetadata(exif));
    const TBothReads reads = ReadBothWays(PathOf("in.jpg"));
    EXPECT_EQ(reads.Whole.Exif, exif);
    EXPECT_EQ(reads.Whole.Xmp, XmpPacket());
    EXPECT_EQ(reads.Banded.Exif, exif);
    EXPECT_EQ(reads.Banded.Xmp, XmpPacket());

    SavePng(PathOf("out.png"), reads.Banded);
    const TBytes png = test::ReadFileBytes(PathOf("out.png"));
    EXPECT_EQ(ChunkOrder(png), "IHDR iCCP eXIf iTXt IDAT IEND");
    for (const TChunk& chunk : ChunksOf(png)) {
      if (chunk.Type == "eXIf") {
        EXPECT_EQ(chunk.Data, exif);
      } else if (chunk.Type == "iTXt") {
        EXPECT_EQ(chunk.Data, XmpChunkData(XmpPacket(), false));
      }
    }
    const TLibpngRead libpng = ReadWithLibpng(PathOf("out.png"));
    EXPECT_TRUE(libpng.Complaints.empty()) << libpng.Complaints.front();
    EXPECT_EQ(libpng.Exif, exif);
    EXPECT_EQ(libpng.Xmp, XmpPacket());
    EXPECT_EQ(libpng.XmpCompression, PNG_ITXT_COMPRESSION_NONE);
    EXPECT_EQ(libpng.Profile, Profile());

    // And so from that PNG on, through both of its reads.
    const TBothReads again = ReadBothWays(PathOf("out.png"));
    EXPECT_EQ(again.Whole.Exif, exif);
    EXPECT_EQ(again.Whole.Xmp, XmpPacket());
    EXPECT_EQ(again.Banded.Exif, exif);
    EXPECT_EQ(again.Banded.Xmp, XmpPacket());
  }
}

// Pixels turned upright by the EXIF orientation travel with an upright orientation entry; every
// other byte of the block is as stored.
TEST_F(Metadata, TheOrientationIsSetUprightWhereTheReaderTurnedThePixels) {
  for (const bool bigEndian : {false, true}) {
    for (const int orientation : {2, 3, 6, 8}) {
      SCOPED_TRACE("orientation " + std::to_string(orientation) +
                   (bigEndian ? ", big-endian" : ", little-endian"));
      const TBytes stored = ExifBlock(orientation, bigEndian);
      test::WriteFileBytes(PathOf("turned.jpg"), JpegWithMetadata(stored));
      const TBothReads reads = ReadBothWays(PathOf("turned.jpg"));
      const TBytes& exif = reads.Whole.Exif;
      ASSERT_EQ(exif.size(), stored.size());
      EXPECT_EQ(reads.Banded.Exif, exif);
      TBytes segment = {'E', 'x', 'i', 'f', 0, 0};
      segment.insert(segment.end(), exif.begin(), exif.end());
      TBytes storedSegment = {'E', 'x', 'i', 'f', 0, 0};
      storedSegment.insert(storedSegment.end(), stored.begin(), stored.end());
      ASSERT_EQ(ExifOrientation(storedSegment.data(), storedSegment.size()), orientation);
      EXPECT_EQ(ExifOrientation(segment.data(), segment.size()), 1);
      std::size_t differing = 0;
      for (std::size_t i = 0; i < exif.size(); ++i)
        differing += exif[i] != stored[i] ? 1 : 0;
      EXPECT_EQ(differing, 1u) << "only the orientation's low byte may change";
    }
  }
}

TEST_F(Metadata, AnExifBlockWithoutAWellFormedOrientationIsLeftAsItIs) {
  TBytes block = ExifBlock(6, false);
  block[24] = 4;  // the orientation a LONG: no entry to reset
  const TBytes kept = block;
  formats::ResetExifOrientation(block);
  EXPECT_EQ(block, kept);
  for (std::size_t size = 0; size < 30; ++size) {
    TBytes cut(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(size));
    const TBytes before = cut;
    formats::ResetExifOrientation(cut);
    EXPECT_EQ(cut, before) << size;
  }
  TBytes upright = ExifBlock(6, true);
  formats::ResetExifOrientation(upright);
  EXPECT_EQ(upright, ExifBlock(1, true));
}

TEST_F(Metadata, APngsExifAndXmpAreReadAsStoredWhetherTheXmpIsDeflatedOrNot) {
  const TBytes exif = ExifBlock(1, true);
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "deflated XMP" : "plain XMP");
    const TBytes png = WithChunks(
        SmallRgbaPng(), {{"eXIf", exif}, {"iTXt", XmpChunkData(XmpPacket(), compressed)}}, "IDAT");
    test::WriteFileBytes(PathOf("in.png"), png);
    const TBothReads reads = ReadBothWays(PathOf("in.png"));
    EXPECT_EQ(reads.Whole.Exif, exif);
    EXPECT_EQ(reads.Whole.Xmp, XmpPacket());
    EXPECT_EQ(reads.Banded.Exif, exif);
    EXPECT_EQ(reads.Banded.Xmp, XmpPacket());
    ASSERT_EQ(reads.Whole.Alpha.size(), 40u * 30u);
  }
  // Other text chunks, or an iTXt of another keyword, are no XMP.
  const TBytes png = WithChunks(
      SmallRgbaPng(),
      {{"tEXt", Literal("Comment\0XML:com.adobe.xmp")}, {"iTXt", Literal("Title\0\0\0\0\0abc")}},
      "IDAT");
  test::WriteFileBytes(PathOf("text.png"), png);
  const TBothReads reads = ReadBothWays(PathOf("text.png"));
  EXPECT_TRUE(reads.Whole.Xmp.empty());
  EXPECT_TRUE(reads.Banded.Xmp.empty());
}

// WebP keeps EXIF and XMP in chunks of their own; some writers put JPEG's "Exif\0\0" before the
// block, which is not part of it.
TEST_F(Metadata, AWebPsExifAndXmpChunksAreReadAsTheirBlocks) {
  const TBytes exif = ExifBlock(1, false);
  std::vector<std::uint8_t> bgra;
  for (int i = 0; i < 40 * 30; ++i)
    bgra.insert(bgra.end(), {static_cast<std::uint8_t>(i), 90, 30, 255});
  for (const bool prefixed : {false, true}) {
    SCOPED_TRACE(prefixed ? "with Exif\\0\\0" : "block alone");
    const TBytes plain = test::MakeWebP(40, 30, bgra, true, false, Profile());
    TBytes exifChunk = prefixed ? TBytes{'E', 'x', 'i', 'f', 0, 0} : TBytes{};
    exifChunk.insert(exifChunk.end(), exif.begin(), exif.end());
    const TBytes xmp = XmpPacket();
    const WebPData image{plain.data(), plain.size()};
    WebPMux* mux = WebPMuxCreate(&image, 1);
    ASSERT_NE(mux, nullptr);
    const WebPData exifData{exifChunk.data(), exifChunk.size()};
    const WebPData xmpData{xmp.data(), xmp.size()};
    ASSERT_EQ(WebPMuxSetChunk(mux, "EXIF", &exifData, 1), WEBP_MUX_OK);
    ASSERT_EQ(WebPMuxSetChunk(mux, "XMP ", &xmpData, 1), WEBP_MUX_OK);
    WebPData assembled{};
    ASSERT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
    test::WriteFileBytes(PathOf("in.webp"),
                         TBytes(assembled.bytes, assembled.bytes + assembled.size));
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);

    const TBothReads reads = ReadBothWays(PathOf("in.webp"));
    EXPECT_EQ(reads.Whole.Exif, exif);
    EXPECT_EQ(reads.Whole.Xmp, xmp);
    EXPECT_EQ(reads.Whole.ColorProfile, Profile());
    SavePng(PathOf("out.png"), reads.Whole);
    const TLibpngRead libpng = ReadWithLibpng(PathOf("out.png"));
    EXPECT_TRUE(libpng.Complaints.empty()) << libpng.Complaints.front();
    EXPECT_EQ(libpng.Exif, exif);
    EXPECT_EQ(libpng.Xmp, xmp);
  }
}

TEST_F(Metadata, APictureWithoutMetadataGetsNoMetadataChunks) {
  test::WriteFileBytes(PathOf("in.png"), SmallRgbaPng());
  const TBothReads reads = ReadBothWays(PathOf("in.png"));
  EXPECT_TRUE(reads.Whole.Exif.empty());
  EXPECT_TRUE(reads.Whole.Xmp.empty());
  SavePng(PathOf("out.png"), reads.Whole);
  EXPECT_EQ(ChunkOrder(test::ReadFileBytes(PathOf("out.png"))), "IHDR IDAT IEND");
}

// Whatever a reader handed on, the PNG written must open again, here and in libpng, with what it
// holds: a block that is no EXIF (no TIFF header) is left out rather than written where readers
// complain of it, and an XMP packet ends where a PNG text must, at a zero byte.
TEST_F(Metadata, MetadataThatNoPngCouldHoldNeverSpoilsTheOutput) {
  const struct {
    const char* Name;
    TBytes Exif;
    TBytes Xmp;
    bool ExifKept;
    TBytes XmpKept;
  } cases[] = {
      {"no TIFF header", Bytes("Exif data of another kind"), XmpPacket(), false, XmpPacket()},
      {"a header cut short", Literal("MM\0*"), XmpPacket(), false, XmpPacket()},
      {"a header alone", Literal("MM\0*\0\0\0\x08"), XmpPacket(), true, XmpPacket()},
      {"XMP with a zero byte", ExifBlock(1, false), Literal("<x:xmpmeta/>\0\0"), true,
       Literal("<x:xmpmeta/>")},
      {"XMP of a zero byte", ExifBlock(1, true), Literal("\0<x:xmpmeta/>"), true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TPictureExtras extras;
    extras.Exif = c.Exif;
    extras.Xmp = c.Xmp;
    SavePng(PathOf("out.png"), extras);
    const TLibpngRead libpng = ReadWithLibpng(PathOf("out.png"));
    EXPECT_TRUE(libpng.Complaints.empty()) << libpng.Complaints.front();
    TBothReads reads;
    ASSERT_NO_THROW(reads = ReadBothWays(PathOf("out.png")));
    EXPECT_EQ(reads.Whole.Exif, c.ExifKept ? c.Exif : TBytes());
    EXPECT_EQ(reads.Banded.Exif, reads.Whole.Exif);
    EXPECT_EQ(reads.Whole.Xmp, c.XmpKept);
    EXPECT_EQ(reads.Banded.Xmp, reads.Whole.Xmp);
  }
}

TEST_F(Metadata, PenamoFilterCarriesTheMetadataAndStripLeavesItAndTheProfileBehind) {
  test::WriteFileBytes(PathOf("in.jpg"), JpegWithMetadata(ExifBlock(6, false)));
  ASSERT_EQ(test::RunFilter({"pattern16", PathOf("in.jpg"), PathOf("kept.png")}, FFolder).Exit, 0);
  const TLibpngRead kept = ReadWithLibpng(PathOf("kept.png"));
  EXPECT_TRUE(kept.Complaints.empty()) << kept.Complaints.front();
  EXPECT_EQ(kept.Exif, ExifBlock(1, false)) << "upright, as the pixels now are";
  EXPECT_EQ(kept.Xmp, XmpPacket());
  EXPECT_EQ(kept.Profile, Profile());

  // From a PNG with alpha too, which stays: it is part of the picture.
  test::WriteFileBytes(PathOf("in.png"), WithChunks(SmallRgbaPng(),
                                                    {{"eXIf", ExifBlock(1, true)},
                                                     {"iTXt", XmpChunkData(XmpPacket(), true)}},
                                                    "IDAT"));
  for (const std::string& input : {PathOf("in.jpg"), PathOf("in.png")}) {
    SCOPED_TRACE(input);
    ASSERT_EQ(
        test::RunFilter({"--strip", "diffusion16", input, PathOf("stripped.png")}, FFolder).Exit,
        0);
    const TBytes png = test::ReadFileBytes(PathOf("stripped.png"));
    EXPECT_EQ(ChunkOrder(png), "IHDR IDAT IEND");
    const TLibpngRead stripped = ReadWithLibpng(PathOf("stripped.png"));
    EXPECT_TRUE(stripped.Complaints.empty()) << stripped.Complaints.front();
    EXPECT_EQ(stripped.ColorType,
              input.ends_with(".png") ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
  }
}

}  // namespace
}  // namespace penamo
