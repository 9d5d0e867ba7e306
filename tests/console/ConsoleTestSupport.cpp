#include "ConsoleTestSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "Files.h"

namespace corvane::test {

TFakeModemEnd::TFakeModemEnd(const std::string& comDir, int comNumber)
    : com_(comNumber), link_(comDir, comNumber, master_.SlaveName()) {
  if (!master_.Ok()) throw std::runtime_error("no pseudo-terminal");
  if (!link_.Ok()) throw std::runtime_error("cannot link " + link_.Path());
}

void TFakeModemEnd::Write(const std::string& bytes) {
  if (!master_.WriteAll(bytes)) throw std::runtime_error("pty write failed");
}

std::string TFakeModemEnd::ReadAvailable() { return master_.ReadAvailable(); }

TConsoleFolder::TConsoleFolder() {
  if (!program_.isValid()) throw std::runtime_error("no temporary folder");
}

std::string TConsoleFolder::Dir() const { return program_.path().toStdString() + "/"; }
std::string TConsoleFolder::ComDir() const { return com_.Path(); }

void TConsoleFolder::WriteFile(const std::string& name, const std::string& bytes) const {
  testsupport::WriteFile(Dir() + name, bytes);
}

std::string ReadWholeFile(const std::string& path) { return testsupport::ReadFile(path); }

std::string TConsoleFolder::ReadFile(const std::string& name) const { return ReadWholeFile(Dir() + name); }

bool TConsoleFolder::Exists(const std::string& name) const { return access((Dir() + name).c_str(), F_OK) == 0; }

TFakeModemEnd& TConsoleFolder::AddModem(int comNumber) {
  auto& slot = modems_[comNumber];
  slot = std::make_unique<TFakeModemEnd>(ComDir(), comNumber);
  return *slot;
}

}  // namespace corvane::test
