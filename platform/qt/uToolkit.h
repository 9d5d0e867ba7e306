#pragma once
// The few behaviours of the old GUI toolkit that the console's logic was
// written against, rebuilt on Qt in one place:
//  - TTimer: enabling a running timer does not restart it; changing the
//    interval restarts it only when the value differs; interval 0 never fires;
//    a tick never comes before its interval has passed (a modem is given the
//    full answer delay, a call its full length).
//  - List boxes draw every row at one height (UseListBoxRows), so adding a
//    row costs the same however many the list holds.
//  - Check-box handlers run whenever the box changes, also when code changes
//    it (ConnectCheckChange uses toggled(), not clicked()); setting the state
//    it already has runs nothing. Combo-box change handlers run only for the
//    operator's choice (ConnectComboChoice uses activated()).
//  - Colour values hold red in the low byte: 0x0000FF is red, 15253469 is
//    #DDBFE8. Static texts show their colour as background.
//  - StrToInt: decimal with optional sign, or hex with "$" or "0x"; anything
//    else is a conversion error "'<text>' is not a valid integer value".
//  - Message dialogs in plain text, with a hook tests replace.
// GUI thread only.
#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "SerBaseExcept.h"

class QCheckBox;
class QComboBox;
class QListWidget;
class QWidget;

namespace corvane {

using TColor = std::uint32_t;
inline constexpr TColor clFuchsia = 0xFF00FF;  // status: not done yet
inline constexpr TColor clLime = 0x00FF00;     // status: done
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor FormColor = 15253469;  // the console window's colour

QColor ToQColor(TColor c);
TColor FromQColor(const QColor& c);

// Background colour of a static text (a QLabel that fills its background).
void SetStaticTextColor(QWidget* text, TColor c);
TColor StaticTextColor(const QWidget* text);

class TTimer : public QObject {
  Q_OBJECT
 public:
  TTimer(QObject* owner, const QString& name, int intervalMs, bool enabled = false);

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  int Interval() const { return interval_; }
  void SetInterval(int ms);
  bool Running() const { return timer_.isActive(); }

  std::function<void()> OnTimer;

 private:
  void Update();
  QTimer timer_;
  bool enabled_ = false;
  int interval_ = 1000;
};

// Rows of one height, as the old list box drew them: Qt otherwise measures
// every row again whenever one is added, and a log of a thousand rows then
// costs a modem reply several times what an empty one does. The rows are as
// wide and as tall as the largest row since the list was last emptied, so a
// long entry can still be scrolled to and a text of two lines is not cut.
void UseListBoxRows(QListWidget* list);

// A list box's rows and an edit whose text the form's size cuts: hovering
// shows the whole text in a tip, as plain text (a modem's or a file's
// "<b>" is shown, never read as markup); a text that fits shows no tip.
// For a QListWidget or a QLineEdit; the form itself is left as it is.
void ShowCutTextOnHover(QWidget* widget);

// Runs an event handler; what it raises goes to the application's central
// exception handler, never into the event loop.
void RunGuarded(const std::function<void()>& handler) noexcept;

void ConnectCheckChange(QCheckBox* box, QObject* context, std::function<void()> handler);
void ConnectComboChoice(QComboBox* box, QObject* context, std::function<void()> handler);

// Conversion failures raise the class library's EConvertError (SerBaseExcept.h).
std::optional<std::int32_t> TryStrToInt(std::string_view text);
std::int32_t StrToInt(std::string_view text);  // throws EConvertError
std::string InvalidIntegerMessage(std::string_view text);

// Message dialogs. The hook, when set, answers instead of a real dialog.
enum class TMsgDlgType { Warning, Error, Information, Confirmation };
enum class TModalResult { Ok, Yes, No };
struct TDialogRequest {
  TMsgDlgType type;
  QString text;
  bool yesNo;  // Yes/No buttons; otherwise a single OK
};
using TDialogHook = std::function<TModalResult(const TDialogRequest&)>;
void SetDialogHook(TDialogHook hook);
TModalResult MessageDlg(QWidget* parent, TMsgDlgType type, const QString& text, bool yesNo);
void ShowMessage(QWidget* parent, const QString& text);
// A Yes/No question that does not hold the event loop: `done(answer,
// answered)` runs once, on the GUI thread, when the operator answers or,
// with nobody there, after `deadlineMs` with `unanswered` and answered false
// (the box is closed). Several such questions stand side by side; none
// waits for another. Through the dialog hook the answer comes at once.
// `context` going away drops the answer. `title` says whom the question is
// about (several windows' questions look alike otherwise). Returns the box,
// which closes itself when answered (nullptr when the hook answered at once);
// closing it after deleting `context` withdraws the question.
QWidget* AskWithin(QWidget* parent, TMsgDlgType type, const QString& title, const QString& text, int deadlineMs,
                   TModalResult unanswered, QObject* context,
                   std::function<void(TModalResult answer, bool answered)> done);

// 8-bit strings (modem bytes, INI values) to and from what Qt shows: each byte
// is one character, as the system's ANSI code page did it.
QString FromAnsi(std::string_view bytes);
std::string ToAnsi(const QString& text);

}  // namespace corvane
