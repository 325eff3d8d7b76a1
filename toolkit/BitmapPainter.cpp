#include "BitmapPainter.h"

#include <QPainter>
#include <algorithm>

namespace penamo {

namespace {

QRgb PaletteColor(const std::vector<TRGBQuad>& table, unsigned index) {
  if (index >= table.size()) return qRgb(0, 0, 0);
  const TRGBQuad& q = table[index];
  return qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

// Position and width of the lowest set bit run of a colour mask, to scale a field to 8 bits.
struct TMaskField {
  unsigned Shift = 0;
  unsigned Bits = 0;
};

TMaskField FieldOf(std::uint32_t mask) {
  TMaskField field;
  if (mask == 0) return field;
  while ((mask & 1u) == 0) {
    mask >>= 1;
    ++field.Shift;
  }
  while ((mask & 1u) != 0) {
    mask >>= 1;
    ++field.Bits;
  }
  return field;
}

int Expand(std::uint32_t pixel, const TMaskField& field) {
  if (field.Bits == 0) return 0;
  const std::uint32_t value = (pixel >> field.Shift) & ((1u << std::min(field.Bits, 31u)) - 1u);
  if (field.Bits >= 8) return static_cast<int>(value >> (field.Bits - 8));
  // Replicate the high bits into the low ones so that full intensity stays 255.
  std::uint32_t wide = value << (8 - field.Bits);
  for (unsigned filled = field.Bits; filled < 8; filled += field.Bits) {
    wide |= wide >> field.Bits;
  }
  return static_cast<int>(wide & 0xFF);
}

}  // namespace

void DrawBitmap(QPainter& painter, QPoint origin, const TBitmap& bitmap, const QRect& clip) {
  const TBitmapImage& image = bitmap.Image();
  if (!image.HasPixels() || bitmap.Width() <= 0 || bitmap.Height() <= 0) return;
  const QRect area = clip & QRect(origin, QSize(bitmap.Width(), bitmap.Height()));
  if (area.isEmpty()) return;
  const int firstRow = area.top() - origin.y();
  const int lastRow = area.bottom() - origin.y();

  if (image.BitsPerPixel() != 24) {
    // Not a format Qt can wrap; the system shows only 24-bit pictures, so this stays rare.
    const QImage converted = BitmapToImage(bitmap);
    painter.drawImage(area.topLeft(), converted, area.translated(-origin));
    return;
  }

  const auto stride = static_cast<qsizetype>(image.Stride());
  const int width = bitmap.Width();
  if (!image.BottomUp()) {
    // Top-down rows are one contiguous block in picture order: one header covers them all.
    const QImage block(bitmap.ConstRowAddress(firstRow), width, lastRow - firstRow + 1, stride,
                       QImage::Format_BGR888);
    painter.drawImage(QPoint(area.left(), area.top()), block,
                      QRect(area.left() - origin.x(), 0, area.width(), block.height()));
    return;
  }
  // Bottom-up rows stand in reverse order in memory; QImage needs ascending rows, so each
  // row gets its own header. Headers cost nothing next to the pixels they point at.
  for (int y = firstRow; y <= lastRow; ++y) {
    const QImage row(bitmap.ConstRowAddress(y), width, 1, stride, QImage::Format_BGR888);
    painter.drawImage(QPoint(area.left(), origin.y() + y), row,
                      QRect(area.left() - origin.x(), 0, area.width(), 1));
  }
}

QRgb CheckerColor(int x, int y) {
  const bool white = ((x / kCheckerSquare) + (y / kCheckerSquare)) % 2 == 0;
  return white ? qRgb(255, 255, 255) : qRgb(204, 204, 204);
}

namespace {

// One channel of `over` laid on `under` with opacity `a` (0..255), rounded to nearest.
int Blend(int over, int under, int a) {
  return (over * a + under * (255 - a) + 127) / 255;
}

}  // namespace

void DrawBitmapZoomed(QPainter& painter, QPoint origin, const TBitmap& bitmap, const QRect& clip,
                      int zoom, std::span<const std::uint8_t> alpha) {
  const TBitmapImage& image = bitmap.Image();
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (!image.HasPixels() || width <= 0 || height <= 0) return;
  zoom = std::max(zoom, 1);
  const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const bool blended = alpha.size() == pixels;
  if (zoom == 1 && !blended) {
    DrawBitmap(painter, origin, bitmap, clip);
    return;
  }
  const QRect area =
      clip & QRect(origin, QSize(width, height) * zoom);  // screen pixels the picture covers
  if (area.isEmpty()) return;

  // Pictures other than 24-bit ones (glyph strips) are read through a converted copy.
  QImage converted;
  if (image.BitsPerPixel() != 24) converted = BitmapToImage(bitmap);

  QImage out(area.size(), QImage::Format_RGB32);
  if (out.isNull()) return;
  for (int row = 0; row < area.height(); ++row) {
    const int sy = (area.top() + row - origin.y()) / zoom;
    const std::uint8_t* source = converted.isNull() ? bitmap.ConstRowAddress(sy) : nullptr;
    const auto* sourceRgb =
        converted.isNull() ? nullptr : reinterpret_cast<const QRgb*>(converted.constScanLine(sy));
    const std::uint8_t* opacity =
        blended ? alpha.data() + static_cast<std::size_t>(sy) * static_cast<std::size_t>(width)
                : nullptr;
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(row));
    const int cy = area.top() + row - origin.y();
    for (int column = 0; column < area.width(); ++column) {
      const int cx = area.left() + column - origin.x();
      const int sx = cx / zoom;
      int r, g, b;
      if (source != nullptr) {
        r = source[3 * sx + 2];
        g = source[3 * sx + 1];
        b = source[3 * sx];
      } else {
        r = qRed(sourceRgb[sx]);
        g = qGreen(sourceRgb[sx]);
        b = qBlue(sourceRgb[sx]);
      }
      if (opacity != nullptr && opacity[sx] != 255) {
        const QRgb under = CheckerColor(cx, cy);
        const int a = opacity[sx];
        r = Blend(r, qRed(under), a);
        g = Blend(g, qGreen(under), a);
        b = Blend(b, qBlue(under), a);
      }
      line[column] = qRgb(r, g, b);
    }
  }
  painter.drawImage(area.topLeft(), out);
}

QImage BitmapToImage(const TBitmap& bitmap) {
  const TBitmapImage& image = bitmap.Image();
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (!image.HasPixels() || width <= 0 || height <= 0) return {};
  QImage result(width, height, QImage::Format_RGB32);
  if (result.isNull()) return {};

  const int bits = image.BitsPerPixel();
  const std::vector<TRGBQuad>& table = bitmap.ColorTable();
  const TBitmapDescription& description = bitmap.Description();
  const bool bitFields = description.Header.biCompression == BI_BITFIELDS;
  std::uint32_t masks[3] = {description.Masks[0], description.Masks[1], description.Masks[2]};
  if (!bitFields) {
    if (bits == 16) {
      masks[0] = 0x7C00;
      masks[1] = 0x03E0;
      masks[2] = 0x001F;
    } else {
      masks[0] = 0x00FF0000;
      masks[1] = 0x0000FF00;
      masks[2] = 0x000000FF;
    }
  }
  const TMaskField red = FieldOf(masks[0]);
  const TMaskField green = FieldOf(masks[1]);
  const TMaskField blue = FieldOf(masks[2]);

  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = bitmap.ConstRowAddress(y);
    auto* out = reinterpret_cast<QRgb*>(result.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const auto ux = static_cast<unsigned>(x);
      switch (bits) {
        case 1:
          out[x] = PaletteColor(table, (row[ux / 8] >> (7 - ux % 8)) & 1u);
          break;
        case 4:
          out[x] = PaletteColor(table, (row[ux / 2] >> (ux % 2 == 0 ? 4 : 0)) & 0x0Fu);
          break;
        case 8:
          out[x] = PaletteColor(table, row[ux]);
          break;
        case 16:
        case 32: {
          std::uint32_t pixel = 0;
          if (bits == 16) {
            pixel = std::uint32_t{row[2 * ux]} | (std::uint32_t{row[2 * ux + 1]} << 8);
          } else {
            pixel = std::uint32_t{row[4 * ux]} | (std::uint32_t{row[4 * ux + 1]} << 8) |
                    (std::uint32_t{row[4 * ux + 2]} << 16) | (std::uint32_t{row[4 * ux + 3]} << 24);
          }
          out[x] = qRgb(Expand(pixel, red), Expand(pixel, green), Expand(pixel, blue));
          break;
        }
        case 24:
          out[x] = qRgb(row[3 * ux + 2], row[3 * ux + 1], row[3 * ux]);
          break;
        default:
          out[x] = qRgb(0, 0, 0);
          break;
      }
    }
  }
  return result;
}

}  // namespace penamo
