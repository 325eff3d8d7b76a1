#include "ClaimQuestion.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "Application.h"
#include "Exceptions.h"

namespace penamo {

void ReadAskingOverClaims(const std::function<void(const std::function<void()>&)>& run,
                          const std::function<void()>& read,
                          const std::function<bool(const TClaim&)>& ask) {
  std::optional<TClaim> refused;
  try {
    run(read);
    return;
  } catch (const EClaimBeyondData& error) {
    refused = error.Claim();
  }
  if (!ask(*refused)) throw EAbort(std::string());
  const TClaimRuleLifting lifted;
  run(read);
}

bool AskToReadClaim(const TClaim& claim) {
  const QLocale c = QLocale::c();
  const QString text = QString::fromUtf8(
                           "このファイルは %1 × %2 ピクセルの画像を示していますが、データは %3 "
                           "バイトしかありません。壊れたファイルか、メモリを使い果たさせるために"
                           "作られたファイルかもしれません。\n信頼できるファイルのときだけ開いて"
                           "ください。開きますか?")
                           .arg(c.toString(static_cast<qlonglong>(claim.Width)),
                                c.toString(static_cast<qlonglong>(claim.Height)),
                                c.toString(static_cast<qulonglong>(claim.FileBytes)));
  const QStringList buttons = {QString::fromUtf8("開く"), QString::fromUtf8("キャンセル")};
  return Application->AskMessageBox({text, Application->Title(), TMessageIcon::Warning}, buttons, 1,
                                    1) == 0;
}

}  // namespace penamo
