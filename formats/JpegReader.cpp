#include "JpegReader.h"

// jpeglib.h needs size_t and FILE declared first.
#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "Exceptions.h"
#include "FormatSupport.h"
#include "Machine.h"
#include "ReadAheadRows.h"
#include "Stream.h"
#include "Upright.h"
#include "UprightPlacement.h"

namespace penamo {

namespace {

using namespace formats;

enum TJpegFailure {
  kNoFailure = 0,
  kLibraryError,  // the library's error_exit: details in the message code
  kDamaged,       // a warning that means lost picture data
  kTruncated,
  kTooManyScans,
};

// Everything libjpeg touches, in one plain structure: libjpeg reports errors by longjmp, and
// the frames it jumps over (its own and the two decoding functions below) hold no object with
// a destructor.
struct TJpegSession {
  jpeg_decompress_struct Info;
  jpeg_error_mgr Errors;
  jpeg_progress_mgr Progress;
  std::jmp_buf Jump;
  TJpegFailure Failure;
  int MessageCode;
  bool Created;
  // The file's bytes the source manager reads, to tell how far it had read.
  const std::uint8_t* Data;
  std::size_t Size;
};

[[noreturn]] void Fail(j_common_ptr info, TJpegFailure failure) {
  // The session starts with Info, whose address libjpeg hands back.
  auto* session = reinterpret_cast<TJpegSession*>(info);
  session->Failure = failure;
  session->MessageCode = info->err->msg_code;
  std::longjmp(session->Jump, 1);
}

void ErrorExit(j_common_ptr info) {
  Fail(info, kLibraryError);
}

void EmitMessage(j_common_ptr info, int level) {
  if (level >= 0) return;  // trace messages
  // Warnings that mean part of the picture is missing refuse the file; the rest (extraneous
  // bytes between markers, unknown JFIF revisions) are harmless.
  switch (info->err->msg_code) {
    case JWRN_JPEG_EOF:
      Fail(info, kTruncated);
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
      Fail(info, kDamaged);
    default:
      break;
  }
}

// The scans of the file, counted by walking its markers (at most one past the limit): the
// headers' segments are skipped by their lengths, the entropy-coded data byte by byte, where a
// 0xFF is a marker only when no 0x00 follows it. A few milliseconds for any file, where
// decoding each scan costs a pass over the whole picture.
int CountScans(const std::uint8_t* data, std::size_t size) {
  int scans = 0;
  std::size_t at = 2;  // past the start of image
  while (at + 1 < size && scans <= kJpegMaxScans) {
    if (data[at] != 0xFF) {
      ++at;  // entropy-coded data, or stray bytes the decoder skips as well
      continue;
    }
    const std::uint8_t marker = data[at + 1];
    if (marker == 0xFF) {
      ++at;  // fill byte
    } else if (marker == 0x00 || marker == 0x01 || marker == 0xD8 ||
               (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;  // a stuffed 0xFF, or a marker without a segment
    } else if (marker == 0xD9) {
      break;  // end of image
    } else {
      if (at + 4 > size) break;
      if (marker == 0xDA) ++scans;
      at += 2 + ((std::size_t{data[at + 2]} << 8) | data[at + 3]);
    }
  }
  return scans;
}

// Stays as a second guard: it sees the scans as the library does.
void MonitorProgress(j_common_ptr info) {
  const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kJpegMaxScans) Fail(info, kTooManyScans);
}

// Reads the headers; the markers that carry the orientation and the profile are kept.
TJpegFailure ReadHeader(TJpegSession* session, const std::uint8_t* data, std::size_t size,
                        long memoryLimit) {
  if (setjmp(session->Jump) != 0) return session->Failure;
  jpeg_create_decompress(&session->Info);
  session->Created = true;
  session->Info.mem->max_memory_to_use = memoryLimit;
  session->Info.progress = &session->Progress;
  jpeg_mem_src(&session->Info, data, static_cast<unsigned long>(size));
  jpeg_save_markers(&session->Info, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(&session->Info, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&session->Info, TRUE);
  return kNoFailure;
}

// The ICC profile (malloc'ed, the caller frees it) or null.
TJpegFailure ReadProfile(TJpegSession* session, JOCTET** profile, unsigned int* length) {
  if (setjmp(session->Jump) != 0) return session->Failure;
  if (!jpeg_read_icc_profile(&session->Info, profile, length)) {
    *profile = nullptr;
    *length = 0;
  }
  return kNoFailure;
}

// The three steps of decoding, each in a frame of its own that holds no object with a
// destructor.
TJpegFailure StartDecompress(TJpegSession* session) {
  if (setjmp(session->Jump) != 0) return session->Failure;
  jpeg_start_decompress(&session->Info);
  return kNoFailure;
}

// The next row into row.
TJpegFailure DecodeNextRow(TJpegSession* session, JSAMPROW row) {
  if (setjmp(session->Jump) != 0) return session->Failure;
  if (jpeg_read_scanlines(&session->Info, &row, 1) != 1) {
    session->Failure = kTruncated;
    return kTruncated;
  }
  return kNoFailure;
}

TJpegFailure FinishDecompress(TJpegSession* session) {
  if (setjmp(session->Jump) != 0) return session->Failure;
  jpeg_finish_decompress(&session->Info);
  return kNoFailure;
}

// The bytes of the file the decoder had taken from its source when it stopped: the source
// manager's next byte within the file's bytes, or all of them once it has gone past their end.
// The marker reader tells the source only where a segment starts, so while it reads one (the
// marker just before the source's next byte is the one being read) the segment's end is taken.
std::uint64_t BytesRead(const TJpegSession& session) {
  const jpeg_source_mgr* source = session.Info.src;
  if (source == nullptr || session.Data == nullptr) return 0;
  const std::uint8_t* next = source->next_input_byte;
  const std::uint8_t* end = session.Data + session.Size;
  if (next < session.Data || next > end) return session.Size;
  const int marker = session.Info.unread_marker;
  const bool standalone =
      marker == 0xD8 || marker == 0xD9 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
  if (marker != 0 && !standalone && next - session.Data >= 2 && end - next >= 2 &&
      next[-2] == 0xFF && next[-1] == marker) {
    const std::size_t length = std::size_t{next[0]} << 8 | next[1];
    return static_cast<std::uint64_t>(next - session.Data) +
           std::min(length, static_cast<std::size_t>(end - next));
  }
  return static_cast<std::uint64_t>(next - session.Data);
}

[[noreturn]] void RaiseFailure(const TJpegSession& session) {
  switch (session.Failure) {
    case kTruncated:
      RaiseTruncated("jpeg-truncated");
    case kDamaged:
      RaiseInvalid(Msg::InvalidJpeg, "jpeg-damaged-data");
    case kTooManyScans:
      RaiseTooLarge("jpeg-too-many-scans");
    default:
      break;
  }
  switch (session.MessageCode) {
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
      RaiseTooLarge("jpeg-over-memory-limit");
    case JERR_INPUT_EMPTY:
    case JERR_INPUT_EOF:
    case JERR_NO_IMAGE:
      RaiseTruncated("jpeg-truncated");
    case JERR_NO_SOI:
      RaiseInvalid(Msg::InvalidJpeg, "jpeg-bad-signature");
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
      RaiseTooLarge("jpeg-too-large");
    case JERR_SOF_UNSUPPORTED:
      // Lossless and hierarchical coding, which the library does not decode.
      RaiseUnsupported("JPEG", "jpeg-error-" + std::to_string(session.MessageCode));
    case JERR_BAD_PRECISION:
      // 12-bit samples are a variant the library is not built for; any other precision is no
      // JPEG at all.
      if (session.Info.data_precision == 12 || session.Info.data_precision == 16)
        RaiseUnsupported("JPEG", "jpeg-error-" + std::to_string(session.MessageCode));
      RaiseInvalid(Msg::InvalidJpeg, "jpeg-error-" + std::to_string(session.MessageCode));
    default:
      RaiseInvalid(Msg::InvalidJpeg, "jpeg-error-" + std::to_string(session.MessageCode));
  }
}

// The session's failure as our refusal; damaged data say how far the decoder had read.
[[noreturn]] void Raise(const TJpegSession& session) {
  try {
    RaiseFailure(session);
  } catch (Exception& error) {
    NoteDamage(error, BytesRead(session));
    throw;
  }
}

// CMYK to BGR: each channel is (255 - ink) × (255 - black) / 255, rounded.
void CmykToBgr(const JSAMPLE* cmyk, std::int32_t width, bool inverted, std::uint8_t* bgr) {
  for (std::int32_t x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    bgr[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
    bgr[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    bgr[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
  }
}

// How the stored rows become the upright picture's.
struct TPlacement {
  int Orientation = 1;
  std::int32_t Width = 0;   // of the stored picture
  std::int32_t Height = 0;  // of the stored picture
  bool Cmyk = false;
  bool Inverted = false;          // Adobe's CMYK: 255 means no ink
  std::vector<std::uint8_t> Bgr;  // a CMYK row turned BGR

  // Where the stored rows go (image/OrientationMap.h's orientations).
  TUprightPlacement Upright() const { return {Orientation, Width, Height}; }

  // Whether each stored row is the upright row of the same number (perhaps mirrored), so that
  // the rows can be handed on as they are decoded.
  bool RowsInOrder() const { return Upright().RowsInOrder(); }

  // The stored row as BGR samples (converted into Bgr for CMYK).
  const std::uint8_t* AsBgr(const JSAMPLE* row) {
    if (!Cmyk) return row;
    CmykToBgr(row, Width, Inverted, Bgr.data());
    return Bgr.data();
  }

  // Stored row y into its place in the upright picture, whatever the orientation: shownRow(r)
  // is the upright picture's row r.
  template <class ShownRow>
  void Place(const JSAMPLE* row, std::int32_t y, ShownRow shownRow) {
    Upright().Place(AsBgr(row), 3, y, shownRow);
  }
};

struct TSessionFree {
  void operator()(TJpegSession* session) const {
    if (session->Created) jpeg_destroy_decompress(&session->Info);
    delete session;
  }
};
using TSession = std::unique_ptr<TJpegSession, TSessionFree>;

}  // namespace

int ExifOrientation(const std::uint8_t* segment, std::size_t size) {
  static constexpr std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
  if (size < 6 + 8 || std::memcmp(segment, kExif, 6) != 0) return 1;
  return ExifBlockOrientation(segment + 6, size - 6);
}

namespace {

// The EXIF block of an APP1 segment, its orientation reset; empty for any other segment.
std::vector<std::uint8_t> ExifOrientationReset(const std::uint8_t* segment, std::size_t size) {
  static constexpr std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
  if (size < 6 || std::memcmp(segment, kExif, 6) != 0) return {};
  std::vector<std::uint8_t> block = ExifBlockOf(segment, size);
  ResetExifOrientation(block);
  return block;
}

// A JPEG whose headers are read: the session ready to decode, how its rows are placed, and its
// profile.
struct TJpegStart {
  TSession Session;
  TPlacement Placement;
  std::vector<std::uint8_t> Profile;
  std::vector<std::uint8_t> Exif;  // orientation reset: the rows are placed upright
  std::vector<std::uint8_t> Xmp;
  std::vector<JSAMPLE> Row;  // one decoded row
};

TJpegStart StartJpeg(const std::uint8_t* data, std::size_t size) {
  TJpegStart start;
  start.Session.reset(new TJpegSession{});
  TJpegSession* session = start.Session.get();
  std::memset(session, 0, sizeof(TJpegSession));
  session->Info.err = jpeg_std_error(&session->Errors);
  session->Errors.error_exit = ErrorExit;
  session->Errors.emit_message = EmitMessage;
  session->Progress.progress_monitor = MonitorProgress;
  session->Data = data;
  session->Size = size;

  const std::uint64_t limit = StorageLimit();
  const long memoryLimit =
      static_cast<long>(std::min<std::uint64_t>(limit, static_cast<std::uint64_t>(LONG_MAX)));
  if (ReadHeader(session, data, size, memoryLimit) != kNoFailure) Raise(*session);
  jpeg_decompress_struct& info = session->Info;
  // Refused before a single scan is decoded, however large the picture.
  if (CountScans(data, size) > kJpegMaxScans) RaiseTooLarge("jpeg-too-many-scans");

  TPlacement& placement = start.Placement;
  static constexpr char kXmp[] = "http://ns.adobe.com/xap/1.0/";  // with its terminating zero
  for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
    if (marker->marker != JPEG_APP0 + 1) continue;
    if (placement.Orientation == 1)
      placement.Orientation = ExifOrientation(marker->data, marker->data_length);
    if (start.Exif.empty()) start.Exif = ExifOrientationReset(marker->data, marker->data_length);
    if (start.Xmp.empty() && marker->data_length > sizeof kXmp &&
        std::memcmp(marker->data, kXmp, sizeof kXmp) == 0)
      WithMemory("out-of-memory", [&] {
        start.Xmp.assign(marker->data + sizeof kXmp, marker->data + marker->data_length);
      });
  }

  placement.Cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  placement.Inverted = info.saw_Adobe_marker != 0;
  info.out_color_space = placement.Cmyk ? JCS_CMYK : JCS_EXT_BGR;
  CheckClaimedSize(info.image_width, info.image_height, size, PixelsPerByte::Jpeg, "jpeg");
  CheckPictureSize(info.image_width, info.image_height, Msg::InvalidJpeg, "jpeg");
  placement.Width = static_cast<std::int32_t>(info.image_width);
  placement.Height = static_cast<std::int32_t>(info.image_height);

  JOCTET* profile = nullptr;
  unsigned int profileLength = 0;
  if (ReadProfile(session, &profile, &profileLength) != kNoFailure) Raise(*session);
  const std::unique_ptr<JOCTET, decltype(&std::free)> profileHolder(profile, &std::free);
  WithMemory("out-of-memory", [&] {
    if (profile != nullptr) start.Profile.assign(profile, profile + profileLength);
    start.Row.resize(static_cast<std::size_t>(placement.Width) * (placement.Cmyk ? 4 : 3));
    if (placement.Cmyk) placement.Bgr.resize(static_cast<std::size_t>(placement.Width) * 3);
  });
  return start;
}

// Decodes stored row y (the next one) into start.Row; the first row starts the decompression
// and the last one finishes it, so that a file cut after the pixels is refused too.
void DecodeStoredRow(TJpegStart& start, std::int32_t y) {
  TJpegSession* session = start.Session.get();
  if (y == 0 && StartDecompress(session) != kNoFailure) Raise(*session);
  if (DecodeNextRow(session, start.Row.data()) != kNoFailure) Raise(*session);
  if (y == start.Placement.Height - 1 && FinishDecompress(session) != kNoFailure) Raise(*session);
}

// The rows of a JPEG whose orientation keeps the stored rows' order, one at a time, for
// TReadAheadRows.
class TJpegRowDecoder final : public TRowDecoder {
 public:
  TJpegRowDecoder(std::unique_ptr<TFileStream> file, std::vector<std::uint8_t> bytes,
                  TJpegStart start)
      : FFile(std::move(file)), FBytes(std::move(bytes)), FStart(std::move(start)) {}

  void DecodeRow(std::int32_t y, std::uint8_t* bgr) override {
    DecodeStoredRow(FStart, y);
    // The rows are in order: stored row y is upright row y.
    FStart.Placement.Place(FStart.Row.data(), y, [bgr](std::int32_t) { return bgr; });
  }

  int Handle() const override { return FFile->Handle(); }

 private:
  std::unique_ptr<TFileStream> FFile;
  std::vector<std::uint8_t> FBytes;  // what the session decodes from
  TJpegStart FStart;
};

}  // namespace

void ReadJpeg(const std::uint8_t* data, std::size_t size, TBitmap& picture,
              TPictureExtras& extras) {
  TJpegStart start = StartJpeg(data, size);
  TPlacement& placement = start.Placement;
  const TUprightPlacement upright = placement.Upright();
  TPictureBuilder builder(upright.ShownWidth(), upright.ShownHeight(), false);
  builder.Extras().ColorProfile = std::move(start.Profile);
  builder.Extras().Exif = std::move(start.Exif);
  builder.Extras().Xmp = std::move(start.Xmp);
  for (std::int32_t y = 0; y < placement.Height; ++y) {
    DecodeStoredRow(start, y);
    placement.Place(start.Row.data(), y, [&](std::int32_t r) { return builder.Row(r); });
  }
  builder.Install(picture, extras);
}

std::unique_ptr<TRowSource> OpenJpegRows(const std::string& path, TPictureExtras& extras,
                                         bool aside) {
  auto file = std::make_unique<TFileStream>(path);
  std::vector<std::uint8_t> bytes = ReadWholeFile(*file);
  TJpegStart start = StartJpeg(bytes.data(), bytes.size());
  if (!start.Placement.RowsInOrder()) return nullptr;
  const std::int32_t width = start.Placement.Width;
  const std::int32_t height = start.Placement.Height;
  TPictureExtras read;
  read.ColorProfile = std::move(start.Profile);
  read.Exif = std::move(start.Exif);
  read.Xmp = std::move(start.Xmp);
  extras = std::move(read);
  auto decoder =
      std::make_unique<TJpegRowDecoder>(std::move(file), std::move(bytes), std::move(start));
  return std::make_unique<TReadAheadRows>(std::move(decoder), width, height, aside);
}

}  // namespace penamo
