// What a control that carries a tooltip offers the application's hint service.
#pragma once

#include <QString>

namespace penamo {

class THintControl {
 public:
  virtual ~THintControl() = default;

  const QString& Hint() const { return FHint; }
  void SetHint(const QString& hint) { FHint = hint; }
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool show) { FShowHint = show; }

 private:
  QString FHint;
  bool FShowHint = false;
};

}  // namespace penamo
