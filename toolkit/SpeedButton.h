// A small push button drawn on its parent's surface, worked with the mouse only. It shows a
// glyph from a strip of up to four cells (up, disabled, pressed, down), can latch down as one
// of a group, and in its flat form draws a 3-D edge only while hovered, pressed or down.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Bitmap.h"
#include "Exceptions.h"
#include "HintControl.h"
#include "SystemColors.h"

class QPainter;

namespace penamo {

// Raised when a face image cannot be made (graphics resources exhausted).
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EInvalidOperation"; }
};

// The numbers matter: face i is drawn from glyph cell i when the strip has that cell.
enum class TButtonFace { bfUp = 0, bfDisabled = 1, bfPressed = 2, bfLatched = 3 };
enum class TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// Images of one cell size, each with its mask; slots are reused once freed.
class TGlyphList {
 public:
  TGlyphList(int width, int height) : FWidth(width), FHeight(height) {}
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

  // Stores the image with the pixels of its own bottom-left colour masked out; returns the
  // slot. Raises EInvalidOperation when the image cannot be made.
  int Add(const QImage& cell);
  void Delete(int index);
  // Slots in use.
  int Count() const;
  // The image in a slot, its masked pixels transparent (alpha 0).
  const QImage& Image(int index) const;

 private:
  int FWidth;
  int FHeight;
  std::vector<QImage> FImages;
  std::vector<bool> FInUse;
};

// The process-wide lists of face images, one per cell size, shared by all buttons.
class TGlyphCache {
 public:
  // The cache, or null while none exists.
  static TGlyphCache* Instance();
  // Creates the cache when there is none.
  static TGlyphCache& Acquire();
  // Destroys the cache when it holds no list.
  static void ReleaseIfEmpty();

  // The most recently added list of exactly this size, created when none matches.
  TGlyphList& GetList(int width, int height);
  // Removes and destroys the list once no slot of it is in use.
  void ReturnList(TGlyphList& list);
  int ListCount() const { return static_cast<int>(FLists.size()); }

 private:
  std::vector<std::unique_ptr<TGlyphList>> FLists;
};

// Checkerboard tiles (8 x 8, first colour where x and y are both even or both odd), made once
// per pair of colours (as red, green and blue) and kept for the life of the process. Safe
// from any thread: tiles are QImages, which need no window system.
class TPatternManager {
 public:
  static QImage Pattern(TColor color1, TColor color2);
  // Tiles made so far.
  static int Count();
};

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
  // For a strip drawn in place through GlyphForEditing: takes its transparent colour and
  // discards the images, leaving NumGlyphs as it is.
  void GlyphChanged();
  TBitmap& GlyphForEditing() { return FGlyph; }

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

class TSpeedButton : public QWidget, public THintControl {
  Q_OBJECT

 public:
  // 23 x 22, never takes the keyboard focus.
  explicit TSpeedButton(QWidget* parent = nullptr);
  ~TSpeedButton() override;

  bool Flat() const { return FFlat; }
  void SetFlat(bool flat);

  // 0: an independent button. Same non-zero value and same parent: a group of which at most
  // one is down.
  std::int32_t GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(std::int32_t groupIndex);

  // Only a grouped button goes down; the down member of a group without AllowAllUp comes up
  // only when another member goes down.
  bool Down() const { return FDown; }
  void SetDown(bool down);

  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool allowAllUp);

  const TBitmap& Glyph() const { return FGlyph.Glyph(); }
  // The button keeps its own copy (shared storage, copied on change).
  void SetGlyph(const TBitmap* strip);
  int NumGlyphs() const { return FGlyph.NumGlyphs(); }
  void SetNumGlyphs(int numGlyphs);

  TButtonLayout Layout() const { return FLayout; }
  void SetLayout(TButtonLayout layout);
  // -1 centres the glyph; values below -1 are ignored.
  std::int32_t Margin() const { return FMargin; }
  void SetMargin(std::int32_t margin);
  std::int32_t Spacing() const { return FSpacing; }
  void SetSpacing(std::int32_t spacing);

  // true: the parent's surface shows wherever the button paints nothing.
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool transparent);
  // Fills the face only while Transparent is false.
  TColor Color() const { return FColor; }
  void SetColor(TColor color);

  // The button's own setting (a disabled window does not make its buttons look disabled).
  bool Enabled() const;
  void SetEnabled(bool enabled);

  const QString& Caption() const { return FCaption; }
  void SetCaption(const QString& caption);

  std::function<void(TSpeedButton& sender)> OnClick;
  std::function<void(TSpeedButton& sender)> OnDblClick;

  // Builds the image of the starting face; called once the owner has set the properties.
  void Loaded();
  // Works out from the pointer's position whether it is over the button and repaints.
  void RefreshHover();

  // State, for the window's tests and for painting in derived buttons.
  TButtonFace Face() const { return FFace; }
  bool MouseInside() const { return FMouseInside; }
  bool Pressing() const { return FPressing; }
  TButtonGlyph& ButtonGlyph() { return FGlyph; }

 protected:
  // Paints the button as a speed button does (from step 2 on); derived buttons draw first.
  virtual void Paint(QPainter& painter);
  // Fires OnClick.
  virtual void Click();

  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void MouseEntered();
  void MouseLeft();
  void LeftPressed();
  void NotifyGroup();
  void GroupNotification(std::int32_t groupIndex, TSpeedButton& sender);
  void SyncFaceWithEnabled();
  void EnabledChanged();
  bool Inside(QPoint point) const;

  TButtonGlyph FGlyph;
  TButtonFace FFace = TButtonFace::bfUp;
  bool FMouseInside = false;
  bool FPressing = false;
  bool FFlat = false;
  std::int32_t FGroupIndex = 0;
  bool FDown = false;
  bool FAllowAllUp = false;
  TButtonLayout FLayout = TButtonLayout::blGlyphLeft;
  std::int32_t FMargin = -1;
  std::int32_t FSpacing = 4;
  bool FTransparent = true;
  TColor FColor = clBtnFace;
  QString FCaption;
  bool FLastEnabled = true;
};

}  // namespace penamo
