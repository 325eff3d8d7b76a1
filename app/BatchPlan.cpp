#include "BatchPlan.h"

#include <fcntl.h>
#include <limits.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace penamo {
namespace {

// The file an existing output name leads to (through links), so that two names of one file are
// one output; nothing for a name that leads to no file yet.
std::optional<std::pair<dev_t, ino_t>> ExistingFile(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return std::pair{status.st_dev, status.st_ino};
}

// Where a save under a name puts its file, whether the file is there yet or not: the real path
// of its folder (every link and ".." resolved by the system, as the save's own calls resolve
// them) and its name there.
struct TTarget {
  std::string Folder;
  std::string Name;
};

// The save writes through symbolic links at the name's end to the file they finally name, even
// one not there yet, and keeps the links; its folder is whatever the system makes of the rest.
// Nothing for a name that leads nowhere a file can be made (a loop of links, a missing folder):
// its save reports that itself.
std::optional<TTarget> TargetOf(const std::string& path) {
  std::string target = path;
  for (int hop = 0;; ++hop) {
    struct stat status {};
    if (::lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    std::string link(PATH_MAX, '\0');
    const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
    if (hop == 40 || length <= 0) return std::nullopt;
    link.resize(static_cast<std::size_t>(length));
    const std::size_t slash = target.rfind('/');
    target = link.front() == '/' || slash == std::string::npos ? link
                                                               : target.substr(0, slash + 1) + link;
  }
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : target.substr(0, slash);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr),
                                                         &std::free);
  if (!real) return std::nullopt;
  return TTarget{real.get(), std::move(name)};
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// A code point as UTF-8.
void AppendUtf8(std::string& text, std::uint32_t code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
    return;
  }
  if (code < 0x800) {
    text += static_cast<char>(0xC0 | code >> 6);
  } else {
    if (code < 0x10000) {
      text += static_cast<char>(0xE0 | code >> 12);
    } else {
      text += static_cast<char>(0xF0 | code >> 18);
      text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    }
    text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
  }
  text += static_cast<char>(0x80 | (code & 0x3F));
}

// The lower case of a code point beyond ASCII, by the C library's UTF-8 tables whatever the
// program's locale; the code point itself where those tables are missing.
std::uint32_t LowerCase(std::uint32_t code) {
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (utf8 == locale_t{}) return code;
  return static_cast<std::uint32_t>(::towlower_l(static_cast<wint_t>(code), utf8));
}

}  // namespace

bool FolderFoldsCase(const std::string& folder) {
  // A name of its own to this process and this probe, with lower-case letters to fold.
  static int probes = 0;
  const std::string base = (folder == "/" ? "" : folder) + "/";
  const std::string name =
      ".penamo-case-probe-" + std::to_string(::getpid()) + "-" + std::to_string(++probes);
  const std::string lower = base + name;
  const int handle = ::open(lower.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (handle < 0) return false;
  struct stat made {};
  struct stat asked {};
  const bool folds = ::fstat(handle, &made) == 0 &&
                     ::stat((base + UpperAscii(name)).c_str(), &asked) == 0 &&
                     made.st_dev == asked.st_dev && made.st_ino == asked.st_ino;
  ::close(handle);
  ::unlink(lower.c_str());
  return folds;
}

std::string FoldedName(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    const auto lead = static_cast<unsigned char>(name[at]);
    if (lead < 0x80) {
      folded += lead >= 'A' && lead <= 'Z' ? static_cast<char>(lead - 'A' + 'a') : name[at];
      ++at;
      continue;
    }
    const std::size_t length = (lead & 0xE0) == 0xC0   ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    std::uint32_t code = lead & (0x7F >> length);
    bool valid = length != 0 && at + length <= name.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(name[at + k]);
      valid = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    if (!valid) {
      folded += name[at];
      ++at;
      continue;
    }
    AppendUtf8(folded, LowerCase(code));
    at += length;
  }
  return folded;
}

std::vector<TBatchItem> PlanBatch(const std::vector<std::string>& inputs, const std::string& folder,
                                  const std::string& extension, const TFoldsCase& foldsCase) {
  std::vector<TBatchItem> items;
  std::map<std::string, std::string> taken;              // output name → the input that has it
  std::map<std::pair<dev_t, ino_t>, std::string> files;  // existing output → the input
  std::map<std::pair<std::string, std::string>, std::string> targets;  // where a save writes
  std::map<std::pair<std::string, std::string>, std::string> folded;   // the same, case folded
  std::map<std::string, bool> folding;                                 // folder → folds case
  const auto refuseAsSameFile = [](TBatchItem& item, const std::string& earlier) {
    item.Refusal = "出力ファイル " + item.Output + " は " + earlier +
                   " の出力と同じファイルなので、保存しません";
  };
  for (const std::string& input : inputs) {
    TBatchItem item;
    item.Input = input;
    const std::string stem = std::filesystem::path(input).stem().string();
    if (stem.empty() || stem == "." || stem == "..") {
      item.Refusal = "出力ファイルの名前を決められません";
      items.push_back(std::move(item));
      continue;
    }
    item.Output = (folder == "/" ? "" : folder) + "/" + stem + extension;
    const auto [earlier, added] = taken.emplace(item.Output, input);
    if (!added) {
      item.Refusal = "出力ファイル " + item.Output + " は " + earlier->second +
                     " の出力と同じ名前なので、保存しません";
      items.push_back(std::move(item));
      continue;
    }
    // A link to another output, or another name of its file: one file, written once.
    const std::optional<std::pair<dev_t, ino_t>> file = ExistingFile(item.Output);
    if (const auto same = file ? files.find(*file) : files.end(); same != files.end()) {
      refuseAsSameFile(item, same->second);
      items.push_back(std::move(item));
      continue;
    }
    // A file not there yet that an earlier output's name leads to as well.
    const std::optional<TTarget> target = TargetOf(item.Output);
    if (target) {
      const auto same = targets.find({target->Folder, target->Name});
      const auto alike = folded.find({target->Folder, FoldedName(target->Name)});
      if (same != targets.end()) {
        refuseAsSameFile(item, same->second);
      } else if (alike != folded.end()) {
        const auto [answer, asked] = folding.emplace(target->Folder, false);
        if (asked) answer->second = foldsCase(target->Folder);
        if (answer->second) refuseAsSameFile(item, alike->second);
      }
    }
    if (item.Refusal.empty()) {
      if (file) files.emplace(*file, input);
      if (target) {
        targets.emplace(std::pair{target->Folder, target->Name}, input);
        folded.emplace(std::pair{target->Folder, FoldedName(target->Name)}, input);
      }
    }
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace penamo
