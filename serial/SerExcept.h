#pragma once
// Error codes of the serial layer become exceptions here.
//
// Inside the layer an operation returns 0 or a count, or a negative code.
// The port component passes those results through CheckResult, which returns
// a code >= 0 unchanged and raises for a negative one:
//   -2 .. -162        EInOutError (ErrorCode = |code|), -8 EOutOfMemory;
//   a listed code     its ESerialException leaf or group (ErrorCode = code);
//   any other         ESerialException "Serial exception" with ErrorCode 0.
// While the component is still being loaded from its form nothing is raised.
//
// Messages: the text the error table "SERIAL_ERROR_STRINGS_ENGLISH" holds for
// |code|, else the system's own text for that number made fit for one line,
// else empty; at most 255 bytes, never cut inside a UTF-8 sequence.
//
// Threads: CheckResult runs on the component's thread; ErrorMessage may also
// be called from any thread that writes the dispatch log. ErrorStrings() is
// shared read-only (alive from the first to the last unit initialisation,
// like ManagerStrings()).
#include <cstdint>
#include <string>
#include <string_view>

#include "SerBaseExcept.h"
#include "SerStrings.h"

namespace corvane {

class ESerialException : public Exception {
 public:
  // Create: ErrorCode = code, message = ErrorMessage(code).
  explicit ESerialException(std::int32_t code);
  // CreateText: ErrorCode = 0, the message as given.
  static ESerialException CreateText(std::string text);
  // The code's class with a message of the raiser's own (RaiseOpenError).
  ESerialException(std::int32_t code, std::string message)
      : Exception(std::move(message)), errorCode_(code) {}

  std::int32_t ErrorCode() const noexcept { return errorCode_; }

 private:
  std::int32_t errorCode_;
};

// Declares an exception class of the tree that adds nothing to its base.
#define CORVANE_SERIAL_EXCEPTION(Name, Base) \
  class Name : public Base {                 \
   public:                                   \
    using Base::Base;                        \
  };

// Groups.
CORVANE_SERIAL_EXCEPTION(EGeneral, ESerialException)
CORVANE_SERIAL_EXCEPTION(EOpenComm, ESerialException)
CORVANE_SERIAL_EXCEPTION(ESerialIO, ESerialException)
CORVANE_SERIAL_EXCEPTION(EModem, ESerialException)
CORVANE_SERIAL_EXCEPTION(ETrigger, ESerialException)
CORVANE_SERIAL_EXCEPTION(EProtocol, ESerialException)
CORVANE_SERIAL_EXCEPTION(EINI, ESerialException)
CORVANE_SERIAL_EXCEPTION(EFax, ESerialException)
CORVANE_SERIAL_EXCEPTION(ETapi, ESerialException)
CORVANE_SERIAL_EXCEPTION(ERas, ESerialException)

// General.
CORVANE_SERIAL_EXCEPTION(EBadArgument, EGeneral)
CORVANE_SERIAL_EXCEPTION(EGotQuitMsg, EGeneral)
CORVANE_SERIAL_EXCEPTION(EBufferTooBig, EGeneral)
CORVANE_SERIAL_EXCEPTION(EPortNotAssigned, EGeneral)
CORVANE_SERIAL_EXCEPTION(EInternal, EGeneral)
CORVANE_SERIAL_EXCEPTION(EModemNotAssigned, EGeneral)
CORVANE_SERIAL_EXCEPTION(EPhonebookNotAssigned, EGeneral)
CORVANE_SERIAL_EXCEPTION(ECannotUseWithWinSock, EGeneral)

// Opening a port and port state.
CORVANE_SERIAL_EXCEPTION(EBadId, EOpenComm)
CORVANE_SERIAL_EXCEPTION(EBaudRate, EOpenComm)
CORVANE_SERIAL_EXCEPTION(EByteSize, EOpenComm)
CORVANE_SERIAL_EXCEPTION(EDefault, EOpenComm)
CORVANE_SERIAL_EXCEPTION(EHardware, EOpenComm)
CORVANE_SERIAL_EXCEPTION(EMemory, EOpenComm)
CORVANE_SERIAL_EXCEPTION(ECommNotOpen, EOpenComm)
CORVANE_SERIAL_EXCEPTION(EAlreadyOpen, EOpenComm)
CORVANE_SERIAL_EXCEPTION(ENoHandles, EOpenComm)
CORVANE_SERIAL_EXCEPTION(ENoTimers, EOpenComm)
CORVANE_SERIAL_EXCEPTION(ENoPortSelected, EOpenComm)
CORVANE_SERIAL_EXCEPTION(ENotOpenedByTapi, EOpenComm)

// Serial input and output.
CORVANE_SERIAL_EXCEPTION(ENullApi, ESerialIO)
CORVANE_SERIAL_EXCEPTION(ERegisterHandlerFailed, ESerialIO)
CORVANE_SERIAL_EXCEPTION(EPutBlockFail, ESerialIO)
CORVANE_SERIAL_EXCEPTION(EGetBlockFail, ESerialIO)
CORVANE_SERIAL_EXCEPTION(EOutputBufferTooSmall, ESerialIO)
CORVANE_SERIAL_EXCEPTION(EBufferIsEmpty, ESerialIO)
CORVANE_SERIAL_EXCEPTION(ETracingNotEnabled, ESerialIO)
CORVANE_SERIAL_EXCEPTION(ELoggingNotEnabled, ESerialIO)
CORVANE_SERIAL_EXCEPTION(EBaseAddressNotSet, ESerialIO)

// Modem.
CORVANE_SERIAL_EXCEPTION(EModemNotStarted, EModem)
CORVANE_SERIAL_EXCEPTION(EModemBusy, EModem)
CORVANE_SERIAL_EXCEPTION(EModemNotDialing, EModem)
CORVANE_SERIAL_EXCEPTION(ENotDialing, EModem)
CORVANE_SERIAL_EXCEPTION(EAlreadyDialing, EModem)
CORVANE_SERIAL_EXCEPTION(EModemNotResponding, EModem)
CORVANE_SERIAL_EXCEPTION(EModemRejectedCommand, EModem)
CORVANE_SERIAL_EXCEPTION(EModemStatusMismatch, EModem)

// Triggers.
CORVANE_SERIAL_EXCEPTION(ETriggerTooLong, ETrigger)
CORVANE_SERIAL_EXCEPTION(EBadTriggerHandle, ETrigger)

// INI database.
CORVANE_SERIAL_EXCEPTION(EKeyTooLong, EINI)
CORVANE_SERIAL_EXCEPTION(EDataTooLarge, EINI)
CORVANE_SERIAL_EXCEPTION(EIniWrite, EINI)
CORVANE_SERIAL_EXCEPTION(EIniRead, EINI)
CORVANE_SERIAL_EXCEPTION(ERecordExists, EINI)
CORVANE_SERIAL_EXCEPTION(ERecordNotFound, EINI)
CORVANE_SERIAL_EXCEPTION(EDatabaseFull, EINI)
CORVANE_SERIAL_EXCEPTION(EDatabaseEmpty, EINI)
CORVANE_SERIAL_EXCEPTION(EBadFieldList, EINI)
CORVANE_SERIAL_EXCEPTION(EBadFieldForIndex, EINI)

// Fax.
CORVANE_SERIAL_EXCEPTION(EFaxBadFormat, EFax)
CORVANE_SERIAL_EXCEPTION(EBadGraphicsFormat, EFax)
CORVANE_SERIAL_EXCEPTION(EConvertAbort, EFax)
CORVANE_SERIAL_EXCEPTION(EUnpackAbort, EFax)
CORVANE_SERIAL_EXCEPTION(ECantMakeBitmap, EFax)
CORVANE_SERIAL_EXCEPTION(EInvalidPageNumber, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxBadMachine, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxBadModemResult, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxTrainError, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxInitError, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxBusy, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxVoiceCall, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxDataCall, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxNoDialTone, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxNoCarrier, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxSessionError, EFax)
CORVANE_SERIAL_EXCEPTION(EFaxPageError, EFax)

// Telephony.
CORVANE_SERIAL_EXCEPTION(ETapiAllocated, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiBadDeviceID, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiBearerModeUnavail, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiCallUnavail, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiCompletionOverrun, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiConferenceFull, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiDialBilling, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiDialDialtone, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiDialPrompt, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiDialQuiet, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiIncompatibleApiVersion, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiIncompatibleExtVersion, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiIniFileCorrupt, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInUse, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalAddress, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalAddressID, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalAddressMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalAddressState, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalAppHandle, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalAppName, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalBearerMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCallComplMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCallHandle, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCallParams, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCallPrivilege, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCallSelect, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCallState, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCallStatelist, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCard, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCompletionID, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalConfCallHandle, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalConsultCallHandle, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalCountryCode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalDeviceClass, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalDeviceHandle, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalDialParams, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalDigitList, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalDigitMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalDigits, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalExtVersion, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalGroupID, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalLineHandle, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalLineState, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalLocation, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalMediaList, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalMediaMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalMessageID, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalParam, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalParkID, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalParkMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalPointer, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalPrivSelect, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalRate, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalRequestMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalTerminalID, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalTerminalMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalTimeout, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalTone, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalToneList, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalToneMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalTransferMode, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiLineMapperFailed, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNoConference, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNoDevice, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNoDriver, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNoMem, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNoRequest, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNotOwner, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNotRegistered, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiOperationFailed, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiOperationUnavail, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiRateUnavail, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiResourceUnavail, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiRequestOverrun, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiStructureTooSmall, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiTargetNotFound, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiTargetSelf, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiUninitialized, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiUserUserInfoTooBig, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiReinit, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiAddressBlocked, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiBillingRejected, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiInvalFeature, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNoMultipleInstance, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiBusy, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNotSet, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiNoSelect, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiLoadFail, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiGetAddrFail, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapi16Disabled, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiVoiceNotSupported, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiWaveFail, ETapi)
CORVANE_SERIAL_EXCEPTION(ETapiTranslateFail, ETapi)

// Remote access.
CORVANE_SERIAL_EXCEPTION(ERasLoadFail, ERas)

#undef CORVANE_SERIAL_EXCEPTION

// What CheckResult needs to know of the port component: whether it is still
// being loaded from its form (codes then pass through unraised).
class TComponentLoadState {
 public:
  virtual bool IsLoading() const noexcept = 0;

 protected:
  ~TComponentLoadState() = default;
};

// Returns `code` when it is >= 0 or while loading; otherwise raises as the
// header comment says. Never returns a negative code unless loading.
std::int32_t CheckResult(bool loading, std::int32_t code);
inline std::int32_t CheckResult(const TComponentLoadState& port, std::int32_t code) {
  return CheckResult(port.IsLoading(), code);
}

// Raises for a negative code as CheckResult does outside loading. For the
// few places that raise straight from a code (no port selected, no device
// layer); for such listed codes prefer `throw ENoPortSelected(-2011)`.
[[noreturn]] void RaiseSerialError(std::int32_t code);

// Raises for the negative code of a failed open as RaiseSerialError does;
// the message goes on with the device the COM number stands for (the
// operator cannot see it otherwise) and, for a device held by another
// program, how to find that program:
//   "ie_Open - device already open (COM5: /dev/ttyUSB0; who holds it: fuser -v /dev/ttyUSB0)"
[[noreturn]] void RaiseOpenError(std::int32_t code, unsigned comNumber);
std::string OpenErrorDetail(std::int32_t code, unsigned comNumber);

// Message for |code|: the error table's text, else the system text (cleaned,
// without the blank its line end leaves), else "".
// A code whose absolute value does not fit 16 bits has no text.
std::string ErrorMessage(std::int32_t code);

// Every character below 0x20 becomes a blank, then every run of blanks
// shrinks to one. Nothing is trimmed here: a system text's trailing line end
// ends up as one trailing blank, which ErrorMessage drops.
std::string CleanSystemMessage(std::string_view text);

// The system's message text for an error number as its message table holds
// it (ending in CR LF), at most 255 bytes; empty when the system has none.
std::string SystemMessageText(unsigned long number);

// The reader of "SERIAL_ERROR_STRINGS_ENGLISH"; null outside the unit's
// lifetime or when the table failed to load.
TStringResource* ErrorStrings() noexcept;

// Unit initialisation and finalisation of the error table, nested like
// TSerStringsUnit (which it holds, so the manager outlives the error table).
class TSerExceptUnit {
 public:
  TSerExceptUnit();
  ~TSerExceptUnit();
  TSerExceptUnit(const TSerExceptUnit&) = delete;
  TSerExceptUnit& operator=(const TSerExceptUnit&) = delete;

 private:
  TSerStringsUnit strings_;
};
static const TSerExceptUnit serExceptUnit;

}  // namespace corvane
