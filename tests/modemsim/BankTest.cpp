// The bank as the programs see it: COM links, cards put in and taken out,
// a host that comes and goes, the transcript, and the control protocol.
#include "TestNames.h"
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ComDir.h"
#include "ControlChannel.h"
#include "SimFixture.h"
#include "Subprocess.h"

namespace modemsim_test {
namespace {

const char* const kCards =
    "wind = 1\nstsf = 1\ncard = A\n"
    "[card A]\nimsi = 5101000000000{n}1\nmenu = m\n"
    "[card B]\nimsi = 5101000000000{n}2\nmenu = m\n"
    "[node m]\ntype = menu\ntitle = M\nitem.1 = X -> e\n"
    "[node e]\ntype = end\n";

std::string LinkTarget(const std::string& link) {
  std::error_code ec;
  const auto target = std::filesystem::read_symlink(link, ec);
  return ec ? "" : target.string();
}

TEST(Bank, LinksComNumbersToItsLinesAndRemovesThemAtTheEnd) {
  TempDir dir;
  {
    modemsim::BankOptions o;
    o.count = 3;
    o.firstCom = 5;
    o.comDir = dir.Path();
    o.scenario = modemsim::Scenario::Parse(kFastModem);
    modemsim::ModemBank bank(o);
    ASSERT_EQ(bank.Count(), 3);
    for (int i = 0; i < 3; ++i) {
      modemsim::Modem& m = bank.At(i);
      EXPECT_EQ(m.ComNumber(), 5 + i);
      EXPECT_EQ(m.ComPath(), dir.File("COM" + std::to_string(5 + i)));
      EXPECT_EQ(LinkTarget(m.ComPath()), m.DevicePath());
    }
    EXPECT_EQ(bank.ByCom(6), &bank.At(1));
    EXPECT_EQ(bank.ByCom(8), nullptr);
    HostPort host(dir.File("COM7"));  // a program opens it by its COM name
    EXPECT_EQ(host.Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(Bank, TakesItsComDirectoryFromTheEnvironment) {
  corvane::testsupport::ComDir dir("modemsim");
  {
    modemsim::ModemBank bank(modemsim::BankOptions{});
    EXPECT_EQ(bank.At(0).ComPath(), dir.LinkPath(1));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(Bank, HangUpRemovesTheLinkAndReconnectMakesANewLine) {
  TempDir dir;
  modemsim::BankOptions o;
  o.comDir = dir.Path();
  modemsim::ModemBank bank(o);
  modemsim::Modem& m = bank.At(0);
  const std::string link = m.ComPath();
  const std::string first = m.DevicePath();
  m.HangUp();
  EXPECT_EQ(m.ComPath(), "");
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  m.Reconnect();
  EXPECT_EQ(m.ComPath(), link);
  EXPECT_EQ(LinkTarget(link), m.DevicePath());
}

class Cards : public SimFixture {
 protected:
  void SetUp() override {
    Start(kCards);
    ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
  }
};

TEST_F(Cards, RemovalAndInsertionAreReportedAndTheNewCardAnswers) {
  modem->RemoveCard();
  EXPECT_EQ(host->ReadLine("+WIND:"), "\r\n+WIND: 0\r\n");
  EXPECT_EQ(host->Command("AT+CIMI\r"), "\r\nERROR\r\n");
  modem->InsertCard("B");
  EXPECT_EQ(host->ReadLine("+STIN:"), "\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n");
  EXPECT_EQ(host->Command("AT+CIMI\r"), "\r\n510100000000012\r\n\r\nOK\r\n");
  EXPECT_EQ(modem->Status().card, "B");
}

TEST_F(Cards, RefusedCardMovesSayWhy) {
  EXPECT_THROW(modem->InsertCard("B"), std::invalid_argument);  // A is still in
  modem->RemoveCard();
  EXPECT_THROW(modem->RemoveCard(), std::invalid_argument);
  EXPECT_THROW(modem->InsertCard("Z"), std::invalid_argument);
}

TEST_F(Cards, RemovalEndsTheToolkitSessionAndItsMenu) {
  host->Command("AT+CFUN=1\r");
  host->ReadLine("+STIN: 0");
  host->Command("ATE0\r");
  EXPECT_TRUE(modem->Status().menuReady);
  modem->RemoveCard();
  host->ReadLine("+WIND: 0");
  EXPECT_EQ(host->Command("AT+CMEE=1;+STGI=0\r"), "\r\n+CME ERROR: 518\r\n");
}

TEST_F(Cards, WhatGoesOutWhileNobodyListensIsNotHeardLater) {
  host->Close();
  ASSERT_TRUE(modem->WaitFor([](const modemsim::ModemStatus& s) { return !s.hostPresent; }, 2s));
  modem->SendUnsolicited("+WIND: 13");
  host = std::make_unique<HostPort>(modem->DevicePath());
  ASSERT_TRUE(modem->WaitFor([](const modemsim::ModemStatus& s) { return s.hostPresent; }, 2s));
  EXPECT_EQ(host->ReadFor(80ms), "");
  EXPECT_EQ(host->Command("AT\r"), "\r\nOK\r\n");
  bool unheard = false;
  for (const auto& e : modem->Transcript().Entries())
    unheard = unheard || e.bytes.find("unheard (no host): \"\\r\\n+WIND: 13") != std::string::npos;
  EXPECT_TRUE(unheard);
}

TEST_F(Cards, TranscriptKeepsBothDirectionsInOrderWithTimes) {
  host->Command("AT+CSQ\r");
  const auto entries = modem->Transcript().Entries();
  long long last = -1;
  for (const auto& e : entries) {
    EXPECT_GE(e.ms, last);
    last = e.ms;
  }
  const std::string host = modem->Transcript().HostText();
  EXPECT_EQ(host.substr(host.size() - 7), "AT+CSQ\r");
  EXPECT_NE(modem->Transcript().ModemText().find("\r\n+CSQ: 21,0\r\n\r\nOK\r\n"), std::string::npos);
  const auto line = modemsim::Transcript::Format(entries.back(), "COM1");
  EXPECT_NE(line.find(" COM1 out \"\\r\\n+CSQ: 21,0\\r\\n\\r\\nOK\\r\\n\""), std::string::npos) << line;
}

TEST(ControlTokens, SplitOnBlanksOutsideQuotes) {
  EXPECT_EQ(modemsim::ControlChannel::Tokenize("fault 2  command=AT+CSQ reply=\"cme 10\" noise=\\x00"),
            (std::vector<std::string>{"fault", "2", "command=AT+CSQ", "reply=cme 10",
                                      std::string("noise=\0", 7)}));
  EXPECT_EQ(modemsim::ControlChannel::Tokenize("a \"\" b"), (std::vector<std::string>{"a", "", "b"}));
}

class Control : public Cards {};

TEST_F(Control, CommandsReachTheModem) {
  modemsim::ControlChannel control(*bank);
  EXPECT_EQ(control.Run("help").substr(0, 3), "OK ");
  EXPECT_EQ(control.Run("list"), "OK COM1=" + modem->DevicePath());
  EXPECT_EQ(control.Run("# comment"), "");
  EXPECT_EQ(control.Run("remove 1"), "OK");
  EXPECT_EQ(host->ReadLine("+WIND:"), "\r\n+WIND: 0\r\n");
  EXPECT_EQ(control.Run("insert COM1 B"), "OK");
  host->ReadLine("+STIN: 0");
  EXPECT_NE(control.Run("status 1").find(" card=B "), std::string::npos);
  EXPECT_EQ(control.Run("fault 1 command=AT+CSQ times=1 reply=\"cme 30\""), "OK");
  EXPECT_EQ(host->Command("AT+CSQ\r"), "\r\n+CME ERROR: 30\r\n");
  EXPECT_EQ(control.Run("signal 1 5 7"), "OK");
  EXPECT_EQ(host->Command("AT+CSQ\r"), "\r\n+CSQ: 5,7\r\n\r\nOK\r\n");
  EXPECT_EQ(control.Run("unsolicited 1 +CMTI: \"SM\",3"), "OK");
  EXPECT_EQ(host->ReadLine("+CMTI"), "\r\n+CMTI: \"SM\",3\r\n");
  EXPECT_EQ(control.Run("raw 1 \\x00AB\\r"), "OK");
  EXPECT_EQ(host->ReadUntil("\r"), std::string("\0AB\r", 4));
  EXPECT_EQ(control.Run("silent 1 on"), "OK");
  EXPECT_EQ(control.Run("silent 1 off"), "OK");
  EXPECT_EQ(control.Run("hangup 1"), "OK");
  EXPECT_TRUE(host->LineGone());
  EXPECT_EQ(control.Run("reconnect 1"), "OK");
  EXPECT_FALSE(control.QuitRequested());
  EXPECT_EQ(control.Run("quit"), "OK bye");
  EXPECT_TRUE(control.QuitRequested());
}

struct Refused {
  const char* line;
  const char* error;
};
MODEMSIM_ROW_NAME(Refused, line)


class ControlRefusals : public Cards, public ::testing::WithParamInterface<Refused> {};

TEST_P(ControlRefusals, SayWhy) {
  modemsim::ControlChannel control(*bank);
  const std::string reply = control.Run(GetParam().line);
  EXPECT_EQ(reply.rfind("ERROR ", 0), 0u) << reply;
  EXPECT_NE(reply.find(GetParam().error), std::string::npos) << reply;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ControlRefusals,
    ::testing::Values(Refused{"bogus 1", "unknown command"}, Refused{"insert 1 B", "still in"},
                      Refused{"insert 2 B", "no modem '2'"}, Refused{"remove COM9", "no modem on COM9"},
                      Refused{"insert 1", "needs more"}, Refused{"silent 1 maybe", "on or off"},
                      Refused{"fault 1 reply=error", "command="},
                      Refused{"fault 1 command=AT colour=red", "unknown fault key"},
                      Refused{"signal 1 100 0", "0..99"}, Refused{"reconnect 1", "plugged in"}));

}  // namespace
}  // namespace modemsim_test
