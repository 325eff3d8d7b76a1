#include "Program.h"

#include <QFileInfo>
#include <iostream>

#include "Application.h"
#include "MainForm.h"
#include "Pictures.h"

namespace penamo {

int RunProgram(TApplication& app, const QStringList& operands) {
  if (operands.size() > 1 || (operands.size() == 1 && operands.front().isEmpty())) {
    std::cerr << "penamo: 開くファイルを1つだけ指定してください\n"
                 "使い方: penamo [FILE]\n";
    return ExitUsage;
  }
  // A full path, as the open dialog gives: the next open dialog starts in its folder.
  const QString file =
      operands.isEmpty() ? QString() : QFileInfo(operands.front()).absoluteFilePath();
  return RunApplication(app, QString::fromUtf8(ProgramTitle), [&file](TApplication& application) {
    application.SetIcon(MainIcon());
    application.CreateMainWindow(MainForm);
    if (!file.isEmpty()) MainForm->OpenFileLater(file);
  });
}

}  // namespace penamo
