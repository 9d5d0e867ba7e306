#pragma once
// The settings dialog of the active card type (form resources/TfSeting.ui),
// the key filter of its digit-only edits, the input box the card-type menu
// asks with, and the rule for the name of a new card type.
//
// What a caller may rely on (GUI thread only):
// - TfSeting: the caller fills Values, runs the dialog modally (exec()) and
//   reads Values back after QDialog::Accepted. The dialog edits every
//   per-card value but maxgagal, which it never shows, reads or writes.
// - The first showing writes Values into the edits (the three numbers in
//   decimal); later showings of the same object leave the edits alone.
// - btnOkClick reads the edits back in a fixed order and then accepts. A
//   number edit that is empty or does not convert raises EConvertError
//   "'<text>' is not a valid integer value": the values read before it are
//   already in Values, the dialog stays open with every edit as it was. The
//   OK button's click hands that error to the central exception handler.
// - btnCancelClick, the Escape key and the close box reject; nothing is read.
//   Enter in an edit presses no button.
// - Digit-only edits (TDigitKeyFilter) drop every typed printable character
//   but "0" to "9"; backspace, editing and navigation keys pass, and text
//   pasted or set by code is not filtered.
// - The short edits (the form gives them the dynamic property
//   "typedMaxLength") limit only what the operator types: a typed character
//   that would make the text longer than the limit is dropped. Text set by
//   code or pasted is never cut, so a stored value that is longer than the
//   limit is shown whole and comes back unchanged unless the operator edits it.
#include <QDialog>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "uCardSettings.h"

class QLineEdit;
class QShowEvent;

namespace Ui {
class TfSeting;
}

namespace corvane {

// The key filter the digit-only edits share.
class TDigitKeyFilter : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  // Backspace (8) and "0" to "9" pass; every other typed character is dropped.
  static bool KeyPasses(QChar typed);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// The typing limit of the short edits, read from the edit's "typedMaxLength"
// property. The edit's own maxLength would also cut text set by code, and so
// shorten stored values the operator never touched.
class TTypedLengthLimit : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  // The edit's typing limit; 0 when it has none.
  static int LimitOf(const QLineEdit* edit);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

class TfSeting : public QDialog {
  Q_OBJECT
 public:
  // One value and the edit that shows it.
  struct TField {
    QLineEdit* edit;
    std::variant<std::string*, std::int32_t*> value;
    bool digitsOnly;
  };

  explicit TfSeting(QWidget* parent = nullptr);  // FormCreate
  ~TfSeting() override;

  // The 47 values the dialog edits; maxgagal is not one of them.
  TCardSettings Values;

  Ui::TfSeting& Form() { return *ui_; }
  // Every edited value with its edit, in the order FormShow fills and
  // btnOkClick reads them.
  std::vector<TField> Fields();

  void btnOkClick();
  void btnCancelClick();
  // Escape and the close box press Cancel.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();

  std::unique_ptr<Ui::TfSeting> ui_;
  TDigitKeyFilter* digitKeys_;
  TTypedLengthLimit* typedLength_;
  bool firstShow_ = false;
};

// Copies the values the dialog edits; to.maxgagal keeps its value.
void CopyEditedValues(const TCardSettings& from, TCardSettings& to);

// The class library's input box: the typed text on OK, the default on Cancel.
QString InputBox(QWidget* parent, const QString& caption, const QString& prompt, const QString& defaultText);
// Tests answer instead of a real box: the typed text, or nullopt for Cancel.
using TInputBoxHook =
    std::function<std::optional<QString>(const QString& caption, const QString& prompt, const QString& defaultText)>;
void SetInputBoxHook(TInputBoxHook hook);

// The longest name a new card type may have. With the "corvane_v4_" prefix,
// ".ini" and the temporary name a save writes first, its file name stays far
// below the 255 bytes a file system allows.
inline constexpr int MaxCardNameLength = 64;

// Whether a name typed for a new card type may join the card list. The name
// becomes part of a file name and is kept in the main file's ";"-separated
// list, so it must survive both.
enum class TNewCardName {
  Usable,
  Empty,          // also what Cancel gives: refused without a word
  Blank,          // nothing but blanks: no name the operator could pick out
  TooLong,        // more than MaxCardNameLength characters
  NotAFileName,   // path separator, "..", control character
  NotListable,    // ";" or a character the 8-bit files cannot hold
  AlreadyListed,  // the same name (ignoring case: one file on the old system)
  ListFull,       // the list would no longer read back whole
};
TNewCardName JudgeNewCardName(const QString& name, const QStringList& listed);
// What the operator is told for a refused name (empty for Usable and Empty).
QString NewCardNameMessage(TNewCardName verdict, const QString& name);

}  // namespace corvane
