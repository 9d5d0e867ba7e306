#pragma once
// Text rules of the line log. Pure functions, any thread.
//   ReplaceStgiTag   every "+STGI" (any case) becomes "I", scanned left to
//                    right without re-scanning what was replaced.
//   VisibleLogText   what a log row shows for raw bytes: CR and LF become
//                    "<CR>" and "<LF>", other control characters caret marks
//                    ("^Z"), so one entry stays one row; other bytes Latin-1.
#include <QString>

#include <string>
#include <string_view>

namespace corvane {

std::string ReplaceStgiTag(std::string_view text);
QString VisibleLogText(std::string_view raw);

}  // namespace corvane
