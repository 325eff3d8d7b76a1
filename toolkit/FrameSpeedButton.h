// The toolbar's flat button: while idle it outlines its whole rectangle in the shadow colour,
// so flat buttons stay visible as buttons; otherwise it is a speed button.
#pragma once

#include "SpeedButton.h"

namespace penamo {

class TFrameSpeedButton : public TSpeedButton {
  Q_OBJECT

 public:
  using TSpeedButton::TSpeedButton;

 protected:
  void Paint(QPainter& painter) override;
};

}  // namespace penamo
