// The SIM Toolkit side of a line: the menu automaton, its commands and the
// card's notifications.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include <array>
#include <cstdio>

#include "SerPort.h"
#include "uConsoleLine.h"
#include "uConstType.h"
#include "uStkText.h"
#include "uzCorvaneV4.h"
#include "ui_TfzCorvaneV4.h"

namespace corvane {

namespace {

constexpr char kCR = '\r';
constexpr char kCtrlZ = 0x1A;
constexpr char kEsc = 0x1B;
constexpr std::string_view kBar = "===================";

// The two menu screens differ only in these.
struct TMenuLayout {
  const char* header;
  std::size_t shownOver;  // items longer than this are shown and logged
  const char* answerHead;
  int endTagBase;         // end tag number of keyword k is k + endTagBase
  bool fallBackToItem1;   // an empty item 0 (a selection list's own title) is passed over
};
constexpr TMenuLayout kMainMenu{"F016-1:======= MENU =======", 3, "0,1,", 1, false};
constexpr TMenuLayout kSelectionList{"F016-11:======= MENU =======", 1, "6,1,", 11, true};

// "ERROR" answers to "AT+STGI=": which code is asked next, by the code that
// failed and the error count of the card.
struct TLadderRung {
  std::int32_t failed;
  std::int32_t fromCount;
  std::int32_t toCount;
  const char* next;
};
constexpr TLadderRung kErrorLadder[] = {
    {0, 1, 4, "0"},
    {0, 5, 9, "9"},
    {0, 10, 14, "1"},
    {9, 1, 19, "9"},
    // Field firmware answers "+CME ERROR: 515" to a Select Item while the
    // SIM is still busy: asked again after the pause, a few times.
    {6, 1, 9, "6"},
};

// Codes of "+STIN" that ask for the command at once.
constexpr std::array<int, 7> kStinRequests = {0, 1, 3, 6, 7, 8, 9};
// Codes the reply to an answer asks for as they are.
constexpr std::array<int, 5> kReplyRequests = {0, 1, 3, 6, 9};

template <std::size_t N>
bool OneOf(const std::array<int, N>& codes, int n) {
  for (int c : codes)
    if (c == n) return true;
  return false;
}

std::string ByteName(char c) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// Senders

void TConsoleLine::SendStkGetInfo(const std::string& Code) {
  if (!comVorel->Open()) return;
  Data.StkCommand = -1;
  if (Code.empty()) return;
  const std::optional<int> code = stk::ParseDecimal(Code);
  if (!code) return;
  Data.StkCommand = *code;
  // What was queued or paused for the previous request is out of date.
  DropPendingStk({});
  Data.RxBuffer.clear();
  // Line 3 sends the code as it read it: "03" goes out as 3.
  const std::string sentCode = variant_.LogsStkGetInfoSteps ? std::to_string(*code) : Code;
  const std::string command = std::string(CmdStkGetInfo) + sentCode + kCR;
  if (variant_.LogsStkGetInfoSteps) {
    AddFuncLog("F010 bag 3 psData: " + Code);
    AddFuncLog("F010 bag 3: " + command);
  }
  comVorel->SendString(command);
  Reply() = rtStkGetInfo;
  CommandSent(rtStkGetInfo);
  Data.WatchdogTicks = 0;
  tWatchDog->SetEnabled(true);
  AddFuncLog("Get Info");
  if (!variant_.LogsStkGetInfoSteps) AddFuncLog("F010 : " + command);
}

bool TConsoleLine::QueueStkResponse(const std::string& Args) {
  if (!comVorel->Open()) return false;
  if (!StkCommandTextSafe(Args, "answer")) return false;
  const std::int32_t delay = Form.MaxDelayMs(this);
  // The old timer never fires at 0 ms: a delay of 0 or less would keep the
  // answer back for good, so it goes out on the next turn instead.
  tDelay->SetInterval(delay < 1 ? 1 : delay);
  tDelay->SetEnabled(true);
  PendingAnswer = std::string(CmdStkResponse) + Args + kCR;
  if (variant_.LogsQueuedAnswer) AddFuncLog("F012 : ");
  return true;
}

void TConsoleLine::tDelayTimer() {
  tDelay->SetEnabled(false);
  if (!comVorel->Open()) return;
  // The answer belongs to the reply the line still waits on; a line that has
  // moved on (card reported, reset, switched off and on) must not send it.
  if (Reply() != rtStkGetInfo) {
    AddFuncLog("F012-1 : line has moved on, answer not sent: " + PendingAnswer);
    return;
  }
  comVorel->SendString(PendingAnswer);
  Session.stkAnswer = PendingAnswer;
  Reply() = rtStkResponse;
  Data.RxBuffer.clear();
  AddFuncLog("Give Response");
  CommandSent(rtStkResponse);
}

bool TConsoleLine::SendStkResponse(const std::string& Args) {
  if (!comVorel->Open()) return false;
  if (!StkCommandTextSafe(Args, "answer")) return false;
  SendStkAnswer(std::string(CmdStkResponse) + Args + kCR);
  return true;
}

void TConsoleLine::SendStkAnswer(const std::string& command) {
  comVorel->SendString(command);
  Session.stkAnswer = command;
  Reply() = rtStkResponse;
  Data.RxBuffer.clear();
  AddFuncLog("Response");
  AddFuncLog("F013 : " + command);
  CommandSent(rtStkResponse);
}

bool TConsoleLine::SendStkInputData() {
  if (!comVorel->Open()) return false;
  // A Ctrl-Z or ESC inside the text would end or cancel the entry early and
  // the rest would run as a command line.
  if (!StkCommandTextSafe(Data.StkInput, "input text")) return false;
  const std::string text = Data.StkInput + kCtrlZ;
  comVorel->SendString(text);
  Reply() = rtStkResponse;
  Data.RxBuffer.clear();
  CommandSent(rtStkResponse);
  AddFuncLog("data : " + Data.StkInput);
  lstDisplay->addItem(FromAnsi("inp: " + Data.StkInput));
  AddFuncLog("F014 : " + text);
  return true;
}

void TConsoleLine::DropPendingStk(std::string_view why) {
  const bool pending = tDelay->Enabled() || tStkRetry->Enabled();
  tDelay->SetEnabled(false);
  tStkRetry->SetEnabled(false);
  if (pending && !why.empty()) AddFuncLog("F012-2 : " + std::string(why) + ", queued toolkit step dropped");
}

bool TConsoleLine::StkCommandTextSafe(const std::string& text, const char* what) {
  const std::optional<char> bad = stk::CommandBreakingByte(text);
  if (!bad) return true;
  AddFuncLog("F012-3 : " + std::string(what) + " holds the control byte " + ByteName(*bad) +
             ", not sent (check the card settings): " + text);
  return false;
}

// ---------------------------------------------------------------------------
// Notifications

void TConsoleLine::ParseStin(const std::string& Text) {
  Data.RxBuffer += std::string(Text);  // Text may be the buffer itself
  AddFuncLog("F015-1 : " + Data.RxBuffer);
  const std::size_t p = Data.RxBuffer.find("+STIN");
  if (p == std::string::npos) {
    if (Data.RxBuffer.find("ERROR") != std::string::npos) {
      AddFuncLog("F015-3 : Error, stat wait");
      Data.RxBuffer.clear();
      Reply() = rtIdle;
    }
    return;
  }
  const std::string codeText = stk::StinCode(Data.RxBuffer, p);
  if (codeText.empty()) return;
  const std::optional<int> n = stk::ParseDecimal(codeText);
  if (!n) return;
  AddFuncLog("F015-2 : " + Data.RxBuffer);
  if (OneOf(kStinRequests, *n)) {
    SendStkGetInfo(std::to_string(*n));
  } else if (*n == 98) {
    // The card gave up waiting for the user. An answer still queued for its
    // screen is void, and a line that was waiting on a toolkit reply has
    // nothing outstanding any more: idle, it hears the card's next notice.
    Data.RxBuffer.clear();
    DropPendingStk("card timed out");
    if (Reply() == rtStkGetInfo) Reply() = rtIdle;
  } else if (*n == 99) {
    Data.RxBuffer.clear();
    SendStkGetInfo("0");
  } else {
    Data.RxBuffer.clear();
    Reply() = rtIdle;
    AddFuncLog("F015-3 : stat. wait");
  }
}

void TConsoleLine::HandleStkResponseReply(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  AddFuncLog("F021 : " + Data.RxBuffer);
  const std::string& buf = Data.RxBuffer;
  if (const std::size_t p = buf.find("+STIN:"); p != std::string::npos) {
    Session.stkAnswerErrors = 0;
    AddFuncLog(kBar);
    AddFuncLog("F021-1:Receive status");
    const std::size_t from = p + 6;
    const std::string rest = buf.size() > from + 1 ? buf.substr(from, buf.size() - from - 1) : std::string();
    if (rest.find(kCR) == std::string::npos) return;
    std::string digits = stk::StinReplyDigits(rest);
    AddFuncLog("F021-2:rec. " + rest + " angka= " + digits);
    const std::size_t m = digits.size();
    if (m > 2) digits = digits.substr(m - 1);
    if (digits.empty()) {
      // No code to read: waiting on would hold the line here for good.
      AddFuncLog("F021-6:stin without code, stat wait");
      Data.RxBuffer.clear();
      Reply() = rtIdle;
      return;
    }
    const int n = *stk::ParseDecimal(digits);
    AddFuncLog("F021-3:stin" + rest + " angka: " + digits);
    AddFuncLog("len " + std::to_string(m));
    if (OneOf(kReplyRequests, n)) {
      SendStkGetInfo(digits);
    } else {
      // The reply to this request goes to the idle receiver while the
      // watchdog it started runs: an unknown step ends in a modem reset.
      SendStkGetInfo("0");
      Reply() = rtIdle;
      if (!Data.StkArmed) {
        // A registered card's end of session: nobody is left to stop that
        // watchdog, and it would reset the modem in the middle of the
        // calls, SMS and balance check that follow the registration.
        tWatchDog->SetEnabled(false);
        AddFuncLog("F021-7:card registered, watchdog stopped");
      }
    }
    return;
  }
  if (stk::HasInputPrompt(buf)) {
    Session.stkAnswerErrors = 0;
    AddFuncLog(buf);
    if (!SendStkInputData() && comVorel->Open()) {
      // The entry cannot be typed: leave it with ESC, which the modem
      // answers "OK", rather than have it swallow the next commands.
      comVorel->SendString(std::string(1, kEsc));
      Data.RxBuffer.clear();
      CommandSent(rtStkResponse);
    }
    return;
  }
  // A notification cut in two after the "OK" must not be split between this
  // handler and the idle receiver.
  if (at::EndsInsideUnsolicitedLine(buf)) return;
  const at::TFinal final = stk::ReplyFinal(buf);
  if (final == at::TFinal::Ok) {
    AddFuncLog(kBar);
    AddFuncLog("F021-4:Response STK OK no STIN");
    Session.stkAnswerErrors = 0;
    Data.RxBuffer.clear();
    Reply() = rtIdle;
  } else if (final == at::TFinal::Error) {
    AddFuncLog("F021-5:Response STK error");
    Data.RxBuffer.clear();
    Reply() = rtIdle;
    RetryStkAnswer();
  }
}

// The answer as a log line names it: the command without its line end.
std::string TConsoleLine::StkAnswerShown() const {
  const std::string_view command(Session.stkAnswer);
  return at::Readable(command.substr(0, command.find(kCR)));
}

// A refused answer leaves the card still waiting for it: nothing else would
// come of the screen until the card's own time-out.
void TConsoleLine::RetryStkAnswer() {
  if (Session.stkAnswer.empty()) return;
  const std::string answer = StkAnswerShown();
  if (++Session.stkAnswerErrors > StkAnswerRetryLimit) {
    const std::string why = "F021-9: " + answer + " refused " + std::to_string(Session.stkAnswerErrors) + " times; ";
    Session.stkAnswerErrors = 0;
    StkStuck(why);
    return;
  }
  stkRetryAnswer_ = true;
  stkRetryJob_ = Data.Job;
  tStkRetry->SetEnabled(true);
  AddFuncLog("F021-10: error " + std::to_string(Session.stkAnswerErrors) + ", " + answer + " again in " +
             std::to_string(StkRetryPauseMs) + " ms");
}

// ---------------------------------------------------------------------------
// The menu automaton

void TConsoleLine::HandleStkInfo(const std::string& Chunk) {
  Data.RxBuffer += Chunk;
  if (variant_.LogsStkChunk) AddFuncLog("F016 : " + Data.RxBuffer);
  const at::TFinal final = stk::ReplyFinal(Data.RxBuffer);
  // A reply cut short keeps the watchdog running, so a modem that never
  // finishes it is still reset; one cut inside a notification that follows
  // it waits for the rest, which would otherwise be lost with the buffer.
  if (final == at::TFinal::None || at::EndsInsideUnsolicitedLine(Data.RxBuffer)) return;
  tWatchDog->SetEnabled(false);
  if (final == at::TFinal::Error) {
    const bool menuCame = AnnouncesMenu(Data.RxBuffer);
    StkErrorLadder();
    if (menuCame) StkMenuAnnounced();
    return;
  }
  if (!Data.StkArmed) {
    AddFuncLog("F016-0: ==== Kartu belum diganti ====");
    Data.RxBuffer.clear();
    Reply() = rtIdle;
    return;
  }
  if (const std::size_t p = Data.RxBuffer.find("+STIN"); p != std::string::npos) {
    const std::size_t cr = Data.RxBuffer.substr(p, 15).find(kCR);
    if (cr != std::string::npos) ParseStin(Data.RxBuffer.substr(0, cr + 1));
    return;
  }
  switch (Data.StkCommand) {
    case 0: StkMenuBranch(false); break;
    case 6: StkMenuBranch(true); break;
    case 1: StkConfirmBranch(); break;
    case 3: StkInputBranch(); break;
    case 9: StkInfoBranch(); break;
    case 99:
      Data.RxBuffer.clear();
      Reply() = rtIdle;
      AddFuncLog("F016-21: stat wait");
      break;
    default:
      // A command the automaton has no step for (a refresh, a send SS):
      // nothing to answer; the line waits for the card's next notice.
      AddFuncLog("F016-25: no step for command " + std::to_string(Data.StkCommand) + ", stat wait");
      Data.RxBuffer.clear();
      Reply() = rtIdle;
      break;
  }
}

void TConsoleLine::StkMenuBranch(bool selectionList) {
  const TMenuLayout& m = selectionList ? kSelectionList : kMainMenu;
  std::vector<std::string> items;
  if (!stk::SplitStgiItems(Data.RxBuffer, items)) return;
  lstDisplay->clear();
  AddFuncLog(m.header);
  for (const std::string& item : items) {
    if (item.size() <= m.shownOver) continue;
    lstDisplay->addItem(FromAnsi(item));
    AddFuncLog(item);
  }
  // The card's main menu once more after its last walk: the card has had
  // its walks.
  if (!selectionList) {
    if (Session.walks >= RegistrationWalkLimit) {
      RegistrationFailed();
      return;
    }
    // A walk counts when the card's main menu is taken up, however it ends.
    ++Session.walks;
  }
  if (items.empty()) {  // a reply of line ends alone: nothing to match
    NoMenuMatch("menu", "");
    return;
  }
  const std::string* tested = &items[0];
  if (m.fallBackToItem1 && tested->empty()) {
    // A list without a second item has nothing to choose from.
    if (items.size() < 2) {
      StkGiveUpScreen();
      return;
    }
    tested = &items[1];
  }
  const TCardSettings& card = Form.Card;
  const int k = stk::FirstMatchingKeyword(card.katakuncimenu, *tested);
  if (k == 0) {
    NoMenuMatch("menu", *tested);
    return;
  }
  const std::string& answer = card.jawabanmenu[static_cast<std::size_t>(k - 1)];
  // A menu answer is an item id; anything else would be sent as more of
  // the command line (";+CFUN=0" runs as a command of its own).
  const bool itemId = !answer.empty() && answer.find_first_not_of("0123456789") == std::string::npos;
  if (!itemId && !stk::CommandBreakingByte(answer)) {
    AddFuncLog("F016-27: jawabanmenu" + std::to_string(k) + " \"" + at::Readable(answer) +
               "\" is no item number (digits only), not sent");
    StkGiveUpScreen();
    return;
  }
  // Refused only for an answer that is unsafe to send (a closed port queues
  // nothing and the screen is logged all the same).
  if (!QueueStkResponse(m.answerHead + answer) && comVorel->Open()) {
    StkGiveUpScreen();
    return;
  }
  const std::string shown = "select : " + answer;
  lstDisplay->addItem(FromAnsi(shown));
  AddFuncLog(shown);
  AddFuncLog("F016-" + std::to_string(k + m.endTagBase) + ":======= MENU END =======");
}

void TConsoleLine::StkConfirmBranch() {
  if (Data.RxBuffer.find("+STGI:") != std::string::npos) {
    ShowStkText(stk::StgiQuotedText(Data.RxBuffer));
    AddFuncLog("F016-9:======= KONFIRM =======");
    AddFuncLog(stk::StgiQuotedText(Data.RxBuffer));
  }
  const TCardSettings& card = Form.Card;
  const int k = stk::FirstMatchingKeyword(card.katakunci, Data.RxBuffer);
  // Every text is confirmed, matched or not.
  QueueStkResponse("1,1,0");
  if (k == 0) return;
  if (card.nomorkonfirmasireset == k) {
    StkConfirmRegistration();
  } else if (k <= 5 && card.nomorkonfirmasireset == k + 1) {
    Data.ConfirmTicks = 0;
    tTimeOut->SetEnabled(true);
  }
}

// A card that refuses its registration input, or one already registered,
// brings its menu back again and again; past the limit the line says so and
// waits for the next card.
void TConsoleLine::RegistrationFailed() {
  GiveUpCard(lRegistrasi, "F016-28: menu walked " + std::to_string(Session.walks) +
                              " times without a confirmation; registration failed, waiting for the next card");
}

// No keyword of the card file matches the menu (its texts in another form,
// a keyword missing): waiting would bring nothing, the card is not to blame.
void TConsoleLine::NoMenuMatch(const char* keywords, const std::string& firstText) {
  AddFuncLog(std::string("F016-32: no ") + keywords + " keyword matches \"" + at::Readable(firstText, 80) + "\"");
  StkGiveUpScreen();
}

// The walk under way cannot go on: the next one starts from a reset, until
// the card has had its walks.
void TConsoleLine::StkWalkFailed() {
  if (Session.walks >= RegistrationWalkLimit) {
    RegistrationFailed();
    return;
  }
  AddFuncLog("F016-33: walk " + std::to_string(Session.walks) + " of " + std::to_string(RegistrationWalkLimit) +
             " failed; resetting the modem");
  SendModemReset();
}

void TConsoleLine::StkConfirmRegistration() {
  Session.walking = false;
  SetStaticTextColor(lRegistrasi, clLime);
  Data.Job = ljRegistered;
  Data.ConfirmTicks = 0;
  tTimeOut->SetEnabled(false);
  Data.StkArmed = false;
  Data.FirstCall = true;
  tMatikan->SetEnabled(true);
}

void TConsoleLine::StkInputBranch() {
  if (Data.RxBuffer.find("+STGI:") != std::string::npos) {
    const std::string text = stk::StgiQuotedText(Data.RxBuffer);
    ShowStkText(text);
    AddFuncLog("F016-10:======= INPUT DATA =======");
    AddFuncLog(text);
  }
  const TCardSettings& card = Form.Card;
  const int k = stk::FirstMatchingKeyword(card.katakuncidata, Data.RxBuffer);
  if (k == 0) {
    NoMenuMatch("input", stk::StgiQuotedText(Data.RxBuffer));
    return;
  }
  const std::string& input = card.Jawabandata[static_cast<std::size_t>(k - 1)];
  // Checked before "3,1": once the modem prompts, only the entry can follow.
  if (!StkCommandTextSafe(input, "input text")) {
    StkGiveUpScreen();
    return;
  }
  Data.StkInput = input;
  SendStkResponse("3,1");
}

void TConsoleLine::StkInfoBranch() {
  if (Data.RxBuffer.find("+STGI:") != std::string::npos) {
    const std::string text = stk::StgiQuotedText(Data.RxBuffer);
    ShowStkText(text);
    AddFuncLog("F016-19:======= INFO =======");
    AddFuncLog(text);
    AddFuncLog("F016-20:======= UNFO END =======");
  }
  Data.RxBuffer.clear();
  Reply() = rtIdle;
}

// A screen the line cannot answer ends the walk under way.
void TConsoleLine::StkGiveUpScreen() {
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  lstDisplay->clear();
  StkWalkFailed();
}

void TConsoleLine::ShowStkText(const std::string& text) {
  lstDisplay->clear();
  lstDisplay->addItem(FromAnsi(text));
}

void TConsoleLine::StkErrorLadder() {
  const std::int32_t n = ++Data.StkErrorCount;
  Data.RxBuffer.clear();
  Reply() = rtIdle;
  for (const TLadderRung& rung : kErrorLadder) {
    if (rung.failed == Data.StkCommand && n >= rung.fromCount && n <= rung.toCount) {
      ScheduleStkRetry(rung.next);
      return;
    }
  }
  StkStuck("F016-26: Get Info " + std::to_string(Data.StkCommand) + " refused " + std::to_string(n) + " times; ");
}

// Past its retries the card's dialogue is stuck; a card being registered
// starts again from a reset, a registered one is left alone.
void TConsoleLine::StkStuck(const std::string& why) {
  if (Data.Job == ljStart && Data.StkArmed) {
    AddFuncLog(why + "resetting the modem");
    SendModemReset();
  } else {
    AddFuncLog(why + "given up");
  }
}

void TConsoleLine::ScheduleStkRetry(const std::string& code) {
  stkRetryCode_ = code;
  stkRetryAnswer_ = false;
  stkRetryJob_ = Data.Job;
  tStkRetry->SetEnabled(true);
  AddFuncLog("F016-22: error " + std::to_string(Data.StkErrorCount) + ", Get Info " + code + " again in " +
             std::to_string(StkRetryPauseMs) + " ms");
}

bool TConsoleLine::AnnouncesMenu(const std::string& text) {
  for (std::size_t p = text.find("+STIN:"); p != std::string::npos; p = text.find("+STIN:", p + 1))
    if (stk::StinCode(text, p) == "0") return true;
  return false;
}

// A card slow to get ready refuses "AT+STGI=0" until its menu is there, and
// says so with "+STIN: 0". A line pacing its requests for that menu asks
// for it at once: the ladder's later rungs would ask for other screens
// until it resets the modem, and the next reboot's card is just as slow.
void TConsoleLine::StkMenuAnnounced() {
  if (!tStkRetry->Enabled() || Reply() != rtIdle || Data.Job != ljStart || Data.Job != stkRetryJob_ ||
      !Data.StkArmed || tOn->Enabled())
    return;
  tStkRetry->SetEnabled(false);
  AddFuncLog("F016-31: the card's menu has come, Get Info 0 now");
  SendStkGetInfo("0");
}

void TConsoleLine::tStkRetryTimer() {
  tStkRetry->SetEnabled(false);
  // Only a line still sitting where the error left it asks again: a card
  // report, a reset or a new start has taken it elsewhere meanwhile.
  const std::string what = stkRetryAnswer_ ? StkAnswerShown() : "Get Info " + stkRetryCode_;
  if (!comVorel->Open() || Reply() != rtIdle || Data.Job != stkRetryJob_ || tOn->Enabled()) {
    AddFuncLog("F016-23: line has moved on, " + what + " not sent");
    return;
  }
  if (stkRetryAnswer_) SendStkAnswer(Session.stkAnswer);
  else SendStkGetInfo(stkRetryCode_);
}

}  // namespace corvane
