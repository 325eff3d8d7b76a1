// The window program's start from its command line: `penamo FILE` opens FILE once the window
// shows, exactly as the open command does; without an operand nothing is opened; more than one
// is refused. Each run is a whole program run, in a child process.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "MainForm.h"
#include "MainFormAccess.h"
#include "Program.h"
#include "WindowTestSupport.h"

namespace penamo {
namespace {

void Say(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toUtf8().constData());
}

// What the window shows once the program runs. `folder` is where the next open dialog should
// start.
QString State(const QString& folder) {
  const TBitmap& picture = MainForm->Bitmap();
  const QString next = TMainFormTestAccess::OpenDialog1(*MainForm).FileName();
  return QStringLiteral("window %1, picture %2 x %3 at %4 %5, next open %6")
      .arg(MainForm->isVisible() ? QStringLiteral("shown") : QStringLiteral("hidden"))
      .arg(picture.Width())
      .arg(picture.Height())
      .arg(MainForm->SampleOrigin().X)
      .arg(MainForm->SampleOrigin().Y)
      .arg(next.isEmpty()                     ? QStringLiteral("where Qt chooses")
           : QFileInfo(next).path() == folder ? QStringLiteral("in the file's folder")
                                              : QStringLiteral("in ") + QFileInfo(next).path());
}

// The text a box is expected to show; said as "as expected" when it does.
QString ExpectedBox;

// Runs the program with `operands`; says what every box shows and, once the window shows and
// whatever the start queued has been done, what the window shows; then ends the program.
int RunAndReport(const QStringList& operands, const QString& folder = {}) {
  Application->MessageBoxShower = [](const TMessageBoxRequest& request) {
    Say(QStringLiteral("box [%1] [%2] over a %3 window")
            .arg(request.Caption,
                 request.Text == ExpectedBox ? QStringLiteral("as expected") : request.Text,
                 MainForm != nullptr && MainForm->isVisible() ? QStringLiteral("shown")
                                                              : QStringLiteral("hidden")));
  };
  auto* watch = new QTimer(qApp);
  int waited = 0;
  QObject::connect(watch, &QTimer::timeout, watch, [watch, &waited, folder] {
    if (MainForm == nullptr || !MainForm->isVisible()) return;
    // Behind every event already waiting: the open queued at the start comes first.
    if (++waited < 20) return;
    watch->stop();
    Say(State(folder));
    Application->RequestQuit();
  });
  watch->start(10);
  return RunProgram(*Application, operands);
}

class ProgramDeathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_TRUE(Dir.isValid());
    TBitmap picture;
    testing::MakeTestPicture(picture, 300, 200);
    Picture = Dir.filePath(QStringLiteral("picture.bmp"));
    picture.WriteBitmapFile(Picture.toStdString());
  }

  QTemporaryDir Dir;
  QString Picture;
};

TEST_F(ProgramDeathTest, AFileNamedOnTheCommandLineIsOpenedOnceTheWindowShows) {
  EXPECT_EXIT(std::exit(RunAndReport({Picture}, Dir.path())), ::testing::ExitedWithCode(0),
              "(^|\n)window shown, picture 300 x 200 at 0 0, next open in the file's folder\n");
}

TEST_F(ProgramDeathTest, ARelativeNameIsTakenInTheWorkingFolder) {
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Dir.path()));
  EXPECT_EXIT(std::exit(RunAndReport({QStringLiteral("picture.bmp")}, Dir.path())),
              ::testing::ExitedWithCode(0),
              "(^|\n)window shown, picture 300 x 200 at 0 0, next open in the file's folder\n");
  QDir::setCurrent(previous);
}

TEST_F(ProgramDeathTest, AFileThatCannotBeReadIsReportedAndTheEmptyWindowStays) {
  EXPECT_EXIT(
      {
        const QString missing = Dir.filePath(QStringLiteral("missing.bmp"));
        ExpectedBox = QStringLiteral(
                          "ファイル %1 は開けません.\nファイル %1: "
                          "ファイルまたはフォルダーがありません")
                          .arg(missing);
        std::exit(RunAndReport({missing}, Dir.path()));
      },
      ::testing::ExitedWithCode(0),
      "(^|\n)box \\[" + std::string(ProgramTitle) +
          "\\] \\[as expected\\] over a shown window\n"
          "window shown, picture 0 x 0 at 0 0, next open in the file's folder\n");
}

TEST_F(ProgramDeathTest, WithoutAnOperandTheEmptyWindowShows) {
  EXPECT_EXIT(std::exit(RunAndReport({})), ::testing::ExitedWithCode(0),
              "(^|\n)window shown, picture 0 x 0 at 0 0, next open where Qt chooses\n");
}

TEST_F(ProgramDeathTest, MoreThanOneOperandOrAnEmptyOneIsRefusedBeforeAnyWindow) {
  EXPECT_EXIT(std::exit(RunAndReport({Picture, Picture})), ::testing::ExitedWithCode(ExitUsage),
              "penamo: 開くファイルを1つだけ指定してください\n使い方: penamo \\[FILE\\]\n");
  EXPECT_EXIT(std::exit(RunAndReport({QString()})), ::testing::ExitedWithCode(ExitUsage),
              "使い方: penamo \\[FILE\\]");
}

}  // namespace
}  // namespace penamo
