// A line's SIM Toolkit dialogue driven chunk by chunk, with a pseudo-terminal
// as the modem: the menu automaton, the answers and their delay, the input
// prompt, the error retries, the notifications and the reply to an answer.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>

#include "SerBaseExcept.h"
#include "StkLineFixture.h"
#include "uConstType.h"
#include "ui_TfzCorvaneV4.h"

using namespace corvane;
using namespace corvane::test;

namespace {

const std::string kMenuReply =
    "AT+STGI=0\r\r\n+STGI: \"Kartu Perdana\"\r\n+STGI: 1,3,\"Registrasi\",0\r\n"
    "+STGI: 2,3,\"Info Kartu\",0\r\n+STGI: 128,3,\"Bantuan\",0,21\r\n\r\nOK\r\n";
const std::string kSelectReply =
    "\r\n+STGI: 0,\"Registrasi Kartu\"\r\n+STGI: 1,2,\"Registrasi Baru\",0\r\n"
    "+STGI: 2,2,\"Cek Status Registrasi\",0\r\n\r\nOK\r\n";
const std::string kNikReply = "\r\n+STGI: 0,1,16,16,0,\"Masukkan NIK (16 digit)\"\r\n\r\nOK\r\n";

std::string DisplayScreen(const std::string& text) { return "\r\n+STGI: 0,\"" + text + "\",1\r\n\r\nOK\r\n"; }

}  // namespace

TEST(StkLine, MainMenuShowsItsItemsAndAnswersAfterTheDelay) {
  TStkLine t(2, "300");
  t.Request("0");
  EXPECT_EQ(t.Data().StkCommand, 0);
  EXPECT_EQ(t.Line().Reply(), rtStkGetInfo);
  EXPECT_TRUE(t.Line().tWatchDog->Enabled());
  t.Feed(kMenuReply);
  EXPECT_FALSE(t.Line().tWatchDog->Enabled());
  const std::vector<std::string> shown = {"Kartu Perdana", "Registrasi", "Info Kartu", "Bantuan", "\n\nOK\n",
                                          "select : 1"};
  EXPECT_EQ(t.Display(), shown);
  EXPECT_TRUE(t.Logged("F016-1:======= MENU ======="));
  EXPECT_TRUE(t.Logged("F016-2:======= MENU END ======="));
  EXPECT_EQ(t.Line().Reply(), rtStkGetInfo);  // until the answer goes out
  EXPECT_EQ(t.SentWithin(150), "");
  EXPECT_EQ(t.SentUntil("\r"), "AT+STGR=0,1,1\r");
  EXPECT_EQ(t.Line().Reply(), rtStkResponse);
  EXPECT_TRUE(t.Data().RxBuffer.empty());
  EXPECT_TRUE(t.Logged("Give Response"));
  EXPECT_TRUE(t.central.messages.empty());
}

TEST(StkLine, MenuReplyCutAnywhereQueuesTheSameAnswer) {
  TStkLine t(2, "60000");
  t.Card().jawabanmenu[0] = "128";  // the card's own item id
  for (std::size_t cut = 0; cut <= kMenuReply.size(); ++cut) {
    t.Line().Session.walks = 0;  // each cut is the card's first walk
    t.Line().SendStkGetInfo("0");
    t.Line().PendingAnswer.clear();
    t.Feed(kMenuReply.substr(0, cut));
    if (cut < kMenuReply.size()) t.Feed(kMenuReply.substr(cut));
    EXPECT_EQ(t.Line().PendingAnswer, "AT+STGR=0,1,128\r") << "cut at " << cut;
    EXPECT_TRUE(t.Line().tDelay->Enabled()) << "cut at " << cut;
  }
}

TEST(StkLine, SelectionListIsMatchedOnItsTitleOrItsFirstItem) {
  struct Case {
    const char* name;
    std::string reply;
    std::string answer;  // "" for none
  };
  const Case cases[] = {
      {"title", kSelectReply, "AT+STGR=6,1,1\r"},
      {"empty title: item 1", "\r\n+STGI: 0,\"\"\r\n+STGI: 1,2,\"Registrasi Kartu\",0\r\n\r\nOK\r\n",
       "AT+STGR=6,1,1\r"},
      {"empty title, no item 1", "\r\nOK\r\n+STGI: 0,\"\"\r", ""},
      {"no keyword", "\r\n+STGI: 0,\"Menu Lain\"\r\n+STGI: 1,1,\"Apa saja\",0\r\n\r\nOK\r\n", ""},
  };
  for (const Case& c : cases) {
    TStkLine t(4, "60000");
    t.Request("6");
    t.Feed(c.reply);
    if (c.answer.empty()) {
      // Nothing to answer ends the walk: the next one starts from a reset.
      EXPECT_FALSE(t.Line().tDelay->Enabled()) << c.name;
      EXPECT_EQ(t.Line().Reply(), rtReset) << c.name;
      EXPECT_TRUE(t.Logged("F016-33: walk 0 of 3 failed; resetting the modem")) << c.name;
      EXPECT_TRUE(t.Display().empty()) << c.name;
    } else {
      EXPECT_EQ(t.Line().PendingAnswer, c.answer) << c.name;
      EXPECT_TRUE(t.Logged("F016-13:======= MENU END =======")) << c.name;
    }
  }
}

TEST(StkLine, ConfirmationKeywordsByTheirNumber) {
  struct Case {
    int reset;       // nomorkonfirmasireset
    const char* text;
    bool confirmed;
    bool timeoutArmed;
  };
  const Case cases[] = {
      {2, "Mohon tunggu K1", false, true},  {2, "Selesai K2", true, false},   {1, "K1 dulu", true, false},
      {3, "K2 dan K3", false, true},        {7, "akhir K6", false, false},     {2, "tanpa kata", false, false},
  };
  for (const Case& c : cases) {
    TStkLine t(2, "60000");
    for (int k = 0; k < 6; ++k) t.Card().katakunci[k] = "K" + std::to_string(k + 1);
    t.Card().nomorkonfirmasireset = c.reset;
    t.Data().Job = ljStart;
    t.Data().StkArmed = true;
    t.Request("1");
    t.Feed(DisplayScreen(c.text));
    EXPECT_EQ(t.Line().PendingAnswer, "AT+STGR=1,1,0\r") << c.text;  // every text is confirmed
    EXPECT_EQ(t.Display(), std::vector<std::string>{c.text}) << c.text;
    EXPECT_EQ(t.Data().Job == ljRegistered, c.confirmed) << c.text;
    EXPECT_EQ(!t.Data().StkArmed, c.confirmed) << c.text;
    EXPECT_EQ(t.Line().tMatikan->Enabled(), c.confirmed) << c.text;
    EXPECT_EQ(StaticTextColor(t.Line().lRegistrasi) == clLime, c.confirmed) << c.text;
    EXPECT_EQ(t.Line().tTimeOut->Enabled(), c.timeoutArmed) << c.text;
    EXPECT_EQ(t.Line().Reply(), rtStkGetInfo) << c.text;
  }
}

TEST(StkLine, InputPromptIsAnsweredAtOnceAndTheTextEndsInCtrlZAlone) {
  TStkLine t(2, "60000");
  t.Request("3");
  t.Feed(kNikReply);
  EXPECT_EQ(t.SentUntil("\r"), "AT+STGR=3,1\r");
  EXPECT_EQ(t.Line().Reply(), rtStkResponse);
  EXPECT_EQ(t.Data().StkInput, "3201234567890001");
  t.Feed("AT+STGR=3,1\r\r\n> ");
  EXPECT_EQ(t.SentUntil("\x1A"), "3201234567890001\x1A");
  EXPECT_EQ(t.SentWithin(50), "");
  EXPECT_EQ(t.Display().back(), "inp: 3201234567890001");
  t.Feed("\r\nOK\r\n");
  EXPECT_EQ(t.Line().Reply(), rtIdle);
  EXPECT_TRUE(t.Logged("F021-4:Response STK OK no STIN"));
}

TEST(StkLine, AnInputPromptNoKeywordMatchesSaysSoAndEndsTheWalk) {
  TStkLine t(2);
  t.Request("3");
  t.Feed("\r\n+STGI: 0,1,1,8,0,\"Masukkan PIN\"\r\n\r\nOK\r\n");
  EXPECT_TRUE(t.Logged("F016-32: no input keyword matches \"Masukkan PIN\""));
  EXPECT_EQ(t.SentWithin(100), "AT+CFUN=1\r");
  EXPECT_EQ(t.Line().Reply(), rtReset);
  EXPECT_TRUE(t.Display().empty());
  EXPECT_TRUE(t.Data().RxBuffer.empty());
}

TEST(StkLine, ConfiguredAnswersThatWouldBreakTheCommandLineAreNeverSent) {
  for (char bad : {'\r', '\n', '\x1A', '\x1B', '\b'}) {
    TStkLine t(2);
    t.Card().jawabanmenu[0] = std::string("1") + bad + "AT+CFUN=1";
    t.Card().Jawabandata[0] = std::string("3201") + bad + "AT+CFUN=1";
    // Neither answer goes out; each ends the walk in a reset instead.
    t.Request("0");
    t.Feed(kMenuReply);
    EXPECT_EQ(t.SentWithin(150).find("AT+STGR"), std::string::npos) << int(bad);
    EXPECT_EQ(t.Line().Reply(), rtReset) << int(bad);
    t.Request("3");
    t.Feed(kNikReply);
    EXPECT_EQ(t.SentWithin(100).find("AT+STGR"), std::string::npos) << int(bad);
    EXPECT_EQ(t.Line().Reply(), rtReset) << int(bad);
    EXPECT_TRUE(t.Logged("F012-3 : answer holds the control byte")) << int(bad);
    EXPECT_TRUE(t.Logged("F012-3 : input text holds the control byte")) << int(bad);
  }
}

TEST(StkLine, ErrorsOnAMainMenuRequestWalkTheLadderOneRetryAtATime) {
  TStkLine t(2);
  t.Request("0");
  // Count n of the error -> the code asked next ("" = nothing more).
  std::vector<std::pair<int, std::string>> expected;
  for (int n = 1; n <= 4; ++n) expected.emplace_back(n, "0");
  for (int n = 5; n <= 19; ++n) expected.emplace_back(n, "9");  // 9's own errors go on asking 9
  expected.emplace_back(20, "");
  for (const auto& [n, next] : expected) {
    t.Feed("AT+STGI=x\r\r\n+CME ERROR: 518\r\n");
    ASSERT_NE(t.Line().tStkRetry, nullptr);
    EXPECT_EQ(t.Line().tStkRetry->Enabled(), !next.empty()) << n;
    if (next.empty()) {
      // Past the ladder the line says so and starts the card again from a
      // reset, rather than sitting idle with nothing timed.
      EXPECT_TRUE(t.Logged("F016-26: Get Info 9 refused 20 times; resetting the modem"));
      EXPECT_EQ(t.SentUntil("\r"), "AT+CFUN=1\r");
      break;
    }
    EXPECT_EQ(t.Data().StkErrorCount, n);
    EXPECT_EQ(t.Line().Reply(), rtIdle);
    EXPECT_FALSE(t.Line().tWatchDog->Enabled());
    EXPECT_EQ(t.SentWithin(20), "") << n;  // not at once
    t.Line().tStkRetry->OnTimer();        // the pause has run out
    EXPECT_EQ(t.SentUntil("\r"), "AT+STGI=" + next + "\r") << n;
    EXPECT_EQ(t.Line().Reply(), rtStkGetInfo);
  }
}

TEST(StkLine, LadderRungsByTheCountAtTheError) {
  struct Case {
    std::string code;
    int countBefore;
    std::string next;
  };
  const Case cases[] = {{"0", 9, "1"}, {"0", 13, "1"}, {"0", 14, ""}, {"3", 0, ""}, {"1", 2, ""}};
  for (const Case& c : cases) {
    TStkLine t(2);
    t.Request(c.code);
    t.Data().StkErrorCount = c.countBefore;
    t.Feed("\r\nERROR\r\n");
    const bool retry = t.Line().tStkRetry && t.Line().tStkRetry->Enabled();
    EXPECT_EQ(retry, !c.next.empty()) << c.code << " " << c.countBefore;
    if (!retry) continue;
    t.Line().tStkRetry->OnTimer();
    EXPECT_EQ(t.SentUntil("\r"), "AT+STGI=" + c.next + "\r");
  }
}

// A card slow to get ready refuses its menu until it announces it: the
// announcement brings the paced request forward, whatever the ladder would
// have asked next; without a request waiting it stays idle noise.
TEST(StkLine, TheCardsMenuAnnouncementBringsAPacedRequestForward) {
  struct Case {
    const char* name;
    std::string code;
    int countBefore;
    std::vector<std::string> chunks;
    bool asksNow;
  };
  const std::string refused = "\r\n+CME ERROR: 518\r\n";
  const std::string menu = "\r\n+STIN: 0\r\n";
  const Case cases[] = {
      {"after the refusal", "0", 0, {refused, menu}, true},
      {"in the refusal's chunk", "0", 0, {refused + menu}, true},
      {"while the ladder asks for another screen", "9", 6, {refused, menu}, true},
      {"cut in two", "0", 0, {refused, "\r\n+STI", "N: 0\r\n"}, true},
      {"another screen announced", "0", 0, {refused, "\r\n+STIN: 1\r\n"}, false},
  };
  for (const Case& c : cases) {
    TStkLine t(2);
    t.Request(c.code);
    t.Data().StkErrorCount = c.countBefore;
    for (const std::string& chunk : c.chunks) t.Feed(chunk);
    if (!c.asksNow) {
      EXPECT_FALSE(t.Logged("F016-31")) << c.name;
      continue;
    }
    EXPECT_EQ(t.SentWithin(200), "AT+STGI=0\r") << c.name;  // well inside the pause
    EXPECT_TRUE(t.Logged("F016-31: the card's menu has come, Get Info 0 now")) << c.name;
    EXPECT_FALSE(t.Line().tStkRetry->Enabled()) << c.name;
    EXPECT_EQ(t.Line().Reply(), rtStkGetInfo) << c.name;
  }
  // No request waiting: the announcement is only logged.
  TStkLine t(2);
  t.Line().Reply() = rtIdle;
  t.Feed(menu);
  EXPECT_EQ(t.SentWithin(200), "");
  EXPECT_TRUE(t.Logged("F028-3 :clr data"));
}

TEST(StkLine, ARetryIsDroppedWhenTheLineHasMovedOn) {
  TStkLine t(2);
  t.Request("0");
  t.Feed("\r\n+CME ERROR: 518\r\n");
  ASSERT_TRUE(t.Line().tStkRetry->Enabled());
  t.Feed("\r\n+WIND: 0\r\n");  // the card is taken out during the pause
  t.Line().tStkRetry->OnTimer();
  EXPECT_EQ(t.SentWithin(50), "");
  EXPECT_TRUE(t.Logged("F016-23: line has moved on"));
}

TEST(StkLine, TheRetryPauseIsRealTime) {
  TStkLine t(2);
  t.Request("0");
  t.Feed("\r\n+CME ERROR: 518\r\n");
  EXPECT_EQ(t.SentUntil("\r", 3000), "AT+STGI=0\r");
}

TEST(StkLine, NotificationCodes) {
  struct Case {
    std::string text;
    std::string sent;  // "" for nothing
    TReplyType reply;
    bool bufferCleared;
  };
  const Case cases[] = {
      {"\r\n+STIN: 6\r\n", "AT+STGI=6\r", rtStkGetInfo, true},
      {"\r\n+STIN: 7\r\n", "AT+STGI=7\r", rtStkGetInfo, true},
      {"\r\n+STIN: 98\r\n", "", rtIdle, true},
      {"\r\n+STIN: 99\r\n", "AT+STGI=0\r", rtStkGetInfo, true},
      {"\r\n+STIN: 2\r\n", "", rtIdle, true},
      {"\r\n+STIN: 10\r\n", "", rtIdle, true},
      {"\r\n+STIN: 6", "", rtIdle, false},  // no CR yet: waits
      {"\r\n+CME ERROR: 3\r\n", "", rtIdle, true},
  };
  for (const Case& c : cases) {
    TStkLine t(2);
    t.Line().Reply() = rtIdle;
    t.Data().RxBuffer.clear();
    t.Line().ParseStin(c.text);
    EXPECT_EQ(t.SentWithin(60), c.sent) << c.text;
    EXPECT_EQ(t.Line().Reply(), c.reply) << c.text;
    EXPECT_EQ(t.Data().RxBuffer.empty(), c.bufferCleared) << c.text;
  }
}

TEST(StkLine, ANotificationInTheMenuReplyWinsAndATimeOutDoesNotStrandTheLine) {
  TStkLine t(2);
  t.Request("1");
  t.Feed("\r\nOK\r\n\r\n+STIN: 98\r\n");  // the card gave up on its screen
  EXPECT_EQ(t.Line().Reply(), rtIdle);
  EXPECT_TRUE(t.Data().RxBuffer.empty());
  // Its end of session now reaches the idle receiver and asks for the menu.
  t.Feed("\r\n+STIN: 99\r\n");
  EXPECT_EQ(t.SentUntil("\r"), "AT+STGI=0\r");
}

TEST(StkLine, ReplyToAnAnswer) {
  struct Case {
    std::string reply;
    std::string sent;
    TReplyType after;
  };
  const Case cases[] = {
      {"\r\nOK\r\n\r\n+STIN: 6\r\n", "AT+STGI=6\r", rtStkGetInfo},
      {"\r\n+STIN: 7\r\n", "AT+STGI=0\r", rtIdle},
      {"\r\n+STIN: 99\r\n", "AT+STGI=0\r", rtIdle},
      {"\r\n+STIN: 100\r\n", "AT+STGI=0\r", rtStkGetInfo},
      {"\r\n+STIN: 1\r\n\r\n+STIN: 3\r\n", "AT+STGI=0\r", rtIdle},
      {"\r\n+STIN: 9\r\n+STGI: \"Kirim 2 SMS\"\r\n", "AT+STGI=9\r", rtStkGetInfo},
      {"\r\n+STIN:\r\n", "", rtIdle},
      {"\r\nOK\r\n", "", rtIdle},
      {"\r\n+CME ERROR: 3\r\n", "", rtIdle},
      {"\r\n+STIN: 6", "", rtStkResponse},
      {"AT+STGR=0,1,1\r", "", rtStkResponse},
  };
  for (const Case& c : cases) {
    TStkLine t(2);
    t.Line().SendStkResponse("0,1,1");
    t.Drain();
    t.Feed(c.reply);
    EXPECT_EQ(t.SentWithin(60), c.sent) << c.reply;
    EXPECT_EQ(t.Line().Reply(), c.after) << c.reply;
    EXPECT_TRUE(t.central.messages.empty()) << c.reply;
  }
}

TEST(StkLine, TheNextNotificationIsTakenWhereverTheReplyToAnAnswerIsCut) {
  const std::string reply = "AT+STGR=0,1,1\r\r\nOK\r\n\r\n+STIN: 6\r\n";
  TStkLine t(2);
  for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
    t.Line().SendStkResponse("0,1,1");
    t.Drain();
    t.Feed(reply.substr(0, cut));
    if (cut < reply.size()) t.Feed(reply.substr(cut));
    EXPECT_EQ(t.SentUntil("\r", 500), "AT+STGI=6\r") << "cut at " << cut;
    EXPECT_EQ(t.Line().Reply(), rtStkGetInfo) << "cut at " << cut;
  }
}

TEST(StkLine, APromptIsAnsweredEvenBesideOK) {
  TStkLine t(2);
  t.Data().StkInput = "";
  t.Line().SendStkResponse("3,1");
  t.Drain();
  t.Feed("\r\n> \r\nOK\r\n");
  EXPECT_EQ(t.SentUntil("\x1A"), "\x1A");  // an empty text is Ctrl-Z alone
}

TEST(StkLine, TheCopiesDifferInTheirLogAndInTheCodeTheySend) {
  struct Case {
    int line;
    std::string sent;
    const char* logged;
  };
  const Case cases[] = {
      {1, "AT+STGI=03\r", "F010 : ATI=03"},
      {2, "AT+STGI=03\r", "F010 : ATI=03"},
      {3, "AT+STGI=3\r", "F010 bag 3 psData: 03"},
      {4, "AT+STGI=03\r", "F010 : ATI=03"},
  };
  for (const Case& c : cases) {
    TStkLine t(c.line);
    t.Line().SendStkGetInfo("03");
    EXPECT_EQ(t.SentUntil("\r"), c.sent) << c.line;
    EXPECT_TRUE(t.Logged(c.logged)) << c.line;
    t.Request("0");
    t.Feed(kMenuReply);
    EXPECT_EQ(t.Logged("F012 : "), c.line == 2) << c.line;
    EXPECT_EQ(t.Logged("F016 : "), c.line == 3) << c.line;
  }
}

TEST(StkLine, RequestCodesThatAreNoNumberSendNothing) {
  TStkLine t(2);
  t.Line().SendStkGetInfo("x");
  EXPECT_EQ(t.Data().StkCommand, -1);
  t.Line().SendStkGetInfo("");
  EXPECT_EQ(t.Data().StkCommand, -1);
  EXPECT_EQ(t.SentWithin(50), "");
  t.Line().ckOn->setChecked(false);
  t.Data().StkCommand = 5;
  t.Line().SendStkGetInfo("0");  // closed port: nothing changes
  EXPECT_EQ(t.Data().StkCommand, 5);
}

TEST(StkLine, AQueuedAnswerIsDroppedWhenTheLineMovesOn) {
  struct Case {
    const char* name;
    std::function<void(TStkLine&)> meanwhile;
  };
  const Case cases[] = {
      {"switched off and on again",
       [](TStkLine& t) {
         t.Line().ckOn->setChecked(false);
         t.Line().ckOn->setChecked(true);
         t.Line().tOn->SetEnabled(false);
       }},
      {"card taken out", [](TStkLine& t) { t.Feed("\r\n+WIND: 0\r\n"); }},
      {"a new request", [](TStkLine& t) { t.Line().SendStkGetInfo("0"); }},
  };
  for (const Case& c : cases) {
    TStkLine t(2, "200");
    t.Request("0");
    t.Feed(kMenuReply);
    ASSERT_TRUE(t.Line().tDelay->Enabled()) << c.name;
    c.meanwhile(t);
    EXPECT_EQ(t.SentWithin(400).find("AT+STGR"), std::string::npos) << c.name;
  }
}

TEST(StkLine, ACardReportInsideAMenuReplyStillReachesTheCardHandling) {
  TStkLine t(2, "200");
  t.Data().Job = ljStart;
  t.Request("0");
  const std::size_t mid = kMenuReply.find("+STGI: 2");
  t.Feed(kMenuReply.substr(0, mid) + "\r\n+WIND: 0\r\n");
  t.Feed(kMenuReply.substr(mid));
  EXPECT_EQ(t.Data().Job, ljIdle);
  EXPECT_TRUE(t.Logged("F032-2 :Card NOT Exists"));
  EXPECT_EQ(t.SentWithin(400).find("AT+STGR"), std::string::npos);
}

TEST(StkLine, AnswerDelayOfZeroStillSendsAndABadOneFallsBackToTheDefault) {
  {
    TStkLine t(2, "0");
    t.Request("0");
    t.Feed(kMenuReply);
    EXPECT_EQ(t.SentUntil("\r", 500), "AT+STGR=0,1,1\r");
  }
  // A delay that is no number in 0..60000 never stops the menu: the default
  // is used, said once in a line's log, whether it came from the file or
  // was typed into the window.
  const auto notes = [](TConsoleLine& l) {
    int n = 0;
    for (int i = 0; i < l.lstFunc->count(); ++i)
      n += l.lstFunc->item(i)->data(Qt::UserRole).toByteArray().contains("F000 : MAXDELAY");
    return n;
  };
  for (const char* bad : {"2x", "", "-1", "60001"}) {
    TStkLine t(2, bad);
    EXPECT_EQ(t.Window().Form().eMaxDelay->text(), "2000") << bad;
    EXPECT_EQ(notes(t.Window().Line(1)), 1) << bad;
    t.Window().Form().eMaxDelay->setText(QString::fromLatin1(bad));
    t.Request("0");
    t.Feed(kMenuReply);
    EXPECT_TRUE(t.Line().tDelay->Enabled()) << bad;
    EXPECT_EQ(t.Line().tDelay->Interval(), 2000) << bad;
    EXPECT_EQ(t.Window().Form().eMaxDelay->text(), "2000") << bad;
    EXPECT_EQ(notes(t.Line()), 1) << bad;
    EXPECT_TRUE(t.central.messages.empty()) << bad;
  }
}

TEST(StkLine, AnUnfinishedReplyKeepsTheWatchdogRunning) {
  TStkLine t(2);
  t.Request("0");
  const std::size_t cut = kMenuReply.find("+STGI: 1");
  t.Feed(kMenuReply.substr(0, cut));
  EXPECT_TRUE(t.Line().tWatchDog->Enabled());
  t.Feed("\r\n+WIND: 4\r\n");
  EXPECT_TRUE(t.Line().tWatchDog->Enabled());
  t.Feed(kMenuReply.substr(cut));
  EXPECT_FALSE(t.Line().tWatchDog->Enabled());
  EXPECT_EQ(t.Line().PendingAnswer, "AT+STGR=0,1,1\r");
}

TEST(StkLine, ARegisteredCardIsOnlyLogged) {
  TStkLine t(2);
  t.Data().StkArmed = false;
  t.Request("0");
  t.Feed(kMenuReply);
  EXPECT_TRUE(t.Logged("F016-0: ==== Kartu belum diganti ===="));
  EXPECT_EQ(t.Line().Reply(), rtIdle);
  EXPECT_FALSE(t.Line().tDelay->Enabled());
}

TEST(StkLine, InfoAndEndOfSessionScreens) {
  TStkLine t(2);
  t.Request("9");
  t.Feed("\r\n+STGI: \"Mengirim data, mohon tunggu\"\r\n\r\nOK\r\n");
  EXPECT_EQ(t.Display(), std::vector<std::string>{"Mengirim data, mohon tunggu"});
  EXPECT_TRUE(t.Logged("F016-20:======= UNFO END ======="));
  EXPECT_EQ(t.Line().Reply(), rtIdle);
  t.Request("99");
  t.Feed("\r\nOK\r\n");
  EXPECT_TRUE(t.Logged("F016-21: stat wait"));
  EXPECT_EQ(t.Line().Reply(), rtIdle);
  EXPECT_EQ(t.SentWithin(50), "");
}

// The card's end of session in the same chunk as the "OK" to the last
// confirmation: the menu is asked for again and its reply goes to the idle
// receiver, as always. A card not yet registered keeps the watchdog of that
// request, which resets a modem that stays stuck; a registered card must not,
// or the reset lands in the middle of the calls and SMS that follow.
TEST(StkLine, EndOfSessionBesideTheLastOkResetsOnlyAnUnregisteredCard) {
  struct Case {
    std::string screen;
    bool registered;
  };
  const Case cases[] = {
      {"Registrasi berhasil. Terima kasih", true},
      {"Mohon tunggu, data sedang diproses", false},
  };
  for (const Case& c : cases) {
    TStkLine t(2);
    t.Line().tWatchDog->SetInterval(10);  // the limit runs out in about 210 ms
    t.Request("1");
    t.Feed(DisplayScreen(c.screen));
    EXPECT_EQ(t.Data().Job == ljRegistered, c.registered) << c.screen;
    EXPECT_EQ(t.SentUntil("\r"), "AT+STGR=1,1,0\r") << c.screen;
    t.Feed("\r\nOK\r\n\r\n+STIN: 99\r\n");
    EXPECT_EQ(t.SentUntil("\r"), "AT+STGI=0\r") << c.screen;
    EXPECT_EQ(t.Line().Reply(), rtIdle) << c.screen;
    EXPECT_TRUE(t.Logged("F021-3:stin 99\r angka: 99")) << c.screen;
    EXPECT_EQ(t.Line().tWatchDog->Enabled(), !c.registered) << c.screen;
    t.Feed(kMenuReply);
    const std::string later = t.SentWithin(3 * 10 * (WatchdogLimitSeconds + 1));
    EXPECT_EQ(later.find("AT+CFUN=1") == std::string::npos, c.registered) << c.screen << ": " << later;
  }
}

// A menu answer from the card file is an item id: anything else would go out
// as more of the command line and run as a command of its own.
TEST(StkLine, AMenuAnswerThatIsNoItemIdIsNeverSent) {
  for (const char* answer : {"1;+CFUN=0", "1 ", "+1", "x", ""}) {
    TStkLine t(2);
    t.Card().jawabanmenu[0] = answer;
    t.Request("0");
    t.Feed(kMenuReply);
    // Not sent; the walk ends in a reset instead.
    EXPECT_EQ(t.SentWithin(200).find("AT+STGR"), std::string::npos) << answer;
    EXPECT_FALSE(t.Line().tDelay->Enabled()) << answer;
    EXPECT_EQ(t.Line().Reply(), rtReset) << answer;
    EXPECT_TRUE(t.Logged("F016-27: jawabanmenu1 \"" + std::string(answer) + "\" is no item number")) << answer;
  }
}

// "ERROR" answers the ladder has no retry for: code 6 refused while the SIM
// is busy is asked again after the pause; one on code 1 or 3 gives up with a
// log line and a modem reset instead of leaving the line idle untimed.
TEST(StkLine, ErrorsOffTheMainMenuAreRetriedOrGivenUpLoudly) {
  {
    TStkLine t(2);
    t.Request("6");
    t.Feed("\r\n+CME ERROR: 515\r\n");
    ASSERT_TRUE(t.Line().tStkRetry->Enabled());
    EXPECT_TRUE(t.Logged("F016-22: error 1, Get Info 6 again in 1000 ms"));
    t.Line().tStkRetry->OnTimer();
    EXPECT_EQ(t.SentUntil("\r"), "AT+STGI=6\r");
  }
  for (const char* code : {"1", "3"}) {
    TStkLine t(2);
    t.Request(code);
    t.Feed("\r\nERROR\r\n");
    EXPECT_TRUE(t.Logged(std::string("F016-26: Get Info ") + code + " refused 1 times; resetting the modem")) << code;
    EXPECT_EQ(t.SentUntil("\r"), "AT+CFUN=1\r") << code;
  }
}

// A command the automaton has no step for (a refresh, a send SS) leaves the
// line idle with its buffer clear, ready for the card's next notice.
TEST(StkLine, ACommandWithoutAStepLeavesTheLineIdleAndClear) {
  for (const char* code : {"7", "8"}) {
    TStkLine t(2);
    t.Line().Reply() = rtIdle;
    t.Feed(std::string("\r\n+STIN: ") + code + "\r\n");
    ASSERT_EQ(t.SentUntil("\r"), std::string("AT+STGI=") + code + "\r") << code;
    t.Feed("\r\n+STGI: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(t.Line().Reply(), rtIdle) << code;
    EXPECT_TRUE(t.Data().RxBuffer.empty()) << code;
    EXPECT_FALSE(t.Line().tWatchDog->Enabled()) << code;
    EXPECT_TRUE(t.Logged(std::string("F016-25: no step for command ") + code)) << code;
  }
}

// A modem silent after an answer: the deadline of the answer resets it.
TEST(StkLine, SilenceAfterAnAnswerEndsInAModemReset) {
  TStkLine t(2);
  t.Line().tAnswerGuard->SetInterval(300);
  t.Request("0");
  t.Feed(kMenuReply);
  ASSERT_EQ(t.SentUntil("\r"), "AT+STGR=0,1,1\r");
  // ESC in case the modem still takes text, then the sync, unanswered too.
  EXPECT_EQ(t.SentUntil("\r", 3000), "\x1B" "AT+CMEE?\r");
  EXPECT_EQ(t.SentUntil("\r", 3000), "AT+CFUN=1\r");
  EXPECT_TRUE(t.Logged("F021-8: no answer to AT+STGR in 300 ms; resetting the modem"));
  EXPECT_TRUE(t.Logged("F037 : no answer to AT+CMEE? in 300 ms; going on"));
}

// A card that refuses its input (or was registered before) brings its menu
// back after every walk: past the limit the line shows "Reg" failed, says
// why and waits for the next card.
TEST(StkLine, ACardThatNeverConfirmsIsGivenUpAfterAFewWalks) {
  TStkLine t(2, "1");
  t.Card().katakuncidata[0] = "NIK";
  t.Card().Jawabandata[0] = "3201234567890001";
  for (int walk = 1; walk <= TConsoleLine::RegistrationWalkLimit; ++walk) {
    t.Request("0");
    t.Feed(kMenuReply);
    ASSERT_EQ(t.SentUntil("\r"), "AT+STGR=0,1,1\r") << walk;
    t.Request("3");
    t.Feed(kNikReply);
    ASSERT_EQ(t.SentUntil("\r"), "AT+STGR=3,1\r") << walk;
    t.Drain();
  }
  t.Request("0");
  t.Feed(kMenuReply);
  EXPECT_EQ(t.SentWithin(200), "");
  EXPECT_EQ(StaticTextColor(t.Line().lRegistrasi), clRed);
  EXPECT_TRUE(t.Logged("F016-28: menu walked 3 times without a confirmation; registration failed"));
  EXPECT_EQ(t.Data().Job, ljIdle);
  EXPECT_FALSE(t.Data().StkArmed);
  EXPECT_FALSE(t.Line().tWatchDog->Enabled());
}

// What a reply handler raises (a write to a port that fails) still leaves
// the card reports of its chunk to be read.
TEST(StkLine, ACardReportInAChunkWhoseHandlerRaisesIsStillRead) {
  TStkLine t(2);
  t.Request("0");
  t.Line().OnDispatch = [](const char*, const std::string&) { throw std::runtime_error("write failed"); };
  EXPECT_THROW(t.Feed("\r\n+WIND: 0\r\n"), std::runtime_error);
  t.Line().OnDispatch = nullptr;
  EXPECT_TRUE(t.Logged("F032-2 :Card NOT Exists"));
  EXPECT_EQ(t.Data().Job, ljIdle);
}

// Modem and file text on a line's labels is shown as it is, never as markup.
TEST(StkLine, LabelsShowModemTextAsPlainText) {
  TStkLine t(2);
  TConsoleLine& l = t.Line();
  for (QLabel* label : {l.lNomor, l.lRegistrasi, l.lCall, l.lCall2, l.lSMS1, l.lSMS2, l.lCekPulsa, l.lSignal})
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
}

// A card being registered that goes quiet after its answer was taken (or
// that timed out, "+STIN: 98") would leave the line idle for good: that wait
// has the deadline of a command, and ends in a modem reset.
TEST(StkLine, ACardQuietInTheMiddleOfItsRegistrationEndsInAModemReset) {
  TStkLine t(2, "1");
  t.Line().tAnswerGuard->SetInterval(300);
  t.Line().Reply() = rtImsi;
  t.Feed("\r\n510011234567890\r\n\r\nOK\r\n");
  ASSERT_EQ(t.SentUntil("\r"), "AT+STGI=0\r");
  t.Feed(kMenuReply);
  ASSERT_EQ(t.SentUntil("\r"), "AT+STGR=0,1,1\r");
  t.Feed("\r\nOK\r\n");
  EXPECT_EQ(t.Line().Reply(), rtIdle);
  EXPECT_EQ(t.SentUntil("\r", 3000), "AT+CFUN=1\r");
  // Twice a command's deadline: the card may wait on the network meanwhile.
  EXPECT_TRUE(t.Logged("F015-4 : no answer to the card's next SIM Toolkit step in 600 ms; resetting the modem"));
}

// Walks that end in a modem reset (a card that stalls, refuses or never
// matches) count as walks too: the card is not reset for ever.
TEST(StkLine, WalksCutShortByAResetAreCountedToo) {
  TStkLine t(2, "1");
  const auto walk = [&] {
    t.Line().Reply() = rtImsi;
    t.Feed("\r\n510011234567890\r\n\r\nOK\r\n");
    EXPECT_EQ(t.SentUntil("\r"), "AT+STGI=0\r");
    t.Feed(kMenuReply);
  };
  for (int n = 1; n <= TConsoleLine::RegistrationWalkLimit; ++n) {
    walk();
    ASSERT_EQ(t.SentUntil("\r"), "AT+STGR=0,1,1\r") << n;
    t.Line().SendModemReset();
    t.Drain();
  }
  walk();
  EXPECT_EQ(t.SentWithin(200), "");
  EXPECT_TRUE(t.Logged("F016-28: menu walked 3 times without a confirmation"));
  EXPECT_EQ(StaticTextColor(t.Line().lRegistrasi), clRed);
}
