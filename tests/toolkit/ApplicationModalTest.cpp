// Modal windows and closing windows.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include "ApplicationTestSupport.h"
#include "ExpectRefusal.h"
#include "Form.h"

namespace penamo {
namespace {

using test::ExpectRefusal;
using test::kAnyReason;

// A shown, active window with one button that counts its clicks.
class ModalWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    Main.resize(300, 200);
    Button = new QPushButton("x", &Main);
    Button->setGeometry(10, 10, 80, 30);
    QObject::connect(Button, &QPushButton::clicked, [this] { ++Clicks; });
    Main.show();
    Main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main));
  }

  // A click that takes the window system's road, where modality applies.
  void ClickMainButton() {
    QTest::mouseClick(Main.windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
  }

  TCustomForm Main;
  QPushButton* Button = nullptr;
  int Clicks = 0;
};

TEST_F(ModalWindows, OtherWindowsTakeNoInputWhileAModalWindowRuns) {
  TFormPtr<TCustomForm> dialog = MakeForm<TCustomForm>();
  dialog->resize(100, 50);
  bool wasModal = false;
  test::WhenModal([&](QWidget& modal) {
    wasModal = &modal == dialog.get() && dialog->IsModal();
    ClickMainButton();
    Application->RequestClose(*dialog);
  });
  const int result = Application->RunModal(*dialog);
  EXPECT_TRUE(wasModal);
  EXPECT_EQ(result, mrCancel);
  EXPECT_EQ(Clicks, 0);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(dialog->IsModal());

  EXPECT_TRUE(QTest::qWaitForWindowActive(&Main));
  ClickMainButton();
  EXPECT_EQ(Clicks, 1);
}

TEST_F(ModalWindows, TheCloseBoxOfAModalWindowEndsItWithCancel) {
  TFormPtr<TCustomForm> dialog = MakeForm<TCustomForm>();
  test::WhenModal([&](QWidget&) { dialog->close(); });
  EXPECT_EQ(Application->RunModal(*dialog), mrCancel);
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(ModalWindows, AModalResultSetByAHandlerIsReturned) {
  TFormPtr<TCustomForm> dialog = MakeForm<TCustomForm>();
  test::WhenModal([&](QWidget&) { dialog->SetModalResult(7); });
  EXPECT_EQ(Application->RunModal(*dialog), 7);
}

TEST_F(ModalWindows, ARefusedCloseKeepsTheWindowRunning) {
  TFormPtr<TCustomForm> dialog = MakeForm<TCustomForm>();
  int asked = 0;
  // The second request is made once the first was answered (see the close-check test below).
  dialog->OnCloseQuery = [&](TCustomForm&, bool& canClose) {
    canClose = ++asked > 1;
    if (asked > 1) return;
    QTimer::singleShot(0, [&] {
      EXPECT_TRUE(dialog->isVisible());
      EXPECT_EQ(dialog->ModalResult(), mrNone);
      Application->RequestClose(*dialog);
    });
  };
  test::WhenModal([&](QWidget&) { Application->RequestClose(*dialog); });
  EXPECT_EQ(Application->RunModal(*dialog), mrCancel);
  EXPECT_EQ(asked, 2);
}

TEST_F(ModalWindows, AShowingWindowCannotBeMadeModal) {
  TFormPtr<TCustomForm> dialog = MakeForm<TCustomForm>();
  dialog->show();
  ExpectRefusal<Exception>([&] { Application->RunModal(*dialog); }, kAnyReason,
                           "表示されているウィンドウをモーダルにすることはできません");
  EXPECT_FALSE(dialog->IsModal());
  EXPECT_TRUE(dialog->isVisible());

  dialog->hide();
  dialog->setEnabled(false);
  ExpectRefusal<Exception>([&] { Application->RunModal(*dialog); }, kAnyReason);
}

TEST_F(ModalWindows, AModalWindowHiddenByOtherMeansEndsItsLoop) {
  TFormPtr<TCustomForm> dialog = MakeForm<TCustomForm>();
  test::WhenModal([&](QWidget&) { dialog->hide(); });
  EXPECT_EQ(Application->RunModal(*dialog), mrCancel);
}

TEST_F(ModalWindows, AnErrorInTheCloseCheckIsReportedAndTheWindowStays) {
  test::BoxRecorder recorder;
  TFormPtr<TCustomForm> dialog = MakeForm<TCustomForm>();
  int asked = 0;
  // Each next request waits until the previous one was answered: requests that arrive together
  // ask once, which on a busy machine made fixed delays flaky.
  dialog->OnClose = [&](TCustomForm&, TCloseAction&) {
    if (++asked < 3) QTimer::singleShot(0, [&] { Application->RequestClose(*dialog); });
    if (asked == 1) throw EAbort("not now");
    if (asked == 2) throw Exception("まだです");
  };
  test::WhenModal([&](QWidget&) { Application->RequestClose(*dialog); });
  EXPECT_EQ(Application->RunModal(*dialog), mrCancel);
  EXPECT_EQ(asked, 3);
  ASSERT_EQ(recorder.Boxes.size(), 1u);
  EXPECT_EQ(recorder.Boxes[0].Text, QStringLiteral("まだです."));
}

TEST(ClosingWindows, AnOrdinaryWindowIsHiddenUnlessItsCloseHandlerSaysOtherwise) {
  TFormPtr<TCustomForm> window = MakeForm<TCustomForm>();
  window->show();
  TCloseAction answer = TCloseAction::caNone;
  window->OnClose = [&answer](TCustomForm&, TCloseAction& action) { action = answer; };
  window->close();
  EXPECT_TRUE(window->isVisible());

  answer = TCloseAction::caHide;
  window->close();
  EXPECT_FALSE(window->isVisible());
}

TEST(ClosingWindows, AFreedWindowThatBelongsToSomeoneElseIsOnlyHidden) {
  TFormPtr<TCustomForm> window = MakeForm<TCustomForm>();
  const QPointer<TCustomForm> watch = window.get();
  window->OnClose = [](TCustomForm&, TCloseAction& action) { action = TCloseAction::caFree; };
  window->show();
  Application->RequestClose(*window);
  QCoreApplication::processEvents();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(watch.isNull());
}

}  // namespace
}  // namespace penamo
