// Tooltips: when they show, where, for how long, and what ends them. The timer is fired by
// hand where the order of things matters; one test lets the real timer run.
#include <gtest/gtest.h>

#include <QTest>

#include "ApplicationTestSupport.h"
#include "Form.h"
#include "HintWindow.h"
#include "SystemColors.h"

namespace penamo {
namespace {

using test::HintedBox;
using TTimerMode = THintService::TTimerMode;

// A window with two adjacent controls asking for tooltips and a bare area beside them.
class Tooltips : public ::testing::Test {
 protected:
  void SetUp() override {
    Hints.Cancel();
    Window.setGeometry(100, 100, 300, 100);
    First = new HintedBox(&Window, QStringLiteral("ビットマップを読み込む|長い説明"));
    First->setGeometry(10, 10, 23, 22);
    Second = new HintedBox(&Window, QStringLiteral("サンプルの表示"));
    Second->setGeometry(33, 10, 23, 22);
    Bare = new QWidget(&Window);
    Bare->setGeometry(60, 10, 100, 22);
    Window.show();
    Window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
  }
  void TearDown() override {
    Hints.Cancel();
    Hints.SetHintDelay(500);
    Hints.SetHintNextDelay(0);
    Hints.SetHintShowTime(2500);
  }

  static void MoveTo(QWidget* widget, QPoint pos = QPoint(5, 5)) { QTest::mouseMove(widget, pos); }
  QString ShownText() const { return Hints.Showing() ? Hints.Window()->Text() : QString(); }

  THintService& Hints = Application->Hints();
  TCustomForm Window;
  HintedBox* First = nullptr;
  HintedBox* Second = nullptr;
  QWidget* Bare = nullptr;
};

TEST_F(Tooltips, ShowAfterTheRestDelayBelowThePointerAndHideAfterTheShowTime) {
  MoveTo(First, QPoint(4, 6));
  EXPECT_EQ(Hints.HintControl(), First);
  EXPECT_TRUE(Hints.TimerRunning());
  EXPECT_EQ(Hints.TimerMode(), TTimerMode::Show);
  EXPECT_EQ(Hints.TimerInterval(), 500);
  EXPECT_FALSE(Hints.Showing());

  Hints.TimerFired();
  ASSERT_TRUE(Hints.Showing());
  EXPECT_EQ(ShownText(), QStringLiteral("ビットマップを読み込む"));
  const QPoint pointer = First->mapToGlobal(QPoint(4, 6));
  EXPECT_EQ(Hints.Window()->pos(), pointer + QPoint(0, THintService::CursorDrop()));
  EXPECT_EQ(Hints.TimerMode(), TTimerMode::Hide);
  EXPECT_EQ(Hints.TimerInterval(), 2500);
  EXPECT_EQ(QApplication::activeWindow(), &Window);  // showing it took no activation

  Hints.TimerFired();
  EXPECT_FALSE(Hints.Showing());
  MoveTo(First, QPoint(8, 8));  // still on the same control: it does not come back
  EXPECT_FALSE(Hints.TimerRunning());
  EXPECT_FALSE(Hints.Showing());
}

TEST_F(Tooltips, MovingWithinAControlBeforeItShowsStartsTheWaitAgain) {
  MoveTo(First, QPoint(4, 6));
  MoveTo(First, QPoint(6, 6));
  EXPECT_TRUE(Hints.TimerRunning());
  EXPECT_EQ(Hints.TimerInterval(), 500);
}

TEST_F(Tooltips, MovingStraightToAnotherControlShowsItsTooltipAtOnce) {
  MoveTo(First);
  Hints.TimerFired();
  MoveTo(Second);
  EXPECT_EQ(ShownText(), QStringLiteral("サンプルの表示"));

  Hints.TimerFired();  // timed out on the second ...
  EXPECT_FALSE(Hints.Showing());
  MoveTo(First);  // ... the next one still shows at once
  EXPECT_EQ(ShownText(), QStringLiteral("ビットマップを読み込む"));
}

TEST_F(Tooltips, PassingOverABareAreaResetsTheWait) {
  MoveTo(First);
  Hints.TimerFired();
  MoveTo(Bare);
  EXPECT_FALSE(Hints.Showing());
  EXPECT_EQ(Hints.HintControl(), nullptr);
  MoveTo(Second);
  EXPECT_FALSE(Hints.Showing());
  EXPECT_EQ(Hints.TimerMode(), TTimerMode::Show);
  EXPECT_EQ(Hints.TimerInterval(), 500);
}

TEST_F(Tooltips, AKeyOrAMouseButtonHidesTheTooltipAtOnce) {
  MoveTo(First);
  Hints.TimerFired();
  ASSERT_TRUE(Hints.Showing());
  QTest::keyClick(&Window, Qt::Key_A);
  EXPECT_FALSE(Hints.Showing());
  EXPECT_FALSE(Hints.TimerRunning());

  MoveTo(Second);
  Hints.TimerFired();
  ASSERT_TRUE(Hints.Showing());
  QTest::mousePress(Window.windowHandle(), Qt::LeftButton, {}, QPoint(40, 15));
  EXPECT_FALSE(Hints.Showing());
  QTest::mouseRelease(Window.windowHandle(), Qt::LeftButton, {}, QPoint(40, 15));
}

TEST_F(Tooltips, WhileAButtonIsHeldTheControlUnderThePointerCounts) {
  QWindow* handle = Window.windowHandle();
  QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(15, 15));  // on the first control
  QTest::mouseMove(handle, QPoint(40, 15));
  EXPECT_EQ(Hints.HintControl(), Second);
  QTest::mouseMove(handle, QPoint(200, 80));
  EXPECT_EQ(Hints.HintControl(), nullptr);
  QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(200, 80));
}

TEST_F(Tooltips, NoTooltipShowsWhileNoWindowOfTheProgramIsActive) {
  MoveTo(First);
  QApplication::setActiveWindow(nullptr);
  Hints.TimerFired();
  EXPECT_FALSE(Hints.Showing());
}

TEST_F(Tooltips, AControlWithoutShowHintLeavesItToItsParent) {
  auto* inner = new QWidget(First);
  inner->setGeometry(2, 2, 5, 5);
  auto* silent = new HintedBox(&Window, QStringLiteral("silent"), false);
  silent->setGeometry(200, 50, 20, 20);
  EXPECT_EQ(THintService::HintControlOf(inner), First);
  EXPECT_EQ(THintService::HintControlOf(silent), nullptr);
  First->setEnabled(false);
  EXPECT_EQ(THintService::HintControlOf(inner), nullptr);
}

TEST_F(Tooltips, AnEmptyHintTakesItsParentsText) {
  auto* child = new HintedBox(First, QString());
  child->setGeometry(1, 1, 10, 10);
  child->show();
  MoveTo(child, QPoint(3, 3));
  Hints.TimerFired();
  EXPECT_EQ(ShownText(), QStringLiteral("ビットマップを読み込む"));
}

TEST_F(Tooltips, TheRealTimerShowsAndHidesTheTooltip) {
  Hints.SetHintDelay(20);
  Hints.SetHintShowTime(80);
  MoveTo(First);
  EXPECT_TRUE(QTest::qWaitFor([this] { return Hints.Showing(); }, 3000));
  EXPECT_TRUE(QTest::qWaitFor([this] { return !Hints.Showing(); }, 3000));
}

TEST_F(Tooltips, TheSwitchTurnedOffRemovesTheWindowAndShowsNothing) {
  Application->SetShowHint(false);
  EXPECT_EQ(Hints.Window(), nullptr);
  MoveTo(First);
  EXPECT_FALSE(Hints.TimerRunning());
  Application->SetShowHint(true);
  EXPECT_NE(Hints.Window(), nullptr);
}

TEST(HintWindow, NeverTakesFocusOrInput) {
  THintWindow window;
  EXPECT_EQ(window.windowType(), Qt::ToolTip);
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowTransparentForInput));
  EXPECT_TRUE(window.testAttribute(Qt::WA_ShowWithoutActivating));
  EXPECT_EQ(window.focusPolicy(), Qt::NoFocus);
}

TEST(HintWindow, IsTheTextExtentPlusSixAndDrawsTheInfoColoursInsideARaisedEdge) {
  THintWindow window;
  const QString text = QStringLiteral("バージョン情報を表示する");
  const QSize size = window.SizeFor(text, 1000);
  EXPECT_EQ(size.width(), window.fontMetrics().horizontalAdvance(text) + 6);
  EXPECT_EQ(size.height(), window.fontMetrics().height() + 6);

  window.ActivateHint(QRect(QPoint(10, 10), size), text);
  const QImage image = window.grab().toImage();
  const int w = image.width();
  const int h = image.height();
  const auto rgb = [](TColor color) { return ColorToQColor(color).rgb(); };
  EXPECT_EQ(image.pixel(0, 0), rgb(clBtnHighlight));
  EXPECT_EQ(image.pixel(w - 1, h - 1), rgb(clBtnShadow));
  EXPECT_EQ(image.pixel(1, h - 2), rgb(clInfoBk));
  bool textDrawn = false;
  for (int y = 3; y < h - 3 && !textDrawn; ++y) {
    for (int x = 3; x < w - 3 && !textDrawn; ++x) {
      textDrawn = image.pixel(x, y) != rgb(clInfoBk);
    }
  }
  EXPECT_TRUE(textDrawn);
  window.hide();
}

TEST(HintWindow, LongTextWrapsWithinTheGivenWidth) {
  THintWindow window;
  const QString text = QStringLiteral("ビットマップを16階調パターンディザフィルターをかけ出力する");
  const QSize size = window.SizeFor(text, 120);
  EXPECT_LE(size.width(), 126);
  EXPECT_GT(size.height(), window.fontMetrics().height() + 6);
}

struct PlacementCase {
  QPoint Pointer;
  QSize Size;
  QPoint Expected;
};

class HintPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(HintPlacement, GoesBelowThePointerAndStaysOnTheDesktop) {
  const QRect desktop(0, 0, 800, 600);
  EXPECT_EQ(HintRectFor(GetParam().Pointer, 20, GetParam().Size, desktop).topLeft(),
            GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pointers, HintPlacement,
    ::testing::Values(PlacementCase{{100, 100}, {80, 18}, {100, 120}},
                      PlacementCase{{780, 100}, {80, 18}, {720, 120}},  // pushed left
                      PlacementCase{{100, 590}, {80, 18}, {100, 582}},  // pushed up
                      PlacementCase{{-30, 100}, {80, 18}, {0, 120}},    // pushed right
                      PlacementCase{{10, 100}, {900, 18}, {0, 120}}));  // wider than all

TEST(ShortHint, IsTheTextUpToTheFirstBar) {
  EXPECT_EQ(ShortHint("short|long|more"), QStringLiteral("short"));
  EXPECT_EQ(ShortHint("whole"), QStringLiteral("whole"));
  EXPECT_EQ(ShortHint("|long"), QString());
}

}  // namespace
}  // namespace penamo
