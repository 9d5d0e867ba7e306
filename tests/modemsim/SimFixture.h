#pragma once
// A bank of simulated modems built from an inline scenario, with the host
// side of modem 1 open, booted and ready. Scenario delays are tens of
// milliseconds so that tests stay fast.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "HostPort.h"
#include "ModemBank.h"

namespace modemsim_test {

// Timing keys every test scenario starts with; a test's own [modem] keys
// come after them and win.
inline const char* const kFastModem =
    "[modem]\n"
    "restart_ms = 20\n"
    "sim_init_ms = 10\n"
    "menu_ms = 20\n"
    "step_ms = 30\n";

class SimFixture : public ::testing::Test {
 protected:
  // Starts `count` modems on `scenario` (text appended to kFastModem's
  // [modem] section when it starts with keys) and opens modem 1.
  void Start(const std::string& scenario, int count = 1) {
    modemsim::BankOptions o;
    o.count = count;
    o.makeLinks = false;  // tests open DevicePath(); COM names stay free
    o.scenario = modemsim::Scenario::Parse(std::string(kFastModem) + scenario);
    StartWith(std::move(o));
  }

  void StartWith(modemsim::BankOptions o) {
    bank = std::make_unique<modemsim::ModemBank>(std::move(o));
    modem = &bank->At(0);
    // The power-up's lines go out to nobody; the host opens a quiet line.
    ASSERT_TRUE(modem->WaitFor([](const modemsim::ModemStatus& s) { return s.settled; }, 2s));
    host = std::make_unique<HostPort>(modem->DevicePath());
    ASSERT_TRUE(modem->WaitFor([](const modemsim::ModemStatus& s) { return s.hostPresent; }, 2s));
  }

  // Waits until the modem has finished a restart begun by AT+CFUN=1.
  void WaitRestarts(int n) {
    ASSERT_TRUE(modem->WaitFor([n](const modemsim::ModemStatus& s) { return s.restarts >= n; }, 2s));
  }

  void TearDown() override {
    host.reset();
    bank.reset();
  }

  std::unique_ptr<modemsim::ModemBank> bank;
  modemsim::Modem* modem = nullptr;
  std::unique_ptr<HostPort> host;
};

}  // namespace modemsim_test
