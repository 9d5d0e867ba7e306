#include "calls/CallsBench.h"

#include <QCheckBox>
#include <QListWidget>

#include <chrono>
#include <stdexcept>

#include "SerPort.h"

namespace corvane::test {

using namespace std::chrono_literals;

TCallsBench::TCallsBench(const std::string& modemKeys, const std::string& sections, int lineNumber) {
  std::string ini = "[Corvane_V4]\r\n";
  for (int n = 1; n <= LineCount; ++n) ini += "comport_" + std::to_string(n) + "=" + std::to_string(n) + "\r\n";
  folder.WriteFile("Corvane_v4.ini", ini);

  modemsim::BankOptions o;
  o.count = 1;
  o.firstCom = lineNumber;
  o.comDir = folder.ComDir();
  o.scenario = modemsim::Scenario::Parse(std::string(kQuickModem) + modemKeys + kQuickNetwork + sections);
  bank = std::make_unique<modemsim::ModemBank>(std::move(o));
  modem = &bank->At(0);
  if (!modem->WaitFor([](const modemsim::ModemStatus& s) { return s.restarts >= 1; }, 3s))
    throw std::runtime_error("the simulated modem did not boot");

  window = std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir(), false});
  line = &window->Line(lineNumber);
  TCardSettings& card = window->Card;
  card.no2dial = "0811";
  card.no2dial2 = "0812";
  card.phpenerimasms = "0821";
  card.phpenerimasms2 = "0822";
  card.smstextsend = "SMS1";
  card.smstextsend2 = "SMS2";
  card.cekpulsa = "*888#";
  card.maxgagal = 25;
  line->tHangup->SetInterval(300);
  // The bench's modems report nothing of their card (factory settings) and
  // reboot in milliseconds.
  line->BootReportWaitMs = 100;
  line->ResetPaceMs = 200;
  Tick(false, false, false, false, false);
}

TCallsBench::~TCallsBench() {
  // The window (and its ports) goes before the modems it talks to.
  window.reset();
  bank.reset();
}

void TCallsBench::Tick(bool call, bool call2, bool sms1, bool sms2, bool cekPulsa, bool registrasi) {
  Tick(*line, call, call2, sms1, sms2, cekPulsa, registrasi);
}

void TCallsBench::Tick(TConsoleLine& l, bool call, bool call2, bool sms1, bool sms2, bool cekPulsa,
                       bool registrasi) {
  l.ckRegistrasi->setChecked(registrasi);
  l.ckCall->setChecked(call);
  l.ckCall2->setChecked(call2);
  l.ckSMS1->setChecked(sms1);
  l.ckSMS2->setChecked(sms2);
  l.ckCekPulsa->setChecked(cekPulsa);
}

void TCallsBench::SwitchOn(bool runChain) {
  line->ckOn->setChecked(true);
  if (!line->comVorel->Open()) throw std::runtime_error("the line did not open its port");
  if (!runChain) line->tOn->SetEnabled(false);
  if (!WaitUntil([&] { return modem->Status().hostPresent; }))
    throw std::runtime_error("the modem never saw the line open");
  Pump(50);
}

std::string TCallsBench::Host() const { return modem->Transcript().HostText(); }

std::size_t TCallsBench::Count(const std::string& needle) const {
  const std::string text = Host();
  std::size_t n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

bool TCallsBench::WaitHost(const std::string& needle, std::size_t times, int ms) const {
  return WaitUntil([&] { return Count(needle) >= times; }, ms);
}

std::string TCallsBench::Log() const {
  std::string all;
  for (int i = 0; i < line->lstFunc->count(); ++i) {
    const QByteArray raw = line->lstFunc->item(i)->data(Qt::UserRole).toByteArray();
    all.append(raw.constData(), static_cast<std::size_t>(raw.size()));
    all += '\n';
  }
  return all;
}

bool TCallsBench::Logged(const std::string& needle) const { return Log().find(needle) != std::string::npos; }

}  // namespace corvane::test
