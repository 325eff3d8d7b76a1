// The one place where a raster image meets QPainter. Pictures are drawn straight from their
// rows: each paint wraps the rows it needs in a QImage header, so no pixel is copied however
// often a large picture is repainted or scrolled.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

#include "Bitmap.h"

class QPainter;

namespace penamo {

// Draws the picture at 1:1 with its top-left pixel at `origin`, limited to `clip` (painter
// coordinates). Only rows that meet `clip` are touched. An empty picture draws nothing.
void DrawBitmap(QPainter& painter, QPoint origin, const TBitmap& bitmap, const QRect& clip);

// A private copy of the picture in a format Qt can draw and read pixel by pixel
// (Format_RGB32). Meant for small pictures such as button glyph strips; every pixel format a
// raster image can hold is understood. An empty picture gives a null image.
QImage BitmapToImage(const TBitmap& bitmap);

}  // namespace penamo
