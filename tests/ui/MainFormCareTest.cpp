// The main window's care for the user's files and words: no file replaced without a question,
// a save with nothing open that says so, error boxes that say why, a toolbar that keeps its
// order at every width.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "MainForm.h"
#include "MainFormAccess.h"
#include "MainFormFixture.h"
#include "WindowTestSupport.h"
#include "WithoutSuperuserRights.h"

namespace penamo {
namespace {

using testing::FileBytes;

constexpr int kYes = 0;
constexpr int kNo = 1;

class MainFormCareTest : public testing::TMainFormFixture {
 protected:
  void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

  QString WriteBytes(const QString& name, const QByteArray& bytes) {
    const QString path = Dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }

  // A 64 x 64 PNG as Qt writes it.
  QString WriteQtPng(const QString& name) {
    QImage image(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x)
        image.setPixel(x, y, qRgb(x * 4, y * 4, (x * y) & 255));
    const QString path = Dir.filePath(name);
    EXPECT_TRUE(image.save(path));
    return path;
  }

  // The first and the second line of the only box shown.
  QStringList OnlyBoxLines() {
    EXPECT_EQ(Seams.Boxes.size(), 1u);
    if (Seams.Boxes.empty()) return {};
    return Seams.Boxes[0].Text.split(QLatin1Char('\n'));
  }
};

// ---- Nothing replaced without asking -------------------------------------------------------

TEST_F(MainFormCareTest, SavingOverAnExistingFileAsksNamingItAndYesReplacesIt) {
  Open(WritePicture("picture.bmp", 40, 30));
  const QString other = WriteBytes("other.bmp", "the user's own file");
  Seams.Answer(other);
  Seams.ButtonAnswers = {kYes};
  Click(Layout->SaveDiffError16);
  ASSERT_EQ(Seams.Questions.size(), 1u);
  EXPECT_EQ(Seams.Questions[0].Request.Text,
            QString::fromUtf8("ファイル other.bmp は既に存在します。\n置き換えますか?"));
  EXPECT_EQ(Seams.Questions[0].Buttons,
            (QStringList{QString::fromUtf8("はい"), QString::fromUtf8("いいえ")}));
  EXPECT_TRUE(Seams.Boxes.empty());
  EXPECT_EQ(FileBytes(other).left(2), QByteArray("BM"));  // the filtered picture
}

TEST_F(MainFormCareTest, NoKeepsTheDialogOpenAndCancellingThenWritesNothing) {
  Open(WritePicture("picture.bmp", 40, 30));
  const QString other = WriteBytes("other.bmp", "the user's own file");
  Seams.Answer(other);
  Seams.Answers.push_back(std::nullopt);  // asked again after the "no": cancels
  Seams.ButtonAnswers = {kNo};
  Click(Layout->SaveDiffError16);
  EXPECT_EQ(Seams.Questions.size(), 1u);
  EXPECT_EQ(Seams.DialogsShown, 3);  // the open, the save, the save again
  EXPECT_EQ(FileBytes(other), QByteArray("the user's own file"));
  EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), (QStringList{"other.bmp", "picture.bmp"}));
}

TEST_F(MainFormCareTest, ANewNameIsSavedWithoutAQuestion) {
  Open(WritePicture("picture.bmp", 40, 30));
  Seams.Answer(Dir.filePath("new.bmp"));
  Click(Layout->SavePatternDither4);
  EXPECT_TRUE(Seams.Questions.empty());
  EXPECT_FALSE(FileBytes(Dir.filePath("new.bmp")).isEmpty());
}

// Answers to the dialog's question and to the window's own about the open picture.
struct TOpenPictureCase {
  const char* Name;
  std::vector<int> Answers;
  int QuestionsAsked;
  bool Replaced;
};

class OpenPictureTest : public MainFormCareTest,
                        public ::testing::WithParamInterface<TOpenPictureCase> {};

TEST_P(OpenPictureTest, SavingOverTheOpenPictureAsksAQuestionOfItsOwnThatNamesIt) {
  const QString picture = WritePicture("picture.bmp", 40, 30);
  Open(picture);
  const QByteArray before = FileBytes(picture);
  // By another spelling of the same file.
  Seams.Answer(Dir.path() + QStringLiteral("/./picture.bmp"));
  Seams.Answers.push_back(std::nullopt);  // a "no" in the dialog asks it again: cancel
  Seams.ButtonAnswers = GetParam().Answers;
  Click(Layout->SaveDiffError16);
  ASSERT_EQ(static_cast<int>(Seams.Questions.size()), GetParam().QuestionsAsked);
  if (GetParam().QuestionsAsked == 2) {
    const TMessageBoxRequest& own = Seams.Questions[1].Request;
    EXPECT_TRUE(own.Text.startsWith(
        QString::fromUtf8("picture.bmp は、いま開いている画像のファイルです。")))
        << own.Text.toStdString();
    EXPECT_EQ(own.Icon, TMessageIcon::Warning);
    EXPECT_EQ(Seams.Questions[1].Buttons,
              (QStringList{QString::fromUtf8("置き換える"), QString::fromUtf8("キャンセル")}));
  }
  EXPECT_EQ(FileBytes(picture) != before, GetParam().Replaced);
  EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList{"picture.bmp"});
  EXPECT_TRUE(Seams.Boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, OpenPictureTest,
                         ::testing::Values(TOpenPictureCase{"DialogNo", {kNo}, 1, false},
                                           TOpenPictureCase{"OwnCancel", {kYes, 1}, 2, false},
                                           TOpenPictureCase{"BothYes", {kYes, 0}, 2, true}),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST_F(MainFormCareTest, APngSavedInsteadOfABitmapAsksAboutThePngsNameToo) {
  // A picture with transparency: its bitmap save offers a PNG beside the chosen name.
  QImage image(20, 10, QImage::Format_ARGB32);
  image.fill(qRgba(10, 20, 30, 100));
  const QString picture = Dir.filePath("picture.png");
  ASSERT_TRUE(image.save(picture));
  Open(picture);
  const QString png = WriteBytes("out.png", "the user's own file");
  Seams.Answer(Dir.filePath("out.bmp"));  // does not exist: the dialog asks nothing
  Seams.ButtonAnswers = {0 /* PNG で保存 */, kNo};
  Click(Layout->SaveDiffError16);
  ASSERT_EQ(Seams.Questions.size(), 2u);
  EXPECT_TRUE(Seams.Questions[1].Request.Text.contains(QStringLiteral("out.png")));
  EXPECT_EQ(FileBytes(png), QByteArray("the user's own file"));
}

// ---- A save with nothing open ----------------------------------------------------------------

TEST_F(MainFormCareTest, EverySaveCommandWithNoPictureOpenSaysSo) {
  const QString said = QString::fromUtf8("保存する画像がありません。先に画像を開いてください");
  int commands = 0;
  for (TFrameSpeedButton* button :
       {Layout->SavePatternDither4, Layout->SavePatternDither16, Layout->SaveDiffError64,
        Layout->SaveDiffError32, Layout->SaveDiffError16, Layout->SaveDiffusion,
        Layout->SaveOrdered}) {
    Click(button);
    ++commands;
  }
  for (int digit = 0; digit < 7; ++digit) {
    QTest::keyClick(Form.get(), static_cast<Qt::Key>(Qt::Key_1 + digit), Qt::ControlModifier);
    ++commands;
  }
  ASSERT_EQ(static_cast<int>(Seams.Boxes.size()), commands);
  for (const TMessageBoxRequest& box : Seams.Boxes) {
    EXPECT_EQ(box.Text, said);
    EXPECT_EQ(box.Icon, TMessageIcon::Information);
    EXPECT_EQ(box.Caption, QString::fromUtf8(ProgramTitle));
  }
  EXPECT_EQ(Seams.DialogsShown, 0);
}

// ---- Grey saves offer PNG --------------------------------------------------------------------

TEST_F(MainFormCareTest, WithGreyOnTheDeepColumnsSavesOfferPngFirst) {
  Open(WritePicture("picture.bmp", 40, 30));
  std::vector<QString> offered;
  std::vector<std::optional<QString>> answers = {std::nullopt, std::nullopt, std::nullopt,
                                                 Dir.filePath("grey")};
  TOpenDialog::TestResponder = [&](TOpenDialog& dialog) -> std::optional<QString> {
    offered.push_back(dialog.FileName());
    const std::optional<QString> answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  };
  Click(Layout->SaveDiffusion);  // grey off: the first entry, a bitmap
  Layout->GreyCheck->setChecked(true);
  Click(Layout->SaveDiffusion);
  Click(Layout->SaveOrdered);
  // A bare name takes the PNG entry's extension, and the file is a grey PNG.
  Click(Layout->SaveDiffusion);
  ASSERT_EQ(offered.size(), 4u);
  EXPECT_TRUE(offered[0].endsWith(QStringLiteral("picture-diffusion.bmp")))
      << offered[0].toStdString();
  EXPECT_TRUE(offered[1].endsWith(QStringLiteral("picture-diffusion.png")))
      << offered[1].toStdString();
  EXPECT_TRUE(offered[2].endsWith(QStringLiteral("picture-ordered.png")))
      << offered[2].toStdString();
  const QImage saved(Dir.filePath("grey.png"));
  ASSERT_FALSE(saved.isNull());
  EXPECT_TRUE(saved.isGrayscale());
  EXPECT_TRUE(Seams.Boxes.empty());
}

// ---- Messages that say why -------------------------------------------------------------------

enum class TFailure { ReadOnlyFolder, MissingFolder, UnreadableFile, TruncatedPng };

struct TCauseCase {
  const char* Name;
  TFailure Failure;
  const char* FirstLine;  // the message as raised, %1 the file where it names one
  const char* Cause;      // %1 the file's length where it says it
};

class CauseLineTest : public MainFormCareTest, public ::testing::WithParamInterface<TCauseCase> {
 protected:
  // Makes the failure happen in the window; returns the file the cause line names.
  QString Provoke(TFailure failure) {
    switch (failure) {
      case TFailure::ReadOnlyFolder: {
        QDir(Dir.path()).mkdir("locked");
        QFile::setPermissions(Dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner);
        return SaveInto(Dir.filePath("locked/saved.bmp"));
      }
      case TFailure::MissingFolder:
        return SaveInto(Dir.filePath("missing/saved.bmp"));
      case TFailure::UnreadableFile: {
        const QString path = WritePicture("unreadable.bmp", 20, 10);
        QFile::setPermissions(path, QFile::WriteOwner);
        Open(path);
        return path;
      }
      case TFailure::TruncatedPng: {
        const QString path = WriteQtPng("truncated.png");
        QFile file(path);
        EXPECT_TRUE(file.resize(file.size() / 2));
        Open(path);
        return path;
      }
    }
    return {};
  }

  QString SaveInto(const QString& target) {
    Open(WritePicture("picture.bmp", 40, 30));
    Seams.Answer(target);
    Click(Layout->SaveDiffError16);
    return target;
  }
};

TEST_P(CauseLineTest, TheBoxKeepsTheMessageAndSaysWhyOnALineOfItsOwn) {
  const test::TWithoutSuperuserRights rights;
  if (!rights.Binding()) GTEST_SKIP() << "permissions cannot be made to bind here";
  const QString file = Provoke(GetParam().Failure);
  const QStringList lines = OnlyBoxLines();
  ASSERT_EQ(lines.size(), 2) << Seams.Boxes[0].Text.toStdString();
  EXPECT_EQ(lines[0], QString::fromUtf8(GetParam().FirstLine).arg(file));
  const QString cause = QString::fromUtf8(GetParam().Cause).arg(QFile(file).size());
  EXPECT_EQ(lines[1], QString::fromUtf8("ファイル %1: %2").arg(file, cause));
  EXPECT_EQ(Seams.Boxes[0].Icon, TMessageIcon::Stop);
}

const TCauseCase kCauseCases[] = {
    {"ReadOnlyFolder", TFailure::ReadOnlyFolder, "ファイル %1 を作成できません.",
     "アクセス権がありません"},
    {"MissingFolder", TFailure::MissingFolder, "ファイル %1 を作成できません.",
     "ファイルまたはフォルダーがありません"},
    {"UnreadableFile", TFailure::UnreadableFile, "ファイル %1 は開けません.",
     "アクセス権がありません"},
    {"TruncatedPng", TFailure::TruncatedPng, "ストリームからの読み込みエラー.",
     "データが途中で終わっています (%1 バイト目で途切れています)"},
};

INSTANTIATE_TEST_SUITE_P(Failures, CauseLineTest, ::testing::ValuesIn(kCauseCases),
                         [](const auto& param) { return std::string(param.param.Name); });

// A PNG whose compressed pixels were damaged (a byte changed, the chunk's checksum left as it
// was) says near which byte: where its library had read to, at or after the damage and no
// further than the damaged chunk's end and the next chunk's head.
TEST_F(MainFormCareTest, ADamagedPngsBoxSaysNearWhichByteTheDamageWas) {
  const QString path = WriteQtPng("damaged.png");
  QByteArray bytes = FileBytes(path);
  const qsizetype idat = bytes.indexOf("IDAT") - 4;
  ASSERT_GT(idat, 0);
  const auto length = static_cast<qsizetype>(
      static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[idat])) << 24 |
      static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[idat + 1])) << 16 |
      static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[idat + 2])) << 8 |
      static_cast<std::uint8_t>(bytes[idat + 3]));
  const qsizetype damaged = idat + 8 + length / 2;
  bytes[damaged] = static_cast<char>(bytes[damaged] ^ 0x5A);
  WriteBytes("damaged.png", bytes);
  Open(path);
  const QStringList lines = OnlyBoxLines();
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0], QString::fromUtf8("PNG イメージが不正です."));
  const QString prefix = QString::fromUtf8("ファイル %1: 画像のデータが壊れています (").arg(path);
  const QString suffix = QString::fromUtf8(" バイト目付近)");
  ASSERT_TRUE(lines[1].startsWith(prefix) && lines[1].endsWith(suffix)) << lines[1].toStdString();
  bool number = false;
  const qsizetype byte = lines[1]
                             .mid(prefix.size(), lines[1].size() - prefix.size() - suffix.size())
                             .toLongLong(&number);
  ASSERT_TRUE(number) << lines[1].toStdString();
  EXPECT_GE(byte, damaged + 1);
  EXPECT_LE(byte, idat + 12 + length + 8);
}

// ---- The toolbar -----------------------------------------------------------------------------

// The deep filters' column stands at the window's right, beside the toolbar.
constexpr int kDeepColumnWidth = 161;

// The toolbar's items in the layout's order, left to right.
std::vector<QWidget*> LayoutOrder(Ui::MainForm& layout) {
  return {layout.OpenBuuton,        layout.ToolButton2, layout.FrameSpeedButton2,
          layout.FrameSpeedButton1, layout.ToolButton1, layout.VersionInfoButton,
          layout.EditButton};
}

TEST_F(MainFormCareTest, TheToolbarKeepsItsOrderAfterTheWindowWasMadeNarrowAndWideAgain) {
  const QSize stored = Form->size();
  QApplication::processEvents();
  std::vector<QPoint> before;
  for (QWidget* item : LayoutOrder(*Layout))
    before.push_back(item->pos());
  for (const QSize narrow : {QSize(161, 100), QSize(100, 100), QSize(1, 100), QSize(161, 100)}) {
    Form->resize(narrow);
    QApplication::processEvents();
  }
  // A window manager can make the window narrower than its layout allows, and the toolbar with
  // it: from nothing to a little wider than its first button.
  for (const int width : {0, 10, 30, 100, 0}) {
    Layout->ToolBar1->resize(width, Layout->ToolBar1->height());
    QApplication::processEvents();
  }
  Form->resize(stored);
  QApplication::processEvents();
  std::vector<QPoint> after;
  for (QWidget* item : LayoutOrder(*Layout))
    after.push_back(item->pos());
  EXPECT_EQ(after, before);
  EXPECT_EQ(Layout->ToolBar1->Items(), LayoutOrder(*Layout));
}

// The toolbar's controls as they stand on it: the items, and in place of an item that holds
// controls (the wide separator), those controls.
struct TPlacedControl {
  QWidget* Control;
  QRect Bounds;  // toolbar coordinates
};

class ToolbarWidthTest : public MainFormCareTest, public ::testing::WithParamInterface<int> {};

TEST_P(ToolbarWidthTest, NoControlCoversAnotherAndNoneIsCutByTheItemItStandsOn) {
  Form->resize(GetParam(), 453);
  QApplication::processEvents();
  ASSERT_EQ(Form->width(), GetParam());
  std::vector<TPlacedControl> placed;
  int right = 0;
  for (QWidget* item : Layout->ToolBar1->Items()) {
    EXPECT_GE(item->x(), right) << item->objectName().toStdString();  // in order, side by side
    right = item->geometry().right() + 1;
    const QList<QWidget*> inside = item->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    if (inside.isEmpty()) {
      placed.push_back({item, item->geometry()});
      continue;
    }
    for (QWidget* control : inside) {
      const QRect bounds = control->geometry().translated(item->pos());
      EXPECT_TRUE(item->geometry().contains(bounds))
          << control->objectName().toStdString() << " is cut by "
          << item->objectName().toStdString();
      placed.push_back({control, bounds});
    }
  }
  for (std::size_t i = 0; i < placed.size(); ++i) {
    for (std::size_t j = i + 1; j < placed.size(); ++j) {
      EXPECT_FALSE(placed[i].Bounds.intersects(placed[j].Bounds))
          << placed[i].Control->objectName().toStdString() << " and "
          << placed[j].Control->objectName().toStdString();
    }
  }
  // Where the toolbar is wide enough for everything, the last button stands at its right end.
  if (Layout->ToolBar1->width() >= 23 + Layout->ToolButton2->width() + 110) {
    EXPECT_EQ(Layout->EditButton->geometry().right() + 1, Layout->ToolBar1->width() - 2);
  }
}

INSTANTIATE_TEST_SUITE_P(WindowWidths, ToolbarWidthTest,
                         ::testing::Values(161 + 100, 400, 161 + 300, 500, 161 + 569, 1200));

}  // namespace
}  // namespace penamo
