// Where a button's glyph and caption go: a pure function of the sizes, the layout and the
// button's state, so it can be checked without a painter.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace penamo {

enum class TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

struct TGlyphPlacement {
  QPoint Glyph;  // top-left of the glyph
  QPoint Text;   // top-left of the caption
};

// Glyph (of glyphSize; empty for none) and caption (of textSize; empty for none) as one block
// in client: centred when margin is -1, else that far from the edge the layout names; spacing
// between them only when both are there. offset (the pressed state's shift) moves both.
TGlyphPlacement PlaceGlyph(const QRect& client, QPoint offset, QSize glyphSize, QSize textSize,
                           TButtonLayout layout, int margin, int spacing);

}  // namespace penamo
