#include "SystemColors.h"

#include <QApplication>
#include <QPalette>

namespace penamo {

QColor ColorToQColor(TColor color) {
  if ((color & clSystemColor) != clSystemColor) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  }
  const QPalette palette = QApplication::palette();
  switch (color) {
    case clBackground:
      return ColorToQColor(DesktopColor);
    case clWindowText:
      return palette.color(QPalette::Active, QPalette::WindowText);
    case clBtnFace:
      return palette.color(QPalette::Active, QPalette::Button);
    case clBtnShadow:
      return palette.color(QPalette::Active, QPalette::Dark);
    case clBtnHighlight:
      return palette.color(QPalette::Active, QPalette::Light);
    case clInfoText:
      return palette.color(QPalette::Active, QPalette::ToolTipText);
    case clInfoBk:
      return palette.color(QPalette::Active, QPalette::ToolTipBase);
    default:
      return palette.color(QPalette::Active, QPalette::Window);
  }
}

TColor ColorToRGB(TColor color) {
  const QColor c = ColorToQColor(color);
  return RGBColor(static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                  static_cast<std::uint8_t>(c.blue()));
}

QRgb ColorToQRgb(TColor color) {
  const TColor rgb = ColorToRGB(color);
  return qRgb(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
              static_cast<int>((rgb >> 16) & 0xFF));
}

TColor QRgbToColor(QRgb rgb) {
  return RGBColor(static_cast<std::uint8_t>(qRed(rgb)), static_cast<std::uint8_t>(qGreen(rgb)),
                  static_cast<std::uint8_t>(qBlue(rgb)));
}

}  // namespace penamo
