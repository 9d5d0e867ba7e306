#include "uToolkit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTextDocument>
#include <QToolTip>
#include <QMessageBox>
#include <QTimer>
#include <QPalette>
#include <QStyledItemDelegate>
#include <QWidget>

#include "CentralHandler.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <memory>

namespace corvane {

QColor ToQColor(TColor c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

TColor FromQColor(const QColor& c) {
  return TColor(c.red()) | (TColor(c.green()) << 8) | (TColor(c.blue()) << 16);
}

void SetStaticTextColor(QWidget* text, TColor c) {
  QPalette pal = text->palette();
  pal.setColor(QPalette::Window, ToQColor(c));
  text->setPalette(pal);
  text->setAutoFillBackground(true);
}

TColor StaticTextColor(const QWidget* text) { return FromQColor(text->palette().color(QPalette::Window)); }

TTimer::TTimer(QObject* owner, const QString& name, int intervalMs, bool enabled)
    : QObject(owner), enabled_(enabled), interval_(intervalMs) {
  setObjectName(name);
  // Qt's default coarse timers may fire up to 5 % early.
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] {
    if (OnTimer) RunGuarded(OnTimer);
  });
  Update();
}

void TTimer::SetEnabled(bool value) {
  if (value == enabled_) return;  // a running timer keeps its phase
  enabled_ = value;
  Update();
}

void TTimer::SetInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Update();
}

void TTimer::Update() {
  timer_.stop();
  if (enabled_ && interval_ > 0) timer_.start(interval_);
}

namespace {

// With uniform rows the view asks for one row's size (the last row's) instead
// of every row's; this answers with the widest width and the tallest height
// of all rows, measuring each row once, when it is first asked after the row
// came. A text of two lines (a card's display text) is thus never cut.
class TListBoxRows : public QStyledItemDelegate {
 public:
  explicit TListBoxRows(QListWidget* list) : QStyledItemDelegate(list), list_(list) {
    QAbstractItemModel* model = list->model();
    const auto forget = [this] {
      measured_ = 0;
      largest_ = QSize(0, 0);
    };
    QObject::connect(model, &QAbstractItemModel::modelReset, this, forget);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, this, forget);
    QObject::connect(model, &QAbstractItemModel::rowsInserted, this,
                     [this, forget](const QModelIndex&, int first, int) {
                       if (first < measured_) forget();
                     });
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QAbstractItemModel* model = list_->model();
    for (const int rows = model->rowCount(); measured_ < rows; ++measured_)
      largest_ = largest_.expandedTo(QStyledItemDelegate::sizeHint(option, model->index(measured_, 0)));
    return largest_.expandedTo(QStyledItemDelegate::sizeHint(option, index));
  }

 private:
  QListWidget* list_;
  mutable int measured_ = 0;
  mutable QSize largest_{0, 0};
};

}  // namespace

void UseListBoxRows(QListWidget* list) {
  list->setUniformItemSizes(true);
  list->setItemDelegate(new TListBoxRows(list));
}

namespace {

// Room a row or an edit keeps beside its text (frame and margins).
constexpr int kTextPadding = 8;

// Each line of a text of several lines is measured alone.
bool Fits(const QFontMetrics& metrics, const QString& text, int room) {
  for (const QString& line : text.split(QLatin1Char('\n')))
    if (metrics.horizontalAdvance(line) + kTextPadding > room) return false;
  return true;
}

class TCutTextTip : public QObject {
 public:
  TCutTextTip(QWidget* watched, QListWidget* list, QLineEdit* edit)
      : QObject(watched), watched_(watched), list_(list), edit_(edit) {}

  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return false;
    const auto& help = static_cast<const QHelpEvent&>(*event);
    QString text;
    bool fits = true;
    if (edit_) {
      text = edit_->text();
      fits = Fits(edit_->fontMetrics(), text, edit_->contentsRect().width());
    } else if (QListWidgetItem* item = list_->itemAt(help.pos())) {
      // The row's visible part: from its left edge to the viewport's right
      // edge; a row scrolled to the left is cut already.
      const QRect row = list_->visualItemRect(item);
      text = item->text();
      fits = row.left() >= 0 && Fits(watched_->fontMetrics(), text, watched_->width() - row.left());
    }
    // Escaped: no markup in the text is ever read.
    if (text.isEmpty() || fits) QToolTip::hideText();
    else QToolTip::showText(help.globalPos(), Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal), watched_);
    return true;
  }

 private:
  QWidget* watched_;
  QListWidget* list_;
  QLineEdit* edit_;
};

}  // namespace

void ShowCutTextOnHover(QWidget* widget) {
  if (auto* list = qobject_cast<QListWidget*>(widget)) {
    list->viewport()->installEventFilter(new TCutTextTip(list->viewport(), list, nullptr));
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->installEventFilter(new TCutTextTip(edit, nullptr, edit));
  }
}

void RunGuarded(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (...) {
    platform::ShowExceptionCentrally(std::current_exception());
  }
}

void ConnectCheckChange(QCheckBox* box, QObject* context, std::function<void()> handler) {
  QObject::connect(box, &QCheckBox::toggled, context, [h = std::move(handler)](bool) { RunGuarded(h); });
}

void ConnectComboChoice(QComboBox* box, QObject* context, std::function<void()> handler) {
  QObject::connect(box, &QComboBox::activated, context, [h = std::move(handler)](int) { RunGuarded(h); });
}

std::optional<std::int32_t> TryStrToInt(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int digit;
    if (std::isdigit(c)) digit = c - '0';
    else if (base == 16 && std::isxdigit(c)) digit = std::tolower(c) - 'a' + 10;
    else return std::nullopt;
    value = value * base + digit;
    // Hex may fill all 32 bits (the class library reads $FFFFFFFF as -1).
    if (value > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return std::nullopt;
  }
  if (base == 16) {
    auto bits = static_cast<std::uint32_t>(value);
    std::int32_t v = static_cast<std::int32_t>(bits);
    return negative ? static_cast<std::int32_t>(0u - bits) : v;
  }
  if (negative) return static_cast<std::int32_t>(-value);
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::string InvalidIntegerMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

std::int32_t StrToInt(std::string_view text) {
  if (auto v = TryStrToInt(text)) return *v;
  throw EConvertError(InvalidIntegerMessage(text));
}

namespace {
TDialogHook& Hook() {
  static TDialogHook hook;
  return hook;
}
}  // namespace

void SetDialogHook(TDialogHook hook) { Hook() = std::move(hook); }

TModalResult MessageDlg(QWidget* parent, TMsgDlgType type, const QString& text, bool yesNo) {
  if (Hook()) return Hook()(TDialogRequest{type, text, yesNo});
  QMessageBox box(parent);
  box.setTextFormat(Qt::PlainText);  // texts may carry what an operator or a modem typed
  box.setText(text);
  box.setWindowTitle(QStringLiteral("Corvane"));
  switch (type) {
    case TMsgDlgType::Warning: box.setIcon(QMessageBox::Warning); break;
    case TMsgDlgType::Error: box.setIcon(QMessageBox::Critical); break;
    case TMsgDlgType::Information: box.setIcon(QMessageBox::Information); break;
    case TMsgDlgType::Confirmation: box.setIcon(QMessageBox::Question); break;
  }
  if (yesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  const int answer = box.exec();
  if (!yesNo) return TModalResult::Ok;
  return answer == QMessageBox::Yes ? TModalResult::Yes : TModalResult::No;
}

QWidget* AskWithin(QWidget* parent, TMsgDlgType type, const QString& title, const QString& text, int deadlineMs,
                   TModalResult unanswered, QObject* context,
                   std::function<void(TModalResult answer, bool answered)> done) {
  if (Hook()) {
    done(Hook()(TDialogRequest{type, text, true}), true);
    return nullptr;
  }
  auto* box = new QMessageBox(parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextFormat(Qt::PlainText);
  box->setText(text);
  box->setWindowTitle(title.isEmpty() ? QStringLiteral("Corvane") : title);
  box->setIcon(type == TMsgDlgType::Confirmation ? QMessageBox::Question : QMessageBox::Warning);
  box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box->setDefaultButton(QMessageBox::No);
  // Modal to its window, but shown without a loop of its own: a second
  // question (another line's) neither waits behind this one nor holds it.
  box->setWindowModality(Qt::WindowModal);
  auto* deadline = new QTimer(box);
  deadline->setTimerType(Qt::PreciseTimer);
  deadline->setSingleShot(true);
  auto expired = std::make_shared<bool>(false);
  QObject::connect(deadline, &QTimer::timeout, box, [box, expired] {
    *expired = true;
    box->done(QMessageBox::No);
  });
  QObject::connect(box, &QDialog::finished, deadline, &QTimer::stop);
  QObject::connect(box, &QDialog::finished, context, [expired, unanswered, done = std::move(done)](int result) {
    if (*expired) {
      done(unanswered, false);
      return;
    }
    done(result == QMessageBox::Yes ? TModalResult::Yes : TModalResult::No, true);
  });
  deadline->start(std::max(0, deadlineMs));
  box->show();
  return box;
}

void ShowMessage(QWidget* parent, const QString& text) {
  MessageDlg(parent, TMsgDlgType::Information, text, false);
}

QString FromAnsi(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToAnsi(const QString& text) {
  const QByteArray b = text.toLatin1();
  return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

}  // namespace corvane
