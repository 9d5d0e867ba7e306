#pragma once
// Typed constants of the console, shared with the preparation tool: the main
// INI file's name, the AT command texts that several units send, and the job
// codes a line walks through with a card. Plain values, no state.
#include <cstdint>
#include <string_view>

namespace corvane {

inline constexpr std::string_view MainIniFileName = "Corvane_v4.ini";
inline constexpr std::string_view MainIniSection = "Corvane_V4";
inline constexpr std::string_view CardIniPrefix = "corvane_v4_";
inline constexpr std::string_view CardIniSuffix = ".ini";

inline constexpr std::string_view CmdCheck = "AT";
inline constexpr std::string_view CmdEchoOff = "ATE0";
inline constexpr std::string_view CmdUssdHead = "AT+CUSD=1,\"";
inline constexpr std::string_view CmdStkGetInfo = "AT+STGI=";
inline constexpr std::string_view CmdStkResponse = "AT+STGR=";

// What a line is doing with the card in its modem (TLineData::Job). Only
// ljIdle, ljStart, ljRegistered and ljSms1 are ever compared; the others mark
// a call or an SMS under way, so that the start timer leaves the line alone.
enum LineJob : std::int32_t {
  ljIdle = 0,
  ljStart = 1,
  ljRegistered = 2,
  ljDialling = 3,
  ljInCall = 4,
  ljHangingUp = 5,
  ljSms1 = 6,
  ljSms2 = 7,
  ljCekPulsa = 8,
};

// Seconds the SIM Toolkit watchdog waits for the card before it resets the
// modem. A constant: the old hidden edit that carried it could be typed into
// and then broke every watchdog tick.
inline constexpr int WatchdogLimitSeconds = 20;

// The log limit of every line list; the main INI key of the same name is
// written but never read back.
inline constexpr int MaxListLineDefault = 1000;

// COM numbers a line may be given; anything else is refused before it can
// reach the port (0 would pop up the port-selection dialog, larger numbers do
// not fit the port's 16-bit ComNumber).
inline constexpr int MinComNumber = 1;
inline constexpr int MaxComNumber = 255;

}  // namespace corvane
