// Recognising the answers to dial, SMS and balance commands in gathered text.
#include <gtest/gtest.h>

#include <string>

#include "uAtLines.h"

using namespace corvane;

namespace {

struct TFailureCase {
  const char* text;
  const char* failure;
};

TEST(AtAnswers, CallSetupFailureIsACompleteLineOfItsOwn) {
  const TFailureCase cases[] = {
      {"\r\nNO CARRIER\r\n", "NO CARRIER"},
      {"ATD0811;\r\r\nBUSY\r\n", "BUSY"},
      {"\r\nNO ANSWER\r\n", "NO ANSWER"},
      {"\r\nNO DIALTONE\r\n", "NO DIALTONE"},
      {"\r\nNO CARRIER", ""},               // its line end has not come yet
      {"\r\n+CUSD: 0,\"BUSY\"\r\n", ""},  // a word inside another line
      {"\r\nOK\r\n", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(at::CallSetupFailure(c.text), c.failure) << at::Readable(c.text);
}

struct TPromptCase {
  const char* text;
  bool prompt;
};

TEST(AtAnswers, InputPromptBeginsALineAndNeedsNoLineEnd) {
  const TPromptCase cases[] = {
      {"\r\n> ", true},
      {"AT+CMGS=\"0811\"\r\r\n> ", true},
      {">", true},
      {"\r\n", false},
      {"AT+CMGS=\"0811\"\r", false},
      {"\r\n+CMS ERROR: 500\r\n", false},
      {"\r\n+CUSD: 0,\"a>b\"\r\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(at::HasInputPrompt(c.text), c.prompt) << at::Readable(c.text);
}

struct TUssdCase {
  std::string text;
  bool started;
  bool complete;
  std::string report;  // text[begin, end) when complete
};

TEST(AtAnswers, UssdReportEndsAtTheFirstLineEndOutsideItsQuotes) {
  const std::string big = "\r\n+CUSD: 0,\"" + std::string(at::UssdReportLimit, 'x');
  const TUssdCase cases[] = {
      {"\r\n+CUSD: 0,\"abc\",15\r\n", true, true, "\r\n+CUSD: 0,\"abc\",15\r\n"},
      {"\r\nOK\r\n\r\n+CUSD: 0,\"abc\",15\r\n", true, true, "\r\n+CUSD: 0,\"abc\",15\r\n"},
      {"\r\n+CUSD: 0,\"abc\",15\r\n\r\nOK\r\n", true, true, "\r\n+CUSD: 0,\"abc\",15\r\n"},
      {"\r\n+CUSD: 0,\"Sisa, pulsa\r\nInfo\",15\r\n", true, true, "\r\n+CUSD: 0,\"Sisa, pulsa\r\nInfo\",15\r\n"},
      {"\r\n+CUSD: 0,\"Sisa, pulsa\r\n", true, false, ""},
      {"\r\n+CUSD: 4\r\n", true, true, "\r\n+CUSD: 4\r\n"},
      {"\r\n+CUSD: 4\r", true, true, "\r\n+CUSD: 4\r"},
      {"\r\n+CUSD: 4", true, false, ""},
      {"\r\nOK\r\n\r\n+CU", true, false, ""},
      {"\r\nOK\r\n", false, false, ""},
      {big, true, true, big.substr(0)},
  };
  for (const auto& c : cases) {
    const at::TUssdReport r = at::FindUssdReport(c.text);
    EXPECT_EQ(r.started, c.started) << at::Readable(c.text);
    EXPECT_EQ(r.complete, c.complete) << at::Readable(c.text);
    if (r.complete && c.complete) {
      EXPECT_EQ(c.text.substr(r.begin, r.end - r.begin), c.report) << at::Readable(c.text);
    }
  }
}

}  // namespace
