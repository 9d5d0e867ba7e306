#pragma once
// The console's program-wide variables and the per-line record types.
// Everything here lives on the GUI thread; nothing is locked.
//   ReplyType[n - 1]  the reply line n waits for (TReplyType values only).
//   maxlistline       log limit of every line list (1000 after the main load).
//   CardIniName       file name (no folder) of the active per-card INI file.
//   kartuaktif        index of the active card type in cbKartuAktif.
#include <array>
#include <cstdint>
#include <string>

namespace corvane {

// Which modem reply a line waits for. Every sender sets it right after it has
// queued its command; the line's OnTrigger dispatch reads it; a finished
// handler sets rtIdle. No other value is ever set.
enum TReplyType : std::uint8_t {
  rtNone = 0,          // start value: received bytes are dropped
  rtIdle = 4,          // nothing outstanding, unsolicited lines expected
  rtEchoOff = 5,       // "ATE0" (line 1 only)
  rtSmsPrompt = 7,     // "AT+CMGS=" with the quoted number
  rtSmsSent = 8,       // the SMS text ended by Ctrl-Z
  rtUssd = 13,         // "AT+CUSD=1," with the USSD code
  rtDial = 27,         // "ATD" with the number and ";"
  rtHangup = 28,       // "ATH"
  rtStkGetInfo = 29,   // "AT+STGI=" with a command code
  rtStkResponse = 30,  // "AT+STGR=" or the typed input text
  rtStkOn = 32,        // "AT+STSF=1"
  rtReset = 33,        // "AT+CFUN=1"
  rtImsi = 34,         // "AT+CIMI"
  rtSignal = 37,       // "AT+CSQ"
  rtSmsFormat = 38,    // "AT+CMGF=1" before a card's first SMS after a reset
  rtSync = 39,         // "AT+CMEE?" after a command's deadline, before its way out
};

// One record per line (1 to 8; records 5 to 8 only carry their options and
// COM port from the main INI load to its save). Fields in their historical
// order; all start zero, empty or false.
struct TLineData {
  std::string RxBuffer;         // receive accumulator of the reply handlers
  std::int32_t StkCommand = 0;  // code last asked with "AT+STGI=" (-1 while parsing)
  std::int32_t Job = 0;         // LineJob
  bool UssdPending = false;     // next complete line goes to the +CUSD: parser
  std::int32_t StkErrorCount = 0;
  std::int32_t ComPort = 0;     // main INI comport_N
  std::string StkInput;         // text typed for a SIM Toolkit input prompt
  std::int32_t ConfirmTicks = 0;
  std::int32_t DialErrorCount = 0;
  bool StkArmed = false;        // SIM Toolkit replies are acted on only while true
  std::int32_t NoCarrierCount = 0;
  std::int32_t SmsErrorCount = 0;
  std::int32_t WatchdogTicks = 0;
  bool RegistrasiAktif = false;  // the six task options, mirrored by the line's boxes
  bool CallAktif = false;
  bool Call2Aktif = false;
  bool SMSAktif = false;
  bool SMS2Aktif = false;
  bool CekPulsaAktif = false;
  bool FirstCall = false;        // next dial uses no2dial (true) or no2dial2
};

inline constexpr int LineCount = 4;        // lines with a port on this window
inline constexpr int LineRecordCount = 8;  // lines the main INI file describes

extern int maxlistline;
extern std::array<std::uint8_t, LineCount> ReplyType;
extern std::string CardIniName;
extern int kartuaktif;

// Back to the values the program starts with (one window per process; tests
// create several in a row).
void ResetProgramVariables();

}  // namespace corvane
