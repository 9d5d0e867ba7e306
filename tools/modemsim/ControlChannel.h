#pragma once
// The simulator's control protocol: one command per line, one reply line
// ("OK [...]" or "ERROR <reason>") per command. Used by corvane-modemsim on
// stdin and on its local socket; the commands are listed in README.md and
// by "help". Run() may be called from any thread (the bank is thread-safe);
// it never throws.
#include <string>
#include <vector>

#include "ModemBank.h"

namespace modemsim {

class ControlChannel {
 public:
  explicit ControlChannel(ModemBank& bank) : bank_(bank) {}

  // Executes one line; an empty line or a comment ('#') gives "".
  std::string Run(const std::string& line);
  // Set by "quit".
  bool QuitRequested() const { return quit_; }

  // Splits on blanks outside double quotes; quotes are removed and escapes
  // decoded inside them.
  static std::vector<std::string> Tokenize(const std::string& line);

 private:
  Modem& Target(const std::string& token);
  std::string StatusLine(Modem& m);

  ModemBank& bank_;
  bool quit_ = false;
};

}  // namespace modemsim
