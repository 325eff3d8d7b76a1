// The main window as a person judging the filters works it: the keyboard alone, the previews
// magnified, the full view scrolled and zoomed with the sample's frame on it, the diffusions'
// strength, and transparent pixels over a checkerboard.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "MainForm.h"
#include "MainFormAccess.h"
#include "PictureFile.h"
#include "PngWriter.h"
#include "VersionForm.h"
#include "WindowTestSupport.h"
#include "YReduce.h"

namespace penamo {
namespace {

using testing::CopyPart;
using testing::MakeTestPicture;
using testing::PixelsOf;

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

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

class MainFormViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Form = MakeForm<TMainForm>();
    Layout = &TMainFormTestAccess::Layout(*Form);
    Form->resize(569, 453);
    Form->show();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  }

  QString WritePicture(const QString& name, std::int32_t width, std::int32_t height) {
    TBitmap bitmap;
    MakeTestPicture(bitmap, width, height);
    const QString path = Dir.filePath(name);
    bitmap.WriteBitmapFile(path.toStdString());
    return path;
  }

  void Open(const QString& path) {
    Seams.Answer(path);
    QTest::mouseClick(Layout->OpenBuuton, Qt::LeftButton);
  }

  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target != nullptr ? target : Form.get(), static_cast<Qt::Key>(key), modifiers);
  }

  QTemporaryDir Dir;
  testing::TDialogSeams Seams;
  TFormPtr<TMainForm> Form;
  Ui::MainForm* Layout = nullptr;
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
      [](TBitmap& s, TBitmap& d) { return YDiffError16(s, d, 100); }};
  for (int i = 0; i < 5; ++i) {
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
  EXPECT_EQ(Seams.DialogsShown, 6);
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
      {Layout->SaveDiffError32, "Ctrl+4"},     {Layout->SaveDiffError16, "Ctrl+5"}};
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
  EXPECT_EQ(names.size(), 10) << "each button has a name of its own";

  // The accessible press is the button's press: the full view shows.
  QAccessible::queryAccessibleInterface(Layout->FrameSpeedButton1)
      ->actionInterface()
      ->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_TRUE(Layout->FrameSpeedButton1->Down());
  EXPECT_TRUE(QAccessible::queryAccessibleInterface(Layout->FrameSpeedButton1)->state().checked);
}

}  // namespace
}  // namespace penamo
