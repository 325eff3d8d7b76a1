#include <gtest/gtest.h>

#include <QPainter>

#include "ExpectRefusal.h"
#include "Image.h"
#include "ImageTestSupport.h"

namespace penamo {
namespace {

using test::ExpectRefusal;
using test::kAnyReason;

using namespace penamo::testing;

// Every pixel of a different colour, so a shifted or flipped row shows.
QRgb Pattern(int x, int y) {
  return qRgb(x % 256, y % 256, (x * 7 + y * 13) % 256);
}

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = MakeHost(260, 220);
    image = new TImage(host.get());
    image->move(10, 20);
    ShowAndWait(host.get());
  }
  QRgb At(int x, int y) { return PixelOf(image, QPoint(x, y)); }

  std::unique_ptr<QWidget> host;
  TImage* image = nullptr;
};

TEST_F(ImageTest, NewImageIs105SquareAndShowsTheParentWhileEmpty) {
  EXPECT_EQ(image->size(), QSize(105, 105));
  EXPECT_FALSE(image->Opaque());
  EXPECT_EQ(At(0, 0), HostColour);
  EXPECT_EQ(At(104, 104), HostColour);
}

class ImageRowOrderTest : public ImageTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ImageRowOrderTest, PictureIsDrawnPixelForPixelFromTheTopLeft) {
  const bool topDown = GetParam();
  auto picture = std::make_unique<TBitmap>();
  picture->SetImageFormat(TPixelFormat::pf24bit);
  picture->SetWidth(70);
  picture->SetHeight(topDown ? -50 : 50);
  for (int y = 0; y < 50; ++y) {
    std::uint8_t* row = picture->RowAddress(y);
    for (int x = 0; x < 70; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(qBlue(Pattern(x, y)));
      row[3 * x + 1] = static_cast<std::uint8_t>(qGreen(Pattern(x, y)));
      row[3 * x + 2] = static_cast<std::uint8_t>(qRed(Pattern(x, y)));
    }
  }
  image->Picture().Assign(picture.get());
  const QImage shot = host->grab().toImage();
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 70; ++x) {
      ASSERT_EQ(shot.pixel(10 + x, 20 + y) | 0xFF000000u, Pattern(x, y)) << x << "," << y;
    }
  }
  EXPECT_EQ(shot.pixel(10 + 70, 20) | 0xFF000000u, HostColour);
  EXPECT_EQ(shot.pixel(10, 20 + 50) | 0xFF000000u, HostColour);
}

INSTANTIATE_TEST_SUITE_P(BottomUpAndTopDown, ImageRowOrderTest, ::testing::Bool());

TEST_F(ImageTest, SmallerPictureAfterALargerOneLeavesTheRestToTheParent) {
  image->resize(128, 128);
  image->Picture().Assign(SolidBitmap(128, 128, qRgb(255, 0, 0)).get());
  EXPECT_TRUE(image->Opaque());
  EXPECT_EQ(At(127, 127), qRgb(255, 0, 0));
  image->Picture().Assign(SolidBitmap(100, 60, qRgb(0, 0, 255)).get());
  EXPECT_FALSE(image->Opaque());
  EXPECT_EQ(image->size(), QSize(128, 128));
  EXPECT_EQ(At(99, 59), qRgb(0, 0, 255));
  EXPECT_EQ(At(100, 10), HostColour);
  EXPECT_EQ(At(10, 60), HostColour);
  EXPECT_EQ(At(127, 127), HostColour);
}

TEST_F(ImageTest, PictureLargerThanTheControlIsCutAtItsEdges) {
  image->resize(128, 128);
  image->Picture().Assign(SolidBitmap(200, 150, qRgb(0, 0, 255)).get());
  EXPECT_EQ(image->size(), QSize(128, 128));
  EXPECT_EQ(At(127, 127), qRgb(0, 0, 255));
  EXPECT_EQ(At(128, 10), HostColour);
  EXPECT_EQ(At(10, 128), HostColour);
}

TEST_F(ImageTest, AutoSizeTakesThePictureSizeButNotAnEmptyOnes) {
  image->SetAutoSize(true);
  image->Picture().Assign(SolidBitmap(640, 480, qRgb(0, 0, 255)).get());
  EXPECT_EQ(image->geometry(), QRect(10, 20, 640, 480));
  TBitmap empty;
  image->Picture().Assign(&empty);
  EXPECT_EQ(image->size(), QSize(640, 480));
  EXPECT_FALSE(image->Opaque());
  EXPECT_EQ(At(5, 5), HostColour) << "an empty picture paints nothing";
  image->Picture().Assign(nullptr);
  EXPECT_EQ(image->Picture().Graphic(), nullptr);
  EXPECT_EQ(image->size(), QSize(640, 480));
}

TEST_F(ImageTest, TurningAutoSizeOnTakesTheSizeOfThePictureHeld) {
  image->Picture().Assign(SolidBitmap(30, 40, qRgb(0, 0, 255)).get());
  EXPECT_EQ(image->size(), QSize(105, 105));
  image->SetAutoSize(true);
  EXPECT_EQ(image->size(), QSize(30, 40));
}

TEST_F(ImageTest, IconIsDrawnAtItsOwnSizeWithItsTransparentAreas) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  {
    QPainter painter(&pixmap);
    painter.fillRect(8, 8, 16, 16, QColor(255, 0, 0));
  }
  TIcon icon(pixmap);
  image->Picture().Assign(&icon);
  EXPECT_FALSE(image->Opaque());
  EXPECT_EQ(At(10, 10), qRgb(255, 0, 0));
  EXPECT_EQ(At(2, 2), HostColour);
  EXPECT_EQ(At(40, 10), HostColour);
}

TEST_F(ImageTest, ShowingAPictureCopiesNoPixel) {
  auto source = SolidBitmap(300, 200, qRgb(0, 0, 255));
  image->SetAutoSize(true);
  image->Picture().Assign(source.get());
  image->repaint();
  (void)host->grab();
  // Still one block of pixels, held by both: neither the hand-over nor the painting copied it.
  EXPECT_EQ(&image->Picture().Bitmap()->Image(), &source->Image());
  EXPECT_EQ(source->Image().RefCount(), 2);
}

// ---- the picture ----

TEST(PictureTest, PictureKeepsThePictureAsGivenWhateverHappensToTheSource) {
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TPicture&) { ++changes; };
  {
    auto source = SolidBitmap(4, 3, qRgb(10, 20, 30));
    picture.Assign(source.get());
    source->RowAddress(0)[0] = 99;
  }
  EXPECT_EQ(changes, 1);
  ASSERT_NE(picture.Bitmap(), nullptr);
  EXPECT_EQ(picture.Width(), 4);
  EXPECT_EQ(picture.Height(), 3);
  EXPECT_EQ(picture.Bitmap()->ConstRowAddress(0)[0], 30);
}

TEST(PictureTest, PictureSourceCopiesItsGraphicAndNullEmpties) {
  TPicture first;
  TPicture second;
  first.Assign(SolidBitmap(5, 6, qRgb(1, 2, 3)).get());
  second.Assign(&first);
  ASSERT_NE(second.Bitmap(), nullptr);
  EXPECT_NE(second.Bitmap(), first.Bitmap());
  EXPECT_EQ(second.Width(), 5);
  second.Assign(static_cast<const TPicture*>(nullptr));
  EXPECT_EQ(second.Graphic(), nullptr);
  EXPECT_EQ(second.Width(), 0);
}

class TForeignGraphic final : public TGraphic {
 public:
  std::int32_t Width() const override { return 1; }
  std::int32_t Height() const override { return 1; }
  bool Empty() const override { return false; }
};

TEST(PictureTest, GraphicOfAnotherKindIsRefusedAndThePictureKept) {
  TPicture picture;
  picture.Assign(SolidBitmap(2, 2, qRgb(0, 0, 0)).get());
  TForeignGraphic foreign;
  ExpectRefusal<EConvertError>([&] { picture.Assign(static_cast<const TGraphic*>(&foreign)); },
                               kAnyReason,
                               "TForeignGraphic を TPicture に代入することはできません");
  EXPECT_NE(picture.Bitmap(), nullptr);
}

}  // namespace
}  // namespace penamo
