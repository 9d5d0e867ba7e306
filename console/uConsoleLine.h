#pragma once
// One modem line of the console window. The window makes four of them; each
// owns its port comVorel_N and its seven timers, and binds the window's
// widgets of its panel (object names with the suffix _N, from the form).
//
// What a caller may rely on:
// - GUI thread only; nothing is locked. Every handler returns at once; none
//   waits for the modem.
// - Handlers connected by the line catch what they raise and hand it to the
//   application's central exception handler; nothing crosses the event loop.
// - The per-line differences are data (TLineVariant), looked up by number.
// - Received bytes arrive only through comVorelTrigger, which passes each
//   chunk to the reply handler selected by ReplyType[N - 1]; a value without
//   a handler drops the chunk.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <optional>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "uAtLines.h"
#include "uCardSession.h"
#include "uConstType.h"
#include "uDataType.h"
#include "uToolkit.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class TComPort;

namespace corvane {

class TfzCorvaneV4;

// How the four copies differ; everything else about them is alike.
struct TLineVariant {
  bool EchoOffStep;          // sends "ATE0" at switch-on; only it dispatches rtEchoOff
  bool LogsStkChunk;         // the SIM Toolkit handler logs "F016 : " + RxBuffer
  bool LogsStkGetInfoSteps;  // "AT+STGI=" logs its code and command ("F010 bag 3 ...")
  bool LogsQueuedAnswer;     // a queued SIM Toolkit answer logs "F012 : "
};
const TLineVariant& LineVariant(int lineNumber);

class TConsoleLine : public QObject {
  Q_OBJECT
 public:
  using ChunkHandler = void (TConsoleLine::*)(const std::string& Chunk);
  struct TReplyRoute {
    TReplyType type;
    ChunkHandler handler;
    const char* name;
    bool echoOffLinesOnly;
  };
  // The handler for a reply type on this line, or nullptr (chunk dropped).
  const TReplyRoute* RouteFor(std::uint8_t replyType) const;

  TConsoleLine(TfzCorvaneV4& form, int number, TLineData& data);
  ~TConsoleLine() override;

  int Number() const { return number_; }
  const TLineVariant& Variant() const { return variant_; }
  std::uint8_t& Reply() { return ReplyType[number_ - 1]; }
  std::uint8_t Reply() const { return ReplyType[number_ - 1]; }

  // Observes every chunk the dispatch takes (handler name, or nullptr when
  // dropped). For diagnostics and tests; empty by default.
  std::function<void(const char* handler, const std::string& chunk)> OnDispatch;

  TfzCorvaneV4& Form;
  TLineData& Data;
  // The card in the modem now; ended and begun anew by EndSession.
  TCardSession Session;
  std::string PendingAnswer;  // "AT+STGR=" command queued for tDelay

  // Components of the line (widgets belong to the window's form).
  TComPort* comVorel = nullptr;
  QLabel* lNomor = nullptr;
  QCheckBox* ckOn = nullptr;
  QCheckBox* ckActive = nullptr;
  QComboBox* cbPort = nullptr;
  QPushButton* btnSetPort = nullptr;
  QCheckBox* ckRegistrasi = nullptr;
  QCheckBox* ckCall = nullptr;
  QCheckBox* ckCall2 = nullptr;
  QCheckBox* ckSMS1 = nullptr;
  QCheckBox* ckSMS2 = nullptr;
  QCheckBox* ckCekPulsa = nullptr;
  QLabel* lRegistrasi = nullptr;
  QLabel* lCall = nullptr;
  QLabel* lCall2 = nullptr;
  QLabel* lSMS1 = nullptr;
  QLabel* lSMS2 = nullptr;
  QLabel* lCekPulsa = nullptr;
  QMenu* pmCall = nullptr;
  QMenu* pmCall2 = nullptr;
  QMenu* pmSMS1 = nullptr;
  QMenu* pmSMS2 = nullptr;
  QMenu* pmCekPulsa = nullptr;
  QAction* mnCALL = nullptr;
  QAction* mnCALL2 = nullptr;
  QAction* mnSMS1 = nullptr;
  QAction* mnSMS2 = nullptr;
  QAction* mnCekPulsa = nullptr;
  QProgressBar* pbSignal = nullptr;
  QLabel* lSignal = nullptr;
  QLineEdit* eISTM = nullptr;
  QLineEdit* eCekPulsa = nullptr;
  QListWidget* lstDisplay = nullptr;
  QListWidget* lstFunc = nullptr;
  TTimer* tOn = nullptr;
  TTimer* tDial = nullptr;
  TTimer* tHangup = nullptr;
  TTimer* tWatchDog = nullptr;
  TTimer* tTimeOut = nullptr;
  TTimer* tMatikan = nullptr;
  TTimer* tDelay = nullptr;

  // Port number this line may hand to its port (1..255).
  bool ComPortUsable() const;

  // --- reply dispatch and line log
  void comVorelTrigger(QObject* CP, std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t DataCount);
  void DispatchChunk(const std::string& Chunk);
  void AddFuncLog(std::string_view text);
  void lstFuncClick();

  // --- switching on and off, task chain, recovery timers
  void ckOnClick();
  void tOnTimer();
  void tWatchDogTimer();
  void tTimeOutTimer();
  void tMatikanTimer();

  // --- line controls
  void btnSetPortClick();
  void ckActiveClick();
  void ckRegistrasiClick();
  void ckCallClick();
  void ckCall2Click();
  void ckSMS1Click();
  void ckSMS2Click();
  void ckCekPulsaClick();

  // --- SIM Toolkit commands and notifications
  void tDelayTimer();

  // =========================================================================
  // SIM Toolkit (uLineStk.cpp; reply texts in uStkText). SendStkGetInfo and
  // ParseStin are declared with the chain below; HandleStkInfo is the menu
  // automaton, HandleStkResponseReply the reply to an answer.
  // - Every sender does nothing while the port is closed.
  // - A configured answer holding a control character is never sent (it
  //   would end or edit the command line early): the sender logs why and
  //   returns false, and the automaton gives up on that screen.
  // - A queued answer goes out once, MAXDELAY ms after the queue (at least
  //   1 ms), and only while the line still waits on the reply it answers; a
  //   new "AT+STGI=" request or DropPendingStk drops it.
  // - "ERROR" to "AT+STGI=" is asked again StkRetryPauseMs later, not at
  //   once: a card whose menu is not ready yet would burn the retries in
  //   milliseconds. The pause is dropped like a queued answer.
  // - The watchdog is stopped once a reply is complete, not by a partial one;
  //   a reply that ends inside a following notification waits for its rest.
  static constexpr int StkRetryPauseMs = 1000;
  // "ERROR"s to the same answer before the card's dialogue counts as stuck.
  static constexpr int StkAnswerRetryLimit = 3;
  bool QueueStkResponse(const std::string& Args);
  bool SendStkResponse(const std::string& Args);
  bool SendStkInputData();
  void DropPendingStk(std::string_view why);
  // The card announced its main menu ("+STIN: 0"): a paced request for it
  // goes out now.
  void StkMenuAnnounced();
  TTimer* tStkRetry = nullptr;  // one-shot pause of the error retries

 private:
  void StkMenuBranch(bool selectionList);
  void StkConfirmBranch();
  void StkInputBranch();
  void StkInfoBranch();
  void StkGiveUpScreen();
  void StkConfirmRegistration();
  void RegistrationFailed();
  void NoMenuMatch(const char* keywords, const std::string& firstText);
  void StkWalkFailed();
  void StkErrorLadder();
  void ScheduleStkRetry(const std::string& code);
  void RetryStkAnswer();
  void StkStuck(const std::string& why);
  void SendStkAnswer(const std::string& command);
  std::string StkAnswerShown() const;
  static bool AnnouncesMenu(const std::string& text);  // holds a complete "+STIN: 0" line
  void tStkRetryTimer();
  void ShowStkText(const std::string& text);
  bool StkCommandTextSafe(const std::string& text, const char* what);
  std::string stkRetryCode_;
  bool stkRetryAnswer_ = false;  // the paused retry is the answer, not a Get Info
  std::int32_t stkRetryJob_ = 0;

 public:
  // Walks of its menu a card may take before its registration is given up.
  static constexpr int RegistrationWalkLimit = 3;
  // A line idle in the middle of a registration waits for the card's next
  // notice; that wait has the same deadline as a command.
  void TimeCardStep();
  // =========================================================================

  // --- calls
  void tDialTimer();
  void tHangupTimer();

  // --- manual commands from the status labels' menus
  void mnCALLClick();
  void mnCALL2Click();
  void mnSMS1Click();
  void mnSMS2Click();
  void mnCekPulsaClick();

  // --- senders
  void SendEchoOff();

  // --- reply handlers, one per reply type
  void HandleIdle(const std::string& Chunk);
  void HandleEchoOffReply(const std::string& Chunk);
  void HandleSmsPrompt(const std::string& Chunk);
  void HandleSmsSentReply(const std::string& Chunk);
  void HandleUssdReply(const std::string& Chunk);
  void HandleDialReply(const std::string& Chunk);
  void HandleHangupReply(const std::string& Chunk);
  void HandleStkInfo(const std::string& Chunk);
  void HandleStkResponseReply(const std::string& Chunk);
  void HandleStkOnReply(const std::string& Chunk);
  void HandleResetReply(const std::string& Chunk);
  void HandleImsiReply(const std::string& Chunk);
  void HandleSignalReply(const std::string& Chunk);
  void HandleSmsFormatReply(const std::string& Chunk);

  // =========================================================================
  // Task chain, modem bring-up and the receivers of unsolicited lines
  // (uLineChain.cpp, uLineBringUp.cpp, uLineIdle.cpp; line recognition in
  // uAtLines).
  //
  // - Every chunk passes BeforeReplyHandler (keeps RxBuffer within
  //   RxBufferLimit), then its reply handler, then AfterReplyHandler, which
  //   acts on every complete "+WIND: 0" / "+WIND: 1" line in stream order,
  //   whatever the reply state and however the bytes were split.
  // - "ERROR" to "ATE0", "AT+CFUN=1" and "AT+CIMI" is retried after
  //   tBringUpRetry's pause; past maxgagal errors in a row the line gives up
  //   and resets the modem once more. tAnswerGuard ends the wait of every
  //   command (below); a bring-up command that gets no final result in time
  //   resets the modem ("AT+CFUN=1" only up to its "OK": the wait for the
  //   card is the one untimed wait of a line).
  // - "+WIND: 1" sends "AT+CIMI" while the line waits for its card after a
  //   reset (job 1), and starts the calls, SMS and balance check through the
  //   start timer after the reset that follows a registration (job 2): both
  //   wait for the reset's "OK" and for the reboot's report, in whichever
  //   order the firmware sends them. At a line idle after its chain (job 0,
  //   or job 1 with nothing outstanding) it starts a new card through the start timer,
  //   except for the report a reset's reboot makes of the card the line
  //   already holds. Elsewhere it is only logged.
  // - Removing the card and switching the line off stop the old card's
  //   timers and its queued answer.
  static constexpr std::size_t RxBufferLimit = 4096;
  static constexpr int BringUpRetryPauseMs = 1000;
  static constexpr int AnswerLimitMs = 30000;

  TTimer* tBringUpRetry = nullptr;  // one-shot pause before an "ERROR" is retried
  TTimer* tAnswerGuard = nullptr;  // one-shot: no answer to a command in time
  // A modem unplugged while its line is on: the port tells it once
  // (OnTriggerDeviceLost) and nothing more is read. The line says so, stops
  // its timers and unticks On; ticking On again reopens the port.
  bool PortLost();

  void BeforeReplyHandler(const std::string& Chunk);
  void AfterReplyHandler(const std::string& Chunk);
  void ParseWind(int windValue);
  void tBringUpRetryTimer();
  void tAnswerGuardTimer();

  void SendSignalQuery();
  void SendStkOn();
  void SendModemReset();
  void SendImsiQuery();

  // The step after the calls and after each SMS: the first ticked of SMS 1,
  // SMS 2 and the balance check from `first` on, or the end of the chain.
  enum class TNextStep { Sms1, Sms2, CekPulsa };
  void StartNextStep(TNextStep first, LineJob endJob);

  // Entry points of the SIM Toolkit, call, SMS and balance steps that the
  // chain and the receivers call (defined in uLineStk.cpp, uLineCalls.cpp,
  // uLineSms.cpp).
  void SendStkGetInfo(const std::string& Code);
  void ParseStin(const std::string& Text);
  void SendDial(const std::string& Number);
  void SendSmsHeader(const std::string& Number);
  void SendUssd(const std::string& Code);
  void ParseCusd(const std::string& Text);

  // What the bring-up and the card reports remember between chunks.
  struct TBringUpState {
    TReplyType retryReply = rtNone;  // command waiting out its retry pause
    TReplyType errorReply = rtNone;  // command whose "ERROR"s are counted
    int errorCount = 0;
    bool resetOkSeen = false;          // the last "AT+CFUN=1" was answered "OK"
    bool cardReportedInReset = false;  // "+WIND: 1" came before that "OK"
    bool awaitingBootReport = false;   // a reset's reboot has yet to report the card
    bool cardOut = false;              // "+WIND: 0" seen, no "+WIND: 1" since
    bool checkingCard = false;         // "AT+CIMI" out to tell whether the card is still the same
  };
  TBringUpState BringUp;
  at::TCardReportReader CardReports;

  bool LineIdleAfterChain() const;
  void StartNewCard();
  // A reset's reboot says nothing of a card swapped while it ran: before a
  // registered card's calls, SMS and balance check run after a reset, its
  // IMSI is read again and compared with the one read at its bring-up. A
  // different or unreadable IMSI is a new card, brought up as one.
  void SendCardCheck();
  void CardCheckAnswered(const std::string& imsi);
  void CardCheckFailed(const std::string& why);
  static constexpr int CardCheckRetryLimit = 3;  // "ERROR"s to that "AT+CIMI" before the card counts as new
  // The card's session (uCardSession.h): ended when the card goes, given
  // up when nothing more can come of it.
  void EndSession();
  void StopCardWork();
  void GiveUpCard(QLabel* failed, const std::string& why);
  QLabel* StepUnderWay() const;
  // Every reset, whatever asks for it, goes through SendModemReset: it is
  // counted against the card's budget (TCardSession::ResetBudget; spent, the
  // step under way is given up) and sent no sooner than ResetPaceMs after
  // the previous one, since a modem reset again while it reboots gains
  // nothing. After each reset the card's IMSI is read before anything else
  // goes on: a card swapped while the modem rebooted is told apart there.
  static constexpr int ResetPaceDefaultMs = 5000;
  int ResetPaceMs = ResetPaceDefaultMs;
  // The modem's last reset, whichever card it was for: the pace holds
  // across a card swap too.
  std::optional<std::chrono::steady_clock::time_point> lastReset;
  TTimer* tResetPace = nullptr;
  void tResetPaceTimer();
  void WriteReset();
  void ResetBudgetSpent();
  void AfterResetCardReported();
  // A modem that does not report its card after a reset (reports switched
  // off, a firmware that leaves them out) would hold the line for good: past
  // this wait the line asks the card itself. An empty holder reports
  // "+WIND: 0", and the line then waits for a card without a deadline.
  static constexpr int BootReportWaitDefaultMs = 15000;
  int BootReportWaitMs = BootReportWaitDefaultMs;
  TTimer* tBootReport = nullptr;
  void tBootReportTimer();
  void ResumeAfterCardCheck();
  // A command whose deadline passed may still be answered later, and that
  // answer would be read as the next command's. Before its way out, the
  // line asks the modem something whose answer cannot be mistaken
  // ("AT+CMEE?"); everything before that answer is the late one, logged
  // and dropped.
  void BeginSync(TReplyType late, void (TConsoleLine::*then)());
  void HandleSyncReply(const std::string& Chunk);
  void EndSync();
  // The open call question belongs to its card: it closes with the session.
  void CloseCallQuestion();
  void ResetReceiver();
  bool Retrying(TReplyType reply) const;
  void RetryAfterError(TReplyType reply);
  // Every command the line sends is timed by tAnswerGuard (its interval,
  // AnswerLimitMs as laid out, is the deadline of each command): the
  // sender arms it, every chunk is read against the command it answers
  // (WatchAnswer), and a deadline that passes logs which command went
  // unanswered, with the tag of its step, and takes that step's way out.
  void CommandSent(TReplyType reply);      // retry pause dropped, guard armed
  void CommandAnswered(TReplyType reply);  // its final result came: guard off, count cleared
  void ArmAnswerGuard(TReplyType reply);
  void StopAnswerGuard();
  void WatchAnswer(const std::string& Chunk);
  void GuardFollowsReply();  // after each chunk: a reply handler that moved on ended its wait
  static std::string_view CommandName(TReplyType reply);

  // The ways out of a step whose command got no answer, or whose retries ran
  // out: shown failed (red) and the chain goes on, or the call redialled or
  // its hang-up asked again (bounded).
  void GiveUpSms();
  void GiveUpUssd();
  void EndUssd(bool sessionOpened);
  void RedialAfterSilence();
  void RetryHangup();
  // SMS 1 or SMS 2 from its first try: counts cleared, the header (after the
  // switch to text mode where a reset has undone it).
  void StartSms(LineJob job);
  void SendSmsFormat();
  // Modem resets an SMS step may take before it is given up, and hang-up
  // refusals a call may take.
  static constexpr int SmsResetsPerStep = 1;
  static constexpr int HangupRetryLimit = 3;
  // How long the "Call gagal 10X" question waits for the operator before it
  // takes its No: unattended lines must not stand still behind it.
  static constexpr int CallQuestionDeadlineDefaultMs = 60000;
  int CallQuestionDeadlineMs = CallQuestionDeadlineDefaultMs;
  static constexpr int UssdRetryPauseMs = 1000;  // before a balance answer without a balance is asked again
  // =========================================================================

  // --- Calls, SMS and balance check (uLineCalls.cpp, uLineSms.cpp,
  //     uLineManual.cpp). SendDial, SendSmsHeader, SendUssd and ParseCusd
  //     (declared above) are defined there; StartNextStep is the chain's.
  // - Senders do nothing while the port is closed. A number or USSD code
  //   that is not only digits, '+', '*' and '#' is refused with a log line
  //   and its step is passed over as if it had been given up.
  // - A redial or hang-up tick acts only while its call is under way (Job
  //   ljDialling / ljInCall); otherwise it stops its timer. The call under
  //   way is redialled whichever box (or manual command) started it. A
  //   modem reset stops the redial and the SMS resend; they resume once the
  //   reset is answered, so its "OK" is never read as theirs.
  // - A step that runs out of answers (a refused SMS past the limit and one
  //   reset, a balance refused or unanswered, a hang-up refused
  //   HangupRetryLimit times) is shown red and the chain goes on.
  // - While the "Call gagal 10X. Coba Call Lagi?" question is open, chunks
  //   for the dial are only gathered; the answer counts only if the line is
  //   still dialling when it comes. Unanswered for CallQuestionDeadlineMs it
  //   closes and takes the No; a No shows the call red and the chain goes on.
  // Starts a call as the chain does: both failure counts 0 (kept when it is
  // the same call again behind a reset its own failures caused), FirstCall
  // := firstCall, tDial on, then the dial of no2dial (first) or no2dial2.
  void StartCall(bool firstCall);
  void SendHangup();
  bool CallQuestionOpen() const { return callQuestionOpen_; }

 private:
  template <typename W>
  W* Bind(const char* baseName) const;
  void BindWidgets();
  void CreatePort();
  void CreateTimers();
  void CreateMenus();
  void ConnectHandlers();
  void SetStatusNotDone();
  void RefuseSwitchOn(const std::string& why);

  int number_;
  TLineVariant variant_;

  // --- Calls, SMS and balance check: private state and helpers.
  enum class TQuestionFrom { DialError, RedialTick };
  void AskCallRetry(TQuestionFrom from);
  void Redial();  // one more try of the call under way, or the question past the bound
  void CallRetryAnswered(TQuestionFrom from, TModalResult answer, bool answered);
  void GiveUpCall();
  void ChainAfterCall();
  void CallDropped();
  void CountSmsError();
  void ResendSms();
  void tSmsRetryTimer();
  void SendUssdCommand(const std::string& code);
  bool NumberUsable(const std::string& number, const char* tag);
  std::string SmsText();
  bool callQuestionOpen_ = false;
  QPointer<QObject> questionContext_;  // its going away drops the question's answer
  QPointer<QWidget> questionBox_;
  QString CallQuestionTitle() const;
  TReplyType lateReply_ = rtNone;            // the command the sync outwaits
  void (TConsoleLine::*afterSync_)() = nullptr;  // its way out, once the sync is answered
  at::TUnsolicitedFilter Unsolicited;
  TReplyType guardedReply_ = rtNone;  // the command tAnswerGuard times
  std::string answerText_;     // what came since the guarded command went out
  int guardPeriodsLeft_ = 0;   // guard intervals left before the wait is given up
  bool smsTextMode_ = false;   // "AT+CMGF=1" answered since the last reset
  std::string smsEcho_;        // the SMS text as a modem with echo on sends it back
  // How long an SMS waits behind a modem reset before it is sent again: the
  // modem restarts meanwhile and would swallow a command sent at once.
  static constexpr int SmsAfterResetMs = 5000;
  static constexpr int SmsRetryPauseMs = 1000;   // before a refused SMS is sent again
  // Paces an SMS resent after a refusal or a modem reset, and a balance
  // check asked again.
  TTimer* tSmsRetry_ = nullptr;
};

}  // namespace corvane
