// Windows: the order of their events, their frame, where they open and their click event.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <functional>

#include "ApplicationTestSupport.h"
#include "Form.h"

namespace penamo {
namespace {

class LayoutForm : public TCustomForm {
 public:
  LayoutForm() {
    Label = new QLabel("label", this);
    Label->setGeometry(10, 10, 60, 20);
    Button = new QPushButton("button", this);
    Button->setGeometry(10, 40, 60, 20);
    OnCreate = [this](TCustomForm&) { LabelAtCreate = Label != nullptr; };
  }
  QPointer<QLabel> Label;
  QPushButton* Button = nullptr;
  bool LabelAtCreate = false;
};

TEST(FormLifetime, OnCreateRunsAfterTheLayoutAndOnDestroyWhileTheComponentsExist) {
  TFormPtr<LayoutForm> form = MakeForm<LayoutForm>();
  EXPECT_TRUE(form->LabelAtCreate);
  form->show();
  const QPointer<QLabel> label = form->Label;
  bool hiddenAndComplete = false;
  form->OnDestroy = [&](TCustomForm& sender) {
    hiddenAndComplete = !sender.isVisible() && label != nullptr;
  };
  form.reset();
  EXPECT_TRUE(hiddenAndComplete);
  EXPECT_TRUE(label.isNull());
}

TEST(FormLifetime, ErrorsInOnCreateAndOnDestroyAreShownAndTheWindowIsUsedAllTheSame) {
  test::BoxRecorder recorder;
  struct FailingForm : TCustomForm {
    FailingForm() {
      OnCreate = [](TCustomForm&) { throw Exception("作成"); };
      OnDestroy = [](TCustomForm&) { throw Exception("破棄"); };
    }
  };
  TFormPtr<FailingForm> form = MakeForm<FailingForm>();
  ASSERT_NE(form, nullptr);
  ASSERT_EQ(recorder.Boxes.size(), 1u);
  EXPECT_EQ(recorder.Boxes[0].Text, QStringLiteral("作成."));
  form.reset();
  ASSERT_EQ(recorder.Boxes.size(), 2u);
  EXPECT_EQ(recorder.Boxes[1].Text, QStringLiteral("破棄."));
}

TEST(FormLifetime, AnErrorInAWindowsOwnEventHandlerIsShownAndTheWindowGoesOn) {
  test::BoxRecorder recorder;
  TFormPtr<TCustomForm> form = MakeForm<TCustomForm>();
  int resizes = 0;
  form->OnResize = [&resizes](TCustomForm&) {
    if (++resizes == 1) throw EOutOfResources(Msg::OutOfResources);
  };
  form->resize(200, 100);
  form->show();
  form->resize(220, 100);
  EXPECT_EQ(resizes, 2);
  ASSERT_EQ(recorder.Boxes.size(), 1u);
  EXPECT_EQ(recorder.Boxes[0].Text, QStringLiteral("システム リソースが足りません."));
}

TEST(FormClick, ComesFromTheClientAreaAndFromControlsThatLetTheMouseThrough) {
  TFormPtr<LayoutForm> form = MakeForm<LayoutForm>();
  form->resize(200, 100);
  int clicks = 0;
  form->OnClick = [&clicks](TCustomForm&) { ++clicks; };
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  QWindow* window = form->windowHandle();
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(150, 80));  // client area
  EXPECT_EQ(clicks, 1);
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(20, 15));  // the label
  EXPECT_EQ(clicks, 2);
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(20, 45));  // a push button takes it
  EXPECT_EQ(clicks, 2);
  QTest::mouseClick(window, Qt::RightButton, {}, QPoint(150, 80));
  EXPECT_EQ(clicks, 2);
}

TEST(FormFrame, ADialogFrameHasAFixedSizeAndOnlyACloseButton) {
  TFormPtr<TCustomForm> form = MakeForm<TCustomForm>();
  form->SetBorderStyle(TFormBorderStyle::bsDialog);
  form->resize(337, 84);
  form->show();
  EXPECT_EQ(form->windowType(), Qt::Dialog);
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(form->minimumSize(), QSize(337, 84));
  EXPECT_EQ(form->maximumSize(), QSize(337, 84));
}

TEST(FormPosition, ScreenCentreAppliesTheFirstTimeTheWindowShows) {
  TFormPtr<TCustomForm> form = MakeForm<TCustomForm>();
  form->SetPosition(TPosition::poScreenCenter);
  form->resize(300, 200);
  form->show();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QSize outer = form->frameGeometry().size();
  EXPECT_EQ(form->frameGeometry().topLeft(),
            QPoint(screen.left() + (screen.width() - outer.width()) / 2,
                   screen.top() + (screen.height() - outer.height()) / 2));
  form->hide();
  form->move(5, 5);
  form->show();
  EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(5, 5));
}

// A window as a window manager treats it: it has no frame until some time after it shows (the
// test says when), then a frame 1 pixel wide at the sides, 20 at the top and 5 at the bottom.
class LateFramedForm : public TCustomForm {
 public:
  LateFramedForm() { setWindowFlag(Qt::FramelessWindowHint); }  // no frame of the platform's
  bool Framed = false;

 protected:
  QRect OuterGeometry() const override {
    return Framed ? geometry().adjusted(-1, -20, 1, 5) : geometry();
  }
};

TEST(FormPosition, ScreenCentreCentresAgainByTheOuterSizeOnceAWindowManagerFramesTheWindow) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const auto centred = [&screen](QSize outer) {
    return QPoint(screen.left() + (screen.width() - outer.width()) / 2,
                  screen.top() + (screen.height() - outer.height()) / 2);
  };
  const auto waitFor = [](const std::function<bool()>& condition) {
    for (int waited = 0; waited < 1000 && !condition(); waited += 10)
      QTest::qWait(10);
  };
  TFormPtr<LateFramedForm> form = MakeForm<LateFramedForm>();
  form->SetPosition(TPosition::poScreenCenter);
  form->resize(300, 200);
  form->show();
  EXPECT_EQ(form->pos(), centred(QSize(300, 200))) << "all that is known at the first showing";
  QTest::qWait(50);
  form->Framed = true;
  waitFor([&] { return form->pos() == centred(QSize(302, 225)); });
  EXPECT_EQ(form->pos(), centred(QSize(302, 225)));

  // Once centred by its frame the window stays where the user puts it.
  form->move(5, 5);
  QTest::qWait(50);
  EXPECT_EQ(form->pos(), QPoint(5, 5));

  // A window the window manager never frames (none runs) is left where it was centred.
  TFormPtr<LateFramedForm> unframed = MakeForm<LateFramedForm>();
  unframed->SetPosition(TPosition::poScreenCenter);
  unframed->resize(200, 100);
  unframed->show();
  QTest::qWait(100);
  EXPECT_EQ(unframed->pos(), centred(QSize(200, 100)));
}

struct CentreCase {
  const char* Name;
  QRect MainOuter;
  QSize DialogOuter;
  QList<QRect> Monitors;
  QPoint Expected;
};

class MainFormCentre : public ::testing::TestWithParam<CentreCase> {};

TEST_P(MainFormCentre, PlacesTheDialog) {
  const CentreCase& c = GetParam();
  EXPECT_EQ(MainFormCenterPosition(c.MainOuter, c.DialogOuter, c.Monitors), c.Expected);
}

const QList<QRect> OneMonitor{QRect(0, 0, 1920, 1080)};
// The second monitor to the left of the primary one, with negative coordinates.
const QList<QRect> TwoMonitors{QRect(0, 0, 1920, 1080), QRect(-1280, 0, 1280, 1024)};

INSTANTIATE_TEST_SUITE_P(
    Cases, MainFormCentre,
    ::testing::Values(
        CentreCase{"OverTheMainWindow", {100, 100, 577, 480}, {343, 113}, OneMonitor, {217, 283}},
        CentreCase{"OddDifferencesTruncate", {0, 0, 578, 480}, {343, 113}, OneMonitor, {117, 183}},
        CentreCase{"ALargerDialogTruncatesTowardZero",
                   {500, 500, 300, 100},
                   {343, 113},
                   OneMonitor,
                   {479, 494}},
        CentreCase{"NeverNegative", {-300, -200, 577, 480}, {343, 113}, OneMonitor, {0, 0}},
        CentreCase{"OnTheMainWindowsMonitor",
                   {-1200, 100, 577, 480},
                   {343, 113},
                   TwoMonitors,
                   {-812, 455}},
        CentreCase{"AlreadyOnTheRightMonitor",
                   {1200, 100, 577, 480},
                   {343, 113},
                   TwoMonitors,
                   {1317, 283}}),
    [](const ::testing::TestParamInfo<CentreCase>& param) { return param.param.Name; });

TEST(MonitorIndexOf, IsTheMonitorWithTheGreaterPartOrTheNearest) {
  EXPECT_EQ(MonitorIndexOf(QRect(-100, 10, 300, 100), TwoMonitors), 0);
  EXPECT_EQ(MonitorIndexOf(QRect(-250, 10, 300, 100), TwoMonitors), 1);
  EXPECT_EQ(MonitorIndexOf(QRect(-1000, 1100, 10, 10), TwoMonitors), 1);
  EXPECT_EQ(MonitorIndexOf(QRect(3000, 10, 10, 10), TwoMonitors), 0);
  EXPECT_EQ(MonitorIndexOf(QRect(0, 0, 10, 10), {}), -1);
}

}  // namespace
}  // namespace penamo
