#include "Exceptions.h"

namespace penamo::Msg {

std::string FOpenError(const std::string& path) {
  return "ファイル " + path + " は開けません";
}

std::string FCreateError(const std::string& path) {
  return "ファイル " + path + " を作成できません";
}

std::string OSError(int code, const std::string& text) {
  return "システムエラー。コード：" + std::to_string(code) + ".\r\n" + text;
}

}  // namespace penamo::Msg
