#include "SpeedButton.h"

#include "Application.h"

#include <QtWidgets/qdrawutil.h>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "BitmapPainter.h"

namespace penamo {

namespace {

// The platform's one-pixel 3-D edge on the outermost ring of `r`: the top-left colour on the
// top row and left column, the bottom-right colour on the bottom row and right column, which
// also take the top-right and bottom-left corners.
void DrawEdge(QPainter& painter, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
  if (r.width() <= 0 || r.height() <= 0) return;
  const int right = r.left() + r.width() - 1;
  const int bottom = r.top() + r.height() - 1;
  painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
  painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
  painter.fillRect(QRect(r.left(), bottom, r.width(), 1), bottomRight);
  painter.fillRect(QRect(right, r.top(), 1, r.height()), bottomRight);
}

// What a screen reader learns of a speed button: a push button (a check button when it is one
// of a group), down or not, with its accessible name and description, that can be pressed.
class TSpeedButtonAccessible final : public QAccessibleWidget {
 public:
  explicit TSpeedButtonAccessible(TSpeedButton* button)
      : QAccessibleWidget(
            button, button->GroupIndex() != 0 ? QAccessible::CheckBox : QAccessible::Button) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    const auto* button = static_cast<const TSpeedButton*>(widget());
    if (button->GroupIndex() != 0) {
      state.checkable = true;
      state.checked = button->Down();
    }
    state.pressed = button->Face() == TButtonFace::bfPressed;
    return state;
  }
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& actionName) override {
    if (actionName == pressAction()) static_cast<TSpeedButton*>(widget())->Press();
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* SpeedButtonAccessible(const QString&, QObject* object) {
  if (auto* button = qobject_cast<TSpeedButton*>(object)) return new TSpeedButtonAccessible(button);
  return nullptr;
}

}  // namespace

TSpeedButton::TSpeedButton(QWidget* parent) : QWidget(parent) {
  static std::once_flag accessibleOnce;
  std::call_once(accessibleOnce, [] { QAccessible::installFactory(SpeedButtonAccessible); });
  resize(23, 22);
  setFocusPolicy(Qt::NoFocus);
  // Pointer moves while no button is held are needed to notice the pointer coming back.
  setMouseTracking(true);
  FGlyph.OnChange = [this] { update(); };
}

TSpeedButton::~TSpeedButton() {
  FGlyph.OnChange = nullptr;
}

void TSpeedButton::SetFlat(bool flat) {
  if (flat == FFlat) return;
  FFlat = flat;
  update();
}

void TSpeedButton::SetGroupIndex(std::int32_t groupIndex) {
  if (groupIndex == FGroupIndex) return;
  FGroupIndex = groupIndex;
  NotifyGroup();
}

void TSpeedButton::SetDown(bool down) {
  if (FGroupIndex == 0) down = false;
  if (down == FDown) return;
  // The down member of a group without AllowAllUp comes up only when another goes down.
  if (FDown && !FAllowAllUp) return;
  FDown = down;
  if (down) {
    if (FFace == TButtonFace::bfUp) update();
    FFace = TButtonFace::bfLatched;
    NotifyGroup();
  } else {
    FFace = TButtonFace::bfUp;
    repaint();
  }
}

void TSpeedButton::SetAllowAllUp(bool allowAllUp) {
  if (allowAllUp == FAllowAllUp) return;
  FAllowAllUp = allowAllUp;
  NotifyGroup();
}

void TSpeedButton::SetGlyph(const TBitmap* strip) {
  FGlyph.SetGlyph(strip);
}

void TSpeedButton::SetNumGlyphs(int numGlyphs) {
  FGlyph.SetNumGlyphs(numGlyphs);
}

void TSpeedButton::SetLayout(TButtonLayout layout) {
  if (layout == FLayout) return;
  FLayout = layout;
  update();
}

void TSpeedButton::SetMargin(std::int32_t margin) {
  if (margin == FMargin || margin < -1) return;
  FMargin = margin;
  update();
}

void TSpeedButton::SetSpacing(std::int32_t spacing) {
  if (spacing == FSpacing) return;
  FSpacing = spacing;
  update();
}

void TSpeedButton::SetTransparent(bool transparent) {
  if (transparent == FTransparent) return;
  FTransparent = transparent;
  // An opaque button covers its whole rectangle, so Qt need not paint the parent under it.
  setAttribute(Qt::WA_OpaquePaintEvent, !FTransparent);
  update();
}

void TSpeedButton::SetColor(TColor color) {
  if (color == FColor) return;
  FColor = color;
  update();
}

bool TSpeedButton::Enabled() const {
  // Qt disables the children of a disabled window as well; only the button's own setting
  // counts here, so buttons keep their look while a modal window blocks theirs.
  return !testAttribute(Qt::WA_ForceDisabled);
}

void TSpeedButton::SetEnabled(bool enabled) {
  setEnabled(enabled);
}

void TSpeedButton::SetCaption(const QString& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  update();
}

void TSpeedButton::SetTabStop(bool tabStop) {
  setFocusPolicy(tabStop ? Qt::TabFocus : Qt::NoFocus);
}

void TSpeedButton::Press() {
  if (!Enabled() || !isEnabled()) return;
  // The same road as a release inside the button, without the pointer's hover.
  const QPointer<TSpeedButton> alive(this);
  if (FGroupIndex == 0) {
    FFace = TButtonFace::bfUp;
    update();
    Click();
  } else {
    SetDown(!FDown);
    if (FDown) repaint();
    Click();
  }
  if (alive) update();
}

void TSpeedButton::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool pressKey = key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
  if (!pressKey || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
    QWidget::keyPressEvent(event);
    return;
  }
  event->accept();
  FFocusShown = true;
  // Holding the key down presses once.
  if (!event->isAutoRepeat()) Press();
}

void TSpeedButton::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  // The focus shows once the keyboard is in use, not where a window merely starts with it.
  const Qt::FocusReason reason = event->reason();
  if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) FFocusShown = true;
  update();
}

void TSpeedButton::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

void TSpeedButton::Loaded() {
  FLastEnabled = Enabled();
  FGlyph.FaceImage(FLastEnabled ? TButtonFace::bfUp : TButtonFace::bfDisabled);
}

// Qt's widget code is built without exception support: an error must not unwind through it, so
// handlers run under the application's guard, which reports the error and carries on.
void TSpeedButton::Click() {
  if (OnClick) Guarded(this, [this] { OnClick(*this); });
}

bool TSpeedButton::Inside(QPoint point) const {
  return point.x() >= 0 && point.x() < width() && point.y() >= 0 && point.y() < height();
}

// ---- pointer ----

namespace {

QPoint PointOf(const QMouseEvent& event) {
  const QPointF p = event.position();
  return {static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y()))};
}

}  // namespace

void TSpeedButton::LeftPressed() {
  if (!FDown) {
    FFace = TButtonFace::bfPressed;
    update();
  }
  // Qt sends every pointer event to this button until the release, wherever the pointer goes.
  FPressing = true;
}

void TSpeedButton::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() == Qt::LeftButton) LeftPressed();
}

void TSpeedButton::mouseDoubleClickEvent(QMouseEvent* event) {
  // Qt delivers the second press of a double click as this event only: it is a press first.
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  LeftPressed();
  if (FDown && OnDblClick) Guarded(this, [this] { OnDblClick(*this); });
}

void TSpeedButton::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (FPressing) {
    const TButtonFace face = FDown                     ? TButtonFace::bfLatched
                             : Inside(PointOf(*event)) ? TButtonFace::bfPressed
                                                       : TButtonFace::bfUp;
    if (face != FFace) {
      FFace = face;
      update();
    }
  } else if (!FMouseInside) {
    RefreshHover();
  }
}

void TSpeedButton::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton || !FPressing) return;
  FPressing = false;
  const bool inside = Inside(PointOf(*event));
  // The click handler may close the window that holds this button.
  const QPointer<TSpeedButton> alive(this);
  if (FGroupIndex == 0) {
    // Back to idle before the handler runs, so a dialog it opens finds the button at rest.
    FFace = TButtonFace::bfUp;
    FMouseInside = false;
    if (inside) {
      update();
      Click();
    }
  } else if (inside) {
    SetDown(!FDown);
    if (FDown) repaint();
    Click();
  } else {
    if (FDown) FFace = TButtonFace::bfLatched;
    repaint();
  }
  if (alive) RefreshHover();
}

void TSpeedButton::MouseEntered() {
  const QWidget* grabber = QWidget::mouseGrabber();
  if (!FFlat || FMouseInside || !Enabled() || (grabber != nullptr && grabber != this)) return;
  FMouseInside = true;
  repaint();
}

void TSpeedButton::MouseLeft() {
  if (!FFlat || !FMouseInside || !Enabled() || FPressing) return;
  FMouseInside = false;
  update();
}

void TSpeedButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  MouseEntered();
}

void TSpeedButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  MouseLeft();
}

void TSpeedButton::RefreshHover() {
  if (!FFlat || !Enabled()) return;
  if (QApplication::widgetAt(QCursor::pos()) == this) {
    FMouseInside = false;
    MouseEntered();
  } else {
    FMouseInside = true;
    MouseLeft();
  }
}

void TSpeedButton::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::EnabledChange:
      if (Enabled() != FLastEnabled) EnabledChanged();
      break;
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
      // The system colours are baked into the face images.
      FGlyph.Invalidate();
      SyncFaceWithEnabled();
      FGlyph.FaceImage(FFace);
      update();
      break;
    default:
      break;
  }
}

void TSpeedButton::EnabledChanged() {
  FLastEnabled = Enabled();
  FGlyph.FaceImage(FLastEnabled ? TButtonFace::bfUp : TButtonFace::bfDisabled);
  RefreshHover();
  repaint();
}

// ---- groups ----

void TSpeedButton::NotifyGroup() {
  if (FGroupIndex == 0 || parentWidget() == nullptr) return;
  // Copy: a handler may not change the children, but the list must not shift under us.
  const QObjectList siblings = parentWidget()->children();
  for (QObject* sibling : siblings) {
    if (auto* button = qobject_cast<TSpeedButton*>(sibling)) {
      button->GroupNotification(FGroupIndex, *this);
    }
  }
}

void TSpeedButton::GroupNotification(std::int32_t groupIndex, TSpeedButton& sender) {
  if (&sender == this || groupIndex != FGroupIndex) return;
  if (sender.FDown && FDown) {
    FDown = false;
    FFace = TButtonFace::bfUp;
    update();
  }
  FAllowAllUp = sender.FAllowAllUp;
}

// ---- painting ----

void TSpeedButton::SyncFaceWithEnabled() {
  if (!Enabled()) {
    FFace = TButtonFace::bfDisabled;
    FPressing = false;
  } else if (FFace == TButtonFace::bfDisabled) {
    FFace = FDown && FGroupIndex != 0 ? TButtonFace::bfLatched : TButtonFace::bfUp;
  }
}

void TSpeedButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Paint(painter);
}

void TSpeedButton::Paint(QPainter& painter) {
  SyncFaceWithEnabled();
  QRect r = rect();
  const bool pushed = FFace == TButtonFace::bfPressed || FFace == TButtonFace::bfLatched;
  const QColor highlight = ColorToQColor(clBtnHighlight);
  const QColor shadow = ColorToQColor(clBtnShadow);
  const QColor buttonFace = ColorToQColor(clBtnFace);
  if (FFlat) {
    if (pushed || (FMouseInside && FFace != TButtonFace::bfDisabled)) {
      if (pushed) {
        DrawEdge(painter, r, shadow, highlight);
      } else {
        DrawEdge(painter, r, highlight, shadow);
      }
      if (!FTransparent) painter.fillRect(r.adjusted(1, 1, -1, -1), buttonFace);
    } else if (!FTransparent) {
      painter.fillRect(r, ColorToQColor(FColor));
    }
    r.adjust(1, 1, -1, -1);
  } else {
    QPalette colours = palette();
    colours.setColor(QPalette::Button, ColorToQColor(FColor));
    colours.setColor(QPalette::Light, highlight);
    colours.setColor(QPalette::Dark, shadow);
    const QBrush fill(ColorToQColor(FColor));
    qDrawWinButton(&painter, r, colours, pushed, &fill);
    r.adjust(2, 2, -2, -2);
  }

  QPoint offset(0, 0);
  if (pushed) {
    offset = QPoint(1, 1);
    if (FFace == TButtonFace::bfLatched && (!FFlat || !FMouseInside)) {
      painter.fillRect(r, QBrush(TPatternManager::Pattern(clBtnHighlight, clBtnFace)));
    }
  }
  FGlyph.Draw(painter, r, offset, FCaption, FLayout, FMargin, FSpacing, FFace, FTransparent,
              buttonFace);
  if (hasFocus() && FFocusShown) {
    // The focus shows as the platform's dotted rectangle one pixel inside the edge, clear of
    // the glyph's 16 x 16 cell on a 23 x 22 button.
    QPen dotted(ColorToQColor(clWindowText), 1, Qt::DotLine);
    painter.setPen(dotted);
    painter.setBrush(Qt::NoBrush);
    const QRect focus = r.adjusted(1, 1, -2, -2);
    if (focus.width() > 0 && focus.height() > 0) painter.drawRect(focus);
  }
}

}  // namespace penamo
