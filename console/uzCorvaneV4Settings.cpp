// The window's side of the two configuration files: which value of the
// window each key fills, in the order the files are read and written.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <string>

#include "IniFile.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"
#include "ui_TfzCorvaneV4.h"

namespace corvane {

namespace {

const std::string kMain(MainIniSection);
constexpr std::int32_t kDefaultBaud = 115200;
constexpr std::int32_t kLowestBaud = 300;
constexpr std::int32_t kHighestBaud = 4000000;

// A number setting of the main file or the window: its value when the text
// is a number (as the file reader takes it) within min..max, else nothing.
std::optional<std::int32_t> NumberInRange(std::string_view text, std::int32_t min, std::int32_t max) {
  const std::optional<std::int32_t> v = TryStrToInt(text);
  if (!v || *v < min || *v > max) return std::nullopt;
  return v;
}

std::string OptionKey(std::string_view name, int line) { return std::string(name) + "_" + std::to_string(line); }

bool& OptionOf(TLineData& d, std::size_t option) {
  bool* const fields[] = {&d.RegistrasiAktif, &d.CallAktif, &d.Call2Aktif, &d.SMSAktif, &d.SMS2Aktif, &d.CekPulsaAktif};
  return *fields[option];
}

}  // namespace

std::string TfzCorvaneV4::MainIniPath() const { return ProgramDir + std::string(MainIniFileName); }

void TfzCorvaneV4::LoadMainSettings() {
  const platform::TIniFile ini(MainIniPath());
  const std::string baud = ini.ReadString(kMain, "hp1_baud", std::to_string(kDefaultBaud));
  if (const auto b = NumberInRange(baud, kLowestBaud, kHighestBaud)) {
    BaudRate = *b;
  } else {
    BaudRate = kDefaultBaud;
    NoteSetting("hp1_baud = \"" + baud + "\" is no baud rate in " + std::to_string(kLowestBaud) + ".." +
                std::to_string(kHighestBaud) + "; " + std::to_string(kDefaultBaud) + " is used");
  }
  maxlistline = MaxListLineDefault;
  kartuaktif = ini.ReadInteger(kMain, "kartuaktif", 0);
  for (int n = 1; n <= LineRecordCount; ++n)
    for (std::size_t o = 0; o < TaskOptionKeys.size(); ++o)
      OptionOf(LineRecord(n), o) = ini.ReadBool(kMain, OptionKey(TaskOptionKeys[o], n), true);
  for (int n = 1; n <= LineRecordCount; ++n) LineRecord(n).ComPort = ini.ReadInteger(kMain, OptionKey("comport", n), 8);
  for (auto& line : Lines) line->ckActive->setChecked(ini.ReadBool(kMain, OptionKey("portactive", line->Number()), true));
  ui_->eMaxDelay->setText(FromAnsi(ini.ReadString(kMain, "MAXDELAY", std::to_string(MaxDelayDefaultMs))));
  MaxDelayMs();

  // Read whole: the list is the console's own, written back at close, and a
  // cut list would lose every card type past the cut for good.
  const std::string list = ini.ReadWholeString(kMain, "KARTU", "");
  ui_->cbKartuAktif->clear();
  std::string name;
  for (char c : list) {
    if (c == ';') {
      ui_->cbKartuAktif->addItem(FromAnsi(name));
      name.clear();
    } else {
      name += c;
    }
  }
}

void TfzCorvaneV4::SaveMainSettings() {
  platform::TIniFile ini(MainIniPath());
  ini.WriteInteger(kMain, "hp1_baud", BaudRate);
  ini.WriteInteger(kMain, "maxlistline", maxlistline);
  ini.WriteInteger(kMain, "kartuaktif", kartuaktif);
  for (int n = 1; n <= LineRecordCount; ++n)
    for (std::size_t o = 0; o < TaskOptionKeys.size(); ++o)
      ini.WriteBool(kMain, OptionKey(TaskOptionKeys[o], n), OptionOf(LineRecord(n), o));
  for (int n = 1; n <= LineRecordCount; ++n) ini.WriteInteger(kMain, OptionKey("comport", n), LineRecord(n).ComPort);
  for (auto& line : Lines) ini.WriteBool(kMain, OptionKey("portactive", line->Number()), line->ckActive->isChecked());
  std::string list;
  for (int i = 0; i < ui_->cbKartuAktif->count(); ++i) list += ToAnsi(ui_->cbKartuAktif->itemText(i)) + ";";
  ini.WriteString(kMain, "KARTU", list);
  ini.WriteString(kMain, "MAXDELAY", ToAnsi(ui_->eMaxDelay->text()));
  ini.UpdateFile();
}

void TfzCorvaneV4::NoteSetting(const std::string& text, TConsoleLine* logTo) {
  (logTo ? *logTo : Line(1)).AddFuncLog("F000 : " + text);
}

std::int32_t TfzCorvaneV4::MaxDelayMs(TConsoleLine* logTo) {
  const std::string text = ToAnsi(ui_->eMaxDelay->text());
  if (const auto ms = NumberInRange(text, 0, MaxDelayLimitMs)) return *ms;
  NoteSetting("MAXDELAY \"" + text + "\" is no number in 0.." + std::to_string(MaxDelayLimitMs) + "; " +
                  std::to_string(MaxDelayDefaultMs) + " is used",
              logTo);
  ui_->eMaxDelay->setText(QString::number(MaxDelayDefaultMs));
  return MaxDelayDefaultMs;
}

std::string TfzCorvaneV4::CardNameAt(int index) const {
  if (index < 0 || index >= ui_->cbKartuAktif->count()) return {};
  return ToAnsi(ui_->cbKartuAktif->itemText(index));
}

void TfzCorvaneV4::LoadCardSettings(int index) {
  const std::string name = CardNameAt(index);
  CardIniName = CardIniFileName(name);
  Card = TCardSettings{};
  if (!CardNameUsable(name)) {
    // A name that would point the file elsewhere (or carries bytes no file
    // name should) is never used as one; the card type runs on defaults.
    Warn(QStringLiteral("The card type name \"%1\" cannot be used as a file name; its settings are the "
                        "defaults")
             .arg(FromAnsi(name)));
    return;
  }
  const platform::TIniFile ini(ProgramDir + CardIniName);
  TCardSettings defaults;
  auto keys = CardKeys(Card);
  auto defaultKeys = CardKeys(defaults);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const TCardKey& k = keys[i];
    if (auto* s = std::get_if<std::string*>(&k.field))
      **s = ini.ReadString(k.section, k.key, *std::get<std::string*>(defaultKeys[i].field));
    else
      *std::get<std::int32_t*>(k.field) =
          ini.ReadInteger(k.section, k.key, *std::get<std::int32_t*>(defaultKeys[i].field));
  }
  for (const std::string& note : LimitCardNumbers(Card)) NoteSetting(note + " (" + CardIniName + ")");
  for (const std::string& note : LimitCardTexts(Card)) NoteSetting(note + " (" + CardIniName + ")");
}

void TfzCorvaneV4::SaveCardSettings(int index) {
  const std::string name = CardNameAt(index);
  CardIniName = CardIniFileName(name);
  if (!CardNameUsable(name))
    throw platform::EIniFileException("Unable to write to " + ProgramDir + CardIniName);
  platform::TIniFile ini(ProgramDir + CardIniName);
  for (const TCardKey& k : CardKeys(Card)) {
    if (auto* s = std::get_if<std::string*>(&k.field)) ini.WriteString(k.section, k.key, **s);
    else ini.WriteInteger(k.section, k.key, *std::get<std::int32_t*>(k.field));
  }
  ini.UpdateFile();
}

}  // namespace corvane
