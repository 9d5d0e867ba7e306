#pragma once
// Small text helpers shared by the simulator: C-style escapes for scenario
// values and transcripts, trimming, case folding, number parsing. Pure
// functions; safe from any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modemsim {

// Turns \r \n \t \e (ESC) \z (Ctrl-Z) \\ \" and \xHH into their bytes; any
// other backslash pair is kept as written. Never fails.
std::string Unescape(std::string_view text);

// The reverse, for transcripts: printable ASCII stays, everything else
// becomes \r \n \t \\ \" or \xHH, so one entry fits on one line.
std::string Escape(std::string_view bytes);

std::string Trim(std::string_view text);
std::string Upper(std::string_view text);
bool StartsWith(std::string_view text, std::string_view prefix);

// Splits on every separator; an empty text gives one empty field.
std::vector<std::string> Split(std::string_view text, char separator);

// Splits AT arguments on commas outside double quotes; fields keep their
// quotes so callers can tell "1" from 1.
std::vector<std::string> SplitArgs(std::string_view args);

// Removes one pair of surrounding double quotes, if present.
std::string Unquote(std::string_view field);
bool IsQuoted(std::string_view field);

// Whole-string decimal integer (leading blanks and sign allowed); nullopt for
// anything else, including overflow.
std::optional<long> ParseInt(std::string_view text);
// ParseInt, and nullopt too when the number lies outside low..high.
std::optional<long> ParseIntIn(std::string_view text, long low, long high);

// Hex digits to bytes; nullopt on an odd length or a non-hex character.
std::optional<std::string> HexToBytes(std::string_view hex);
std::string BytesToHex(std::string_view bytes);

// GSM 7-bit septets packed into octets and back, as USSD strings travel
// over the air; characters outside the default alphabet's ASCII part are
// sent as '?' ('@', '$' and '_' have codes of their own).
std::string PackSeptets(const std::string& text);
std::string UnpackSeptets(const std::string& octets);
// USSD data coding schemes (3GPP 23.038) that mean the GSM 7-bit alphabet.
bool SevenBitDcs(int dcs);
// Only printable ASCII.
bool Printable(const std::string& s);

// Replaces {n}, {nn}, {nnn} with the modem number (plain, or zero-padded to
// two or three digits), so one scenario gives every modem its own IMSI.
std::string ExpandModemNumber(std::string_view text, int number);

}  // namespace modemsim
