// penamo-filter: one picture through one of the luma-reduction filters, from a picture file
// (bitmap, PNG, JPEG, TIFF, WebP, GIF, HEIF, AVIF or JPEG XL) to a 24-bit bitmap file or a PNG
// file, without the window.
// The same reading, conversion, filters and writing as the window's save commands, so a script
// can do what a user does there. The two filters made for depth read the picture at its full
// precision (a 16-bit PNG or TIFF is never rounded to 8 bits first) and take a level count and
// grey output.
// Every save is one call of libpenamo's C interface (penamo_filter_file), which reads band by
// band where the file allows and saves in one pass; the program itself reads the command line
// (a table of options), plans the batch and prints the library's words. Many pictures go at
// once into one folder (-o FOLDER), several saved side by side, each thread with a context of
// its own; one picture's failure is reported with its name and the others go on.

#include <getopt.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "penamo.h"

namespace penamo {
namespace {

constexpr int kDefaultStrength = 100;

enum TExitCode { kSuccess = 0, kFailure = 1, kUsage = 2 };

// The unfiltered copy beside the filters of the library's list.
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
  for (int i = 0; i < penamo_filter_count(); ++i)
    line(penamo_filter_at(i)->name, penamo_filter_at(i)->caption);
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

// A whole number of at most three digits from low to high, or nothing.
std::optional<int> ParseSmallNumber(std::string_view text, int low, int high) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

// What every save of one run shares: the filter (null for the unfiltered copy) and its options,
// as the command line gave them.
struct TSettings {
  std::string FilterName;
  const penamo_filter_info* Filter = nullptr;
  int Strength = kDefaultStrength;
  int Levels = 256;
  bool Grey = false;
  penamo_light Light = PENAMO_LIGHT_LINEAR;
  bool Strip = false;  // no colour profile nor metadata in the output
  bool Trusted = false;
  bool Verbose = false;
};

struct TContextFree {
  void operator()(penamo_context* context) const { penamo_context_free(context); }
};
using TContext = std::unique_ptr<penamo_context, TContextFree>;

// A context holding the settings, one for each thread that saves; null when memory is short.
TContext NewContext(const TSettings& settings) {
  TContext context(penamo_context_new());
  if (!context) return context;
  // The options were checked on the command line: every setting is in range.
  penamo_set_filter(context.get(), settings.FilterName.c_str());
  penamo_set_strength(context.get(), settings.Strength);
  penamo_set_levels(context.get(), settings.Levels);
  penamo_set_grey(context.get(), settings.Grey ? 1 : 0);
  penamo_set_light(context.get(), settings.Light);
  penamo_set_strip(context.get(), settings.Strip ? 1 : 0);
  penamo_set_trusted_input(context.get(), settings.Trusted ? 1 : 0);
  return context;
}

// The lines that tell the user why the save failed, each ending in a line break: the message
// in the window's words, the system's cause when a call failed, and with verbose the error's
// class and reason, all as the library holds them in context after the failure.
std::string FailureLines(const penamo_context& context, bool verbose) {
  std::string lines = std::string(penamo_message(&context)) + '\n';
  if (const std::string cause = penamo_cause(&context); !cause.empty()) lines += cause + '\n';
  if (verbose)
    lines += std::string(penamo_error_class(&context)) + ": " + penamo_reason(&context) + '\n';
  return lines;
}

// What is said when not even a context can be had.
constexpr const char* kOutOfMemoryLine = "メモリが足りません.\n";

// One picture from input to output; the lines saying why it failed, or nothing when it was saved.
std::optional<std::string> Save(penamo_context* context, const std::string& input,
                                const std::string& output, penamo_format format, bool verbose) {
  if (context == nullptr) return kOutOfMemoryLine;
  if (penamo_filter_file(context, input.c_str(), output.c_str(), format) == PENAMO_OK)
    return std::nullopt;
  return FailureLines(*context, verbose);
}

// What the system's error code means for a file, in the library's words.
std::string CauseOf(int error) {
  std::string cause(penamo_system_cause(error, nullptr, 0), '\0');
  penamo_system_cause(error, cause.data(), cause.size() + 1);
  return cause;
}

// The cores this process may run on (its CPU affinity), at least 1.
int UsableCores() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
    return CPU_COUNT(&allowed);
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
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
                                  penamo_format format) {
  std::vector<TBatchItem> items;
  std::map<std::string, std::string> taken;              // output name → the input that has it
  std::map<std::pair<dev_t, ino_t>, std::string> files;  // existing output → the input
  const char* extension = format == PENAMO_FORMAT_PNG ? ".png" : ".bmp";
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
             penamo_format format) {
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
    // A context of this thread's own: contexts are used by one thread at a time.
    const TContext context = NewContext(settings);
    for (std::size_t i = next++; i < items.size(); i = next++) {
      const TBatchItem& item = items[i];
      if (!item.Refusal.empty()) {
        // Every refusal ends in a character after "." : the message takes a full stop.
        report.Done(false, item.Input, item.Refusal + ".\n");
        continue;
      }
      const std::optional<std::string> failure =
          Save(context.get(), item.Input, item.Output, format, settings.Verbose);
      report.Done(!failure, item.Input, failure.value_or(std::string()));
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

// What the command line has given so far.
struct TCommandLine {
  TSettings Settings;
  bool LevelsGiven = false;  // --levels or --grey: only for the filters that take levels
  bool LightGiven = false;
  std::optional<penamo_format> Format;
  std::optional<std::string> OutputFolder;
};

// One option: its long name, its short letter (0: none), whether it takes a value, and what it
// does with the value; the problem to report (without the program's name), or nothing.
struct TOption {
  const char* Name;
  char Short;
  bool TakesValue;
  std::optional<std::string> (*Apply)(TCommandLine& line, std::string_view value);
};

// The options other than --help and --version, which end the run at once.
constexpr TOption kOptions[] = {
    {"verbose", 0, false,
     [](TCommandLine& line, std::string_view) -> std::optional<std::string> {
       line.Settings.Verbose = true;
       return std::nullopt;
     }},
    {"strip", 0, false,
     [](TCommandLine& line, std::string_view) -> std::optional<std::string> {
       line.Settings.Strip = true;
       return std::nullopt;
     }},
    {"trusted-input", 0, false,
     [](TCommandLine& line, std::string_view) -> std::optional<std::string> {
       line.Settings.Trusted = true;
       return std::nullopt;
     }},
    {"strength", 0, true,
     [](TCommandLine& line, std::string_view value) -> std::optional<std::string> {
       const std::optional<int> strength = ParseSmallNumber(value, 0, 100);
       if (!strength) return "--strength は 0 から 100 までの整数です: " + std::string(value);
       line.Settings.Strength = *strength;
       return std::nullopt;
     }},
    {"levels", 0, true,
     [](TCommandLine& line, std::string_view value) -> std::optional<std::string> {
       const std::optional<int> levels = ParseSmallNumber(value, 2, 256);
       if (!levels) return "--levels は 2 から 256 までの整数です: " + std::string(value);
       line.Settings.Levels = *levels;
       line.LevelsGiven = true;
       return std::nullopt;
     }},
    {"grey", 0, false,
     [](TCommandLine& line, std::string_view) -> std::optional<std::string> {
       line.Settings.Grey = true;
       line.LevelsGiven = true;
       return std::nullopt;
     }},
    {"light", 0, true,
     [](TCommandLine& line, std::string_view value) -> std::optional<std::string> {
       if (value == "linear") {
         line.Settings.Light = PENAMO_LIGHT_LINEAR;
       } else if (value == "encoded") {
         line.Settings.Light = PENAMO_LIGHT_ENCODED;
       } else {
         return "--light は linear または encoded です: " + std::string(value);
       }
       line.LightGiven = true;
       return std::nullopt;
     }},
    {"format", 0, true,
     [](TCommandLine& line, std::string_view value) -> std::optional<std::string> {
       if (value == "bmp") {
         line.Format = PENAMO_FORMAT_BMP;
       } else if (value == "png") {
         line.Format = PENAMO_FORMAT_PNG;
       } else {
         return "--format は bmp または png です: " + std::string(value);
       }
       return std::nullopt;
     }},
    {"output-folder", 'o', true,
     [](TCommandLine& line, std::string_view value) -> std::optional<std::string> {
       if (line.OutputFolder) return "出力フォルダーは一つだけ指定してください";
       if (value.empty()) return "出力フォルダーの名前が空です";
       line.OutputFolder = std::string(value);
       return std::nullopt;
     }},
};

// getopt_long's codes for the options without a letter: their row's index from here on.
constexpr int kFirstLongCode = 256;
constexpr int kHelpCode = 512;
constexpr int kVersionCode = 513;

// Whether arg is exactly the option as written out: "--name", "--name=VALUE" (with a value) or
// its letter alone, "-o"; getopt_long also takes abbreviations and "-oVALUE", which are unknown
// options here.
bool WrittenOut(std::string_view arg, const char* name, char letter, bool takesValue) {
  if (letter != 0 && arg == std::string{'-', letter}) return true;
  const std::string full = std::string("--") + name;
  return arg == full || (takesValue && arg.starts_with(full + "="));
}

int Main(int argc, char** argv) {
  std::vector<option> longOptions;
  for (std::size_t i = 0; i < std::size(kOptions); ++i)
    longOptions.push_back(
        {kOptions[i].Name, kOptions[i].TakesValue ? required_argument : no_argument, nullptr,
         kOptions[i].Short != 0 ? kOptions[i].Short : kFirstLongCode + static_cast<int>(i)});
  longOptions.push_back({"help", no_argument, nullptr, kHelpCode});
  longOptions.push_back({"version", no_argument, nullptr, kVersionCode});
  longOptions.push_back({nullptr, 0, nullptr, 0});

  TCommandLine line;
  std::vector<std::string> operands;
  // "-": operands come back in order as code 1, so every element is handled where it stands;
  // ":": a missing value is told apart from an unknown option.
  opterr = 0;
  for (;;) {
    const int at = optind;  // the element getopt_long looks at now
    const int code = getopt_long(argc, argv, "-:o:", longOptions.data(), nullptr);
    if (code == -1) break;
    if (code == 1) {
      operands.emplace_back(optarg);
      continue;
    }
    const std::string_view arg = argv[at];
    if (code == ':') {
      const bool named =
          std::any_of(std::begin(kOptions), std::end(kOptions), [&](const TOption& o) {
            return o.TakesValue && WrittenOut(arg, o.Name, o.Short, false);
          });
      if (!named) return UsageError("不明なオプションです: " + std::string(arg));
      return UsageError(std::string(arg) + " に値がありません");
    }
    if (code == kHelpCode && arg == "--help") {
      PrintUsage(std::cout);
      return kSuccess;
    }
    if (code == kVersionCode && arg == "--version") {
      std::cout << "penamo-filter " << penamo_version() << '\n';
      return kSuccess;
    }
    const TOption* found = nullptr;
    for (std::size_t i = 0; i < std::size(kOptions); ++i) {
      const TOption& candidate = kOptions[i];
      if (code == (candidate.Short != 0 ? candidate.Short : kFirstLongCode + static_cast<int>(i)))
        found = &candidate;
    }
    if (found == nullptr || !WrittenOut(arg, found->Name, found->Short, found->TakesValue))
      return UsageError("不明なオプションです: " + std::string(arg));
    if (const auto problem = found->Apply(line, found->TakesValue ? optarg : ""))
      return UsageError(*problem);
  }
  for (int i = optind; i < argc; ++i)
    operands.emplace_back(argv[i]);

  if (line.OutputFolder && operands.size() < 2)
    return UsageError("FILTER と、一つ以上の INPUT を指定してください");
  if (!line.OutputFolder && operands.size() != 3)
    return UsageError("FILTER, INPUT, OUTPUT の三つを指定してください");
  TSettings& settings = line.Settings;
  settings.FilterName = operands[0];
  settings.Filter = penamo_filter_named(operands[0].c_str());
  if (settings.Filter == nullptr && operands[0] != kNoFilterName)
    return UsageError("不明なフィルタです: " + operands[0]);
  const bool takesLevels = settings.Filter != nullptr && settings.Filter->takes_levels != 0;
  if (line.LevelsGiven && !takesLevels)
    return UsageError("--levels と --grey は diffusion と ordered にだけ指定できます: " +
                      operands[0]);
  if (line.LightGiven && !takesLevels)
    return UsageError("--light は diffusion と ordered にだけ指定できます: " + operands[0]);

  if (line.OutputFolder) {
    const std::vector<std::string> inputs(operands.begin() + 1, operands.end());
    return RunBatch(settings, inputs, *line.OutputFolder, line.Format.value_or(PENAMO_FORMAT_PNG));
  }
  const TContext context = NewContext(settings);
  if (const std::optional<std::string> failure =
          Save(context.get(), operands[1], operands[2], line.Format.value_or(PENAMO_FORMAT_BY_NAME),
               settings.Verbose)) {
    std::cerr << *failure;
    return kFailure;
  }
  return kSuccess;
}

}  // namespace
}  // namespace penamo

int main(int argc, char** argv) {
  // Ctrl+C, kill or a closed terminal end a save by removing what it wrote; a file-size limit
  // ends it with the write error rather than a silent death.
  penamo_handle_interruptions();
  return penamo::Main(argc, argv);
}
