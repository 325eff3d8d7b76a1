// Colours: either a red, green, blue triple (0x00BBGGRR) or a system colour role resolved when
// drawn. Roles are resolved in one place, from the application's Qt palette.
#pragma once

#include <QColor>
#include <cstdint>

namespace penamo {

using TColor = std::uint32_t;

inline constexpr TColor clSystemColor = 0xFF000000;
inline constexpr TColor clBackground = clSystemColor | 1;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clBtnHighlight = clSystemColor | 20;
inline constexpr TColor clInfoText = clSystemColor | 23;
inline constexpr TColor clInfoBk = clSystemColor | 24;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clPurple = 0x800080;

constexpr TColor RGBColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return TColor{r} | (TColor{g} << 8) | (TColor{b} << 16);
}

// The desktop colour has no counterpart in a Qt palette; the program uses this fixed one.
inline constexpr TColor DesktopColor = RGBColor(0x3A, 0x6E, 0xA5);

// The colour a role or triple stands for now.
QColor ColorToQColor(TColor color);
// The triple a colour stands for now (roles resolved).
TColor ColorToRGB(TColor color);

// The colour as an opaque Qt pixel value (roles resolved), and a pixel value as a triple.
QRgb ColorToQRgb(TColor color);
TColor QRgbToColor(QRgb rgb);

}  // namespace penamo
