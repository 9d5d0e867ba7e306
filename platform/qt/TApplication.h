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
#include <QApplication>
#include <QString>
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

 private:
  static void ShowMessage(const QString& message);
};
