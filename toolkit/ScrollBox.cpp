#include "ScrollBox.h"

#include <QApplication>
#include <QChildEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>

#include "Image.h"

namespace penamo {

namespace {

// The scrolled area. It paints the box's colour itself instead of carrying it in its palette,
// so the children keep their own colours; being opaque lets Qt shift painted pixels on a
// scroll instead of repainting everything.
class TScrollBoxClient final : public QWidget {
 public:
  explicit TScrollBoxClient(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  TColor Color = clBtnFace;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.fillRect(event->rect(), ColorToQColor(Color));
  }
  void mousePressEvent(QMouseEvent* event) override { event->accept(); }
  void mouseReleaseEvent(QMouseEvent* event) override {
    // Right and middle releases reach the image through the application.
    if (event->button() == Qt::LeftButton) TImage::HandOnRelease(*event);
    event->accept();
  }
};

std::int32_t Clamp(std::int32_t value, std::int32_t maximum) {
  // Above the maximum first, then below 0: a negative maximum still ends at 0.
  if (value > maximum) value = maximum;
  if (value < 0) value = 0;
  return value;
}

}  // namespace

// ---- TControlScrollBar ----

TControlScrollBar::TControlScrollBar(TScrollBox& owner, TScrollBarKind kind)
    : FOwner(owner),
      FKind(kind),
      FBar(new QScrollBar(kind == TScrollBarKind::sbHorizontal ? Qt::Horizontal : Qt::Vertical,
                          &owner)) {
  FBar->hide();
  FBar->setTracking(FTracking);
  FBar->setSingleStep(FIncrement);
  FBar->setFocusPolicy(Qt::NoFocus);
  QObject::connect(FBar, &QAbstractSlider::actionTriggered, FBar,
                   [this](int action) { Action(action); });
  QObject::connect(FBar, &QAbstractSlider::sliderReleased, FBar, [this] { ThumbReleased(); });
  QObject::connect(FBar, &QAbstractSlider::valueChanged, FBar,
                   [this](int value) { BarValueChanged(value); });
}

void TControlScrollBar::SetRange(std::int32_t range) {
  if (range == FRange) return;
  FRange = std::max(range, 0);
  FOwner.UpdateScrollBars();
}

void TControlScrollBar::SetPosition(std::int32_t position) {
  const std::int32_t clamped = Clamp(position, FMaxPosition);
  const std::int32_t delta = clamped - FPosition;
  if (delta != 0) {
    FPosition = clamped;
    FOwner.ScrollContent(FKind, delta);
  }
  if (FBar->value() != FPosition) {
    const QSignalBlocker blocker(FBar);
    FBar->setValue(FPosition);
  }
}

void TControlScrollBar::SetIncrement(std::int32_t increment) {
  if (increment < 1 || increment > 32767 || increment == FIncrement) return;
  FIncrement = increment;
  FBar->setSingleStep(FIncrement);
}

void TControlScrollBar::SetMargin(std::uint16_t margin) {
  if (margin == FMargin) return;
  FMargin = margin;
  FOwner.UpdateScrollBars();
}

void TControlScrollBar::SetTracking(bool tracking) {
  if (tracking == FTracking) return;
  FTracking = tracking;
  FBar->setTracking(FTracking);
}

void TControlScrollBar::SetVisible(bool visible) {
  if (visible == FVisible) return;
  FVisible = visible;
  FOwner.UpdateScrollBars();
}

bool TControlScrollBar::IsScrollBarVisible() const {
  return !FBar->isHidden();
}

void TControlScrollBar::Action(int action) {
  std::int32_t target = FPosition;
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      target = FPosition - FIncrement;
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      target = FPosition + FIncrement;
      break;
    case QAbstractSlider::SliderPageStepSub:
      target = FPosition - FClientLength;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      target = FPosition + FClientLength;
      break;
    case QAbstractSlider::SliderToMinimum:
      target = 0;
      break;
    case QAbstractSlider::SliderToMaximum:
      target = FMaxPosition;
      break;
    default:
      // Thumb drags arrive as value changes (while tracking) or as the release.
      return;
  }
  // Qt hands the slider position on as the new value once this returns.
  FBar->setSliderPosition(Clamp(target, FMaxPosition));
}

void TControlScrollBar::ThumbReleased() {
  SetPosition(FBar->sliderPosition());
}

void TControlScrollBar::BarValueChanged(int value) {
  SetPosition(value);
}

void TControlScrollBar::UpdateBar(std::int32_t clientLength) {
  FClientLength = clientLength;
  const QSignalBlocker blocker(FBar);
  // The thumb shows the visible share: a page of the client length plus one over the range.
  FBar->setRange(0, FMaxPosition < 1 ? 0 : FMaxPosition);
  FBar->setPageStep(clientLength + 1);
  FBar->setValue(std::min(FPosition, FMaxPosition));
}

// ---- TScrollBox ----

TScrollBox::TScrollBox(QWidget* parent)
    : QFrame(parent),
      FClient(new TScrollBoxClient(this)),
      FCorner(new QWidget(this)),
      FHorz(*this, TScrollBarKind::sbHorizontal),
      FVert(*this, TScrollBarKind::sbVertical),
      FColor(clBtnFace) {
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  FCorner->setAutoFillBackground(true);
  FCorner->hide();
  FClient->installEventFilter(this);
  resize(185, 41);
  UpdateScrollBars();
}

TScrollBox::~TScrollBox() {
  // Children going away with the box must not start range updates on a half-destroyed box,
  // and the bars outlive the axis objects their signals call into.
  FDestroying = true;
  FHorz.Bar().disconnect();
  FVert.Bar().disconnect();
}

void TScrollBox::SetAutoScroll(bool autoScroll) {
  if (autoScroll == FAutoScroll) return;
  FAutoScroll = autoScroll;
  UpdateScrollBars();
}

void TScrollBox::SetBorderStyle(TBorderStyle style) {
  if (style == FBorderStyle) return;
  FBorderStyle = style;
  setFrameStyle(style == TBorderStyle::bsSingle ? (QFrame::WinPanel | QFrame::Sunken)
                                                : QFrame::NoFrame);
  UpdateScrollBars();
}

void TScrollBox::SetColor(TColor color) {
  if (color == FColor) return;
  FColor = color;
  static_cast<TScrollBoxClient*>(FClient)->Color = color;
  FClient->update();
}

std::int32_t TScrollBox::ContentExtent(TScrollBarKind kind) const {
  const bool horizontal = kind == TScrollBarKind::sbHorizontal;
  const std::int32_t position = horizontal ? FHorz.FPosition : FVert.FPosition;
  std::int32_t extent = 0;
  for (QObject* object : FClient->children()) {
    auto* child = qobject_cast<QWidget*>(object);
    // A child counts while it is meant to be visible, even before the box is first shown.
    if (child == nullptr || child->isWindow() || !child->isVisibleTo(FClient)) continue;
    const QRect bounds = child->geometry();
    const std::int32_t edge =
        horizontal ? bounds.x() + bounds.width() : bounds.y() + bounds.height();
    extent = std::max(extent, position + edge);
  }
  return extent;
}

void TScrollBox::UpdateScrollBars() {
  if (FUpdating || FDestroying) return;
  FUpdating = true;

  if (FAutoScroll) {
    FHorz.FRange = std::max(0, ContentExtent(TScrollBarKind::sbHorizontal) + FHorz.FMargin);
    FVert.FRange = std::max(0, ContentExtent(TScrollBarKind::sbVertical) + FVert.FMargin);
  }

  const QRect area = contentsRect();
  const int width = area.width();
  const int height = area.height();
  const int barWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &FVert.Bar());
  const int barHeight = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &FHorz.Bar());

  // Settled in a fixed order, vertical first, so the outcome never depends on which bars
  // were showing before.
  bool vertical = false;
  bool horizontal = false;
  if (FVert.FVisible && FVert.FRange > height) {
    vertical = true;
    horizontal = FHorz.FVisible && FHorz.FRange > width - barWidth;
  } else if (FHorz.FVisible && FHorz.FRange > width) {
    horizontal = true;
    vertical = FVert.FVisible && FVert.FRange > height - barHeight;
  }
  const int clientWidth = std::max(0, width - (vertical ? barWidth : 0));
  const int clientHeight = std::max(0, height - (horizontal ? barHeight : 0));

  FHorz.FMaxPosition = FHorz.FVisible ? std::max(0, FHorz.FRange - clientWidth) : 0;
  FVert.FMaxPosition = FVert.FVisible ? std::max(0, FVert.FRange - clientHeight) : 0;

  FClient->setGeometry(area.x(), area.y(), clientWidth, clientHeight);
  FVert.Bar().setGeometry(area.x() + clientWidth, area.y(), barWidth, clientHeight);
  FHorz.Bar().setGeometry(area.x(), area.y() + clientHeight, clientWidth, barHeight);
  FCorner->setGeometry(area.x() + clientWidth, area.y() + clientHeight, barWidth, barHeight);
  FVert.Bar().setVisible(vertical);
  FHorz.Bar().setVisible(horizontal);
  FCorner->setVisible(vertical && horizontal);

  FHorz.UpdateBar(clientWidth);
  FVert.UpdateBar(clientHeight);
  FHorz.SetPosition(FHorz.FPosition);
  FVert.SetPosition(FVert.FPosition);

  FUpdating = false;
}

void TScrollBox::ScrollContent(TScrollBarKind kind, std::int32_t delta) {
  const int dx = kind == TScrollBarKind::sbHorizontal ? -delta : 0;
  const int dy = kind == TScrollBarKind::sbVertical ? -delta : 0;
  FScrolling = true;
  if (FClient->isVisible()) {
    // Moves every child, hidden ones too, and shifts what is painted; only the band that
    // comes into view is painted afresh.
    FClient->scroll(dx, dy);
  } else {
    // QWidget::scroll does nothing on a widget that is not shown.
    for (QObject* object : FClient->children()) {
      auto* child = qobject_cast<QWidget*>(object);
      if (child != nullptr && !child->isWindow()) child->move(child->pos() + QPoint(dx, dy));
    }
  }
  FScrolling = false;
}

bool TScrollBox::eventFilter(QObject* watched, QEvent* event) {
  if (FDestroying) return false;
  if (watched == FClient) {
    if (event->type() == QEvent::ChildAdded) {
      auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
      if (child != nullptr) {
        child->installEventFilter(this);
        UpdateScrollBars();
      }
    } else if (event->type() == QEvent::ChildRemoved) {
      UpdateScrollBars();
    }
    return false;
  }
  switch (event->type()) {
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
    case QEvent::Move:
    case QEvent::Resize:
      // Children moved by a scroll keep their content positions: nothing to work out.
      if (!FScrolling && watched->parent() == FClient) UpdateScrollBars();
      break;
    default:
      break;
  }
  return false;
}

void TScrollBox::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  // Once, after the box has its new size, not once per child.
  UpdateScrollBars();
}

void TScrollBox::showEvent(QShowEvent* event) {
  QFrame::showEvent(event);
  UpdateScrollBars();
}

void TScrollBox::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::StyleChange) UpdateScrollBars();
}

void TScrollBox::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) TImage::HandOnRelease(*event);
  QFrame::mouseReleaseEvent(event);
}

}  // namespace penamo

namespace penamo {

void TScrollBox::wheelEvent(QWheelEvent* event) {
  if (event->modifiers().testFlag(Qt::ControlModifier)) {
    event->ignore();
    return;
  }
  QPoint delta = event->pixelDelta();
  if (delta.isNull()) {
    // A notch (120 units) moves as many double line steps as the desktop's wheel lines: a line
    // step alone is too little over a large picture.
    const QPoint angle = event->angleDelta();
    const int lines = std::max(1, QApplication::wheelScrollLines());
    delta = QPoint(angle.x() * lines * 2 * FHorz.Increment() / 120,
                   angle.y() * lines * 2 * FVert.Increment() / 120);
  }
  if (event->modifiers().testFlag(Qt::ShiftModifier) && delta.x() == 0) {
    delta = QPoint(delta.y(), 0);
  }
  // Turning the wheel away from the user shows what lies above (or to the left).
  if (delta.x() != 0) FHorz.SetPosition(FHorz.Position() - delta.x());
  if (delta.y() != 0) FVert.SetPosition(FVert.Position() - delta.y());
  event->accept();
}

}  // namespace penamo

namespace penamo {

void TScrollBox::SetTabStop(bool tabStop) {
  // A click on the box or on anything in it that takes no focus of its own gives it the focus.
  setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::NoFocus);
}

void TScrollBox::keyPressEvent(QKeyEvent* event) {
  int key = event->key();
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  if (!FFocusShown) {
    FFocusShown = true;
    update();
  }
  if (OnKeyDown) OnKeyDown(*this, key, modifiers);
  if (key == 0) {
    event->accept();
    return;
  }
  const bool across = modifiers.testFlag(Qt::ShiftModifier);
  TControlScrollBar& bar = across ? FHorz : FVert;
  switch (key) {
    case Qt::Key_PageUp:
      bar.SetPosition(bar.Position() - bar.FClientLength);
      break;
    case Qt::Key_PageDown:
      bar.SetPosition(bar.Position() + bar.FClientLength);
      break;
    case Qt::Key_Home:
      bar.SetPosition(0);
      break;
    case Qt::Key_End:
      bar.SetPosition(bar.MaxPosition());
      break;
    default:
      QFrame::keyPressEvent(event);  // ignored: the parent may use it
      return;
  }
  event->accept();
}

void TScrollBox::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  // The frame shows once the focus was brought here (Tab, a click, a key), not where a window
  // merely starts with it; a window activated again shows it as it was.
  const Qt::FocusReason reason = event->reason();
  if (reason != Qt::ActiveWindowFocusReason && reason != Qt::OtherFocusReason) FFocusShown = true;
  update();
}

void TScrollBox::focusOutEvent(QFocusEvent* event) {
  QFrame::focusOutEvent(event);
  if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
    FFocusShown = false;
  update();
}

void TScrollBox::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (!hasFocus() || !FFocusShown) return;
  // Over the frame, all round the client area, where no child paints.
  const int width = std::max(1, frameWidth());
  QPainter painter(this);
  painter.setPen(Qt::NoPen);
  painter.setBrush(palette().color(QPalette::Highlight));
  const QRect outer = rect();
  const QRect inner = outer.adjusted(width, width, -width, -width);
  painter.drawRect(QRect(outer.left(), outer.top(), outer.width(), width));
  painter.drawRect(QRect(outer.left(), inner.bottom() + 1, outer.width(), width));
  painter.drawRect(QRect(outer.left(), inner.top(), width, inner.height()));
  painter.drawRect(QRect(inner.right() + 1, inner.top(), width, inner.height()));
}

}  // namespace penamo
