// The calls of a line against the simulated modem: the whole chain after
// the card, failed dials, the operator's retry question, the hang-up.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>

#include <chrono>
#include <vector>

#include "calls/CallsBench.h"
#include "SerPort.h"
#include "uConstType.h"

using namespace corvane;
using namespace corvane::test;

namespace {

TColor Colour(QLabel* l) { return StaticTextColor(l); }

TEST(Calls, TheChainRunsEveryTickedStepInOrderAndTheLineEndsIdle) {
  TCallsBench b;
  b.Tick(true, true, true, true, true);
  b.SwitchOn(true);
  ASSERT_TRUE(WaitUntil([&] { return b.line->Data.Job == ljIdle && !b.line->Data.UssdPending; }, 8000)) << b.Log();

  const std::string host = b.Host();
  const std::string order[] = {"ATD0811;\r", "ATH\r", "ATD0812;\r", "ATH\r", "AT+CMGS=\"0821\"\r", "SMS1\x1A",
                               "AT+CMGS=\"0822\"\r", "SMS2\x1A", "AT+CUSD=1,\"*888#\"\r\n"};
  std::size_t at = 0;
  for (const std::string& command : order) {
    const std::size_t found = host.find(command, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << at::Readable(command) << "\n" << b.Log();
    at = found + command.size();
  }
  for (QLabel* done : {b.line->lCall, b.line->lCall2, b.line->lSMS1, b.line->lSMS2, b.line->lCekPulsa})
    EXPECT_EQ(Colour(done), clLime) << done->objectName().toStdString();
  const std::string balance = ToAnsi(b.line->eCekPulsa->text());
  EXPECT_EQ(balance.rfind("\"Sisa pulsa Rp 5.000", 0), 0u) << balance;
  EXPECT_NE(balance.find("Info: *888*1#\",15"), std::string::npos) << balance;
  EXPECT_EQ(b.line->Reply(), rtIdle);
  EXPECT_FALSE(b.line->tOn->Enabled());
  EXPECT_FALSE(b.line->tDial->Enabled());
  EXPECT_FALSE(b.line->tHangup->Enabled());
  EXPECT_TRUE(b.Logged("Dial 2nd: 0812"));
  EXPECT_TRUE(b.central.messages.empty());
}

// A dial the network does not put through: counted, dialled again by the
// redial timer (started by the answer, as a manual call has none running),
// and past the failure limit the modem is reset.
class FailedDial : public ::testing::TestWithParam<const char*> {};

TEST_P(FailedDial, IsRedialledAndPastTheLimitResetsTheModem) {
  TCallsBench b("", std::string("[call 0811]\nresult = ") + GetParam() + "\ndelay_ms = 10\n");
  b.window->Card.maxgagal = 1;
  b.line->tDial->SetInterval(150);
  b.Tick(true, false, false, false, false);
  b.SwitchOn();
  b.line->mnCALL->trigger();
  ASSERT_TRUE(b.WaitHost("ATD0811;\r", 2)) << b.Log();
  ASSERT_TRUE(b.WaitHost("AT+CFUN=1\r")) << b.Log();
  EXPECT_LT(b.Host().find("ATD0811;\r", b.Host().find("ATD0811;\r") + 1), b.Host().find("AT+CFUN=1\r"));
  b.line->tDial->SetEnabled(false);
  EXPECT_TRUE(b.Logged(std::string("F022-3 1st call ") + GetParam() + " : 0811")) << b.Log();
  EXPECT_EQ(b.line->Data.Job, ljDialling);
}

INSTANTIATE_TEST_SUITE_P(Results, FailedDial, ::testing::Values("NO CARRIER", "BUSY", "NO ANSWER"));

// Dials answered "ERROR" every time: the question comes after six dials,
// from the "ERROR" branch with the failure limit 0, from the redial tick
// with the limit 25.
struct TQuestionCase {
  int maxgagal;
  TModalResult answer;
  bool resetAfterYes;
};

// Test names must not depend on the struct's padding bytes: CTest finds the
// cases by name in one run and runs them by name in another.
void PrintTo(const TQuestionCase& c, std::ostream* os) {
  *os << "maxgagal " << c.maxgagal << (c.answer == TModalResult::Yes ? ", Yes" : ", No");
}

class RetryQuestion : public ::testing::TestWithParam<TQuestionCase> {};

TEST_P(RetryQuestion, ComesAfterSixDialsAndIsObeyed) {
  const TQuestionCase c = GetParam();
  TCallsBench b("", "[call 0811]\nresult = ERROR\ndelay_ms = 5\n");
  b.window->Card.maxgagal = c.maxgagal;
  // Long enough that every "ERROR" is in before the next redial, also on a
  // busy machine: two answers in one chunk would count once.
  b.line->tDial->SetInterval(300);
  b.Tick(true, false, true, false, false);
  b.dialogs.answers.push_back(c.answer);
  b.SwitchOn();
  b.line->StartCall(true);
  ASSERT_TRUE(WaitUntil([&] { return !b.dialogs.asked.empty(); }, 5000)) << b.Log();
  ASSERT_EQ(b.dialogs.asked.size(), 1u);
  EXPECT_EQ(b.dialogs.asked[0].text, QStringLiteral("Call gagal 10X. Coba Call Lagi?"));
  EXPECT_EQ(b.dialogs.asked[0].type, TMsgDlgType::Confirmation);
  EXPECT_TRUE(b.dialogs.asked[0].yesNo);
  EXPECT_EQ(b.Count("ATD0811;\r"), 6u) << b.Log();

  if (c.answer == TModalResult::No) {
    ASSERT_TRUE(b.WaitHost("AT+CMGS=\"0821\"\r")) << b.Log();
    EXPECT_EQ(b.line->Data.Job, ljSms1);
    EXPECT_FALSE(b.line->tDial->Enabled());
    EXPECT_EQ(Colour(b.line->lCall), clRed);
    return;
  }
  if (c.resetAfterYes) {
    // The redial waits for the reset and the card check behind it.
    EXPECT_TRUE(b.WaitHost("AT+CFUN=1\r")) << b.Log();
    EXPECT_TRUE(b.WaitHost("AT+CIMI\r")) << b.Log();
  } else {
    EXPECT_EQ(b.Count("AT+CFUN=1\r"), 0u) << b.Log();
    EXPECT_TRUE(b.line->tDial->Enabled());
  }
  ASSERT_TRUE(b.WaitHost("ATD0811;\r", 7)) << b.Log();
}

INSTANTIATE_TEST_SUITE_P(Table, RetryQuestion,
                         ::testing::Values(TQuestionCase{0, TModalResult::No, false},
                                           TQuestionCase{0, TModalResult::Yes, false},
                                           TQuestionCase{25, TModalResult::Yes, true},
                                           TQuestionCase{25, TModalResult::No, false}));

TEST(Calls, WhileTheQuestionIsOpenTheLineTakesNoFurtherDialAnswers) {
  TCallsBench b("", "[call 0811]\nresult = ERROR\ndelay_ms = 5\n");
  b.window->Card.maxgagal = 0;
  b.line->tDial->SetInterval(150);
  b.Tick(true, false, false, false, false);
  b.SwitchOn();
  int asked = 0;
  std::size_t dialsWhileOpen = 0;
  std::int32_t countWhileOpen = -1;
  SetDialogHook([&](const TDialogRequest&) {
    ++asked;
    const std::size_t before = b.Count("ATD0811;\r");
    const std::int32_t count = b.line->Data.DialErrorCount;
    EXPECT_TRUE(b.line->CallQuestionOpen());
    // The operator takes a while; the modem and the redial timer go on.
    b.line->DispatchChunk("\r\nERROR\r\n");
    b.modem->SendUnsolicited("ERROR");
    Pump(400);
    dialsWhileOpen = b.Count("ATD0811;\r") - before;
    countWhileOpen = b.line->Data.DialErrorCount - count;
    return TModalResult::No;
  });
  b.line->StartCall(true);
  ASSERT_TRUE(WaitUntil([&] { return b.line->Data.Job == ljStart; }, 5000)) << b.Log();
  Pump(300);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(dialsWhileOpen, 0u);
  EXPECT_EQ(countWhileOpen, 0);
  EXPECT_FALSE(b.line->CallQuestionOpen());
  EXPECT_FALSE(b.line->tDial->Enabled());
  EXPECT_EQ(b.line->Reply(), rtIdle);
}

TEST(Calls, AHangUpRefusedIsTriedAgainAfterTheCallLength) {
  TCallsBench b("", "[fault athfail]\ncommand = ATH\nreply = ERROR\ntimes = 1\n");
  b.Tick(true, false, false, false, false);
  b.SwitchOn();
  b.line->StartCall(true);
  ASSERT_TRUE(b.WaitHost("ATH\r", 2)) << b.Log();
  ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lCall) == clLime; })) << b.Log();
  EXPECT_TRUE(b.Logged("F023-2: Hangup error"));
  EXPECT_EQ(b.line->Data.Job, ljIdle);
  EXPECT_EQ(b.Count("ATH\r"), 2u);
}

TEST(Calls, ACardTakenOutDuringTheCallEndsIt) {
  TCallsBench b("wind = 1\n");
  b.line->tHangup->SetInterval(700);
  b.Tick(true, true, true, false, false);
  b.SwitchOn();
  b.line->StartCall(true);
  ASSERT_TRUE(WaitUntil([&] { return b.line->Data.Job == ljInCall; })) << b.Log();
  b.modem->RemoveCard();
  ASSERT_TRUE(WaitUntil([&] { return b.line->Data.Job == ljIdle; })) << b.Log();
  Pump(1000);
  EXPECT_EQ(b.Count("ATH\r"), 0u) << b.Log();
  EXPECT_EQ(b.Count("ATD0812;"), 0u);
  EXPECT_FALSE(b.line->tHangup->Enabled());
  EXPECT_EQ(Colour(b.line->lCall), clFuchsia);
}

TEST(Calls, ALineSwitchedOffWhileRediallingStopsRedialling) {
  TCallsBench b("", "[call 0811]\nresult = ERROR\ndelay_ms = 5\n");
  b.line->tDial->SetInterval(100);
  b.Tick(true, false, false, false, false);
  b.SwitchOn();
  b.line->StartCall(true);
  ASSERT_TRUE(b.WaitHost("ATD0811;\r", 2)) << b.Log();
  b.line->ckOn->setChecked(false);
  Pump(1500);
  EXPECT_FALSE(b.line->tDial->Enabled());
  EXPECT_TRUE(b.dialogs.asked.empty());
  EXPECT_EQ(b.line->Data.Job, ljIdle);
}

// Numbers from the card file go into the command line only when they hold
// nothing but digits, '+', '*' and '#'; the refused step is passed over.
struct TRefusalCase {
  std::string TCardSettings::*field;
  std::string value;
  const char* menu;        // the manual command that starts the step
  const char* refusedTag;  // the step's log tag
  const char* forbidden;   // the command the refused value would have made
  const char* next;        // what the line sends instead
};

// The manual command stands for the case in test names and failure messages.
void PrintTo(const TRefusalCase& c, std::ostream* os) { *os << c.menu; }

class RefusedNumber : public ::testing::TestWithParam<TRefusalCase> {};

TEST_P(RefusedNumber, NeverReachesTheModemAndTheChainGoesOn) {
  const TRefusalCase& c = GetParam();
  TCallsBench b;
  b.Tick(true, false, true, false, true);
  b.window->Card.*c.field = c.value;
  b.SwitchOn();
  QAction* item = b.window->findChild<QAction*>(QString::fromLatin1(c.menu) + "_2");
  ASSERT_NE(item, nullptr);
  item->trigger();
  if (*c.next) {
    ASSERT_TRUE(b.WaitHost(c.next)) << b.Log();
  } else {
    Pump(300);
  }
  EXPECT_EQ(b.Count(c.forbidden), 0u) << at::Readable(b.Host());
  EXPECT_TRUE(b.Logged(std::string(c.refusedTag) + "refused")) << b.Log();
  EXPECT_TRUE(b.central.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedNumber,
    ::testing::Values(
        TRefusalCase{&TCardSettings::no2dial, "0811;+CFUN=0", "mnCALL", "F005 : ", "ATD", "AT+CMGS=\"0821\""},
        TRefusalCase{&TCardSettings::no2dial2, "", "mnCALL2", "F005 : ", "ATD", "AT+CMGS=\"0821\""},
        TRefusalCase{&TCardSettings::phpenerimasms, "0821\"\rATD999", "mnSMS1", "F008 : ", "AT+CMGS", "AT+CUSD=1,\"*888#\""},
        TRefusalCase{&TCardSettings::cekpulsa, "*888#\"\r\nATH", "mnCekPulsa", "F029 :", "AT+CUSD", ""}),
    [](const auto& info) { return std::string(info.param.menu); });

}  // namespace

// A number the network never puts through, with a small failure limit: the
// resets the failures cause restart nothing, so the operator is asked after
// a bounded number of dials whatever the limit, and the No shows the call
// failed.
struct TNeverThroughCase {
  const char* result;
  int maxgagal;
  // Every failure resets the modem: the card's reset budget runs out before
  // the question, and the line gives the card up.
  bool budgetEnds = false;
};

void PrintTo(const TNeverThroughCase& c, std::ostream* os) { *os << c.result << ", maxgagal " << c.maxgagal; }

class NeverThrough : public ::testing::TestWithParam<TNeverThroughCase> {};

TEST_P(NeverThrough, IsAskedAboutAfterBoundedDialsAndResets) {
  const TNeverThroughCase c = GetParam();
  TCallsBench b("", std::string("[call 0811]\nresult = ") + c.result + "\ndelay_ms = 10\n");
  b.window->Card.maxgagal = c.maxgagal;
  b.line->tDial->SetInterval(100);
  b.Tick(true, false, true, false, false);
  b.dialogs.answers.push_back(TModalResult::No);
  b.SwitchOn(true);
  if (c.budgetEnds) {
    ASSERT_TRUE(WaitUntil([&] { return Colour(b.line->lCall) == clRed; }, 20000)) << b.Log();
    EXPECT_TRUE(b.Logged("F036 : 6 modem resets spent on this card; CALL failed, waiting for the next card"))
        << b.Log();
    EXPECT_EQ(b.Count("AT+CFUN=1\r"), 6u) << b.Log();
    Pump(500);
    EXPECT_EQ(b.Count("AT+CMGS"), 0u) << "the card is given up";
    EXPECT_TRUE(b.dialogs.asked.empty());
    return;
  }
  ASSERT_TRUE(WaitUntil([&] { return !b.dialogs.asked.empty(); }, 20000))
      << "dials " << b.Count("ATD0811;\r") << ", resets " << b.Count("AT+CFUN=1\r") << "\n" << b.Log();
  EXPECT_EQ(b.dialogs.asked[0].text, QStringLiteral("Call gagal 10X. Coba Call Lagi?"));
  // Ten redial ticks after the first dial; nothing of the count is lost to
  // a reset.
  EXPECT_LE(b.Count("ATD0811;\r"), 11u) << b.Log();
  ASSERT_TRUE(b.WaitHost("AT+CMGS=\"0821\"\r")) << b.Log();
  EXPECT_EQ(Colour(b.line->lCall), clRed);
  EXPECT_EQ(b.dialogs.asked.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, NeverThrough,
                         ::testing::Values(TNeverThroughCase{"BUSY", 1}, TNeverThroughCase{"NO CARRIER", 1},
                                           TNeverThroughCase{"BUSY", 2}, TNeverThroughCase{"NO CARRIER", 3},
                                           TNeverThroughCase{"NO CARRIER", 0, true}));

namespace {

// The retry questions the window shows now, as the operator sees them.
std::vector<QMessageBox*> OpenQuestions(TfzCorvaneV4& window) {
  std::vector<QMessageBox*> open;
  for (QMessageBox* box : window.findChildren<QMessageBox*>())
    if (box->isVisible() && box->text() == QStringLiteral("Call gagal 10X. Coba Call Lagi?")) open.push_back(box);
  return open;
}

enum class TOperator { AnswersYes, AnswersNo, IsAway };

void PrintTo(TOperator o, std::ostream* os) {
  *os << (o == TOperator::AnswersYes ? "Yes" : o == TOperator::AnswersNo ? "No" : "away");
}

}  // namespace

// The real box: answered by a click, or left alone until its deadline, when
// it closes and takes the No. A No (clicked or not) shows the call failed.
class QuestionBox : public ::testing::TestWithParam<TOperator> {};

TEST_P(QuestionBox, IsObeyedOrTakesItsNoWhenNobodyAnswers) {
  TCallsBench b("", "[call 0811]\nresult = ERROR\ndelay_ms = 5\n");
  SetDialogHook({});
  b.window->Card.maxgagal = 0;
  b.line->tDial->SetInterval(300);
  b.line->CallQuestionDeadlineMs = 1500;
  b.Tick(true, false, true, false, false);
  b.SwitchOn();
  b.line->StartCall(true);
  ASSERT_TRUE(WaitUntil([&] { return OpenQuestions(*b.window).size() == 1; }, 8000)) << b.Log();
  EXPECT_TRUE(b.line->CallQuestionOpen());
  if (GetParam() == TOperator::AnswersYes) OpenQuestions(*b.window)[0]->button(QMessageBox::Yes)->click();
  if (GetParam() == TOperator::AnswersNo) OpenQuestions(*b.window)[0]->button(QMessageBox::No)->click();
  ASSERT_TRUE(WaitUntil([&] { return !b.line->CallQuestionOpen(); }, 5000)) << b.Log();
  EXPECT_TRUE(OpenQuestions(*b.window).empty());
  EXPECT_EQ(b.Logged("F022-7 : call question unanswered"), GetParam() == TOperator::IsAway) << b.Log();
  if (GetParam() == TOperator::AnswersYes) {
    ASSERT_TRUE(b.WaitHost("ATD0811;\r", 7)) << b.Log();
    EXPECT_NE(Colour(b.line->lCall), clRed);
    return;
  }
  ASSERT_TRUE(b.WaitHost("AT+CMGS=\"0821\"\r")) << b.Log();
  EXPECT_EQ(b.Count("ATD0811;\r"), 6u);
  EXPECT_EQ(Colour(b.line->lCall), clRed);
}

INSTANTIATE_TEST_SUITE_P(Operator, QuestionBox,
                         ::testing::Values(TOperator::AnswersYes, TOperator::AnswersNo, TOperator::IsAway));

// Two lines asking at once: each box stands on its own and takes its No
// at its own deadline; neither waits behind the other's.
TEST(Calls, TwoLinesAskingAtOnceDoNotHoldEachOther) {
  TCallsBench b("", "[call 0811]\nresult = ERROR\ndelay_ms = 5\n");
  modemsim::BankOptions o;
  o.count = 1;
  o.firstCom = 3;
  o.comDir = b.folder.ComDir();
  o.scenario = modemsim::Scenario::Parse(std::string(kQuickModem) + kQuickNetwork +
                                         "[call 0811]\nresult = ERROR\ndelay_ms = 5\n");
  modemsim::ModemBank second(std::move(o));
  ASSERT_TRUE(second.At(0).WaitFor([](const modemsim::ModemStatus& s) { return s.restarts >= 1; },
                                   std::chrono::seconds(3)));
  TConsoleLine& other = b.window->Line(3);
  SetDialogHook({});
  b.window->Card.maxgagal = 0;
  constexpr int kDeadlineMs = 2000;
  for (TConsoleLine* l : {b.line, &other}) {
    l->tDial->SetInterval(200);
    l->CallQuestionDeadlineMs = kDeadlineMs;
    TCallsBench::Tick(*l, true, false, false, false, false);
  }
  b.SwitchOn();
  other.ckOn->setChecked(true);
  other.tOn->SetEnabled(false);
  ASSERT_TRUE(WaitUntil([&] { return second.At(0).Status().hostPresent; }));
  Pump(50);
  b.line->StartCall(true);
  Pump(150);
  other.StartCall(true);
  ASSERT_TRUE(WaitUntil([&] { return OpenQuestions(*b.window).size() == 2; }, 8000)) << b.Log();
  QElapsedTimer clock;
  clock.start();
  // The first line's box goes at its deadline although the second's is
  // still open, and the second's at its own.
  ASSERT_TRUE(WaitUntil([&] { return !b.line->CallQuestionOpen(); }, kDeadlineMs + 3000)) << b.Log();
  EXPECT_TRUE(other.CallQuestionOpen());
  ASSERT_TRUE(WaitUntil([&] { return !other.CallQuestionOpen(); }, kDeadlineMs + 3000));
  EXPECT_LT(clock.elapsed(), 2 * kDeadlineMs);
  EXPECT_TRUE(OpenQuestions(*b.window).empty());
  for (TConsoleLine* l : {b.line, &other}) {
    EXPECT_EQ(Colour(l->lCall), clRed);
    EXPECT_EQ(l->Data.Job, ljStart);
    EXPECT_FALSE(l->tDial->Enabled());
  }
  EXPECT_TRUE(b.Logged("F022-7 : call question unanswered")) << b.Log();
  other.ckOn->setChecked(false);
  b.window.reset();
}

namespace {

// Plays the chain that starts the calls again once a reset is over (the card
// confirmed registered again): each answered reset while the line dials
// starts the first call, until the retry question comes or `maxResets`.
std::size_t RestartTheCallBehindEachReset(TCallsBench& b, std::size_t maxResets, int ms) {
  std::size_t seen = 0;
  WaitUntil(
      [&] {
        const std::string log = b.Log();
        std::size_t answered = 0;
        for (std::size_t at = log.find("Reset OK"); at != std::string::npos; at = log.find("Reset OK", at + 1))
          ++answered;
        if (answered > seen && b.line->Data.Job == ljDialling && !b.line->CallQuestionOpen()) {
          seen = answered;
          b.line->StartCall(true);
        }
        return !b.dialogs.asked.empty() || seen > maxResets;
      },
      ms);
  return seen;
}

}  // namespace

// The chain may start a call again once the reset its failures caused is
// over (the card reporting itself registered again), and from the first
// call, which may go through in between: the failing call's count goes on
// through that, so the operator is still asked after bounded tries.
struct TRestartCase {
  const char* number;  // the one never put through: 0811 the first call, 0812 the second
  const char* result;
  int maxgagal;
};

void PrintTo(const TRestartCase& c, std::ostream* os) {
  *os << c.number << " " << c.result << ", maxgagal " << c.maxgagal;
}

class ChainRestart : public ::testing::TestWithParam<TRestartCase> {};

TEST_P(ChainRestart, TheCallNeverPutThroughIsStillAskedAbout) {
  const TRestartCase c = GetParam();
  const bool second = std::string(c.number) == "0812";
  TCallsBench b("", std::string("[call ") + c.number + "]\nresult = " + c.result + "\ndelay_ms = 10\n");
  b.window->Card.maxgagal = c.maxgagal;
  b.line->tDial->SetInterval(100);
  b.Tick(true, second, true, false, false);
  b.dialogs.answers.push_back(TModalResult::No);
  b.SwitchOn();
  b.line->StartCall(true);
  const std::size_t resetsSeen = RestartTheCallBehindEachReset(b, 40, 40000);
  const std::string dial = std::string("ATD") + c.number + ";\r";
  ASSERT_FALSE(b.dialogs.asked.empty()) << "resets " << resetsSeen << ", dials " << b.Count(dial);
  EXPECT_LE(b.Count(dial), 11u) << b.Log();
  ASSERT_TRUE(b.WaitHost("AT+CMGS=\"0821\"\r")) << b.Log();
  EXPECT_EQ(Colour(b.line->lCall), second ? clLime : clRed);
  if (second) EXPECT_EQ(Colour(b.line->lCall2), clRed);
}

INSTANTIATE_TEST_SUITE_P(Table, ChainRestart,
                         ::testing::Values(TRestartCase{"0811", "BUSY", 1}, TRestartCase{"0811", "NO CARRIER", 1},
                                           TRestartCase{"0811", "BUSY", 2}, TRestartCase{"0811", "NO CARRIER", 3},
                                           TRestartCase{"0812", "BUSY", 1},
                                           TRestartCase{"0812", "NO CARRIER", 2}));
