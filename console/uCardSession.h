#pragma once
// What belongs to the card in a line's modem, from the card's report to its
// removal (or to an IMSI that says another card is in the holder). A line
// keeps exactly one; ending it drops the whole of it at once, so no count,
// walk, retry or outcome of one card can carry into the next, whatever step
// the card was in when it went.
//
// GUI thread only, like the line that owns it.
#include <cstdint>
#include <string>

namespace corvane {

// The call whose failures reset the modem; a start of that call behind the
// reset goes on counting from there.
enum class TCallId { None, First, Second };

struct TCardSession {
  // Modem resets one card may cause in all, whatever their reason: a card
  // that goes well takes two (its bring-up and the one after its
  // registration). Past it the line stops resetting a modem that will not
  // get anywhere with this card and waits for the next one.
  static constexpr int ResetBudget = 6;

  std::string imsi;  // read at the card's bring-up; "" until then
  int resets = 0;    // resets sent for this card
  bool over = false;  // given up: nothing more is done with this card

  // SIM Toolkit
  int walks = 0;         // walks of the card's menu, counted when they are sent
  bool walking = false;  // the card's menu is being walked, not yet confirmed
  std::string stkAnswer;  // the last "AT+STGR=" command sent
  int stkAnswerErrors = 0;  // "ERROR"s to it in a row

  // Calls, SMS, balance
  TCallId callResetFor = TCallId::None;
  std::int32_t resetDialErrors = 0;
  int hangupErrors = 0;
  bool callUp = false;  // a dial put through and not yet hung up or dropped
  bool afterCallReset = false;  // the reset ends a call given up; the chain goes on behind it
  int smsResets = 0;
  std::int32_t ussdShortCount = 0;

  bool ResetsLeft() const { return resets < ResetBudget; }
};

}  // namespace corvane
