#include "PrepBench.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "ui_TfzInitModem.h"

namespace prep_test {

std::string Scenario(const std::string& extra) {
  return "[modem]\n"
         "echo = 1\n"
         "wind = 0\n"
         "stsf = 0\n"
         "restart_ms = 100\n"
         "sim_init_ms = 20\n"
         "card = A\n" +
         extra +
         "\n[card A]\n"
         "imsi = 510109900000{nnn}\n";
}

modemsim::FaultRule Fault(const std::vector<std::pair<std::string, std::string>>& keys) {
  modemsim::FaultRule rule;
  for (const auto& [key, value] : keys) rule.Set(key, value);
  return rule;
}

PrepBench::PrepBench(int count, int firstCom, const std::string& scenario, int replyTimeOutMs) {
  modemsim::BankOptions o;
  o.count = count;
  o.firstCom = firstCom;
  o.comDir = comDir.Path();
  o.scenario = modemsim::Scenario::Parse(scenario);
  bank = std::make_unique<modemsim::ModemBank>(std::move(o));
  window = std::make_unique<corvane::prep::TfzInitModem>(
      corvane::prep::TPrepFormOptions{.limitInstances = false, .replyTimeOutMs = replyTimeOutMs});
}

PrepBench::~PrepBench() {
  // The window (and its port) goes before the modems it talks to.
  window.reset();
  bank.reset();
}

void PrepBench::SetPort(const QString& port, const QString& baud) {
  window->Form().ePort->setText(port);
  window->Form().eBaud->setText(baud);
  window->Form().btnSetPort1->click();
}

std::string PrepBench::HostSince(std::size_t from, int index) const {
  const std::string all = bank->At(index).Transcript().HostText();
  return from < all.size() ? all.substr(from) : std::string();
}

std::vector<std::string> PrepBench::Log() const {
  std::vector<std::string> lines;
  QListWidget* list = window->Form().lstFunc;
  for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
  return lines;
}

bool PrepBench::WaitLog(const std::string& line, int ms) {
  return WaitUntil([&] { auto l = Log(); return !l.empty() && l.back() == line; }, ms);
}

bool PrepBench::WaitModemReady(int index) {
  return bank->At(index).WaitFor(
      [](const modemsim::ModemStatus& s) { return s.hostPresent && !s.booting && s.restarts >= 1; }, 5000ms);
}

}  // namespace prep_test
