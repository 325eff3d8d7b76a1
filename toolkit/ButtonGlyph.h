// The glyph of a button: its strip of up to four cells and the face images built from it.
#pragma once

#include <QImage>
#include <QString>
#include <functional>

#include "Bitmap.h"
#include "GlyphList.h"
#include "GlyphPlacement.h"
#include "SystemColors.h"

class QPainter;

namespace penamo {

// The numbers matter: face i is drawn from glyph cell i when the strip has that cell.
enum class TButtonFace { bfUp = 0, bfDisabled = 1, bfPressed = 2, bfLatched = 3 };

// The glyph store of one button: its own copy of the strip and the face images built from it.
class TButtonGlyph {
 public:
  TButtonGlyph();
  ~TButtonGlyph();
  TButtonGlyph(const TButtonGlyph&) = delete;
  TButtonGlyph& operator=(const TButtonGlyph&) = delete;

  const TBitmap& Glyph() const { return FGlyph; }
  // Discards the images and shares the new strip (null empties it). A strip whose width is an
  // exact multiple k of its height sets NumGlyphs to k (1 when k exceeds 4).
  void SetGlyph(const TBitmap* strip);
  // For a strip changed in place: takes its transparent colour and discards the images,
  // leaving NumGlyphs as it is.
  void GlyphChanged();

  int NumGlyphs() const { return FNumGlyphs; }
  // Above 4 counts as 4; 0 and below are ignored.
  void SetNumGlyphs(int numGlyphs);

  // The strip's bottom-left colour (white for a one-bit strip) as 0x00BBGGRR.
  TColor TransparentColor() const { return FTransparentColor; }

  // Frees the face images and gives the list back.
  void Invalidate();
  // The list slot of a face's image, built on first use; -1 when the strip is empty.
  int FaceImage(TButtonFace face);
  // The image itself, built on first use; null when the strip is empty.
  const QImage* FaceImageData(TButtonFace face);

  // Lays out glyph (and caption) in `client` and draws them; `offset` is added to the glyph's
  // place. Masked pixels stay unpainted when `transparent`, else they are painted `faceColor`.
  // Returns the glyph's rectangle (empty when there is no image).
  QRect Draw(QPainter& painter, const QRect& client, QPoint offset, const QString& caption,
             TButtonLayout layout, int margin, int spacing, TButtonFace face, bool transparent,
             const QColor& faceColor);

  // Called when the strip or NumGlyphs changes.
  std::function<void()> OnChange;

 private:
  void TakeTransparentColor();
  QImage BuildCell(TButtonFace face, int cell) const;

  TBitmap FGlyph;
  int FNumGlyphs = 1;
  TColor FTransparentColor = clOlive;
  int FIndexes[4] = {-1, -1, -1, -1};
  TGlyphList* FList = nullptr;
};

}  // namespace penamo
