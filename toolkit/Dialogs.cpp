#include "Dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <algorithm>

#include "Application.h"
#include "Form.h"

namespace penamo {

std::function<std::optional<QString>(TOpenDialog&)> TOpenDialog::TestResponder;

namespace {

// The patterns of one "label|patterns" pair: separated by ";", blanks around each dropped.
QStringList PatternsOf(const QString& patterns) {
  QStringList result;
  for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    if (const QString trimmed = pattern.trimmed(); !trimmed.isEmpty()) result.append(trimmed);
  }
  return result;
}

// The pattern text of each pair, in order.
QStringList FilterPatterns(const QString& filter) {
  QStringList patterns;
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    patterns.append(parts[i + 1]);
  return patterns;
}

// The extension of the first plain "*.ext" pattern among `patterns`; empty when none is plain.
QString PlainExtension(const QString& patterns) {
  static const QRegularExpression plain(QStringLiteral("^\\*\\.([^*?\\[\\]]+)$"));
  for (const QString& pattern : PatternsOf(patterns)) {
    if (const QRegularExpressionMatch match = plain.match(pattern); match.hasMatch())
      return match.captured(1);
  }
  return {};
}

bool MatchesAnyLetterCase(const QString& fileName, const QString& pattern) {
  const QRegularExpression expression(QRegularExpression::wildcardToRegularExpression(pattern),
                                      QRegularExpression::CaseInsensitiveOption);
  return expression.match(fileName).hasMatch();
}

// Whether `path` names an existing file (or anything else that is not a folder) that a save
// would replace.
bool ExistsToBeReplaced(const QString& path) {
  const QFileInfo info(path);
  return (info.exists() || info.isSymLink()) && !info.isDir();
}

// A file dialog that places itself across the middle and a third of the way down a monitor,
// and, asked to, asks before it accepts an existing file for saving.
class TPlacedFileDialog : public QFileDialog {
 public:
  TPlacedFileDialog(QWidget* parent, const QRect& monitor, bool sizable)
      : QFileDialog(parent), FMonitor(monitor), FSizable(sizable) {}

  // Qt's own question is left off (DontConfirmOverwrite) so that every save asks the same
  // question, in the program's words, through the program's message box.
  bool PromptOverwrite = false;

  void accept() override {
    if (PromptOverwrite && acceptMode() == QFileDialog::AcceptSave) {
      // The name as the dialog would return it (folder and default extension added); a folder's
      // name only opens the folder and is never asked about.
      const QString chosen = selectedFiles().value(0);
      if (!chosen.isEmpty() && ExistsToBeReplaced(chosen) && !AskReplaceFile(chosen)) return;
    }
    QFileDialog::accept();
  }

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
  const QStringList labels = FilterLabels(filter);
  const QStringList patterns = FilterPatterns(filter);
  // A label without its pattern at the end is left out.
  for (qsizetype i = 0; i < labels.size(); ++i) {
    filters.append(labels[i] + QStringLiteral(" (") +
                   PatternsOf(patterns[i]).join(QLatin1Char(' ')) + QLatin1Char(')'));
  }
  return filters;
}

QString NameForFilterEntry(const QString& name, const QString& patterns) {
  const QString fileName = QFileInfo(name).fileName();
  const QString extension = QFileInfo(fileName).suffix();
  if (extension.isEmpty()) return name;
  for (const QString& pattern : PatternsOf(patterns)) {
    if (MatchesAnyLetterCase(fileName, pattern)) return name;
  }
  const QString plain = PlainExtension(patterns);
  if (plain.isEmpty()) return name;
  return name.left(name.size() - extension.size()) + plain;
}

QString TOpenDialog::ExtensionForBareNames() const {
  if (FDefaultExt.isEmpty() || !IsSaveDialog()) return FDefaultExt;
  const QStringList patterns = FilterPatterns(FFilter);
  if (FFilterIndex < 1 || FFilterIndex > patterns.size()) return FDefaultExt;
  const QString plain = PlainExtension(patterns[FFilterIndex - 1]);
  return plain.isEmpty() ? FDefaultExt : plain;
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

bool AskReplaceFile(const QString& path) {
  const QString text = QString::fromUtf8("ファイル %1 は既に存在します。\n置き換えますか?")
                           .arg(QFileInfo(path).fileName());
  const QString caption = Application != nullptr && !Application->Title().isEmpty()
                              ? Application->Title()
                              : QString::fromUtf8("名前を付けて保存");
  const QStringList buttons = {QString::fromUtf8("はい"), QString::fromUtf8("いいえ")};
  if (Application == nullptr) return false;
  return Application->AskMessageBox({text, caption, TMessageIcon::Warning}, buttons, 1, 1) == 0;
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
  // While the dialog is open FilterIndex follows the entry picked; only a confirmation keeps it.
  const int filterIndex = FFilterIndex;
  const std::optional<QString> chosen = RunDialog();
  if (!chosen || chosen->isEmpty()) {
    FFilterIndex = filterIndex;
    return false;
  }
  FFileName = *chosen;
  const bool extensionDifferent =
      !FDefaultExt.isEmpty() &&
      QFileInfo(*chosen).suffix().compare(FDefaultExt, Qt::CaseInsensitive) != 0;
  FOptions.setFlag(ofExtensionDifferent, extensionDifferent);
  return true;
}

std::optional<QString> TOpenDialog::RunDialog() {
  if (TestResponder) {
    for (;;) {
      const std::optional<QString> answer = TestResponder(*this);
      if (!answer || answer->isEmpty()) return std::nullopt;
      const QString name = CompleteFileName(*answer, StartFolder(), ExtensionForBareNames());
      // As the real dialog does: a "no" keeps it open for another name or a cancel.
      if (IsSaveDialog() && FOptions.testFlag(ofOverwritePrompt) && ExistsToBeReplaced(name) &&
          !AskReplaceFile(name)) {
        continue;
      }
      return name;
    }
  }

  const QPointer<QWidget> active = QApplication::activeWindow();
  const QPointer<QWidget> focus = QApplication::focusWidget();
  QWidget* reference = active;
  if (reference == nullptr && Application != nullptr) reference = Application->MainForm();
  const QList<QRect> monitors = MonitorRects();
  int monitor = reference != nullptr ? MonitorIndexOf(reference->frameGeometry(), monitors) : 0;
  if (monitor < 0 && !monitors.isEmpty()) monitor = 0;

  const QStringList filters = QtNameFilters(FFilter);
  const QStringList patterns = FilterPatterns(FFilter);
  std::optional<QString> result;
  {
    TPlacedFileDialog dialog(active, monitor >= 0 ? monitors[monitor] : QRect(),
                             FOptions.testFlag(ofEnableSizing));
    // Qt's own dialog behaves the same everywhere, under test and on any desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.PromptOverwrite = FOptions.testFlag(ofOverwritePrompt);
    dialog.setAcceptMode(IsSaveDialog() ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(!IsSaveDialog() && FOptions.testFlag(ofFileMustExist)
                           ? QFileDialog::ExistingFile
                           : QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(FOptions.testFlag(ofEnableSizing));
    if (!FTitle.isEmpty()) dialog.setWindowTitle(FTitle);
    // Qt matches name patterns without regard to letter case unless told otherwise, so "*.bmp"
    // lists "PICTURE.BMP" too, and the patterns reach it as written.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (!filters.isEmpty()) {
      dialog.setNameFilters(filters);
      FFilterIndex = std::clamp(FFilterIndex, 1, static_cast<int>(filters.size()));
      dialog.selectNameFilter(filters[FFilterIndex - 1]);
    }
    auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    auto* nameBox = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (types != nullptr && !filters.isEmpty()) {
      QObject::connect(types, &QComboBox::currentIndexChanged, &dialog,
                       [this, &filters](int entry) {
                         if (entry >= 0 && entry < filters.size()) FFilterIndex = entry + 1;
                       });
    }
    if (IsSaveDialog() && types != nullptr && nameBox != nullptr && !filters.isEmpty()) {
      // Picking an entry lets Qt's save dialog put the entry's first pattern in place of the
      // name's extension, wildcards and all. The switch is made here instead: Qt is given an
      // empty name box while it changes what is listed, and the name gets the entry's own
      // extension only where it has a plain one (NameForFilterEntry).
      QObject::disconnect(types, &QComboBox::activated, &dialog, nullptr);
      QObject::connect(types, &QComboBox::activated, &dialog,
                       [this, &dialog, &filters, &patterns, nameBox](int entry) {
                         if (entry < 0 || entry >= filters.size()) return;
                         const QString name = nameBox->text();
                         nameBox->clear();
                         dialog.selectNameFilter(filters[entry]);
                         nameBox->setText(NameForFilterEntry(name, patterns[entry]));
                         dialog.setDefaultSuffix(ExtensionForBareNames());
                       });
    }
    dialog.setDefaultSuffix(ExtensionForBareNames());
    if (const QString folder = StartFolder(); !folder.isEmpty()) dialog.setDirectory(folder);
    if (!FFileName.isEmpty()) dialog.selectFile(QFileInfo(FFileName).fileName());
    dialog.setWindowModality(Qt::ApplicationModal);

    FDialog = &dialog;
    const int answer = dialog.exec();
    FDialog = nullptr;
    const QStringList files = dialog.selectedFiles();
    if (answer == QDialog::Accepted && !files.isEmpty()) result = files.first();
  }
  RestoreActivation(active, focus);
  return result;
}

}  // namespace penamo
