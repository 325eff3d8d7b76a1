#include "FrameSpeedButton.h"

#include <QPainter>

namespace penamo {

void TFrameSpeedButton::Paint(QPainter& painter) {
  // Idle flat buttons would otherwise show nothing but their glyph.
  if (Flat() && !MouseInside()) {
    const QColor shadow = ColorToQColor(clBtnShadow);
    const int right = width() - 1;
    const int bottom = height() - 1;
    painter.fillRect(QRect(0, 0, width(), 1), shadow);
    painter.fillRect(QRect(0, bottom, width(), 1), shadow);
    painter.fillRect(QRect(0, 0, 1, height()), shadow);
    painter.fillRect(QRect(right, 0, 1, height()), shadow);
  }
  TSpeedButton::Paint(painter);
}

}  // namespace penamo
