#include "JpegReader.h"

// jpeglib.h needs size_t and FILE declared first.
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "Exceptions.h"
#include "FormatSupport.h"

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

using TRowSink = void (*)(void* user, const JSAMPLE* row, JDIMENSION y);

// Decodes every row into row, handing each to sink (which never throws).
TJpegFailure DecodeRows(TJpegSession* session, JSAMPROW row, TRowSink sink, void* user) {
  if (setjmp(session->Jump) != 0) return session->Failure;
  jpeg_start_decompress(&session->Info);
  while (session->Info.output_scanline < session->Info.output_height) {
    const JDIMENSION y = session->Info.output_scanline;
    if (jpeg_read_scanlines(&session->Info, &row, 1) != 1) {
      session->Failure = kTruncated;
      return kTruncated;
    }
    sink(user, row, y);
  }
  jpeg_finish_decompress(&session->Info);
  return kNoFailure;
}

[[noreturn]] void Raise(const TJpegSession& session) {
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
    default:
      RaiseInvalid(Msg::InvalidJpeg, "jpeg-error-" + std::to_string(session.MessageCode));
  }
}

std::uint32_t Get(const std::uint8_t* p, int bytes, bool bigEndian) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    const std::uint32_t b = p[bigEndian ? i : bytes - 1 - i];
    value = (value << 8) | b;
  }
  return value;
}

// Where source pixel (x, y) of a width × height picture goes in the upright picture.
struct TPlacement {
  TPictureBuilder* Builder;
  int Orientation;
  std::int32_t Width;   // of the stored picture
  std::int32_t Height;  // of the stored picture
  bool Cmyk;
  bool Inverted;  // Adobe's CMYK: 255 means no ink
  std::vector<std::uint8_t> Bgr;
};

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

void PlaceRow(void* user, const JSAMPLE* row, JDIMENSION sourceY) {
  auto& p = *static_cast<TPlacement*>(user);
  const std::uint8_t* bgr = row;
  if (p.Cmyk) {
    CmykToBgr(row, p.Width, p.Inverted, p.Bgr.data());
    bgr = p.Bgr.data();
  }
  const auto y = static_cast<std::int32_t>(sourceY);
  const std::int32_t w = p.Width, h = p.Height;
  const auto bytes = static_cast<std::size_t>(w) * 3;
  switch (p.Orientation) {
    case 1:
      std::memcpy(p.Builder->Row(y), bgr, bytes);
      return;
    case 4:  // upside down mirror
      std::memcpy(p.Builder->Row(h - 1 - y), bgr, bytes);
      return;
    case 2:
    case 3: {  // mirrored left to right; turned half round
      std::uint8_t* out = p.Builder->Row(p.Orientation == 2 ? y : h - 1 - y);
      for (std::int32_t x = 0; x < w; ++x)
        std::memcpy(out + 3 * (w - 1 - x), bgr + 3 * x, 3);
      return;
    }
    default: {
      // 5..8: the stored rows are the upright picture's columns.
      const std::int32_t column = p.Orientation == 5 || p.Orientation == 8 ? y : h - 1 - y;
      const bool reversed = p.Orientation == 7 || p.Orientation == 8;
      for (std::int32_t x = 0; x < w; ++x) {
        std::memcpy(p.Builder->Row(reversed ? w - 1 - x : x) + 3 * column, bgr + 3 * x, 3);
      }
      return;
    }
  }
}

struct TSessionEnd {
  TJpegSession* Session;
  ~TSessionEnd() {
    if (Session->Created) jpeg_destroy_decompress(&Session->Info);
  }
};

}  // namespace

int ExifOrientation(const std::uint8_t* segment, std::size_t size) {
  static constexpr std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
  if (size < 6 + 8 || std::memcmp(segment, kExif, 6) != 0) return 1;
  const std::uint8_t* tiff = segment + 6;
  const std::size_t length = size - 6;
  bool big;
  if (tiff[0] == 'M' && tiff[1] == 'M') {
    big = true;
  } else if (tiff[0] == 'I' && tiff[1] == 'I') {
    big = false;
  } else {
    return 1;
  }
  if (Get(tiff + 2, 2, big) != 42) return 1;
  const std::uint32_t ifd = Get(tiff + 4, 4, big);
  if (ifd > length || length - ifd < 2) return 1;
  const std::uint32_t entries = Get(tiff + ifd, 2, big);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint64_t at = std::uint64_t{ifd} + 2 + 12 * std::uint64_t{i};
    if (at + 12 > length) return 1;
    const std::uint8_t* entry = tiff + at;
    if (Get(entry, 2, big) != 0x0112) continue;
    // A SHORT with one value, held in the entry itself.
    if (Get(entry + 2, 2, big) != 3 || Get(entry + 4, 4, big) != 1) return 1;
    const std::uint32_t value = Get(entry + 8, 2, big);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

void ReadJpeg(const std::uint8_t* data, std::size_t size, TBitmap& picture,
              TPictureExtras& extras) {
  auto session = std::make_unique<TJpegSession>();
  std::memset(session.get(), 0, sizeof(TJpegSession));
  session->Info.err = jpeg_std_error(&session->Errors);
  session->Errors.error_exit = ErrorExit;
  session->Errors.emit_message = EmitMessage;
  session->Progress.progress_monitor = MonitorProgress;
  const TSessionEnd end{session.get()};

  const std::uint64_t limit = StorageLimit();
  const long memoryLimit =
      static_cast<long>(std::min<std::uint64_t>(limit, static_cast<std::uint64_t>(LONG_MAX)));
  if (ReadHeader(session.get(), data, size, memoryLimit) != kNoFailure) Raise(*session);
  jpeg_decompress_struct& info = session->Info;

  int orientation = 1;
  for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
    if (marker->marker == JPEG_APP0 + 1) {
      orientation = ExifOrientation(marker->data, marker->data_length);
      if (orientation != 1) break;
    }
  }

  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  const std::int64_t width = info.image_width, height = info.image_height;
  CheckPictureSize(width, height, Msg::InvalidJpeg, "jpeg");

  JOCTET* profile = nullptr;
  unsigned int profileLength = 0;
  if (ReadProfile(session.get(), &profile, &profileLength) != kNoFailure) Raise(*session);
  const std::unique_ptr<JOCTET, decltype(&std::free)> profileHolder(profile, &std::free);

  const bool turned = orientation >= 5;
  TPictureBuilder builder(static_cast<std::int32_t>(turned ? height : width),
                          static_cast<std::int32_t>(turned ? width : height), false);
  if (profile != nullptr) builder.Extras().ColorProfile.assign(profile, profile + profileLength);
  TPlacement placement{&builder,
                       orientation,
                       static_cast<std::int32_t>(width),
                       static_cast<std::int32_t>(height),
                       cmyk,
                       info.saw_Adobe_marker != 0,
                       {}};
  std::vector<JSAMPLE> row;
  try {
    row.resize(static_cast<std::size_t>(width) * (cmyk ? 4 : 3));
    if (cmyk) placement.Bgr.resize(static_cast<std::size_t>(width) * 3);
  } catch (const std::bad_alloc&) {
    RaiseOutOfMemory();
  }
  if (DecodeRows(session.get(), row.data(), PlaceRow, &placement) != kNoFailure) Raise(*session);
  builder.Install(picture, extras);
}

}  // namespace penamo
