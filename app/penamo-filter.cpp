// penamo-filter: one picture through one of the luma-reduction filters, from a picture file
// (bitmap, PNG, JPEG, TIFF, WebP, GIF, HEIF, AVIF or JPEG XL) to a 24-bit bitmap file or a PNG
// file, without the window.
// The same reading, conversion, filters and writing as the window's save commands, so a script
// can do what a user does there. The two filters made for depth read the picture at its full
// precision (a 16-bit PNG or TIFF is never rounded to 8 bits first) and take a level count and
// grey output.
// The save runs in one pass, band by band (BandFilter.h): input side and output side are one
// call each. Many pictures go at once into one folder (-o FOLDER), several saved side by side;
// one picture's failure is reported with its name and the others go on.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "BandFilter.h"
#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "DeepLevels.h"
#include "DeepRowSource.h"
#include "Exceptions.h"
#include "FailureCause.h"
#include "FilterTable.h"
#include "Limits.h"
#include "Machine.h"
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
  out << "使い方: penamo-filter [--strength N] [--levels N] [--grey] [--light linear|encoded] "
         "[--format bmp|png] [--strip] [--verbose] FILTER INPUT OUTPUT\n"
         "       penamo-filter [オプション] FILTER INPUT... -o FOLDER\n"
         "\n"
         "画像ファイル INPUT (ビットマップ, PNG, JPEG, TIFF, WebP, GIF, HEIF, AVIF, JPEG XL)\n"
         "を 24 ビットに変換し、"
         "FILTER を通して OUTPUT に書き込みます。OUTPUT の拡張子が .png なら PNG\n"
         "(透明度、ICC プロファイル、EXIF、XMP はそのまま)、それ以外は 24 ビットの\n"
         "ビットマップファイルになります。diffusion と ordered は 16 ビットの PNG と TIFF を\n"
         "元の精度のまま読み込みます。\n"
         "-o FOLDER を付けると、すべての INPUT をフォルダー FOLDER に、それぞれの\n"
         "名前の拡張子を .png (--format bmp なら .bmp) にして書き込みます。\n"
         "\n"
         "FILTER:\n";
  const auto line = [&](std::string_view name, std::string_view caption) {
    std::string column(name);
    column.resize(13, ' ');
    out << "  " << column << caption << '\n';
  };
  for (const TFilterEntry& filter : FilterTable())
    line(filter.Name, filter.Caption);
  line(kNoFilterName, kNoFilterCaption);
  out << "\n"
         "オプション:\n"
         "  --strength N  diffusion64, diffusion32, diffusion16 の誤差拡散の強さ\n"
         "                (0 から 100 まで、既定値 100)\n"
         "  --levels N    diffusion と ordered の輝度の階調数 (2 から 256 まで、既定値 256)\n"
         "  --grey        diffusion と ordered で輝度だけのグレー画像にします (PNG は\n"
         "                2, 4, 16 階調なら 1, 2, 4 ビット)\n"
         "  --light L     diffusion と ordered が誤差と階調の選択を測る量: linear は画面の光の\n"
         "                強さ (sRGB の曲線で線形にした輝度、既定値)、encoded は画素の値のまま\n"
         "  --format F    出力形式 bmp または png (拡張子より優先します)\n"
         "  --strip       ICC プロファイル、EXIF、XMP を PNG に書き込みません\n"
         "  --trusted-input\n"
         "                ファイルのデータ量に比べて大きすぎる画像も読み込みます (信頼できる\n"
         "                ファイルにだけ使ってください)\n"
         "  -o FOLDER, --output-folder FOLDER\n"
         "                出力先のフォルダー (INPUT をいくつでも指定できます)\n"
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

bool ParseLight(std::string_view text, TDeepLight& light) {
  if (text == "linear") {
    light = TDeepLight::Linear;
  } else if (text == "encoded") {
    light = TDeepLight::Encoded;
  } else {
    return false;
  }
  return true;
}

bool ParseLevels(std::string_view text, std::int32_t& levels) {
  if (text.empty() || text.size() > 3) return false;
  std::int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < kMinDeepLevels || value > kMaxDeepLevels) return false;
  levels = value;
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

// The deep rows to save, on the same terms as OpenInput: band by band from the file where it
// allows (a 16-bit PNG at its full precision, the 8-bit band-by-band files widened), else the
// whole picture read into picture at its full precision.
std::unique_ptr<TDeepRowSource> OpenDeepInput(const std::string& path, const std::string& output,
                                              TDeepPicture& picture, TPictureExtras& extras) {
  if (std::unique_ptr<TDeepRowSource> rows = OpenPictureDeepRows(path, extras)) {
    if (!SameFile(rows->Handle(), output)) return rows;
  }
  ReadPictureDeep(path, picture, extras);
  return std::make_unique<TDeepPictureRows>(picture);
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

// The line after the message that names the file and why it failed: what the system said of it,
// where its data ended, or that it is damaged (FailureCauseLine); empty when nothing more is
// known.
std::string CauseLine(const Exception& error, const std::string& input, const std::string& output) {
  return FailureCauseLine(error, IsWriteFailure(error) ? output : input);
}

// Grey output: a PNG at the smallest depth that holds the levels (grey and alpha at 8 bits when
// the picture has transparency); a bitmap stays 24-bit, its pixels grey.
std::unique_ptr<TBandWriter> CreateDeepOutput(const std::string& path, std::int32_t width,
                                              std::int32_t height, TOutputFormat format,
                                              const TDeepOptions& deep,
                                              const TPictureExtras& extras) {
  if (format == TOutputFormat::Png) {
    TPngWriterOptions options = DefaultPngWriterOptions();
    if (deep.Grey) options.GreyDepth = PngGreyDepthForLevels(deep.Levels);
    return CreatePngWriter(path, width, height, extras, options);
  }
  return std::make_unique<TBitmapBandWriter>(path, width, height);
}

// What strip leaves behind: the colour profile and the metadata; the alpha plane, part of the
// picture, is always kept.
void Strip(TPictureExtras& extras) {
  extras.ColorProfile.clear();
  extras.Exif.clear();
  extras.Xmp.clear();
}

int RunDeep(const TFilterEntry& filter, const TDeepOptions& deep, const std::string& input,
            const std::string& output, TOutputFormat format, bool strip) {
  TDeepPicture picture;  // only for a file that is read whole
  TPictureExtras extras;
  const std::unique_ptr<TDeepRowSource> rows = OpenDeepInput(input, output, picture, extras);
  if (strip) Strip(extras);
  if (rows->Width() <= 0 || rows->Height() <= 0) throw Exception("画像が空です", "empty-picture");
  const std::unique_ptr<TBandWriter> writer =
      CreateDeepOutput(output, rows->Width(), rows->Height(), format, deep, extras);
  if (!FilterDeepInBands(filter, deep, *rows, *writer))
    throw Exception(std::string(filter.Caption) + "を実行できませんでした", "filter-failed");
  return kSuccess;
}

// filter is null for the unfiltered copy.
int Run(const TFilterEntry* filter, const std::string& input, const std::string& output,
        TOutputFormat format, int strength, bool strip) {
  TBitmap picture;  // only for a file that is decoded whole
  TPictureExtras extras;
  const std::unique_ptr<TRowSource> rows = OpenInput(input, output, picture, extras);
  if (strip) Strip(extras);
  if (rows->Width() <= 0 || rows->Height() <= 0) throw Exception("画像が空です", "empty-picture");
  const std::unique_ptr<TBandWriter> writer =
      CreateOutput(output, *rows, filter == nullptr, format, extras);
  if (!FilterInBands(filter, static_cast<std::uint8_t>(strength), *rows, *writer))
    throw Exception(std::string(filter->Caption) + "を実行できませんでした", "filter-failed");
  return kSuccess;
}

// What every save of one run shares: the filter (null for the unfiltered copy) and its options.
struct TSettings {
  const TFilterEntry* Filter = nullptr;
  int Strength = kDefaultStrength;
  TDeepOptions Deep;
  bool Strip = false;  // no colour profile nor metadata in the output
  bool Verbose = false;
};

// One picture from input to output; errors reach the caller.
void Save(const TSettings& settings, const std::string& input, const std::string& output,
          TOutputFormat format) {
  if (settings.Filter != nullptr && settings.Filter->TakesLevels)
    RunDeep(*settings.Filter, settings.Deep, input, output, format, settings.Strip);
  else
    Run(settings.Filter, input, output, format, settings.Strength, settings.Strip);
}

// The lines that tell the user why the save of input to output failed, each ending in a line
// break: the message in the window's words, the system's cause when a call failed, and with
// verbose the error's class and reason. Called from a handler, for the error being handled.
std::string FailureLines(const std::string& input, const std::string& output, bool verbose) {
  std::string lines;
  try {
    throw;
  } catch (const Exception& error) {
    lines = MessageWithFullStop(error.Message()) + '\n';
    if (const std::string cause = CauseLine(error, input, output); !cause.empty())
      lines += cause + '\n';
    if (verbose) lines += std::string(error.ClassName()) + ": " + error.Reason() + '\n';
  } catch (const std::bad_alloc&) {
    lines = MessageWithFullStop(Msg::OutOfMemory) + '\n';
    if (verbose) lines += "std::bad_alloc: out-of-memory\n";
  } catch (const std::exception& error) {
    // Not one of ours, but still a message rather than an abort.
    lines = MessageWithFullStop(error.what()) + '\n';
    if (verbose) lines += "std::exception: unexpected\n";
  } catch (...) {
    lines = "予期しないエラーが起きました.\n";
    if (verbose) lines += "unknown: unexpected\n";
  }
  return lines;
}

// One picture of a batch: where it goes, or why it is not saved at all.
struct TBatchItem {
  std::string Input;
  std::string Output;
  std::string Refusal;  // non-empty: not saved, for this reason
};

// The file an existing output name leads to (through links), so that two names of one file are
// one output; nothing for a name that leads to no file yet.
std::optional<std::pair<dev_t, ino_t>> ExistingFile(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return std::pair{status.st_dev, status.st_ino};
}

// Each input's output in folder: its base name without its extension, then .png or .bmp. An
// output name that an earlier input already takes is refused rather than numbered or written
// twice, so a run never overwrites one of its own results and every name can be foretold.
std::vector<TBatchItem> PlanBatch(const std::vector<std::string>& inputs, const std::string& folder,
                                  TOutputFormat format) {
  std::vector<TBatchItem> items;
  std::map<std::string, std::string> taken;              // output name → the input that has it
  std::map<std::pair<dev_t, ino_t>, std::string> files;  // existing output → the input
  const char* extension = format == TOutputFormat::Png ? ".png" : ".bmp";
  for (const std::string& input : inputs) {
    TBatchItem item;
    item.Input = input;
    const std::string stem = std::filesystem::path(input).stem().string();
    if (stem.empty() || stem == "." || stem == "..") {
      item.Refusal = "出力ファイルの名前を決められません";
    } else {
      item.Output = (folder == "/" ? "" : folder) + "/" + stem + extension;
      const auto [earlier, added] = taken.emplace(item.Output, input);
      if (!added) {
        item.Refusal = "出力ファイル " + item.Output + " は " + earlier->second +
                       " の出力と同じ名前なので、保存しません";
      } else if (const auto file = ExistingFile(item.Output)) {
        // A link to another output, or another name of its file: one file, written once.
        const auto [same, fresh] = files.emplace(*file, input);
        if (!fresh)
          item.Refusal = "出力ファイル " + item.Output + " は " + same->second +
                         " の出力と同じファイルなので、保存しません";
      }
    }
    items.push_back(std::move(item));
  }
  return items;
}

// "1 分 5 秒" or "12 秒".
std::string DurationText(std::chrono::seconds duration) {
  const auto total = std::max<std::int64_t>(0, duration.count());
  if (total < 60) return std::to_string(total) + " 秒";
  if (total < 3600) return std::to_string(total / 60) + " 分 " + std::to_string(total % 60) + " 秒";
  return std::to_string(total / 3600) + " 時間 " + std::to_string(total / 60 % 60) + " 分";
}

// The batch's progress and messages on standard error. Messages may come from several saves at
// once and are written whole, one at a time; on a terminal a progress line (files done of all,
// time left) stays below them, redrawn in place. Off a terminal there is no progress line at all,
// only the messages.
class TBatchReport {
 public:
  TBatchReport(std::size_t total, bool terminal)
      : FTotal(total), FTerminal(terminal), FStart(std::chrono::steady_clock::now()) {
    DrawLine();  // before any save can start, so the count begins at 0
  }

  void Done(bool saved, const std::string& input, const std::string& lines) {
    const std::lock_guard<std::mutex> guard(FLock);
    ++FDone;
    if (!saved) {
      ++FFailed;
      ClearLine();
      std::cerr << input << ": " << lines << std::flush;
    }
    DrawLine();
    FChanged.notify_all();
  }

  // Redraws the progress line every second (so the time left counts down) until every picture
  // is done; then leaves the last counts on their own line.
  void Follow() {
    std::unique_lock<std::mutex> lock(FLock);
    while (FDone < FTotal) {
      FChanged.wait_for(lock, std::chrono::seconds(1));
      DrawLine();
    }
    if (FTerminal) {
      ClearLine();
      std::cerr << FDone - FFailed << " / " << FTotal << " ファイルを保存しました ("
                << DurationText(Elapsed()) << ")\n";
    }
    if (FFailed > 0)
      std::cerr << FTotal << " 個のファイルのうち " << FFailed << " 個を保存できませんでした\n";
    std::cerr << std::flush;
  }

  std::size_t Failed() const {
    const std::lock_guard<std::mutex> guard(FLock);
    return FFailed;
  }

 private:
  std::chrono::seconds Elapsed() const {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            FStart);
  }

  void ClearLine() {
    if (FTerminal) std::cerr << "\r\033[K";
  }

  void DrawLine() {
    if (!FTerminal) return;
    std::string line = std::to_string(FDone) + " / " + std::to_string(FTotal) + " ファイル完了";
    if (FDone > 0 && FDone < FTotal) {
      const auto elapsed = std::chrono::steady_clock::now() - FStart;
      const auto left =
          elapsed * static_cast<std::int64_t>(FTotal - FDone) / static_cast<std::int64_t>(FDone);
      line += "、残り約 " + DurationText(std::chrono::ceil<std::chrono::seconds>(left));
    }
    std::cerr << "\r" << line << "\033[K" << std::flush;
  }

  const std::size_t FTotal;
  const bool FTerminal;
  const std::chrono::steady_clock::time_point FStart;
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::size_t FDone = 0;
  std::size_t FFailed = 0;
};

// At most kMostPicturesAtOnce, however many cores: each picture under way holds its own bands
// (or, for a file read whole, its whole picture), and the interruption handlers keep track of
// 16 temporary files at once (SaveInterruption.cpp), which the saves under way must not outnumber.
constexpr std::size_t kMostPicturesAtOnce = 8;

// How many pictures are saved side by side: one per core, never more than there are pictures.
// The filters and the PNG writer share one picture between the cores only in part (reading, the
// deep diffusion and the small pictures' filters run on one core), so pictures side by side keep
// every core busier. bench/batch-bench.sh measured photographs of 0.5 and 3 megapixels saved up
// to 2.8 times faster than one at a time (the deep diffusion least: 1.05 to 1.4 times), and
// 12-megapixel ones about as fast, within the noise of a busy machine.
std::size_t PicturesAtOnce(std::size_t pictures) {
  return std::clamp<std::size_t>(static_cast<std::size_t>(UsableCores()), 1,
                                 std::min(pictures, kMostPicturesAtOnce));
}

// Every input into folder. Returns kSuccess when every picture was saved, else kFailure; a
// folder that cannot be used fails before any picture is read.
int RunBatch(const TSettings& settings, const std::vector<std::string>& inputs, std::string folder,
             TOutputFormat format) {
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    std::cerr << "出力フォルダー " << folder << " を使えません: " << CauseOf(errno) << '\n';
    return kFailure;
  }
  if (!S_ISDIR(info.st_mode)) {
    std::cerr << "出力フォルダー " << folder << " を使えません: フォルダーではありません\n";
    return kFailure;
  }
  const std::vector<TBatchItem> items = PlanBatch(inputs, folder, format);
  TBatchReport report(items.size(), ::isatty(STDERR_FILENO) == 1);
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < items.size(); i = next++) {
      const TBatchItem& item = items[i];
      if (!item.Refusal.empty()) {
        report.Done(false, item.Input, MessageWithFullStop(item.Refusal) + '\n');
        continue;
      }
      try {
        Save(settings, item.Input, item.Output, format);
        report.Done(true, item.Input, {});
      } catch (...) {
        report.Done(false, item.Input, FailureLines(item.Input, item.Output, settings.Verbose));
      }
    }
  };
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < PicturesAtOnce(items.size()); ++i) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the pictures go through the workers already running, or this thread's
    }
  }
  if (workers.empty()) work();
  report.Follow();
  for (std::thread& worker : workers)
    worker.join();
  return report.Failed() == 0 ? kSuccess : kFailure;
}

int Main(int argc, char** argv) {
  std::vector<std::string> operands;
  int strength = kDefaultStrength;
  TDeepOptions deep;
  bool deepOptionGiven = false;
  bool lightGiven = false;
  std::optional<TOutputFormat> format;
  std::optional<std::string> outputFolder;
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
    } else if (options && arg == "--trusted-input") {
      SetClaimRuleLifted(true);
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
    } else if (options && (arg == "--levels" || arg.starts_with("--levels="))) {
      std::string_view value;
      if (arg == "--levels") {
        if (i + 1 == argc) return UsageError("--levels に値がありません");
        value = argv[++i];
      } else {
        value = arg.substr(std::string_view("--levels=").size());
      }
      if (!ParseLevels(value, deep.Levels))
        return UsageError("--levels は 2 から 256 までの整数です: " + std::string(value));
      deepOptionGiven = true;
    } else if (options && arg == "--grey") {
      deep.Grey = true;
      deepOptionGiven = true;
    } else if (options && (arg == "--light" || arg.starts_with("--light="))) {
      std::string_view value;
      if (arg == "--light") {
        if (i + 1 == argc) return UsageError("--light に値がありません");
        value = argv[++i];
      } else {
        value = arg.substr(std::string_view("--light=").size());
      }
      if (!ParseLight(value, deep.Light))
        return UsageError("--light は linear または encoded です: " + std::string(value));
      lightGiven = true;
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
    } else if (options &&
               (arg == "-o" || arg == "--output-folder" || arg.starts_with("--output-folder="))) {
      std::string_view value;
      if (arg == "-o" || arg == "--output-folder") {
        if (i + 1 == argc) return UsageError(std::string(arg) + " に値がありません");
        value = argv[++i];
      } else {
        value = arg.substr(std::string_view("--output-folder=").size());
      }
      if (outputFolder) return UsageError("出力フォルダーは一つだけ指定してください");
      if (value.empty()) return UsageError("出力フォルダーの名前が空です");
      outputFolder = std::string(value);
    } else if (options && arg.size() > 1 && arg.front() == '-') {
      return UsageError("不明なオプションです: " + std::string(arg));
    } else {
      operands.emplace_back(arg);
    }
  }
  if (outputFolder && operands.size() < 2)
    return UsageError("FILTER と、一つ以上の INPUT を指定してください");
  if (!outputFolder && operands.size() != 3)
    return UsageError("FILTER, INPUT, OUTPUT の三つを指定してください");
  TSettings settings;
  settings.Filter = FindFilter(operands[0]);
  settings.Strength = strength;
  settings.Deep = deep;
  settings.Strip = strip;
  settings.Verbose = verbose;
  if (settings.Filter == nullptr && operands[0] != kNoFilterName)
    return UsageError("不明なフィルタです: " + operands[0]);
  if (deepOptionGiven && (settings.Filter == nullptr || !settings.Filter->TakesLevels))
    return UsageError("--levels と --grey は diffusion と ordered にだけ指定できます: " +
                      operands[0]);
  if (lightGiven && (settings.Filter == nullptr || !settings.Filter->TakesLevels))
    return UsageError("--light は diffusion と ordered にだけ指定できます: " + operands[0]);

  if (outputFolder) {
    const std::vector<std::string> inputs(operands.begin() + 1, operands.end());
    return RunBatch(settings, inputs, *outputFolder, format.value_or(TOutputFormat::Png));
  }
  try {
    Save(settings, operands[1], operands[2], format.value_or(FormatOfName(operands[2])));
    return kSuccess;
  } catch (...) {
    std::cerr << FailureLines(operands[1], operands[2], verbose);
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
