#include "FailureCause.h"

#include <sys/stat.h>

#include <cerrno>

namespace penamo {

std::string CauseOf(int error) {
  switch (error) {
    case ENOSPC:
      return "ディスクの空き容量が足りません";
    case EDQUOT:
      return "ディスクの使用量の上限を超えました";
    case EFBIG:
      return "ファイルが大きすぎます (ファイル サイズの上限を超えました)";
    case EACCES:
    case EPERM:
      return "アクセス権がありません";
    case EROFS:
      return "読み取り専用のファイル システムです";
    case ENOENT:
      return "ファイルまたはフォルダーがありません";
    case ENOTDIR:
      return "パスの途中にフォルダーでないものがあります";
    case EISDIR:
      return "フォルダーです";
    case ELOOP:
      return "シンボリック リンクが循環しています";
    case ENAMETOOLONG:
      return "名前が長すぎます";
    case EWOULDBLOCK:
      return "ほかのプログラムが使用中です";
    case EIO:
      return "入出力エラーが起きました";
    case EMFILE:
    case ENFILE:
      return "開いているファイルが多すぎます";
    default:
      return "システム エラー (コード " + std::to_string(error) + ")";
  }
}

bool IsWriteFailure(const Exception& error) {
  return dynamic_cast<const EWriteError*>(&error) != nullptr ||
         dynamic_cast<const EFCreateError*>(&error) != nullptr;
}

std::string FailureCauseLine(const Exception& error, const std::string& path) {
  std::string cause;
  if (error.SystemError() != 0) {
    cause = CauseOf(error.SystemError());
  } else if (dynamic_cast<const EReadError*>(&error) != nullptr) {
    // A read that got fewer bytes than the picture needs: the file ends early. Its length says
    // where; a file that cannot be measured now is only said to end early.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      cause = "データが途中で終わっています (" + std::to_string(info.st_size) +
              " バイト目で途切れています)";
    } else {
      cause = "データが途中で終わっています";
    }
  } else if (dynamic_cast<const EInvalidGraphic*>(&error) != nullptr &&
             dynamic_cast<const EUnsupportedGraphic*>(&error) == nullptr) {
    cause = "画像のデータが壊れています";
    // Where the reader found it, when it can tell: the byte itself, or near where the library
    // had read to.
    if (error.DamagedByte() != 0)
      cause += " (" + std::to_string(error.DamagedByte()) +
               (error.DamagedByteApproximate() ? " バイト目付近)" : " バイト目)");
  }
  if (cause.empty()) return {};
  return "ファイル " + path + ": " + cause;
}

}  // namespace penamo
