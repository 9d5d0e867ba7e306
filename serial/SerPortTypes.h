#pragma once
// Value types of the port component: its enumerations, the hardware flow
// option set and the event (callback) types.
//
// Events are plain callbacks: assign one to handle it, assign an empty one
// (nullptr) to stop handling it. `CP` / `Sender` is always the port.
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "SerDispatchNotice.h"  // the notice message numbers

class QObject;

// The notice numbers, for handlers that test Msg.
using serial::MsgTriggerAvail;
using serial::MsgTriggerData;
using serial::MsgTriggerTimer;
using serial::MsgTriggerStatus;
using serial::MsgDeviceLost;
using serial::MsgPortOpened;
using serial::MsgPortClosed;
using serial::MsgClosePending;

enum TDeviceLayer : uint8_t { dlWin16, dlFossil, dlWin32, dlWinsock };

// Same numbers as the device's parity codes.
enum TParity : uint8_t { pNone, pOdd, pEven, pMark, pSpace };

enum THWFlowOptions : uint8_t { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };

// A set of THWFlowOptions held in one byte: bit 1 << option, which are also
// the option bits the dispatcher's handshake takes (1 DTR, 2 RTS, 4 DSR, 8 CTS).
class THWFlowOptionSet {
 public:
  constexpr THWFlowOptionSet() = default;
  constexpr THWFlowOptionSet(std::initializer_list<THWFlowOptions> options) {
    for (THWFlowOptions o : options) bits_ = static_cast<uint8_t>(bits_ | Bit(o));
  }
  static constexpr THWFlowOptionSet FromBits(uint8_t bits) {
    THWFlowOptionSet s;
    s.bits_ = static_cast<uint8_t>(bits & 0x0F);
    return s;
  }
  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool Contains(THWFlowOptions o) const { return (bits_ & Bit(o)) != 0; }
  constexpr THWFlowOptionSet Without(THWFlowOptions o) const {
    return FromBits(static_cast<uint8_t>(bits_ & ~Bit(o)));
  }
  friend constexpr bool operator==(THWFlowOptionSet a, THWFlowOptionSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr uint8_t Bit(THWFlowOptions o) { return static_cast<uint8_t>(1u << o); }
  uint8_t bits_ = 0;
};

enum TSWFlowOptions : uint8_t { swfNone, swfReceive, swfTransmit, swfBoth };

enum TTraceLogState : uint8_t { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

enum TTapiMode : uint8_t { tmNone, tmAuto, tmOn, tmOff };

// Port state as the component keeps it.
enum : uint8_t { psClosed = 0, psClosing = 1, psOpen = 2 };


using TTriggerEvent = std::function<void(QObject* CP, uint16_t Msg, uint16_t TriggerHandle, uint16_t Data)>;
using TTriggerAvailEvent = std::function<void(QObject* CP, uint16_t Count)>;
using TTriggerDataEvent = std::function<void(QObject* CP, uint16_t TriggerHandle)>;
using TTriggerStatusEvent = std::function<void(QObject* CP, uint16_t TriggerHandle)>;
using TTriggerTimerEvent = std::function<void(QObject* CP, uint16_t TriggerHandle)>;
using TTriggerLineErrorEvent = std::function<void(QObject* CP, uint16_t Error, bool LineBreak)>;
using TNotifyEvent = std::function<void(QObject* Sender)>;
using TWaitCharEvent = std::function<void(QObject* CP, char C)>;
// The unpublished port-opened and port-closing events.
using TPortEvent = std::function<void(QObject* CP)>;

