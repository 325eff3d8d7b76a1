// Tooltips: the popup that shows a hint and the service that decides when it shows.
//
// The service is fed by the application with every pointer movement and with the events that
// end a tooltip (keys, buttons, wheel, activation changes). A hint shows after the pointer has
// rested HintDelay on a control that asks for one (a THintControl with ShowHint on, or its
// nearest such parent), stays HintShowTime and does not come back while the pointer stays on
// that control; moving straight onto another such control while a hint counts as active shows
// the new one after HintNextDelay.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace penamo {

class THintControl;

// The tooltip popup: never takes focus or activation, lets clicks through.
class THintWindow : public QWidget {
  Q_OBJECT

 public:
  THintWindow();

  // The popup's size for a text: the text's extent, wrapped within `maxWidth`, plus 6 and 6.
  QSize SizeFor(const QString& text, int maxWidth) const;
  // Sets the text and shows the popup at `rect` on top of everything, without activating it.
  void ActivateHint(const QRect& rect, const QString& text);
  const QString& Text() const { return FText; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString FText;
};

// Where a tooltip of `size` goes for the pointer at `pointer`: `cursorDrop` below it, then
// kept inside `desktop` (right edge first, bottom edge, then left edge).
QRect HintRectFor(QPoint pointer, int cursorDrop, QSize size, const QRect& desktop);

// The tooltip text of a hint control's text: up to the first "|".
QString ShortHint(const QString& hint);
// The tooltip text with the control's keys after it: "ビットマップを読み込む (Ctrl+O)".
QString HintWithShortcut(const QString& hint, const QString& shortcut);

class THintService : public QObject {
  Q_OBJECT

 public:
  enum class TTimerMode { Show, Hide };

  THintService();
  ~THintService() override;

  int HintDelay() const { return FHintDelay; }
  void SetHintDelay(int ms) { FHintDelay = ms; }
  int HintNextDelay() const { return FHintNextDelay; }
  void SetHintNextDelay(int ms) { FHintNextDelay = ms; }
  int HintShowTime() const { return FHintShowTime; }
  void SetHintShowTime(int ms) { FHintShowTime = ms; }

  // The hint switch: the popup exists only while it is on.
  bool Enabled() const { return FWindow != nullptr; }
  void SetEnabled(bool enabled);

  // The widget that asks for a tooltip at `widget` (itself or its nearest parent that is a
  // THintControl with ShowHint on, disabled widgets passed over); null when none does.
  static QWidget* HintControlOf(QWidget* widget);

  // The pointer moved to `globalPos` over `widget`.
  void PointerMoved(QWidget* widget, QPoint globalPos);
  // Hides the popup, forgets the hint control, stops the timer.
  void Cancel();

  // State, for tests and for the application.
  QWidget* HintControl() const { return FHintControl; }
  bool TimerRunning() const { return FTimer.isActive(); }
  TTimerMode TimerMode() const { return FTimerMode; }
  int TimerInterval() const { return FTimer.interval(); }
  // The popup; null while the switch is off.
  THintWindow* Window() const { return FWindow.get(); }
  bool Showing() const;

  // What the timer does when it fires; tests call it instead of waiting.
  void TimerFired();

  // The distance from the pointer's hot spot to the bottom of its visible image.
  static int CursorDrop();

 private:
  void StartTimer(TTimerMode mode, int ms);
  void ShowHintAt(QPoint globalPos);
  void HideWindow();

  int FHintDelay = 500;
  int FHintNextDelay = 0;
  int FHintShowTime = 2500;
  QPointer<QWidget> FHintControl;
  bool FHintActive = false;
  QRect FHintArea;
  QPoint FLastPointer;
  QTimer FTimer;
  TTimerMode FTimerMode = TTimerMode::Show;
  std::unique_ptr<THintWindow> FWindow;
};

}  // namespace penamo
