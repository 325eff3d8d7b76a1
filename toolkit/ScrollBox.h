// A container that shows its children over a plain background and scrolls them when they
// reach beyond its client area. The bars are plain QScrollBars driven by this code: ranges
// follow the visible children, and which bars show is settled in a fixed order so that a
// picture exactly as wide as the box still gets both bars once the vertical one narrows it.
#pragma once

#include <QFrame>
#include <cstdint>
#include <functional>

#include "SystemColors.h"

class QScrollBar;

namespace penamo {

class TScrollBox;

enum class TScrollBarKind { sbHorizontal, sbVertical };
enum class TBorderStyle { bsNone, bsSingle };

// One axis of a scroll box.
class TControlScrollBar {
 public:
  TControlScrollBar(const TControlScrollBar&) = delete;
  TControlScrollBar& operator=(const TControlScrollBar&) = delete;

  TScrollBarKind Kind() const { return FKind; }

  // Extent of the content along the axis; worked out from the children while the box's
  // AutoScroll is true, else whatever was set.
  std::int32_t Range() const { return FRange; }
  void SetRange(std::int32_t range);

  // How far the content is scrolled; always kept within 0..MaxPosition().
  std::int32_t Position() const { return FPosition; }
  void SetPosition(std::int32_t position);

  // Pixels per line step, 1..32767; values outside are ignored.
  std::int32_t Increment() const { return FIncrement; }
  void SetIncrement(std::int32_t increment);

  // Pixels added to the computed range.
  std::uint16_t Margin() const { return FMargin; }
  void SetMargin(std::uint16_t margin);

  // Whether dragging the thumb scrolls while dragging (false: only when it is released).
  bool Tracking() const { return FTracking; }
  void SetTracking(bool tracking);

  // Whether the bar may appear at all.
  bool Visible() const { return FVisible; }
  void SetVisible(bool visible);

  // max(0, Range - visible length), as of the last update; 0 while the bar may not appear.
  std::int32_t MaxPosition() const { return FMaxPosition; }
  // Whether the bar shows now.
  bool IsScrollBarVisible() const;
  // The bar on screen.
  QScrollBar& Bar() const { return *FBar; }

 private:
  friend class TScrollBox;
  TControlScrollBar(TScrollBox& owner, TScrollBarKind kind);

  // The platform bar's actions, turned into positions.
  void Action(int action);
  void ThumbReleased();
  void BarValueChanged(int value);
  // Hands the current range, page and position to the platform bar.
  void UpdateBar(std::int32_t clientLength);

  TScrollBox& FOwner;
  TScrollBarKind FKind;
  QScrollBar* FBar;
  std::int32_t FRange = 0;
  std::int32_t FPosition = 0;
  std::int32_t FIncrement = 8;
  std::uint16_t FMargin = 0;
  bool FTracking = false;
  bool FVisible = true;
  std::int32_t FMaxPosition = 0;
  std::int32_t FClientLength = 0;
};

class TScrollBox : public QFrame {
  Q_OBJECT

 public:
  // 185 x 41, sunken single border, AutoScroll on, the parent's colour.
  explicit TScrollBox(QWidget* parent = nullptr);
  ~TScrollBox() override;

  // The widget the scrolled children belong to: create them with this as their parent.
  // Their positions (pos()) are client positions and change as the box scrolls.
  QWidget* Client() const { return FClient; }

  TControlScrollBar& HorzScrollBar() { return FHorz; }
  TControlScrollBar& VertScrollBar() { return FVert; }
  const TControlScrollBar& HorzScrollBar() const { return FHorz; }
  const TControlScrollBar& VertScrollBar() const { return FVert; }

  bool AutoScroll() const { return FAutoScroll; }
  void SetAutoScroll(bool autoScroll);

  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle style);

  // Background wherever no child paints; clBackground in the main window.
  TColor Color() const { return FColor; }
  void SetColor(TColor color);

  // Works out the ranges from the children, decides which bars show, lays out bars and client
  // area and brings the positions into their spans. Runs by itself whenever a child is shown,
  // hidden, moved or resized and when the box is resized.
  void UpdateScrollBars();

  // The keyboard, once the box takes the focus (SetTabStop): OnKeyDown sees every key first
  // (Qt's key code and the modifiers held) and sets key to 0 for one it used. Of the rest, Page Up
  // and Page Down scroll a page up and down (with Shift: left and right), Home and End to the top
  // and the bottom (with Shift: the left and right ends); other keys go on to the parent. While
  // the box has the focus its frame is drawn in the highlight colour, once the focus was brought
  // to it (by Tab, a click or a key) rather than given to it as the window opened.
  void SetTabStop(bool tabStop);
  std::function<void(TScrollBox& sender, int& key, Qt::KeyboardModifiers modifiers)> OnKeyDown;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  // The wheel scrolls the content up and down, with Shift (or a sideways wheel) across. A
  // wheel turned with Ctrl is left to the box's parent, which may zoom what the box shows.
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  friend class TControlScrollBar;

  // Extent of the shown children along one axis, in content coordinates.
  std::int32_t ContentExtent(TScrollBarKind kind) const;
  // Moves the children (and what is painted of them) by -delta along one axis.
  void ScrollContent(TScrollBarKind kind, std::int32_t delta);

  QWidget* FClient;
  QWidget* FCorner;
  TControlScrollBar FHorz;
  TControlScrollBar FVert;
  bool FAutoScroll = true;
  TBorderStyle FBorderStyle = TBorderStyle::bsSingle;
  TColor FColor;
  bool FUpdating = false;   // inside UpdateScrollBars: child geometry changes are ours
  bool FScrolling = false;  // children are being moved by a scroll
  bool FDestroying = false;
  bool FFocusShown = false;  // the focus frame, while the box has the focus
};

}  // namespace penamo
