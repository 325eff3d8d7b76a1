// penamo-filter: one picture through one of the five luma-reduction filters, from a picture file
// (bitmap, PNG, JPEG, TIFF or WebP) to a 24-bit bitmap file or a PNG file, without the window.
// The same reading, conversion, filters and writing as the window's save commands, so a script
// can do what a user does there.
// The save runs in one pass, band by band (BandFilter.h): input side and output side are one
// call each.

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BandFilter.h"
#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "Exceptions.h"
#include "FilterTable.h"
#include "PenamoVersion.h"
#include "PictureFile.h"
#include "PictureKind.h"
#include "PngWriter.h"
#include "RowSource.h"
#include "SaveInterruption.h"

namespace penamo {
namespace {

constexpr int kDefaultStrength = kFullStrength;

enum TExitCode { kSuccess = 0, kFailure = 1, kUsage = 2 };

// The unfiltered copy beside the five filters of the table.
constexpr std::string_view kNoFilterName = "none";
constexpr std::string_view kNoFilterCaption = "フィルタなし (24ビットに変換するだけ)";

void PrintUsage(std::ostream& out) {
  out << "使い方: penamo-filter [--strength N] [--format bmp|png] [--strip] [--verbose] FILTER "
         "INPUT OUTPUT\n"
         "\n"
         "画像ファイル INPUT (ビットマップ, PNG, JPEG, TIFF, WebP) を 24 ビットに変換し、\n"
         "FILTER を通して OUTPUT に書き込みます。OUTPUT の拡張子が .png なら PNG\n"
         "(透明度、ICC プロファイル、EXIF、XMP はそのまま)、それ以外は 24 ビットのビットマップ\n"
         "ファイルになります。\n"
         "\n"
         "FILTER:\n";
  const auto line = [&](std::string_view name, std::string_view caption) {
    std::string column(name);
    column.resize(13, ' ');
    out << "  " << column << caption << '\n';
  };
  for (const TFilterEntry& filter : FilterTable())
    if (!filter.TakesLevels) line(filter.Name, filter.Caption);
  line(kNoFilterName, kNoFilterCaption);
  out << "\n"
         "オプション:\n"
         "  --strength N  誤差拡散の強さ (0 から 100 まで、既定値 100)\n"
         "  --format F    出力形式 bmp または png (拡張子より優先します)\n"
         "  --strip       ICC プロファイル、EXIF、XMP を PNG に書き込みません\n"
         "  --verbose     失敗したとき、メッセージの後にエラーの種類と理由を表示します\n"
         "  --help        この説明を表示して終了します\n"
         "  --version     バージョンを表示して終了します\n";
}

int UsageError(const std::string& problem) {
  std::cerr << "penamo-filter: " << problem << "\n\n";
  PrintUsage(std::cerr);
  return kUsage;
}

bool ParseStrength(std::string_view text, int& strength) {
  if (text.empty() || text.size() > 3) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > 100) return false;
  strength = value;
  return true;
}

enum class TOutputFormat { Bitmap, Png };

// A name whose extension names PNG (in any case) gives PNG; every other name a 24-bit bitmap.
TOutputFormat FormatOfName(const std::string& name) {
  const TPictureFormat* format = FormatOfFileName(name);
  return format != nullptr && format->Kind == TPictureKind::Png ? TOutputFormat::Png
                                                                : TOutputFormat::Bitmap;
}

// Whether path names the file open at handle (through any link), so that saving there would
// replace the very file being read.
bool SameFile(int handle, const std::string& path) {
  struct stat open {};
  struct stat named {};
  return ::fstat(handle, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// The rows to save: read from the file a band at a time when it is an uncompressed 24-bit
// bitmap, a non-interlaced PNG or a JPEG that needs no turning (OpenPictureRows), so that memory
// stays small whatever the picture's size; any other file is decoded whole into picture and
// converted to 24 bits, as the window reads it. So is a file saved over itself: a file is never
// replaced while it is read (it stays locked for reading), so it is read whole and closed first.
std::unique_ptr<TRowSource> OpenInput(const std::string& path, const std::string& output,
                                      TBitmap& picture, TPictureExtras& extras) {
  if (std::unique_ptr<TRowSource> rows = OpenPictureRows(path, extras)) {
    if (!SameFile(rows->Handle(), output)) return rows;
  }
  ReadPicture(path, picture, extras);
  return std::make_unique<TBitmapRows>(picture);
}

// Where the bands go. An unfiltered copy keeps the picture's resolution, as the picture itself
// would be written; a filter's output is a new picture that carries none.
// A PNG keeps the picture's alpha, colour profile and metadata (extras must outlive the writer).
std::unique_ptr<TBandWriter> CreateOutput(const std::string& path, const TRowSource& rows,
                                          bool unfiltered, TOutputFormat format,
                                          const TPictureExtras& extras) {
  if (format == TOutputFormat::Png)
    return CreatePngWriter(path, rows.Width(), rows.Height(), extras);
  return std::make_unique<TBitmapBandWriter>(path, rows.Width(), rows.Height(),
                                             unfiltered ? rows.XPelsPerMeter() : 0,
                                             unfiltered ? rows.YPelsPerMeter() : 0);
}

// Why a file could not be read or written, in the user's words.
std::string CauseOf(int error) {
  switch (error) {
    case ENOSPC:
      return "ディスクの空き容量が足りません";
    case EDQUOT:
      return "ディスクの使用量の上限を超えました";
    case EFBIG:
      return "ファイルが大きすぎます (ファイル サイズの上限を超えました)";
    case EACCES:
    case EPERM:
      return "アクセス権がありません";
    case EROFS:
      return "読み取り専用のファイル システムです";
    case ENOENT:
      return "ファイルまたはフォルダーがありません";
    case ENOTDIR:
      return "パスの途中にフォルダーでないものがあります";
    case EISDIR:
      return "フォルダーです";
    case ELOOP:
      return "シンボリック リンクが循環しています";
    case ENAMETOOLONG:
      return "名前が長すぎます";
    case EWOULDBLOCK:
      return "ほかのプログラムが使用中です";
    case EIO:
      return "入出力エラーが起きました";
    case EMFILE:
    case ENFILE:
      return "開いているファイルが多すぎます";
    default:
      return "システム エラー (コード " + std::to_string(error) + ")";
  }
}

// The line after the message that names the file and what the system said of it; empty when
// no system call failed (a damaged picture says all in its message).
std::string CauseLine(const Exception& error, const std::string& input, const std::string& output) {
  if (error.SystemError() == 0) return {};
  const bool writing = dynamic_cast<const EWriteError*>(&error) != nullptr ||
                       dynamic_cast<const EFCreateError*>(&error) != nullptr;
  return "ファイル " + (writing ? output : input) + ": " + CauseOf(error.SystemError());
}

// filter is null for the unfiltered copy. strip leaves the colour profile and the metadata
// behind; the alpha plane, part of the picture, is always kept.
int Run(const TFilterEntry* filter, const std::string& input, const std::string& output,
        TOutputFormat format, int strength, bool strip) {
  TBitmap picture;  // only for a file that is decoded whole
  TPictureExtras extras;
  const std::unique_ptr<TRowSource> rows = OpenInput(input, output, picture, extras);
  if (strip) {
    extras.ColorProfile.clear();
    extras.Exif.clear();
    extras.Xmp.clear();
  }
  if (rows->Width() <= 0 || rows->Height() <= 0) throw Exception("画像が空です", "empty-picture");
  const std::unique_ptr<TBandWriter> writer =
      CreateOutput(output, *rows, filter == nullptr, format, extras);
  if (!FilterInBands(filter, static_cast<std::uint8_t>(strength), *rows, *writer))
    throw Exception(std::string(filter->Caption) + "を実行できませんでした", "filter-failed");
  return kSuccess;
}

int Main(int argc, char** argv) {
  std::vector<std::string> operands;
  int strength = kDefaultStrength;
  std::optional<TOutputFormat> format;
  bool verbose = false;
  bool strip = false;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--help") {
      PrintUsage(std::cout);
      return kSuccess;
    } else if (options && arg == "--verbose") {
      verbose = true;
    } else if (options && arg == "--strip") {
      strip = true;
    } else if (options && arg == "--version") {
      std::cout << "penamo-filter " << kVersion << '\n';
      return kSuccess;
    } else if (options && (arg == "--strength" || arg.starts_with("--strength="))) {
      std::string_view value;
      if (arg == "--strength") {
        if (i + 1 == argc) return UsageError("--strength に値がありません");
        value = argv[++i];
      } else {
        value = arg.substr(std::string_view("--strength=").size());
      }
      if (!ParseStrength(value, strength))
        return UsageError("--strength は 0 から 100 までの整数です: " + std::string(value));
    } else if (options && (arg == "--format" || arg.starts_with("--format="))) {
      std::string_view value;
      if (arg == "--format") {
        if (i + 1 == argc) return UsageError("--format に値がありません");
        value = argv[++i];
      } else {
        value = arg.substr(std::string_view("--format=").size());
      }
      if (value == "bmp") {
        format = TOutputFormat::Bitmap;
      } else if (value == "png") {
        format = TOutputFormat::Png;
      } else {
        return UsageError("--format は bmp または png です: " + std::string(value));
      }
    } else if (options && arg.size() > 1 && arg.front() == '-') {
      return UsageError("不明なオプションです: " + std::string(arg));
    } else {
      operands.emplace_back(arg);
    }
  }
  if (operands.size() != 3) return UsageError("FILTER, INPUT, OUTPUT の三つを指定してください");
  const TFilterEntry* filter = FindFilter(operands[0]);
  // The filters for deep pictures are not offered here yet.
  if (filter != nullptr && filter->TakesLevels) filter = nullptr;
  if (filter == nullptr && operands[0] != kNoFilterName)
    return UsageError("不明なフィルタです: " + operands[0]);

  try {
    return Run(filter, operands[1], operands[2], format.value_or(FormatOfName(operands[2])),
               strength, strip);
  } catch (const Exception& error) {
    std::cerr << MessageWithFullStop(error.Message()) << '\n';
    if (const std::string cause = CauseLine(error, operands[1], operands[2]); !cause.empty())
      std::cerr << cause << '\n';
    if (verbose) std::cerr << error.ClassName() << ": " << error.Reason() << '\n';
  } catch (const std::bad_alloc&) {
    std::cerr << MessageWithFullStop(Msg::OutOfMemory) << '\n';
    if (verbose) std::cerr << "std::bad_alloc: out-of-memory\n";
  } catch (const std::exception& error) {
    // Not one of ours, but still a message rather than an abort.
    std::cerr << MessageWithFullStop(error.what()) << '\n';
    if (verbose) std::cerr << "std::exception: unexpected\n";
  }
  return kFailure;
}

}  // namespace
}  // namespace penamo

int main(int argc, char** argv) {
  // Ctrl+C, kill or a closed terminal end a save by removing what it wrote; a file-size limit
  // ends it with the write error rather than a silent death.
  penamo::HandleInterruptions(penamo::TInterruptionPolicy::Abandon);
  return penamo::Main(argc, argv);
}
