#pragma once
// Shared by the simulated modem's source files: how a line is framed on the
// wire, and the +WIND indications with the AT+WIND bit that enables each
// (event numbers are not bit numbers in this modem family's table).
#include <string>

namespace modemsim {

inline std::string Framed(const std::string& line) { return "\r\n" + line + "\r\n"; }

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The prompt of AT+CMGS and AT+STGR=3,1: no line end after it.
inline const char* const kPrompt = "\r\n> ";

// +WIND indications: the event number and the AT+WIND bit that enables it.
// Event numbers are not bit numbers (Wavecom's table).
struct WindEvent {
  int event;
  int bit;
};
constexpr WindEvent kWindRackClosed{13, 1 << 12};
constexpr WindEvent kWindRackOpen{14, 1 << 12};
constexpr WindEvent kWindSimRemoved{0, 1 << 0};
constexpr WindEvent kWindSimInserted{1, 1 << 0};
constexpr WindEvent kWindEmergencyReady{3, 1 << 2};
constexpr WindEvent kWindInitDone{4, 1 << 3};
constexpr WindEvent kWindEmergencyNetwork{7, 1 << 6};
constexpr WindEvent kWindSmsReady{16, 1 << 14};
constexpr WindEvent kWindCallCreated{5, 1 << 4};
constexpr WindEvent kWindCallReleased{6, 1 << 5};

}  // namespace modemsim
