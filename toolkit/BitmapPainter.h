// The one place where a raster image meets QPainter. Pictures are drawn straight from their
// rows: each paint wraps the rows it needs in a QImage header, so no pixel is copied however
// often a large picture is repainted or scrolled.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <span>

#include "Bitmap.h"

class QPainter;

namespace penamo {

// Draws the picture at 1:1 with its top-left pixel at `origin`, limited to `clip` (painter
// coordinates). Only rows that meet `clip` are touched. An empty picture draws nothing.
void DrawBitmap(QPainter& painter, QPoint origin, const TBitmap& bitmap, const QRect& clip);

// The light checkerboard that shows through transparent pixels: squares of this many screen
// pixels, white and light grey, the top-left square white.
inline constexpr int kCheckerSquare = 8;
QRgb CheckerColor(int x, int y);

// Draws the picture with each of its pixels as a `zoom` x `zoom` block (zoom >= 1; nearest
// pixel, never smoothed), its top-left pixel at `origin`, limited to `clip`. When `alpha` holds
// one byte per pixel (rows from the top; 255 opaque), pixels below 255 are blended over the
// checkerboard, whose squares are counted from `origin`; otherwise every pixel is drawn as it is.
// Only the pixels inside `clip` are worked out.
void DrawBitmapZoomed(QPainter& painter, QPoint origin, const TBitmap& bitmap, const QRect& clip,
                      int zoom, std::span<const std::uint8_t> alpha);

// A private copy of the picture in a format Qt can draw and read pixel by pixel
// (Format_RGB32). Meant for small pictures such as button glyph strips; every pixel format a
// raster image can hold is understood. An empty picture gives a null image.
QImage BitmapToImage(const TBitmap& bitmap);

}  // namespace penamo
