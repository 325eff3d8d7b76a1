#include "ButtonGlyph.h"

#include <QPainter>
#include <algorithm>

#include "BitmapPainter.h"
#include "GlyphCache.h"

namespace penamo {

TButtonGlyph::TButtonGlyph() {
  TGlyphCache::Acquire();
  FGlyph.OnChange = [this](TGraphic&) { GlyphChanged(); };
}

TButtonGlyph::~TButtonGlyph() {
  FGlyph.OnChange = nullptr;
  Invalidate();
  TGlyphCache::ReleaseIfEmpty();
}

void TButtonGlyph::SetGlyph(const TBitmap* strip) {
  Invalidate();
  FGlyph.OnChange = nullptr;
  FGlyph.ShareFrom(strip);
  FGlyph.OnChange = [this](TGraphic&) { GlyphChanged(); };
  const int width = FGlyph.Width();
  const int height = FGlyph.Height();
  if (height > 0) {
    TakeTransparentColor();
    // A strip of zero width is no multiple worth counting: it would leave no cell at all.
    if (width > 0 && width % height == 0) {
      const int cells = width / height;
      FNumGlyphs = cells <= 4 ? cells : 1;
    }
  }
  if (OnChange) OnChange();
}

void TButtonGlyph::GlyphChanged() {
  Invalidate();
  TakeTransparentColor();
  if (OnChange) OnChange();
}

void TButtonGlyph::SetNumGlyphs(int numGlyphs) {
  if (numGlyphs <= 0) return;
  numGlyphs = std::min(numGlyphs, 4);
  if (numGlyphs == FNumGlyphs) return;
  Invalidate();
  FNumGlyphs = numGlyphs;
  TakeTransparentColor();
  if (OnChange) OnChange();
}

void TButtonGlyph::TakeTransparentColor() {
  if (FGlyph.Height() <= 0) return;
  if (FGlyph.Image().BitsPerPixel() == 1) {
    FTransparentColor = clWhite;
    return;
  }
  const QImage strip = BitmapToImage(FGlyph);
  if (!strip.isNull()) FTransparentColor = QRgbToColor(strip.pixel(0, strip.height() - 1));
}

void TButtonGlyph::Invalidate() {
  for (int& index : FIndexes) {
    if (index >= 0 && FList != nullptr) FList->Delete(index);
    index = -1;
  }
  if (FList != nullptr) {
    if (TGlyphCache* cache = TGlyphCache::Instance()) cache->ReturnList(*FList);
    FList = nullptr;
  }
}

int TButtonGlyph::FaceImage(TButtonFace face) {
  // The pressed face has a cell of its own only in strips of three or more.
  if (face == TButtonFace::bfPressed && FNumGlyphs < 3) face = TButtonFace::bfUp;
  const auto number = static_cast<int>(face);
  int& index = FIndexes[number];
  if (index >= 0) return index;
  const int cellWidth = FGlyph.Width() / FNumGlyphs;
  const int cellHeight = FGlyph.Height();
  // Nothing to draw from a strip without pixels, or one too narrow for its cells.
  if (FGlyph.Empty() || cellWidth <= 0 || cellHeight <= 0) return -1;
  if (FList == nullptr) FList = &TGlyphCache::Acquire().GetList(cellWidth, cellHeight);
  index = FList->Add(BuildCell(face, number < FNumGlyphs ? number : 0));
  return index;
}

const QImage* TButtonGlyph::FaceImageData(TButtonFace face) {
  const int index = FaceImage(face);
  return index < 0 ? nullptr : &FList->Image(index);
}

QImage TButtonGlyph::BuildCell(TButtonFace face, int cell) const {
  const QImage strip = BitmapToImage(FGlyph);
  const int width = FGlyph.Width() / FNumGlyphs;
  const int height = FGlyph.Height();
  QImage source = strip.copy(cell * width, 0, width, height);
  if (face != TButtonFace::bfDisabled) return source;

  const QRgb highlight = ColorToQRgb(clBtnHighlight);
  const QRgb shadow = ColorToQRgb(clBtnShadow);
  const QRgb buttonFace = ColorToQRgb(clBtnFace);
  QImage result = source;
  if (FNumGlyphs >= 2) {
    // Three recolourings, each masked from the unaltered cell; the later one wins.
    const QRgb white = ColorToQRgb(clWhite);
    const QRgb gray = ColorToQRgb(clGray);
    const QRgb transparent = ColorToQRgb(FTransparentColor);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const QRgb pixel = source.pixel(x, y) | 0xFF000000u;
        QRgb out = pixel;
        if (pixel == white) out = highlight;
        if (pixel == gray) out = shadow;
        if (pixel == transparent) out = buttonFace;
        result.setPixel(x, y, out);
      }
    }
    return result;
  }

  // Embossed from the black pixels (the 0 bits of a one-bit strip): highlight one pixel down
  // and right, shadow in place; nothing else of the glyph survives.
  const bool oneBit = FGlyph.Image().BitsPerPixel() == 1;
  const auto isInk = [&](int x, int y) {
    if (oneBit) {
      const std::uint8_t* row = FGlyph.ConstRowAddress(y);
      const auto ux = static_cast<unsigned>(x);
      return ((row[ux / 8] >> (7 - ux % 8)) & 1u) == 0;
    }
    return (source.pixel(x, y) | 0xFF000000u) == ColorToQRgb(clBlack);
  };
  result.fill(buttonFace);
  for (int y = 0; y + 1 < height; ++y) {
    for (int x = 0; x + 1 < width; ++x) {
      if (isInk(x, y)) result.setPixel(x + 1, y + 1, highlight);
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (isInk(x, y)) result.setPixel(x, y, shadow);
    }
  }
  return result;
}

QRect TButtonGlyph::Draw(QPainter& painter, const QRect& client, QPoint offset,
                         const QString& caption, TButtonLayout layout, int margin, int spacing,
                         TButtonFace face, bool transparent, const QColor& faceColor) {
  const QImage* image = FaceImageData(face);
  const QSize glyphSize = image != nullptr ? image->size() : QSize(0, 0);
  const QSize textSize =
      caption.isEmpty() ? QSize(0, 0) : painter.fontMetrics().size(Qt::TextSingleLine, caption);
  const TGlyphPlacement place =
      PlaceGlyph(client, offset, glyphSize, textSize, layout, margin, spacing);
  const QPoint glyphAt = place.Glyph;
  const QPoint textAt = place.Text;

  QRect glyphRect;
  if (image != nullptr) {
    glyphRect = QRect(glyphAt, glyphSize);
    // A latched face always shows the checkerboard through its transparent pixels.
    if (!transparent && face != TButtonFace::bfLatched) painter.fillRect(glyphRect, faceColor);
    painter.drawImage(glyphAt, *image);
  }
  if (!caption.isEmpty()) {
    painter.setPen(ColorToQColor(face == TButtonFace::bfDisabled ? clBtnShadow : clWindowText));
    painter.drawText(QRect(textAt, textSize), Qt::AlignLeft | Qt::AlignTop, caption);
  }
  return glyphRect;
}

}  // namespace penamo
