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
  // The keys that do the control's command ("Ctrl+O"); the tooltip shows them after the hint.
  const QString& HintShortcut() const { return FHintShortcut; }
  void SetHintShortcut(const QString& keys) { FHintShortcut = keys; }

 private:
  QString FHint;
  QString FHintShortcut;
  bool FShowHint = false;
};

}  // namespace penamo
