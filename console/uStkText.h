#pragma once
// Reading the SIM Toolkit replies a console line gathers, and checking the
// texts it is about to send behind "AT+STGR=". Pure functions; no Qt, any
// thread.
//
//   SplitStgiItems      the quoted text of every "+STGI:" line of a reply, in
//                       order, then whatever follows the last one (the line
//                       feeds and "OK" of a usual reply) as a last item.
//                       False, and List untouched, for a text shorter than 4.
//   StgiQuotedText      the text a display, input or info screen shows: the
//                       first quoted text after the first "+STGI:" ("" when
//                       it is not closed before the reply's last character).
//   FirstMatchingKeyword 1-based number of the first keyword contained in a
//                       text (case-sensitive; an empty keyword never
//                       matches); 0 when none does.
//   ReplyFinal          Ok when the reply holds a complete "OK" line, else
//                       Error for a complete "ERROR" / "+CME ERROR:" /
//                       "+CMS ERROR:" line, else None. Line feeds inside a
//                       card's quoted text do not end a line, so a text
//                       cannot pass for a final result.
//   HasInputPrompt      the modem's "> " prompt at the start of a line.
//   StinCode            the code text of the "+STIN" at offset p: the first
//                       13 characters cut after their first CR, from the 7th
//                       on, trimmed; "" without a CR in them.
//   StinReplyDigits     every digit of the text after a "+STIN:" in the
//                       reply to an answer, leaving out quoted card texts and
//                       the lines of other unsolicited reports.
//   ParseDecimal        a whole decimal number with an optional sign.
//   CommandBreakingByte the first byte of a text that would end or edit an
//                       AT command line or a typed entry early (CR, LF,
//                       Ctrl-Z, ESC, backspace: any control byte or DEL).
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "uAtLines.h"

namespace corvane::stk {

bool SplitStgiItems(std::string_view Text, std::vector<std::string>& List);
std::string StgiQuotedText(std::string_view reply);
int FirstMatchingKeyword(std::span<const std::string> keywords, std::string_view text);
at::TFinal ReplyFinal(std::string_view reply);
bool HasInputPrompt(std::string_view reply);
std::string StinCode(std::string_view text, std::size_t p);
std::string StinReplyDigits(std::string_view rest);
std::optional<int> ParseDecimal(std::string_view text);
std::optional<char> CommandBreakingByte(std::string_view text);

}  // namespace corvane::stk
