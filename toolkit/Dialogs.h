// The open and save file dialogs. Each remembers the name chosen last and offers it (its folder
// and name) the next time; the two remember separately.
//
// Tests answer a dialog without showing it through TOpenDialog::TestResponder:
//
//   TOpenDialog::TestResponder = [](TOpenDialog& dialog) -> std::optional<QString> {
//     return "/tmp/picture";        // as if typed in the name box and confirmed
//   };                              // std::nullopt: as if cancelled
//
// The answer is treated as a name typed in the name box: a relative name is taken in the folder
// the dialog would open in, DefaultExt is added to a name without an extension, and Execute
// then proceeds as for a real answer. A responder picks a filter entry as the user would, with
// dialog.SetFilterIndex. Reset it to nullptr afterwards. A save dialog with ofOverwritePrompt
// asks about an existing file named by the responder as it asks about a chosen one; when the
// answer is no, the responder is asked again, as the real dialog stays open.
#pragma once

#include <QFlags>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QFileDialog;

namespace penamo {

enum TOpenOption : unsigned {
  ofReadOnly = 1u << 0,            // output: the read-only box; the dialogs never show one
  ofOverwritePrompt = 1u << 1,     // save: ask (AskReplaceFile) before accepting an existing file
  ofHideReadOnly = 1u << 2,        // no read-only box (always so here)
  ofExtensionDifferent = 1u << 3,  // output: the chosen extension is not DefaultExt
  ofFileMustExist = 1u << 4,       // open: only existing files are accepted
  ofEnableSizing = 1u << 5,        // the dialog can be resized
};
Q_DECLARE_FLAGS(TOpenOptions, TOpenOption)

class TOpenDialog {
 public:
  TOpenDialog();
  virtual ~TOpenDialog();
  TOpenDialog(const TOpenDialog&) = delete;
  TOpenDialog& operator=(const TOpenDialog&) = delete;

  // Shows the dialog modal for the whole program. True when the user confirmed a name, which
  // is then in FileName; false (nothing changed) on cancel or any failure.
  bool Execute();

  // The last chosen full path (or the name set). While the dialog is open: its current choice.
  QString FileName() const;
  void SetFileName(const QString& fileName) { FFileName = fileName; }
  // Label and pattern pairs separated by "|": "Bitmap(*.bmp)|*.bmp".
  const QString& Filter() const { return FFilter; }
  void SetFilter(const QString& filter) { FFilter = filter; }
  // The filter entry, 1-based as the pairs of Filter count: the one selected when the dialog
  // opens, and after a successful Execute the one the user chose. While the dialog is open it
  // follows the user's choice (and a TestResponder may choose one with SetFilterIndex); a
  // cancelled Execute puts it back as it was.
  int FilterIndex() const { return FFilterIndex; }
  void SetFilterIndex(int index) { FFilterIndex = index; }
  // Without the dot; added to a name typed without an extension. A save dialog whose chosen
  // filter entry has a plain "*.ext" pattern adds that entry's extension instead, so a bare
  // name always matches the entry chosen.
  const QString& DefaultExt() const { return FDefaultExt; }
  void SetDefaultExt(const QString& ext) { FDefaultExt = ext; }
  const QString& InitialDir() const { return FInitialDir; }
  void SetInitialDir(const QString& dir) { FInitialDir = dir; }
  // Empty: the standard caption for opening or saving.
  const QString& Title() const { return FTitle; }
  void SetTitle(const QString& title) { FTitle = title; }
  TOpenOptions Options() const { return FOptions; }
  void SetOptions(TOpenOptions options) { FOptions = options; }

  virtual bool IsSaveDialog() const { return false; }

  // Answers Execute instead of a real dialog (see above).
  static std::function<std::optional<QString>(TOpenDialog&)> TestResponder;

 private:
  std::optional<QString> RunDialog();
  QString ExtensionForBareNames() const;
  QString StartFolder() const;

  QString FFileName;
  QString FFilter;
  int FFilterIndex = 1;
  QString FDefaultExt;
  QString FInitialDir;
  QString FTitle;
  TOpenOptions FOptions = TOpenOptions(ofHideReadOnly) | ofEnableSizing;
  QFileDialog* FDialog = nullptr;
};

class TSaveDialog : public TOpenDialog {
 public:
  bool IsSaveDialog() const override { return true; }
};

// Qt's name filters for a "label|pattern|label|pattern" text: "label (pattern)" each, several
// patterns of one pair (separated by ";") separated by blanks. The dialogs match them without
// regard to letter case.
QStringList QtNameFilters(const QString& filter);
// The name in a save dialog's name box once the user picks a filter entry whose patterns are
// `patterns` (";"-separated, as in Filter). A name without an extension, or one that a pattern
// of the entry matches (in any letter case), stays as it is; any other name takes the extension
// of the entry's first plain "*.ext" pattern. A pattern with wildcards in its extension never
// becomes part of a name: without a plain pattern the name stays as it is.
QString NameForFilterEntry(const QString& name, const QString& patterns);
// The label of each pair, as the dialog lists it.
QStringList FilterLabels(const QString& filter);
// A name as typed in the name box, made whole: taken in `folder` when relative, `defaultExt`
// added when the name has no extension.
QString CompleteFileName(const QString& typed, const QString& folder, const QString& defaultExt);
// Asks whether the existing file at `path` may be replaced, naming it, in a box modal for the
// whole program (TApplication::AskMessageBox, so tests answer it); "いいえ" is the default and
// what Escape gives. True only for "はい". The save dialog asks it with ofOverwritePrompt; a
// caller that changes the chosen name afterwards asks it again for the new one.
bool AskReplaceFile(const QString& path);

// Where a dialog of `outerSize` goes on `monitor`: centred across, a third of the way down.
QPoint DialogPosition(const QRect& monitor, QSize outerSize);

}  // namespace penamo

Q_DECLARE_OPERATORS_FOR_FLAGS(penamo::TOpenOptions)
