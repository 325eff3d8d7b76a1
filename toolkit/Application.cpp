#include "Application.h"

#include <QLibraryInfo>
#include <QLocale>

#include <cxxabi.h>

#include <QCursor>
#include <QDialog>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <typeinfo>
#include <vector>

#include "HintWindow.h"
#include "Image.h"

namespace penamo {

TApplication* Application = nullptr;

namespace {

const QEvent::Type QuitRequestEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Events that end a tooltip at once. Plain pointer movement inside a window does not.
bool EndsTooltip(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::ContextMenu:
    case QEvent::ApplicationActivate:
    case QEvent::ApplicationDeactivate:
    case QEvent::ApplicationStateChange:
      return true;
    default:
      return false;
  }
}

QString Demangled(const char* name) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> readable(
      abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
  return QString::fromUtf8(status == 0 && readable ? readable.get() : name);
}

// The class of the object being handled in the innermost catch block.
QString CurrentExceptionClassName() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  return type != nullptr ? Demangled(type->name()) : QStringLiteral("unknown");
}

// The control under `pos` in the window of `widget`. While a button is held the pressed control
// receives every movement, wherever the pointer is.
QWidget* ControlAt(QWidget& widget, QPoint pos) {
  QWidget* window = widget.window();
  const QPoint local = window->mapFromGlobal(pos);
  if (!window->rect().contains(local)) return nullptr;
  QWidget* child = window->childAt(local);
  return child != nullptr ? child : window;
}

// Qt's own file dialog keeps what the user did in it (the folders visited, the places of its
// side bar, its view and columns) in a settings file in the user's home, written whenever a
// dialog closes and read back by the next. The program keeps nothing beyond its run, so Qt's
// user settings are sent where no file can ever exist: nothing is written, and a settings file
// the home folder already holds is never read. Done before Qt itself starts.
int& KeepNoSettings(int& argc) {
  const QString nowhere = QStringLiteral("/dev/null/penamo-keeps-no-settings");
  for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
    QSettings::setPath(format, QSettings::UserScope, nowhere);
  return argc;
}

QString ProgramFileName() {
  const QString path = QCoreApplication::applicationFilePath();
  return QFileInfo(path).fileName();
}

QMessageBox::Icon ToQtIcon(TMessageIcon icon) {
  switch (icon) {
    case TMessageIcon::Warning:
      return QMessageBox::Warning;
    case TMessageIcon::Information:
      return QMessageBox::Information;
    case TMessageIcon::Question:
      return QMessageBox::Question;
    case TMessageIcon::Stop:
      break;
  }
  return QMessageBox::Critical;
}

// A message box that opens centred on a given monitor rather than where Qt would put a
// window without a parent.
class TMonitorMessageBox : public QMessageBox {
 public:
  TMonitorMessageBox(const TMessageBoxRequest& request, const QRect& monitor,
                     QMessageBox::StandardButtons buttons = QMessageBox::Ok)
      : QMessageBox(ToQtIcon(request.Icon), request.Caption, request.Text, buttons),
        FMonitor(monitor) {
    setTextFormat(Qt::PlainText);
  }

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);  // sizes the box
    if (FMonitor.isValid()) {
      const QSize outer = EstimatedOuterSize(*this);
      move(FMonitor.left() + (FMonitor.width() - outer.width()) / 2,
           FMonitor.top() + (FMonitor.height() - outer.height()) / 2);
    }
  }

 private:
  QRect FMonitor;
};

// Where a message box shows: over the monitor of the window active when it is asked for (else
// of mainForm), that window and its focus given back once the box is gone.
struct TBoxPlace {
  QPointer<QWidget> Active;
  QPointer<QWidget> Focus;
  QRect Monitor;  // invalid: wherever Qt puts it
};

TBoxPlace BoxPlace(QWidget* mainForm) {
  TBoxPlace place{QApplication::activeWindow(), QApplication::focusWidget(), QRect()};
  QWidget* reference = place.Active != nullptr ? place.Active.data() : mainForm;
  const QList<QRect> monitors = MonitorRects();
  const int monitor =
      reference != nullptr ? MonitorIndexOf(reference->frameGeometry(), monitors) : -1;
  if (monitor >= 0) place.Monitor = monitors[monitor];
  return place;
}

}  // namespace

QString ApplicationErrorText(const QString& className, const QString& programName,
                             const void* address, const QString& detail, const QString& detailEnd) {
  const QString pointer = QStringLiteral("%1")
                              .arg(reinterpret_cast<quintptr>(address),
                                   static_cast<int>(sizeof(void*) * 2), 16, QLatin1Char('0'))
                              .toUpper();
  return QStringLiteral("%1 がモジュール %2 の %3 で発生しました。\n%4%5\n")
      .arg(className, programName, pointer, detail, detailEnd);
}

TApplication::TApplication(int& argc, char** argv)
    : QApplication(KeepNoSettings(argc), argv), FHints(std::make_unique<THintService>()) {
  Application = this;
  // The program ends by its own quit request only, never because a window was hidden.
  setQuitOnLastWindowClosed(false);
  FHints->SetEnabled(true);
  // Every text of the program is Japanese; so are the buttons and labels Qt draws itself
  // (the file dialogs, the message box's OK), where the translation is installed.
  if (FQtTranslator.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(&FQtTranslator);
  }
  // The desktop's log-off announcement ends the program as the exit button does.
  connect(this, &QGuiApplication::commitDataRequest, this, [this] { RequestQuit(); });
}

TApplication::~TApplication() {
  DestroyWindows();
  FHints.reset();
  Application = nullptr;
}

void TApplication::SetTitle(const QString& title) {
  FTitle = title;
}

void TApplication::SetIcon(const QIcon& icon) {
  FIcon = icon;
  setWindowIcon(icon);
}

bool TApplication::ShowHint() const {
  return FHints != nullptr && FHints->Enabled();
}

void TApplication::SetShowHint(bool show) {
  if (FHints != nullptr) FHints->SetEnabled(show);
}

void TApplication::AdoptWindow(TCustomForm* form) {
  FOwnedForms.push_back(form);
  form->DoCreate();
  if (FMainForm == nullptr) {
    FMainForm = form;
    form->winId();
  }
}

void TApplication::FormDestroyed(TCustomForm* form) {
  std::erase(FOwnedForms, form);
  if (FMainForm == form) FMainForm = nullptr;
}

void TApplication::DestroyWindows() {
  const QWidgetList windows = topLevelWidgets();
  for (QWidget* window : windows) {
    if (window->isVisible() &&
        (window->windowType() == Qt::Popup || window->windowType() == Qt::ToolTip)) {
      window->hide();
    }
  }
  SetShowHint(false);
  while (!FOwnedForms.empty()) {
    TCustomForm* form = FOwnedForms.back();
    form->DoDestroy();
    delete form;  // leaves FOwnedForms through FormDestroyed
  }
  FMainForm = nullptr;
}

void TApplication::RunEventLoop() {
  if (FMainForm == nullptr) return;
  Guarded(this, [this] {
    if (FMainForm->windowState() & Qt::WindowMinimized) {
      FMainForm->showMinimized();
    } else {
      FMainForm->show();
    }
  });
  QEventLoop loop;
  FLoops.push_back(&loop);
  while (!FTerminated)
    loop.exec();
  std::erase(FLoops, &loop);
}

void TApplication::RequestQuit() {
  postEvent(this, new QEvent(QuitRequestEvent));
}

bool TApplication::event(QEvent* event) {
  if (event->type() == QuitRequestEvent) {
    FTerminated = true;
    QuitLoops();
    return true;
  }
  return QApplication::event(event);
}

void TApplication::QuitLoops() {
  for (QEventLoop* loop : FLoops)
    loop->exit();
  // Message boxes and file dialogs run Qt's own loops; they end as if cancelled.
  const QWidgetList windows = topLevelWidgets();
  for (QWidget* window : windows) {
    if (auto* dialog = qobject_cast<QDialog*>(window); dialog != nullptr && dialog->isVisible()) {
      dialog->reject();
    }
  }
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  // No error may unwind through Qt's event delivery: whatever a handler raises ends here.
  try {
    const QEvent::Type type = event->type();
    if (FHints == nullptr) {
      // Being torn down: the tooltip service is gone.
    } else if (EndsTooltip(type)) {
      FHints->Cancel();
    } else if (receiver->isWidgetType()) {
      auto* widget = static_cast<QWidget*>(receiver);
      if (type == QEvent::MouseMove) {
        const auto* move = static_cast<QMouseEvent*>(event);
        const QPoint pos = move->globalPosition().toPoint();
        FHints->PointerMoved(move->buttons() == Qt::NoButton ? widget : ControlAt(*widget, pos),
                             pos);
      } else if (type == QEvent::Leave && widget->isWindow() &&
                 widgetAt(QCursor::pos()) == nullptr) {
        FHints->Cancel();  // the pointer is over none of the program's windows
      }
    }
    if (type == QEvent::MouseButtonRelease && receiver->isWidgetType()) {
      const auto* release = static_cast<QMouseEvent*>(event);
      if (release->button() == Qt::RightButton || release->button() == Qt::MiddleButton) {
        // Qt hands a release to the control that took the press; a right or middle press
        // captures nothing, so the release belongs to the image control under the pointer,
        // whoever took the press. The control that took it still gets it, to end its own
        // tracking.
        const bool handled = QApplication::notify(receiver, event);
        TImage::HandOnRelease(*release);
        return handled;
      }
    }
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportError(std::current_exception(), receiver);
    return true;
  }
}

void TApplication::ReportError(const std::exception_ptr& error, QObject* sender) noexcept {
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    ReportError(e, sender);
  } catch (const std::bad_alloc&) {
    // The standard library's way of saying what the error classes call EOutOfMemory.
    ReportError(EOutOfMemory(Msg::OutOfMemory), sender);
  } catch (const std::exception& e) {
    const QString className = CurrentExceptionClassName();
    try {
      ShowForeignError(className, &e);
    } catch (...) {
    }
  } catch (...) {
    const QString className = CurrentExceptionClassName();
    try {
      ShowForeignError(className, nullptr);
    } catch (...) {
    }
  }
}

void TApplication::ReportError(const Exception& error, QObject* /*sender*/) noexcept {
  try {
    // A pressed button or a drag in progress is abandoned.
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    if (dynamic_cast<const EAbort*>(&error) != nullptr) return;
    ShowError(error);
  } catch (...) {
    // Showing failed (no memory for the box): nothing more can be done.
  }
}

void TApplication::ShowError(const Exception& error) {
  const QString caption = FTitle.isEmpty() ? ProgramFileName() : FTitle;
  // The message as raised, then why on a line of its own when that is known.
  QString text = QString::fromStdString(MessageWithFullStop(error.Message()));
  if (!error.Detail().empty()) text += QLatin1Char('\n') + QString::fromStdString(error.Detail());
  ShowMessageBox({text, caption, TMessageIcon::Stop});
}

void TApplication::ShowForeignError(const QString& className, const void* address) {
  ShowMessageBox({ApplicationErrorText(className, ProgramFileName(), address),
                  QString::fromUtf8(ApplicationErrorCaption), TMessageIcon::Stop});
}

void TApplication::ShowMessageBox(const TMessageBoxRequest& request) {
  if (MessageBoxShower) {
    MessageBoxShower(request);
    return;
  }
  FHints->Cancel();
  const TBoxPlace place = BoxPlace(FMainForm);
  {
    TMonitorMessageBox box(request, place.Monitor);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
  }
  RestoreActivation(place.Active, place.Focus);
}

int TApplication::AskMessageBox(const TMessageBoxRequest& request, const QStringList& buttons,
                                int defaultButton, int cancelButton) {
  if (QuestionBoxAnswerer) {
    const int answer = QuestionBoxAnswerer(request, buttons);
    return answer >= 0 && answer < buttons.size() ? answer : cancelButton;
  }
  FHints->Cancel();
  const TBoxPlace place = BoxPlace(FMainForm);
  int answer = cancelButton;
  {
    TMonitorMessageBox box(request, place.Monitor, QMessageBox::NoButton);
    std::vector<QPushButton*> pushButtons;
    for (const QString& text : buttons)
      pushButtons.push_back(box.addButton(text, QMessageBox::ActionRole));
    if (defaultButton >= 0 && defaultButton < buttons.size())
      box.setDefaultButton(pushButtons[static_cast<std::size_t>(defaultButton)]);
    if (cancelButton >= 0 && cancelButton < buttons.size())
      box.setEscapeButton(pushButtons[static_cast<std::size_t>(cancelButton)]);
    // A busy cursor set by the caller would otherwise stay over the box.
    const bool cursorOverridden = overrideCursor() != nullptr;
    if (cursorOverridden) setOverrideCursor(Qt::ArrowCursor);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    if (cursorOverridden) restoreOverrideCursor();
    const auto pressed = std::find(pushButtons.begin(), pushButtons.end(), box.clickedButton());
    if (pressed != pushButtons.end()) answer = static_cast<int>(pressed - pushButtons.begin());
  }
  RestoreActivation(place.Active, place.Focus);
  return answer;
}

void TApplication::RunWhilePainting(const std::function<void()>& work) {
  std::exception_ptr error;
  std::atomic<bool> done{false};
  QEventLoop loop;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    done.store(true);
    // Wakes the loop below; a call left over once the loop is gone is dropped with it.
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  while (!done.load())
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  if (error) std::rethrow_exception(error);
}

int TApplication::RunModal(TCustomForm& form) {
  if (form.isVisible() || !form.isEnabled() || form.FModal) {
    throw Exception(CannotShowModalMessage);
  }
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  FHints->Cancel();
  form.FModal = true;
  const QPointer<QWidget> active = activeWindow();
  const QPointer<QWidget> focus = focusWidget();
  // A busy cursor set by the caller would otherwise stay over the modal window.
  const bool cursorOverridden = overrideCursor() != nullptr;
  if (cursorOverridden) setOverrideCursor(Qt::ArrowCursor);

  // Qt's application modality is what blocks the other windows: they take no input but keep
  // their looks (disabling them would grey every control).
  form.setWindowModality(Qt::ApplicationModal);
  if (QWidget* owner = active != nullptr ? active.data() : FMainForm;
      owner != nullptr && owner != &form) {
    form.winId();
    if (QWindow* handle = form.windowHandle()) handle->setTransientParent(owner->windowHandle());
  }

  QEventLoop loop;
  bool wasActive = false;
  int result = mrNone;
  {
    struct Restore {
      TApplication& app;
      TCustomForm& form;
      QEventLoop& loop;
      bool& wasActive;
      ~Restore() {
        std::erase(app.FLoops, &loop);
        form.FModalLoop = nullptr;
        wasActive = form.isActiveWindow();
        form.hide();
        form.FModal = false;
        form.setWindowModality(Qt::NonModal);
      }
    } restore{*this, form, loop, wasActive};

    form.FModalResult = mrNone;
    form.FModalLoop = &loop;
    FLoops.push_back(&loop);
    form.show();
    form.raise();
    form.activateWindow();
    for (;;) {
      if (FTerminated) {
        form.FModalResult = mrCancel;
        break;
      }
      if (form.FModalResult != mrNone) {
        if (ModalCloseAllowed(form)) break;
        form.FModalResult = mrNone;
      }
      loop.exec();
    }
    result = form.FModalResult;
  }
  if (cursorOverridden) restoreOverrideCursor();
  if (wasActive) RestoreActivation(active, focus);
  return result;
}

bool TApplication::ModalCloseAllowed(TCustomForm& form) {
  try {
    bool canClose = true;
    if (form.OnCloseQuery) form.OnCloseQuery(form, canClose);
    if (!canClose) return false;
    TCloseAction action = TCloseAction::caHide;
    if (form.OnClose) form.OnClose(form, action);
    if (action == TCloseAction::caNone) return false;
    if (action == TCloseAction::caFree) Release(form);
    return true;
  } catch (...) {
    ReportError(std::current_exception(), &form);
    return false;
  }
}

void TApplication::RequestClose(TCustomForm& form) {
  if (form.FModal) {
    form.SetModalResult(mrCancel);
    return;
  }
  bool canClose = true;
  if (form.OnCloseQuery) form.OnCloseQuery(form, canClose);
  if (!canClose) return;
  TCloseAction action = TCloseAction::caHide;
  if (form.OnClose) form.OnClose(form, action);
  if (action == TCloseAction::caNone) return;
  if (&form == FMainForm) {
    RequestQuit();
    return;
  }
  switch (action) {
    case TCloseAction::caMinimize:
      form.showMinimized();
      break;
    case TCloseAction::caFree:
      Release(form);
      break;
    default:
      form.hide();
      break;
  }
}

void TApplication::Release(TCustomForm& form) {
  form.hide();
  // Only a window the application owns can be freed here; any other belongs to whoever built
  // it, who destroys it.
  if (std::find(FOwnedForms.begin(), FOwnedForms.end(), &form) == FOwnedForms.end()) return;
  QTimer::singleShot(0, this, [window = QPointer<TCustomForm>(&form)] {
    if (window != nullptr) TFormDeleter()(window.data());
  });
}

int RunApplication(TApplication& app, const QString& title,
                   const std::function<void(TApplication&)>& createWindows) {
  app.SetTitle(title);
  try {
    createWindows(app);
  } catch (...) {
    app.ReportStartupError(std::current_exception());
    app.DestroyWindows();
    return 1;
  }
  app.RunEventLoop();
  app.DestroyWindows();
  return 0;
}

void TApplication::ReportStartupError(const std::exception_ptr& error) noexcept {
  try {
    QString className;
    std::string message;
    const void* address = nullptr;
    try {
      std::rethrow_exception(error);
    } catch (const Exception& e) {
      className = QString::fromUtf8(e.ClassName());
      message = e.Message();
      address = &e;
    } catch (const std::exception& e) {
      className = CurrentExceptionClassName();
      message = e.what();
      address = &e;
    } catch (...) {
      className = CurrentExceptionClassName();
    }
    // Here the full stop follows the last byte, not the last character.
    const QString fullStop =
        !message.empty() && message.back() != '.' ? QStringLiteral(".") : QString();
    ShowMessageBox({ApplicationErrorText(className, ProgramFileName(), address,
                                         QString::fromStdString(message), fullStop),
                    QString::fromUtf8(ApplicationErrorCaption), TMessageIcon::Stop});
  } catch (...) {
  }
}

}  // namespace penamo
