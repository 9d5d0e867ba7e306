// Message texts of error codes: the table first, then the system's own text
// made fit for one line, and nothing for a key outside 16 bits.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "SerExcept.h"
#include "SysError.h"

namespace corvane {
namespace {

TEST(ErrorMessage, TableTextForEitherSign) {
  EXPECT_EQ(ErrorMessage(-3007), "Buffer is empty");
  EXPECT_EQ(ErrorMessage(3007), "Buffer is empty");
  EXPECT_EQ(ErrorMessage(0), "OK");
  EXPECT_EQ(ErrorMessage(-15004), "Error");
}

TEST(ErrorMessage, FallsBackToTheSystemTextCleaned) {
  using namespace platform;
  for (unsigned long number : {kErrInvalidFunction, kErrSharingViolation, kErrInvalidParameter,
                               kErrOperationAborted, kErrIoDevice}) {
    const std::string system = SystemErrorMessage(number);
    ASSERT_FALSE(system.empty()) << number;
    const std::string message = ErrorMessage(-static_cast<std::int32_t>(number));
    EXPECT_EQ(message, CleanSystemMessage(system)) << number;
    ASSERT_FALSE(message.empty()) << number;
    EXPECT_NE(message.back(), ' ') << number;
  }
  EXPECT_EQ(ErrorMessage(-1), SystemErrorMessage(1));
}

TEST(ErrorMessage, NoTextAnywhereGivesTheEmptyText) {
  ASSERT_EQ(platform::SystemErrorMessage(121), "");
  EXPECT_EQ(ErrorMessage(-121), "");
  EXPECT_EQ(ErrorMessage(-14000), "");
}

TEST(ErrorMessage, KeyOutsideSixteenBitsHasNoText) {
  for (std::int32_t code : {32768, -32768, 65536 + 3007, -(65536 + 3007), INT_MIN, INT_MAX})
    EXPECT_EQ(ErrorMessage(code), "") << code;
  EXPECT_EQ(ErrorMessage(32767), "");
}

TEST(SystemMessageText, EndsInTheSystemsLineEnd) {
  const std::string text = SystemMessageText(platform::kErrInvalidParameter);
  EXPECT_EQ(text, platform::SystemErrorMessage(platform::kErrInvalidParameter) + "\r\n");
  EXPECT_EQ(SystemMessageText(121), "");
}

TEST(CleanSystemMessage, BlanksControlsAndShrinksRuns) {
  const struct {
    std::string In;
    std::string Out;
  } cases[] = {
      {"A\r\nB\r\n", "A B "},
      {"", ""},
      {"plain", "plain"},
      {"  two  blanks  ", " two blanks "},
      {"tab\there", "tab here"},
      {"\x01\x1F", " "},
      {"a \r\n\t b", "a b"},
      {"\x7F kept", "\x7F kept"},
      {"caf\xC3\xA9\r\n", "caf\xC3\xA9 "},
  };
  for (const auto& c : cases) EXPECT_EQ(CleanSystemMessage(c.In), c.Out) << c.In;
}

}  // namespace
}  // namespace corvane
