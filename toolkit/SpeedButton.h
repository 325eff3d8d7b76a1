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
#include "ButtonGlyph.h"
#include "Exceptions.h"
#include "GlyphCache.h"
#include "HintControl.h"
#include "PatternManager.h"
#include "SystemColors.h"

class QPainter;

namespace penamo {

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

  // Whether Tab and Shift+Tab stop at the button (off by default: a speed button is worked
  // with the mouse). A button that took the focus from the keyboard shows a dotted rectangle
  // inside its edge (not one that a window merely starts with), and
  // Space, Return and Enter press it as a click does.
  bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
  void SetTabStop(bool tabStop);
  // A press from the keyboard or from assistive technology: what a click inside the button
  // does (a grouped button goes down), unless the button is disabled.
  void Press();

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
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

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
  bool FFocusShown = false;  // the focus came by the keyboard: it is drawn
};

}  // namespace penamo
