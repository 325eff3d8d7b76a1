// Deflating a PNG's filtered rows with ISA-L's igzip, a segment at a time: every segment but the
// last ends on a byte boundary (a sync flush) without ending the stream, so segments deflated
// apart, on any thread, join in order into one zlib stream after ZlibHeader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace penamo {

class TPngDeflater {
 public:
  // level: igzip's, 0 to 3. levelBufferBytes: the working memory igzip is given; 0 for what
  // the level wants. Raises EOutOfMemory when that memory cannot be had.
  explicit TPngDeflater(int level, std::size_t levelBufferBytes = 0);

  // Deflates size bytes from raw as the next segment; last ends the stream. The bytes returned
  // stay valid until the next call. Raises EWriteError when igzip refuses (the file would be
  // unreadable) and EOutOfMemory when its output cannot grow.
  std::span<const std::uint8_t> Deflate(const std::uint8_t* raw, std::size_t size, bool last);

 private:
  int FLevel;
  std::vector<std::uint8_t> FLevelBuffer;  // cleared before every segment
  std::vector<std::uint8_t> FOutput;       // kept between segments at its largest size
};

// The igzip level nearest to wanted (0 to 3).
int DeflateLevel(int wanted);

// The two bytes that open the zlib stream: a 32 KiB window and the level class of level.
std::array<std::uint8_t, 2> ZlibHeader(int level);

// The Adler-32 checksum of size bytes from raw, begun afresh; segments' sums are combined in
// order into the stream's.
std::uint32_t SegmentAdler32(const std::uint8_t* raw, std::size_t size);

// The CRC-32 a PNG chunk of type (four letters) and size bytes of data ends with: zlib's crc32
// of the type and the data, taken with ISA-L's carry-less multiplications (several times
// faster than zlib's tables over a picture's compressed pixels).
std::uint32_t PngChunkCrc(const char* type, const std::uint8_t* data, std::size_t size);

}  // namespace penamo
