#include "uLineLog.h"

#include <cctype>

namespace corvane {

std::string ReplaceStgiTag(std::string_view text) {
  static constexpr std::string_view tag = "+STGI";
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = i + tag.size() <= text.size();
    for (std::size_t k = 0; match && k < tag.size(); ++k)
      match = std::toupper(static_cast<unsigned char>(text[i + k])) == tag[k];
    if (match) {
      out += 'I';
      i += tag.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

QString VisibleLogText(std::string_view raw) {
  QString shown;
  shown.reserve(static_cast<qsizetype>(raw.size()));
  for (char ch : raw) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') shown += QStringLiteral("<CR>");
    else if (c == '\n') shown += QStringLiteral("<LF>");
    else if (c < 0x20) shown += QStringLiteral("^") + QChar(char16_t(c + 0x40));  // ^Z for Ctrl-Z
    else if (c == 0x7F) shown += QStringLiteral("^?");
    else shown += QChar(char16_t(c));  // bytes as Latin-1
  }
  return shown;
}

}  // namespace corvane
