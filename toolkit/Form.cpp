#include "Form.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <limits>

#include "Application.h"

namespace penamo {

namespace {

// Where a window of `outer` size goes centred on `area`; the divisions truncate toward zero.
QPoint CentredPosition(const QRect& area, QSize outer) {
  return {area.left() + (area.width() - outer.width()) / 2,
          area.top() + (area.height() - outer.height()) / 2};
}

}  // namespace

TCustomForm::TCustomForm(QWidget* parent) : QWidget(parent, Qt::Window) {}

TCustomForm::~TCustomForm() {
  if (Application != nullptr) Application->FormDestroyed(this);
}

void TCustomForm::AddShortcut(const QKeySequence& keys, std::function<void()> handler) {
  auto* shortcut = new QShortcut(keys, this);
  shortcut->setContext(Qt::WindowShortcut);
  connect(shortcut, &QShortcut::activated, this,
          [this, handler = std::move(handler)] { Guarded(this, handler); });
}

void TCustomForm::SetModalResult(int result) {
  FModalResult = result;
  if (FModal && result != mrNone && FModalLoop != nullptr) FModalLoop->exit();
}

void TCustomForm::SetBorderStyle(TFormBorderStyle style) {
  if (FBorderStyle == style) return;
  FBorderStyle = style;
  if (style == TFormBorderStyle::bsDialog) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
  } else {
    setWindowFlags(Qt::Window);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
}

void TCustomForm::SetPosition(TPosition position) {
  FPosition = position;
}

void TCustomForm::DoCreate() {
  if (FCreated) return;
  FCreated = true;
  if (OnCreate) Guarded(this, [this] { OnCreate(*this); });
}

void TCustomForm::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  hide();
  if (OnDestroy) Guarded(this, [this] { OnDestroy(*this); });
}

void TCustomForm::setVisible(bool visible) {
  const bool wasVisible = isVisible();
  if (visible && !wasVisible) {
    // A dialog frame keeps the size the layout gave it.
    if (FBorderStyle == TFormBorderStyle::bsDialog) setFixedSize(size());
    ApplyPosition();
  }
  QWidget::setVisible(visible);
  // A modal window hidden by other means ends its modal loop rather than leaving the program
  // waiting for a window nobody can see.
  if (!visible && wasVisible && FModal && FModalResult == mrNone) SetModalResult(mrCancel);
}

void TCustomForm::ApplyPosition() {
  if (FPosition == TPosition::poDesigned) return;
  // Where the window system frames a window as soon as it exists, the true outer size is
  // known from then on.
  if (!testAttribute(Qt::WA_WState_Created)) winId();
  const QSize outer = EstimatedOuterSize(*this);
  const auto centreOn = [&](const QRect& area) { move(CentredPosition(area, outer)); };
  switch (FPosition) {
    case TPosition::poDesigned:
      break;
    case TPosition::poScreenCenter:
      if (!FShownOnce) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) centreOn(screen->geometry());
        // A window manager frames a window only once it shows; until then the window's outer
        // size is its inner one, and a window centred by that sits off centre by half its
        // frame. It is centred again as soon as the frame is known.
        if (OuterGeometry().size() == size()) WatchForFrame();
      }
      break;
    case TPosition::poMainFormCenter: {
      const TCustomForm* main = Application != nullptr ? Application->MainForm() : nullptr;
      if (main != nullptr && main != this && main->isVisible()) {
        move(MainFormCenterPosition(main->frameGeometry(), outer, MonitorRects()));
      } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        centreOn(screen->geometry());
      }
      break;
    }
  }
  FShownOnce = true;
}

void TCustomForm::WatchForFrame() {
  if (FFrameWatch == nullptr) {
    FFrameWatch = new QTimer(this);
    FFrameWatch->setInterval(FrameWatchInterval);
    connect(FFrameWatch, &QTimer::timeout, this,
            [this] { Guarded(this, [this] { FrameWatched(); }); });
  }
  FFrameWatches = 0;
  FFrameWatch->start();
}

void TCustomForm::FrameWatched() {
  const QRect outerGeometry = OuterGeometry();
  const bool framed = outerGeometry.size() != size();
  const bool notNormal =
      windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
  if (framed && isVisible() && !notNormal) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      move(CentredPosition(screen->geometry(), outerGeometry.size()));
    }
  }
  if (framed || notNormal || ++FFrameWatches >= FrameWatchCount) FFrameWatch->stop();
}

bool TCustomForm::event(QEvent* event) {
  // The window's own handlers guard their callbacks; this catches what a handler of a class
  // built on it raises, before it crosses more of Qt.
  try {
    return QWidget::event(event);
  } catch (...) {
    if (Application != nullptr) Application->ReportError(std::current_exception(), this);
    return true;
  }
}

void TCustomForm::closeEvent(QCloseEvent* event) {
  // Every way of closing (close box, keyboard, taskbar) takes the application's road; the
  // window system's default would hide the window behind the program's back.
  if (Application == nullptr) {
    QWidget::closeEvent(event);
    return;
  }
  event->ignore();
  Application->RequestClose(*this);
}

void TCustomForm::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) FClickPressed = true;
  QWidget::mousePressEvent(event);
}

void TCustomForm::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && FClickPressed) {
    FClickPressed = false;
    if (rect().contains(event->position().toPoint()) && OnClick) {
      Guarded(this, [this] { OnClick(*this); });
    }
  }
  QWidget::mouseReleaseEvent(event);
}

void TCustomForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (OnResize) Guarded(this, [this] { OnResize(*this); });
}

QList<QRect> MonitorRects() {
  QList<QRect> rects;
  for (const QScreen* screen : QGuiApplication::screens())
    rects.append(screen->geometry());
  return rects;
}

QSize EstimatedOuterSize(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  if (frame != window.geometry()) return frame.size();
  const TCustomForm* main = Application != nullptr ? Application->MainForm() : nullptr;
  if (main == nullptr || main == &window || !main->isVisible()) return frame.size();
  const QRect mainFrame = main->frameGeometry();
  const QRect mainInner = main->geometry();
  return window.size() + (mainFrame.size() - mainInner.size());
}

void RestoreActivation(QWidget* window, QWidget* focus) {
  if (window != nullptr && window->isVisible()) window->activateWindow();
  if (focus != nullptr && focus->isVisible()) focus->setFocus();
}

int MonitorIndexOf(const QRect& rect, const QList<QRect>& monitors) {
  int best = -1;
  long long bestArea = 0;
  for (int i = 0; i < monitors.size(); ++i) {
    const QRect common = monitors[i].intersected(rect);
    const long long area = static_cast<long long>(common.width()) * common.height();
    if (area > bestArea) {
      bestArea = area;
      best = i;
    }
  }
  if (best >= 0) return best;
  // Nowhere on a monitor: the nearest one.
  long long bestDistance = std::numeric_limits<long long>::max();
  for (int i = 0; i < monitors.size(); ++i) {
    const QRect& m = monitors[i];
    const long long dx = std::max(
        {0, m.left() - (rect.left() + rect.width()), rect.left() - (m.left() + m.width())});
    const long long dy =
        std::max({0, m.top() - (rect.top() + rect.height()), rect.top() - (m.top() + m.height())});
    const long long distance = dx * dx + dy * dy;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

QPoint MainFormCenterPosition(const QRect& mainOuter, QSize dialogOuter,
                              const QList<QRect>& monitors) {
  int left = mainOuter.left() + (mainOuter.width() - dialogOuter.width()) / 2;
  int top = mainOuter.top() + (mainOuter.height() - dialogOuter.height()) / 2;
  left = std::max(left, 0);
  top = std::max(top, 0);
  const int mainMonitor = MonitorIndexOf(mainOuter, monitors);
  if (mainMonitor >= 0 &&
      MonitorIndexOf(QRect(QPoint(left, top), dialogOuter), monitors) != mainMonitor) {
    const QRect& m = monitors[mainMonitor];
    left = m.left() + (m.width() - dialogOuter.width()) / 2;
    top = m.top() + (m.height() - dialogOuter.height()) / 2;
  }
  return {left, top};
}

void TFormDeleter::operator()(TCustomForm* form) const {
  if (form == nullptr) return;
  form->DoDestroy();
  delete form;
}

}  // namespace penamo
