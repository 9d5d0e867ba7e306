#include "StkLineFixture.h"

#include <QCheckBox>

#include "uConstType.h"

namespace corvane::test {

std::string MainIni(bool registrasi, const std::string& maxDelay) {
  std::string ini = "[Corvane_V4]\r\nKARTU=Demo;\r\nkartuaktif=0\r\nMAXDELAY=" + maxDelay + "\r\n";
  for (int n = 1; n <= LineCount; ++n) {
    const std::string s = "_" + std::to_string(n);
    ini += "comport" + s + "=" + std::to_string(n) + "\r\n";
    ini += "RegistrasiAktif" + s + "=" + (registrasi ? "1" : "0") + "\r\n";
    for (const char* key : {"CallAktif", "Call2Aktif", "SMSAktif", "SMS2Aktif", "CekPulsaAktif"})
      ini += std::string(key) + s + "=0\r\n";
  }
  return ini;
}

TStkLine::TStkLine(int number, const std::string& maxDelay) {
  folder_.WriteFile("Corvane_v4.ini", MainIni(false, maxDelay));
  folder_.WriteFile("corvane_v4_Demo.ini", kDemoCardIni);
  modem_ = &folder_.AddModem(number);
  window_ = std::make_unique<TfzCorvaneV4>(TFormOptions{folder_.Dir(), false});
  line_ = &window_->Line(number);
  line_->ckOn->setChecked(true);
  line_->tOn->SetEnabled(false);
  Drain();
}

TStkLine::~TStkLine() {
  if (line_) line_->ckOn->setChecked(false);
}

std::string TStkLine::SentUntil(const std::string& needle, int ms) {
  std::string got;
  WaitUntil(
      [&] {
        got += modem_->ReadAvailable();
        return got.find(needle) != std::string::npos;
      },
      ms);
  return got;
}

std::string TStkLine::SentWithin(int ms) {
  Pump(ms);
  return modem_->ReadAvailable();
}

void TStkLine::Drain() {
  Pump(20);
  modem_->ReadAvailable();
}

std::vector<std::string> TStkLine::Log() const {
  std::vector<std::string> out;
  for (int i = 0; i < line_->lstFunc->count(); ++i) {
    const QByteArray raw = line_->lstFunc->item(i)->data(Qt::UserRole).toByteArray();
    out.emplace_back(raw.constData(), static_cast<std::size_t>(raw.size()));
  }
  return out;
}

bool TStkLine::Logged(const std::string& part) const {
  for (const std::string& e : Log())
    if (e.find(part) != std::string::npos) return true;
  return false;
}

std::vector<std::string> TStkLine::Display() const {
  std::vector<std::string> out;
  for (int i = 0; i < line_->lstDisplay->count(); ++i) out.push_back(ToAnsi(line_->lstDisplay->item(i)->text()));
  return out;
}

void TStkLine::Request(const std::string& code) {
  line_->SendStkGetInfo(code);
  SentUntil("AT+STGI=");
  Drain();
}

}  // namespace corvane::test
