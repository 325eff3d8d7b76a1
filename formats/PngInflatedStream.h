// A PNG file as libpng is to read it when ISA-L, not zlib, inflates its pixels: the file's bytes
// from its start, with its run of IDAT chunks given instead as chunks of the same pixels already
// inflated, in stored (uncompressed) deflate blocks. zlib then only copies them into rows, and
// ISA-L inflates in about a third of zlib's time.
//
// What it guarantees, and what it leaves to the reader:
// - Every other chunk is given as the file holds it. The checksum of each critical chunk
//   (IHDR, PLTE, IDAT, IEND, ...) is checked here, as the reader is told not to check those of
//   critical chunks (it would take it over the stored pixels, eight times the file's data);
//   ancillary chunks keep the reader's own check.
// - The stored pixels are exactly what the file's zlib stream inflates to: the stream's Adler-32
//   checksum is checked. Where ISA-L meets anything it refuses, where the checksum or a chunk's
//   fails, where the stream ends before or after its last IDAT chunk, or where the file is cut,
//   Read fails and the reader's owner reads the file another way.
// - A stream whose header names anything but a 32 KiB window (zlib's window rules differ from
//   ISA-L's for those) or a preset dictionary is given as the file holds it, checked alike.
// - ISA-L reads some streams zlib refuses: those whose Huffman codes leave codes unused. Such a
//   stream is read only when its checksum holds, that is as its encoder meant it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct inflate_state;

namespace penamo {

class TInflatedPngStream {
 public:
  // Reads up to size bytes of the file at offset into data: the bytes read, 0 at the file's end,
  // a negative count on a fault.
  using TReadAt =
      std::function<std::int64_t(std::uint8_t* data, std::size_t size, std::uint64_t offset)>;

  explicit TInflatedPngStream(TReadAt readAt);
  ~TInflatedPngStream();
  TInflatedPngStream(const TInflatedPngStream&) = delete;
  TInflatedPngStream& operator=(const TInflatedPngStream&) = delete;

  // The next size bytes of the file as given; false when they cannot all be given (the cases
  // above). After false, Read is not to be called again.
  bool Read(std::uint8_t* data, std::size_t size);

  // Whether the pixels were given inflated (the stream had begun, or was checked to begin, with
  // a 32 KiB window), so far.
  bool Inflating() const { return FInflating; }

 private:
  enum class TPhase { Chunks, Pixels };

  bool Produce();
  bool ProduceChunkBytes();
  bool StartPixels(std::uint32_t length);
  bool ProducePixels();
  bool FeedInflater();
  bool Refill();
  bool ReadFile(std::uint8_t* data, std::size_t size);
  bool ReadHead(std::uint32_t& length, std::uint32_t& type);
  std::uint8_t* Reserve(std::size_t size);

  TReadAt FReadAt;
  std::uint64_t FFileOffset = 0;  // the file's offset after the buffered bytes
  std::vector<std::uint8_t> FIn;
  std::size_t FInAt = 0;
  std::size_t FInEnd = 0;

  std::vector<std::uint8_t> FOut;  // bytes made and not yet given
  std::size_t FOutAt = 0;
  std::size_t FOutEnd = 0;

  TPhase FPhase = TPhase::Chunks;
  // In Chunks: the data bytes left of the chunk being given, then its checksum; whether the
  // checksum is checked here, and its running value.
  bool FSignatureGiven = false;
  bool FInChunk = false;
  std::uint64_t FChunkLeft = 0;
  bool FChecked = false;
  std::uint32_t FCrc = 0;
  bool FPixelsSeen = false;
  bool FInflating = false;
  // In Pixels: the data bytes left of the IDAT chunk being inflated, the inflater, whether the
  // zlib stream's header is still to be given, and the head of the chunk after the run, kept.
  std::uint64_t FIdatLeft = 0;
  std::unique_ptr<inflate_state> FInflater;
  bool FFinished = false;
  bool FRunEnded = false;  // the head after the run's last IDAT chunk has been read
  bool FZlibHeaderGiven = false;
  bool FHeldHead = false;
  std::uint8_t FHead[8] = {};
};

}  // namespace penamo
