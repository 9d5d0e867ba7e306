// SMS and balance check of a line.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include <string>

#include "SerPort.h"
#include "uAtLines.h"
#include "uConsoleLine.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"

namespace corvane {

namespace {

constexpr char kCtrlZ = '\x1A';
constexpr char kEsc = '\x1B';

// A balance answer shorter than this holds no message (a line end,
// "+CUSD:", a blank, the status digit and a line end are 12).
constexpr std::size_t kShortestBalanceAnswer = 14;

}  // namespace

// ---------------------------------------------------------------------------
// SMS

void TConsoleLine::SendSmsHeader(const std::string& number) {
  const std::string command = "AT+CMGS=\"" + number + "\"\r";
  if (!comVorel->Open()) return;
  tSmsRetry_->SetEnabled(false);
  if (!NumberUsable(number, "F008 : ")) {
    StartNextStep(Data.Job == ljSms1 ? TNextStep::Sms2 : TNextStep::CekPulsa, ljIdle);
    return;
  }
  comVorel->SendString(command);
  Data.RxBuffer.clear();
  Reply() = rtSmsPrompt;
  AddFuncLog("Send SMS to : " + number);
  AddFuncLog("F008 : " + command);
}

// The text of the SMS under way. Ctrl-Z would send it early and ESC would
// cancel it, so neither may travel inside it.
std::string TConsoleLine::SmsText() {
  const std::string& configured = Data.Job == ljSms1 ? Form.Card.smstextsend : Form.Card.smstextsend2;
  std::string text;
  text.reserve(configured.size());
  for (char c : configured)
    if (c != kCtrlZ && c != kEsc) text += c;
  if (text.size() != configured.size()) AddFuncLog("F024-2: Ctrl-Z and ESC left out of the SMS text");
  return text;
}

void TConsoleLine::HandleSmsPrompt(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  AddFuncLog("F024 : " + Data.RxBuffer);
  if (!at::HasInputPrompt(Data.RxBuffer)) {
    // A header the modem refuses never gets its prompt: count it like a
    // refused text instead of waiting for good.
    if (at::FindFinalResult(Data.RxBuffer).kind == at::TFinal::Error) CountSmsError();
    return;
  }
  const std::string text = SmsText() + kCtrlZ;
  comVorel->SendString(text);
  Reply() = rtSmsSent;
  Data.RxBuffer.clear();
  AddFuncLog("F024-1:Send SMS : " + text);
}

void TConsoleLine::HandleSmsSentReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  AddFuncLog("F025 : " + Data.RxBuffer);
  const at::TFinalResult final = at::FindFinalResult(Data.RxBuffer);
  if (final.kind == at::TFinal::Ok) {
    AddFuncLog("F025-1: SMS SENT");
    Data.RxBuffer.clear();
    if (Data.Job == ljSms1) {
      SetStaticTextColor(lSMS1, clLime);
      StartNextStep(TNextStep::Sms2, ljIdle);
    } else {
      SetStaticTextColor(lSMS2, clLime);
      StartNextStep(TNextStep::CekPulsa, ljIdle);
    }
    return;
  }
  if (final.kind == at::TFinal::Error) {
    AddFuncLog("F025-2: Send SMS error");
    CountSmsError();
  }
}

// A refused SMS is sent again at once: the next try waits for the modem's
// answer to this one, so the pace is the modem's. Past the card's failure
// limit the modem is reset, and the SMS waits out the restart.
void TConsoleLine::CountSmsError() {
  Reply() = rtIdle;
  Data.RxBuffer.clear();
  ++Data.SmsErrorCount;
  if (Data.SmsErrorCount > Form.Card.maxgagal) {
    Data.SmsErrorCount = 0;
    SendModemReset();
    tSmsRetry_->SetEnabled(true);
    return;
  }
  ResendSms();
}

void TConsoleLine::ResendSms() {
  SendSmsHeader(Data.Job == ljSms1 ? Form.Card.phpenerimasms : Form.Card.phpenerimasms2);
}

void TConsoleLine::tSmsRetryTimer() {
  tSmsRetry_->SetEnabled(false);
  // Only while the line still waits behind the reset it sent for this SMS;
  // anything that took the line over since has its own reply under way.
  const bool smsUnderWay = Data.Job == ljSms1 || Data.Job == ljSms2;
  if (smsUnderWay && (Reply() == rtReset || Reply() == rtIdle)) ResendSms();
}

// ---------------------------------------------------------------------------
// Balance check

void TConsoleLine::SendUssd(const std::string& code) {
  ussdShortCount_ = 0;
  SendUssdCommand(code);
}

void TConsoleLine::SendUssdCommand(const std::string& code) {
  const std::string command = std::string(CmdUssdHead) + code + "\"\r\n";
  if (!comVorel->Open()) return;
  if (!NumberUsable(code, "F029 :")) {
    // As a refused request: the line stays at the balance step, idle.
    AddFuncLog("Cek Pulsa Error");
    Data.RxBuffer.clear();
    Reply() = rtIdle;
    return;
  }
  comVorel->SendString(command);
  AddFuncLog("F029 :" + command);
  Data.RxBuffer.clear();
  Reply() = rtUssd;
}

void TConsoleLine::HandleUssdReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  AddFuncLog("F030 :" + Data.RxBuffer);
  const at::TFinalResult final = at::FindFinalResult(Data.RxBuffer);
  if (final.kind == at::TFinal::Ok) {
    Data.UssdPending = true;
    Reply() = rtIdle;
    // Some modems put the network's answer before their "OK", others right
    // behind it in the same chunk: it is the answer awaited, not noise.
    if (at::FindUssdReport(Data.RxBuffer).started) {
      ParseCusd(std::string(Data.RxBuffer));
      return;
    }
    Data.RxBuffer.clear();
    return;
  }
  if (final.kind == at::TFinal::Error) {
    AddFuncLog("Cek Pulsa Error");
    Data.RxBuffer.clear();
    Reply() = rtIdle;
  }
}

void TConsoleLine::ParseCusd(const std::string& Text) {
  // Text may be RxBuffer itself: everything needed is taken before the
  // buffer changes.
  const at::TUssdReport report = at::FindUssdReport(Text);
  if (!report.complete) return;  // no report yet, or the rest of it is on its way
  const std::string answer = Text.substr(report.begin, report.end - report.begin);
  const std::string rest = Text.substr(report.end);
  AddFuncLog("F031:" + Text);

  if (answer.size() < kShortestBalanceAnswer) {
    // No message in it (the network ended the session or refused the code):
    // asked again, up to the card's failure limit.
    ++ussdShortCount_;
    if (ussdShortCount_ > Form.Card.maxgagal) {
      AddFuncLog("Cek Pulsa Error");
      Data.UssdPending = false;
      Data.RxBuffer = rest;
      Reply() = rtIdle;
      return;
    }
    SendUssdCommand(Form.Card.cekpulsa);
    return;
  }

  const std::size_t comma = answer.find(',');
  const std::string balance = comma == std::string::npos ? answer : answer.substr(comma + 1);
  eCekPulsa->setText(FromAnsi(balance));
  // The operator reads a balance from its start, as the old edit showed it.
  eCekPulsa->setCursorPosition(0);
  Reply() = rtIdle;
  Data.UssdPending = false;
  SetStaticTextColor(lCekPulsa, clLime);
  Data.Job = ljIdle;
  // What followed the report belongs to the idle receiver.
  Data.RxBuffer = rest;
  tOn->SetEnabled(false);
}

}  // namespace corvane
