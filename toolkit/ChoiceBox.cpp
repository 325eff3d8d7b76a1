#include "ChoiceBox.h"

#include <QSignalBlocker>

#include "Application.h"

namespace penamo {

TChoiceBox::TChoiceBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  setFocusPolicy(Qt::StrongFocus);
  // The wheel over an unfocused list would change the choice on its way across the toolbar.
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

}  // namespace penamo
