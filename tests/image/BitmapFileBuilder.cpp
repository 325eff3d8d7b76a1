#include "BitmapFileBuilder.h"

#include <fstream>
#include <iterator>

namespace penamo::test {

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
