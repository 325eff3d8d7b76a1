// Errors escaping event handlers: what the user is shown, and that the program goes on.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "ApplicationTestSupport.h"
#include "Exceptions.h"

namespace penamo {
namespace {

using test::BoxRecorder;

const QString Title = QStringLiteral("グラデーション・スムージング「ぺなも」");

// A control whose press handler runs whatever the test gives it.
class PressTarget : public QWidget {
 public:
  std::function<void()> OnPress;
  int Presses = 0;

 protected:
  void mousePressEvent(QMouseEvent* /*event*/) override {
    ++Presses;
    if (OnPress) OnPress();
  }
};

class ErrorReporting : public ::testing::Test {
 protected:
  void SetUp() override {
    FOldTitle = Application->Title();
    Application->SetTitle(Title);
  }
  void TearDown() override { Application->SetTitle(FOldTitle); }

  BoxRecorder Recorder;

 private:
  QString FOldTitle;
};

TEST_F(ErrorReporting, AnErrorInAPressHandlerIsShownAndTheNextPressIsHandled) {
  PressTarget target;
  target.OnPress = [] { throw EInvalidGraphic(Msg::InvalidBitmap); };
  QTest::mouseClick(&target, Qt::LeftButton);
  ASSERT_EQ(Recorder.Boxes.size(), 1u);
  EXPECT_EQ(Recorder.Boxes[0].Text, QStringLiteral("ビットマップイメージが不正です."));
  EXPECT_EQ(Recorder.Boxes[0].Caption, Title);
  EXPECT_EQ(Recorder.Boxes[0].Icon, TMessageIcon::Stop);

  target.OnPress = nullptr;
  QTest::mouseClick(&target, Qt::LeftButton);
  EXPECT_EQ(target.Presses, 2);
  EXPECT_EQ(Recorder.Boxes.size(), 1u);
}

TEST_F(ErrorReporting, AnErrorInATimerCallbackIsShownAndTheLoopGoesOn) {
  bool laterRan = false;
  QTimer::singleShot(0, [] { throw EFOpenError(Msg::FOpenError("a.bmp")); });
  QTimer::singleShot(1, [&laterRan] { laterRan = true; });
  EXPECT_TRUE(QTest::qWaitFor([&laterRan] { return laterRan; }));
  ASSERT_EQ(Recorder.Boxes.size(), 1u);
  EXPECT_EQ(Recorder.Boxes[0].Text, QStringLiteral("ファイル a.bmp は開けません."));
}

TEST_F(ErrorReporting, AnAbortShowsNothing) {
  PressTarget target;
  target.OnPress = [] { throw EAbort("abandoned"); };
  QTest::mouseClick(&target, Qt::LeftButton);
  Application->ReportError(EAbort(""));
  Application->ReportError(std::make_exception_ptr(EAbort("x")));
  EXPECT_TRUE(Recorder.Boxes.empty());
  EXPECT_EQ(target.Presses, 1);
}

TEST_F(ErrorReporting, GuardedReportsWhatItsCallbackRaises) {
  bool after = false;
  Guarded(nullptr, [] { throw EWriteError(Msg::WriteError); });
  after = true;
  EXPECT_TRUE(after);
  ASSERT_EQ(Recorder.Boxes.size(), 1u);
  EXPECT_EQ(Recorder.Boxes[0].Text, QStringLiteral("ストリームへの書き込みエラー."));
}

TEST_F(ErrorReporting, RunningOutOfMemoryIsShownAsTheOutOfMemoryError) {
  Guarded(nullptr, [] { throw std::bad_alloc(); });
  ASSERT_EQ(Recorder.Boxes.size(), 1u);
  EXPECT_EQ(Recorder.Boxes[0].Text, QStringLiteral("メモリが足りません."));
  EXPECT_EQ(Recorder.Boxes[0].Caption, Title);
}

TEST_F(ErrorReporting, AnObjectOutsideTheErrorClassesGivesTheApplicationErrorBox) {
  PressTarget target;
  target.OnPress = [] { throw std::runtime_error("outside"); };
  QTest::mouseClick(&target, Qt::LeftButton);
  Guarded(nullptr, [] { throw 42; });
  ASSERT_EQ(Recorder.Boxes.size(), 2u);
  EXPECT_EQ(Recorder.Boxes[0].Caption, QStringLiteral("アプリケーション エラー"));
  EXPECT_EQ(Recorder.Boxes[0].Icon, TMessageIcon::Stop);
  EXPECT_TRUE(Recorder.Boxes[0].Text.startsWith(
      QStringLiteral("std::runtime_error がモジュール toolkit_tests の ")))
      << Recorder.Boxes[0].Text.toStdString();
  EXPECT_TRUE(Recorder.Boxes[0].Text.endsWith(QStringLiteral(" で発生しました。\n\n")));
  EXPECT_TRUE(
      Recorder.Boxes[1].Text.startsWith(QStringLiteral("int がモジュール toolkit_tests の ")))
      << Recorder.Boxes[1].Text.toStdString();
}

TEST(ApplicationErrorText, FillsClassProgramAddressAndTheTwoTrailingFields) {
  const auto* address = reinterpret_cast<const void*>(quintptr{0x4A3F0});
  EXPECT_EQ(ApplicationErrorText("EFoo", "penamo", address),
            QStringLiteral("EFoo がモジュール penamo の 000000000004A3F0 で発生しました。\n\n"));
  EXPECT_EQ(ApplicationErrorText("EResNotFound", "penamo", nullptr, "abc", "."),
            QStringLiteral(
                "EResNotFound がモジュール penamo の 0000000000000000 で発生しました。\nabc.\n"));
}

TEST(ApplicationMessageBox, IsAStopBoxWithOneOkButtonCaptionedAsAsked) {
  QString seenText;
  QString seenCaption;
  QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
  int buttons = 0;
  test::WhenModal([&](QWidget& modal) {
    auto* box = qobject_cast<QMessageBox*>(&modal);
    ASSERT_NE(box, nullptr);
    seenText = box->text();
    seenCaption = box->windowTitle();
    seenIcon = box->icon();
    buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  });
  Application->ShowMessageBox({"本文.", "見出し", TMessageIcon::Stop});
  EXPECT_EQ(seenText, QStringLiteral("本文."));
  EXPECT_EQ(seenCaption, QStringLiteral("見出し"));
  EXPECT_EQ(seenIcon, QMessageBox::Critical);
  EXPECT_EQ(buttons, 1);
}

TEST(ApplicationAskingBox, ShowsItsButtonsAndAnswersTheIndexOfTheOnePressedEscapeCancelling) {
  const QStringList buttons = {"一", "二", "三"};
  QStringList seenButtons;
  QString seenText;
  QString defaultText;
  // Pressing the middle button, then Escape, then the default with Return.
  test::WhenModal([&](QWidget& modal) {
    auto* box = qobject_cast<QMessageBox*>(&modal);
    ASSERT_NE(box, nullptr);
    seenText = box->text();
    for (QAbstractButton* button : box->buttons())
      seenButtons.append(button->text());
    if (box->defaultButton() != nullptr) defaultText = box->defaultButton()->text();
    box->buttons().at(1)->click();
  });
  const TMessageBoxRequest request{"本文", "見出し", TMessageIcon::Question};
  EXPECT_EQ(Application->AskMessageBox(request, buttons, 0, 2), 1);
  EXPECT_EQ(seenText, QStringLiteral("本文"));
  // The order Qt lays the buttons out in is not the order they were added in; the answer is
  // the index in `buttons` whatever the layout.
  seenButtons.sort();
  QStringList sorted = buttons;
  sorted.sort();
  EXPECT_EQ(seenButtons, sorted);
  EXPECT_EQ(defaultText, QStringLiteral("一"));

  test::WhenModal([](QWidget& modal) { QTest::keyClick(&modal, Qt::Key_Escape); });
  EXPECT_EQ(Application->AskMessageBox(request, buttons, 0, 2), 2);
  test::WhenModal([](QWidget& modal) { QTest::keyClick(&modal, Qt::Key_Return); });
  EXPECT_EQ(Application->AskMessageBox(request, buttons, 0, 2), 0);

  // A test's answerer stands in for the box; an answer outside the buttons cancels.
  Application->QuestionBoxAnswerer = [](const TMessageBoxRequest&, const QStringList&) {
    return 7;
  };
  EXPECT_EQ(Application->AskMessageBox(request, buttons, 0, 2), 2);
  Application->QuestionBoxAnswerer = nullptr;
}

TEST(ApplicationMessageBox, OpensCentredOnTheActiveWindowsMonitorBlockingTheOtherWindows) {
  QWidget main;
  main.resize(200, 100);
  auto* button = new QPushButton("x", &main);
  button->setGeometry(10, 10, 80, 30);
  int clicks = 0;
  QObject::connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
  main.show();
  main.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));

  QPoint boxPosition;
  QSize boxSize;
  test::WhenModal([&](QWidget& modal) {
    boxPosition = modal.frameGeometry().topLeft();
    boxSize = modal.frameGeometry().size();
    QTest::mouseClick(main.windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
    qobject_cast<QMessageBox*>(&modal)->button(QMessageBox::Ok)->click();
  });
  Application->ShowMessageBox({"text", "caption", TMessageIcon::Stop});
  EXPECT_EQ(clicks, 0);
  // Centred on the monitor of the window that was active.
  const QRect monitor = main.screen()->geometry();
  EXPECT_EQ(boxPosition, QPoint(monitor.left() + (monitor.width() - boxSize.width()) / 2,
                                monitor.top() + (monitor.height() - boxSize.height()) / 2));
  EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
  QTest::mouseClick(main.windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_EQ(clicks, 1);
}

struct FullStopCase {
  const char* Message;
  const char* Shown;
};

class FullStopRule : public ::testing::TestWithParam<FullStopCase> {};

TEST_P(FullStopRule, AppendsAFullStopOnlyAfterACharacterGreaterThanIt) {
  EXPECT_EQ(MessageWithFullStop(GetParam().Message), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(Messages, FullStopRule,
                         ::testing::Values(FullStopCase{"ビットマップイメージが不正です",
                                                        "ビットマップイメージが不正です."},
                                           FullStopCase{"abc", "abc."},
                                           FullStopCase{"code 7", "code 7."},
                                           FullStopCase{"x.", "x."}, FullStopCase{"x!", "x!"},
                                           FullStopCase{"x)", "x)"}, FullStopCase{"x ", "x "},
                                           FullStopCase{"x-", "x-"}, FullStopCase{"x/", "x/."},
                                           FullStopCase{"café", "café."}, FullStopCase{"", ""},
                                           FullStopCase{"終わり。", "終わり。."}));

}  // namespace
}  // namespace penamo
