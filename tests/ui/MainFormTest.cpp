// The main window driven as a user drives it: open a picture through the dialog, compare the
// previews, pick the sample in the full view, switch views, save through each filter.
#include <gtest/gtest.h>

#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "BitmapLayout.h"
#include "MainForm.h"
#include "MainFormAccess.h"
#include "MainFormFixture.h"
#include "PictureFile.h"
#include "PngWriter.h"
#include "StorageLimitScope.h"
#include "WindowTestSupport.h"
#include "YReduce.h"

namespace penamo {
namespace {

using testing::CopyPart;
using testing::FileBytes;
using testing::MakeTestPicture;
using testing::PixelsOf;

using TFilterRun = std::function<bool(TBitmap& src, TBitmap& dst)>;

struct TFilterCase {
  const char* Name;
  TFrameSpeedButton* Ui::MainForm::*SaveButton;
  TImage* Ui::MainForm::*Preview;
  TFilterRun Run;
};

void PrintTo(const TFilterCase& filter, std::ostream* os) {
  *os << filter.Name;
}

const TFilterCase kFilters[] = {
    {"PatternDither4", &Ui::MainForm::SavePatternDither4, &Ui::MainForm::PatternDither4,
     [](TBitmap& s, TBitmap& d) { return YPatternDither4(s, d); }},
    {"PatternDither16", &Ui::MainForm::SavePatternDither16, &Ui::MainForm::PatternDither16,
     [](TBitmap& s, TBitmap& d) { return YPatternDither16(s, d); }},
    {"DiffError64", &Ui::MainForm::SaveDiffError64, &Ui::MainForm::DiffError64,
     [](TBitmap& s, TBitmap& d) { return YDiffError64(s, d, 100); }},
    {"DiffError32", &Ui::MainForm::SaveDiffError32, &Ui::MainForm::DiffError32,
     [](TBitmap& s, TBitmap& d) { return YDiffError32(s, d, 100); }},
    {"DiffError16", &Ui::MainForm::SaveDiffError16, &Ui::MainForm::DiffError16,
     [](TBitmap& s, TBitmap& d) { return YDiffError16(s, d, 100); }},
};

class MainFormTest : public testing::TMainFormFixture {
 protected:
  QString WriteBytes(const QString& name, const QByteArray& bytes) {
    const QString path = Dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }

  void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

  // What the previews must show for a sample at (left, top) of the picture in `path`.
  void ExpectPreviewsOf(const QString& path, std::int32_t left, std::int32_t top) {
    TBitmap picture;
    picture.ReadBitmapFile(path.toStdString());
    picture.ConvertTo24Bits();
    TBitmap sample;
    CopyPart(picture, left, top, std::min(picture.Width() - left, 128),
             std::min(picture.Height() - top, 128), sample);
    const TBitmap* shown = Layout->SourceImage->Picture().Bitmap();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->Width(), sample.Width());
    EXPECT_EQ(shown->Height(), sample.Height());
    EXPECT_EQ(PixelsOf(*shown), PixelsOf(sample)) << "unfiltered sample";
    for (const TFilterCase& filter : kFilters) {
      TBitmap expected;
      ASSERT_TRUE(filter.Run(sample, expected));
      const TBitmap* preview = ((*Layout).*(filter.Preview))->Picture().Bitmap();
      ASSERT_NE(preview, nullptr) << filter.Name;
      EXPECT_EQ(PixelsOf(*preview), PixelsOf(expected)) << filter.Name;
    }
  }
};

TEST_F(MainFormTest, OpeningAPictureFillsTheFullViewAndTheSixPreviewsFromTheTopLeft) {
  const QString path = WritePicture("picture.bmp", 300, 200);
  Open(path);
  EXPECT_EQ(Seams.DialogsShown, 1);
  EXPECT_FALSE(Seams.LastWasSave);
  EXPECT_TRUE(Seams.Boxes.empty());

  EXPECT_EQ(Form->Bitmap().ImageFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{0, 0}));
  ASSERT_NE(Layout->SampleImage->Picture().Bitmap(), nullptr);
  EXPECT_EQ(PixelsOf(*Layout->SampleImage->Picture().Bitmap()), PixelsOf(Form->Bitmap()));
  EXPECT_EQ(Layout->SampleImage->size(), QSize(300, 200));
  // The sample view stays the one shown.
  EXPECT_TRUE(Layout->SamplePanel->isVisible());
  EXPECT_FALSE(Layout->SampleImage->isVisible());
  ExpectPreviewsOf(path, 0, 0);
}

// The previews are filtered one after another into one reused picture: a filter that refuses
// must leave its preview empty, not showing the group before's picture under its caption.
TEST_F(MainFormTest, AFilterThatRefusesItsPreviewShowsNothingStale) {
  const QString path = WritePicture("picture.bmp", 40, 30);
  Open(path);
  TBitmap picture;
  picture.ReadBitmapFile(path.toStdString());
  TMainFormTestAccess::SetStrengthUnchecked(*Form, 101);
  Form->UpdateSamples(picture, TPoint{0, 0});
  for (const TFilterCase& filter : kFilters) {
    const TBitmap* preview = ((*Layout).*(filter.Preview))->Picture().Bitmap();
    const bool diffusion = std::string(filter.Name).starts_with("DiffError");
    if (diffusion) {
      EXPECT_TRUE(preview == nullptr || preview->Empty())
          << filter.Name << " shows a stale picture";
    } else {
      ASSERT_NE(preview, nullptr) << filter.Name;
      EXPECT_EQ(preview->Width(), 40) << filter.Name;
    }
  }
  // A strength the diffusions take shows them again.
  TMainFormTestAccess::SetStrengthUnchecked(*Form, 100);
  Form->UpdateSamples(picture, TPoint{0, 0});
  ExpectPreviewsOf(path, 0, 0);
}

TEST_F(MainFormTest, APictureSmallerThanThePreviewsGivesASampleOfItsOwnSize) {
  const QString path = WritePicture("small.bmp", 100, 60);
  Open(path);
  ExpectPreviewsOf(path, 0, 0);
  EXPECT_EQ(Layout->SourceImage->size(), QSize(128, 128));
}

TEST_F(MainFormTest, CancellingTheOpenDialogChangesNothing) {
  Seams.Answers.push_back(std::nullopt);
  Click(Layout->OpenBuuton);
  EXPECT_EQ(Seams.DialogsShown, 1);
  EXPECT_TRUE(Form->Bitmap().Empty());
  EXPECT_EQ(Layout->SourceImage->Picture().Graphic(), nullptr);
}

class SampleOriginTest : public MainFormTest,
                         public ::testing::WithParamInterface<Qt::MouseButton> {};

TEST_P(SampleOriginTest, AReleaseInTheFullViewMovesTheSampleThereAndRefreshesThePreviews) {
  const QString path = WritePicture("picture.bmp", 300, 200);
  Open(path);
  Click(Layout->FrameSpeedButton1);
  ASSERT_TRUE(Layout->SampleImage->isVisible());
  QTest::mouseClick(Layout->SampleImage, GetParam(), {}, QPoint(150, 100));
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{150, 100}));
  // 128 wide, and only the 100 rows left below the origin.
  ExpectPreviewsOf(path, 150, 100);
  EXPECT_EQ(Layout->SourceImage->Picture().Height(), 100);
}

INSTANTIATE_TEST_SUITE_P(AnyButton, SampleOriginTest,
                         ::testing::Values(Qt::LeftButton, Qt::RightButton, Qt::MiddleButton),
                         [](const auto& param) {
                           return param.param == Qt::LeftButton    ? std::string("Left")
                                  : param.param == Qt::RightButton ? std::string("Right")
                                                                   : std::string("Middle");
                         });

TEST_F(MainFormTest, ARightOrMiddlePressAnywhereReleasedOverTheFullViewMovesTheSampleThere) {
  const QString path = WritePicture("picture.bmp", 300, 200);
  Open(path);
  Click(Layout->FrameSpeedButton1);
  QWindow* window = Form->windowHandle();
  const auto inWindow = [this](const QWidget* widget, QPoint point) {
    return widget->mapTo(Form.get(), point);
  };
  int x = 37;
  const QWidget* const pressedOnes[] = {Layout->OpenBuuton, Layout->ToolBar1,
                                        Layout->VersionInfoButton};
  for (const QWidget* pressed : pressedOnes) {
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
      QTest::mousePress(window, button, {}, inWindow(pressed, QPoint(3, 3)));
      QCursor::setPos(Layout->SampleImage->mapToGlobal(QPoint(x, 12)));
      QTest::mouseRelease(window, button, {}, inWindow(Layout->SampleImage, QPoint(x, 12)));
      EXPECT_EQ(Form->SampleOrigin(), (TPoint{x, 12}))
          << pressed->objectName().toStdString() << " " << button;
      ++x;
    }
  }
  ExpectPreviewsOf(path, x - 1, 12);
  EXPECT_EQ(Seams.DialogsShown, 1) << "the pressed buttons did not click";
  EXPECT_TRUE(Seams.Boxes.empty());
}

TEST_F(MainFormTest, AReleaseDraggedOutsideThePictureTakesTheNearestPixelInside) {
  const QString path = WritePicture("picture.bmp", 300, 200);
  Open(path);
  Click(Layout->FrameSpeedButton1);
  // The press inside holds the pointer; the release comes from beyond the bottom-left corner.
  QTest::mousePress(Layout->SampleImage, Qt::LeftButton, {}, QPoint(20, 20));
  QTest::mouseRelease(Layout->SampleImage, Qt::LeftButton, {}, QPoint(-40, 260));
  ExpectPreviewsOf(path, 0, 199);
  EXPECT_EQ(Layout->SourceImage->Picture().Width(), 128);
  EXPECT_EQ(Layout->SourceImage->Picture().Height(), 1);
  EXPECT_TRUE(Seams.Boxes.empty());

  QTest::mousePress(Layout->SampleImage, Qt::LeftButton, {}, QPoint(20, 20));
  QTest::mouseRelease(Layout->SampleImage, Qt::LeftButton, {}, QPoint(900, -5));
  ExpectPreviewsOf(path, 299, 0);
}

TEST_F(MainFormTest, SwitchingViewsShowsOneAtATimeAndKeepsThePreviews) {
  Open(WritePicture("picture.bmp", 300, 200));
  const auto before = SixPreviews();

  Click(Layout->FrameSpeedButton1);
  EXPECT_TRUE(Layout->FrameSpeedButton1->Down());
  EXPECT_FALSE(Layout->FrameSpeedButton2->Down());
  EXPECT_FALSE(Layout->SamplePanel->isVisible());
  EXPECT_TRUE(Layout->SampleImage->isVisible());

  // The button already down changes nothing.
  Click(Layout->FrameSpeedButton1);
  EXPECT_TRUE(Layout->FrameSpeedButton1->Down());
  EXPECT_TRUE(Layout->SampleImage->isVisible());

  Click(Layout->FrameSpeedButton2);
  EXPECT_TRUE(Layout->FrameSpeedButton2->Down());
  EXPECT_TRUE(Layout->SamplePanel->isVisible());
  EXPECT_FALSE(Layout->SampleImage->isVisible());
  EXPECT_EQ(SixPreviews(), before);
}

TEST_F(MainFormTest, OpeningWhileTheFullViewShowsKeepsItAndResetsTheSample) {
  const QString first = WritePicture("first.bmp", 300, 200);
  const QString second = WritePicture("second.bmp", 160, 140);
  Open(first);
  Click(Layout->FrameSpeedButton1);
  QTest::mouseClick(Layout->SampleImage, Qt::LeftButton, {}, QPoint(150, 100));
  Open(second);
  EXPECT_TRUE(Layout->SampleImage->isVisible());
  EXPECT_EQ(Layout->SampleImage->size(), QSize(160, 140));
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{0, 0}));
  ExpectPreviewsOf(second, 0, 0);
}

class SaveTest : public MainFormTest, public ::testing::WithParamInterface<TFilterCase> {};

TEST_P(SaveTest, SavingWritesTheWholePictureThroughTheGroupsFilter) {
  const TFilterCase& filter = GetParam();
  // Wide enough that the window's and a straight run's work is split the same way or not.
  const QString path = WritePicture("picture.bmp", 301, 157);
  Open(path);
  QTest::mouseClick(Layout->SampleImage, Qt::LeftButton, {}, QPoint(33, 17));  // hidden: no-op
  const QString saved = Dir.filePath("saved");  // the default extension is added
  Seams.Answer(saved);
  Click((*Layout).*(filter.SaveButton));
  EXPECT_TRUE(Seams.LastWasSave);
  EXPECT_TRUE(Seams.Boxes.empty());

  // What reading, filtering and writing without the window give.
  TBitmap picture;
  picture.ReadBitmapFile(path.toStdString());
  picture.ConvertTo24Bits();
  TBitmap out;
  ASSERT_TRUE(filter.Run(picture, out));
  const QString expected = Dir.filePath("expected.bmp");
  out.WriteBitmapFile(expected.toStdString());

  const QByteArray written = FileBytes(saved + ".bmp");
  ASSERT_FALSE(written.isEmpty());
  EXPECT_EQ(written, FileBytes(expected));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_P(SaveTest, SavingBeforeAnyPictureWasOpenedShowsNoDialog) {
  Click((*Layout).*(GetParam().SaveButton));
  EXPECT_EQ(Seams.DialogsShown, 0);
}

TEST_P(SaveTest, CancellingTheSaveDialogWritesNothing) {
  Open(WritePicture("picture.bmp", 40, 30));
  Seams.Answers.push_back(std::nullopt);
  Click((*Layout).*(GetParam().SaveButton));
  EXPECT_EQ(Seams.DialogsShown, 2);
  EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList{"picture.bmp"});
}

INSTANTIATE_TEST_SUITE_P(EachFilter, SaveTest, ::testing::ValuesIn(kFilters),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST_F(MainFormTest, AFileThatCannotBeCreatedIsReportedAndTheWindowGoesOn) {
  Open(WritePicture("picture.bmp", 40, 30));
  Seams.Answer(Dir.filePath("no such folder/saved.bmp"));
  Click(Layout->SavePatternDither4);
  ASSERT_EQ(Seams.Boxes.size(), 1u);
  EXPECT_TRUE(Seams.Boxes[0].Text.startsWith(QString::fromUtf8("ファイル ")));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, AnInvalidFileIsReportedInABoxAndEverythingShownStays) {
  const QString good = WritePicture("good.bmp", 300, 200);
  Open(good);
  const auto before = SixPreviews();
  const QString bad = WriteBytes("bad.bmp", QByteArray(64, 'x'));
  Open(bad);

  ASSERT_EQ(Seams.Boxes.size(), 1u);
  EXPECT_EQ(Seams.Boxes[0].Text,
            QString::fromUtf8("ビットマップイメージが不正です.\nファイル ") + bad +
                QString::fromUtf8(": 画像のデータが壊れています (1 バイト目)"));
  EXPECT_EQ(Seams.Boxes[0].Caption, QString::fromUtf8(ProgramTitle));
  EXPECT_EQ(Seams.Boxes[0].Icon, TMessageIcon::Stop);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(SixPreviews(), before);
  EXPECT_EQ(Layout->SampleImage->size(), QSize(300, 200));

  // The window goes on: the good picture saves, another one opens.
  Seams.Answer(Dir.filePath("saved.bmp"));
  Click(Layout->SaveDiffError16);
  EXPECT_FALSE(FileBytes(Dir.filePath("saved.bmp")).isEmpty());
  const QString other = WritePicture("other.bmp", 50, 50);
  Open(other);
  ExpectPreviewsOf(other, 0, 0);
}

// An 8-bit grey ramp: reading it needs a quarter of the storage its 24-bit conversion needs.
QByteArray EightBitPicture(std::int32_t width, std::int32_t height) {
  const auto put32 = [](QByteArray& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
      bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  const auto put16 = [](QByteArray& bytes, std::uint16_t value) {
    bytes.append(static_cast<char>(value & 0xFF));
    bytes.append(static_cast<char>(value >> 8));
  };
  const std::uint32_t stride = (static_cast<std::uint32_t>(width) + 3u) & ~3u;
  const auto offset =
      static_cast<std::uint32_t>(test::kAfterInfoHeader + 256 * test::kColourEntryBytes);
  QByteArray bytes("BM");
  put32(bytes, offset + stride * static_cast<std::uint32_t>(height));
  put32(bytes, 0);
  put32(bytes, offset);
  put32(bytes, 40);
  put32(bytes, static_cast<std::uint32_t>(width));
  put32(bytes, static_cast<std::uint32_t>(height));
  put16(bytes, 1);
  put16(bytes, 8);
  for (int i = 0; i < 6; ++i)
    put32(bytes, 0);
  for (int i = 0; i < 256; ++i)
    put32(bytes, static_cast<std::uint32_t>(i * 0x010101));
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < stride; ++x)
      bytes.append(static_cast<char>(x + y));
  }
  return bytes;
}

TEST_F(MainFormTest, APictureThatCannotBeConvertedLeavesTheOpenPictureInPlace) {
  const QString good = WritePicture("good.bmp", 40, 30);
  Open(good);
  const QString grey = WriteBytes("grey.bmp", EightBitPicture(200, 200));
  {
    // Room for the 8-bit picture, not for its 24-bit conversion.
    const test::TStorageLimitScope limit(100000);
    Open(grey);
  }
  ASSERT_EQ(Seams.Boxes.size(), 1u);
  EXPECT_EQ(Seams.Boxes[0].Text, QString::fromUtf8("システム リソースが足りません."));

  // What is shown and what a save writes are still the first picture.
  EXPECT_EQ(Form->Bitmap().Width(), 40);
  EXPECT_EQ(Form->Bitmap().ImageFormat(), TPixelFormat::pf24bit);
  ExpectPreviewsOf(good, 0, 0);

  // Without the limit the same file opens.
  Open(grey);
  EXPECT_EQ(Seams.Boxes.size(), 1u);
  EXPECT_EQ(Form->Bitmap().Width(), 200);
  ExpectPreviewsOf(grey, 0, 0);
}

TEST_F(MainFormTest, AVanishedFileAndAnUnwritableTargetAreReportedAndTheWindowGoesOn) {
  const QString first = WritePicture("first.bmp", 60, 50);
  Open(first);
  const auto previews = SixPreviews();

  // Chosen in the dialog, gone before it is read.
  const QString vanished = WritePicture("vanished.bmp", 20, 20);
  Seams.Answer(vanished);
  TOpenDialog::TestResponder = [&, responder = TOpenDialog::TestResponder](TOpenDialog& dialog) {
    std::optional<QString> answer = responder(dialog);
    QFile::remove(vanished);
    return answer;
  };
  Click(Layout->OpenBuuton);
  ASSERT_EQ(Seams.Boxes.size(), 1u);
  EXPECT_EQ(Seams.Boxes[0].Text, QString::fromUtf8("ファイル ") + vanished +
                                     QString::fromUtf8(" は開けません.\n") +
                                     QString::fromUtf8("ファイル ") + vanished +
                                     QString::fromUtf8(": ファイルまたはフォルダーがありません"));
  EXPECT_EQ(Form->Bitmap().Width(), 60);
  EXPECT_EQ(SixPreviews(), previews);

  // A target whose folder turned into a file cannot be created.
  const QString blocked = WriteBytes("blocked", "a file, not a folder") + "/saved.bmp";
  Seams.Answer(blocked);
  Click(Layout->SaveDiffError16);
  ASSERT_EQ(Seams.Boxes.size(), 2u);
  EXPECT_EQ(Seams.Boxes[1].Text,
            QString::fromUtf8("ファイル ") + blocked + QString::fromUtf8(" を作成できません.\n") +
                QString::fromUtf8("ファイル ") + blocked +
                QString::fromUtf8(": パスの途中にフォルダーでないものがあります"));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  // And the window works on: the next save writes the file.
  const QString saved = Dir.filePath("saved.bmp");
  Seams.Answer(saved);
  Click(Layout->SaveDiffError16);
  EXPECT_EQ(Seams.Boxes.size(), 2u);
  EXPECT_EQ(QFile(saved).size(), static_cast<qint64>(test::kAfterInfoHeader + 180 * 50));
}

TEST_F(MainFormTest, AFileThatDoesNotExistIsReported) {
  Open(Dir.filePath("missing.bmp"));
  ASSERT_EQ(Seams.Boxes.size(), 1u);
  EXPECT_TRUE(Seams.Boxes[0].Text.contains(QStringLiteral("missing.bmp")));
}

TEST_F(MainFormTest, AnEmptyFileOpensAsAnEmptyPictureAndLeavesTheViewsAsTheyWere) {
  Open(WritePicture("picture.bmp", 300, 200));
  const auto before = SixPreviews();
  Open(WriteBytes("empty.bmp", {}));
  EXPECT_TRUE(Seams.Boxes.empty());
  EXPECT_TRUE(Form->Bitmap().Empty());
  EXPECT_EQ(Layout->SampleImage->size(), QSize(300, 200));
  EXPECT_EQ(SixPreviews(), before);

  // From now on the save buttons do nothing.
  const int dialogs = Seams.DialogsShown;
  Click(Layout->SaveDiffError64);
  EXPECT_EQ(Seams.DialogsShown, dialogs);
}

TEST_F(MainFormTest, DroppingAFileOnTheWindowOpensIt) {
  const QString path = WritePicture("dropped.bmp", 130, 90);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(Form.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(Form.get(), &drop);
  EXPECT_TRUE(Form->Bitmap().Empty()) << "opened once the drop is over";
  QApplication::processEvents();
  EXPECT_EQ(Seams.DialogsShown, 0);
  EXPECT_EQ(Layout->SampleImage->size(), QSize(130, 90));
  ExpectPreviewsOf(path, 0, 0);

  // Anything but one local file is not taken.
  QMimeData text;
  text.setText(QStringLiteral("picture"));
  QDragEnterEvent other(QPoint(100, 100), Qt::CopyAction, &text, Qt::LeftButton, {});
  QApplication::sendEvent(Form.get(), &other);
  EXPECT_FALSE(other.isAccepted());

  // A bad file dropped is reported like one chosen in the dialog, and the window goes on.
  const QString bad = Dir.filePath("bad.bmp");
  QFile badFile(bad);
  ASSERT_TRUE(badFile.open(QIODevice::WriteOnly));
  badFile.write("MB not a bitmap file");
  badFile.close();
  data.setUrls({QUrl::fromLocalFile(bad)});
  QDragEnterEvent badEnter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(Form.get(), &badEnter);
  QDropEvent badDrop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(Form.get(), &badDrop);
  QApplication::processEvents();
  ASSERT_EQ(Seams.Boxes.size(), 1u);
  EXPECT_EQ(Seams.Boxes[0].Text,
            QString::fromUtf8("ビットマップイメージが不正です.\nファイル ") + bad +
                QString::fromUtf8(": 画像のデータが壊れています (1 バイト目)"));
  EXPECT_EQ(Layout->SampleImage->size(), QSize(130, 90));
}

TEST_F(MainFormTest, APngWithAlphaOpensWhateverItsNameAndItsPngSaveKeepsAlphaAndProfile) {
  TBitmap original;
  MakeTestPicture(original, 150, 70);
  TPictureExtras extras;
  for (int i = 0; i < 150 * 70; ++i)
    extras.Alpha.push_back(static_cast<std::uint8_t>(i % 251));
  extras.ColorProfile = {1, 2, 3, 4, 5};
  // And a photograph's metadata: an EXIF block (no entries) and an XMP packet.
  extras.Exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 7, 9};
  for (const char c : std::string_view("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>"))
    extras.Xmp.push_back(static_cast<std::uint8_t>(c));
  // A PNG named like a bitmap: the content decides.
  const QString path = Dir.filePath("photo.bmp");
  WritePngFile(original, path.toStdString(), extras);
  Open(path);
  ASSERT_TRUE(Seams.Boxes.empty());
  ASSERT_EQ(Form->Bitmap().Width(), 150);
  ExpectPreviewsOf(WritePicture("same.bmp", 150, 70), 0, 0);

  TBitmap expected;
  ASSERT_TRUE(YPatternDither16(original, expected));
  const struct {
    int Entry;
    const char* Typed;
    const char* Written;
    TPictureKind Kind;
  } saves[] = {{2, "chosen.png", "chosen.png", TPictureKind::Png},
               {1, "typed.PNG", "typed.PNG", TPictureKind::Png},
               {1, "plain", "plain.png", TPictureKind::Png}};
  // A bitmap would lose the alpha: the window asks, and is told to write PNG instead.
  Seams.ButtonAnswers = {0};
  for (const auto& save : saves) {
    TMainFormTestAccess::SaveDialog1(*Form).SetFilterIndex(save.Entry);
    Seams.Answer(Dir.filePath(QString::fromUtf8(save.Typed)));
    Click(Layout->SavePatternDither16);
    ASSERT_TRUE(Seams.Boxes.empty()) << save.Typed;
    TBitmap written;
    TPictureExtras writtenExtras;
    ASSERT_EQ(ReadPicture(Dir.filePath(QString::fromUtf8(save.Written)).toStdString(), written,
                          writtenExtras),
              save.Kind)
        << save.Typed;
    EXPECT_EQ(PixelsOf(written), PixelsOf(expected)) << save.Typed;
    if (save.Kind == TPictureKind::Png) {
      EXPECT_EQ(writtenExtras.Alpha, extras.Alpha) << save.Typed;
      EXPECT_EQ(writtenExtras.ColorProfile, extras.ColorProfile) << save.Typed;
      EXPECT_EQ(writtenExtras.Exif, extras.Exif) << save.Typed;
      EXPECT_EQ(writtenExtras.Xmp, extras.Xmp) << save.Typed;
    }
  }
}

TEST_F(MainFormTest, DroppingAPngOpensIt) {
  TBitmap original;
  MakeTestPicture(original, 90, 60);
  const QString path = Dir.filePath("dropped.png");
  WritePngFile(original, path.toStdString(), {});
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(Form.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(Form.get(), &drop);
  QApplication::processEvents();
  EXPECT_TRUE(Seams.Boxes.empty());
  EXPECT_EQ(Layout->SampleImage->size(), QSize(90, 60));
  EXPECT_EQ(PixelsOf(Form->Bitmap()), PixelsOf(original));
}

// A dropped file of one of the kinds read through a library opens like any other, and one of
// no kind is told so, not called a damaged bitmap; the picture shown stays.
TEST_F(MainFormTest, DroppingAGifOpensItAndAFileOfNoKindIsUnsupported) {
  const auto dropFile = [&](const QString& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(Form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(Form.get(), &drop);
    QApplication::processEvents();
  };
  // Two pixels, red and blue, of a two-colour palette.
  static const char kGif[] =
      "GIF89a\x02\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\xff"
      "\x2c\x00\x00\x00\x00\x02\x00\x01\x00\x00\x02\x02\x44\x0a\x00\x3b";
  dropFile(WriteBytes("tiny.gif", QByteArray(kGif, sizeof kGif - 1)));
  EXPECT_TRUE(Seams.Boxes.empty());
  EXPECT_EQ(Layout->SampleImage->size(), QSize(2, 1));
  const auto shown = PixelsOf(Form->Bitmap());

  dropFile(WriteBytes("notes.txt", QByteArray("just text\n")));
  ASSERT_EQ(Seams.Boxes.size(), 1u);
  EXPECT_EQ(Seams.Boxes[0].Text, QString::fromUtf8("対応していない形式の画像ファイルです."));
  EXPECT_EQ(Layout->SampleImage->size(), QSize(2, 1));
  EXPECT_EQ(PixelsOf(Form->Bitmap()), shown);
}

struct TWindowSize {
  int Width;
  int Height;
};

void PrintTo(const TWindowSize& size, std::ostream* os) {
  *os << size.Width << " x " << size.Height;
}

class ResizeTest : public MainFormTest, public ::testing::WithParamInterface<TWindowSize> {};

// The deep filters' column stands at the window's right, beside the toolbar and the scroll box.
constexpr int kDeepColumnWidth = 161;

TEST_P(ResizeTest, ThePanelIsCentredInTheScrollBoxAndTheToolbarFollowsTheWidth) {
  Form->resize(GetParam().Width + kDeepColumnWidth, GetParam().Height);
  QApplication::processEvents();
  const QSize box = Layout->ScrollBox->size();
  ASSERT_EQ(box.width(), GetParam().Width);
  // Truncated toward zero: negative when the box is the smaller.
  const int left = (box.width() - 481) / 2;
  const int top = (box.height() - 409) / 2;
  EXPECT_EQ(Layout->SamplePanel->pos(), QPoint(left, top));
  EXPECT_EQ(Layout->SamplePanel->size(), QSize(481, 409));

  // The separator takes the toolbar's width less 135 wherever the controls on it (zoom,
  // strength, the full view's list and flip) fit there; in a toolbar too narrow for them it
  // keeps them uncovered, and the buttons after it go on past the toolbar's right end.
  const int rest = Layout->ToolBar1->width() - 135;
  const int content = TMainFormTestAccess::SeparatorContentWidth(*Form);
  EXPECT_EQ(Layout->ToolButton2->width(), std::max(rest, content));
  EXPECT_EQ(Layout->FrameSpeedButton2->x(), 23 + Layout->ToolButton2->width());
  // The five buttons after the separator stand against the toolbar's right end.
  if (content <= rest) {
    EXPECT_EQ(Layout->EditButton->geometry().right() + 1, Layout->ToolBar1->width() - 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeTest,
                         ::testing::Values(TWindowSize{569, 453}, TWindowSize{800, 600},
                                           TWindowSize{300, 200}, TWindowSize{482, 439}),
                         [](const auto& param) {
                           return std::to_string(param.param.Width) + "x" +
                                  std::to_string(param.param.Height);
                         });

TEST_F(MainFormTest, TheStoredSizeGivesTheStoredToolbarAndACentredPanel) {
  EXPECT_EQ(Form->size(), QSize(569 + kDeepColumnWidth, 453));
  Form->resize(569 + kDeepColumnWidth, 453);
  QApplication::processEvents();
  EXPECT_EQ(Layout->ToolBar1->geometry(), QRect(0, 0, 569, 29));
  EXPECT_EQ(Layout->ScrollBox->geometry(), QRect(0, 29, 569, 424));
  EXPECT_EQ(Layout->ToolButton2->width(), 434);
  EXPECT_EQ(Layout->SamplePanel->pos(), QPoint(44, 7));
}

TEST_F(MainFormTest, TheLayoutPlacesEveryGroupPreviewAndSaveButtonWithItsHint) {
  struct TGroup {
    QWidget* Box;
    QPoint At;
    const char* Caption;
    TImage* Preview;
    TFrameSpeedButton* Save;
    const char* Hint;
  };
  const TGroup groups[] = {
      {Layout->GroupBox5, {8, 8}, "元画像", Layout->SourceImage, nullptr, ""},
      {Layout->GroupBox1,
       {168, 8},
       "4階調パターンディザ",
       Layout->PatternDither4,
       Layout->SavePatternDither4,
       "ビットマップを4階調パターンディザフィルターをかけ出力する"},
      {Layout->GroupBox2,
       {328, 8},
       "16階調パターンディザ",
       Layout->PatternDither16,
       Layout->SavePatternDither16,
       "ビットマップを16階調パターンディザフィルターをかけ出力する"},
      {Layout->GroupBox6,
       {8, 208},
       "64レベル誤差拡散",
       Layout->DiffError64,
       Layout->SaveDiffError64,
       "ビットマップを64レベル誤差拡散フィルターをかけ出力する"},
      {Layout->GroupBox3,
       {168, 208},
       "32レベル誤差拡散",
       Layout->DiffError32,
       Layout->SaveDiffError32,
       "ビットマップを32レベル誤差拡散フィルターをかけ出力する"},
      {Layout->GroupBox4,
       {328, 208},
       "16レベル誤差拡散",
       Layout->DiffError16,
       Layout->SaveDiffError16,
       "ビットマップを16レベル誤差拡散フィルターをかけ出力する"},
  };
  for (const TGroup& group : groups) {
    SCOPED_TRACE(group.Caption);
    EXPECT_EQ(group.Box->parentWidget(), Layout->SamplePanel);
    EXPECT_EQ(group.Box->geometry(), QRect(group.At, QSize(145, 193)));
    EXPECT_EQ(group.Box->property("title").toString(), QString::fromUtf8(group.Caption));
    EXPECT_EQ(group.Preview->parentWidget(), group.Box);
    EXPECT_EQ(group.Preview->geometry(), QRect(8, 24, 128, 128));
    if (group.Save == nullptr) continue;
    EXPECT_EQ(group.Save->parentWidget(), group.Box);
    EXPECT_EQ(group.Save->geometry(), QRect(112, 160, 23, 22));
    EXPECT_EQ(group.Save->Hint(), QString::fromUtf8(group.Hint));
    EXPECT_TRUE(group.Save->ShowHint());
    EXPECT_EQ(group.Save->NumGlyphs(), 2);
    EXPECT_EQ(group.Save->Glyph().Width(), 32);
  }
  EXPECT_EQ(Layout->Bevel5->size(), QSize(131, 131));
  EXPECT_EQ(Layout->Bevel1->size(), QSize(131, 132));

  const std::pair<TFrameSpeedButton*, const char*> toolbar[] = {
      {Layout->OpenBuuton, "ビットマップを読み込む"},
      {Layout->FrameSpeedButton2, "サンプルの表示"},
      {Layout->FrameSpeedButton1, "ビットマップの表示"},
      {Layout->VersionInfoButton, "バージョン情報を表示する"},
      {Layout->EditButton, "アプリケーションを終了する"},
  };
  for (const auto& [button, hint] : toolbar) {
    EXPECT_EQ(button->parentWidget(), Layout->ToolBar1);
    EXPECT_EQ(button->Hint(), QString::fromUtf8(hint));
    EXPECT_TRUE(button->Flat());
    EXPECT_EQ(button->Glyph().Width(), 16);
  }
  EXPECT_EQ(Layout->FrameSpeedButton2->GroupIndex(), 1);
  EXPECT_EQ(Layout->FrameSpeedButton1->GroupIndex(), 1);
  EXPECT_TRUE(Layout->FrameSpeedButton2->Down());
  EXPECT_EQ(Layout->ScrollBox->Color(), clBackground);
  EXPECT_EQ(Form->windowTitle(), QString::fromUtf8(ProgramTitle));
  const QString all = QStringLiteral(
      "*.bmp;*.png;*.jpg;*.jpeg;*.jpe;*.jfif;*.tif;*.tiff;*.webp;*.gif;*.heic;*.heif;*.avif;*.jxl");
  EXPECT_EQ(TMainFormTestAccess::OpenDialog1(*Form).Filter(),
            QString::fromUtf8("画像ファイル(") + all + QStringLiteral(")|") + all +
                QStringLiteral("|Bitmap(*.bmp)|*.bmp|PNG(*.png)|*.png"
                               "|JPEG(*.jpg;*.jpeg;*.jpe;*.jfif)|*.jpg;*.jpeg;*.jpe;*.jfif"
                               "|TIFF(*.tif;*.tiff)|*.tif;*.tiff|WebP(*.webp)|*.webp"
                               "|GIF(*.gif)|*.gif|HEIF(*.heic;*.heif)|*.heic;*.heif"
                               "|AVIF(*.avif)|*.avif|JPEG XL(*.jxl)|*.jxl"));
  EXPECT_EQ(TMainFormTestAccess::SaveDialog1(*Form).Filter(),
            QStringLiteral("Bitmap(*.bmp)|*.bmp|PNG(*.png)|*.png"));
  EXPECT_EQ(TMainFormTestAccess::SaveDialog1(*Form).DefaultExt(), QStringLiteral("bmp"));
  EXPECT_TRUE(TMainFormTestAccess::OpenDialog1(*Form).DefaultExt().isEmpty());
}

// The start-up check keeps every sample group on a filter of its own, in the table's order; the
// table may hold rows no group shows.
TEST(MainFormSampleGroups, EachGroupShowsItsOwnFilterInTheTablesOrder) {
  using Id = TFilterId;
  EXPECT_NO_THROW(
      TMainFormTestAccess::CheckGroupsShowing({Id::PatternDither4, Id::PatternDither16,
                                               Id::DiffError64, Id::DiffError32, Id::DiffError16}));
  EXPECT_NO_THROW(TMainFormTestAccess::CheckGroupsShowing({Id::PatternDither16, Id::DiffError16}));
  EXPECT_THROW(TMainFormTestAccess::CheckGroupsShowing({Id::DiffError64, Id::PatternDither16}),
               std::logic_error);
  EXPECT_THROW(TMainFormTestAccess::CheckGroupsShowing({Id::PatternDither4, Id::PatternDither4}),
               std::logic_error);
  EXPECT_THROW(TMainFormTestAccess::CheckGroupsShowing({static_cast<Id>(99)}), std::logic_error);
  // The deep filters' groups are wired through the same check.
  EXPECT_NO_THROW(TMainFormTestAccess::CheckGroupsShowing(
      {Id::PatternDither4, Id::PatternDither16, Id::DiffError64, Id::DiffError32, Id::DiffError16,
       Id::Diffusion, Id::Ordered}));
  EXPECT_THROW(TMainFormTestAccess::CheckGroupsShowing(
                   {Id::PatternDither4, Id::PatternDither16, Id::DiffError64, Id::DiffError32,
                    Id::DiffError16, Id::Ordered, Id::Diffusion}),
               std::logic_error);
}

}  // namespace
}  // namespace penamo
