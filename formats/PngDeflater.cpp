#include "PngDeflater.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>

#include "Exceptions.h"
#include "Machine.h"

namespace penamo {

namespace {

// The working memory ISA-L wants for a level: larger buffers for the levels that search more.
std::size_t LevelBufferSize(int level) {
  switch (level) {
    case 0:
      return ISAL_DEF_LVL0_DEFAULT;
    case 1:
      return ISAL_DEF_LVL1_DEFAULT;
    case 2:
      return ISAL_DEF_LVL2_DEFAULT;
    default:
      return ISAL_DEF_LVL3_DEFAULT;
  }
}

// Bytes at a segment's start deflated on their own (see Deflate): no more than the look-ahead
// igzip keeps when flushing, so that its match finder does not start on them.
constexpr std::size_t kLeadBytes = 16;

}  // namespace

TPngDeflater::TPngDeflater(int level, std::size_t levelBufferBytes) : FLevel(level) {
  const std::size_t bytes = levelBufferBytes > 0 ? levelBufferBytes : LevelBufferSize(level);
  WithMemory("png-write-deflate", [&] { FLevelBuffer.resize(bytes); });
}

std::span<const std::uint8_t> TPngDeflater::Deflate(const std::uint8_t* raw, std::size_t size,
                                                    bool last) {
  // Every segment starts from the same state: igzip's working memory as the constructor left it
  // and an output room that depends on this segment alone, never on the larger ones this
  // deflater served before.
  std::fill(FLevelBuffer.begin(), FLevelBuffer.end(), std::uint8_t{0});
  isal_zstream stream;
  isal_deflate_init(&stream);
  stream.level = static_cast<std::uint32_t>(FLevel);
  stream.level_buf = FLevelBuffer.data();
  stream.level_buf_size = static_cast<std::uint32_t>(FLevelBuffer.size());
  stream.gzip_flag = IGZIP_DEFLATE;
  // Room for rows that do not compress; the room doubles when even that is not enough. The
  // buffer keeps its largest size between segments, the room given to igzip does not.
  std::size_t room = size + size / 8 + 1024;
  WithMemory("png-write-deflate", [&] { FOutput.resize(std::max(FOutput.size(), room)); });
  std::size_t written = 0;
  // Deflates the given bytes, then flushes them (or ends the stream with them).
  const auto deflate = [&](const std::uint8_t* in, std::size_t bytes, bool end) {
    stream.next_in = const_cast<std::uint8_t*>(in);  // igzip only reads it
    stream.avail_in = static_cast<std::uint32_t>(bytes);
    stream.end_of_stream = end ? 1 : 0;
    stream.flush = end ? NO_FLUSH : SYNC_FLUSH;
    for (;;) {
      stream.next_out = FOutput.data() + written;
      stream.avail_out = static_cast<std::uint32_t>(room - written);
      if (isal_deflate(&stream) != COMP_OK) throw EWriteError(Msg::WriteError, "png-write-deflate");
      written = room - stream.avail_out;
      // Output room left over means every byte given has been deflated and flushed.
      const bool finished = stream.avail_in == 0 && stream.avail_out > 0 &&
                            (!end || stream.internal_state.state == ZSTATE_END);
      if (finished) return;
      room *= 2;
      WithMemory("png-write-deflate", [&] { FOutput.resize(std::max(FOutput.size(), room)); });
    }
  };
  // igzip 2.30's assembly match finders, starting a stream without history, take the hash of
  // its third byte from the register that still holds the stream structure's address, not
  // from the data: the first bytes' matches, and so the segment's bytes, changed with where
  // the worker's stack lay (between runs, and between two saves in one process). The first
  // kLeadBytes go alone, flushed: so few that only igzip's finishing routine, which hashes the
  // data, sees them; the rest follows with that history, past the faulty start.
  if (size > kLeadBytes) {
    deflate(raw, kLeadBytes, false);
    raw += kLeadBytes;
    size -= kLeadBytes;
  }
  deflate(raw, size, last);
  return {FOutput.data(), written};
}

int DeflateLevel(int wanted) {
  return std::clamp(wanted, ISAL_DEF_MIN_LEVEL, ISAL_DEF_MAX_LEVEL);
}

std::array<std::uint8_t, 2> ZlibHeader(int level) {
  const unsigned levelClass = level <= 1 ? 0 : 1;
  unsigned flags = levelClass << 6;
  flags += 31 - ((0x78u * 256u + flags) % 31);
  return {0x78, static_cast<std::uint8_t>(flags)};
}

std::uint32_t SegmentAdler32(const std::uint8_t* raw, std::size_t size) {
  return isal_adler32(1, raw, size);
}

std::uint32_t PngChunkCrc(const char* type, const std::uint8_t* data, std::size_t size) {
  const std::uint32_t crc = crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(type), 4);
  return size == 0 ? crc : crc32_gzip_refl(crc, data, size);
}

}  // namespace penamo
