// penamo-filter: one picture through one of the five luma-reduction filters, from a bitmap file
// to a 24-bit bitmap file, without the window. The same reading, conversion, filters and
// writing as the window's save commands, so a script can do what a user does there.

#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <iostream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "Bitmap.h"
#include "Exceptions.h"
#include "YReduce.h"

namespace penamo {
namespace {

constexpr const char* kVersion = "0.8Alpha";
constexpr int kDefaultStrength = 100;

enum TExitCode { kSuccess = 0, kFailure = 1, kUsage = 2 };

using TFilter = std::function<bool(TBitmap& source, TBitmap& target, std::uint8_t strength)>;

struct TFilterEntry {
  std::string_view Name;
  std::string_view Caption;  // as the window's sample groups name them
  TFilter Run;               // none: the picture unfiltered
};

const std::vector<TFilterEntry>& Filters() {
  static const std::vector<TFilterEntry> filters = {
      {"pattern4", "4階調パターンディザ",
       [](TBitmap& s, TBitmap& t, std::uint8_t) { return YPatternDither4(s, t); }},
      {"pattern16", "16階調パターンディザ",
       [](TBitmap& s, TBitmap& t, std::uint8_t) { return YPatternDither16(s, t); }},
      {"diffusion64", "64レベル誤差拡散", YDiffError64},
      {"diffusion32", "32レベル誤差拡散", YDiffError32},
      {"diffusion16", "16レベル誤差拡散", YDiffError16},
      {"none", "フィルタなし (24ビットに変換するだけ)", nullptr},
  };
  return filters;
}

void PrintUsage(std::ostream& out) {
  out << "使い方: penamo-filter [--strength N] FILTER INPUT OUTPUT\n"
         "\n"
         "ビットマップファイル INPUT を 24 ビットに変換し、FILTER を通して OUTPUT に\n"
         "24 ビットのビットマップファイルとして書き込みます。\n"
         "\n"
         "FILTER:\n";
  for (const TFilterEntry& filter : Filters()) {
    std::string name(filter.Name);
    name.resize(13, ' ');
    out << "  " << name << filter.Caption << '\n';
  }
  out << "\n"
         "オプション:\n"
         "  --strength N  誤差拡散の強さ (0 から 100 まで、既定値 100)\n"
         "  --help        この説明を表示して終了します\n"
         "  --version     バージョンを表示して終了します\n";
}

int UsageError(const std::string& problem) {
  std::cerr << "penamo-filter: " << problem << "\n\n";
  PrintUsage(std::cerr);
  return kUsage;
}

// The message as the window's message boxes show it: a full stop is added when the last
// character sorts after "."; a character of several bytes always does.
std::string WithFullStop(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
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

int Run(const TFilterEntry& filter, const std::string& input, const std::string& output,
        int strength) {
  TBitmap source;
  source.ReadBitmapFile(input);
  source.ConvertTo24Bits();
  if (source.Empty()) throw Exception("画像が空です");
  if (!filter.Run) {
    source.WriteBitmapFile(output);
    return kSuccess;
  }
  TBitmap target;
  if (!filter.Run(source, target, static_cast<std::uint8_t>(strength)))
    throw Exception(std::string(filter.Caption) + "を実行できませんでした");
  target.WriteBitmapFile(output);
  return kSuccess;
}

int Main(int argc, char** argv) {
  std::vector<std::string> operands;
  int strength = kDefaultStrength;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--help") {
      PrintUsage(std::cout);
      return kSuccess;
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
    } else if (options && arg.size() > 1 && arg.front() == '-') {
      return UsageError("不明なオプションです: " + std::string(arg));
    } else {
      operands.emplace_back(arg);
    }
  }
  if (operands.size() != 3) return UsageError("FILTER, INPUT, OUTPUT の三つを指定してください");
  const TFilterEntry* filter = nullptr;
  for (const TFilterEntry& entry : Filters())
    if (entry.Name == operands[0]) filter = &entry;
  if (filter == nullptr) return UsageError("不明なフィルタです: " + operands[0]);

  try {
    return Run(*filter, operands[1], operands[2], strength);
  } catch (const Exception& error) {
    std::cerr << WithFullStop(error.Message()) << '\n';
  } catch (const std::bad_alloc&) {
    std::cerr << WithFullStop(Msg::OutOfMemory) << '\n';
  } catch (const std::exception& error) {
    // Not one of ours, but still a message rather than an abort.
    std::cerr << WithFullStop(error.what()) << '\n';
  }
  return kFailure;
}

}  // namespace
}  // namespace penamo

int main(int argc, char** argv) {
  return penamo::Main(argc, argv);
}
