// The soak's judge on runs written by hand: one card's stay on one line, its
// transcript, its log and its labels' turns. A judge that passes a run
// where nothing succeeded is a defect; so is one that fails a run where
// everything did.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "SoakJudge.h"

using namespace corvane;
using namespace corvane::test;

namespace {

TCardSettings SoakCardSettings() {
  TCardSettings c;
  c.no2dial = "0811000001";
  c.no2dial2 = "0811000002";
  c.waktudial = 2;
  c.phpenerimasms = "0821000001";
  c.smstextsend = "Soak satu";
  c.phpenerimasms2 = "0821000002";
  c.smstextsend2 = "Soak dua";
  c.cekpulsa = "*888#";
  return c;
}

// One card's stay written down, times in ms from the run's start.
class TWrittenRun {
 public:
  TWrittenRun() {
    session.line = 1;
    session.index = 1;
    session.card.id = "S1";
    session.card.expect.fill(TSoakExpect::Lime);
    session.begin = At(0);
    session.end = At(9000);
    session.how = TSoakSession::TEnd::Finished;
  }
  TSoakTime At(int ms) const { return origin + std::chrono::milliseconds(ms); }
  void Host(int ms, std::string bytes) { Entry(ms, modemsim::Direction::ToModem, std::move(bytes)); }
  void Modem(int ms, std::string bytes) { Entry(ms, modemsim::Direction::FromModem, std::move(bytes)); }
  void Event(int ms, std::string text) { Entry(ms, modemsim::Direction::Event, std::move(text)); }
  void Lime(int ms, TSoakStep s) { record.limes.push_back({s, At(ms)}); }
  void Red(int ms, TSoakStep s) { record.reds.push_back({s, At(ms)}); }
  void Log(int ms, std::string text) { record.log.push_back({At(ms), std::move(text)}); }

  // The bring-up and the walk as the modem records them.
  void BringUp() {
    Host(100, "AT+CSQ\r");
    Modem(110, "\r\n+CSQ: 21,0\r\n\r\nOK\r\n");
    Host(200, "AT+CFUN=1\r");
    Modem(210, "\r\nOK\r\n");
    Modem(400, "\r\n+WIND: 1\r\n");
    Host(450, "AT+CIMI\r");
    Modem(460, "\r\n510109900100100\r\n\r\nOK\r\n");
    Host(600, "AT+STGI=0\r");
    Modem(610, "\r\n+STGI: \"Kartu Perdana\"\r\n\r\nOK\r\n");
  }
  void Registers() {
    Event(1000, "card S1 registered");
    Lime(1100, TSoakStep::Reg);
  }
  void Call(int ms, const std::string& number, TSoakStep step) {
    Host(ms, "ATD" + number + ";\r");
    Event(ms + 5, "dial " + number);
    Modem(ms + 10, "\r\nOK\r\n");
    Host(ms + 2100, "ATH\r");
    Event(ms + 2105, "hang up");
    Modem(ms + 2110, "\r\nOK\r\n");
    Lime(ms + 2200, step);
  }
  void Sms(int ms, const std::string& number, const std::string& text, TSoakStep step) {
    Host(ms, "AT+CMGS=\"" + number + "\"\r");
    Modem(ms + 10, "\r\n> ");
    Host(ms + 20, text + "\x1a");
    Event(ms + 60, "sms to " + number + ": " + text);
    Modem(ms + 70, "\r\n+CMGS: 4\r\n\r\nOK\r\n");
    Lime(ms + 100, step);
  }
  void Balance(int ms) {
    Host(ms, "AT+CUSD=1,\"*888#\"\r");
    Event(ms + 5, "ussd *888#");
    Modem(ms + 10, "\r\nOK\r\n");
    Modem(ms + 200, "\r\n+CUSD: 0,\"Sisa pulsa Anda Rp 5.000\",15\r\n");
    Lime(ms + 300, TSoakStep::CekPulsa);
  }
  // A card that goes through every step.
  void Succeeds() {
    BringUp();
    Registers();
    Call(1200, "0811000001", TSoakStep::Call);
    Call(3500, "0811000002", TSoakStep::Call2);
    Sms(5800, "0821000001", "Soak satu", TSoakStep::Sms1);
    Sms(6200, "0821000002", "Soak dua", TSoakStep::Sms2);
    Balance(6600);
    session.labels = "++++++";
  }

  std::vector<TSoakFinding> Findings() {
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.at < b.at; });
    TSoakJudge judge(card, origin);
    judge.CheckSession(session, record, entries);
    judge.CheckPacing(session.line, entries);
    judge.CheckRun({session});
    return judge.Findings();
  }
  std::set<std::string> Judge() {
    std::set<std::string> kinds;
    for (const TSoakFinding& f : Findings()) kinds.insert(f.kind);
    return kinds;
  }

  TSoakSession session;
  TLineRecord record;
  TSoakEntries entries;
  const TCardSettings card = SoakCardSettings();

 private:
  void Entry(int ms, modemsim::Direction d, std::string bytes) { entries.push_back({At(ms), ms, d, std::move(bytes)}); }
  const TSoakTime origin = TSoakClock::now();
};

struct TJudgeCase {
  const char* name;
  std::function<void(TWrittenRun&)> write;
  std::set<std::string> findings;  // the kinds the judge must report, and no others
};

void PrintTo(const TJudgeCase& c, std::ostream* os) { *os << c.name; }

class SoakJudgeTable : public ::testing::TestWithParam<TJudgeCase> {};

TEST_P(SoakJudgeTable, ReportsExactlyTheBrokenPromises) {
  TWrittenRun run;
  GetParam().write(run);
  EXPECT_EQ(run.Judge(), GetParam().findings);
}

const TJudgeCase kCases[] = {
    {"EveryStepDone", [](TWrittenRun& r) { r.Succeeds(); }, {}},
    // The line asked and walked, nothing registered, nothing shown.
    {"NothingRegisters",
     [](TWrittenRun& r) {
       r.BringUp();
       r.session.labels = "------";
     },
     {"empty run", "planned lime missing", "no outcome Reg"}},
    // Registered, then every later step shown red without a command of it.
    {"EveryStepAfterRegistrationRedUntried",
     [](TWrittenRun& r) {
       r.BringUp();
       r.Registers();
       for (const TSoakStep s : {TSoakStep::Call, TSoakStep::Call2, TSoakStep::Sms1, TSoakStep::Sms2, TSoakStep::CekPulsa})
         r.Red(1300, s);
       r.Log(1290, "F022-8 : 1st call failed");
       r.Log(1290, "F025-4: SMS refused; SMS failed");
       r.Log(1290, "F030-1 : balance check failed");
       r.session.labels = "+xxxxx";
     },
     {"empty run", "planned lime missing", "red untried CALL", "red untried CALL2", "red untried SMS 1",
      "red untried SMS 2", "red untried Cek Pulsa"}},
    // Shown registered though the card never was.
    {"RegistrationNotBackedByTheModem",
     [](TWrittenRun& r) {
       r.Succeeds();
       r.entries.erase(std::remove_if(r.entries.begin(), r.entries.end(),
                                      [](const modemsim::TranscriptEntry& e) { return e.bytes == "card S1 registered"; }),
                       r.entries.end());
     },
     {"false lime Reg"}},
    // A balance the network refused with status 4 and a text.
    {"BalanceRefusedWithATextShownLime",
     [](TWrittenRun& r) {
       r.Succeeds();
       for (auto& e : r.entries)
         if (e.bytes.find("+CUSD: 0,") != std::string::npos) e.bytes = "\r\n+CUSD: 4,\"Layanan tidak tersedia\",15\r\n";
     },
     {"false lime Cek Pulsa"}},
    // Seven resets, one second apart, in one card's stay.
    {"ResetsBeyondTheBudgetAndThePace",
     [](TWrittenRun& r) {
       r.Succeeds();
       for (int k = 0; k < 6; ++k) r.Host(7000 + 300 * k, "AT+CFUN=1\r");
     },
     {"reset budget", "reset pace"}},
    // A refused command sent again at once.
    {"RefusedCommandResentWithoutItsPause",
     [](TWrittenRun& r) {
       r.Succeeds();
       r.Host(8000, "AT+CIMI\r");
       r.Modem(8010, "\r\n+CME ERROR: 515\r\n");
       r.Host(8100, "AT+CIMI\r");
     },
     {"retry pace"}},
    // The card before's labels still shown after the line took this one up.
    {"LimeCarriedIntoTheNextCard",
     [](TWrittenRun& r) {
       r.BringUp();
       r.Registers();
       r.record.limes.push_back({TSoakStep::Call, r.At(-5000)});
       r.session.labels = "++----";
       r.session.card.swapAfterMs = 2000;
       r.session.how = TSoakSession::TEnd::Swapped;
     },
     {"lime carried over CALL"}},
};

// A mechanism broken for good repeats its finding: the judge lists a few
// and counts the rest.
TEST(SoakJudge, ListsAFewOfAFindingAndCountsTheRest) {
  TWrittenRun run;
  run.Succeeds();
  for (int k = 0; k <= TSoakJudge::ListedPerKind + 3; ++k) {
    run.Host(8000 + 20 * k, "AT+CIMI\r");
    run.Modem(8005 + 20 * k, "\r\nERROR\r\n");
  }
  const std::vector<TSoakFinding> findings = run.Findings();
  ASSERT_EQ(findings.size(), static_cast<std::size_t>(TSoakJudge::ListedPerKind + 1));
  EXPECT_EQ(findings.back().what, "line 1: 3 more of these");
}

INSTANTIATE_TEST_SUITE_P(Judge, SoakJudgeTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TJudgeCase>& i) { return std::string(i.param.name); });

}  // namespace

namespace {

// Whatever the seed, the plan plays every event on some card, and a card it
// lets succeed has steps that must end lime.
TEST(SoakPlan, EverySeedPlaysEveryEvent) {
  for (unsigned seed = 0; seed < 300; ++seed) {
    const TSoakPlan plan = DrawSoakPlan(seed);
    EXPECT_TRUE(plan.Missing().empty()) << "seed " << seed << " misses " << EventName(plan.Missing().front());
    int succeeding = 0;
    for (const TSoakLinePlan& line : plan.lines)
      for (const TSoakCard& card : line.cards) succeeding += card.CanSucceed();
    EXPECT_GE(succeeding, kSoakLines) << "seed " << seed;
  }
}

}  // namespace
