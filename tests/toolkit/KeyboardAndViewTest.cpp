// The toolkit's parts for the keyboard and for looking closely: tooltips that name a command's
// keys, speed buttons worked from the keyboard, image controls that magnify, blend transparent
// pixels over a checkerboard and outline a rectangle, and a scroll box the wheel scrolls.
#include <gtest/gtest.h>

#include <QTest>
#include <QWheelEvent>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "ApplicationTestSupport.h"
#include "BitmapPainter.h"
#include "ChoiceBox.h"
#include "ExpectRefusal.h"
#include "Form.h"
#include "FrameSpeedButton.h"
#include "HintWindow.h"
#include "Image.h"
#include "ImageTestSupport.h"
#include "ScrollBox.h"
#include "SpinEdit.h"

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
  // The dotted focus shows once the keyboard brought it, not where a window starts with it.
  const auto dots = [this] {
    const QImage shot = second->grab().toImage();
    int count = 0;
    for (int y = 2; y < 20; ++y)
      count += shot.pixel(2, y) == Rgb(clWindowText) ? 1 : 0;
    return count;
  };
  second->setFocus(Qt::ActiveWindowFocusReason);
  ASSERT_TRUE(second->hasFocus());
  EXPECT_EQ(dots(), 0);
  second->clearFocus();
  second->setFocus(Qt::TabFocusReason);
  EXPECT_GT(dots(), 0);
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

// Every pixel of a different colour, so a shifted block shows.
QRgb Pattern(int x, int y) {
  return qRgb((x * 37) % 256, (y * 53) % 256, (x * 7 + y * 13) % 256);
}

class ZoomedImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = MakeHost(300, 240);
    image = new TImage(host.get());
    image->move(5, 7);
    ShowAndWait(host.get());
  }
  QImage Shot() const { return image->grab().toImage(); }

  std::unique_ptr<QWidget> host;
  TImage* image = nullptr;
};

TEST_F(ZoomedImageTest, EachPixelIsAnExactBlockAndPointerPositionsArePicturePixels) {
  const auto picture = MakeBitmap(30, 20, Pattern);
  image->SetAutoSize(true);
  image->Picture().Assign(picture.get());
  std::vector<QPoint> released;
  image->OnMouseUp = [&](TImage&, TMouseButton, TShiftState, int x, int y) {
    released.emplace_back(x, y);
  };
  for (const int zoom : {1, 2, 3, 4}) {
    SCOPED_TRACE(zoom);
    image->SetZoom(zoom);
    EXPECT_EQ(image->size(), QSize(30 * zoom, 20 * zoom));
    const QImage shot = Shot();
    for (int y = 0; y < 20 * zoom; ++y)
      for (int x = 0; x < 30 * zoom; ++x)
        ASSERT_EQ(shot.pixel(x, y) | 0xFF000000u, Pattern(x / zoom, y / zoom)) << x << ", " << y;
    Click(image, QPoint(7 * zoom + zoom - 1, 5 * zoom));
    ASSERT_FALSE(released.empty());
    EXPECT_EQ(released.back(), QPoint(7, 5)) << "the last screen pixel of a block is that pixel";
  }
  // Dragged out past the top-left: floor, never toward zero.
  Press(image, QPoint(10, 10));
  Release(image, QPoint(-1, -5));
  EXPECT_EQ(released.back(), QPoint(-1, -2));
  image->SetZoom(0);
  EXPECT_EQ(image->Zoom(), 1);
}

TEST_F(ZoomedImageTest, OnlyPixelsBelowFullOpacityShowTheCheckerboardAndANewPictureDropsThePlane) {
  const auto picture = SolidBitmap(40, 24, qRgb(200, 0, 0));
  image->Picture().Assign(picture.get());
  auto alpha = std::make_shared<std::vector<std::uint8_t>>(40 * 24, 255);
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 40; ++x) {
      if (x >= 20) (*alpha)[static_cast<std::size_t>(y * 40 + x)] = x >= 30 ? 0 : 128;
    }
  }
  image->SetAlpha(alpha);
  for (const int zoom : {1, 2}) {
    SCOPED_TRACE(zoom);
    image->SetZoom(zoom);
    const QImage shot = Shot();
    for (int y = 0; y < 24 * zoom; ++y) {
      for (int x = 0; x < 40 * zoom; ++x) {
        const int px = x / zoom;
        const QRgb under = CheckerColor(x, y);
        const QRgb expected =
            px < 20   ? qRgb(200, 0, 0)
            : px < 30 ? qRgb((200 * 128 + qRed(under) * 127 + 127) / 255,
                             (qGreen(under) * 127 + 127) / 255, (qBlue(under) * 127 + 127) / 255)
                      : under;
        ASSERT_EQ(shot.pixel(x, y) | 0xFF000000u, expected) << x << ", " << y;
      }
    }
  }
  EXPECT_NE(CheckerColor(0, 0), CheckerColor(kCheckerSquare, 0)) << "two colours";

  // A plane of another size is not used; a new picture drops the plane.
  image->SetZoom(1);
  image->SetAlpha(std::make_shared<std::vector<std::uint8_t>>(10, 0));
  EXPECT_EQ(Shot().pixel(35, 3) | 0xFF000000u, qRgb(200, 0, 0));
  image->SetAlpha(alpha);
  image->Picture().Assign(picture.get());
  EXPECT_EQ(image->Alpha(), nullptr);
  EXPECT_EQ(Shot().pixel(35, 3) | 0xFF000000u, qRgb(200, 0, 0));
}

TEST_F(ZoomedImageTest, TheMarkedRectangleIsFramedInPicturePixelsAtEveryZoom) {
  const auto picture = SolidBitmap(60, 50, qRgb(90, 90, 90));
  image->SetAutoSize(true);
  image->Picture().Assign(picture.get());
  image->SetMarkedRect(QRect(10, 5, 20, 15));
  for (const int zoom : {1, 2, 4}) {
    SCOPED_TRACE(zoom);
    image->SetZoom(zoom);
    const QImage shot = Shot();
    const QRect outer(10 * zoom, 5 * zoom, 20 * zoom, 15 * zoom);
    const auto at = [&](int x, int y) { return shot.pixel(x, y) | 0xFF000000u; };
    for (int x = outer.left(); x <= outer.right(); ++x) {
      ASSERT_EQ(at(x, outer.top()), TImage::MarkOuterColor()) << x;
      ASSERT_EQ(at(x, outer.bottom()), TImage::MarkOuterColor()) << x;
    }
    for (int y = outer.top(); y <= outer.bottom(); ++y) {
      ASSERT_EQ(at(outer.left(), y), TImage::MarkOuterColor()) << y;
      ASSERT_EQ(at(outer.right(), y), TImage::MarkOuterColor()) << y;
    }
    EXPECT_EQ(at(outer.left() + 1, outer.top() + 5), TImage::MarkInnerColor());
    EXPECT_EQ(at(outer.right() - 1, outer.bottom() - 1), TImage::MarkInnerColor());
    // Just outside and inside the two rings the picture shows.
    EXPECT_EQ(at(outer.left() - 1, outer.top() + 5), qRgb(90, 90, 90));
    EXPECT_EQ(at(outer.left() + 2, outer.top() + 5), qRgb(90, 90, 90));
  }
  image->SetMarkedRect(QRect());
  EXPECT_EQ(Shot().pixel(40, 20) | 0xFF000000u, qRgb(90, 90, 90)) << "no frame any more";
}

// Whether the box took the event; one it leaves goes on to its parent.
bool Wheel(QWidget* widget, QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const QPointF at(10, 10);
  QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), angle, Qt::NoButton, modifiers,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(widget, &event);
  return event.isAccepted();
}

TEST(ScrollBoxWheel, TheWheelScrollsDownAndUpShiftAcrossAndCtrlIsLeftToTheParent) {
  QWidget parent;
  parent.resize(300, 200);
  auto* box = new TScrollBox(&parent);
  box->setGeometry(0, 0, 300, 200);
  auto* content = new QWidget(box->Client());
  content->setGeometry(0, 0, 2000, 1500);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  box->UpdateScrollBars();
  const int notch = std::max(1, QApplication::wheelScrollLines()) * 2 * 8;

  Wheel(box, QPoint(0, -120));  // towards the user: further down
  EXPECT_EQ(box->VertScrollBar().Position(), notch);
  EXPECT_EQ(content->y(), -notch);
  Wheel(box, QPoint(0, -240));
  EXPECT_EQ(box->VertScrollBar().Position(), 3 * notch);
  Wheel(box, QPoint(0, 120));
  EXPECT_EQ(box->VertScrollBar().Position(), 2 * notch);
  Wheel(box, QPoint(0, 1200));
  EXPECT_EQ(box->VertScrollBar().Position(), 0) << "never above the top";

  Wheel(box, QPoint(0, -120), Qt::ShiftModifier);
  EXPECT_EQ(box->HorzScrollBar().Position(), notch);
  EXPECT_EQ(box->VertScrollBar().Position(), 0);
  EXPECT_TRUE(Wheel(box, QPoint(-120, 0)));  // a sideways wheel
  EXPECT_EQ(box->HorzScrollBar().Position(), 2 * notch);

  EXPECT_FALSE(Wheel(box, QPoint(0, -120), Qt::ControlModifier));
  EXPECT_EQ(box->VertScrollBar().Position(), 0);
  EXPECT_EQ(box->HorzScrollBar().Position(), 2 * notch);
}

TEST(ToolbarFields, TheUsersChangesAreReportedTheProgramsAreNotAndTheWheelNeedsTheFocus) {
  TCustomForm window;
  window.setGeometry(100, 100, 300, 60);
  auto* list = new TChoiceBox(&window);
  list->setGeometry(0, 0, 80, 22);
  list->SetItems({QStringLiteral("等倍"), QStringLiteral("2倍"), QStringLiteral("4倍")});
  auto* number = new TSpinEdit(&window);
  number->setGeometry(90, 0, 80, 22);
  number->SetBounds(0, 100);
  number->SetValue(100);
  int listChanges = 0;
  int numberChanges = 0;
  list->OnChange = [&](TChoiceBox&) { ++listChanges; };
  number->OnChange = [&](TSpinEdit&) { ++numberChanges; };
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  list->SetItemIndex(2);
  number->SetValue(250);
  EXPECT_EQ(number->Value(), 100) << "kept within the bounds";
  EXPECT_EQ(listChanges + numberChanges, 0) << "the program's own settings are not reported";

  number->setFocus(Qt::TabFocusReason);
  QTest::keyClick(number, Qt::Key_Down);
  EXPECT_EQ(number->Value(), 99);
  EXPECT_EQ(numberChanges, 1);
  number->selectAll();
  QTest::keyClicks(number, QStringLiteral("42"));
  EXPECT_EQ(numberChanges, 1) << "typing reports once the number is complete";
  QTest::keyClick(number, Qt::Key_Return);
  EXPECT_EQ(number->Value(), 42);
  EXPECT_EQ(numberChanges, 2);

  // The wheel over the list changes nothing until the list has the focus.
  const auto wheel = [](QWidget* widget) {
    QWheelEvent event(QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
  };
  wheel(list);
  EXPECT_EQ(list->ItemIndex(), 2);
  EXPECT_EQ(listChanges, 0);
  list->setFocus(Qt::TabFocusReason);
  wheel(list);
  EXPECT_EQ(list->ItemIndex(), 1);
  EXPECT_EQ(listChanges, 1);
  wheel(number);
  EXPECT_EQ(number->Value(), 42) << "the number field has lost the focus";
}

// Counts its paints, from whichever thread asks.
class TPaintCounter : public QWidget {
 public:
  std::atomic<int> Paints{0};

 protected:
  void paintEvent(QPaintEvent*) override { ++Paints; }
};

TEST(RunWhilePainting, TheWindowsRepaintWhileTheWorkRunsAndItsErrorComesBackHere) {
  TPaintCounter window;
  window.resize(100, 80);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QApplication::processEvents();
  const int before = window.Paints.load();
  window.update();  // as a dialog closing over it asks
  bool paintedMeanwhile = false;
  Application->RunWhilePainting([&] {
    // The work waits for the paint; without it, it would give up after five seconds.
    for (int i = 0; i < 500 && window.Paints.load() == before; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    paintedMeanwhile = window.Paints.load() > before;
  });
  EXPECT_TRUE(paintedMeanwhile);

  // The error comes back.
  test::ExpectRefusal<EWriteError>(
      [] {
        Application->RunWhilePainting([] { throw EWriteError("ストリームの書き込みエラー"); });
      },
      test::kAnyReason, "ストリームの書き込みエラー");
  // Quick work ends at once, again and again.
  int runs = 0;
  for (int i = 0; i < 50; ++i)
    Application->RunWhilePainting([&] { ++runs; });
  EXPECT_EQ(runs, 50);
}

}  // namespace
}  // namespace penamo
