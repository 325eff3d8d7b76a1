#include "Exceptions.h"

namespace penamo {

std::string MessageWithFullStop(const std::string& message) {
  if (message.empty()) return message;
  // The last character is compared whole: step back over UTF-8 continuation bytes.
  std::size_t start = message.size() - 1;
  while (start > 0 && (static_cast<unsigned char>(message[start]) & 0xC0) == 0x80)
    --start;
  const std::string last = message.substr(start);
  return last > "." ? message + "." : message;
}

namespace Msg {

std::string FOpenError(const std::string& path) {
  return "ファイル " + path + " は開けません";
}

std::string FCreateError(const std::string& path) {
  return "ファイル " + path + " を作成できません";
}

std::string UnsupportedVariant(const std::string& format) {
  return format + " イメージのこの形式には対応していません";
}

}  // namespace Msg

}  // namespace penamo
