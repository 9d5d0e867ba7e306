#include "ScenarioSupport.h"

#include <QLineEdit>
#include <QListWidget>

#include <chrono>
#include <stdexcept>

#include "uAtLines.h"

namespace corvane::test {

const char* const kBaseScenario =
    "[modem]\n"
    "wind = 1\n"
    "stsf = 1\n"
    "echo = 1\n"
    "csq = 21,0\n"
    "restart_ms = 60\n"
    "sim_init_ms = 20\n"
    "menu_ms = 40\n"
    "step_ms = 40\n"
    "card = A\n"
    "[card A]\n"
    "imsi = 510109876543{nnn}\n"
    "menu = main\n"
    "[card B]\n"
    "imsi = 510109876544{nnn}\n"
    "menu = main\n"
    "[card C]\n"
    "imsi = 510109876545{nnn}\n"
    "[node main]\n"
    "type = menu\n"
    "title = Kartu Perdana\n"
    "item.1 = Info -> end\n"
    "[node end]\n"
    "type = end\n";

TScenarioRig::TScenarioRig(int modems, const std::string& scenarioExtra)
    : TScenarioRig(modems, modemsim::Scenario::Parse(std::string(kBaseScenario) + scenarioExtra)) {}

TScenarioRig::TScenarioRig(int modems, modemsim::Scenario scenario) {
  modemsim::BankOptions o;
  o.count = modems;
  o.firstCom = 1;
  o.comDir = folder.ComDir();
  o.scenario = std::move(scenario);
  bank_ = std::make_unique<modemsim::ModemBank>(std::move(o));
  // Booted, and the card has announced its menu: what a modem said before
  // the console opened its port is unheard, never half heard.
  for (int n = 1; n <= modems; ++n)
    if (!Modem(n).WaitFor([](const modemsim::ModemStatus& s) { return s.restarts >= 1 && s.menuReady; },
                          std::chrono::seconds(5)))
      throw std::runtime_error("simulated modem did not boot");

  std::string ini = "[Corvane_V4]\r\n";
  for (int n = 1; n <= LineCount; ++n) {
    const std::string N = std::to_string(n);
    ini += "comport_" + N + "=" + N + "\r\nRegistrasiAktif_" + N + "=1\r\nCallAktif_" + N + "=0\r\nCall2Aktif_" +
           N + "=0\r\nSMSAktif_" + N + "=0\r\nSMS2Aktif_" + N + "=0\r\nCekPulsaAktif_" + N + "=0\r\n";
  }
  folder.WriteFile("Corvane_v4.ini", ini);
  window_ = std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir(), false});
}

TScenarioRig::~TScenarioRig() {
  window_.reset();  // ports closed before the modems go
  bank_.reset();
}

std::string TScenarioRig::Imsi(const std::string& card, int modem) {
  const std::string head = card == "A" ? "510109876543" : card == "B" ? "510109876544" : "510109876545";
  std::string n = std::to_string(modem);
  while (n.size() < 3) n.insert(n.begin(), '0');
  return head + n;
}

std::vector<std::string> HostCommands(const modemsim::Modem& m) {
  std::vector<std::string> commands;
  std::string current;
  for (char c : m.Transcript().HostText()) {
    if (c == '\r') {
      if (!current.empty()) commands.push_back(current);
      current.clear();
    } else if (c != '\n') {
      current += c;
    }
  }
  if (!current.empty()) commands.push_back(current);
  return commands;
}

std::vector<std::string> HostCommandsFrom(const modemsim::Modem& m, std::size_t first) {
  std::vector<std::string> all = HostCommands(m);
  if (first >= all.size()) return {};
  return {all.begin() + static_cast<std::ptrdiff_t>(first), all.end()};
}

std::vector<long long> CommandTimes(const modemsim::Modem& m, const std::string& command) {
  std::vector<long long> times;
  for (const modemsim::TranscriptEntry& e : m.Transcript().Entries())
    if (e.direction == modemsim::Direction::ToModem && e.bytes.find(command) != std::string::npos)
      times.push_back(e.ms);
  return times;
}

std::vector<std::string> LogEntries(TConsoleLine& l) {
  std::vector<std::string> entries;
  for (int i = 0; i < l.lstFunc->count(); ++i)
    entries.push_back(l.lstFunc->item(i)->data(Qt::UserRole).toByteArray().toStdString());
  return entries;
}

int LogIndex(TConsoleLine& l, const std::string& text, int from) {
  const std::vector<std::string> entries = LogEntries(l);
  for (int i = std::max(from, 0); i < static_cast<int>(entries.size()); ++i)
    if (entries[static_cast<std::size_t>(i)].find(text) != std::string::npos) return i;
  return -1;
}

bool Logged(TConsoleLine& l, const std::string& text) { return LogIndex(l, text) >= 0; }

int LogCount(TConsoleLine& l, const std::string& text) {
  int n = 0;
  for (const std::string& e : LogEntries(l))
    if (e.find(text) != std::string::npos) ++n;
  return n;
}

bool ImsiRead(TConsoleLine& l, const std::string& imsi) {
  const int shown = LogIndex(l, "F019-1 IMSI : " + imsi);
  return l.eISTM->text().toStdString() == imsi && shown >= 0 && LogIndex(l, "Get Info", shown) >= 0;
}

std::vector<std::string> FirstCommands(const modemsim::Modem& m, std::size_t from, std::size_t count) {
  WaitUntil([&] { return HostCommandsFrom(m, from).size() >= count; }, 5000);
  std::vector<std::string> c = HostCommandsFrom(m, from);
  if (c.size() > count) c.resize(count);
  return c;
}

}  // namespace corvane::test
