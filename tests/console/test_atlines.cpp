// Recognising final results, unsolicited lines and card reports in what a
// line gathers, wherever the serial layer splits the bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "uAtLines.h"

using namespace corvane::at;

TEST(AtLines, FinalResultIsACompleteLineOfItsOwn) {
  struct Row {
    const char* text;
    TFinal kind;
    const char* head;
  };
  const Row rows[] = {
      {"\r\nOK\r\n", TFinal::Ok, "\r\n"},
      {"\r\nOK", TFinal::None, ""},  // its line end has not come yet
      {"AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n", TFinal::Ok, "AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\n"},
      {"\r\nERROR\r\n", TFinal::Error, "\r\n"},
      {"\r\n+CME ERROR: 10\r\n", TFinal::Error, "\r\n"},
      {"\r\n+CMS ERROR: 500\r\n", TFinal::Error, "\r\n"},
      {"\r\n+STGI: \"BOOKING OK\"\r\n", TFinal::None, ""},  // the letters inside a text are no result
      {"\r\nERROR\r\n\r\nOK\r\n", TFinal::Error, "\r\n"},  // the first result answers the command
      {"OK\n", TFinal::Ok, ""},
      {"\r\n+WIND: 1\r\n", TFinal::None, ""},
      {"", TFinal::None, ""},
  };
  for (const Row& r : rows) {
    const TFinalResult f = FindFinalResult(r.text);
    EXPECT_EQ(f.kind, r.kind) << r.text;
    if (f.kind != TFinal::None) EXPECT_EQ(f.head, r.head) << r.text;
  }
}

TEST(AtLines, OnlyWindZeroAndOneAreCardReports) {
  struct Row {
    const char* line;
    int report;  // -1: none
  };
  const Row rows[] = {
      {"+WIND: 1", 1},  {"+WIND: 0", 0}, {"  +WIND:1 ", 1}, {"+WIND: 10", -1}, {"+WIND: 4", -1},
      {"+WIND: 3,1", -1}, {"+WIND:", -1},  {"x+WIND: 1", -1}, {"+STIN: 1", -1}, {"+WIND: 01", 1},
  };
  for (const Row& r : rows) {
    const auto got = CardReport(r.line);
    EXPECT_EQ(got ? *got : -1, r.report) << r.line;
  }
}

TEST(AtLines, CardReportsCountWhereverTheStreamIsSplit) {
  // Two reports, an answer and another indication between them.
  const std::string stream = "\r\n+WIND: 0\r\n\r\n+WIND: 1\r\n\r\nOK\r\n+WIND: 10\r\n\r\n+WIND: 0\n";
  const std::vector<int> expected = {0, 1, 0};
  for (std::size_t a = 0; a <= stream.size(); ++a) {
    for (std::size_t b = a; b <= stream.size(); ++b) {
      TCardReportReader reader;
      std::vector<int> got;
      for (const std::string& part : {stream.substr(0, a), stream.substr(a, b - a), stream.substr(b)})
        for (int r : reader.Feed(part)) got.push_back(r);
      ASSERT_EQ(got, expected) << "split at " << a << " and " << b;
    }
  }
}

TEST(AtLines, AReportWaitsForItsLineEndAndAnEndlessLineIsNoReport) {
  TCardReportReader reader;
  EXPECT_TRUE(reader.Feed("\r\n+WIND: 1").empty());
  EXPECT_EQ(reader.Feed("\r"), std::vector<int>{1});
  EXPECT_TRUE(reader.Feed(std::string(TCardReportReader::MaxLine + 10, 'x') + "+WIND: 1\r\n").empty());
  EXPECT_EQ(reader.Feed("+WIND: 0\r\n"), std::vector<int>{0});
  reader.Feed("+WIND: 1");
  reader.Clear();
  EXPECT_TRUE(reader.Feed("\r\n").empty()) << "a cleared reader forgets the half line";
}

TEST(AtLines, TextEndingInsideAnUnsolicitedLineIsUnfinished) {
  struct Row {
    const char* text;
    bool inside;
  };
  const Row rows[] = {
      {"\r\n+WIND: 1", true},  {"\r\n+WIND: 1\r\n", false}, {"\r\n+STIN: ", true},   {"\r\n+ST", true},
      {"\r\n+", true},         {"\r\n+CUSD: 0,\"Sisa", true}, {"\r\nOK", false},      {"abc", false},
      {"\r\n+CMTI: \"SM\",", true}, {"", false},              {"+WIND: 1\n+CSQ", false},
  };
  for (const Row& r : rows) EXPECT_EQ(EndsInsideUnsolicitedLine(r.text), r.inside) << r.text;
}

TEST(AtLines, SignificantLengthLeavesOutEchoLineEndsAndUnsolicitedLines) {
  struct Row {
    const char* text;
    std::size_t length;
  };
  const Row rows[] = {
      {"AT+CFUN=1\r\r\n+WIND: 1\r\n", 0},
      {"AT+CFUN=1\r\r\n+STIN: 0\r\n\r\n+WIND: 10\r\n\r\n+WI", 0},
      {"AT+CFU", 0},
      {"garbage garbage!", 16},
      {"\r\nsomething else\r\n+WIND: 0\r\n", 14},
      {"\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n", 0},
  };
  for (const Row& r : rows) EXPECT_EQ(SignificantLength(r.text, "AT+CFUN=1\r"), r.length) << r.text;
}

TEST(AtLines, SignalLevelAndImsiAreTakenFromTheirOwnLines) {
  EXPECT_EQ(SignalLevel("\r\n+CSQ: 21,0\r\n\r\n"), "21");
  EXPECT_EQ(SignalLevel("AT+CSQ\r\r\n+CSQ: 99,99\r\n\r\n"), "99");
  EXPECT_EQ(SignalLevel("\r\n+WIND: 1\r\n\r\n+CSQ: 7,3\r\n"), "7");
  EXPECT_EQ(SignalLevel("\r\n"), "");
  EXPECT_EQ(SignalLevel("\r\n+CSQ: 21\r\n"), "") << "no comma, no level";

  EXPECT_EQ(ImsiIn("\r\n510109876543001\r\n\r\n"), "510109876543001");
  EXPECT_EQ(ImsiIn("AT+CIMI\r\r\n+STIN: 0\r\n\r\n+WIND: 10\r\n\r\n51010\r\n"), "51010");
  EXPECT_EQ(ImsiIn("\r\n1234\r\n"), "") << "too short for an IMSI";
  EXPECT_EQ(ImsiIn("\r\n5101098765430011\r\n"), "") << "too long for an IMSI";
  EXPECT_EQ(ImsiIn("\r\n"), "");
}

TEST(AtLines, ReadableCutsLongTexts) {
  EXPECT_EQ(Readable("short"), "short");
  const std::string cut = Readable(std::string(1000, 'a'), 10);
  EXPECT_EQ(cut, "aaaaaaaaaa...(990 more)");
}
