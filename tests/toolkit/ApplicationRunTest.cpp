// The program's whole run: building the main window, the event loop, the quit request and the
// exit code. Runs that end the program run in a child process.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMetaObject>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "ApplicationTestSupport.h"
#include "ExpectRefusal.h"
#include "Form.h"

namespace penamo {
namespace {

void Say(const char* text) {
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
}

class RunWindow;
RunWindow* MainWindow = nullptr;

// A main window that says what happens to it.
class RunWindow : public TCustomForm {
 public:
  RunWindow() {
    SeenThroughVariable = MainWindow == this;
    Label = new QLabel("label", this);
    OnCreate = [this](TCustomForm&) {
      Say(isVisible() ? "created, visible" : "created, hidden");
      if (FailInCreate) throw Exception("作成に失敗");
    };
    OnDestroy = [this](TCustomForm&) {
      Say(Label != nullptr && !isVisible() ? "destroyed, components alive" : "destroyed, wrongly");
    };
  }
  bool SeenThroughVariable = false;
  QLabel* Label = nullptr;
  static inline bool FailInCreate = false;
};

class BrokenWindow : public TCustomForm {
 public:
  BrokenWindow() { throw Exception("TBrokenWindow リソースが見つかりません"); }
};

void PrintBoxes() {
  Application->MessageBoxShower = [](const TMessageBoxRequest& request) {
    QString text = request.Text;
    text.replace(QLatin1Char('\n'), QLatin1Char('|'));
    std::fprintf(stderr, "box [%s] [%s]\n", request.Caption.toUtf8().constData(),
                 text.toUtf8().constData());
  };
}

int RunWithMainWindow(const std::function<void()>& whenRunning) {
  PrintBoxes();
  return RunApplication(*Application, "題名", [&](TApplication& app) {
    app.CreateMainWindow(MainWindow);
    QTimer::singleShot(0, [&] {
      Say(MainWindow->isVisible() ? "running, visible" : "running, hidden");
      whenRunning();
    });
  });
}

TEST(ApplicationRunDeathTest, TheQuitRequestEndsTheProgramAfterTheEventsAlreadyWaiting) {
  EXPECT_EXIT(
      {
        const int code = RunWithMainWindow([] {
          QMetaObject::invokeMethod(
              qApp, [] { Say("waiting event"); }, Qt::QueuedConnection);
          Application->RequestQuit();
          Say("request returned");
        });
        std::exit(code);
      },
      ::testing::ExitedWithCode(0),
      "created, hidden\nrunning, visible\nrequest returned\nwaiting event\n"
      "destroyed, components alive\n");
}

TEST(ApplicationRunDeathTest, ClosingTheMainWindowEndsTheProgramAsTheQuitRequestDoes) {
  EXPECT_EXIT(std::exit(RunWithMainWindow([] { MainWindow->close(); })),
              ::testing::ExitedWithCode(0), "running, visible\ndestroyed, components alive\n");
}

TEST(ApplicationRunDeathTest, AnErrorInTheMainWindowsOnCreateIsShownAndTheWindowIsUsed) {
  EXPECT_EXIT(
      {
        RunWindow::FailInCreate = true;
        std::exit(RunWithMainWindow([] { Application->RequestQuit(); }));
      },
      ::testing::ExitedWithCode(0),
      "created, hidden\nbox \\[題名\\] \\[作成に失敗\\.\\]\nrunning, visible\n"
      "destroyed, components alive\n");
}

TEST(ApplicationRunDeathTest, AnErrorBeforeTheLoopGivesTheApplicationErrorBoxAndExitCodeOne) {
  EXPECT_EXIT(
      {
        PrintBoxes();
        BrokenWindow* broken = nullptr;
        std::exit(RunApplication(*Application, "題名",
                                 [&](TApplication& app) { app.CreateMainWindow(broken); }));
      },
      ::testing::ExitedWithCode(1),
      "box \\[アプリケーション エラー\\] \\[Exception がモジュール toolkit_tests の [0-9A-F]+ "
      "で発生しました。\\|TBrokenWindow リソースが見つかりません\\.\\|\\]");
}

TEST(ApplicationRunDeathTest, AModalWindowOpenWhenTheQuitRequestArrivesEndsWithCancel) {
  EXPECT_EXIT(
      {
        TFormPtr<TCustomForm> dialog = MakeForm<TCustomForm>();
        QTimer::singleShot(0, [] { Application->RequestQuit(); });
        const int result = Application->RunModal(*dialog);
        std::exit(result == mrCancel && Application->Terminated() ? 3 : 4);
      },
      ::testing::ExitedWithCode(3), "");
}

TEST(CreateMainWindow, TheFirstWindowBuiltBecomesTheMainWindowHiddenWithItsNativeWindow) {
  RunWindow::FailInCreate = false;
  RunWindow* window = nullptr;
  Application->CreateMainWindow(window);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(Application->MainForm(), window);
  EXPECT_TRUE(window->testAttribute(Qt::WA_WState_Created));  // native window made at once
  TFormDeleter()(window);
  EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST(CreateMainWindow, SeesItselfThroughTheVariableDuringConstruction) {
  RunWindow::FailInCreate = false;
  Application->CreateMainWindow(MainWindow);
  EXPECT_TRUE(MainWindow->SeenThroughVariable);
  TFormDeleter()(MainWindow);
  MainWindow = nullptr;
}

TEST(CreateMainWindow, AConstructorErrorResetsTheVariableAndPassesOn) {
  BrokenWindow* broken = reinterpret_cast<BrokenWindow*>(&broken);  // anything but null
  test::ExpectRefusal<Exception>([&] { Application->CreateMainWindow(broken); }, test::kAnyReason);
  EXPECT_EQ(broken, nullptr);
  EXPECT_EQ(Application->MainForm(), nullptr);
}

}  // namespace
}  // namespace penamo
