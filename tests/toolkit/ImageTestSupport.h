// Pointer events sent the way the window system sends them (through the top-level window, so
// Qt's press grab and enter/leave handling take part), and small pictures made in code.
#pragma once

#include <QCursor>
#include <QImage>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <memory>

#include "Bitmap.h"
#include "SystemColors.h"

namespace penamo::testing {

inline QWindow* WindowOf(QWidget* widget) {
  return widget->window()->windowHandle();
}

inline QPoint InWindow(QWidget* widget, QPoint point) {
  return widget->mapTo(widget->window(), point);
}

// Points are in the widget's own coordinates and may lie outside it (not outside its window).
inline void Press(QWidget* widget, QPoint point, Qt::MouseButton button = Qt::LeftButton) {
  QTest::mousePress(WindowOf(widget), button, {}, InWindow(widget, point));
}

inline void Release(QWidget* widget, QPoint point, Qt::MouseButton button = Qt::LeftButton) {
  QTest::mouseRelease(WindowOf(widget), button, {}, InWindow(widget, point));
}

inline void Click(QWidget* widget, QPoint point, Qt::MouseButton button = Qt::LeftButton) {
  Press(widget, point, button);
  Release(widget, point, button);
}

inline void DoubleClick(QWidget* widget, QPoint point) {
  QTest::mouseDClick(WindowOf(widget), Qt::LeftButton, {}, InWindow(widget, point));
}

// Moves the pointer itself too, for code that asks where it is.
inline void MoveTo(QWidget* widget, QPoint point) {
  QCursor::setPos(widget->mapToGlobal(point));
  QTest::mouseMove(WindowOf(widget), InWindow(widget, point));
}

inline QRgb Rgb(TColor color) {
  return ColorToQColor(color).rgb();
}

// What the top-level window shows at a point of `widget`, as painted now.
inline QRgb PixelOf(QWidget* widget, QPoint point) {
  QWidget* top = widget->window();
  const QImage shot = top->grab().toImage();
  return shot.pixel(InWindow(widget, point)) | 0xFF000000u;
}

// A 24-bit picture whose pixel (x, y) is colour(x, y).
inline std::unique_ptr<TBitmap> MakeBitmap(int width, int height,
                                           const std::function<QRgb(int, int)>& colour) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetImageFormat(TPixelFormat::pf24bit);
  bitmap->SetWidth(width);
  bitmap->SetHeight(height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap->RowAddress(y);
    for (int x = 0; x < width; ++x) {
      const QRgb c = colour(x, y);
      row[3 * x] = static_cast<std::uint8_t>(qBlue(c));
      row[3 * x + 1] = static_cast<std::uint8_t>(qGreen(c));
      row[3 * x + 2] = static_cast<std::uint8_t>(qRed(c));
    }
  }
  return bitmap;
}

inline std::unique_ptr<TBitmap> SolidBitmap(int width, int height, QRgb colour) {
  return MakeBitmap(width, height, [colour](int, int) { return colour; });
}

// A top-level window of a colour no button or view paints by itself.
inline std::unique_ptr<QWidget> MakeHost(int width, int height) {
  auto host = std::make_unique<QWidget>();
  QPalette palette = host->palette();
  palette.setColor(QPalette::Window, QColor(0, 160, 0));
  host->setPalette(palette);
  host->setAutoFillBackground(true);
  host->resize(width, height);
  return host;
}

inline const QRgb HostColour = qRgb(0, 160, 0);

inline void ShowAndWait(QWidget* host) {
  host->show();
  (void)QTest::qWaitForWindowExposed(host);
}

}  // namespace penamo::testing
