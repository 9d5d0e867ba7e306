#pragma once
// Recognising the modem's lines in the text a console line has gathered.
// Pure functions and one small stateful reader; no Qt, any thread.
//
// A line is the text between line ends (CR or LF). It is complete once its
// line end has arrived: only complete lines count as final results or as
// reports, so the outcome never depends on where the serial layer split the
// bytes.
//   FindFinalResult   the first complete final-result line of an answer:
//                     "OK", "ERROR", "+CME ERROR: <n>" or "+CMS ERROR: <n>".
//                     head is everything before that line.
//   IsUnsolicited     a line that starts with a prefix the console knows the
//                     modem sends of its own accord ("+WIND:", "+STIN:",
//                     "+CMTI:", "+CUSD:").
//   CardReport        0 or 1 for a "+WIND: 0" / "+WIND: 1" line, nothing for
//                     any other line (other "+WIND:" numbers included).
//   EndsInsideUnsolicitedLine   the text ends in an unfinished line that is,
//                     or may still become, an unsolicited report.
//   SignificantLength characters of an answer that are not line ends, blank,
//                     the command's own echo or unsolicited lines.
//   SignalLevel       the level of the "+CSQ:" line of a head ("" without one).
//   ImsiIn            the first line of 5 to 15 digits of a head ("" without).
//   Readable          a text cut to a length a log row can show.
//   TCardReportReader fed every chunk a line receives; hands back the card
//                     reports that the chunk completes, in stream order.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "uModemLine.h"

namespace corvane::at {

using TFinal = modemline::TFinal;

struct TFinalResult {
  TFinal kind = TFinal::None;
  std::size_t lineStart = 0;  // offset of the final line in the text
  std::string_view head;      // the text before the final line
};

TFinalResult FindFinalResult(std::string_view text);

bool IsUnsolicited(std::string_view line);
std::optional<int> CardReport(std::string_view line);
bool EndsInsideUnsolicitedLine(std::string_view text);
std::size_t SignificantLength(std::string_view text, std::string_view commandEcho);

std::string SignalLevel(std::string_view head);
std::string ImsiIn(std::string_view head);

inline constexpr std::size_t LoggedTextLimit = 240;
std::string Readable(std::string_view text, std::size_t limit = LoggedTextLimit);

class TCardReportReader {
 public:
  // Longest line kept while waiting for its end; a longer one is no report.
  static constexpr std::size_t MaxLine = 4096;

  std::vector<int> Feed(std::string_view chunk);
  void Clear();

 private:
  std::string partial_;
  bool discarding_ = false;
};

// Lines a modem sends of its own accord that no step of the console acts on:
// "RING", "+CRING:", "+CLIP:", "+CCWA:", "+CREG:", "+CGREG:", "+CMTI:",
// "+CMT:" and "+CBM:" (each with its text line), "+CDS:", "+CDSI:". They come
// at any moment, inside an answer and during a reboot too; taken out of the
// stream in this one place, they can never be read as an answer, nor count
// as text the line does not understand. A chunk that ends in a piece that
// may still become one of them keeps that piece back until its line is
// complete (the next chunk). The card's own reports ("+WIND:", "+STIN:",
// "+CUSD:") pass: the line acts on them.
class TUnsolicitedFilter {
 public:
  static constexpr std::size_t MaxLine = 4096;  // a longer piece is passed on as it is
  // The chunk without the lines it completes that are unsolicited; those are
  // added to `removed`, trimmed.
  std::string Feed(std::string_view chunk, std::vector<std::string>& removed);
  void Clear();

 private:
  std::string held_;
  bool bodyNext_ = false;  // the next line is the text of a "+CMT:" / "+CBM:"
};
bool IsForeignUnsolicited(std::string_view line);

// --- Answers to the call, SMS and balance commands.
//   CallSetupFailure  the first complete line by which a dial reports that no
//                     call was set up: "NO CARRIER", "BUSY", "NO ANSWER" or
//                     "NO DIALTONE" (returned as found), "" without one.
//   HasInputPrompt    a line begins with the input prompt ">"; the modem
//                     sends it without a line end.
//   FindUssdReport    the first complete "+CUSD:" report: from the line end
//                     (CR LF) before it to the line end that closes it, with
//                     line breaks inside its quoted text. A report whose
//                     text never closes counts as complete once it holds
//                     UssdReportLimit characters.
std::string CallSetupFailure(std::string_view text);
bool HasInputPrompt(std::string_view text);

struct TUssdReport {
  bool complete = false;
  bool started = false;  // "+CUSD:" stands in the text (or the text ends in its start)
  std::size_t begin = 0;
  std::size_t end = 0;   // one past the closing line end
};
inline constexpr std::size_t UssdReportLimit = 2048;
TUssdReport FindUssdReport(std::string_view text);

}  // namespace corvane::at
