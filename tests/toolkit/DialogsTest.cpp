// The open and save dialogs: the real Qt dialog driven through its own controls, and the
// answering seam the window tests use.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "ApplicationTestSupport.h"
#include "Dialogs.h"
#include "Form.h"

namespace penamo {
namespace {

const QString BitmapFilter = QStringLiteral("Bitmap(*.bmp)|*.bmp");

// What the test saw of a real dialog while it was open.
struct Seen {
  QString Folder;
  QString NameBox;
  QString FilterShown;
  QString Caption;
  bool ConfirmsOverwrite = true;
  QPoint Position;
  QSize OuterSize;
};

class FileDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    QFile existing(Path("a.bmp"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    Open.SetFilter(BitmapFilter);
    Save.SetFilter(BitmapFilter);
    Save.SetDefaultExt("bmp");
  }

  QString Path(const QString& name) const { return Dir.filePath(name); }

  // Runs `dialog`, notes what it shows, then types `typed` and confirms, or cancels when
  // `typed` is empty.
  bool Run(TOpenDialog& dialog, const QString& typed, Seen& seen) {
    test::WhenModal([&](QWidget& modal) {
      auto* qt = qobject_cast<QFileDialog*>(&modal);
      ASSERT_NE(qt, nullptr);
      auto* nameBox = qt->findChild<QLineEdit*>("fileNameEdit");
      auto* filters = qt->findChild<QComboBox*>("fileTypeCombo");
      ASSERT_NE(nameBox, nullptr);
      ASSERT_NE(filters, nullptr);
      seen.Folder = qt->directory().absolutePath();
      seen.NameBox = nameBox->text();
      seen.FilterShown = filters->currentText();
      seen.Caption = qt->windowTitle();
      seen.ConfirmsOverwrite = !qt->testOption(QFileDialog::DontConfirmOverwrite);
      seen.Position = qt->frameGeometry().topLeft();
      seen.OuterSize = qt->frameGeometry().size();
      if (typed.isEmpty()) {
        qt->reject();
        return;
      }
      // Typed with the focus in the name box, as a person would: that drops the list's choice.
      nameBox->setFocus();
      nameBox->setText(typed);

      static_cast<QDialog*>(qt)->accept();  // the dialog's own check of the typed name
    });
    return dialog.Execute();
  }

  QTemporaryDir Dir;
  TOpenDialog Open;
  TSaveDialog Save;
};

TEST_F(FileDialogs, TheFirstOpenShowsAnEmptyNameAndTheBitmapFilterAndReturnsTheChosenPath) {
  Seen seen;
  ASSERT_TRUE(Run(Open, Path("a.bmp"), seen));
  EXPECT_EQ(seen.NameBox, QString());
  EXPECT_EQ(seen.FilterShown, QStringLiteral("Bitmap(*.bmp)"));
  EXPECT_EQ(Open.FileName(), Path("a.bmp"));
  EXPECT_EQ(Open.FilterIndex(), 1);
}

TEST_F(FileDialogs, TheNextOpenStartsInTheLastFilesFolderWithItsName) {
  Seen seen;
  ASSERT_TRUE(Run(Open, Path("a.bmp"), seen));
  ASSERT_TRUE(Run(Open, "missing.bmp", seen));  // a name that does not exist is accepted
  EXPECT_EQ(seen.Folder, Dir.path());
  EXPECT_EQ(seen.NameBox, QStringLiteral("a.bmp"));
  EXPECT_EQ(Open.FileName(), Path("missing.bmp"));
}

TEST_F(FileDialogs, CancellingReturnsFalseAndKeepsTheEarlierChoice) {
  Seen seen;
  ASSERT_TRUE(Run(Open, Path("a.bmp"), seen));
  Open.SetFilterIndex(1);
  EXPECT_FALSE(Run(Open, QString(), seen));
  EXPECT_EQ(Open.FileName(), Path("a.bmp"));
  EXPECT_EQ(Open.FilterIndex(), 1);
}

TEST_F(FileDialogs, TheSaveDialogAddsTheDefaultExtensionAndKeepsItsOwnName) {
  Seen seen;
  ASSERT_TRUE(Run(Open, Path("a.bmp"), seen));
  ASSERT_TRUE(Run(Save, Path("out"), seen));
  EXPECT_EQ(seen.NameBox, QString());  // never filled from the open dialog
  EXPECT_EQ(Save.FileName(), Path("out.bmp"));
  EXPECT_FALSE(Save.Options().testFlag(ofExtensionDifferent));
  EXPECT_EQ(Open.FileName(), Path("a.bmp"));

  ASSERT_TRUE(Run(Save, "other.png", seen));
  EXPECT_EQ(seen.NameBox, QStringLiteral("out.bmp"));
  EXPECT_EQ(Save.FileName(), Path("other.png"));
  EXPECT_TRUE(Save.Options().testFlag(ofExtensionDifferent));
}

TEST_F(FileDialogs, TheSaveDialogAcceptsAnExistingFileWithoutAQuestion) {
  Save.SetFileName(Path("out.bmp"));
  Seen seen;
  ASSERT_TRUE(Run(Save, "a.bmp", seen));
  EXPECT_FALSE(seen.ConfirmsOverwrite);
  EXPECT_EQ(Save.FileName(), Path("a.bmp"));
}

TEST_F(FileDialogs, OpensCentredAcrossAndAThirdDownTheActiveWindowsMonitor) {
  TCustomForm main;
  main.resize(300, 200);
  main.show();
  main.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
  Seen seen;
  Run(Open, QString(), seen);
  const QRect monitor = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(seen.Position, DialogPosition(monitor, seen.OuterSize));
  EXPECT_TRUE(QTest::qWaitForWindowActive(&main));  // activation comes back
}

TEST_F(FileDialogs, AnswersFromTheTestSeamAreCompletedLikeTypedNames) {
  std::vector<QString> offered;
  TOpenDialog::TestResponder = [&offered, this](TOpenDialog& dialog) -> std::optional<QString> {
    offered.push_back(dialog.FileName());
    if (offered.size() == 3) return std::nullopt;
    return offered.size() == 1 ? Path("picture") : QStringLiteral("second");
  };
  EXPECT_TRUE(Save.Execute());
  EXPECT_EQ(Save.FileName(), Path("picture.bmp"));
  EXPECT_TRUE(Save.Execute());
  EXPECT_EQ(Save.FileName(), Path("second.bmp"));  // in the folder of the last choice
  EXPECT_FALSE(Save.Execute());
  EXPECT_EQ(Save.FileName(), Path("second.bmp"));
  TOpenDialog::TestResponder = nullptr;
  EXPECT_EQ(offered, (std::vector<QString>{QString(), Path("picture.bmp"), Path("second.bmp")}));
}

TEST(QtNameFilters, PairEachLabelWithItsPatternsMatchingAnyLetterCase) {
  EXPECT_EQ(QtNameFilters("Bitmap(*.bmp)|*.bmp"),
            QStringList{QStringLiteral("Bitmap(*.bmp) (*.[bB][mM][pP])")});
  EXPECT_EQ(QtNameFilters("Pictures|*.bmp;*.dib|All|*.*"),
            (QStringList{QStringLiteral("Pictures (*.[bB][mM][pP] *.[dD][iI][bB])"),
                         QStringLiteral("All (*.*)")}));
  EXPECT_EQ(QtNameFilters("Lonely label"), QStringList());
  EXPECT_EQ(QtNameFilters(""), QStringList());
  EXPECT_EQ(FilterLabels("Bitmap(*.bmp)|*.bmp|All|*.*"),
            (QStringList{QStringLiteral("Bitmap(*.bmp)"), QStringLiteral("All")}));

  const QRegularExpression pattern(
      QRegularExpression::wildcardToRegularExpression(QStringLiteral("*.[bB][mM][pP]")));
  EXPECT_TRUE(pattern.match("PICTURE.BMP").hasMatch());
  EXPECT_TRUE(pattern.match("picture.Bmp").hasMatch());
  EXPECT_FALSE(pattern.match("picture.png").hasMatch());
}

struct NameCase {
  const char* Typed;
  const char* Folder;
  const char* DefaultExt;
  const char* Expected;
};

class CompletedName : public ::testing::TestWithParam<NameCase> {};

TEST_P(CompletedName, IsWholeAndCarriesAnExtension) {
  const NameCase& c = GetParam();
  EXPECT_EQ(CompleteFileName(c.Typed, c.Folder, c.DefaultExt), QString::fromUtf8(c.Expected));
}

INSTANTIATE_TEST_SUITE_P(
    Names, CompletedName,
    ::testing::Values(NameCase{"pic", "/data", "bmp", "/data/pic.bmp"},
                      NameCase{"pic.png", "/data", "bmp", "/data/pic.png"},
                      NameCase{"/other/pic", "/data", "bmp", "/other/pic.bmp"},
                      NameCase{"sub.d/pic", "/data", "bmp", "/data/sub.d/pic.bmp"},
                      NameCase{"pic", "/data", "", "/data/pic"},
                      NameCase{"../画像", "/data/x", "bmp", "/data/画像.bmp"}));

TEST(DialogPosition, IsCentredAcrossAndAThirdDownTruncatingTowardZero) {
  EXPECT_EQ(DialogPosition(QRect(0, 0, 1920, 1080), QSize(600, 400)), QPoint(660, 226));
  EXPECT_EQ(DialogPosition(QRect(-1280, 0, 1280, 1024), QSize(701, 500)), QPoint(-991, 174));
  EXPECT_EQ(DialogPosition(QRect(0, 0, 640, 480), QSize(700, 500)), QPoint(-30, -6));
}

}  // namespace
}  // namespace penamo
