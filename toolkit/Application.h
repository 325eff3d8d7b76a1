// The one application object: runs the event loop, guards every event so that no error ends the
// program, reports errors in message boxes, runs modal windows and owns the main window.
//
// How the program uses it (app/penamo.cpp and ui/Program.cpp):
//
//   penamo::TApplication app(argc, argv);  // takes Qt's own options out of the command line
//   return penamo::RunApplication(app, "<title>", [](penamo::TApplication& app) {
//     app.SetIcon(MainIcon());
//     app.CreateMainWindow(MainForm);  // TMainForm* MainForm, a global of the window's unit
//   });
//
// Window tests construct a TApplication in their main() instead of a QApplication.
#pragma once

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTranslator>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "Exceptions.h"

class QEventLoop;

namespace penamo {

class TCustomForm;
class THintService;

// The icon of a message box.
enum class TMessageIcon { Stop, Warning, Information, Question };

// What a message box shows; handed to TApplication::MessageBoxShower.
struct TMessageBoxRequest {
  QString Text;
  QString Caption;
  TMessageIcon Icon = TMessageIcon::Stop;
};

// Result codes of a modal window.
inline constexpr int mrNone = 0;
inline constexpr int mrCancel = 2;

// The caption of the box for errors outside the error classes and for failures at start-up.
inline constexpr const char* ApplicationErrorCaption = "アプリケーション エラー";
// "RunModal" on a window that is already showing.
inline constexpr const char* CannotShowModalMessage =
    "表示されているウィンドウをモーダルにすることはできません";

class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  const QString& Title() const { return FTitle; }
  void SetTitle(const QString& title);
  const QIcon& Icon() const { return FIcon; }
  // Also the default icon of every window.
  void SetIcon(const QIcon& icon);

  // The first window built by CreateMainWindow; null before.
  TCustomForm* MainForm() const { return FMainForm; }
  // True from the moment the quit request was taken from the queue; never cleared.
  bool Terminated() const { return FTerminated; }

  // Builds a window owned by the application. `reference` points at the window's storage
  // before the window's constructor runs, so handlers running during construction reach it
  // through the variable. Its OnCreate runs once the constructor (the layout) has finished;
  // an error there is reported and the window is used all the same. When the constructor
  // raises, `reference` is set back to null and the error passes on. The first window built
  // here becomes the main window.
  template <class Form, class... Args>
  void CreateMainWindow(Form*& reference, Args&&... args);

  // Shows the main window and handles events until the quit request has been taken from the
  // queue. Returns at once when there is no main window.
  void RunEventLoop();
  // Queues the quit request behind the events already waiting and returns. Nothing is asked
  // and no window is closed first.
  void RequestQuit();

  // Shows an escaping error: an Exception's message (with a full stop added, see
  // MessageWithFullStop) and, on a line of its own, its Detail when it has one, in a stop box
  // captioned with the title; nothing for EAbort; the
  // application error box for anything else. Never throws. `sender` is where it escaped.
  void ReportError(const std::exception_ptr& error, QObject* sender = nullptr) noexcept;
  void ReportError(const Exception& error, QObject* sender = nullptr) noexcept;

  // Shows the window modal for the whole program and handles events until its ModalResult is
  // set (or the program quits: mrCancel). Other windows take no input meanwhile; the window
  // that was active gets activation and focus back afterwards. Raises Exception
  // (CannotShowModalMessage) for a window that is visible, disabled or already modal.
  int RunModal(TCustomForm& form);
  // Closes a window the way its close box does: a modal window only gets mrCancel; the main
  // window ends the program (RequestQuit); any other window consults OnCloseQuery and OnClose.
  void RequestClose(TCustomForm& form);

  // Runs `work` on a thread of its own while this thread goes on painting the windows (and
  // running timers), so that a long read or save never leaves a stale or blank window; keys and
  // clicks meanwhile wait until the work is done. Returns when it is; an error it raised is
  // raised here. The work must touch no widget.
  void RunWhilePainting(const std::function<void()>& work);

  // A message box modal for the whole program, with one OK button. Activation and focus go
  // back to where they were afterwards.
  void ShowMessageBox(const TMessageBoxRequest& request);

  // Replaces the real message box, for tests: receives what the box would show.
  std::function<void(const TMessageBoxRequest&)> MessageBoxShower;

  // A message box modal for the whole program that asks: one button per text of `buttons`,
  // left to right; returns the index of the one pressed. Return presses defaultButton; Escape
  // and the close box give cancelButton. Activation and focus go back as for ShowMessageBox.
  int AskMessageBox(const TMessageBoxRequest& request, const QStringList& buttons,
                    int defaultButton, int cancelButton);

  // Replaces the real asking box, for tests: receives what the box would show and its buttons
  // and answers with a button's index (one outside the buttons counts as cancelButton).
  std::function<int(const TMessageBoxRequest&, const QStringList&)> QuestionBoxAnswerer;

  // The tooltip service; its timing can be read and changed there.
  THintService& Hints() { return *FHints; }
  // The hint switch: whether tooltips are shown at all. On from the start.
  bool ShowHint() const;
  void SetShowHint(bool show);

  // Hides popups and destroys every window the application owns, last built first, each
  // running its OnDestroy. Done by RunApplication after the loop; idempotent.
  void DestroyWindows();

  bool notify(QObject* receiver, QEvent* event) override;

 protected:
  bool event(QEvent* event) override;

 private:
  friend class TCustomForm;

  template <class Form, class... Args>
  static void Construct(Form*& reference, Args&&... args);
  void AdoptWindow(TCustomForm* form);
  void ShowError(const Exception& error);
  void ShowForeignError(const QString& className, const void* address);
  void ReportStartupError(const std::exception_ptr& error) noexcept;
  void FormDestroyed(TCustomForm* form);
  void QuitLoops();
  bool ModalCloseAllowed(TCustomForm& form);
  void Release(TCustomForm& form);

  friend int RunApplication(TApplication& app, const QString& title,
                            const std::function<void(TApplication&)>& createWindows);

  QString FTitle;
  QIcon FIcon;
  TCustomForm* FMainForm = nullptr;
  std::vector<TCustomForm*> FOwnedForms;
  std::vector<QEventLoop*> FLoops;
  std::unique_ptr<THintService> FHints;
  QTranslator FQtTranslator;
  bool FTerminated = false;
};

// The application object; null when none exists.
extern TApplication* Application;

// The text of the application error box: class name, program file name, address, then the
// two trailing fields (empty for an object raised in a handler).
QString ApplicationErrorText(const QString& className, const QString& programName,
                             const void* address, const QString& detail = {},
                             const QString& detailEnd = {});

// Runs `fn`; an error escaping it goes to ReportError with `sender`. For callbacks that run
// outside an event delivered to a window (timers, queued calls) and for the toolkit's own
// event callbacks. Without an application object the error is dropped, never rethrown.
template <class Fn>
void Guarded(QObject* sender, Fn&& fn) noexcept {
  try {
    std::forward<Fn>(fn)();
  } catch (...) {
    if (Application != nullptr) Application->ReportError(std::current_exception(), sender);
  }
}

// The entry and exit sequence: sets the title, runs `createWindows` (which builds the main
// window through CreateMainWindow), runs the event loop and destroys the windows. Returns the
// exit code: 0; or 1 when `createWindows` raises, after the application error box has shown the
// error, without running the loop.
int RunApplication(TApplication& app, const QString& title,
                   const std::function<void(TApplication&)>& createWindows);

}  // namespace penamo

#include "Form.h"

namespace penamo {

template <class Form, class... Args>
void TApplication::Construct(Form*& reference, Args&&... args) {
  // The storage exists before the constructor runs, so the variable can point at it first.
  void* storage = ::operator new(sizeof(Form));
  reference = static_cast<Form*>(storage);
  try {
    ::new (storage) Form(std::forward<Args>(args)...);
  } catch (...) {
    reference = nullptr;
    ::operator delete(storage);
    throw;
  }
}

template <class Form, class... Args>
void TApplication::CreateMainWindow(Form*& reference, Args&&... args) {
  static_assert(std::is_base_of_v<TCustomForm, Form>, "windows derive from TCustomForm");
  Construct(reference, std::forward<Args>(args)...);
  AdoptWindow(reference);
}

}  // namespace penamo
