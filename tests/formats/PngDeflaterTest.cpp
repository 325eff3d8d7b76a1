// Segments deflated apart join into one zlib stream that inflates to the bytes given, at every
// level; a deflate that fails is a write error, never a file that cannot be read.
#include "PngDeflater.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <zlib.h>

#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "ExpectRefusal.h"

namespace penamo {
namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Inflate(const TBytes& stream, std::size_t expected) {
  TBytes out(expected + 1);  // one more: a stream that holds too much is seen
  uLongf length = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &length, stream.data(), static_cast<uLong>(stream.size())) != Z_OK)
    return {};
  out.resize(length);
  return out;
}

TEST(PngDeflater, SegmentsJoinIntoOneStreamThatInflatesToTheirBytesAtEveryLevel) {
  // Half compressible, half noise, in segments of uneven length, one of them empty.
  TBytes raw(300000);
  std::mt19937 random(11);
  for (std::size_t i = 0; i < raw.size(); ++i)
    raw[i] = i < raw.size() / 2 ? static_cast<std::uint8_t>(i / 64)
                                : static_cast<std::uint8_t>(random());
  const std::size_t cuts[] = {0, 1000, 1000, 150001, 300000};
  for (int wanted = -1; wanted <= 4; ++wanted) {
    const int level = DeflateLevel(wanted);
    SCOPED_TRACE("level " + std::to_string(wanted) + " taken as " + std::to_string(level));
    EXPECT_GE(level, 0);
    EXPECT_LE(level, 3);
    TPngDeflater deflater(level);
    const std::array<std::uint8_t, 2> header = ZlibHeader(level);
    TBytes stream(header.begin(), header.end());
    uLong adler = adler32(0, nullptr, 0);
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
      const std::uint8_t* part = raw.data() + cuts[i];
      const std::size_t size = cuts[i + 1] - cuts[i];
      const auto bytes = deflater.Deflate(part, size, i + 2 == std::size(cuts));
      stream.insert(stream.end(), bytes.begin(), bytes.end());
      adler = adler32_combine(adler, SegmentAdler32(part, size), static_cast<z_off_t>(size));
    }
    EXPECT_EQ(adler, adler32(adler32(0, nullptr, 0), raw.data(), static_cast<uInt>(raw.size())));
    for (int shift = 24; shift >= 0; shift -= 8)
      stream.push_back(static_cast<std::uint8_t>(adler >> shift));
    EXPECT_EQ(Inflate(stream, raw.size()), raw);
  }
}

TEST(PngDeflater, AFailedDeflateRaisesAWriteErrorWithItsReason) {
  // Working memory too small for the level: igzip refuses the segment.
  TPngDeflater deflater(2, 16);
  const TBytes raw(1000, 7);
  // A segment that was not deflated is never taken as done.
  test::ExpectRefusal<EWriteError>([&] { deflater.Deflate(raw.data(), raw.size(), true); },
                                   "png-write-deflate", "ストリームへの書き込みエラー");
}

// A worker's deflater serves whichever segments come its way: a segment's bytes must not depend
// on what the deflater deflated before, or the file would change with the threads' timing.
// Segments of every size class (empty, a byte, the ten filtered rows of a two-pixel-wide bitmap
// that a fuzzing run once saw deflated two ways, sizes around igzip's 64 KiB stored block, a
// whole 1 MiB segment) after the others in both orders, each against a fresh deflater's bytes.
TEST(PngDeflater, ASegmentDeflatesTheSameWhateverTheDeflaterDidBefore) {
  std::mt19937 random(23);
  const auto segment = [&](std::size_t size, int kind) {
    TBytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
      bytes[i] = kind == 0   ? static_cast<std::uint8_t>(random())
                 : kind == 1 ? static_cast<std::uint8_t>(i / 7 + random() % 3)
                 : kind == 2 ? static_cast<std::uint8_t>((i % 97) * 3)
                             : static_cast<std::uint8_t>(i % 7 == 0 ? 2 : 0);  // "up" rows of 0
    return bytes;
  };
  const std::vector<TBytes> segments = {segment(1 << 20, 1), segment(70000, 0),   segment(333, 2),
                                        segment(70, 3),      segment(1 << 20, 2), segment(5, 1),
                                        segment(0, 0),       segment(1, 0),       segment(65535, 0),
                                        segment(65537, 1),   segment(200000, 1)};
  for (int level = DeflateLevel(0); level <= DeflateLevel(9); ++level) {
    for (const bool last : {false, true}) {
      for (const bool reversed : {false, true}) {
        for (std::size_t i = 0; i < segments.size(); ++i) {
          TPngDeflater fresh(level);
          const std::span<const std::uint8_t> alone =
              fresh.Deflate(segments[i].data(), segments[i].size(), last);
          const TBytes expected(alone.begin(), alone.end());
          TPngDeflater used(level);
          for (std::size_t k = 0; k < segments.size(); ++k) {
            const std::size_t j = reversed ? segments.size() - 1 - k : k;
            if (j != i) used.Deflate(segments[j].data(), segments[j].size(), j % 2 == 0);
          }
          const std::span<const std::uint8_t> after =
              used.Deflate(segments[i].data(), segments[i].size(), last);
          EXPECT_TRUE(TBytes(after.begin(), after.end()) == expected)
              << "level " << level << ", segment " << i << (last ? ", last" : "")
              << (reversed ? ", others in reverse order" : "");
        }
      }
    }
  }
}

// Where the deflater runs must not matter either: igzip's assembly once took a hash from the
// address of its stream structure, on the worker's stack, into the matches of a segment's first
// bytes, so that a segment deflated differently from one run or thread to the next. Hundreds of
// small segments (where the first bytes' matches weigh most), each deflated on threads whose
// stacks lie at widely different fixed addresses, against the first thread's bytes.
TEST(PngDeflater, ASegmentDeflatesTheSameWhereverItsStackLies) {
  std::mt19937 random(5);
  std::vector<TBytes> segments;
  for (int i = 0; i < 400; ++i) {
    TBytes bytes(random() % 4 == 0 ? random() % 100 : random() % 3000);
    const auto kind = random() % 3;
    for (std::size_t j = 0; j < bytes.size(); ++j)
      bytes[j] = kind == 0   ? static_cast<std::uint8_t>(j % 7 == 0 ? 2 : 0)
                 : kind == 1 ? static_cast<std::uint8_t>(j / 5 + random() % 2)
                             : static_cast<std::uint8_t>(random() % 3);
    segments.push_back(std::move(bytes));
  }
  struct TRun {
    const std::vector<TBytes>* Segments;
    std::vector<TBytes> Deflated;
  };
  const auto work = [](void* data) -> void* {
    auto* run = static_cast<TRun*>(data);
    TPngDeflater deflater(2);
    for (std::size_t i = 0; i < run->Segments->size(); ++i) {
      const TBytes& segment = (*run->Segments)[i];
      const auto bytes = deflater.Deflate(segment.data(), segment.size(), i % 2 == 0);
      run->Deflated.emplace_back(bytes.begin(), bytes.end());
    }
    return nullptr;
  };
  constexpr std::size_t kStackBytes = std::size_t{1} << 20;
  std::vector<TRun> runs;
  // Addresses under 2^39 and just under 2^47: where a sanitizer keeps its own memory, the ones
  // it leaves to the program serve.
  for (const std::uintptr_t at :
       {std::uintptr_t{0x1000000000}, std::uintptr_t{0x2000000000}, std::uintptr_t{0x1000120000},
        std::uintptr_t{0x3000000000}, std::uintptr_t{0x1230000000}, std::uintptr_t{0x4560010000},
        std::uintptr_t{0x5a5a5a0000}, std::uintptr_t{0x7123450000}, std::uintptr_t{0x0f0f0f0000},
        std::uintptr_t{0x6000070000}, std::uintptr_t{0x7e9012340000},
        std::uintptr_t{0x7ea0abc00000}, std::uintptr_t{0x7eb5a5a50000},
        std::uintptr_t{0x7ec000010000}, std::uintptr_t{0x7ed123450000},
        std::uintptr_t{0x7ee0f0f00000}}) {
    void* stack = ::mmap(reinterpret_cast<void*>(at), kStackBytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (stack == MAP_FAILED) continue;  // taken in this process: another address serves
    if (stack != reinterpret_cast<void*>(at)) {
      ::munmap(stack, kStackBytes);
      continue;
    }
    TRun run{&segments, {}};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstack(&attributes, stack, kStackBytes), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, work, &run), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    ::munmap(stack, kStackBytes);
    runs.push_back(std::move(run));
  }
  if (runs.size() < 4) GTEST_SKIP() << "fewer than four of the stack addresses were free";
  int differing = 0;
  for (std::size_t r = 1; r < runs.size(); ++r)
    for (std::size_t i = 0; i < segments.size(); ++i)
      if (runs[r].Deflated[i] != runs[0].Deflated[i]) ++differing;
  EXPECT_EQ(differing, 0) << "segments deflated differently on another stack, of "
                          << (runs.size() - 1) * segments.size();
  // And they are deflate: every run's segments join into the stream of the segments' bytes.
  for (std::size_t i = 0; i < segments.size(); i += 2) {
    TBytes stream = {0x78, 0x5e};
    stream.insert(stream.end(), runs[0].Deflated[i].begin(), runs[0].Deflated[i].end());
    const uLong adler =
        adler32(adler32(0, nullptr, 0), segments[i].data(), static_cast<uInt>(segments[i].size()));
    for (int shift = 24; shift >= 0; shift -= 8)
      stream.push_back(static_cast<std::uint8_t>(adler >> shift));
    EXPECT_EQ(Inflate(stream, segments[i].size()), segments[i]) << "segment " << i;
  }
}

// The chunk CRC is zlib's crc32 over the type and the data, at every length the vector code
// splits differently (below and around its 16-, 64- and 256-byte blocks) and from every
// alignment, and over a whole IDAT of a picture's size.
TEST(PngDeflater, ChunkCrcIsZlibsOverTheTypeAndTheDataAtEveryLengthAndAlignment) {
  TBytes data((1u << 20) + 64);
  std::mt19937 random(5);
  for (std::uint8_t& byte : data)
    byte = static_cast<std::uint8_t>(random());
  const auto zlib = [&](const char* type, const std::uint8_t* bytes, std::size_t size) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    return static_cast<std::uint32_t>(crc32_z(crc, bytes, size));
  };
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t size = 0; size <= 600; ++size) {
      ASSERT_EQ(PngChunkCrc("IDAT", data.data() + offset, size),
                zlib("IDAT", data.data() + offset, size))
          << "offset " << offset << ", size " << size;
    }
  }
  EXPECT_EQ(PngChunkCrc("IDAT", data.data() + 3, data.size() - 3),
            zlib("IDAT", data.data() + 3, data.size() - 3));
  // The type counts: IEND with no data is the CRC every PNG ends with.
  EXPECT_EQ(PngChunkCrc("IEND", nullptr, 0), 0xAE426082u);
  EXPECT_NE(PngChunkCrc("IDAT", data.data(), 100), PngChunkCrc("IDAt", data.data(), 100));
}

}  // namespace
}  // namespace penamo
