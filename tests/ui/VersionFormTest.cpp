// The version dialog as the version button opens it: modal, closed by a left click anywhere
// inside it and by nothing from the keyboard, destroyed however it ends.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <ostream>

#include "Application.h"
#include "MainForm.h"
#include "MainFormAccess.h"
#include "VersionForm.h"

namespace penamo {
namespace {

// The open version dialog, if any.
TVersionForm* OpenVersionForm() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (auto* form = qobject_cast<TVersionForm*>(window); form != nullptr && form->isVisible())
      return form;
  }
  return nullptr;
}

// A left click at `point` of the dialog, delivered to whatever lies there as the window system
// would deliver it.
void ClickAt(TVersionForm& form, QPoint point) {
  QWidget* target = form.childAt(point);
  if (target == nullptr) target = &form;
  QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&form, point));
}

class VersionFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Main = MakeForm<TMainForm>();
    Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Main.get()));
    // Ends a dialog that a failing test left open, so the run goes on.
    Watchdog.setSingleShot(true);
    QObject::connect(&Watchdog, &QTimer::timeout, [this] {
      if (TVersionForm* form = OpenVersionForm()) {
        TimedOut = true;
        Application->RequestClose(*form);
      }
    });
  }

  // Presses the version button; `whileOpen` runs once the dialog shows. Returns when the
  // dialog has closed.
  void RunDialog(const std::function<void(TVersionForm&)>& whileOpen) {
    QTimer::singleShot(0, [&] {
      TVersionForm* form = OpenVersionForm();
      ASSERT_NE(form, nullptr);
      Dialog = form;
      whileOpen(*form);
    });
    Watchdog.start(3000);
    QTest::mouseClick(TMainFormTestAccess::Layout(*Main).VersionInfoButton, Qt::LeftButton);
    Watchdog.stop();
  }

  TFormPtr<TMainForm> Main;
  QTimer Watchdog;
  bool TimedOut = false;
  QPointer<TVersionForm> Dialog;
};

TEST_F(VersionFormTest, TheDialogShowsTheIconNameMakerAndVersionAtTheirPlaces) {
  RunDialog([](TVersionForm& form) {
    EXPECT_TRUE(form.isModal() || form.IsModal());
    EXPECT_EQ(form.size(), QSize(337, 84));
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("バージョン情報"));
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(8, 0, 321, 73));
    EXPECT_EQ(form.Image1->geometry(), QRect(16, 24, 32, 32));
    ASSERT_NE(form.Image1->Picture().Icon(), nullptr);
    EXPECT_EQ(form.Image1->Picture().Width(), 32);
    EXPECT_EQ(form.Label1->text(), QString::fromUtf8("グラデーション・スムージング「ぺなも」"));
    EXPECT_EQ(form.Label1->pos(), QPoint(80, 24));
    EXPECT_EQ(form.Label2->pos(), QPoint(80, 48));
    EXPECT_FALSE(form.Label2->text().isEmpty());
    EXPECT_EQ(form.Label3->text(), QStringLiteral("Ver0.8Alpha"));
    EXPECT_EQ(form.Label3->pos(), QPoint(240, 48));
    EXPECT_EQ(form.BorderStyle(), TFormBorderStyle::bsDialog);
    ClickAt(form, {3, 3});
  });
  EXPECT_FALSE(TimedOut);
}

struct TClickPlace {
  const char* Name;
  QPoint At;  // in the dialog's client area
};

void PrintTo(const TClickPlace& place, std::ostream* os) {
  *os << place.Name;
}

class VersionClickTest : public VersionFormTest,
                         public ::testing::WithParamInterface<TClickPlace> {};

TEST_P(VersionClickTest, ALeftClickClosesTheDialogAndDestroysIt) {
  RunDialog([](TVersionForm& form) { ClickAt(form, GetParam().At); });
  EXPECT_FALSE(TimedOut);
  EXPECT_TRUE(Dialog.isNull());
  EXPECT_EQ(OpenVersionForm(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    AnywhereInside, VersionClickTest,
    ::testing::Values(TClickPlace{"Margin", {3, 78}}, TClickPlace{"GroupBoxFrame", {8, 40}},
                      TClickPlace{"GroupBoxInside", {200, 65}}, TClickPlace{"Icon", {40, 40}},
                      TClickPlace{"Name", {100, 30}}, TClickPlace{"Maker", {92, 53}},
                      TClickPlace{"Version", {255, 53}}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST_F(VersionFormTest, EscapeEnterAndOtherButtonsLeaveTheDialogOpen) {
  bool stillOpen = false;
  RunDialog([&](TVersionForm& form) {
    QTest::keyClick(&form, Qt::Key_Escape);
    QTest::keyClick(&form, Qt::Key_Return);
    QTest::keyClick(&form, Qt::Key_Enter);
    QTest::mouseClick(&form, Qt::RightButton, {}, {40, 40});
    QTest::mouseClick(&form, Qt::MiddleButton, {}, {3, 3});
    QApplication::processEvents();
    stillOpen = form.isVisible();
    ClickAt(form, {3, 3});
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_FALSE(TimedOut);
}

TEST_F(VersionFormTest, EachPressBuildsANewDialogAndTheMainWindowTakesInputAgain) {
  QPointer<TVersionForm> first;
  RunDialog([&](TVersionForm& form) {
    first = &form;
    ClickAt(form, {3, 3});
  });
  EXPECT_TRUE(first.isNull());
  RunDialog([&](TVersionForm& form) { ClickAt(form, {3, 3}); });
  EXPECT_FALSE(TimedOut);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(Main->isEnabled());
}

}  // namespace
}  // namespace penamo
