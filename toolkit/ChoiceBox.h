// A drop-down list of fixed texts, one of which is chosen, with a tooltip like the buttons'.
// It takes the keyboard focus by Tab or a click; the arrow keys change the choice.
#pragma once

#include <QComboBox>
#include <QStringList>
#include <functional>

#include "HintControl.h"

namespace penamo {

class TChoiceBox : public QComboBox, public THintControl {
  Q_OBJECT

 public:
  explicit TChoiceBox(QWidget* parent = nullptr);

  void SetItems(const QStringList& items);
  // The chosen item, -1 for none. Setting it fires no OnChange.
  int ItemIndex() const { return currentIndex(); }
  void SetItemIndex(int index);

  // After the user chose another item.
  std::function<void(TChoiceBox& sender)> OnChange;

 protected:
  // The wheel changes the value only once the field has the focus, so that a wheel turned on
  // the way across the toolbar changes nothing.
  void wheelEvent(QWheelEvent* event) override;
};

}  // namespace penamo
