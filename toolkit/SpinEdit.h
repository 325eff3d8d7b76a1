// A whole-number field with up and down arrows, kept within its bounds, with a tooltip like the
// buttons'. Typing changes the value once the text is a number within the bounds.
#pragma once

#include <QSpinBox>
#include <functional>

#include "HintControl.h"

namespace penamo {

class TSpinEdit : public QSpinBox, public THintControl {
  Q_OBJECT

 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  int Value() const { return value(); }
  // Kept within the bounds; fires no OnChange.
  void SetValue(int value);
  void SetBounds(int minimum, int maximum);

  // After the user changed the value (arrows, keys, wheel or typing).
  std::function<void(TSpinEdit& sender)> OnChange;

 protected:
  // The wheel changes the value only once the field has the focus, so that a wheel turned on
  // the way across the toolbar changes nothing.
  void wheelEvent(QWheelEvent* event) override;
};

}  // namespace penamo
