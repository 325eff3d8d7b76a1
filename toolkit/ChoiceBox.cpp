#include "ChoiceBox.h"

#include <QSignalBlocker>
#include <QWheelEvent>

#include "Application.h"

namespace penamo {

TChoiceBox::TChoiceBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  setFocusPolicy(Qt::StrongFocus);
  connect(this, &QComboBox::activated, this, [this](int) {
    if (OnChange) Guarded(this, [this] { OnChange(*this); });
  });
}

void TChoiceBox::SetItems(const QStringList& items) {
  const QSignalBlocker blocker(this);
  clear();
  addItems(items);
}

void TChoiceBox::SetItemIndex(int index) {
  const QSignalBlocker blocker(this);
  setCurrentIndex(index);
}

void TChoiceBox::wheelEvent(QWheelEvent* event) {
  if (!hasFocus()) {
    event->ignore();
    return;
  }
  QComboBox::wheelEvent(event);
}

}  // namespace penamo
