#pragma once
// The application object of both programs, with the central exception
// handler.
//
// What a caller may rely on:
// - notify() delivers every event as QApplication does; an exception that
//   escapes the receiver's handler (a click, a timer tick, a posted event) is
//   caught there and shown, so no exception crosses the Qt event loop.
// - HandleException shows an exception's message in a critical message box as
//   plain text (messages carry text the operator or the modem typed, never
//   markup). It is also installed as the process-wide central handler of
//   qt/CentralHandler.h, so the serial port window shows its handlers'
//   exceptions the same way.
// - SetMessageHook replaces the message box (tests record the texts instead).
//   Hook and handler run on the GUI thread only.
// - A configuration file that is refused at reading (see IniFile.h) is
//   reported once: its text goes to stderr and, once the event loop runs, to
//   the operator in a warning box (or the hook).
// - RunMainWindow runs a program: it shows the main window (not when the
//   instance limiter refused the copy) and runs the event loop until that
//   window reports its confirmed close through MainWindowClosed; other
//   windows, open or closed, never end the program. From that report on the
//   process ends within kEndDeadline, whatever timers or pooled threads are
//   left (see ProcessEnd.h); an event loop that ends otherwise is logged to
//   stderr and bounded the same way.
#include <QApplication>
#include <QCloseEvent>
#include <QString>
#include <QWidget>
#include <chrono>
#include <exception>
#include <functional>

class TApplication : public QApplication {
 public:
  using MessageHook = std::function<void(const QString& message)>;

  TApplication(int& argc, char** argv);
  ~TApplication() override;

  bool notify(QObject* receiver, QEvent* event) override;

  // The text shown for an exception: its what() as UTF-8, or a fixed text for
  // exceptions that carry none.
  static QString MessageOf(std::exception_ptr e);

  // Shows the exception (message box or hook). Never throws.
  static void HandleException(std::exception_ptr e) noexcept;

  // Installs a replacement for the message box; returns the previous hook
  // (empty: the message box). Pass an empty hook to restore the box.
  static MessageHook SetMessageHook(MessageHook hook);

  // How long the end of the process may take once the main window is closed.
  static constexpr std::chrono::milliseconds kEndDeadline{5000};

  // Shows the window and runs the event loop; returns the exit code. A
  // refused copy returns 0 at once without showing anything.
  static int RunMainWindow(QWidget& window, bool refused);

  // A main window calls this once its close is confirmed and its ports are
  // closed. For the window RunMainWindow runs, the event loop ends now; for
  // any other (a test's window) nothing happens.
  static void MainWindowClosed(const QWidget* window) noexcept;

  // A main window's close handler. A close after the confirmed one goes
  // through without asking; otherwise `ask` decides (the close question and
  // whatever it saves). On Yes, `end` stops what the window runs (timers,
  // ports), then MainWindowClosed ends the program.
  static void CloseMainWindow(QWidget& window, QCloseEvent& event, bool& confirmed, const std::function<bool()>& ask,
                              const std::function<void()>& end);

  // A failure at the end that no one can be shown any more (the window is
  // going): one line on stderr.
  static void LogEndFailure(const char* what) noexcept;

  // Shows a warning (message box or hook) once the event loop runs.
  static void ShowWarningLater(const QString& message);

 private:
  static void ShowMessage(const QString& message, bool warning = false);
};
