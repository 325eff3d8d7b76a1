// The open and save dialogs: the real Qt dialog driven through its own controls, and the
// answering seam the window tests use.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>
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
      // A question answered "no" keeps the dialog open; the test then cancels it.
      if (qt->isVisible()) qt->reject();
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

// Records the asking boxes and answers each with Answer, for the life of the object.
struct QuestionRecorder {
  explicit QuestionRecorder(int answer) : Answer(answer) {
    Application->QuestionBoxAnswerer = [this](const TMessageBoxRequest& request,
                                              const QStringList& buttons) {
      Questions.push_back(request);
      Buttons = buttons;
      return Answer;
    };
  }
  ~QuestionRecorder() { Application->QuestionBoxAnswerer = nullptr; }
  QuestionRecorder(const QuestionRecorder&) = delete;
  QuestionRecorder& operator=(const QuestionRecorder&) = delete;

  int Answer;
  std::vector<TMessageBoxRequest> Questions;
  QStringList Buttons;
};

TEST_F(FileDialogs, WithoutTheOverwriteOptionTheSaveDialogAcceptsAnExistingFileWithoutAQuestion) {
  QuestionRecorder questions(1);
  Save.SetFileName(Path("out.bmp"));
  Seen seen;
  ASSERT_TRUE(Run(Save, "a.bmp", seen));
  EXPECT_FALSE(seen.ConfirmsOverwrite);  // Qt's own question is never asked
  EXPECT_TRUE(questions.Questions.empty());
  EXPECT_EQ(Save.FileName(), Path("a.bmp"));
}

// The overwrite question, answered yes (0) or no (1), in the real dialog and through the seam.
class OverwritePrompt : public FileDialogs, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    FileDialogs::SetUp();
    Save.SetOptions(Save.Options() | ofOverwritePrompt);
  }
  bool Yes() const { return GetParam() == 0; }
  void ExpectTheQuestion(const QuestionRecorder& questions) const {
    ASSERT_EQ(questions.Questions.size(), 1u);
    EXPECT_EQ(questions.Questions[0].Text,
              QString::fromUtf8("ファイル a.bmp は既に存在します。\n置き換えますか?"));
    EXPECT_EQ(questions.Questions[0].Icon, TMessageIcon::Warning);
    EXPECT_EQ(questions.Buttons,
              (QStringList{QString::fromUtf8("はい"), QString::fromUtf8("いいえ")}));
  }
};

TEST_P(OverwritePrompt, TheRealDialogAsksNamingTheFileAndOnlyYesAcceptsIt) {
  QuestionRecorder questions(GetParam());
  Save.SetFileName(Path("out.bmp"));
  Seen seen;
  EXPECT_EQ(Run(Save, "a", seen), Yes());  // the default extension makes it the existing file
  ExpectTheQuestion(questions);
  EXPECT_EQ(Save.FileName(), Yes() ? Path("a.bmp") : Path("out.bmp"));

  // A new name is accepted without a word.
  ASSERT_TRUE(Run(Save, "new.bmp", seen));
  EXPECT_EQ(questions.Questions.size(), 1u);
  EXPECT_EQ(Save.FileName(), Path("new.bmp"));
}

TEST_P(OverwritePrompt, TheSeamAsksTooAndANoAsksTheResponderAgain) {
  QuestionRecorder questions(GetParam());
  std::vector<QString> answers = {Path("a.bmp"), Path("b.bmp")};
  int asked = 0;
  TOpenDialog::TestResponder = [&](TOpenDialog&) -> std::optional<QString> {
    return answers[static_cast<std::size_t>(asked++)];
  };
  EXPECT_TRUE(Save.Execute());
  TOpenDialog::TestResponder = nullptr;
  ExpectTheQuestion(questions);
  EXPECT_EQ(asked, Yes() ? 1 : 2);
  EXPECT_EQ(Save.FileName(), Yes() ? Path("a.bmp") : Path("b.bmp"));
}

INSTANTIATE_TEST_SUITE_P(Answers, OverwritePrompt, ::testing::Values(0, 1),
                         [](const auto& param) { return param.param == 0 ? "Yes" : "No"; });

TEST_F(FileDialogs, TheOpenDialogNeverAsksAboutAnExistingFile) {
  QuestionRecorder questions(1);
  Open.SetOptions(Open.Options() | ofOverwritePrompt);
  Seen seen;
  ASSERT_TRUE(Run(Open, Path("a.bmp"), seen));
  EXPECT_TRUE(questions.Questions.empty());
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

// Three entries, as a save dialog offering more than one format would have.
const QString ThreeEntries = QStringLiteral("Bitmap(*.bmp)|*.bmp|PNG(*.png)|*.png|All|*.*");

// The names the dialog lists in its folder, sorted, once the listing has settled.
QStringList Listed(QFileDialog& dialog) {
  auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
  QStringList names;
  if (list == nullptr) return names;
  for (int attempt = 0; attempt < 100; ++attempt) {
    QTest::qWait(10);
    QStringList now;
    const QAbstractItemModel* model = list->model();
    for (int row = 0; row < model->rowCount(list->rootIndex()); ++row)
      now.append(model->index(row, 0, list->rootIndex()).data().toString());
    now.sort();
    if (!now.isEmpty() && now == names) break;
    names = now;
  }
  return names;
}

TEST_F(FileDialogs, EveryLetterCaseIsListedAndPickingAnEntryNeverPutsAPatternInTheName) {
  for (const char* name : {"b.BMP", "c.Bmp", "d.png", "e.PNG", "f.txt"}) {
    QFile file(Path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  Save.SetFilter(ThreeEntries);
  Save.SetFileName(Path("picture.bmp"));  // every save after the first offers the last name
  QStringList listedBitmaps, listedPngs, listedAll;
  std::vector<QString> names;
  test::WhenModal([&](QWidget& modal) {
    auto& qt = static_cast<QFileDialog&>(modal);
    auto* nameBox = qt.findChild<QLineEdit*>("fileNameEdit");
    auto* types = qt.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(nameBox, nullptr);
    ASSERT_NE(types, nullptr);
    listedBitmaps = Listed(qt);
    types->setFocus();
    QTest::keyClick(types, Qt::Key_Down);  // PNG
    names.push_back(nameBox->text());
    listedPngs = Listed(qt);
    QTest::keyClick(types, Qt::Key_Up);  // Bitmap again
    names.push_back(nameBox->text());
    QTest::keyClick(types, Qt::Key_End);  // All
    names.push_back(nameBox->text());
    listedAll = Listed(qt);
    QTest::keyClick(types, Qt::Key_Up);  // PNG
    names.push_back(nameBox->text());
    static_cast<QDialog&>(qt).accept();
  });
  ASSERT_TRUE(Save.Execute());
  EXPECT_EQ(listedBitmaps, (QStringList{"a.bmp", "b.BMP", "c.Bmp"}));
  EXPECT_EQ(listedPngs, (QStringList{"d.png", "e.PNG"}));
  EXPECT_EQ(listedAll, (QStringList{"a.bmp", "b.BMP", "c.Bmp", "d.png", "e.PNG", "f.txt"}));
  EXPECT_EQ(names,
            (std::vector<QString>{"picture.png", "picture.bmp", "picture.bmp", "picture.png"}));
  EXPECT_EQ(Save.FileName(), Path("picture.png"));
  EXPECT_EQ(Save.FilterIndex(), 2);
}

TEST_F(FileDialogs, TheEntryChosenIsKeptByAConfirmationAndOfferedNextTimeButNotByACancel) {
  Save.SetFilter(ThreeEntries);
  Seen seen;
  const auto pickPngAnd = [&](bool confirm) {
    test::WhenModal([&, confirm](QWidget& modal) {
      auto& qt = static_cast<QFileDialog&>(modal);
      auto* types = qt.findChild<QComboBox*>("fileTypeCombo");
      ASSERT_NE(types, nullptr);
      seen.FilterShown = types->currentText();
      types->setFocus();
      QTest::keyClick(types, Qt::Key_Home);
      QTest::keyClick(types, Qt::Key_Down);
      EXPECT_EQ(Save.FilterIndex(), 2) << "follows the choice while the dialog is open";
      qt.findChild<QLineEdit*>("fileNameEdit")->setText(Path("out"));
      if (confirm) {
        static_cast<QDialog&>(qt).accept();
      } else {
        qt.reject();
      }
    });
    return Save.Execute();
  };
  ASSERT_TRUE(pickPngAnd(true));
  EXPECT_EQ(seen.FilterShown, QStringLiteral("Bitmap(*.bmp)"));
  EXPECT_EQ(Save.FilterIndex(), 2);
  EXPECT_EQ(Save.FileName(), Path("out.png")) << "a bare name gets the entry's extension";

  Save.SetFilterIndex(3);
  EXPECT_FALSE(pickPngAnd(false));
  EXPECT_EQ(seen.FilterShown, QStringLiteral("All"));
  EXPECT_EQ(Save.FilterIndex(), 3) << "a cancel keeps the entry set before";

  Run(Save, "again.bmp", seen);
  EXPECT_EQ(seen.FilterShown, QStringLiteral("All"));
  EXPECT_EQ(Save.FilterIndex(), 3);
}

TEST_F(FileDialogs, ATestResponderPicksAnEntryAsTheUserWould) {
  Save.SetFilter(ThreeEntries);
  TOpenDialog::TestResponder = [this](TOpenDialog& dialog) -> std::optional<QString> {
    dialog.SetFilterIndex(2);
    return Path("picture");
  };
  EXPECT_TRUE(Save.Execute());
  EXPECT_EQ(Save.FilterIndex(), 2);
  EXPECT_EQ(Save.FileName(), Path("picture.png"));
  TOpenDialog::TestResponder = [](TOpenDialog& dialog) -> std::optional<QString> {
    dialog.SetFilterIndex(3);
    return std::nullopt;
  };
  EXPECT_FALSE(Save.Execute());
  EXPECT_EQ(Save.FilterIndex(), 2);
  TOpenDialog::TestResponder = nullptr;
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

TEST(QtNameFilters, PairEachLabelWithItsPatternsAsWritten) {
  EXPECT_EQ(QtNameFilters("Bitmap(*.bmp)|*.bmp"),
            QStringList{QStringLiteral("Bitmap(*.bmp) (*.bmp)")});
  EXPECT_EQ(QtNameFilters("Pictures|*.bmp; *.dib|All|*.*"),
            (QStringList{QStringLiteral("Pictures (*.bmp *.dib)"), QStringLiteral("All (*.*)")}));
  EXPECT_EQ(QtNameFilters("Lonely label"), QStringList());
  EXPECT_EQ(QtNameFilters(""), QStringList());
  EXPECT_EQ(FilterLabels("Bitmap(*.bmp)|*.bmp|All|*.*"),
            (QStringList{QStringLiteral("Bitmap(*.bmp)"), QStringLiteral("All")}));
}

struct EntryNameCase {
  const char* Name;
  const char* Patterns;
  const char* Expected;
};

class NameAfterPickingAnEntry : public ::testing::TestWithParam<EntryNameCase> {};

TEST_P(NameAfterPickingAnEntry, TakesOnlyAPlainExtensionNeverAPattern) {
  const EntryNameCase& c = GetParam();
  EXPECT_EQ(NameForFilterEntry(QString::fromUtf8(c.Name), QString::fromUtf8(c.Patterns)),
            QString::fromUtf8(c.Expected));
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameAfterPickingAnEntry,
    ::testing::Values(EntryNameCase{"picture.png", "*.bmp", "picture.bmp"},
                      EntryNameCase{"picture.bmp", "*.png", "picture.png"},
                      EntryNameCase{"picture.bmp", "*.bmp", "picture.bmp"},
                      EntryNameCase{"picture.BMP", "*.bmp", "picture.BMP"},  // any letter case
                      EntryNameCase{"picture", "*.png", "picture"},  // DefaultExt comes later
                      EntryNameCase{"picture.", "*.png", "picture."},
                      EntryNameCase{"picture.bmp", "*.*", "picture.bmp"},
                      EntryNameCase{"picture.bmp", "*", "picture.bmp"},
                      EntryNameCase{"picture.bmp", "*.bm?", "picture.bmp"},
                      EntryNameCase{"picture.png", "*.[bd]ib", "picture.png"},
                      EntryNameCase{"picture.png", "*.[bB][mM][pP]", "picture.png"},
                      EntryNameCase{"picture.jpeg", "*.jpg;*.jpeg", "picture.jpeg"},
                      EntryNameCase{"picture.png", "*.jpg; *.jpeg", "picture.jpg"},
                      EntryNameCase{"picture.png", "*.t?f;*.tiff", "picture.tiff"},
                      EntryNameCase{"sub.d/picture.png", "*.bmp", "sub.d/picture.bmp"},
                      EntryNameCase{"/data/画像.png", "*.bmp", "/data/画像.bmp"}));

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
