#include "GlyphPlacement.h"

namespace penamo {

TGlyphPlacement PlaceGlyph(const QRect& client, QPoint offset, QSize glyphSize, QSize textSize,
                           TButtonLayout layout, int margin, int spacing) {
  if (textSize.isEmpty() || glyphSize.isEmpty()) spacing = 0;
  const bool across = layout == TButtonLayout::blGlyphLeft || layout == TButtonLayout::blGlyphRight;
  const int length = client.width();
  const int depth = client.height();
  QPoint glyphAt;
  QPoint textAt;
  if (across) {
    const int total = glyphSize.width() + spacing + textSize.width();
    const int start = margin == -1 ? (length - total + 1) / 2 : margin;
    const int glyphY = (depth - glyphSize.height() + 1) / 2;
    const int textY = (depth - textSize.height() + 1) / 2;
    if (layout == TButtonLayout::blGlyphLeft) {
      glyphAt = QPoint(start, glyphY);
      textAt = QPoint(start + glyphSize.width() + spacing, textY);
    } else {
      glyphAt = QPoint(length - start - glyphSize.width(), glyphY);
      textAt = QPoint(glyphAt.x() - spacing - textSize.width(), textY);
    }
  } else {
    const int total = glyphSize.height() + spacing + textSize.height();
    const int start = margin == -1 ? (depth - total + 1) / 2 : margin;
    const int glyphX = (length - glyphSize.width() + 1) / 2;
    const int textX = (length - textSize.width() + 1) / 2;
    if (layout == TButtonLayout::blGlyphTop) {
      glyphAt = QPoint(glyphX, start);
      textAt = QPoint(textX, start + glyphSize.height() + spacing);
    } else {
      glyphAt = QPoint(glyphX, depth - start - glyphSize.height());
      textAt = QPoint(textX, glyphAt.y() - spacing - textSize.height());
    }
  }
  return {glyphAt + client.topLeft() + offset, textAt + client.topLeft() + offset};
}

}  // namespace penamo
