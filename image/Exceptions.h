// Error classes of the whole program. Every failure is raised as one of these, carrying the
// exact (UTF-8) text the user sees; the hierarchy lets a handler catch a family at once
// (EStreamError catches both EFCreateError and EWriteError).
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace penamo {

class Exception : public std::exception {
 public:
  // reason: a short English tag saying which refusal this is ("rle-run-past-row"), for tests,
  // the fuzzer and `penamo-filter --verbose`; many reasons share one message. Never shown in a
  // message box.
  // systemError: the errno of the system call that failed, when one did (0: none), so that the
  // command line can say why a file could not be written or read.
  explicit Exception(std::string message, std::string reason = {}, int systemError = 0)
      : FMessage(std::move(message)), FReason(std::move(reason)), FSystemError(systemError) {}
  const std::string& Message() const noexcept { return FMessage; }
  const std::string& Reason() const noexcept { return FReason; }
  int SystemError() const noexcept { return FSystemError; }
  const char* what() const noexcept override { return FMessage.c_str(); }
  // A line that says why, shown on a line of its own under the message (FailureCause.h); empty
  // unless whoever knows the file the error concerns added it.
  const std::string& Detail() const noexcept { return FDetail; }
  void SetDetail(std::string detail) { FDetail = std::move(detail); }
  // Where a reader found the picture's data damaged: the place (1: the file's first byte) of
  // the last byte it had read when it found the damage, 0 when it cannot tell. Approximate: the
  // reader's library reads ahead of what it has checked, so the damage lies at or somewhat
  // before that byte; otherwise it lies in the very field that starts at that byte.
  std::uint64_t DamagedByte() const noexcept { return FDamagedByte; }
  bool DamagedByteApproximate() const noexcept { return FDamagedByteApproximate; }
  void SetDamagedByte(std::uint64_t byte, bool approximate) noexcept {
    FDamagedByte = byte;
    FDamagedByteApproximate = approximate;
  }
  // The class name as a user-facing diagnostic would print it ("EReadError").
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string FMessage;
  std::string FReason;
  int FSystemError;
  std::string FDetail;
  std::uint64_t FDamagedByte = 0;
  bool FDamagedByteApproximate = false;
};

#define PENAMO_ERROR_CLASS(Name, Base)                                \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const noexcept override { return #Name; } \
  }

PENAMO_ERROR_CLASS(EAbort, Exception);
PENAMO_ERROR_CLASS(EHeapException, Exception);
PENAMO_ERROR_CLASS(EOutOfMemory, EHeapException);
PENAMO_ERROR_CLASS(EOutOfResources, EOutOfMemory);
PENAMO_ERROR_CLASS(EStreamError, Exception);
PENAMO_ERROR_CLASS(EFCreateError, EStreamError);
PENAMO_ERROR_CLASS(EFOpenError, EStreamError);
PENAMO_ERROR_CLASS(EFilerError, EStreamError);
PENAMO_ERROR_CLASS(EReadError, EFilerError);
PENAMO_ERROR_CLASS(EWriteError, EFilerError);
PENAMO_ERROR_CLASS(EInvalidGraphic, Exception);
// A picture that is sound as far as it was read, but of a kind or variant this tool does not
// read (a file of no known format, a 12-bit JPEG, a float TIFF): "unsupported", not "damaged".
PENAMO_ERROR_CLASS(EUnsupportedGraphic, EInvalidGraphic);
PENAMO_ERROR_CLASS(EInvalidGraphicOperation, Exception);
PENAMO_ERROR_CLASS(EOSError, Exception);
PENAMO_ERROR_CLASS(EInvalidOperation, Exception);  // a control cannot do what it is asked
PENAMO_ERROR_CLASS(EConvertError, Exception);      // a value cannot be given to a holder of it

#undef PENAMO_ERROR_CLASS

// The message as the user sees it, in a box or on the command line: "." appended when the text
// is not empty and its last character (a whole UTF-8 character) compares greater than ".".
std::string MessageWithFullStop(const std::string& message);

// The fixed texts. Those with a placeholder are built by the functions below.
namespace Msg {
inline constexpr const char* OutOfMemory = "メモリが足りません";
inline constexpr const char* OutOfResources = "システム リソースが足りません";
inline constexpr const char* ReadError = "ストリームからの読み込みエラー";
inline constexpr const char* WriteError = "ストリームへの書き込みエラー";
inline constexpr const char* InvalidBitmap = "ビットマップイメージが不正です";
inline constexpr const char* InvalidPixelFormat = "画像フォーマットが不正です";
inline constexpr const char* BitmapTooLarge =
    "画像が大きすぎてビットマップファイル (4 GiB まで) に保存できません。PNG "
    "形式で保存してください";
inline constexpr const char* ScanLineOutOfRange = "スキャンライン のインデックスが範囲を越えました";
// A damaged picture of a known format: "%s イメージが不正です", format as the format table
// names it.
#define PENAMO_INVALID_PICTURE(Kind, format) \
  inline constexpr const char* Invalid##Kind = format " イメージが不正です"
PENAMO_INVALID_PICTURE(Png, "PNG");
PENAMO_INVALID_PICTURE(Jpeg, "JPEG");
PENAMO_INVALID_PICTURE(Tiff, "TIFF");
PENAMO_INVALID_PICTURE(WebP, "WebP");
PENAMO_INVALID_PICTURE(Gif, "GIF");
PENAMO_INVALID_PICTURE(Heif, "HEIF");
PENAMO_INVALID_PICTURE(Avif, "AVIF");
PENAMO_INVALID_PICTURE(Jxl, "JPEG XL");
#undef PENAMO_INVALID_PICTURE
// A file of no kind the tool reads.
inline constexpr const char* UnsupportedPicture = "対応していない形式の画像ファイルです";

std::string FOpenError(const std::string& path);    // "ファイル %s は開けません"
std::string FCreateError(const std::string& path);  // "ファイル %s を作成できません"
// A known format's variant the tool does not read: "%s イメージのこの形式には対応していません",
// format as the format table names it ("TIFF").
std::string UnsupportedVariant(const std::string& format);
}  // namespace Msg

}  // namespace penamo
