// The main window as a person judging the filters works it: the keyboard alone, the previews
// magnified, the full view scrolled and zoomed with the sample's frame on it, the diffusions'
// strength, and transparent pixels over a checkerboard.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "BitmapPainter.h"
#include "DeepFilters.h"
#include "MainForm.h"
#include "MainFormAccess.h"
#include "MainFormFixture.h"
#include "PictureFile.h"
#include "PngWriter.h"
#include "VersionForm.h"
#include "WindowTestSupport.h"
#include "YReduce.h"

namespace penamo {
namespace {

using testing::CopyPart;
using testing::FileBytes;
using testing::MakeTestPicture;
using testing::PixelsOf;

// Swallows the events posted to the application object (the quit request among them) while it
// lives, and counts them by type.
class TPostedToApplication : public QObject {
 public:
  TPostedToApplication() { qApp->installEventFilter(this); }
  ~TPostedToApplication() override { qApp->removeEventFilter(this); }
  std::vector<int> Types;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == qApp && event->type() >= QEvent::User) {
      Types.push_back(event->type());
      return true;
    }
    return false;
  }
};

class MainFormViewTest : public testing::TMainFormFixture {
 protected:
  void SetUp() override { SetUpActive(569); }
};

// ---- the keyboard ----

TEST_F(MainFormViewTest, TabAndShiftTabWalkTheButtonsAsTheyStandAndTheFocusShows) {
  const std::vector<QWidget*> order = {Layout->OpenBuuton,          Layout->FrameSpeedButton2,
                                       Layout->FrameSpeedButton1,   Layout->VersionInfoButton,
                                       Layout->EditButton,          Layout->SavePatternDither4,
                                       Layout->SavePatternDither16, Layout->SaveDiffError64,
                                       Layout->SaveDiffError32,     Layout->SaveDiffError16};
  // Every button is a tab stop; the chain holds them in this order, whatever else it holds.
  Layout->OpenBuuton->setFocus(Qt::TabFocusReason);
  ASSERT_EQ(QApplication::focusWidget(), Layout->OpenBuuton);
  std::vector<QWidget*> forward = {Layout->OpenBuuton};
  for (int i = 0; i < 20 && forward.size() < order.size(); ++i) {
    Key(Qt::Key_Tab);
    QWidget* now = QApplication::focusWidget();
    if (std::find(order.begin(), order.end(), now) != order.end()) forward.push_back(now);
  }
  EXPECT_EQ(forward, order);
  std::vector<QWidget*> backward = {QApplication::focusWidget()};
  for (int i = 0; i < 20 && backward.size() < order.size(); ++i) {
    Key(Qt::Key_Backtab, Qt::ShiftModifier);
    QWidget* now = QApplication::focusWidget();
    if (std::find(order.begin(), order.end(), now) != order.end()) backward.push_back(now);
  }
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(backward, order);

  // The focused button shows a dotted rectangle; without the focus its pixels are as before.
  Layout->SaveDiffError32->clearFocus();
  QApplication::processEvents();
  const QImage idle = Layout->SaveDiffError32->grab().toImage();
  Layout->SaveDiffError32->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  const QImage focused = Layout->SaveDiffError32->grab().toImage();
  const auto dotsOnLeft = [](const QImage& shot) {
    int dots = 0;
    for (int y = 2; y < 20; ++y)
      dots += shot.pixelColor(2, y) == ColorToQColor(clWindowText) ? 1 : 0;
    return dots;
  };
  EXPECT_GE(dotsOnLeft(focused), 6) << "a dotted left side";
  EXPECT_EQ(dotsOnLeft(idle), 0);
  // Only the rectangle differs: everything else of the button is drawn as without the focus.
  for (int y = 3; y < 19; ++y)
    for (int x = 3; x < 20; ++x)
      ASSERT_EQ(idle.pixel(x, y), focused.pixel(x, y)) << x << ", " << y;
}

TEST_F(MainFormViewTest, SpaceAndReturnPressTheFocusedButton) {
  Open(WritePicture("picture.bmp", 300, 200));
  Layout->FrameSpeedButton1->setFocus(Qt::TabFocusReason);
  Key(Qt::Key_Space);
  EXPECT_TRUE(Layout->FrameSpeedButton1->Down());
  EXPECT_TRUE(Layout->SampleImage->isVisible());
  Layout->FrameSpeedButton2->setFocus(Qt::TabFocusReason);
  Key(Qt::Key_Return);
  EXPECT_TRUE(Layout->FrameSpeedButton2->Down());
  EXPECT_TRUE(Layout->SamplePanel->isVisible());

  const int dialogs = Seams.DialogsShown;
  Layout->SaveDiffError64->setFocus(Qt::TabFocusReason);
  Seams.Answers.push_back(std::nullopt);
  Key(Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(Seams.DialogsShown, dialogs + 1);
  EXPECT_TRUE(Seams.LastWasSave);
  // Other keys do nothing to a button.
  Key(Qt::Key_A);
  EXPECT_EQ(Seams.DialogsShown, dialogs + 1);
}

TEST_F(MainFormViewTest, CtrlDigitsSaveThroughTheGroupsFiltersInTheirOrder) {
  const QString path = WritePicture("picture.bmp", 97, 61);
  Open(path);
  TBitmap picture;
  picture.ReadBitmapFile(path.toStdString());
  const std::function<bool(TBitmap&, TBitmap&)> filters[] = {
      [](TBitmap& s, TBitmap& d) { return YPatternDither4(s, d); },
      [](TBitmap& s, TBitmap& d) { return YPatternDither16(s, d); },
      [](TBitmap& s, TBitmap& d) { return YDiffError64(s, d, 100); },
      [](TBitmap& s, TBitmap& d) { return YDiffError32(s, d, 100); },
      [](TBitmap& s, TBitmap& d) { return YDiffError16(s, d, 100); },
      // The deep column's two, at the column's first settings (256 levels, colour).
      [](TBitmap& s, TBitmap& d) { return RunDeepOnBitmap(TFilterId::Diffusion, s, d); },
      [](TBitmap& s, TBitmap& d) { return RunDeepOnBitmap(TFilterId::Ordered, s, d); }};
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i + 1);
    const QString saved = Dir.filePath(QStringLiteral("ctrl%1.bmp").arg(i + 1));
    Seams.Answer(saved);
    Key(Qt::Key_1 + i, Qt::ControlModifier);
    ASSERT_TRUE(Seams.LastWasSave);
    TBitmap out;
    ASSERT_TRUE(filters[i](picture, out));
    const QString expected = Dir.filePath(QStringLiteral("expected%1.bmp").arg(i + 1));
    out.WriteBitmapFile(expected.toStdString());
    EXPECT_EQ(FileBytes(saved), FileBytes(expected));
  }
  EXPECT_EQ(Seams.DialogsShown, 8);
  EXPECT_TRUE(Seams.Boxes.empty());
}

TEST_F(MainFormViewTest, CtrlOOpensF1ShowsTheVersionDialogAndCtrlQAsksToQuit) {
  const QString path = WritePicture("picture.bmp", 50, 40);
  Seams.Answer(path);
  Key(Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(Seams.DialogsShown, 1);
  EXPECT_EQ(Form->Bitmap().Width(), 50);

  bool versionShown = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TVersionForm*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* v = qobject_cast<TVersionForm*>(w); v != nullptr && v->isVisible()) dialog = v;
    }
    versionShown = dialog != nullptr;
    if (dialog != nullptr) Application->RequestClose(*dialog);
  });
  Key(Qt::Key_F1);
  EXPECT_TRUE(versionShown);

  // The quit request is what the exit button posts; it is caught before it ends the tests.
  TPostedToApplication posted;
  Application->RequestQuit();
  QApplication::processEvents();
  ASSERT_EQ(posted.Types.size(), 1u);
  const int quitType = posted.Types.front();
  posted.Types.clear();
  Key(Qt::Key_Q, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_EQ(posted.Types, std::vector<int>{quitType});
}

TEST_F(MainFormViewTest, EveryButtonNamesItselfAndShowsItsKeysAfterItsHint) {
  struct TExpected {
    TFrameSpeedButton* Button;
    const char* Keys;
  };
  const TExpected buttons[] = {
      {Layout->OpenBuuton, "Ctrl+O"},          {Layout->FrameSpeedButton2, ""},
      {Layout->FrameSpeedButton1, ""},         {Layout->VersionInfoButton, "F1"},
      {Layout->EditButton, "Ctrl+Q"},          {Layout->SavePatternDither4, "Ctrl+1"},
      {Layout->SavePatternDither16, "Ctrl+2"}, {Layout->SaveDiffError64, "Ctrl+3"},
      {Layout->SaveDiffError32, "Ctrl+4"},     {Layout->SaveDiffError16, "Ctrl+5"},
      {Layout->SaveDiffusion, "Ctrl+6"},       {Layout->SaveOrdered, "Ctrl+7"}};
  QStringList names;
  for (const TExpected& expected : buttons) {
    TFrameSpeedButton& button = *expected.Button;
    SCOPED_TRACE(button.objectName().toStdString());
    EXPECT_EQ(button.HintShortcut(), QString::fromUtf8(expected.Keys));
    EXPECT_FALSE(button.accessibleName().isEmpty());
    EXPECT_EQ(button.accessibleDescription(), button.Hint());
    names.append(button.accessibleName());
    // What a screen reader is handed: a button with that name and description, pressable.
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&button);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->text(QAccessible::Name), button.accessibleName());
    EXPECT_EQ(face->text(QAccessible::Description), button.Hint());
    EXPECT_EQ(face->role(), button.GroupIndex() != 0 ? QAccessible::CheckBox : QAccessible::Button);
    ASSERT_NE(face->actionInterface(), nullptr);
    EXPECT_TRUE(
        face->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
  }
  names.removeDuplicates();
  EXPECT_EQ(names.size(), 12) << "each button has a name of its own";

  // The accessible press is the button's press: the full view shows.
  QAccessible::queryAccessibleInterface(Layout->FrameSpeedButton1)
      ->actionInterface()
      ->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_TRUE(Layout->FrameSpeedButton1->Down());
  EXPECT_TRUE(QAccessible::queryAccessibleInterface(Layout->FrameSpeedButton1)->state().checked);
}

// ---- magnified previews, the full view, the strength ----

// The preview's picture must be the filter's output of the sample at (left, top) of `picture`,
// `side` pixels at most, and the control must show each of its pixels as a zoom x zoom block.
void ExpectPreviewShows(TImage& preview, const TBitmap& expected, int zoom) {
  const TBitmap* shown = preview.Picture().Bitmap();
  ASSERT_NE(shown, nullptr);
  ASSERT_EQ(PixelsOf(*shown), PixelsOf(expected));
  EXPECT_EQ(preview.size(), QSize(128, 128)) << "the previews keep their size";
  const QImage shot = preview.grab().toImage();
  for (int y = 0; y < expected.Height() * zoom; ++y) {
    const std::uint8_t* row = expected.ConstRowAddress(y / zoom);
    for (int x = 0; x < expected.Width() * zoom; ++x) {
      const int px = x / zoom;
      ASSERT_EQ(shot.pixel(x, y) | 0xFF000000u, qRgb(row[3 * px + 2], row[3 * px + 1], row[3 * px]))
          << x << ", " << y;
    }
  }
}

class ZoomedPreviewTest : public MainFormViewTest, public ::testing::WithParamInterface<int> {};

TEST_P(ZoomedPreviewTest, ThePreviewsShowASmallerSampleFromTheSameOriginBlockByBlock) {
  const int zoom = GetParam();
  const QString path = WritePicture("picture.bmp", 300, 200);
  Open(path);
  QTest::mouseClick(Layout->FrameSpeedButton1, Qt::LeftButton);
  QTest::mouseClick(Layout->SampleImage, Qt::LeftButton, {}, QPoint(250, 150));
  QTest::mouseClick(Layout->FrameSpeedButton2, Qt::LeftButton);
  Form->SetZoom(zoom);
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{250, 150}));

  TBitmap picture;
  picture.ReadBitmapFile(path.toStdString());
  TBitmap sample;
  // 128 / zoom, or what is left of the picture.
  CopyPart(picture, 250, 150, std::min(50, 128 / zoom), std::min(50, 128 / zoom), sample);
  const QRect sourcePlace = Layout->SourceImage->geometry();
  ExpectPreviewShows(*Layout->SourceImage, sample, zoom);
  const std::pair<TImage*, std::function<bool(TBitmap&, TBitmap&)>> filtered[] = {
      {Layout->PatternDither4, [](TBitmap& a, TBitmap& b) { return YPatternDither4(a, b); }},
      {Layout->PatternDither16, [](TBitmap& a, TBitmap& b) { return YPatternDither16(a, b); }},
      {Layout->DiffError64, [](TBitmap& a, TBitmap& b) { return YDiffError64(a, b, 100); }},
      {Layout->DiffError32, [](TBitmap& a, TBitmap& b) { return YDiffError32(a, b, 100); }},
      {Layout->DiffError16, [](TBitmap& a, TBitmap& b) { return YDiffError16(a, b, 100); }}};
  for (const auto& [preview, run] : filtered) {
    SCOPED_TRACE(preview->objectName().toStdString());
    TBitmap out;
    ASSERT_TRUE(run(sample, out));
    ExpectPreviewShows(*preview, out, zoom);
  }
  EXPECT_EQ(Layout->SourceImage->geometry(), sourcePlace) << "and their places";
}

INSTANTIATE_TEST_SUITE_P(Steps, ZoomedPreviewTest, ::testing::Values(1, 2, 4));

TEST_F(MainFormViewTest, TheZoomKeysAndTheToolbarControlStepBetweenOneTwoAndFour) {
  Open(WritePicture("picture.bmp", 300, 200));
  const QImage before = Layout->SamplePanel->grab().toImage();
  auto* box = Form->findChild<TChoiceBox*>(QStringLiteral("ZoomBox"));
  ASSERT_NE(box, nullptr);
  EXPECT_FALSE(box->Hint().isEmpty());
  EXPECT_TRUE(box->ShowHint());
  const struct {
    int Key;
    Qt::KeyboardModifiers Modifiers;
    int Zoom;
  } steps[] = {{Qt::Key_Plus, Qt::ControlModifier, 2}, {Qt::Key_Equal, Qt::ControlModifier, 4},
               {Qt::Key_Plus, Qt::ControlModifier, 4}, {Qt::Key_Minus, Qt::ControlModifier, 2},
               {Qt::Key_Minus, Qt::KeypadModifier, 1}, {Qt::Key_Minus, Qt::ControlModifier, 1},
               {Qt::Key_Plus, Qt::KeypadModifier, 2}};
  for (const auto& step : steps) {
    Key(step.Key, step.Modifiers);
    EXPECT_EQ(Form->Zoom(), step.Zoom) << step.Key;
    EXPECT_EQ(box->ItemIndex(), step.Zoom == 1 ? 0 : step.Zoom == 2 ? 1 : 2);
    EXPECT_EQ(Layout->SourceImage->Picture().Width(), 128 / step.Zoom);
  }
  // The control: choosing its last entry gives 4x.
  box->setCurrentIndex(2);
  emit box->activated(2);
  EXPECT_EQ(Form->Zoom(), 4);
  // Back at 1x every group shows exactly what it showed before.
  Form->SetZoom(1);
  EXPECT_EQ(Layout->SamplePanel->grab().toImage(), before);
}

TEST_F(MainFormViewTest, TheFullViewZoomsAboutThePointerAndAClickPicksTheRightPixelAtEveryZoom) {
  const QString path = WritePicture("picture.bmp", 700, 600);
  Open(path);
  QTest::mouseClick(Layout->FrameSpeedButton1, Qt::LeftButton);
  TImage& view = *Layout->SampleImage;
  QWidget& client = *Layout->ScrollBox->Client();
  const QPoint pointer(200, 150);  // in the scroll box's client area
  const auto pictureAt = [&](QPoint at) { return (at - view.pos()) / Form->Zoom(); };
  const QPoint under = pictureAt(pointer);

  const auto ctrlWheel = [&](int angle) {
    const QPointF at = client.mapTo(Form.get(), QPointF(pointer));
    QWheelEvent event(at, Form->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Form.get(), &event);
  };
  ctrlWheel(120);
  EXPECT_EQ(Form->Zoom(), 2);
  EXPECT_EQ(view.size(), QSize(1400, 1200));
  EXPECT_EQ(pictureAt(pointer), under) << "the pixel under the pointer stays there";
  ctrlWheel(60);
  ctrlWheel(60);  // two half notches make one step
  EXPECT_EQ(Form->Zoom(), 4);
  EXPECT_EQ(pictureAt(pointer), under);

  // A release over a pixel's block picks that pixel; the sample's frame goes there.
  const QPoint block = view.mapFrom(&client, pointer);
  QTest::mouseClick(&view, Qt::RightButton, {}, block + QPoint(3, 3));
  const QPoint picked = block / 4;
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{picked.x(), picked.y()}));
  EXPECT_EQ(view.MarkedRect(), QRect(picked, QSize(32, 32)));
  ctrlWheel(-240);
  EXPECT_EQ(Form->Zoom(), 1);
  EXPECT_EQ(view.size(), QSize(700, 600));
  EXPECT_EQ(view.MarkedRect(), QRect(picked, QSize(128, 128)))
      << "the frame stays on the same picture pixels";
  QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(37, 12));
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{37, 12}));

  // The frame is drawn where the sample comes from.
  const QImage shot = view.grab(QRect(0, 0, 200, 200)).toImage();
  EXPECT_EQ(shot.pixel(37, 12) | 0xFF000000u, TImage::MarkOuterColor());
  EXPECT_EQ(shot.pixel(37 + 127, 12 + 40) | 0xFF000000u, TImage::MarkOuterColor());
  EXPECT_EQ(shot.pixel(38, 13 + 40) | 0xFF000000u, TImage::MarkInnerColor());
  TBitmap picture;
  picture.ReadBitmapFile(path.toStdString());
  const std::uint8_t* row = picture.ConstRowAddress(60);
  EXPECT_EQ(shot.pixel(60, 60) | 0xFF000000u, qRgb(row[3 * 60 + 2], row[3 * 60 + 1], row[180]));
}

TEST_F(MainFormViewTest, TheWheelScrollsTheFullView) {
  Open(WritePicture("picture.bmp", 2000, 1500));
  QTest::mouseClick(Layout->FrameSpeedButton1, Qt::LeftButton);
  const auto wheel = [&](QPoint angle, Qt::KeyboardModifiers modifiers) {
    QWheelEvent event(QPointF(50, 50), Layout->ScrollBox->mapToGlobal(QPointF(50, 50)), QPoint(),
                      angle, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Layout->ScrollBox, &event);
  };
  wheel(QPoint(0, -120), Qt::NoModifier);
  EXPECT_GT(Layout->ScrollBox->VertScrollBar().Position(), 0);
  EXPECT_EQ(Layout->SampleImage->y(), -Layout->ScrollBox->VertScrollBar().Position());
  wheel(QPoint(0, -120), Qt::ShiftModifier);
  EXPECT_GT(Layout->ScrollBox->HorzScrollBar().Position(), 0);
  EXPECT_EQ(Form->Zoom(), 1);
}

TEST_F(MainFormViewTest, TheStrengthReachesTheDiffusionsPreviewsAndSavesAndNothingElse) {
  const QString path = WritePicture("picture.bmp", 150, 90);
  Open(path);
  auto* edit = Form->findChild<TSpinEdit*>(QStringLiteral("StrengthEdit"));
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->Value(), 100);
  EXPECT_EQ(Form->Strength(), 100);
  const auto pattern4 = PixelsOf(*Layout->PatternDither4->Picture().Bitmap());
  edit->setValue(37);  // as the arrows or typed digits do
  EXPECT_EQ(Form->Strength(), 37);

  TBitmap picture;
  picture.ReadBitmapFile(path.toStdString());
  TBitmap sample;
  CopyPart(picture, 0, 0, 128, 90, sample);
  TBitmap out;
  ASSERT_TRUE(YDiffError64(sample, out, 37));
  EXPECT_EQ(PixelsOf(*Layout->DiffError64->Picture().Bitmap()), PixelsOf(out));
  ASSERT_TRUE(YDiffError32(sample, out, 37));
  EXPECT_EQ(PixelsOf(*Layout->DiffError32->Picture().Bitmap()), PixelsOf(out));
  ASSERT_TRUE(YDiffError16(sample, out, 37));
  EXPECT_EQ(PixelsOf(*Layout->DiffError16->Picture().Bitmap()), PixelsOf(out));
  ASSERT_TRUE(YDiffError16(sample, out, 100));
  EXPECT_NE(PixelsOf(*Layout->DiffError16->Picture().Bitmap()), PixelsOf(out));
  EXPECT_EQ(PixelsOf(*Layout->PatternDither4->Picture().Bitmap()), pattern4);

  const QString saved = Dir.filePath("saved.bmp");
  Seams.Answer(saved);
  QTest::mouseClick(Layout->SaveDiffError32, Qt::LeftButton);
  TBitmap whole;
  ASSERT_TRUE(YDiffError32(picture, whole, 37));
  const QString expected = Dir.filePath("expected.bmp");
  whole.WriteBitmapFile(expected.toStdString());
  EXPECT_EQ(FileBytes(saved), FileBytes(expected));

  Form->SetStrength(250);
  EXPECT_EQ(Form->Strength(), 100) << "brought within 0 to 100";
  EXPECT_EQ(edit->Value(), 100);
}

TEST_F(MainFormViewTest, TransparentPixelsShowOverACheckerboardAndOpaqueOnesAsTheyAre) {
  TBitmap original;
  MakeTestPicture(original, 160, 100);
  TPictureExtras extras;
  // Opaque on the left, half transparent in the middle, clear on the right.
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 160; ++x)
      extras.Alpha.push_back(x < 40 ? 255 : x < 80 ? 100 : 0);
  const QString path = Dir.filePath("logo.png");
  WritePngFile(original, path.toStdString(), extras);
  Open(path);
  ASSERT_TRUE(Seams.Boxes.empty());
  EXPECT_EQ(PixelsOf(Form->Bitmap()), PixelsOf(original)) << "the pixels themselves stay";

  // Up to column `right` (screen pixels), left of anything drawn over the picture.
  const auto expectShown = [&](QWidget& widget, QPoint pictureOffset, int zoom, int right = 160) {
    const QImage shot = widget.grab().toImage();
    for (int y = 0; y < std::min(shot.height(), 100 * zoom); ++y) {
      for (int x = 0; x < std::min({shot.width(), (160 - pictureOffset.x()) * zoom, right}); ++x) {
        const int px = pictureOffset.x() + x / zoom;
        const int py = pictureOffset.y() + y / zoom;
        const std::uint8_t* row = original.ConstRowAddress(py);
        const QRgb colour = qRgb(row[3 * px + 2], row[3 * px + 1], row[3 * px]);
        const int a = extras.Alpha[static_cast<std::size_t>(py * 160 + px)];
        const QRgb under = CheckerColor(x, y);
        const auto blend = [a](int over, int back) {
          return (over * a + back * (255 - a) + 127) / 255;
        };
        const QRgb expected =
            a == 255 ? colour
                     : qRgb(blend(qRed(colour), qRed(under)), blend(qGreen(colour), qGreen(under)),
                            blend(qBlue(colour), qBlue(under)));
        ASSERT_EQ(shot.pixel(x, y) | 0xFF000000u, expected) << x << ", " << y;
      }
    }
  };
  expectShown(*Layout->SourceImage, QPoint(0, 0), 1);
  Form->SetZoom(2);
  expectShown(*Layout->SourceImage, QPoint(0, 0), 2);
  Form->SetZoom(1);
  // The full view, away from the sample's frame.
  QTest::mouseClick(Layout->FrameSpeedButton1, Qt::LeftButton);
  QTest::mouseClick(Layout->SampleImage, Qt::LeftButton, {}, QPoint(150, 90));
  expectShown(*Layout->SampleImage, QPoint(0, 0), 1, 150);
  // A picture without transparency shows no checkerboard anywhere.
  const QString opaque = WritePicture("opaque.bmp", 160, 100);
  Open(opaque);
  EXPECT_EQ(Layout->SampleImage->Alpha(), nullptr);
  EXPECT_EQ(Layout->SourceImage->Alpha(), nullptr);
}

}  // namespace
}  // namespace penamo
