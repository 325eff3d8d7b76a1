// The main window's test fixture: a window of its own in a temporary folder of its own, shown,
// with the dialog seams answering for it; and the steps every window test takes.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <vector>

#include "Bitmap.h"
#include "MainForm.h"
#include "MainFormAccess.h"
#include "WindowTestSupport.h"

namespace penamo::testing {

class TMainFormFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Form = MakeForm<TMainForm>();
    Layout = &TMainFormTestAccess::Layout(*Form);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  }

  // The window at width x 453, active, so that keys reach it (tests of the keyboard set up so).
  void SetUpActive(int width) {
    ASSERT_TRUE(Dir.isValid());
    Form = MakeForm<TMainForm>();
    Layout = &TMainFormTestAccess::Layout(*Form);
    Form->resize(width, 453);
    Form->show();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  }

  // A key pressed where the focus is (the window when nothing has it).
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target != nullptr ? target : Form.get(), static_cast<Qt::Key>(key), modifiers);
  }

  // Writes a test picture (MakeTestPicture) of the given size as a bitmap and returns its path.
  QString WritePicture(const QString& name, std::int32_t width, std::int32_t height) {
    TBitmap bitmap;
    MakeTestPicture(bitmap, width, height);
    const QString path = Dir.filePath(name);
    bitmap.WriteBitmapFile(path.toStdString());
    return path;
  }

  // Opens path through the open button and its dialog.
  void Open(const QString& path) {
    Seams.Answer(path);
    QTest::mouseClick(Layout->OpenBuuton, Qt::LeftButton);
  }

  // The pixels of the six previews of the first groups, from the unfiltered sample on (empty
  // where a preview shows nothing).
  std::vector<std::vector<std::uint8_t>> SixPreviews() {
    std::vector<std::vector<std::uint8_t>> all;
    for (TImage* image : {Layout->SourceImage, Layout->PatternDither4, Layout->PatternDither16,
                          Layout->DiffError64, Layout->DiffError32, Layout->DiffError16}) {
      const TBitmap* bitmap = image->Picture().Bitmap();
      all.push_back(bitmap != nullptr ? PixelsOf(*bitmap) : std::vector<std::uint8_t>{});
    }
    return all;
  }

  QTemporaryDir Dir;
  TDialogSeams Seams;
  TFormPtr<TMainForm> Form;
  Ui::MainForm* Layout = nullptr;
};

}  // namespace penamo::testing
