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
  if (!smsTextMode_) {
    // The header is text-mode syntax; a modem whose stored format is PDU
    // (the standard's default, or saved so by another program) refuses it
    // after every reset until it is switched.
    SendSmsFormat();
    return;
  }
  comVorel->SendString(command);
  Data.RxBuffer.clear();
  Reply() = rtSmsPrompt;
  AddFuncLog("Send SMS to : " + number);
  AddFuncLog("F008 : " + command);
  CommandSent(rtSmsPrompt);
}

void TConsoleLine::SendSmsFormat() {
  const std::string command = "AT+CMGF=1\r";
  comVorel->SendString(command);
  Data.RxBuffer.clear();
  Reply() = rtSmsFormat;
  AddFuncLog("F026 : " + command);
  CommandSent(rtSmsFormat);
}

void TConsoleLine::HandleSmsFormatReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  const at::TFinal final = at::FindFinalResult(Data.RxBuffer).kind;
  if (final == at::TFinal::None) return;
  AddFuncLog("F026-1: " + at::Readable(Data.RxBuffer));
  Data.RxBuffer.clear();
  // A modem that refuses the switch may be in text mode all the same: the
  // header is tried, and its own refusals are counted.
  if (final != at::TFinal::Ok) AddFuncLog("F026-2: text mode refused, header sent as it is");
  smsTextMode_ = true;
  ResendSms();
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
  smsEcho_ = SmsText();
  const std::string text = smsEcho_ + kCtrlZ;
  comVorel->SendString(text);
  Reply() = rtSmsSent;
  Data.RxBuffer.clear();
  AddFuncLog("F024-1:Send SMS : " + text);
  CommandSent(rtSmsSent);
}

void TConsoleLine::HandleSmsSentReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  AddFuncLog("F025 : " + Data.RxBuffer);
  // A modem with echo on sends the typed text back first: a text "OK" would
  // otherwise read as the modem's own result line.
  const std::string_view buffer(Data.RxBuffer);
  const std::size_t echoed = buffer.substr(0, smsEcho_.size()) == smsEcho_ ? smsEcho_.size() : 0;
  if (echoed == 0 && !buffer.empty() && std::string_view(smsEcho_).substr(0, buffer.size()) == buffer) return;
  const at::TFinalResult final = at::FindFinalResult(buffer.substr(echoed));
  if (final.kind == at::TFinal::Ok && final.head.find("+CMGS:") == std::string_view::npos) {
    // Only the network's message reference says the SMS went out.
    AddFuncLog("F025-5: OK without +CMGS, the SMS is not confirmed");
    CountSmsError();
    return;
  }
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

// A refused SMS is sent again after a pause: a modem refusing it at once
// would otherwise be asked dozens of times a second. Past the card's failure
// limit the modem is reset and the SMS waits out the restart; a modem that
// still refuses it after that is not asked for ever: the step is shown
// failed and the chain goes on.
void TConsoleLine::CountSmsError() {
  Reply() = rtIdle;
  Data.RxBuffer.clear();
  ++Data.SmsErrorCount;
  if (Data.SmsErrorCount > Form.Card.maxgagal) {
    Data.SmsErrorCount = 0;
    if (++Session.smsResets > SmsResetsPerStep) {
      AddFuncLog("F025-4: SMS refused after " + std::to_string(SmsResetsPerStep) + " modem reset(s); SMS failed");
      GiveUpSms();
      return;
    }
    SendModemReset();
    return;
  }
  tSmsRetry_->SetInterval(SmsRetryPauseMs);
  tSmsRetry_->SetEnabled(true);
}

void TConsoleLine::StartSms(LineJob job) {
  Data.SmsErrorCount = 0;
  Session.smsResets = 0;
  Data.Job = job;
  ResendSms();
}

void TConsoleLine::GiveUpSms() {
  tSmsRetry_->SetEnabled(false);
  // A modem still taking the text would swallow the next commands as part
  // of it; ESC leaves the entry (and is ignored by a modem outside it).
  if ((Reply() == rtSmsSent || Reply() == rtSmsPrompt) && comVorel->Open()) comVorel->SendString(std::string(1, kEsc));
  const bool first = Data.Job != ljSms2;
  SetStaticTextColor(first ? lSMS1 : lSMS2, clRed);
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  StartNextStep(first ? TNextStep::Sms2 : TNextStep::CekPulsa, ljIdle);
}

void TConsoleLine::ResendSms() {
  SendSmsHeader(Data.Job == ljSms1 ? Form.Card.phpenerimasms : Form.Card.phpenerimasms2);
}

void TConsoleLine::tSmsRetryTimer() {
  tSmsRetry_->SetEnabled(false);
  // Only while the line still waits behind the pause or reset of this step;
  // anything that took the line over since has its own reply under way.
  if (Reply() != rtIdle) return;
  if (Data.Job == ljSms1 || Data.Job == ljSms2) ResendSms();
  else if (Data.Job == ljCekPulsa && !Data.UssdPending) SendUssdCommand(Form.Card.cekpulsa);
}

// ---------------------------------------------------------------------------
// Balance check

void TConsoleLine::SendUssd(const std::string& code) {
  Session.ussdShortCount = 0;
  SendUssdCommand(code);
}

void TConsoleLine::SendUssdCommand(const std::string& code) {
  const std::string command = std::string(CmdUssdHead) + code + "\"\r\n";
  if (!comVorel->Open()) return;
  if (!NumberUsable(code, "F029 :")) {
    AddFuncLog("Cek Pulsa Error");
    EndUssd(false);
    return;
  }
  comVorel->SendString(command);
  AddFuncLog("F029 :" + command);
  Data.RxBuffer.clear();
  Reply() = rtUssd;
  CommandSent(rtUssd);
}

// The balance check is over without a balance: shown failed, and the line
// is idle after its chain, where a new card starts the next one.
void TConsoleLine::GiveUpUssd() { EndUssd(true); }

void TConsoleLine::EndUssd(bool sessionOpened) {
  // A network session left open would answer the next card's request, or
  // hold the modem's USSD until the network times it out. A request the
  // modem refused, or never got, opened none.
  if (sessionOpened && comVorel->Open()) {
    comVorel->SendString("AT+CUSD=2\r");
    AddFuncLog("F030-2 : AT+CUSD=2, the balance session closed");
  }
  Data.UssdPending = false;
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  SetStaticTextColor(lCekPulsa, clRed);
  Data.Job = ljIdle;
  tOn->SetEnabled(false);
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
    EndUssd(false);
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

  // Status 4 (not supported) and 5 (network time-out) are refusals, also
  // when the network puts a text in them.
  if (const std::size_t tag = answer.find("+CUSD:"); tag != std::string::npos) {
    std::size_t d = tag + 6;
    while (d < answer.size() && answer[d] == ' ') ++d;
    if (d < answer.size() && (answer[d] == '4' || answer[d] == '5') &&
        (d + 1 == answer.size() || answer[d + 1] == ',' || answer[d + 1] == '\r' || answer[d + 1] == '\n')) {
      AddFuncLog("F031-2: balance refused by the network (status " + std::string(1, answer[d]) +
                 "): " + at::Readable(answer));
      AddFuncLog("Cek Pulsa Error");
      GiveUpUssd();
      Data.RxBuffer = rest;
      return;
    }
  }
  if (answer.size() < kShortestBalanceAnswer) {
    // No message in it (the network ended the session or refused the code):
    // asked again, up to the card's failure limit.
    ++Session.ussdShortCount;
    if (Session.ussdShortCount > Form.Card.maxgagal) {
      AddFuncLog("Cek Pulsa Error");
      GiveUpUssd();
      Data.RxBuffer = rest;
      return;
    }
    // A network that has just ended the session ends the next one too when
    // asked at once; the pause gives it time.
    Data.UssdPending = false;
    Reply() = rtIdle;
    Data.RxBuffer = rest;
    AddFuncLog("F031-1: no balance in the answer, asking again in " + std::to_string(UssdRetryPauseMs) + " ms");
    tSmsRetry_->SetInterval(UssdRetryPauseMs);
    tSmsRetry_->SetEnabled(true);
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
