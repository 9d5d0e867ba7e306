// A line's receivers of what the modem sends of its own accord: the idle
// receiver, and the card reports, which count wherever they arrive.
#include <QLabel>

#include "uConsoleLine.h"
#include "uConstType.h"

namespace corvane {

void TConsoleLine::BeforeReplyHandler(const std::string& Chunk) {
  // A modem that babbles without ever finishing an answer must not make the
  // buffer grow without end; what it held is no answer anybody waits for.
  if (Data.RxBuffer.empty() || Data.RxBuffer.size() + Chunk.size() <= RxBufferLimit) return;
  AddFuncLog("F033 : receive buffer over " + std::to_string(RxBufferLimit) + " bytes, cleared: " +
             at::Readable(Data.RxBuffer, 80));
  Data.RxBuffer.clear();
}

void TConsoleLine::AfterReplyHandler(const std::string& Chunk) {
  // After the reply handler, so that the chunk is taken in the reply state it
  // arrived in; in stream order, so that an out and an in are both seen.
  for (const int report : CardReports.Feed(Chunk)) ParseWind(report);
}

void TConsoleLine::HandleIdle(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  const std::string& text = Data.RxBuffer;
  if (Data.Job == ljInCall && !at::CallSetupFailure(text).empty()) {
    CallDropped();
    return;
  }
  bool crFound = false;
  if (const std::size_t cr = text.find('\r'); cr != std::string::npos) {
    AddFuncLog("F028-1 : cr pos " + std::to_string(cr + 1));
    AddFuncLog(at::Readable(text));
    if (text.size() < 9) return;
    crFound = true;
  } else if (const std::size_t lf = text.find('\n'); lf != std::string::npos) {
    AddFuncLog("F028-4 : LF pos " + std::to_string(lf + 1));
    AddFuncLog(at::Readable(text));
    if (text.size() < 10) return;
  } else {
    AddFuncLog("F028-7 : No CrLf");
    return;
  }
  // A report cut before its line end waits for the rest; routed half, its
  // code or its text would be lost with the buffer.
  if (at::EndsInsideUnsolicitedLine(text)) return;

  if (Data.UssdPending) {
    // The balance parser empties the buffer once it has used the answer.
    ParseCusd(Data.RxBuffer);
    return;
  }
  if (const std::size_t s = text.find("+STIN:"); s != std::string::npos) {
    AddFuncLog("F028-2 : Rec.STIN");
    const char d = s + 7 < text.size() ? text[s + 7] : '\0';
    if (d >= '1' && d <= '9') {
      ParseStin(Data.RxBuffer);
    } else {
      const bool menuCame = AnnouncesMenu(text);
      AddFuncLog(at::Readable(text) + " : " + (d ? std::string(1, d) : std::string()));
      Data.RxBuffer.clear();
      AddFuncLog("F028-3 :clr data");
      if (menuCame) StkMenuAnnounced();
      return;
    }
  } else if (Data.Job != ljStart && text.find("+CMTI:") != std::string::npos) {
    // The message is neither read nor deleted.
    AddFuncLog(crFound ? "F028-3 : Receive SMS" : "F028-6 : Receive SMS");
  }
  // "+WIND:" lines need nothing here: AfterReplyHandler acts on them.
  Data.RxBuffer.clear();
}

bool TConsoleLine::LineIdleAfterChain() const {
  return Data.Job == ljIdle || (Data.Job == ljStart && Reply() == rtIdle && !tOn->Enabled());
}

void TConsoleLine::ParseWind(int windValue) {
  if (windValue == 1) {
    AddFuncLog("F032-1 :Card Exists");
    // A reset still waiting out its pace has not gone out: this report is
    // the previous reboot's, not the one that reset will bring.
    if (tResetPace->Enabled()) return;
    const bool cardWasOut = BringUp.cardOut;
    BringUp.cardOut = false;
    if (Reply() == rtReset) {
      if (!BringUp.resetOkSeen) BringUp.cardReportedInReset = true;
      else AfterResetCardReported();
      return;
    }
    BringUp.awaitingBootReport = false;
    if (!LineIdleAfterChain()) return;  // elsewhere only logged
    if (cardWasOut || Session.imsi.empty()) {
      StartNewCard();
      return;
    }
    // Reported again without having been taken out (the modem rebooted by
    // itself, or a holder that did not report the swap): the IMSI tells
    // whether this is a new card. The same card stays as it was, a card
    // given up included.
    SendCardCheck();
    return;
  }
  AddFuncLog("F032-2 :Card NOT Exists");
  Data.Job = ljIdle;
  SetStatusNotDone();
  Data.StkArmed = true;
  Data.FirstCall = true;
  Reply() = rtIdle;
  Data.RxBuffer.clear();
  tOn->SetEnabled(false);
  EndSession();
  BringUp.cardOut = true;
}

void TConsoleLine::StartNewCard() {
  // A new card goes the whole way: signal, SIM Toolkit on, reset and the
  // card's report, then its IMSI and menu, as the start timer runs it.
  EndSession();
  SetStatusNotDone();
  Data.Job = ljStart;
  tOn->SetEnabled(true);
  Data.StkArmed = true;
  Data.FirstCall = true;
}

}  // namespace corvane
