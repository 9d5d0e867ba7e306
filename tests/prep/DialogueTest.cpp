// The tool against simulated modems on pseudo-terminals: each step's bytes,
// its answer in the status text and the log, failures, silence, split
// replies and the "Set" button.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <optional>

#include "PrepBench.h"
#include "Sanitizers.h"
#include "SerPort.h"
#include "TickClock.h"
#include "ui_TfzInitModem.h"

using namespace corvane;
using namespace corvane::prep;
using namespace prep_test;

namespace {

using UiForm = Ui::TfzInitModem;
using modemsim::ModemStatus;

bool ShowsStatus(QLabel* status, const char* text, TColor colour) {
  return status->text() == QLatin1String(text) && StaticTextColor(status) == colour;
}

// A bench with the port set to COM5 and the modem ready.
class PrepDialogue : public ::testing::Test {
 protected:
  void Open(const std::string& scenario = Scenario(), int replyTimeOutMs = 0) {
    bench = std::make_unique<PrepBench>(1, 5, scenario, replyTimeOutMs);
    bench->SetPort("5");
    ASSERT_TRUE(bench->Window().comVorel1->Open());
    ASSERT_TRUE(bench->WaitModemReady());
    Pump(50);  // the power-up's last lines arrive while the tool waits for nothing
  }
  TfzInitModem& W() { return bench->Window(); }
  UiForm& F() { return bench->Window().Form(); }
  modemsim::Modem& M() { return bench->Modem(); }

  std::unique_ptr<PrepBench> bench;
};

}  // namespace

TEST_F(PrepDialogue, CekModemChecksTheModemThenSwitchesItsEchoOff) {
  Open();
  ASSERT_TRUE(M().Status().echo);
  F().btnCekModem->click();
  ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().lCekModem, "OK", clLime); }));
  EXPECT_EQ(M().Transcript().HostText(), "AT\r\nATE0\r\n");
  EXPECT_FALSE(M().Status().echo);
  EXPECT_EQ(bench->Log(), (std::vector<std::string>{"AT", "OK", "ATE", "ATE : OK"}));
  EXPECT_EQ(F().lstFunc->currentRow(), 3);
  EXPECT_EQ(ReplyType, rtIdle);
  EXPECT_EQ(W().RxBuffer, "");
  EXPECT_FALSE(W().tReplyTimeOut->isActive());
}

// The other steps, pressed one after another on one modem (the tool imposes
// no order): the exact bytes, the modem's new state, the log and the status.
TEST_F(PrepDialogue, EachStepSendsItsCommandAndShowsTheAnswer) {
  struct Row {
    QPushButton* UiForm::*button;
    const char* sent;
    QLabel* UiForm::*status;
    std::vector<std::string> log;
    std::function<bool(const ModemStatus&)> applied;
  };
  const Row rows[] = {
      {&UiForm::btnActivateSTK, "AT+STSF=1\r", &UiForm::lActivateSTK, {"ON STK", "STK ON"},
       [](const ModemStatus& s) { return s.stsfMode == 1; }},
      {&UiForm::btnConfigure, "AT+STSF=2,\"5FFFFFFF7F\",5,0\r", &UiForm::lConfigureSTK,
       {"ON STK", "STK Configure"},
       [](const ModemStatus& s) {
         return s.stsfProfile == "5FFFFFFF7F" && s.stsfTimeout == 5 && s.stsfAutoResponse == 0;
       }},
      {&UiForm::btnDeactivate, "AT+STSF=0\r", &UiForm::lDeactivate, {"ON STK", "STK OFF"},
       [](const ModemStatus& s) { return s.stsfMode == 0; }},
      {&UiForm::btnStatusKartu, "AT+WIND=1\r", &UiForm::lStatusKartu, {"Cek SIM card Exist"},
       [](const ModemStatus& s) { return s.windMask == 1; }},
      {&UiForm::btnResetModem, "AT+CFUN=1\r", &UiForm::lResetModem, {"Reset modem", "Reset OK"},
       [](const ModemStatus& s) { return s.restarts >= 2; }},
  };
  Open();
  for (const Row& r : rows) {
    const std::size_t from = M().Transcript().HostSize();
    F().lstFunc->clear();
    (F().*r.button)->click();
    ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().*r.status, "OK", clLime); })) << r.sent;
    EXPECT_EQ(bench->HostSince(from), r.sent);
    EXPECT_TRUE(M().WaitFor(r.applied, 5000ms)) << r.sent;
    EXPECT_EQ(bench->Log(), r.log) << r.sent;
    EXPECT_EQ(ReplyType, rtIdle);
    EXPECT_EQ(W().RxBuffer, "");
  }
  // What the reset's restart reports afterwards collects in the idle buffer.
  M().SendUnsolicited("+WIND: 1");
  EXPECT_TRUE(WaitUntil([&] { return W().RxBuffer.find("+WIND: 1") != std::string::npos; }));
  EXPECT_EQ(ReplyType, rtIdle);
}

// An "ERROR" shows the step red, also where the step showed green before, and
// logs what failed.
TEST_F(PrepDialogue, AnErrorShowsTheStepRed) {
  struct Row {
    const char* command;
    QPushButton* UiForm::*button;
    QLabel* UiForm::*status;
    const char* statusText;
    std::vector<std::string> log;
  };
  const Row rows[] = {
      {"ATE0", &UiForm::btnCekModem, &UiForm::lCekModem, "Not OK", {"AT", "OK", "ATE"}},
      {"AT+WIND", &UiForm::btnStatusKartu, &UiForm::lStatusKartu, "NOT OK",
       {"Cek SIM card Exist", "Cek SIM exist error"}},
      {"AT+STSF=0", &UiForm::btnDeactivate, &UiForm::lDeactivate, "NOT OK", {"ON STK", "STK OFF: Error"}},
      {"AT+STSF=2", &UiForm::btnConfigure, &UiForm::lConfigureSTK, "NOT OK",
       {"ON STK", "STK Configure: Error"}},
      {"AT+STSF=1", &UiForm::btnActivateSTK, &UiForm::lActivateSTK, "NOT OK", {"ON STK", "STK ON: Error"}},
      {"AT+CFUN", &UiForm::btnResetModem, &UiForm::lResetModem, "NOT OK", {"Reset modem", "reset error"}},
  };
  Open();
  for (const Row& r : rows) {
    M().ClearFaults();
    M().AddFault(Fault({{"command", r.command}, {"reply", "error"}}));
    ShowStepStatus(F().*r.status, "OK", clLime);
    F().lstFunc->clear();
    (F().*r.button)->click();
    ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().*r.status, r.statusText, clRed); })) << r.command;
    EXPECT_EQ(bench->Log(), r.log) << r.command;
    EXPECT_EQ(ReplyType, rtIdle) << r.command;
    EXPECT_FALSE(W().tReplyTimeOut->isActive());
  }
}

// "ERROR" to "AT": red, no "ATE0", and the handler keeps waiting on what it
// has gathered until the next command.
TEST_F(PrepDialogue, CekModemAnsweredErrorSendsNoEchoOff) {
  Open();
  M().AddFault(Fault({{"command", "AT"}, {"times", "1"}, {"reply", "error"}}));
  ShowStepStatus(F().lCekModem, "OK", clLime);
  F().btnCekModem->click();
  ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().lCekModem, "Not OK", clRed); }));
  Pump(300);
  EXPECT_EQ(M().Transcript().HostText(), "AT\r\n");
  EXPECT_EQ(bench->Log(), (std::vector<std::string>{"AT"}));
  EXPECT_EQ(ReplyType, rtAt);
  EXPECT_NE(W().RxBuffer.find("ERROR"), std::string::npos);
  EXPECT_FALSE(W().tReplyTimeOut->isActive());
}

// "O" and "K" in two notices: the reply counts once the second has come.
// (The echo-off reply is the one split: it comes without echo, so nothing
// but the reply stands between the two letters.)
TEST_F(PrepDialogue, OkSplitOverTwoNoticesIsRecognised) {
  Open();
  M().AddFault(Fault({{"command", "ATE0"}, {"split", "at 3"}, {"pause_ms", "300"}}));
  std::vector<std::string> chunks;
  std::string gathered;
  W().OnDispatch = [&](const char* handler, const std::string& chunk) {
    if (handler && std::string(handler) == "HandleEchoOffReply") {
      chunks.push_back(chunk);
      gathered += chunk;
      if (gathered.find('K') == std::string::npos) {
        EXPECT_EQ(F().lCekModem->text().toStdString(), "Not OK") << "judged before the K came";
      }
    }
  };
  F().btnCekModem->click();
  ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().lCekModem, "OK", clLime); }));
  W().OnDispatch = nullptr;
  // A loaded machine may hand the bytes before the pause over in more than
  // one notice; what matters is that the pause falls between "O" and "K".
  ASSERT_GE(chunks.size(), 2u);
  bool splitAtK = false;
  for (std::size_t i = 0; i + 1 < chunks.size(); ++i)
    splitAtK = splitAtK || (!chunks[i].empty() && chunks[i].back() == 'O' && chunks[i + 1].substr(0, 1) == "K");
  EXPECT_TRUE(splitAtK);
  EXPECT_EQ(bench->Log().back(), "ATE : OK");
}

// A modem that does not answer in time: the step shows red, the log says so,
// and the tool takes the next command. An answer that comes too late does not
// turn the step green.
TEST_F(PrepDialogue, UnansweredCommandTimesOutAndShowsRed) {
  struct Row {
    const char* command;
    QPushButton* UiForm::*button;
    QLabel* UiForm::*status;
    const char* statusText;
    const char* log;
  };
  const Row rows[] = {
      {"AT", &UiForm::btnCekModem, &UiForm::lCekModem, "Not OK", "AT : no answer"},
      {"AT+STSF", &UiForm::btnConfigure, &UiForm::lConfigureSTK, "NOT OK", "STK Configure: no answer"},
      {"AT+WIND", &UiForm::btnStatusKartu, &UiForm::lStatusKartu, "NOT OK", "Cek SIM exist: no answer"},
      {"AT+CFUN", &UiForm::btnResetModem, &UiForm::lResetModem, "NOT OK", "Reset: no answer"},
  };
  Open(Scenario(), 300);
  for (const Row& r : rows) {
    M().ClearFaults();
    M().AddFault(Fault({{"command", r.command}, {"times", "1"}, {"delay_ms", "900"}}));
    ShowStepStatus(F().*r.status, "OK", clLime);
    (F().*r.button)->click();
    ASSERT_TRUE(bench->WaitLog(r.log)) << r.command;
    EXPECT_TRUE(ShowsStatus(F().*r.status, r.statusText, clRed));
    EXPECT_EQ(ReplyType, rtIdle);
    // The late answer lands in the idle buffer and changes nothing.
    ASSERT_TRUE(WaitUntil([&] { return W().RxBuffer.find("OK") != std::string::npos; })) << r.command;
    EXPECT_TRUE(ShowsStatus(F().*r.status, r.statusText, clRed));
    EXPECT_EQ(ReplyType, rtIdle);
    EXPECT_TRUE(M().WaitFor([](const ModemStatus& s) { return !s.booting; }, 5000ms));
  }
}

TEST_F(PrepDialogue, SilentModemFreesThePortAfterTheTimeOut) {
  Open(Scenario(), 300);
  M().SetSilent(true);
  F().btnActivateSTK->click();
  ASSERT_TRUE(bench->WaitLog("STK ON: no answer"));
  EXPECT_TRUE(ShowsStatus(F().lActivateSTK, "NOT OK", clRed));
  M().SetSilent(false);
  F().btnActivateSTK->click();
  ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().lActivateSTK, "OK", clLime); }));
  EXPECT_EQ(bench->Log().back(), "STK ON");
}

// "Deactivate STK" times out; the modem answers it late, before it answers
// "Activate STK", pressed at once after the time-out. Whatever the late
// answer says, however late and however often, "Activate STK" shows its own
// answer, or red when it gets none; the late answer is logged as ignored.
TEST_F(PrepDialogue, ALateAnswerIsNeverCreditedToTheNextCommand) {
  using Keys = std::vector<std::pair<std::string, std::string>>;
  using Log = std::vector<std::string>;
  struct Row {
    const char* name;
    Keys late;  // how the modem answers "AT+STSF=0", beyond the tool's time-out
    Keys next;  // how it answers "AT+STSF=1" (nothing: at once)
    const char* statusText;
    TColor colour;
    Log log;  // after "ON STK", "STK OFF: no answer"
  };
  constexpr int kTimeOutMs = 600;
  const char* kLateLog = "late answer to the earlier command ignored";
  // Within twice the time-out: it comes while "Activate STK" still waits to go out.
  const std::pair<std::string, std::string> kLate{"delay_ms", "900"};
  // Past twice the time-out: "Activate STK" has gone out and waits for its answer.
  const std::pair<std::string, std::string> kLater{"delay_ms", "1500"};
  // Past "Activate STK"'s own time-out too.
  const std::pair<std::string, std::string> kLatest{"delay_ms", "3000"};
  const Row rows[] = {
      {"late OK, next answered ERROR", {kLate}, {{"reply", "error"}}, "NOT OK", clRed,
       {kLateLog, "ON STK", "STK ON: Error"}},
      // Its own "OK" in a notice of its own, not behind the "ERROR".
      {"late ERROR, next answered OK", {kLate, {"reply", "error"}}, {{"delay_ms", "400"}}, "OK", clLime,
       {kLateLog, "ON STK", "STK ON"}},
      {"late OK given twice, next answered ERROR",
       {kLate, {"reply", "text"}, {"text", "\r\nOK\r\n\r\nOK\r\n"}, {"split", "at 6"}, {"pause_ms", "200"}},
       {{"reply", "error"}}, "NOT OK", clRed, {kLateLog, "extra answer ignored", "ON STK", "STK ON: Error"}},
      {"late OK, next never answered", {kLate}, {{"reply", "silent"}}, "NOT OK", clRed,
       {kLateLog, "ON STK", "STK ON: no answer"}},
      {"OK later than twice the time-out, next answered ERROR", {kLater}, {{"reply", "error"}}, "NOT OK", clRed,
       {"ON STK", kLateLog, "STK ON: Error"}},
      {"ERROR later than twice the time-out, next answered OK", {kLater, {"reply", "error"}}, {}, "OK", clLime,
       {"ON STK", kLateLog, "STK ON"}},
      {"OK later than the next command's time-out", {kLatest}, {{"reply", "error"}}, "NOT OK", clRed,
       {"ON STK", "STK ON: no answer", kLateLog, kLateLog}},
  };
  for (const Row& r : rows) {
    Open(Scenario(), kTimeOutMs);
    Keys late = r.late;
    late.insert(late.begin(), {{"command", "AT+STSF=0"}, {"times", "1"}});
    M().AddFault(Fault(late));
    if (!r.next.empty()) {
      Keys next = r.next;
      next.insert(next.begin(), {"command", "AT+STSF=1"});
      M().AddFault(Fault(next));
    }
    const std::size_t from = M().Transcript().HostSize();
    F().btnDeactivate->click();
    ASSERT_TRUE(bench->WaitLog("STK OFF: no answer")) << r.name;
    F().btnActivateSTK->click();
    Log expected{"ON STK", "STK OFF: no answer"};
    expected.insert(expected.end(), r.log.begin(), r.log.end());
    EXPECT_TRUE(WaitUntil([&] { return bench->Log() == expected; }, 8000))
        << r.name << ": " << ::testing::PrintToString(bench->Log());
    Pump(200);  // nothing more comes
    EXPECT_EQ(bench->Log(), expected) << r.name;
    EXPECT_TRUE(ShowsStatus(F().lActivateSTK, r.statusText, r.colour)) << r.name;
    EXPECT_TRUE(ShowsStatus(F().lDeactivate, "NOT OK", clRed)) << r.name;
    EXPECT_EQ(bench->HostSince(from), "AT+STSF=0\rAT+STSF=1\r") << r.name;
    bench.reset();
  }
}

// The modem answers "Deactivate STK" twice. "Cek SIM card", pressed as soon
// as the first answer shows, gets its own "ERROR", never the second "OK":
// the second answer falls in the moment after an answer (with the modem's
// echo on or off), or, with the echo on, ahead of the next command's echo.
TEST_F(PrepDialogue, ASecondAnswerIsNeverCreditedToTheNextCommand) {
  const struct {
    const char* name;
    const char* modem;     // lines for [modem]
    const char* pauseMs;   // between the two answers
    bool sentFirst;        // "Cek SIM card" goes out before the second answer comes
  } rows[] = {
      {"echo on, second answer soon", "", "300", false},
      {"echo off, second answer soon", "\n[modem 1]\necho = 0\n", "300", false},
      {"echo on, second answer after the next command went out", "", "1200", true},
  };
  for (const auto& r : rows) {
    Open(Scenario(r.modem));
    M().AddFault(Fault({{"command", "AT+STSF=0"},
                        {"times", "1"},
                        {"reply", "text"},
                        {"text", "\r\nOK\r\n\r\nOK\r\n"},
                        {"split", "at 6"},
                        {"pause_ms", r.pauseMs}}));
    M().AddFault(Fault({{"command", "AT+WIND=1"}, {"reply", "error"}}));
    F().btnDeactivate->click();
    ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().lDeactivate, "OK", clLime); })) << r.name;
    F().btnStatusKartu->click();
    ASSERT_TRUE(bench->WaitLog("Cek SIM exist error")) << r.name;
    EXPECT_TRUE(ShowsStatus(F().lStatusKartu, "NOT OK", clRed)) << r.name;
    std::vector<std::string> expected{"ON STK", "STK OFF", "extra answer ignored", "Cek SIM card Exist",
                                      "Cek SIM exist error"};
    if (r.sentFirst) std::swap(expected[2], expected[3]);
    EXPECT_EQ(bench->Log(), expected) << r.name;
    bench.reset();
  }
}

// A modem that keeps sending final results to no command: a step pressed
// meanwhile still goes out (the moment after an answer is not drawn out by
// every further one).
TEST_F(PrepDialogue, AModemThatKeepsAnsweringNothingDoesNotHoldAStepBack) {
  Open();
  F().btnDeactivate->click();
  ASSERT_TRUE(bench->WaitLog("STK OFF"));
  const std::size_t from = M().Transcript().HostSize();
  F().btnActivateSTK->click();
  bool sent = false;
  for (int i = 0; i < 20 && !sent; ++i) {
    M().SendUnsolicited("OK");
    Pump(150);
    sent = bench->HostSince(from) == "AT+STSF=1\r";
  }
  EXPECT_TRUE(sent) << ::testing::PrintToString(bench->Log());
}

// A final result while no command is in flight is logged and dropped; the
// next step gets its own answer.
TEST_F(PrepDialogue, AnAnswerToNoCommandIsDropped) {
  Open();
  M().AddFault(Fault({{"command", "AT+WIND=1"}, {"reply", "error"}}));
  F().btnDeactivate->click();
  ASSERT_TRUE(bench->WaitLog("STK OFF"));
  Pump(600);  // past the moment a second answer is looked for
  M().SendUnsolicited("OK");
  ASSERT_TRUE(bench->WaitLog("extra answer ignored"));
  F().btnStatusKartu->click();
  ASSERT_TRUE(bench->WaitLog("Cek SIM exist error"));
  EXPECT_TRUE(ShowsStatus(F().lStatusKartu, "NOT OK", clRed));
}

// The six step buttons, top to bottom.
constexpr QPushButton* UiForm::*kStepButtons[] = {
    &UiForm::btnCekModem,  &UiForm::btnStatusKartu,    &UiForm::btnDeactivate,
    &UiForm::btnConfigure, &UiForm::btnActivateSTK,    &UiForm::btnResetModem,
};
constexpr QLabel* UiForm::*kStatusTexts[] = {
    &UiForm::lCekModem,     &UiForm::lStatusKartu, &UiForm::lDeactivate,
    &UiForm::lConfigureSTK, &UiForm::lActivateSTK, &UiForm::lResetModem,
};

// The reported case: "Activate STK" pressed 0.4 s after "Deactivate STK",
// while the modem has not yet answered, must not take the first command's
// "OK" for its own. The second press waits for nothing: it is refused until
// the answer is in, and then the modem's "ERROR" to "AT+STSF=1" shows red.
TEST_F(PrepDialogue, AStepPressedWhileAnAnswerIsDueIsNotCreditedWithIt) {
  Open();
  M().AddFault(Fault({{"command", "AT+STSF=0"}, {"times", "1"}, {"delay_ms", "800"}}));
  M().AddFault(Fault({{"command", "AT+STSF=1"}, {"reply", "error"}}));
  const std::size_t from = M().Transcript().HostSize();
  F().btnDeactivate->click();
  Pump(400);
  F().btnActivateSTK->click();
  ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().lDeactivate, "OK", clLime); }));
  Pump(300);
  EXPECT_EQ(bench->HostSince(from), "AT+STSF=0\r") << "nothing else went out while the answer was due";
  EXPECT_TRUE(ShowsStatus(F().lActivateSTK, "Not OK", clRed)) << "as \"Set\" left it";
  F().btnActivateSTK->click();
  ASSERT_TRUE(bench->WaitLog("STK ON: Error"));
  EXPECT_TRUE(ShowsStatus(F().lActivateSTK, "NOT OK", clRed));
  EXPECT_TRUE(ShowsStatus(F().lDeactivate, "OK", clLime));
  EXPECT_EQ(bench->HostSince(from), "AT+STSF=0\rAT+STSF=1\r");
}

// Whichever step is waiting for its answer, every step button is disabled
// ("Set" is not: it leaves the modem) and comes back once the answer is in.
TEST_F(PrepDialogue, EveryStepButtonWaitsWhileAnAnswerIsDue) {
  struct Row {
    QPushButton* UiForm::*button;
    const char* command;
    QLabel* UiForm::*status;
    const char* sent;  // all that goes out, the other presses included
  };
  const Row rows[] = {
      {&UiForm::btnCekModem, "AT", &UiForm::lCekModem, "AT\r\nATE0\r\n"},
      {&UiForm::btnStatusKartu, "AT+WIND", &UiForm::lStatusKartu, "AT+WIND=1\r"},
      {&UiForm::btnDeactivate, "AT+STSF=0", &UiForm::lDeactivate, "AT+STSF=0\r"},
      {&UiForm::btnConfigure, "AT+STSF=2", &UiForm::lConfigureSTK, "AT+STSF=2,\"5FFFFFFF7F\",5,0\r"},
      {&UiForm::btnActivateSTK, "AT+STSF=1", &UiForm::lActivateSTK, "AT+STSF=1\r"},
      {&UiForm::btnResetModem, "AT+CFUN", &UiForm::lResetModem, "AT+CFUN=1\r"},
  };
  Open();
  for (const Row& r : rows) {
    M().ClearFaults();
    M().AddFault(Fault({{"command", r.command}, {"times", "1"}, {"delay_ms", "500"}}));
    const std::size_t from = M().Transcript().HostSize();
    (F().*r.button)->click();
    for (QPushButton* UiForm::*b : kStepButtons) {
      EXPECT_FALSE((F().*b)->isEnabled()) << r.command << " / " << (F().*b)->objectName().toStdString();
      (F().*b)->click();
    }
    EXPECT_TRUE(F().btnSetPort1->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().*r.status, "OK", clLime); })) << r.command;
    Pump(100);
    EXPECT_EQ(bench->HostSince(from), r.sent) << r.command;
    for (QPushButton* UiForm::*b : kStepButtons) EXPECT_TRUE((F().*b)->isEnabled()) << r.command;
    EXPECT_TRUE(M().WaitFor([](const ModemStatus& s) { return !s.booting; }, 5000ms));
  }
}

// An unplugged modem: the tool says so the moment the port tells it, also
// while an answer is due, and again at a step pressed afterwards; every
// status turns red, since what the steps set up belongs to a modem that is
// no longer there. Plugged back in, "Set" and "Cek Modem" work again.
TEST_F(PrepDialogue, ALostDeviceTurnsEveryStepRedAndSaysWhy) {
  struct Row {
    const char* name;
    bool lostBeforeThePress;
  };
  const std::string lost = "COM5 : device lost (modem unplugged?), plug it in and press Set";
  for (const Row& r : {Row{"before the press", true}, Row{"while the answer is due", false}}) {
    Open();
    F().btnCekModem->click();
    ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().lCekModem, "OK", clLime); })) << r.name;
    for (QLabel* UiForm::*s : kStatusTexts) ShowStepStatus(F().*s, "OK", clLime);
    std::optional<std::chrono::steady_clock::time_point> saidAt;
    const QMetaObject::Connection said = QObject::connect(F().lstFunc->model(), &QAbstractItemModel::rowsInserted, [&] {
      if (!saidAt && bench->Log().back() == lost) saidAt = std::chrono::steady_clock::now();
    });
    if (!r.lostBeforeThePress) {
      M().AddFault(Fault({{"command", "AT+STSF"}, {"delay_ms", "3000"}}));
      F().btnActivateSTK->click();
    }
    const auto unplugged = std::chrono::steady_clock::now();
    M().HangUp();
    ASSERT_TRUE(WaitUntil([&] { return saidAt.has_value(); }, 4000)) << r.name;
    QObject::disconnect(said);
    EXPECT_LT(*saidAt - unplugged, corvane::testsupport::kUnplugNoticeBound) << r.name;
    if (r.lostBeforeThePress) {
      F().btnCekModem->click();
      const std::vector<std::string> log = bench->Log();
      EXPECT_EQ(std::count(log.begin(), log.end(), lost), 2) << r.name;
    }
    ASSERT_TRUE(bench->WaitLog(lost, 4000)) << r.name;
    for (QLabel* UiForm::*s : kStatusTexts)
      EXPECT_TRUE(ShowsStatus(F().*s, "Not OK", clRed)) << r.name << " / " << (F().*s)->objectName().toStdString();
    EXPECT_EQ(ReplyType, rtIdle) << r.name;
    for (QPushButton* UiForm::*b : kStepButtons) EXPECT_TRUE((F().*b)->isEnabled()) << r.name;

    M().ClearFaults();
    M().Reconnect();
    bench->SetPort("5");
    ASSERT_TRUE(bench->WaitModemReady()) << r.name;
    F().btnCekModem->click();
    ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(F().lCekModem, "OK", clLime); })) << r.name;
    bench.reset();
  }
}

// "Cek Modem" that gets no answer: no modem answers on this port, so the
// greens the other steps showed no longer hold either.
TEST_F(PrepDialogue, CekModemWithoutAnAnswerTurnsEveryStepRed) {
  Open(Scenario(), 300);
  for (QLabel* UiForm::*s : kStatusTexts) ShowStepStatus(F().*s, "OK", clLime);
  M().SetSilent(true);
  F().btnCekModem->click();
  ASSERT_TRUE(bench->WaitLog("AT : no answer"));
  for (QLabel* UiForm::*s : kStatusTexts)
    EXPECT_TRUE(ShowsStatus(F().*s, "Not OK", clRed)) << (F().*s)->objectName().toStdString();
}

// The tool's answer time-out gives a slow modem the whole of it, every time:
// each step's button against a silent modem, timed from the click.
TEST_F(PrepDialogue, AnswerTimeOutNeverEndsBeforeItsInterval) {
  constexpr int kTimeOutMs = 1000;
  Open(Scenario(), kTimeOutMs);
  M().SetSilent(true);
  auto* timer = W().findChild<QTimer*>(QStringLiteral("tReplyTimeOut"));
  ASSERT_NE(timer, nullptr);
  ::testsupport::TickClock ticks;
  std::function<void()> tick;
  QObject::connect(timer, &QTimer::timeout, &W(), [&] {
    if (tick) tick();
  });
  const struct {
    QPushButton* UiForm::*button;
    const char* name;
  } kButtons[] = {
      {&UiForm::btnCekModem, "Cek Modem"},          {&UiForm::btnStatusKartu, "Rep. Sim Exist"},
      {&UiForm::btnDeactivate, "Deactivate STK"},   {&UiForm::btnConfigure, "Configure STK"},
      {&UiForm::btnActivateSTK, "Activate STK"},    {&UiForm::btnResetModem, "Reset Modem"},
  };
  for (const auto& b : kButtons) {
    tick = ticks.Armed(b.name, kTimeOutMs);
    (F().*b.button)->click();
    ASSERT_TRUE(WaitUntil([&] { return ticks.AllTicked(1); }, 5000)) << b.name;
  }
  EXPECT_EQ(ticks.EarlyTicks(), std::vector<std::string>{});
}

// The port set to COM5 and "Cek Modem" answered there.
bool CheckedOnCom5(PrepBench& bench) {
  bench.SetPort("5");
  if (!bench.WaitModemReady(0)) return false;
  bench.Window().Form().btnCekModem->click();
  return WaitUntil([&] { return ShowsStatus(bench.Window().Form().lCekModem, "OK", clLime); });
}

// "Set" on an open port closes it and opens the new number at the new speed;
// afterwards every status reads "Not OK" on red.
TEST(PrepSet, ReopensOnTheNewPortAndResetsTheStatusTexts) {
  PrepBench bench(2, 5);
  TfzInitModem& w = bench.Window();
  UiForm& f = w.Form();
  ASSERT_TRUE(CheckedOnCom5(bench));

  bench.SetPort("6", "9600");
  EXPECT_TRUE(bench.central.messages.empty());
  EXPECT_TRUE(w.comVorel1->Open());
  EXPECT_EQ(w.comVorel1->ComNumber(), 6);
  EXPECT_EQ(w.comVorel1->Baud(), 9600);
  EXPECT_EQ(w.PortNumber, 6);
  EXPECT_EQ(w.BaudRate, 9600);
  EXPECT_TRUE(bench.WaitModemReady(1));
  EXPECT_TRUE(bench.Modem(0).WaitFor([](const ModemStatus& s) { return !s.hostPresent; }, 5000ms));
  for (QLabel* s : {f.lCekModem, f.lStatusKartu, f.lDeactivate, f.lConfigureSTK, f.lActivateSTK, f.lResetModem})
    EXPECT_TRUE(ShowsStatus(s, "Not OK", clRed)) << s->objectName().toStdString();

  f.btnCekModem->click();
  ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(f.lCekModem, "OK", clLime); }));
  EXPECT_EQ(bench.Modem(1).Transcript().HostText(), "AT\r\nATE0\r\n");
}

// "Cek Modem" on a closed port opens it on the number it has (8 at start).
TEST(PrepSet, CekModemOpensAClosedPort) {
  PrepBench bench(1, 8);
  TfzInitModem& w = bench.Window();
  w.Form().btnCekModem->click();
  EXPECT_TRUE(w.comVorel1->Open());
  ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(w.Form().lCekModem, "OK", clLime); }));
  EXPECT_EQ(bench.Modem().Transcript().HostText(), "AT\r\nATE0\r\n");
}

// Port number 0: the port-selection dialog picks the port when it opens.
TEST(PrepSet, PortZeroAsksWhichPortToOpen) {
  PrepBench bench(2, 5);
  int asked = 0;
  const TPortPrompt previous = TCustomComPort::SetPortPrompt([&](TCustomComPort&) -> std::uint16_t {
    ++asked;
    return 6;
  });
  bench.SetPort("0");
  TCustomComPort::SetPortPrompt(previous);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(bench.central.messages.empty());
  EXPECT_TRUE(bench.Window().comVorel1->Open());
  EXPECT_EQ(bench.Window().comVorel1->ComNumber(), 6);
  EXPECT_TRUE(bench.WaitModemReady(1));
}

// A port that cannot be opened: the central handler says why and the
// buttons send nothing.
TEST(PrepSet, PortThatWillNotOpenSaysWhy) {
  PrepBench bench(1, 5);
  TfzInitModem& w = bench.Window();
  bench.SetPort("9");  // nothing behind COM9
  ASSERT_EQ(bench.central.messages.size(), 1u);
  // The serial layer's text for a port that is not there.
  EXPECT_TRUE(bench.central.messages[0].contains("Specified comport doesn't exist"))
      << bench.central.messages[0].toStdString();
  EXPECT_FALSE(w.comVorel1->Open());
  w.Form().btnResetModem->click();
  EXPECT_EQ(w.Form().lstFunc->count(), 0);
}

// Every step shows as not done once "Set" leaves the modem it was done to:
// on another port, and on a port that will not open.
TEST(PrepSet, LeavesNoStepShownAsDoneForTheModemLeft) {
  const struct {
    const char* name;
    const char* port;
    bool opens;
  } rows[] = {{"another port", "6", true}, {"a port that will not open", "9", false}};
  for (const auto& r : rows) {
    PrepBench bench(2, 5);
    TfzInitModem& w = bench.Window();
    UiForm& f = w.Form();
    ASSERT_TRUE(CheckedOnCom5(bench)) << r.name;
    f.btnResetModem->click();
    ASSERT_TRUE(WaitUntil([&] { return ShowsStatus(f.lResetModem, "OK", clLime); })) << r.name;
    bench.SetPort(r.port);
    EXPECT_EQ(w.comVorel1->Open(), r.opens) << r.name;
    EXPECT_EQ(bench.central.messages.size(), r.opens ? 0u : 1u) << r.name;
    for (QLabel* UiForm::*s : kStatusTexts)
      EXPECT_TRUE(ShowsStatus(f.*s, "Not OK", clRed)) << r.name << ": " << (f.*s)->objectName().toStdString();
  }
}

// "Set" leaves the modem a pending command went to: its answer can no longer
// come, so it is not reported as missing either.
TEST(PrepSet, SetDropsTheCommandPendingOnTheOldPort) {
  PrepBench bench(2, 5, Scenario(), 300);
  TfzInitModem& w = bench.Window();
  bench.SetPort("5");
  ASSERT_TRUE(bench.WaitModemReady(0));
  bench.Modem(0).AddFault(Fault({{"command", "AT+STSF"}, {"delay_ms", "2000"}}));
  w.Form().btnActivateSTK->click();
  ASSERT_EQ(ReplyType, rtStkOn);
  bench.SetPort("6");
  EXPECT_EQ(ReplyType, rtIdle);
  Pump(600);
  EXPECT_EQ(bench.Log(), (std::vector<std::string>{"ON STK"}));
  EXPECT_TRUE(ShowsStatus(w.Form().lActivateSTK, "Not OK", clRed));
}

// "Set" while a step waits for the late answer of a command that timed out:
// the step was pressed for the modem just left and goes to no modem.
TEST(PrepSet, SetDropsAStepWaitingForALateAnswer) {
  PrepBench bench(2, 5, Scenario(), 300);
  TfzInitModem& w = bench.Window();
  bench.SetPort("5");
  ASSERT_TRUE(bench.WaitModemReady(0));
  bench.Modem(0).SetSilent(true);
  w.Form().btnActivateSTK->click();
  ASSERT_TRUE(bench.WaitLog("STK ON: no answer"));
  w.Form().btnDeactivate->click();
  EXPECT_FALSE(w.Form().btnDeactivate->isEnabled());
  bench.SetPort("6");
  ASSERT_TRUE(bench.WaitModemReady(1));
  Pump(600);  // past the time the late answer was waited for
  EXPECT_EQ(bench.Modem(1).Transcript().HostText(), "");
  EXPECT_EQ(bench.Log(), (std::vector<std::string>{"ON STK", "STK ON: no answer"}));
  for (QPushButton* UiForm::*b : kStepButtons) EXPECT_TRUE((w.Form().*b)->isEnabled());
}
