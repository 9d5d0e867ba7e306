// Whose a modem's answer is: whole final result lines only, a late answer
// for the command that timed out, a second answer for nobody, and the same
// outcome wherever the modem's output was cut into notices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "uReplyScan.h"

using corvane::prep::FinalResultOf;
using corvane::prep::TAnswerLedger;
using corvane::prep::TFinalResult;
using Owner = TAnswerLedger::TOwner;

namespace {

TEST(ReplyScan, OnlyAWholeFinalLineIsAnAnswer) {
  const struct {
    const char* line;
    TFinalResult result;
  } kRows[] = {
      {"OK", TFinalResult::Ok},
      {" OK ", TFinalResult::Ok},
      {"ERROR", TFinalResult::Error},
      {"+CME ERROR: 3", TFinalResult::Error},
      {"+CMS ERROR: 500", TFinalResult::Error},
      {"ok", TFinalResult::None},  // case matters
      {"+CUSD: 0,\"Status OK\",15", TFinalResult::None},
      {"BOOK", TFinalResult::None},
      {"OK?", TFinalResult::None},
      {"+WIND: 3", TFinalResult::None},
      {"", TFinalResult::None},
  };
  for (const auto& r : kRows) EXPECT_EQ(FinalResultOf(r.line), r.result) << '"' << r.line << '"';
}

// One step of a script: a command sent, a time-out, or the modem's bytes.
struct Step {
  enum Kind { Send, TimeOut, Bytes } kind;
  const char* text;
};

struct Got {
  TFinalResult result;
  Owner owner;
  bool operator==(const Got& o) const { return result == o.result && owner == o.owner; }
};

std::ostream& operator<<(std::ostream& os, const Got& g) {
  return os << (g.result == TFinalResult::Ok ? "OK" : "ERROR") << '/'
            << (g.owner == Owner::Command ? "command" : g.owner == Owner::Late ? "late" : "extra");
}

// Runs a script; `cut` > 0 feeds the modem's bytes that many at a time.
std::vector<Got> Replay(const std::vector<Step>& script, std::size_t cut) {
  TAnswerLedger ledger;
  std::vector<Got> got;
  for (const Step& s : script) {
    switch (s.kind) {
      case Step::Send: ledger.Sent(s.text); break;
      case Step::TimeOut: ledger.TimedOut(); break;
      case Step::Bytes: {
        const std::string bytes = s.text;
        for (std::size_t i = 0; i < bytes.size(); i += cut)
          for (const auto& a : ledger.Take(bytes.substr(i, cut))) got.push_back({a.result, a.owner});
        break;
      }
    }
  }
  return got;
}

constexpr TFinalResult kOk = TFinalResult::Ok;
constexpr TFinalResult kErr = TFinalResult::Error;

TEST(AnswerLedger, EveryAnswerGoesToTheCommandItAnswers) {
  const struct {
    const char* name;
    std::vector<Step> script;
    std::vector<Got> got;
  } kRows[] = {
      {"answered in time", {{Step::Send, "AT+STSF=1"}, {Step::Bytes, "\r\nOK\r\n"}}, {{kOk, Owner::Command}}},
      {"echo, then the answer",
       {{Step::Send, "AT"}, {Step::Bytes, "AT\r\r\n+CME ERROR: 3\r\n"}},
       {{kErr, Owner::Command}}},
      {"OK inside another line is no answer",
       {{Step::Send, "AT+WIND=1"}, {Step::Bytes, "\r\n+CUSD: 0,\"OK\"\r\nBOOK\r\n"}},
       {}},
      {"a late answer, however late, pays the debt before the next command's",
       {{Step::Send, "AT+STSF=0"},
        {Step::TimeOut, ""},
        {Step::Send, "AT+STSF=1"},
        {Step::Bytes, "\r\nOK\r\n"},
        {Step::Bytes, "\r\nERROR\r\n"}},
       {{kOk, Owner::Late}, {kErr, Owner::Command}}},
      {"two commands timed out owe two answers",
       {{Step::Send, "AT+STSF=0"},
        {Step::Bytes, "AT+STSF=0\r"},
        {Step::TimeOut, ""},
        {Step::Send, "AT+WIND=1"},
        {Step::Bytes, "AT+WIND=1\r"},  // the echo says the modem has read it, not that it answered
        {Step::TimeOut, ""},
        {Step::Send, "AT+CFUN=1"},
        {Step::Bytes, "\r\nOK\r\n\r\nERROR\r\n\r\nOK\r\n"}},
       {{kOk, Owner::Late}, {kErr, Owner::Late}, {kOk, Owner::Command}}},
      {"a second answer is nobody's",
       {{Step::Send, "AT+WIND=1"}, {Step::Bytes, "\r\nERROR\r\n"}, {Step::Bytes, "\r\nOK\r\n"}},
       {{kErr, Owner::Command}, {kOk, Owner::Extra}}},
      {"a final line with no command sent",
       {{Step::Bytes, "\r\nOK\r\n"}},
       {{kOk, Owner::Extra}}},
      // The modem echoed the last command: ahead of this command's echo a
      // final line answers something earlier.
      {"a second answer ahead of the next command's echo",
       {{Step::Send, "AT+STSF=0"},
        {Step::Bytes, "AT+STSF=0\r\r\nOK\r\n"},
        {Step::Send, "AT+STSF=1"},
        {Step::Bytes, "\r\nOK\r\nAT+STSF=1\r\r\nERROR\r\n"}},
       {{kOk, Owner::Command}, {kOk, Owner::Extra}, {kErr, Owner::Command}}},
      {"no echo after ATE0: the next answer is taken without one",
       {{Step::Send, "ATE0"},
        {Step::Bytes, "ATE0\r\r\nOK\r\n"},
        {Step::Send, "AT+STSF=1"},
        {Step::Bytes, "\r\nOK\r\n"}},
       {{kOk, Owner::Command}, {kOk, Owner::Command}}},
      // A lost command, with the echo off: the next command's answer pays
      // its debt; when that one then times out it owes nothing, so the
      // shift ends there.
      {"a lost command shifts one answer, not all",
       {{Step::Send, "AT+STSF=0"},
        {Step::TimeOut, ""},
        {Step::Send, "AT+STSF=1"},
        {Step::Bytes, "\r\nOK\r\n"},
        {Step::TimeOut, ""},
        {Step::Send, "AT+WIND=1"},
        {Step::Bytes, "\r\nERROR\r\n"}},
       {{kOk, Owner::Late}, {kErr, Owner::Command}}},
      // With the echo on, a command the modem never read shows no echo: the
      // next command's echo says it owes nothing. One that was read owes.
      {"a command never read owes nothing once a later one is echoed",
       {{Step::Send, "AT+STSF=1"},
        {Step::TimeOut, ""},
        {Step::Send, "AT+STSF=0"},
        {Step::TimeOut, ""},
        {Step::Send, "AT+STSF=1"},
        {Step::Bytes, "AT+STSF=1\r\r\nOK\r\n"}},
       {{kOk, Owner::Command}}},
      {"a command read but not answered still owes after a later echo",
       {{Step::Send, "AT+STSF=0"},
        {Step::Bytes, "AT+STSF=0\r"},
        {Step::TimeOut, ""},
        {Step::Send, "AT+STSF=1"},
        {Step::Bytes, "AT+STSF=1\r\r\nERROR\r\n\r\nOK\r\n"}},
       {{kErr, Owner::Late}, {kOk, Owner::Command}}},
      {"a restart owed may have switched the echo on: no debt is dropped",
       {{Step::Send, "AT+CFUN=1"},
        {Step::TimeOut, ""},
        {Step::Send, "AT+STSF=1"},
        {Step::Bytes, "AT+STSF=1\r\r\nOK\r\n\r\nOK\r\n"}},
       {{kOk, Owner::Late}, {kOk, Owner::Command}}},
  };
  for (const auto& r : kRows) {
    EXPECT_EQ(Replay(r.script, 1 << 20), r.got) << r.name;
    // Cut anywhere, one byte per notice included, the outcome is the same.
    for (std::size_t cut : {1, 2, 3, 5}) EXPECT_EQ(Replay(r.script, cut), r.got) << r.name << ", cut " << cut;
  }
}

TEST(AnswerLedger, ForgetStartsAfresh) {
  TAnswerLedger ledger;
  ledger.Sent("AT+STSF=1");
  ledger.TimedOut();
  EXPECT_EQ(ledger.Owed(), 1);
  EXPECT_TRUE(ledger.Take("\r\nO").empty());
  ledger.Forget();
  EXPECT_EQ(ledger.Owed(), 0);
  // The half line from the modem left behind is not completed by the next.
  ledger.Sent("AT");
  EXPECT_TRUE(ledger.Take("K\r\n").empty());
  const auto got = ledger.Take("\r\nOK\r\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].owner, Owner::Command);
}

TEST(AnswerLedger, AnOverlongLineIsNoAnswer) {
  TAnswerLedger ledger;
  ledger.Sent("AT");
  EXPECT_TRUE(ledger.Take(std::string(TAnswerLedger::MaxLine + 10, 'x') + "OK\r\n").empty());
  EXPECT_TRUE(ledger.InFlight());
  EXPECT_EQ(ledger.Take("OK\r\n").size(), 1u);
}

}  // namespace
