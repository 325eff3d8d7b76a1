// Errors raised by the program's handlers stop at the control that ran them: Qt's widget code
// is built without exception support, so none may unwind through it.
#include <gtest/gtest.h>

#include <QWidget>

#include "ApplicationTestSupport.h"
#include "Exceptions.h"
#include "FrameSpeedButton.h"
#include "Image.h"
#include "ImageTestSupport.h"

namespace penamo {
namespace {

TEST(HandlerErrorTest, ErrorsFromButtonAndImageHandlersAreReportedAndTheWindowGoesOn) {
  test::BoxRecorder boxes;
  QWidget window;
  window.resize(200, 200);
  auto* button = new TFrameSpeedButton(&window);
  button->move(10, 10);
  auto* image = new TImage(&window);
  image->setGeometry(50, 50, 100, 100);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  int clicks = 0;
  button->OnClick = [&](TSpeedButton&) {
    ++clicks;
    throw EReadError(Msg::ReadError);
  };
  image->OnMouseUp = [](TImage&, TMouseButton, TShiftState, int, int) {
    throw EInvalidGraphic(Msg::InvalidBitmap);
  };

  testing::Click(button, {5, 5});
  testing::Click(image, {3, 4}, Qt::RightButton);
  testing::Click(button, {5, 5});

  EXPECT_EQ(clicks, 2);
  ASSERT_EQ(boxes.Boxes.size(), 3u);
  EXPECT_EQ(boxes.Boxes[0].Text, QString::fromUtf8("ストリームからの読み込みエラー."));
  EXPECT_EQ(boxes.Boxes[1].Text, QString::fromUtf8("ビットマップイメージが不正です."));
  EXPECT_EQ(boxes.Boxes[2].Text, boxes.Boxes[0].Text);
}

}  // namespace
}  // namespace penamo
