// penamo-filter: one picture through one of the luma-reduction filters, from a picture file of
// any kind the library reads to a 24-bit bitmap file or a PNG file, without the window.
// The same reading, conversion, filters and writing as the window's save commands, so a script
// can do what a user does there. The two filters made for depth read the picture at its full
// precision (a 16-bit PNG or TIFF is never rounded to 8 bits first) and take a level count and
// grey output.
// Every save is one call of libpenamo's C interface (penamo_filter_file, FilterSave.h), which
// reads band by band where the file allows and saves in one pass; this file reads the command
// line (a table of options), whose kinds of file come from the library's format list, and runs
// the single-file form. The batch form (-o FOLDER) is FilterBatch.h's.

#include <getopt.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FilterBatch.h"
#include "FilterSave.h"
#include "penamo.h"

namespace penamo {
namespace {

// The unfiltered copy beside the filters of the library's list.
constexpr std::string_view kNoFilterName = "none";
constexpr std::string_view kNoFilterCaption = "フィルタなし (24ビットに変換するだけ)";

// The batch form's kind when --format does not name one: PNG, which keeps what a bitmap cannot.
constexpr penamo_format kBatchFormat = PENAMO_FORMAT_PNG;

// words joined by between, the last by beforeLast: "bmp または png".
std::string Joined(const std::vector<std::string>& words, std::string_view between,
                   std::string_view beforeLast) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? beforeLast : between;
    text += words[i];
  }
  return text;
}

// The filters that take --levels, --grey and --light, by name: "diffusion と ordered".
std::string LevelFilterNames() {
  std::vector<std::string> names;
  for (int i = 0; i < penamo_filter_count(); ++i)
    if (penamo_filter_at(i)->takes_levels != 0) names.emplace_back(penamo_filter_at(i)->name);
  return Joined(names, "、", " と ");
}

// Every kind the library reads, by its name: "Bitmap", "PNG", ...
std::vector<std::string> ReadKindNames() {
  std::vector<std::string> names;
  for (int i = 0; i < penamo_format_count(); ++i)
    names.emplace_back(penamo_format_at(i)->name);
  return names;
}

// The written kinds as --format names them: their usual extensions, "bmp", "png".
std::vector<std::string> WrittenKindNames() {
  std::vector<std::string> names;
  for (const penamo_format_info* format : WrittenFormats())
    names.emplace_back(format->extensions[0]);
  return names;
}

// How --format changes the batch form's names: "(--format bmp なら .bmp)", nothing when the
// batch's kind is the only one written.
std::string OtherBatchExtensions() {
  std::vector<std::string> others;
  for (const penamo_format_info* format : WrittenFormats())
    if (format->format != kBatchFormat)
      others.push_back(std::string("--format ") + format->extensions[0] + " なら ." +
                       format->extensions[0]);
  return others.empty() ? std::string() : " (" + Joined(others, "、", "、") + ")";
}

void PrintUsage(std::ostream& out) {
  const penamo_format_info* batch = WrittenFormat(kBatchFormat);
  out << "使い方: penamo-filter [--strength N] [--levels N] [--grey] [--light linear|encoded] "
         "[--format "
      << Joined(WrittenKindNames(), "|", "|")
      << "] [--strip] [--verbose] FILTER INPUT OUTPUT\n"
         "       penamo-filter [オプション] FILTER INPUT... -o FOLDER\n"
         "\n"
         "画像ファイル INPUT ("
      << Joined(ReadKindNames(), ", ", ", ")
      << ")\n"
         "を 24 ビットに変換し、"
         "FILTER を通して OUTPUT に書き込みます。OUTPUT の拡張子が .png なら PNG\n"
         "(透明度、ICC プロファイル、EXIF、XMP はそのまま)、それ以外は 24 ビットの\n"
         "ビットマップファイルになります。"
      << LevelFilterNames()
      << " は 16 ビットの PNG と TIFF を\n"
         "元の精度のまま読み込みます。\n"
         "-o FOLDER を付けると、すべての INPUT をフォルダー FOLDER に、それぞれの\n"
         "名前の拡張子を ."
      << (batch != nullptr ? batch->extensions[0] : "") << OtherBatchExtensions()
      << " にして書き込みます。\n"
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
         "  --levels N    "
      << LevelFilterNames()
      << " の輝度の階調数 (2 から 256 まで、既定値 256)\n"
         "  --grey        "
      << LevelFilterNames()
      << " で輝度だけのグレー画像にします (PNG は\n"
         "                2, 4, 16 階調なら 1, 2, 4 ビット)\n"
         "  --light L     "
      << LevelFilterNames()
      << " が誤差と階調の選択を測る量: linear は画面の光の\n"
         "                強さ (sRGB の曲線で線形にした輝度、既定値)、encoded は画素の値のまま\n"
         "  --format F    出力形式 "
      << Joined(WrittenKindNames(), ", ", " または ")
      << " (拡張子より優先します)\n"
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

// What the command line has given so far.
struct TCommandLine {
  TSettings Settings;
  bool LevelsGiven = false;  // --levels or --grey: only for the filters that take levels
  bool LightGiven = false;
  std::optional<penamo_format> Format;
  std::optional<std::string> OutputFolder;
  std::vector<std::string> Operands;
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
       for (const penamo_format_info* format : WrittenFormats()) {
         if (value == format->extensions[0]) {
           line.Format = format->format;
           return std::nullopt;
         }
       }
       return "--format は " + Joined(WrittenKindNames(), ", ", " または ") +
              " です: " + std::string(value);
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

// getopt_long's table: the options' rows, then --help and --version.
std::vector<option> LongOptions() {
  std::vector<option> longOptions;
  for (std::size_t i = 0; i < std::size(kOptions); ++i)
    longOptions.push_back(
        {kOptions[i].Name, kOptions[i].TakesValue ? required_argument : no_argument, nullptr,
         kOptions[i].Short != 0 ? kOptions[i].Short : kFirstLongCode + static_cast<int>(i)});
  longOptions.push_back({"help", no_argument, nullptr, kHelpCode});
  longOptions.push_back({"version", no_argument, nullptr, kVersionCode});
  longOptions.push_back({nullptr, 0, nullptr, 0});
  return longOptions;
}

// Reads the options and operands into line, each element where it stands. Returns the exit code
// when the run ends here (--help, --version, a usage error), else nothing.
std::optional<int> ReadCommandLine(int argc, char** argv, TCommandLine& line) {
  const std::vector<option> longOptions = LongOptions();
  // "-": operands come back in order as code 1, so every element is handled where it stands;
  // ":": a missing value is told apart from an unknown option.
  opterr = 0;
  for (;;) {
    const int at = optind;  // the element getopt_long looks at now
    const int code = getopt_long(argc, argv, "-:o:", longOptions.data(), nullptr);
    if (code == -1) break;
    if (code == 1) {
      line.Operands.emplace_back(optarg);
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
    line.Operands.emplace_back(argv[i]);
  return std::nullopt;
}

// The operands' count for the form, the filter they name and the options it takes: a usage
// error's exit code, or nothing when all is well (the filter then in line's settings).
std::optional<int> TakeFilter(TCommandLine& line) {
  const std::vector<std::string>& operands = line.Operands;
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
    return UsageError("--levels と --grey は " + LevelFilterNames() +
                      " にだけ指定できます: " + operands[0]);
  if (line.LightGiven && !takesLevels)
    return UsageError("--light は " + LevelFilterNames() + " にだけ指定できます: " + operands[0]);
  return std::nullopt;
}

// The single-file form: INPUT through the filter into OUTPUT, the kind by --format or the name.
int SaveOne(const TCommandLine& line) {
  const TContext context = NewContext(line.Settings);
  if (const std::optional<std::string> failure =
          Save(context.get(), line.Operands[1], line.Operands[2],
               line.Format.value_or(PENAMO_FORMAT_BY_NAME), line.Settings.Verbose)) {
    std::cerr << *failure;
    return kFailure;
  }
  return kSuccess;
}

// The batch form: every INPUT into the folder, as the kind --format names or the batch's own.
int SaveAll(const TCommandLine& line) {
  const penamo_format_info* format = WrittenFormat(line.Format.value_or(kBatchFormat));
  if (format == nullptr) {
    std::cerr << "penamo-filter: 出力形式を書き込めません\n";
    return kFailure;
  }
  const std::vector<std::string> inputs(line.Operands.begin() + 1, line.Operands.end());
  return RunBatch(line.Settings, inputs, *line.OutputFolder, *format);
}

int Main(int argc, char** argv) {
  TCommandLine line;
  if (const std::optional<int> ended = ReadCommandLine(argc, argv, line)) return *ended;
  if (const std::optional<int> wrong = TakeFilter(line)) return *wrong;
  return line.OutputFolder ? SaveAll(line) : SaveOne(line);
}

}  // namespace
}  // namespace penamo

int main(int argc, char** argv) {
  // Ctrl+C, kill or a closed terminal end a save by removing what it wrote; a file-size limit
  // ends it with the write error rather than a silent death.
  penamo_handle_interruptions();
  return penamo::Main(argc, argv);
}
