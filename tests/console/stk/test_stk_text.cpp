// Reading SIM Toolkit replies as real modems of this family send them: echo
// in front, item ids of the card's own, texts with commas and line breaks,
// and replies cut anywhere.
#include <gtest/gtest.h>

#include <array>

#include "uStkText.h"

using namespace corvane;
using namespace corvane::stk;

namespace {

const std::string kMenuReply =
    "AT+STGI=0\r\r\n+STGI: \"Kartu Perdana\"\r\n+STGI: 1,3,\"Registrasi\",0\r\n"
    "+STGI: 2,3,\"Info Kartu\",0\r\n+STGI: 128,3,\"Bantuan\",0,21\r\n\r\nOK\r\n";

}  // namespace

TEST(StkText, SplitGivesOneItemPerStgiLineThenWhatFollowsTheLast) {
  std::vector<std::string> items;
  ASSERT_TRUE(SplitStgiItems(kMenuReply, items));
  const std::vector<std::string> expected = {"Kartu Perdana", "Registrasi", "Info Kartu", "Bantuan", "\n\nOK\n"};
  EXPECT_EQ(items, expected);
}

TEST(StkText, SplitCases) {
  struct Case {
    const char* name;
    std::string text;
    bool result;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"too short", "OK\r", false, {}},
      {"no +STGI line: the reply less its CRs", "\r\nOK\r\n", true, {"\nOK\n"}},
      {"line without quotes gives an empty item", "\r\n+STGI: 1,2\r\n\r\nOK\r\n", true, {"", "\n\nOK\n"}},
      {"one quote only", "+STGI: 0,\"abc\r\nOK\r\n", true, {"", "\nOK\n"}},
      {"selection list with an empty title",
       "\r\n+STGI: 0,\"\"\r\n+STGI: 1,2,\"Registrasi Baru\",0\r\n\r\nOK\r\n",
       true,
       {"", "Registrasi Baru", "\n\nOK\n"}},
      {"comma inside the label", "+STGI: 1,1,\"Daftar, lalu aktif\",0\r\nOK\r\n", true,
       {"Daftar, lalu aktif", "\nOK\n"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> items = {"kept"};
    EXPECT_EQ(SplitStgiItems(c.text, items), c.result) << c.name;
    std::vector<std::string> expected = {"kept"};
    expected.insert(expected.end(), c.items.begin(), c.items.end());
    EXPECT_EQ(items, expected) << c.name;
  }
}

TEST(StkText, QuotedTextOfADisplayOrInputScreen) {
  struct Case {
    std::string reply;
    std::string text;
  };
  const Case cases[] = {
      {"\r\n+STGI: 0,\"Registrasi berhasil. Terima kasih, kartu Anda sudah aktif.\",1\r\n\r\nOK\r\n",
       "Registrasi berhasil. Terima kasih, kartu Anda sudah aktif."},
      {"AT+STGI=1\r\r\n+STGI: 1,\"Kartu sudah terdaftar.\nTidak perlu registrasi ulang.\",1\r\n\r\nOK\r\n",
       "Kartu sudah terdaftar.\nTidak perlu registrasi ulang."},
      {"\r\n+STGI: 0,1,16,16,0,\"Masukkan NIK (16 digit)\"\r\n\r\nOK\r\n", "Masukkan NIK (16 digit)"},
      {"\r\n+STGI: 0,\"never closed\r\n\r\nOK\r\n", ""},
      {"\r\nOK\r\n", ""},
      // The closing quote as the reply's very last character is not read.
      {"+STGI: \"abc\"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(StgiQuotedText(c.reply), c.text) << c.reply;
}

TEST(StkText, KeywordsAreCaseSensitiveSubstringsTriedInOrder) {
  const std::array<std::string, 4> keys = {"", "kartu", "Kartu", "Kartu Perdana"};
  EXPECT_EQ(FirstMatchingKeyword(keys, "Kartu Perdana"), 3);  // the lower number wins
  EXPECT_EQ(FirstMatchingKeyword(keys, "KARTU"), 0);
  EXPECT_EQ(FirstMatchingKeyword(keys, ""), 0);  // an empty keyword never matches
  EXPECT_EQ(FirstMatchingKeyword(keys, "ini kartu baru"), 2);
}

TEST(StkText, FinalResultOnlyOnceItsLineIsCompleteWhereverTheReplyIsCut) {
  // A card text with the letters OK in it must not pass for the final result.
  const std::string reply =
      "AT+STGI=1\r\r\n+STGI: 0,\"BOOKING OK\nOK\nlanjut\",1\r\n\r\nOK\r\n";
  const std::size_t okLineEnd = reply.size() - 1;  // the CR after the final OK
  for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
    const at::TFinal seen = ReplyFinal(std::string_view(reply).substr(0, cut));
    EXPECT_EQ(seen, cut >= okLineEnd ? at::TFinal::Ok : at::TFinal::None) << "cut at " << cut;
  }
}

TEST(StkText, FinalResultKinds) {
  EXPECT_EQ(ReplyFinal("\r\n+CME ERROR: 518\r\n"), at::TFinal::Error);
  EXPECT_EQ(ReplyFinal("AT+STGI=0\r\r\nERROR\r\n"), at::TFinal::Error);
  EXPECT_EQ(ReplyFinal("\r\nERROR\r\n\r\nOK\r\n"), at::TFinal::Ok);  // both: answered
  EXPECT_EQ(ReplyFinal("\r\n+STIN: 6\r\n"), at::TFinal::None);
  // An unclosed quote is closed by the modem's CR, so the reply still ends.
  EXPECT_EQ(ReplyFinal("\r\n+STGI: 0,\"broken\r\n\r\nOK\r\n"), at::TFinal::Ok);
  // Many error lines, with the OK behind them or not (how fast: bench/stk_reply_final).
  std::string refusals;
  for (int i = 0; i < 2000; ++i) refusals += "\r\n+CME ERROR: 518\r\n";
  EXPECT_EQ(ReplyFinal(refusals), at::TFinal::Error);
  EXPECT_EQ(ReplyFinal(refusals + "\r\nO"), at::TFinal::Error);
  EXPECT_EQ(ReplyFinal(refusals + "\r\nOK\r\n"), at::TFinal::Ok);
}

TEST(StkText, InputPromptStandsAtALineStart) {
  EXPECT_TRUE(HasInputPrompt("AT+STGR=3,1\r\r\n> "));
  EXPECT_TRUE(HasInputPrompt("> "));
  EXPECT_FALSE(HasInputPrompt("\r\n>"));
  EXPECT_FALSE(HasInputPrompt("\r\n+STGI: 0,\"a > b\",1\r\n"));
}

TEST(StkText, StinCodeOfANotification) {
  struct Case {
    std::string text;
    std::size_t p;
    std::string code;
  };
  const Case cases[] = {
      {"+STIN: 6\r\n", 0, "6"},       {"\r\n+STIN: 99\r\n", 2, "99"}, {"+STIN:3\r\n", 0, "3"},
      {"+STIN: 6", 0, ""},            {"+STIN: 1234567\r\n", 0, ""},  {"+STIN: x\r", 0, "x"},
      {"OK\r\n+STIN: 98\r\n", 4, "98"},
  };
  for (const Case& c : cases) EXPECT_EQ(StinCode(c.text, c.p), c.code) << c.text;
}

TEST(StkText, DigitsOfANotificationInTheReplyToAnAnswer) {
  struct Case {
    std::string rest;  // what follows "+STIN:" up to the reply's last character
    std::string digits;
  };
  const Case cases[] = {
      {" 6\r", "6"},
      {" 1\r\n+STIN: 3\r", "13"},             // two notifications: all their digits
      {" 100\r", "100"},
      {" 9\r\n+STGI: \"Kirim 2 SMS\"\r", "9"},  // the card's text carries no code
      {" 6\r\n+WIND: 4\r", "6"},               // nor does another report
      {" \r\nOK\r", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(StinReplyDigits(c.rest), c.digits) << c.rest;
}

TEST(StkText, DecimalNumbers) {
  EXPECT_EQ(ParseDecimal("0"), 0);
  EXPECT_EQ(ParseDecimal("03"), 3);
  EXPECT_EQ(ParseDecimal("-1"), -1);
  EXPECT_EQ(ParseDecimal(""), std::nullopt);
  EXPECT_EQ(ParseDecimal("x"), std::nullopt);
  EXPECT_EQ(ParseDecimal("0x10"), std::nullopt);
  EXPECT_EQ(ParseDecimal("99999999999"), std::nullopt);
}

TEST(StkText, BytesThatWouldBreakACommandLine) {
  for (char c : {'\r', '\n', '\x1A', '\x1B', '\b', '\0', '\x7F'})
    EXPECT_EQ(CommandBreakingByte(std::string("12") + c + "34"), c) << int(c);
  EXPECT_EQ(CommandBreakingByte("3201234567890001"), std::nullopt);
  EXPECT_EQ(CommandBreakingByte("Budi, S.Kom \xE9"), std::nullopt);
}
