// What the application object's tests share: reading message boxes without a person, and
// answering modal windows from inside their loops.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <ostream>
#include <vector>

#include "Application.h"
#include "HintControl.h"

// Readable failure messages for Qt values.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QPoint& point, std::ostream* os) {
  *os << '(' << point.x() << ", " << point.y() << ')';
}
inline void PrintTo(const QSize& size, std::ostream* os) {
  *os << size.width() << " x " << size.height();
}

namespace penamo::test {

// Records every message box instead of showing it, for the life of the object.
class BoxRecorder {
 public:
  BoxRecorder() {
    Application->MessageBoxShower = [this](const TMessageBoxRequest& request) {
      Boxes.push_back(request);
    };
  }
  ~BoxRecorder() { Application->MessageBoxShower = nullptr; }
  BoxRecorder(const BoxRecorder&) = delete;
  BoxRecorder& operator=(const BoxRecorder&) = delete;

  std::vector<TMessageBoxRequest> Boxes;
};

// Runs `action` once the event loop runs a modal window: waits until Qt reports one and it is
// the active window.
inline void WhenModal(std::function<void(QWidget& modal)> action) {
  auto* poll = new QTimer(qApp);
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, action = std::move(action)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || !modal->isActiveWindow()) return;
    poll->stop();
    poll->deleteLater();
    action(*modal);
  });
  poll->start();
}

// A control that asks for a tooltip.
class HintedBox : public QWidget, public THintControl {
 public:
  explicit HintedBox(QWidget* parent, const QString& hint, bool showHint = true) : QWidget(parent) {
    SetHint(hint);
    SetShowHint(showHint);
  }
};

}  // namespace penamo::test
