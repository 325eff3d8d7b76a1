#include "PngInflatedStream.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace penamo {
namespace {

constexpr std::size_t kFileBlock = std::size_t{256} << 10;
// A stored block holds at most 65,535 bytes; a made IDAT chunk holds four.
constexpr std::size_t kStoredMost = 65535;
constexpr std::size_t kStoredBlocksPerChunk = 4;
// The chunk's head, the zlib header, the blocks with their heads, the closing empty block and
// the Adler-32 checksum, and the chunk's checksum.
constexpr std::size_t kMadeChunkMost =
    8 + 2 + kStoredBlocksPerChunk * (5 + kStoredMost) + 5 + 4 + 4;

constexpr std::uint32_t kIdat = 0x49444154;  // "IDAT"

std::uint32_t BigEndian(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

void PutBigEndian(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t Crc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t size) {
  return size == 0 ? crc : crc32_gzip_refl(crc, bytes, size);
}

// A stored block's head, byte-aligned as every head made here is: not the last block, then the
// length and its complement, least significant byte first.
void PutStoredHead(std::uint8_t* head, std::size_t size, bool last) {
  const auto length = static_cast<std::uint16_t>(size);
  const auto complement = static_cast<std::uint16_t>(~length);
  head[0] = last ? 1 : 0;
  head[1] = static_cast<std::uint8_t>(length);
  head[2] = static_cast<std::uint8_t>(length >> 8);
  head[3] = static_cast<std::uint8_t>(complement);
  head[4] = static_cast<std::uint8_t>(complement >> 8);
}

// A zlib header as zlib takes it with a 32 KiB window: deflate, the header's own check, and no
// preset dictionary.
bool PlainZlibHeader(std::uint8_t cmf, std::uint8_t flg) {
  return cmf == 0x78 && (cmf * 256u + flg) % 31u == 0 && (flg & 0x20) == 0;
}

}  // namespace

TInflatedPngStream::TInflatedPngStream(TReadAt readAt)
    : FReadAt(std::move(readAt)),
      FIn(kFileBlock),
      FOut(kMadeChunkMost),
      FInflater(std::make_unique<inflate_state>()) {}

TInflatedPngStream::~TInflatedPngStream() = default;

bool TInflatedPngStream::Read(std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (FOutAt == FOutEnd) {
      FOutAt = FOutEnd = 0;
      if (!Produce()) return false;
      continue;
    }
    const std::size_t taken = std::min(size, FOutEnd - FOutAt);
    std::memcpy(data, FOut.data() + FOutAt, taken);
    FOutAt += taken;
    data += taken;
    size -= taken;
  }
  return true;
}

bool TInflatedPngStream::Produce() {
  switch (FPhase) {
    case TPhase::Chunks:
      return ProduceChunkBytes();
    case TPhase::Pixels:
      return ProducePixels();
  }
  return false;
}

std::uint8_t* TInflatedPngStream::Reserve(std::size_t size) {
  if (FOut.size() < FOutEnd + size) FOut.resize(FOutEnd + size);
  std::uint8_t* at = FOut.data() + FOutEnd;
  FOutEnd += size;
  return at;
}

// The next block of the file into FIn, once every buffered byte is taken; false at the file's
// end or on a failed read.
bool TInflatedPngStream::Refill() {
  const std::int64_t got = FReadAt(FIn.data(), FIn.size(), FFileOffset);
  if (got <= 0) return false;
  FFileOffset += static_cast<std::uint64_t>(got);
  FInAt = 0;
  FInEnd = static_cast<std::size_t>(got);
  return true;
}

bool TInflatedPngStream::ReadFile(std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (FInAt == FInEnd && !Refill()) return false;
    const std::size_t taken = std::min(size, FInEnd - FInAt);
    std::memcpy(data, FIn.data() + FInAt, taken);
    FInAt += taken;
    data += taken;
    size -= taken;
  }
  return true;
}

bool TInflatedPngStream::ReadHead(std::uint32_t& length, std::uint32_t& type) {
  if (FHeldHead) {
    FHeldHead = false;
  } else if (!ReadFile(FHead, sizeof FHead)) {
    return false;
  }
  length = BigEndian(FHead);
  type = BigEndian(FHead + 4);
  return true;
}

// The signature, then each chunk as the file holds it, a piece at a time: its head, its data in
// blocks, its checksum (checked here for a critical chunk) — until the first IDAT chunk.
bool TInflatedPngStream::ProduceChunkBytes() {
  if (!FSignatureGiven) {
    FSignatureGiven = true;
    return ReadFile(Reserve(8), 8);
  }
  if (!FInChunk) {
    std::uint32_t length = 0, type = 0;
    if (!ReadHead(length, type)) return false;
    if (type == kIdat && !FPixelsSeen) {
      FPixelsSeen = true;
      return StartPixels(length);
    }
    std::memcpy(Reserve(8), FHead, 8);
    FInChunk = true;
    FChunkLeft = length;
    FChecked = (FHead[4] & 0x20) == 0;
    FCrc = Crc(0, FHead + 4, 4);
    return true;
  }
  if (FChunkLeft > 0) {
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>(FChunkLeft, kFileBlock));
    std::uint8_t* data = Reserve(size);
    if (!ReadFile(data, size)) return false;
    if (FChecked) FCrc = Crc(FCrc, data, size);
    FChunkLeft -= size;
    return true;
  }
  std::uint8_t* crc = Reserve(4);
  if (!ReadFile(crc, 4) || (FChecked && BigEndian(crc) != FCrc)) return false;
  FInChunk = false;
  return true;
}

// The first IDAT chunk, whose head was just read: its stream is inflated when its header is
// plain, or the chunk goes on as the file holds it.
bool TInflatedPngStream::StartPixels(std::uint32_t length) {
  FCrc = Crc(0, FHead + 4, 4);
  std::uint8_t header[2] = {};
  const std::size_t peeked = length >= 2 ? 2 : 0;
  if (peeked > 0) {
    if (!ReadFile(header, 2)) return false;
    FCrc = Crc(FCrc, header, 2);
    if (PlainZlibHeader(header[0], header[1])) {
      isal_inflate_init(FInflater.get());
      FInflater->crc_flag = ISAL_ZLIB_NO_HDR_VER;
      FIdatLeft = length - 2;
      FInflating = true;
      FPhase = TPhase::Pixels;
      return ProducePixels();
    }
  }
  std::memcpy(Reserve(8), FHead, 8);
  if (peeked > 0) std::memcpy(Reserve(2), header, 2);
  FInChunk = true;
  FChunkLeft = length - peeked;
  FChecked = true;
  return true;
}

// Gives the inflater the next bytes of the run's data: the buffered bytes of this chunk, or,
// at the chunk's end, its checked checksum and the next chunk's head. A head of another type
// ends the run; it is kept for the chunks after.
bool TInflatedPngStream::FeedInflater() {
  if (FIdatLeft == 0) {
    std::uint8_t crc[4];
    if (!ReadFile(crc, 4) || BigEndian(crc) != FCrc) return false;
    std::uint32_t length = 0, type = 0;
    if (!ReadHead(length, type)) return false;
    if (type != kIdat) {
      FHeldHead = true;
      FRunEnded = true;
      return true;
    }
    FIdatLeft = length;
    FCrc = Crc(0, FHead + 4, 4);
    return true;
  }
  if (FInAt == FInEnd && !Refill()) return false;
  const std::size_t size =
      static_cast<std::size_t>(std::min<std::uint64_t>(FIdatLeft, FInEnd - FInAt));
  FCrc = Crc(FCrc, FIn.data() + FInAt, size);
  FInflater->next_in = FIn.data() + FInAt;
  FInflater->avail_in = static_cast<std::uint32_t>(size);
  FInAt += size;
  FIdatLeft -= size;
  return true;
}

// One made IDAT chunk: the zlib header (in the first), up to four stored blocks of inflated
// pixels, and, once the file's stream has ended where its run of IDAT chunks ends with its
// checksum holding, the closing empty block and the checksum. Its own checksum is left zero:
// the reader is told to skip critical chunks' checksums, which this stream checks.
bool TInflatedPngStream::ProducePixels() {
  std::uint8_t* chunk = FOut.data();
  std::size_t at = 8;
  if (!FZlibHeaderGiven) {
    FZlibHeaderGiven = true;
    chunk[at++] = 0x78;
    chunk[at++] = 0x01;
  }
  inflate_state& inflater = *FInflater;
  for (std::size_t block = 0; block < kStoredBlocksPerChunk && !FFinished; ++block) {
    std::uint8_t* head = chunk + at;
    at += 5;
    inflater.next_out = chunk + at;
    inflater.avail_out = static_cast<std::uint32_t>(kStoredMost);
    while (inflater.avail_out > 0 && !FFinished) {
      if (inflater.avail_in == 0 && !FRunEnded && !FeedInflater()) return false;
      const std::uint32_t inBefore = inflater.avail_in, outBefore = inflater.avail_out;
      if (isal_inflate(&inflater) != ISAL_DECOMP_OK) return false;
      if (inflater.block_state == ISAL_BLOCK_FINISH) {
        FFinished = true;
      } else if (FRunEnded && inflater.avail_in == inBefore && inflater.avail_out == outBefore) {
        return false;  // the run ended before the stream
      }
    }
    const std::size_t made = kStoredMost - inflater.avail_out;
    PutStoredHead(head, made, false);
    at += made;
  }
  if (FFinished) {
    // The stream ends with the run: no data after it in its chunk, and no IDAT chunk after.
    // (igzip reads ahead into a word of bits: the bytes it holds there are data after it too.)
    if (inflater.avail_in != 0 || inflater.read_in_length >= 8 || FIdatLeft != 0) return false;
    if (!FRunEnded) {
      if (!FeedInflater() || !FRunEnded) return false;
    }
    PutStoredHead(chunk + at, 0, true);
    at += 5;
    PutBigEndian(chunk + at, inflater.crc);
    at += 4;
    FPhase = TPhase::Chunks;
    FInChunk = false;
  }
  PutBigEndian(chunk, static_cast<std::uint32_t>(at - 8));
  PutBigEndian(chunk + 4, kIdat);
  PutBigEndian(chunk + at, 0);
  at += 4;
  FOutEnd = at;
  return true;
}

}  // namespace penamo
