// How the tool judges a modem's answer, and that the judgement does not
// depend on where the modem's output was cut into notices.
#include <gtest/gtest.h>

#include <string>

#include "uReplyScan.h"

using corvane::prep::ScanFinalResult;
using corvane::prep::TFinalResult;
using corvane::prep::TLateAnswer;

namespace {

struct Row {
  const char* bytes;
  TFinalResult result;
};

// Real answers of this modem family, with and without the command's echo.
const Row kRows[] = {
    {"AT\r\r\nOK\r\n", TFinalResult::Ok},
    {"\r\nOK\r\n", TFinalResult::Ok},
    {"ATE0\r\r\nERROR\r\n", TFinalResult::Error},
    {"\r\n+CME ERROR: 3\r\n", TFinalResult::Error},
    {"AT+CFUN=1\r\r\n+WIND: 3\r\n\r\n+WIND: 1\r\n", TFinalResult::None},
    {"\r\n+WIND: 3\r\n\r\nOK\r\n", TFinalResult::Ok},  // the reset's OK after its restart
    {"\r\nok\r\n", TFinalResult::None},                  // case matters
    {"\r\nO", TFinalResult::None},
    {"", TFinalResult::None},
};

}  // namespace

TEST(ReplyScan, JudgesTheWholeBuffer) {
  for (const Row& r : kRows) EXPECT_EQ(ScanFinalResult(r.bytes), r.result) << '"' << r.bytes << '"';
  // "OK" is looked for first, anywhere in the buffer.
  EXPECT_EQ(ScanFinalResult("\r\nERROR\r\n\r\nOK\r\n"), TFinalResult::Ok);
}

// Fed chunk by chunk as the handlers do, a reply is judged the same at every
// split, and not before its token is complete.
TEST(ReplyScan, SplitsDoNotChangeTheOutcome) {
  for (const Row& r : kRows) {
    const std::string all = r.bytes;
    for (std::size_t cut = 0; cut <= all.size(); ++cut) {
      std::string buffer = all.substr(0, cut);
      const TFinalResult early = ScanFinalResult(buffer);
      if (early != TFinalResult::None) {
        EXPECT_EQ(early, r.result) << all << " cut at " << cut;
      }
      buffer += all.substr(cut);
      EXPECT_EQ(ScanFinalResult(buffer), r.result) << all << " cut at " << cut;
    }
  }
  // "O" and "K" in two notices: nothing until the K is there.
  EXPECT_EQ(ScanFinalResult("\r\nO"), TFinalResult::None);
  EXPECT_EQ(ScanFinalResult(std::string("\r\nO") + "K\r\n"), TFinalResult::Ok);
}

// The answer a timed-out command still owes, fed one byte per notice: it is
// seen on the byte that completes its token, once, and what the modem says
// before it (its echo, unsolicited lines) does not count for it.
TEST(LateAnswer, IsSeenWhenItsTokenIsCompleteAndOnlyOnce) {
  const struct {
    const char* bytes;
    std::size_t completedAt;  // the byte that completes the final result
  } kLate[] = {
      {"AT+STSF=0\r\r\nOK\r\n", 13},
      {"\r\n+WIND: 3\r\n\r\nOK\r\n\r\nOK\r\n", 15},  // a second answer is not owed
      {"\r\n+CME ERROR: 515\r\n", 11},
      {"\r\nERROR\r\n", 6},
  };
  for (const auto& l : kLate) {
    const std::string all = l.bytes;
    TLateAnswer late;
    late.Expect();
    for (std::size_t i = 0; i < all.size(); ++i) {
      EXPECT_EQ(late.Take(all.substr(i, 1)), i == l.completedAt) << all << " at " << i;
      EXPECT_EQ(late.Owed(), i < l.completedAt) << all << " at " << i;
    }
  }
}

TEST(LateAnswer, OwesNothingUnlessACommandTimedOut) {
  TLateAnswer late;
  EXPECT_FALSE(late.Take("\r\nOK\r\n"));
  late.Expect();
  // Unsolicited lines go on for as long as the modem likes; the answer still
  // counts when it comes, and a cut token from before Forget does not.
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(late.Take("\r\n+WIND: 1\r\n"));
  EXPECT_TRUE(late.Owed());
  EXPECT_FALSE(late.Take("\r\nO"));
  late.Forget();
  late.Expect();
  EXPECT_FALSE(late.Take("K\r\n"));
  EXPECT_TRUE(late.Take("\r\nOK\r\n"));
}
