#include "Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>

#include "Application.h"
#include "Form.h"

namespace penamo {

std::function<std::optional<QString>(TOpenDialog&)> TOpenDialog::TestResponder;

namespace {

// Each letter of a pattern as a set of both cases: "*.bmp" lists "picture.BMP" too.
QString CaseInsensitivePattern(const QString& pattern) {
  QString result;
  for (const QChar c : pattern) {
    if (c.isLetter() && c.toLower() != c.toUpper()) {
      result += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    } else {
      result += c;
    }
  }
  return result;
}

// A file dialog that places itself across the middle and a third of the way down a monitor.
class TPlacedFileDialog : public QFileDialog {
 public:
  TPlacedFileDialog(QWidget* parent, const QRect& monitor, bool sizable)
      : QFileDialog(parent), FMonitor(monitor), FSizable(sizable) {}

 protected:
  void showEvent(QShowEvent* event) override {
    QFileDialog::showEvent(event);
    if (!FSizable) setFixedSize(size());
    if (FMonitor.isValid()) move(DialogPosition(FMonitor, EstimatedOuterSize(*this)));
  }

 private:
  QRect FMonitor;
  bool FSizable;
};

}  // namespace

QStringList FilterLabels(const QString& filter) {
  QStringList labels;
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    labels.append(parts[i]);
  return labels;
}

QStringList QtNameFilters(const QString& filter) {
  QStringList filters;
  if (filter.isEmpty()) return filters;
  const QStringList parts = filter.split(QLatin1Char('|'));
  // A label without its pattern at the end is left out.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      patterns.append(CaseInsensitivePattern(pattern.trimmed()));
    }
    filters.append(parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')'));
  }
  return filters;
}

QString CompleteFileName(const QString& typed, const QString& folder, const QString& defaultExt) {
  QString path = typed;
  if (QFileInfo(typed).isRelative()) {
    path = QDir(folder.isEmpty() ? QDir::currentPath() : folder).filePath(typed);
  }
  path = QDir::cleanPath(path);
  if (!defaultExt.isEmpty() && !QFileInfo(path).fileName().contains(QLatin1Char('.'))) {
    path += QLatin1Char('.') + defaultExt;
  }
  return path;
}

QPoint DialogPosition(const QRect& monitor, QSize outerSize) {
  return {monitor.left() + (monitor.width() - outerSize.width()) / 2,
          monitor.top() + (monitor.height() - outerSize.height()) / 3};
}

TOpenDialog::TOpenDialog() = default;

TOpenDialog::~TOpenDialog() = default;

QString TOpenDialog::FileName() const {
  if (FDialog != nullptr) return FDialog->selectedFiles().value(0);
  return FFileName;
}

QString TOpenDialog::StartFolder() const {
  // The last chosen name brings its folder along.
  if (FFileName.contains(QLatin1Char('/'))) return QFileInfo(FFileName).absolutePath();
  return FInitialDir;
}

bool TOpenDialog::Execute() {
  int filterIndex = FFilterIndex;
  const std::optional<QString> chosen = RunDialog(filterIndex);
  if (!chosen || chosen->isEmpty()) return false;
  FFileName = *chosen;
  FFilterIndex = filterIndex;
  const bool extensionDifferent =
      !FDefaultExt.isEmpty() &&
      QFileInfo(*chosen).suffix().compare(FDefaultExt, Qt::CaseInsensitive) != 0;
  FOptions.setFlag(ofExtensionDifferent, extensionDifferent);
  return true;
}

std::optional<QString> TOpenDialog::RunDialog(int& filterIndex) {
  if (TestResponder) {
    const std::optional<QString> answer = TestResponder(*this);
    if (!answer || answer->isEmpty()) return std::nullopt;
    return CompleteFileName(*answer, StartFolder(), FDefaultExt);
  }

  const QPointer<QWidget> active = QApplication::activeWindow();
  const QPointer<QWidget> focus = QApplication::focusWidget();
  QWidget* reference = active;
  if (reference == nullptr && Application != nullptr) reference = Application->MainForm();
  const QList<QRect> monitors = MonitorRects();
  int monitor = reference != nullptr ? MonitorIndexOf(reference->frameGeometry(), monitors) : 0;
  if (monitor < 0 && !monitors.isEmpty()) monitor = 0;

  std::optional<QString> result;
  {
    TPlacedFileDialog dialog(active, monitor >= 0 ? monitors[monitor] : QRect(),
                             FOptions.testFlag(ofEnableSizing));
    // Qt's own dialog behaves the same everywhere, under test and on any desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !FOptions.testFlag(ofOverwritePrompt));
    dialog.setAcceptMode(IsSaveDialog() ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(!IsSaveDialog() && FOptions.testFlag(ofFileMustExist)
                           ? QFileDialog::ExistingFile
                           : QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(FOptions.testFlag(ofEnableSizing));
    if (!FTitle.isEmpty()) dialog.setWindowTitle(FTitle);
    const QStringList filters = QtNameFilters(FFilter);
    if (!filters.isEmpty()) {
      dialog.setNameFilters(filters);
      const int index = std::clamp(FFilterIndex, 1, static_cast<int>(filters.size()));
      dialog.selectNameFilter(filters[index - 1]);
    }
    dialog.setDefaultSuffix(FDefaultExt);
    if (const QString folder = StartFolder(); !folder.isEmpty()) dialog.setDirectory(folder);
    if (!FFileName.isEmpty()) dialog.selectFile(QFileInfo(FFileName).fileName());
    dialog.setWindowModality(Qt::ApplicationModal);

    FDialog = &dialog;
    const int answer = dialog.exec();
    FDialog = nullptr;
    const QStringList files = dialog.selectedFiles();
    if (answer == QDialog::Accepted && !files.isEmpty()) {
      result = files.first();
      if (const qsizetype chosenFilter = filters.indexOf(dialog.selectedNameFilter());
          chosenFilter >= 0) {
        filterIndex = static_cast<int>(chosenFilter) + 1;
      }
    }
  }
  RestoreActivation(active, focus);
  return result;
}

}  // namespace penamo
