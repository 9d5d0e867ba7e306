#pragma once
// The per-card values (one set for the whole window, shared by all four
// lines) and the main INI file's per-line option keys, each written once as
// a table that the loaders, the savers and the tests walk.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvane {

// The telephone number the four number keys share while a card type has no
// file of its own.
inline constexpr std::string_view DefaultPhoneNumber = "08123456789";

struct TCardSettings {
  std::array<std::string, 6> katakunci;       // confirmation keywords 1..6
  std::int32_t nomorkonfirmasireset = 3;      // keyword number that finishes the registration
  std::array<std::string, 7> katakuncimenu;   // menu keywords 1..7
  std::array<std::string, 7> jawabanmenu;     // item numbers answered for them
  std::array<std::string, 8> katakuncidata;   // input-prompt keywords 1..8
  std::array<std::string, 8> Jawabandata;     // texts typed for them
  std::int32_t timeout = 40;                  // seconds to wait for the confirmation
  std::string KataKunciSMSRegFinish = "anda berhasil";
  std::string no2dial{DefaultPhoneNumber};
  std::int32_t waktudial = 10;                // call length in seconds
  std::string no2dial2{DefaultPhoneNumber};
  std::string smstextsend = "SMS1";
  std::string phpenerimasms{DefaultPhoneNumber};
  std::string cekpulsa = "*888#";
  std::string smstextsend2 = "SMS2";
  std::string phpenerimasms2{DefaultPhoneNumber};
  std::int32_t maxgagal = 25;                 // failure limit of calls and SMS
};

// One key of a per-card file, bound to its field.
struct TCardKey {
  std::string section;
  std::string key;
  std::variant<std::string*, std::int32_t*> field;
};

// Every per-card key in file order (the order of loading and saving).
std::vector<TCardKey> CardKeys(TCardSettings& values);

// The per-card numbers a line runs on, with the range each must lie in: a
// failure limit of 0 resets at the first refusal, a confirmation number
// outside 1..6 never matches a keyword, a call length or time-out of 0
// ends at once. `LimitCardNumbers` puts every value outside its range back
// to its default and returns one text per value it put back.
struct TCardRange {
  std::string_view key;
  std::int32_t TCardSettings::*field;
  std::int32_t min;
  std::int32_t max;
};
inline constexpr TCardRange CardRanges[] = {
    {"maxgagal", &TCardSettings::maxgagal, 1, 1000},
    {"nomorkonfirmasireset", &TCardSettings::nomorkonfirmasireset, 1, 6},
    {"waktudial", &TCardSettings::waktudial, 1, 3600},
    {"timeout", &TCardSettings::timeout, 1, 3600},
};
std::vector<std::string> LimitCardNumbers(TCardSettings& values);

// Card-file texts the line sends to the modem: a number, code or toolkit
// answer goes out inside one command line, an SMS text through the port's
// output ring. A longer one could not be sent whole (the port refuses a
// block larger than its ring in the middle of a card), so it is refused
// here, where it is read: left empty, one text per value, and the step that
// would send it is shown failed when it comes.
inline constexpr std::size_t CommandValueLimit = 200;
inline constexpr std::size_t SmsTextLimit = 4000;
std::vector<std::string> LimitCardTexts(TCardSettings& values);

// The six task-option key names of a main INI line, in file order; the key is
// the name followed by "_" and the line number.
inline constexpr std::array<std::string_view, 6> TaskOptionKeys = {
    "RegistrasiAktif", "CallAktif", "Call2Aktif", "SMSAktif", "SMS2Aktif", "CekPulsaAktif"};

// A card-type name that may become part of a file name: no path separator,
// no "..", no control character.
bool CardNameUsable(std::string_view name);

// "corvane_v4_" + name + ".ini".
std::string CardIniFileName(std::string_view name);

}  // namespace corvane
