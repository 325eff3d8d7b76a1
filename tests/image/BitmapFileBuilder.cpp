#include "BitmapFileBuilder.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace penamo::test {

TTemporaryFolder::TTemporaryFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "penamo-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
  FPath = pattern;
}

TTemporaryFolder::~TTemporaryFolder() {
  std::error_code ignored;
  // A test may have made part of the tree read-only; give it back before removing.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(FPath, ignored))
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(FPath, ignored);
}

std::vector<std::string> TTemporaryFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FPath))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TBytes ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const TBytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace penamo::test
