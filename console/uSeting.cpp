#include "uSeting.h"

#include <QInputDialog>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <stdexcept>

#include "IniFile.h"
#include "uToolkit.h"
#include "ui_TfSeting.h"

namespace corvane {

// --- digit-only edits ---

bool TDigitKeyFilter::KeyPasses(QChar typed) {
  return typed == QChar(8) || (typed >= QLatin1Char('0') && typed <= QLatin1Char('9'));
}

namespace {

// Control characters (Tab, Enter, Escape, Ctrl shortcuts such as paste) are
// no text the edit would take; they keep their meaning for the dialog.
bool TypedTextPasses(const QString& text) {
  for (QChar c : text) {
    const bool printable = c.unicode() >= 0x20 && c.unicode() != 0x7F;
    if (printable && !TDigitKeyFilter::KeyPasses(c)) return false;
  }
  return true;
}

}  // namespace

bool TDigitKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) return !TypedTextPasses(static_cast<QKeyEvent*>(event)->text());
  if (event->type() == QEvent::InputMethod)
    return !TypedTextPasses(static_cast<QInputMethodEvent*>(event)->commitString());
  return QObject::eventFilter(watched, event);
}

// --- typing limits ---

int TTypedLengthLimit::LimitOf(const QLineEdit* edit) {
  bool ok = false;
  const int limit = edit->property("typedMaxLength").toInt(&ok);
  return ok && limit > 0 ? limit : 0;
}

namespace {

// Characters that typing would add to the edit's text.
int TypedLength(const QString& text) {
  int n = 0;
  for (QChar c : text)
    if (c.unicode() >= 0x20 && c.unicode() != 0x7F) ++n;
  return n;
}

}  // namespace

bool TTypedLengthLimit::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  const int limit = edit ? LimitOf(edit) : 0;
  if (limit == 0) return QObject::eventFilter(watched, event);
  int added = 0;
  if (event->type() == QEvent::KeyPress) added = TypedLength(static_cast<QKeyEvent*>(event)->text());
  else if (event->type() == QEvent::InputMethod)
    added = TypedLength(static_cast<QInputMethodEvent*>(event)->commitString());
  if (added == 0) return QObject::eventFilter(watched, event);
  const qsizetype kept = edit->text().size() - edit->selectedText().size();
  return kept + added > limit;
}

// --- the dialog ---

TfSeting::TfSeting(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfSeting>()),
      digitKeys_(new TDigitKeyFilter(this)),
      typedLength_(new TTypedLengthLimit(this)) {
  ui_->setupUi(this);
  // A dialog frame: fixed size, no help button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  for (const TField& f : Fields()) {
    if (f.digitsOnly) f.edit->installEventFilter(digitKeys_);
    if (TTypedLengthLimit::LimitOf(f.edit) > 0) f.edit->installEventFilter(typedLength_);
  }
  connect(ui_->btnOk, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnOkClick(); }); });
  connect(ui_->btnCancel, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnCancelClick(); }); });
  firstShow_ = true;
}

TfSeting::~TfSeting() = default;

std::vector<TfSeting::TField> TfSeting::Fields() {
  auto edit = [this](const QString& name) {
    auto* e = findChild<QLineEdit*>(name);
    if (!e) throw std::logic_error("the settings form has no edit " + name.toStdString());
    return e;
  };
  auto numbered = [&edit](const char* stem, std::size_t i) {
    return edit(QLatin1String(stem) + QString::number(i + 1));
  };
  TCardSettings& v = Values;
  std::vector<TField> f;
  f.push_back({edit("ePhPenerimaSMS"), &v.phpenerimasms, true});
  f.push_back({edit("eSmsTextSend"), &v.smstextsend, false});
  f.push_back({edit("eNo2Dial"), &v.no2dial, true});
  f.push_back({edit("eWaktuDial"), &v.waktudial, true});
  f.push_back({edit("eNo2Dial2"), &v.no2dial2, true});
  f.push_back({edit("ePhPenerimaSMS2"), &v.phpenerimasms2, true});
  f.push_back({edit("eSmsTextSend2"), &v.smstextsend2, false});
  for (std::size_t i = 0; i < v.katakunci.size(); ++i)
    f.push_back({numbered("eKataKunciKonfirmasi", i), &v.katakunci[i], false});
  f.push_back({edit("eNomorKonfirmasiReset"), &v.nomorkonfirmasireset, true});
  for (std::size_t i = 0; i < v.katakuncimenu.size(); ++i) {
    f.push_back({numbered("eKataKunciMenu", i), &v.katakuncimenu[i], false});
    f.push_back({numbered("eJawabKataKunciMenu", i), &v.jawabanmenu[i], false});
  }
  for (std::size_t i = 0; i < v.katakuncidata.size(); ++i) {
    f.push_back({numbered("eKataKunci", i), &v.katakuncidata[i], false});
    f.push_back({numbered("eJawabKataKunci", i), &v.Jawabandata[i], false});
  }
  f.push_back({edit("eTimeOut"), &v.timeout, true});
  f.push_back({edit("eKataKunciSmsRegFinish"), &v.KataKunciSMSRegFinish, false});
  f.push_back({edit("eCekPulsa"), &v.cekpulsa, false});
  return f;
}

void TfSeting::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TfSeting::FormShow() {
  if (!firstShow_) return;
  for (const TField& f : Fields()) {
    if (auto* s = std::get_if<std::string*>(&f.value)) f.edit->setText(FromAnsi(**s));
    else f.edit->setText(QString::number(*std::get<std::int32_t*>(f.value)));
  }
  firstShow_ = false;
}

void TfSeting::btnOkClick() {
  for (const TField& f : Fields()) {
    const std::string text = ToAnsi(f.edit->text());
    if (auto* s = std::get_if<std::string*>(&f.value)) **s = text;
    else *std::get<std::int32_t*>(f.value) = StrToInt(text);
  }
  accept();
}

void TfSeting::btnCancelClick() { QDialog::reject(); }

void TfSeting::reject() { btnCancelClick(); }

void CopyEditedValues(const TCardSettings& from, TCardSettings& to) {
  const std::int32_t keptLimit = to.maxgagal;
  to = from;
  to.maxgagal = keptLimit;
}

// --- input box ---

namespace {
TInputBoxHook& InputHook() {
  static TInputBoxHook hook;
  return hook;
}
}  // namespace

void SetInputBoxHook(TInputBoxHook hook) { InputHook() = std::move(hook); }

QString InputBox(QWidget* parent, const QString& caption, const QString& prompt, const QString& defaultText) {
  if (InputHook()) return InputHook()(caption, prompt, defaultText).value_or(defaultText);
  QInputDialog box(parent);
  box.setWindowTitle(caption);
  box.setLabelText(prompt);
  box.setTextValue(defaultText);
  return box.exec() == QDialog::Accepted ? box.textValue() : defaultText;
}

// --- new card-type names ---

TNewCardName JudgeNewCardName(const QString& name, const QStringList& listed) {
  if (name.isEmpty()) return TNewCardName::Empty;
  if (name.trimmed().isEmpty()) return TNewCardName::Blank;
  if (name.size() > MaxCardNameLength) return TNewCardName::TooLong;
  const std::string bytes = ToAnsi(name);
  if (!CardNameUsable(bytes)) return TNewCardName::NotAFileName;
  if (name.contains(QLatin1Char(';')) || FromAnsi(bytes) != name) return TNewCardName::NotListable;
  std::size_t listBytes = bytes.size() + 1;
  for (const QString& item : listed) {
    if (item.compare(name, Qt::CaseInsensitive) == 0) return TNewCardName::AlreadyListed;
    listBytes += ToAnsi(item).size() + 1;
  }
  if (listBytes > platform::TIniFile::kMaxValueBytes) return TNewCardName::ListFull;
  return TNewCardName::Usable;
}

QString NewCardNameMessage(TNewCardName verdict, const QString& name) {
  QString why;
  switch (verdict) {
    case TNewCardName::Usable:
    case TNewCardName::Empty: return {};
    case TNewCardName::NotAFileName:
      why = QStringLiteral("The card type name \"%1\" cannot be used as a file name (no \"/\", \"\\\", \"..\" "
                           "or control characters)");
      break;
    case TNewCardName::NotListable:
      why = QStringLiteral("The card type name \"%1\" cannot be kept in the card list (no \";\" and only "
                           "Latin-1 characters)");
      break;
    case TNewCardName::Blank: why = QStringLiteral("The card type name \"%1\" holds only blanks"); break;
    case TNewCardName::TooLong:
      why = QStringLiteral("The card type name \"%1\" is longer than ") + QString::number(MaxCardNameLength) +
            QStringLiteral(" characters");
      break;
    case TNewCardName::AlreadyListed: why = QStringLiteral("The card type \"%1\" is already in the list"); break;
    case TNewCardName::ListFull: why = QStringLiteral("The card list has no room for \"%1\""); break;
  }
  return why.arg(name) + QStringLiteral("; no card type was added");
}

}  // namespace corvane
