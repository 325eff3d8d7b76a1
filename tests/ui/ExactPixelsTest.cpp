// Every picture pixel covers the same whole number of device pixels in the previews and in the
// full view at every zoom step, whatever the scale factor: CTest runs these cases again with
// QT_SCALE_FACTOR at 1.25, 1.5 and 1.75 (at 1 they check the plain blocks).
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <string>

#include "MainForm.h"
#include "MainFormAccess.h"
#include "MainFormFixture.h"
#include "WindowTestSupport.h"

namespace penamo {
namespace {

// Whether the window's picture `shot` (device pixels) shows `picture`'s pixels from (left, top),
// each as a block of `pixels` x `pixels` device pixels from device point `origin`, over
// `columns` x `rows` picture pixels. Names the first device pixel that differs in `where`.
bool ShowsBlocks(const QImage& shot, QPoint origin, const TBitmap& picture, int left, int top,
                 int columns, int rows, int pixels, std::string& where) {
  for (int y = 0; y < rows * pixels; ++y) {
    const std::uint8_t* row = picture.ConstRowAddress(top + y / pixels);
    for (int x = 0; x < columns * pixels; ++x) {
      const std::uint8_t* pixel = row + 3 * (left + x / pixels);
      const QRgb expected = qRgb(pixel[2], pixel[1], pixel[0]);
      const QPoint at = origin + QPoint(x, y);
      if (!shot.rect().contains(at) || (shot.pixel(at) & 0xFFFFFF) != (expected & 0xFFFFFF)) {
        where = "device pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
        return false;
      }
    }
  }
  return true;
}

// The control's top-left corner in the window's device pixels: a control at an odd position
// starts half-way into a device pixel at 1.5, which the paint takes as either neighbour.
bool ControlShowsBlocks(const QImage& shot, const TImage& control, const QWidget& window,
                        const TBitmap& picture, int left, int top, int columns, int rows,
                        int pixels, std::string& where) {
  const qreal ratio = shot.devicePixelRatio();
  const QPointF corner =
      QPointF(control.mapTo(&window, QPoint(0, 0))) * ratio + QPointF(control.DeviceOrigin());
  for (const int dx : {0, 1}) {
    for (const int dy : {0, 1}) {
      const QPoint origin(static_cast<int>(std::floor(corner.x())) + dx,
                          static_cast<int>(std::floor(corner.y())) + dy);
      if (ShowsBlocks(shot, origin, picture, left, top, columns, rows, pixels, where)) return true;
    }
  }
  return false;
}

class ExactPixelsTest : public testing::TMainFormFixture,
                        public ::testing::WithParamInterface<int> {};

TEST_P(ExactPixelsTest, EveryPicturePixelIsABlockOfTheSameWholeNumberOfDevicePixels) {
  const int zoom = GetParam();
  const qreal ratio = Form->devicePixelRatioF();
  const int pixels = TImage::DevicePixelsPerPixel(zoom, ratio);
  EXPECT_EQ(pixels, std::max(1, static_cast<int>(std::floor(zoom * ratio + 1e-6))));
  Open(WritePicture("picture.bmp", 300, 200));
  Form->SetZoom(zoom);
  QApplication::processEvents();

  // The previews: the unfiltered sample and one filter's, each whole inside its control.
  const QImage shot = Form->grab().toImage();
  ASSERT_EQ(shot.devicePixelRatio(), ratio);
  for (TImage* preview : {Layout->SourceImage, Layout->DiffError16}) {
    const TBitmap* sample = preview->Picture().Bitmap();
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->Width(), 128 / zoom);
    EXPECT_LE(sample->Width() * pixels, std::lround(preview->width() * ratio));
    // What whole blocks leave of the control lies evenly on both sides of the sample.
    const QPoint origin = preview->DeviceOrigin();
    EXPECT_LE(std::abs(2 * origin.x() + sample->Width() * pixels -
                       static_cast<int>(std::lround(preview->width() * ratio))),
              1);
    EXPECT_LE(std::abs(2 * origin.y() + sample->Height() * pixels -
                       static_cast<int>(std::lround(preview->height() * ratio))),
              1);
    std::string where;
    EXPECT_TRUE(ControlShowsBlocks(shot, *preview, *Form, *sample, 0, 0, sample->Width(),
                                   sample->Height(), pixels, where))
        << preview->objectName().toStdString() << ": " << where;
  }

  // The full view, away from the sample's frame; a click there picks the pixel under it.
  QTest::mouseClick(Layout->FrameSpeedButton1, Qt::LeftButton);
  Form->SetZoom(zoom);
  QApplication::processEvents();
  Layout->SampleImage->SetMarkedRect(QRect());
  const QImage full = Form->grab().toImage();
  std::string where;
  const int shown = std::min(60, static_cast<int>(Layout->ScrollBox->width() * ratio) / pixels - 2);
  EXPECT_TRUE(ControlShowsBlocks(full, *Layout->SampleImage, *Form, Form->Bitmap(), 0, 0, shown,
                                 std::min(shown, 40), pixels, where))
      << "full view: " << where;
  // The picture pixel whose block holds the device pixel under the pointer.
  const QPoint at(25, 15);
  const auto under = [&](int logical) {
    return static_cast<std::int32_t>(std::floor(logical * ratio / pixels + 1e-9));
  };
  QTest::mouseClick(Layout->SampleImage, Qt::LeftButton, {}, at);
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{under(at.x()), under(at.y())}));
}

INSTANTIATE_TEST_SUITE_P(ZoomSteps, ExactPixelsTest, ::testing::Values(1, 2, 4));

}  // namespace
}  // namespace penamo
