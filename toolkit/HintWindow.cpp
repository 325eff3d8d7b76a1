#include "HintWindow.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QScreen>
#include <QToolTip>

#include "Application.h"
#include "HintControl.h"
#include "SystemColors.h"

namespace penamo {

namespace {

// Between the edge and the text on each side: the one-pixel edge and two pixels of space.
constexpr int TextInset = 3;

// The arrow pointer's visible height below its hot spot at 96 pixels per inch, used where the
// window system does not tell the pointer's image.
constexpr int DefaultCursorDrop = 20;

}  // namespace

THintWindow::THintWindow()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                           Qt::WindowDoesNotAcceptFocus) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  setFont(QToolTip::font());
}

QSize THintWindow::SizeFor(const QString& text, int maxWidth) const {
  const QRect extent = fontMetrics().boundingRect(QRect(0, 0, maxWidth, 0), Qt::TextWordWrap, text);
  return {extent.width() + 2 * TextInset, extent.height() + 2 * TextInset};
}

void THintWindow::ActivateHint(const QRect& rect, const QString& text) {
  FText = text;
  setGeometry(rect);
  show();
  raise();
  update();
}

void THintWindow::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect r = rect();
  painter.fillRect(r, ColorToQColor(clInfoBk));
  // A raised edge: light above and to the left, shadow below and to the right.
  const int right = r.width() - 1;
  const int bottom = r.height() - 1;
  painter.setPen(ColorToQColor(clBtnHighlight));
  painter.drawLine(0, 0, right - 1, 0);
  painter.drawLine(0, 0, 0, bottom - 1);
  painter.setPen(ColorToQColor(clBtnShadow));
  painter.drawLine(0, bottom, right, bottom);
  painter.drawLine(right, 0, right, bottom);
  painter.setPen(ColorToQColor(clInfoText));
  painter.drawText(r.adjusted(TextInset, TextInset, -TextInset, -TextInset),
                   Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, FText);
}

QRect HintRectFor(QPoint pointer, int cursorDrop, QSize size, const QRect& desktop) {
  int left = pointer.x();
  int top = pointer.y() + cursorDrop;
  const int desktopRight = desktop.left() + desktop.width();
  const int desktopBottom = desktop.top() + desktop.height();
  if (left + size.width() > desktopRight) left = desktopRight - size.width();
  if (top + size.height() > desktopBottom) top = desktopBottom - size.height();
  if (left < desktop.left()) left = desktop.left();
  return {QPoint(left, top), size};
}

QString ShortHint(const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  return bar < 0 ? hint : hint.left(bar);
}

QString HintWithShortcut(const QString& hint, const QString& shortcut) {
  if (hint.isEmpty() || shortcut.isEmpty()) return hint;
  return hint + QStringLiteral(" (") + shortcut + QLatin1Char(')');
}

THintService::THintService() {
  FTimer.setSingleShot(true);
  connect(&FTimer, &QTimer::timeout, this, [this] { Guarded(this, [this] { TimerFired(); }); });
}

THintService::~THintService() = default;

void THintService::SetEnabled(bool enabled) {
  if (enabled == Enabled()) return;
  if (enabled) {
    FWindow = std::make_unique<THintWindow>();
  } else {
    Cancel();
    FWindow.reset();
  }
}

QWidget* THintService::HintControlOf(QWidget* widget) {
  // A disabled control takes no pointer events; its parent answers for it.
  while (widget != nullptr && !widget->isEnabled() && !widget->isWindow()) {
    widget = widget->parentWidget();
  }
  for (; widget != nullptr; widget = widget->isWindow() ? nullptr : widget->parentWidget()) {
    if (const auto* control = dynamic_cast<const THintControl*>(widget);
        control != nullptr && control->ShowHint()) {
      return widget;
    }
  }
  return nullptr;
}

bool THintService::Showing() const {
  return FWindow != nullptr && FWindow->isVisible();
}

void THintService::PointerMoved(QWidget* widget, QPoint globalPos) {
  if (!Enabled() || widget == FWindow.get()) return;
  FLastPointer = globalPos;
  QWidget* control = HintControlOf(widget);
  if (control == nullptr) {
    Cancel();
    return;
  }
  if (control == FHintControl && FHintArea.contains(globalPos)) return;
  const int delay = FHintActive ? FHintNextDelay : FHintDelay;
  if (!FHintActive || delay != 0) {
    const bool active = FHintActive;
    Cancel();
    FHintActive = active;
    FHintControl = control;
    StartTimer(TTimerMode::Show, delay);
  } else {
    FHintControl = control;
    ShowHintAt(globalPos);
  }
}

void THintService::Cancel() {
  HideWindow();
  FHintControl = nullptr;
  FHintActive = false;
  FTimer.stop();
}

void THintService::TimerFired() {
  FTimer.stop();
  if (FTimerMode == TTimerMode::Show) {
    ShowHintAt(FLastPointer);
  } else {
    // The control and the active flag stay: the hint does not come back while the pointer
    // stays on the control, and the next control's hint shows without the wait.
    HideWindow();
  }
}

int THintService::CursorDrop() {
  const QCursor* cursor = QApplication::overrideCursor();
  if (cursor != nullptr && !cursor->pixmap().isNull()) {
    return cursor->pixmap().height() - cursor->hotSpot().y();
  }
  return DefaultCursorDrop;
}

void THintService::StartTimer(TTimerMode mode, int ms) {
  FTimerMode = mode;
  FTimer.start(ms);
}

void THintService::ShowHintAt(QPoint globalPos) {
  FHintActive = false;
  if (!Enabled() || FHintControl == nullptr) return;
  // Never over another program's window.
  if (QApplication::activeWindow() == nullptr) return;
  if (HintControlOf(QApplication::widgetAt(globalPos)) != FHintControl) return;

  QString text;
  QString shortcut;
  for (QWidget* w = FHintControl; w != nullptr && text.isEmpty();
       w = w->isWindow() ? nullptr : w->parentWidget()) {
    if (const auto* control = dynamic_cast<const THintControl*>(w)) {
      text = control->Hint();
      shortcut = control->HintShortcut();
    }
  }
  text = HintWithShortcut(ShortHint(text), shortcut);
  if (text.isEmpty()) {
    Cancel();
    return;
  }

  const QScreen* screen = QGuiApplication::screenAt(globalPos);
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const QRect desktop = screen != nullptr ? screen->virtualGeometry() : QRect(0, 0, 640, 480);
  const int wrapWidth = screen != nullptr ? screen->geometry().width() : desktop.width();
  const QRect rect =
      HintRectFor(globalPos, CursorDrop(), FWindow->SizeFor(text, wrapWidth), desktop);
  FHintArea = QRect(FHintControl->mapToGlobal(QPoint(0, 0)), FHintControl->size());
  FWindow->ActivateHint(rect, text);
  FHintActive = true;
  StartTimer(TTimerMode::Hide, FHintShowTime);
}

void THintService::HideWindow() {
  if (FWindow != nullptr) FWindow->hide();
}

}  // namespace penamo
