// A folder of its own under the system's temporary folder for a test's files, removed with
// everything in it (what a test made read-only included) when the test is done.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace penamo::test {

class TTemporaryFolder {
 public:
  TTemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "penamo-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    FPath = pattern;
  }
  ~TTemporaryFolder() {
    std::error_code ignored;
    // A test may have made part of the tree read-only; give it back before removing.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(FPath, ignored))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(FPath, ignored);
  }
  TTemporaryFolder(const TTemporaryFolder&) = delete;
  TTemporaryFolder& operator=(const TTemporaryFolder&) = delete;

  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  // The names in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FPath))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string FPath;
};

}  // namespace penamo::test
