#include "SpinEdit.h"

#include <QSignalBlocker>
#include <QWheelEvent>

#include "Application.h"

namespace penamo {

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {
  setFocusPolicy(Qt::StrongFocus);
  // Every typed digit would otherwise count as a change (typing "80" passes through 8).
  setKeyboardTracking(false);
  connect(this, &QSpinBox::valueChanged, this, [this](int) {
    if (OnChange) Guarded(this, [this] { OnChange(*this); });
  });
}

void TSpinEdit::SetValue(int value) {
  const QSignalBlocker blocker(this);
  setValue(value);
}

void TSpinEdit::SetBounds(int minimum, int maximum) {
  const QSignalBlocker blocker(this);
  setRange(minimum, maximum);
}

void TSpinEdit::wheelEvent(QWheelEvent* event) {
  if (!hasFocus()) {
    event->ignore();
    return;
  }
  QSpinBox::wheelEvent(event);
}

}  // namespace penamo
