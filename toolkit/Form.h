// A top-level window of the program. Its constructor builds the layout (every component);
// OnCreate runs after that, OnDestroy before the components go.
//
// Lifetime: a window built by TApplication::CreateMainWindow belongs to the application. Any
// other window is built with MakeForm, which runs OnCreate once the constructor has finished,
// and is held in a TFormPtr, whose deleter hides the window, runs OnDestroy and only then
// deletes it:
//
//   TFormPtr<TVersionForm> form = MakeForm<TVersionForm>();
//   Application->RunModal(*form);
#pragma once

#include <QKeySequence>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>

class QEventLoop;
class QTimer;

namespace penamo {

class TApplication;

enum class TFormBorderStyle {
  bsSizeable,  // the ordinary resizable window with its own taskbar entry
  bsDialog     // fixed size, close button only, no taskbar entry of its own
};

enum class TPosition {
  poDesigned,       // where the layout (or the window system) puts it
  poScreenCenter,   // centred on the primary screen the first time it is shown
  poMainFormCenter  // centred over the main window each time it is shown
};

enum class TCloseAction { caNone, caHide, caFree, caMinimize };

class TCustomForm : public QWidget {
  Q_OBJECT

 public:
  explicit TCustomForm(QWidget* parent = nullptr);
  ~TCustomForm() override;

  // Events. Each receives the window first.
  std::function<void(TCustomForm& sender)> OnCreate;
  std::function<void(TCustomForm& sender)> OnDestroy;
  // A left-button click on the window's client area, or on a child that lets mouse presses
  // through to it (labels and other controls that do not take the mouse).
  std::function<void(TCustomForm& sender)> OnClick;
  std::function<void(TCustomForm& sender)> OnResize;
  // May refuse a close; consulted by TApplication::RequestClose and the modal close check.
  std::function<void(TCustomForm& sender, bool& canClose)> OnCloseQuery;
  // May change what a close does; starts as caHide.
  std::function<void(TCustomForm& sender, TCloseAction& action)> OnClose;

  // The result code while modal: mrNone (0) until something sets it.
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int result);
  bool IsModal() const { return FModal; }

  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle style);
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition position);

  // Runs `handler` whenever `keys` are pressed while the window is active (never while a modal
  // window blocks it); an error it raises is reported as any handler's is.
  void AddShortcut(const QKeySequence& keys, std::function<void()> handler);

  // Runs OnCreate, reporting an error it raises. Done once, by CreateMainWindow or MakeForm.
  void DoCreate();
  // Hides the window and runs OnDestroy, reporting an error it raises; idempotent. The owner
  // deletes the window afterwards.
  void DoDestroy();

  void setVisible(bool visible) override;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // The window's outer rectangle as the window system reports it now: its frame geometry.
  // Before a window manager has framed the window it is the inner rectangle.
  virtual QRect OuterGeometry() const { return frameGeometry(); }

 private:
  friend class TApplication;

  void ApplyPosition();
  // Centring on the screen again once a window manager has framed the window: looked for every
  // FrameWatchInterval ms, at most FrameWatchCount times after the first showing.
  void WatchForFrame();
  void FrameWatched();
  static constexpr int FrameWatchInterval = 10;
  static constexpr int FrameWatchCount = 300;

  int FModalResult = 0;
  bool FModal = false;
  bool FCreated = false;
  bool FDestroyed = false;
  bool FShownOnce = false;
  bool FClickPressed = false;
  TFormBorderStyle FBorderStyle = TFormBorderStyle::bsSizeable;
  TPosition FPosition = TPosition::poDesigned;
  QEventLoop* FModalLoop = nullptr;
  QTimer* FFrameWatch = nullptr;
  int FFrameWatches = 0;
};

// The name the windows of the program derive from.
using TForm = TCustomForm;

// Where a window centred over the main window goes: centred by outer sizes, negative Left and
// Top raised to 0, and recentred (without raising) on the main window's monitor when the
// dialog would lie mostly on another. `monitors` are the monitors' rectangles.
QPoint MainFormCenterPosition(const QRect& mainOuter, QSize dialogOuter,
                              const QList<QRect>& monitors);
// The rectangles of the monitors, the primary first.
QList<QRect> MonitorRects();
// A top-level window's outer size. Before the window system has framed it, its frame is taken
// to be that of the main window.
QSize EstimatedOuterSize(const QWidget& window);
// After a modal window or box: gives activation back to the window that had it and the focus to
// the control that had it, where they still show.
void RestoreActivation(QWidget* window, QWidget* focus);
// The monitor holding the greater part of `rect`, or the nearest one; -1 when there are none.
int MonitorIndexOf(const QRect& rect, const QList<QRect>& monitors);

struct TFormDeleter {
  void operator()(TCustomForm* form) const;
};
template <class Form>
using TFormPtr = std::unique_ptr<Form, TFormDeleter>;

// Builds a window that the caller owns: the constructor, then OnCreate (an error there is
// reported and the window is returned all the same). When the constructor raises, the error
// passes on.
template <class Form, class... Args>
TFormPtr<Form> MakeForm(Args&&... args) {
  TFormPtr<Form> form(new Form(std::forward<Args>(args)...));
  form->DoCreate();
  return form;
}

}  // namespace penamo
