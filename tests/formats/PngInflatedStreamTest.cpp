// The PNG file given to libpng with its pixels already inflated: every other chunk as the file
// holds it, the pixels exactly the file's stream inflated, and any damage, cut or odd stream a
// failed read (never a file given with other pixels).

#include "PngInflatedStream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "PictureFile.h"
#include "PictureMakers.h"
#include "PngReader.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::TBytes;

struct TChunk {
  std::string Type;
  TBytes Data;
};

std::uint32_t BigEndian(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

void AppendBigEndian(TBytes& bytes, std::uint32_t value) {
  for (const int shift : {24, 16, 8, 0})
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The chunks of a file, trusting its lengths; for files these tests made.
std::vector<TChunk> ChunksOf(const TBytes& file) {
  std::vector<TChunk> chunks;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::uint32_t length = BigEndian(file.data() + at);
    TChunk chunk;
    chunk.Type.assign(reinterpret_cast<const char*>(file.data() + at + 4), 4);
    chunk.Data.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                      file.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
    chunks.push_back(std::move(chunk));
    at += 12 + length;
  }
  return chunks;
}

void AppendChunk(TBytes& file, const std::string& type, const TBytes& data) {
  AppendBigEndian(file, static_cast<std::uint32_t>(data.size()));
  file.insert(file.end(), type.begin(), type.end());
  file.insert(file.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  AppendBigEndian(file, static_cast<std::uint32_t>(crc));
}

TBytes FileOf(const std::vector<TChunk>& chunks) {
  TBytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const TChunk& chunk : chunks)
    AppendChunk(file, chunk.Type, chunk.Data);
  return file;
}

// The zlib stream of a file's IDAT chunks, joined.
TBytes StreamOf(const std::vector<TChunk>& chunks) {
  TBytes stream;
  for (const TChunk& chunk : chunks)
    if (chunk.Type == "IDAT") stream.insert(stream.end(), chunk.Data.begin(), chunk.Data.end());
  return stream;
}

// The file with its stream cut into IDAT chunks of the given sizes in turn (the last size
// repeating), and a text chunk before and after the pixels.
TBytes Rechunked(const TBytes& file, const std::vector<std::size_t>& sizes, const TBytes& stream) {
  std::vector<TChunk> chunks;
  bool pixelsPut = false;
  for (const TChunk& chunk : ChunksOf(file)) {
    if (chunk.Type != "IDAT") {
      chunks.push_back(chunk);
      continue;
    }
    if (pixelsPut) continue;
    pixelsPut = true;
    chunks.push_back({"tEXt", {'a', 0, 'b'}});
    std::size_t at = 0, turn = 0;
    do {
      const std::size_t size =
          std::min(sizes[std::min(turn++, sizes.size() - 1)], stream.size() - at);
      chunks.push_back({"IDAT", TBytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                       stream.begin() + static_cast<std::ptrdiff_t>(at + size))});
      at += size;
    } while (at < stream.size());
  }
  chunks.insert(chunks.end() - 1, TChunk{"tEXt", {'c', 0, 'd'}});
  return FileOf(chunks);
}

TInflatedPngStream StreamOver(const TBytes& file) {
  return TInflatedPngStream([&file](std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    if (offset >= file.size()) return std::int64_t{0};
    // Short reads, as a file may give, in pieces that cut chunk heads and checksums.
    const std::size_t got = std::min<std::size_t>({size, file.size() - offset, 4099});
    std::memcpy(data, file.data() + offset, got);
    return static_cast<std::int64_t>(got);
  });
}

// What the stream gives of file, read a byte at a time until a read fails. Read again in pieces
// of varying sizes, it gives the same bytes, and fails only at a piece that would go past them.
TBytes Given(const TBytes& file, bool* inflating = nullptr) {
  TBytes given;
  {
    TInflatedPngStream stream = StreamOver(file);
    for (std::uint8_t byte = 0; stream.Read(&byte, 1);)
      given.push_back(byte);
    if (inflating != nullptr) *inflating = stream.Inflating();
  }
  TInflatedPngStream stream = StreamOver(file);
  std::mt19937 random(static_cast<unsigned>(file.size()));
  std::vector<std::uint8_t> piece(70000);
  for (std::size_t at = 0;;) {
    const std::size_t size = std::uniform_int_distribution<std::size_t>(1, piece.size())(random);
    if (!stream.Read(piece.data(), size)) {
      EXPECT_GT(at + size, given.size());
      break;
    }
    EXPECT_LE(at + size, given.size());
    if (at + size > given.size()) break;
    EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(size),
                           given.begin() + static_cast<std::ptrdiff_t>(at)));
    at += size;
  }
  return given;
}

// Whether given ends as a whole file does: with the IEND chunk, whole.
bool EndsWithItsEnd(const TBytes& given) {
  static const TBytes kEnd = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return given.size() >= kEnd.size() && std::equal(kEnd.begin(), kEnd.end(), given.end() - 12);
}

// zlib's inflation of stream with every check, the whole of it; fails the test otherwise.
TBytes Inflated(const TBytes& stream) {
  z_stream z{};
  EXPECT_EQ(inflateInit(&z), Z_OK);
  TBytes out(std::size_t{1} << 16);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  int result = Z_OK;
  std::size_t made = 0;
  while (result == Z_OK) {
    if (made == out.size()) out.resize(out.size() * 2);
    z.next_out = out.data() + made;
    z.avail_out = static_cast<uInt>(out.size() - made);
    result = inflate(&z, Z_NO_FLUSH);
    made = out.size() - z.avail_out;
  }
  EXPECT_EQ(result, Z_STREAM_END) << (z.msg != nullptr ? z.msg : "");
  EXPECT_EQ(z.avail_in, 0u);
  inflateEnd(&z);
  out.resize(made);
  return out;
}

TBytes DeepRgbPng(int width, int height, unsigned seed) {
  test::TPngLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.ColorType = 2;
  layout.BitDepth = 16;
  std::mt19937 random(seed);
  for (int i = 0; i < width * height * 3; ++i)
    layout.Samples.push_back(i % 5 == 0 ? random() & 0xFFFF : (i * 37) & 0xFFFF);
  return test::MakePng(layout);
}

// The same pixels compressed by zlib with the given window and level, with the header's
// window named as given.
TBytes Deflated(const TBytes& raw, int windowBits, int level) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  TBytes out(deflateBound(&z, static_cast<uLong>(raw.size())));
  z.next_in = const_cast<Bytef*>(raw.data());
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The chunks in order, each but IDAT with its data, a run of IDAT chunks as one.
std::vector<std::string> Outline(const std::vector<TChunk>& chunks) {
  std::vector<std::string> outline;
  for (const TChunk& chunk : chunks) {
    if (chunk.Type == "IDAT" && !outline.empty() && outline.back() == "IDAT") continue;
    outline.push_back(chunk.Type == "IDAT"
                          ? chunk.Type
                          : chunk.Type + ":" + std::string(chunk.Data.begin(), chunk.Data.end()));
  }
  return outline;
}

// Given file, the stream gives every chunk but the pixels' as the file holds it, in order, and
// pixels that zlib inflates with every check to the file's own, to the file's end.
void ExpectGivenAsTheFileMeansIt(const TBytes& file, const std::string& what) {
  SCOPED_TRACE(what);
  bool inflating = false;
  const TBytes given = Given(file, &inflating);
  // Inflated where the first IDAT chunk opens a stream with a 32 KiB window.
  const std::vector<TChunk> chunks = ChunksOf(file);
  const auto first =
      std::find_if(chunks.begin(), chunks.end(), [](const TChunk& c) { return c.Type == "IDAT"; });
  ASSERT_NE(first, chunks.end());
  EXPECT_EQ(inflating, first->Data.size() >= 2 && first->Data[0] == 0x78);
  ASSERT_TRUE(EndsWithItsEnd(given));
  ASSERT_TRUE(std::equal(given.begin(), given.begin() + 8, file.begin()));
  const std::vector<TChunk> original = ChunksOf(file);
  const std::vector<TChunk> made = ChunksOf(given);
  EXPECT_EQ(Outline(made), Outline(original));
  for (const TChunk& chunk : made) {
    if (chunk.Type == "IDAT") {
      EXPECT_LE(chunk.Data.size(), 2u + 4 * 65540 + 9);
    }
  }
  EXPECT_EQ(Inflated(StreamOf(made)), Inflated(StreamOf(original)));
}

TEST(InflatedPngStream, ThePixelsAreTheFilesInflatedAndEveryOtherChunkIsAsTheFileHoldsIt) {
  for (const auto& [width, height] : {std::pair{1, 1}, std::pair{23, 17}, std::pair{300, 200}}) {
    const TBytes file = DeepRgbPng(width, height, static_cast<unsigned>(width));
    const TBytes stream = StreamOf(ChunksOf(file));
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    ExpectGivenAsTheFileMeansIt(file, size + " as libpng wrote it");
    // Chunks of one byte, empty ones, sizes that cut the stream's header and the file's reads.
    ExpectGivenAsTheFileMeansIt(Rechunked(file, {2, 1}, stream), size + " in 1-byte chunks");
    ExpectGivenAsTheFileMeansIt(Rechunked(file, {1}, stream), size + " opening with 1 byte");
    ExpectGivenAsTheFileMeansIt(Rechunked(file, {2, 0, 3, 0, 4097, 1, 70000}, stream),
                                size + " in odd chunks");
    ExpectGivenAsTheFileMeansIt(Rechunked(file, {stream.size()}, stream), size + " in one chunk");
    // A stream of stored blocks, and one of a single fixed-code block, as other encoders write.
    const TBytes raw = Inflated(stream);
    for (const int level : {0, 1, 9}) {
      ExpectGivenAsTheFileMeansIt(Rechunked(file, {8192}, Deflated(raw, 15, level)),
                                  size + " at zlib level " + std::to_string(level));
    }
  }
}

TEST(InflatedPngStream, AnyDamageCutOrStreamNotEndingWithItsChunksFailsTheRead) {
  const TBytes file = DeepRgbPng(120, 90, 3);
  const TBytes stream = StreamOf(ChunksOf(file));
  ASSERT_GT(stream.size(), 2000u);
  const auto expectFails = [](const TBytes& bytes, const std::string& what) {
    EXPECT_FALSE(EndsWithItsEnd(Given(bytes))) << what;
  };
  const TBytes chunked = Rechunked(file, {1000}, stream);
  ExpectGivenAsTheFileMeansIt(chunked, "the file the faults are made in");
  // A byte of any chunk changed: its checksum fails (the text chunks' are libpng's to check).
  const std::vector<TChunk> chunks = ChunksOf(chunked);
  for (std::size_t at = 8; at < chunked.size(); at += 1 + chunked.size() / 97) {
    TBytes damaged = chunked;
    damaged[at] ^= 0x10;
    // Where the change lies in a text chunk the stream gives it as is: libpng checks it.
    std::size_t offset = 8;
    bool inText = false;
    for (const TChunk& chunk : chunks) {
      const std::size_t end = offset + 12 + chunk.Data.size();
      if (at >= offset && at < end) inText = chunk.Type == "tEXt";
      offset = end;
    }
    if (!inText) expectFails(damaged, "a byte changed at " + std::to_string(at));
  }
  // Cut anywhere.
  for (std::size_t cut = 0; cut + 1 < chunked.size(); cut += 1 + chunked.size() / 89)
    expectFails(TBytes(chunked.begin(), chunked.begin() + static_cast<std::ptrdiff_t>(cut)),
                "cut at " + std::to_string(cut));
  // Damaged pixels under checksums that hold: in the middle, and in the Adler-32 checksum.
  for (const std::size_t at : {stream.size() / 2, stream.size() - 1, stream.size() - 4}) {
    TBytes damaged = stream;
    damaged[at] ^= 0x21;
    expectFails(Rechunked(file, {1000}, damaged), "stream byte " + std::to_string(at));
  }
  // The stream cut, or followed by more data in its chunk or in another IDAT chunk.
  expectFails(Rechunked(file, {1000}, TBytes(stream.begin(), stream.end() - 10)), "stream cut");
  TBytes longer = stream;
  longer.push_back(0);
  expectFails(Rechunked(file, {1000}, longer), "a byte after the stream");
  std::vector<TChunk> extra = ChunksOf(Rechunked(file, {1000}, stream));
  const auto lastPixels =
      std::find_if(extra.rbegin(), extra.rend(), [](const TChunk& c) { return c.Type == "IDAT"; });
  extra.insert(lastPixels.base(), TChunk{"IDAT", {0}});
  expectFails(FileOf(extra), "another IDAT chunk after the stream");
}

TEST(InflatedPngStream, AStreamWithASmallWindowOrADictionaryIsGivenAsTheFileHoldsIt) {
  const TBytes file = DeepRgbPng(60, 40, 9);
  const TBytes raw = Inflated(StreamOf(ChunksOf(file)));
  TBytes small = Rechunked(file, {777}, Deflated(raw, 9, 6));
  ASSERT_NE(StreamOf(ChunksOf(small))[0], 0x78);  // a window of less than 32 KiB
  bool inflating = true;
  EXPECT_EQ(Given(small, &inflating), small);
  EXPECT_FALSE(inflating);
  // A preset dictionary named (zlib would ask for one, libpng has none to give).
  TBytes dictionary = Rechunked(file, {777}, {0x78, 0xBB, 0, 0, 0, 1, 3, 0});
  EXPECT_EQ(Given(dictionary, &inflating), dictionary);
  EXPECT_FALSE(inflating);
  // Given as held, still checked: a changed byte in its pixels fails.
  small[small.size() / 2] ^= 1;
  EXPECT_FALSE(EndsWithItsEnd(Given(small)));
}

// ISA-L reads a stream whose literal/length code leaves codes unused, where zlib refuses it; the
// stream is given only when its Adler-32 checksum holds, that is with the pixels its encoder
// meant. The stream: a zlib header, one dynamic block whose code lengths are each sent in four
// bits, the seven bytes of a 1 x 1 16-bit RGB row and the block's end each coded in four bits
// (eight of the sixteen four-bit codes), one distance code, and the row's Adler-32.
TEST(InflatedPngStream, AStreamWithUnusedCodesIsGivenOnlyWhenItsChecksumHolds) {
  const TBytes raw = {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  TBytes stream = {
      0x78, 0x01, 0x05, 0xE0, 0x01, 0x90, 0x24, 0x49, 0x92, 0x24, 0x49, 0x0A, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x08, 0x02, 0x12, 0x8B, 0x9A, 0x03, 0x06, 0x27, 0x02, 0x6B};
  z_stream z{};
  ASSERT_EQ(inflateInit(&z), Z_OK);
  TBytes out(64);
  z.next_in = stream.data();
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_DATA_ERROR);
  inflateEnd(&z);
  const TBytes header = {0, 0, 0, 1, 0, 0, 0, 1, 16, 2, 0, 0, 0};
  bool inflating = false;
  const TBytes given =
      Given(FileOf({{"IHDR", header}, {"IDAT", stream}, {"IEND", {}}}), &inflating);
  EXPECT_TRUE(inflating);
  ASSERT_TRUE(EndsWithItsEnd(given));
  EXPECT_EQ(Inflated(StreamOf(ChunksOf(given))), raw);
  stream[stream.size() - 1] ^= 1;
  EXPECT_FALSE(EndsWithItsEnd(Given(FileOf({{"IHDR", header}, {"IDAT", stream}, {"IEND", {}}}))));
}

// Through the band reader, which gives libpng this stream: a 16-bit RGB or RGBA file whose
// pixels are cut into odd chunks, or stored, gives band by band the rows of the whole read
// (libspng's, through zlib), and the same alpha.
TEST(InflatedPngStream, BandByBandTheRowsOfOddlyChunkedFilesAreThoseOfTheWholeRead) {
  const test::TTemporaryFolder folder;
  const std::string path = folder / "odd.png";
  for (const int type : {2, 6}) {
    test::TPngLayout layout;
    layout.Width = 97;
    layout.Height = 61;
    layout.ColorType = type;
    layout.BitDepth = 16;
    std::mt19937 random(static_cast<unsigned>(type));
    for (int i = 0; i < layout.Width * layout.Height * (type == 2 ? 3 : 4); ++i)
      layout.Samples.push_back(i % 3 == 0 ? random() & 0xFFFF : (i * 91) & 0xFFFF);
    const TBytes file = test::MakePng(layout);
    const TBytes stream = StreamOf(ChunksOf(file));
    const TBytes raw = Inflated(stream);
    for (const TBytes& variant :
         {Rechunked(file, {1, 0, 5}, stream), Rechunked(file, {3000}, Deflated(raw, 15, 0)),
          Rechunked(file, {65536}, Deflated(raw, 15, 9))}) {
      TDeepPicture whole;
      TPictureExtras wholeExtras;
      ReadPngDeep(variant.data(), variant.size(), whole, wholeExtras);
      test::WriteFileBytes(path, variant);
      TPictureExtras extras;
      const std::unique_ptr<TDeepRowSource> rows = OpenPngDeepRows(path, extras, false);
      ASSERT_NE(rows, nullptr);
      for (std::int32_t first = 0; first < layout.Height; first += 8) {
        const std::int32_t count = std::min(8, layout.Height - first);
        rows->ReadBand(first, count);
        for (std::int32_t y = first; y < first + count; ++y)
          ASSERT_EQ(std::memcmp(rows->Row(y), whole.Row(y), 6 * std::size_t{97}), 0)
              << "type " << type << ", row " << y;
      }
      EXPECT_EQ(extras.Alpha, wholeExtras.Alpha);
      EXPECT_EQ(extras.HasAlpha(), type == 6);
    }
  }
}

}  // namespace
}  // namespace penamo
