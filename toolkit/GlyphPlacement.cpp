#include "GlyphPlacement.h"

namespace penamo {

TGlyphPlacement PlaceGlyph(const QRect& client, QPoint offset, QSize glyphSize, QSize textSize,
                           TButtonLayout layout, int margin, int spacing) {
  if (textSize.isEmpty() || glyphSize.isEmpty()) spacing = 0;
  // The block runs along the layout's direction: across for left and right, down for top and
  // bottom; it is centred the other way.
  const bool across = layout == TButtonLayout::blGlyphLeft || layout == TButtonLayout::blGlyphRight;
  const bool fromFarEdge =
      layout == TButtonLayout::blGlyphRight || layout == TButtonLayout::blGlyphBottom;
  const auto along = [across](QSize size) { return across ? size.width() : size.height(); };
  const auto aside = [across](QSize size) { return across ? size.height() : size.width(); };
  const auto point = [across](int a, int b) { return across ? QPoint(a, b) : QPoint(b, a); };

  const int length = along(client.size());
  const int total = along(glyphSize) + spacing + along(textSize);
  const int start = margin == -1 ? (length - total + 1) / 2 : margin;
  int glyphAlong = start;
  int textAlong = start + along(glyphSize) + spacing;
  if (fromFarEdge) {
    glyphAlong = length - start - along(glyphSize);
    textAlong = glyphAlong - spacing - along(textSize);
  }
  const int glyphAside = (aside(client.size()) - aside(glyphSize) + 1) / 2;
  const int textAside = (aside(client.size()) - aside(textSize) + 1) / 2;
  const QPoint origin = client.topLeft() + offset;
  return {point(glyphAlong, glyphAside) + origin, point(textAlong, textAside) + origin};
}

}  // namespace penamo
