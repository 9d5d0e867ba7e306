#include "SerExcept.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iterator>

#include "ComPath.h"
#include "SerCodes.h"
#include "SysError.h"

namespace corvane {
namespace {

constexpr std::size_t kMaxMessage = 255;
constexpr std::int32_t kFirstOsCode = -162;
constexpr std::int32_t kLastOsCode = -2;
constexpr std::int32_t kOutOfMemoryCode = -8;

template <typename E>
[[noreturn]] void Raise(std::int32_t code, const std::string* message) {
  if (message) throw E(code, *message);
  throw E(code);
}

struct TClassRow {
  std::int32_t Code;
  void (*RaiseFor)(std::int32_t code, const std::string* message);
};

// Every code that selects a class of its own, ascending by code. A code not
// listed here (and outside the system range) raises the plain root class.
constexpr TClassRow kClassRows[] = {
    {-13980, Raise<ERasLoadFail>},
    {-13942, Raise<ETapiTranslateFail>},
    {-13936, Raise<ETapiWaveFail>},
    {-13935, Raise<ETapiVoiceNotSupported>},
    {-13933, Raise<ETapi16Disabled>},
    {-13932, Raise<ETapiGetAddrFail>},
    {-13931, Raise<ETapiLoadFail>},
    {-13930, Raise<ETapiNoSelect>},
    {-13929, Raise<ETapiNotSet>},
    {-13928, Raise<ETapiBusy>},
    {-13886, Raise<ETapiNoMultipleInstance>},
    {-13885, Raise<ETapiInvalFeature>},
    {-13884, Raise<ETapiBillingRejected>},
    {-13883, Raise<ETapiAddressBlocked>},
    {-13882, Raise<ETapiReinit>},
    {-13881, Raise<ETapiUserUserInfoTooBig>},
    {-13880, Raise<ETapiUninitialized>},
    {-13879, Raise<ETapiTargetSelf>},
    {-13878, Raise<ETapiTargetNotFound>},
    {-13877, Raise<ETapiStructureTooSmall>},
    {-13876, Raise<ETapiRequestOverrun>},
    {-13875, Raise<ETapiResourceUnavail>},
    {-13874, Raise<ETapiRateUnavail>},
    {-13873, Raise<ETapiOperationUnavail>},
    {-13872, Raise<ETapiOperationFailed>},
    {-13871, Raise<ETapiNotRegistered>},
    {-13870, Raise<ETapiNotOwner>},
    {-13869, Raise<ETapiNoRequest>},
    {-13868, Raise<ETapiNoMem>},
    {-13867, Raise<ETapiNoDriver>},
    {-13866, Raise<ETapiNoDevice>},
    {-13865, Raise<ETapiNoConference>},
    {-13864, Raise<ETapiLineMapperFailed>},
    {-13863, Raise<ETapiInvalTransferMode>},
    {-13862, Raise<ETapiInvalToneMode>},
    {-13861, Raise<ETapiInvalToneList>},
    {-13860, Raise<ETapiInvalTone>},
    {-13859, Raise<ETapiInvalTimeout>},
    {-13858, Raise<ETapiInvalTerminalMode>},
    {-13857, Raise<ETapiInvalTerminalID>},
    {-13856, Raise<ETapiInvalRequestMode>},
    {-13855, Raise<ETapiInvalRate>},
    {-13854, Raise<ETapiInvalPrivSelect>},
    {-13853, Raise<ETapiInvalPointer>},
    {-13852, Raise<ETapiInvalParkMode>},
    {-13851, Raise<ETapiInvalParkID>},
    {-13850, Raise<ETapiInvalParam>},
    {-13848, Raise<ETapiInvalMessageID>},
    {-13847, Raise<ETapiInvalMediaMode>},
    {-13846, Raise<ETapiInvalMediaList>},
    {-13845, Raise<ETapiInvalLocation>},
    {-13844, Raise<ETapiInvalLineState>},
    {-13843, Raise<ETapiInvalLineHandle>},
    {-13842, Raise<ETapiInvalGroupID>},
    {-13841, Raise<ETapiInvalExtVersion>},
    {-13840, Raise<ETapiInvalDigits>},
    {-13839, Raise<ETapiInvalDigitMode>},
    {-13838, Raise<ETapiInvalDigitList>},
    {-13837, Raise<ETapiInvalDialParams>},
    {-13836, Raise<ETapiInvalDeviceHandle>},
    {-13835, Raise<ETapiInvalDeviceClass>},
    {-13834, Raise<ETapiInvalCountryCode>},
    {-13833, Raise<ETapiInvalConsultCallHandle>},
    {-13832, Raise<ETapiInvalConfCallHandle>},
    {-13831, Raise<ETapiInvalCompletionID>},
    {-13830, Raise<ETapiInvalCard>},
    {-13829, Raise<ETapiInvalCallStatelist>},
    {-13828, Raise<ETapiInvalCallState>},
    {-13827, Raise<ETapiInvalCallSelect>},
    {-13826, Raise<ETapiInvalCallPrivilege>},
    {-13825, Raise<ETapiInvalCallParams>},
    {-13824, Raise<ETapiInvalCallHandle>},
    {-13823, Raise<ETapiInvalCallComplMode>},
    {-13822, Raise<ETapiInvalBearerMode>},
    {-13821, Raise<ETapiInvalAppName>},
    {-13820, Raise<ETapiInvalAppHandle>},
    {-13819, Raise<ETapiInvalAddressState>},
    {-13818, Raise<ETapiInvalAddressMode>},
    {-13817, Raise<ETapiInvalAddressID>},
    {-13816, Raise<ETapiInvalAddress>},
    {-13815, Raise<ETapiInUse>},
    {-13814, Raise<ETapiIniFileCorrupt>},
    {-13813, Raise<ETapiIncompatibleExtVersion>},
    {-13812, Raise<ETapiIncompatibleApiVersion>},
    {-13811, Raise<ETapiDialQuiet>},
    {-13810, Raise<ETapiDialPrompt>},
    {-13809, Raise<ETapiDialDialtone>},
    {-13808, Raise<ETapiDialBilling>},
    {-13807, Raise<ETapiConferenceFull>},
    {-13806, Raise<ETapiCompletionOverrun>},
    {-13805, Raise<ETapiCallUnavail>},
    {-13803, Raise<ETapiBearerModeUnavail>},
    {-13802, Raise<ETapiBadDeviceID>},
    {-13801, Raise<ETapiAllocated>},
    {-8070, Raise<EFaxPageError>},
    {-8069, Raise<EFaxSessionError>},
    {-8068, Raise<EFaxNoCarrier>},
    {-8067, Raise<EFaxNoDialTone>},
    {-8066, Raise<EFaxDataCall>},
    {-8065, Raise<EFaxVoiceCall>},
    {-8064, Raise<EFaxBusy>},
    {-8063, Raise<EFaxInitError>},
    {-8062, Raise<EFaxTrainError>},
    {-8061, Raise<EFaxBadModemResult>},
    {-8060, Raise<EFaxBadMachine>},
    {-8053, Raise<EInvalidPageNumber>},
    {-8005, Raise<ECantMakeBitmap>},
    {-8004, Raise<EUnpackAbort>},
    {-8003, Raise<EConvertAbort>},
    {-8002, Raise<EBadGraphicsFormat>},
    {-8001, Raise<EFaxBadFormat>},
    {-7014, Raise<EBadFieldForIndex>},
    {-7013, Raise<EBadFieldList>},
    {-7012, Raise<EInternal>},
    {-7011, Raise<EDatabaseEmpty>},
    {-7010, Raise<EDatabaseFull>},
    {-7008, Raise<ERecordNotFound>},
    {-7007, Raise<ERecordExists>},
    {-7006, Raise<EInternal>},
    {-7005, Raise<EIniRead>},
    {-7004, Raise<EIniWrite>},
    {-7003, Raise<EInternal>},
    {-7002, Raise<EDataTooLarge>},
    {-7001, Raise<EKeyTooLong>},
    {-6009, Raise<EProtocol>},
    {-6008, Raise<EProtocol>},
    {-6006, Raise<EProtocol>},
    {-5003, Raise<EBadTriggerHandle>},
    {-5002, Raise<ETriggerTooLong>},
    {-4008, Raise<EModemStatusMismatch>},
    {-4007, Raise<EModemRejectedCommand>},
    {-4006, Raise<EModemNotResponding>},
    {-4005, Raise<EAlreadyDialing>},
    {-4004, Raise<ENotDialing>},
    {-4003, Raise<EModemNotDialing>},
    {-4002, Raise<EModemBusy>},
    {-4001, Raise<EModemNotStarted>},
    {-3010, Raise<EBaseAddressNotSet>},
    {-3009, Raise<ELoggingNotEnabled>},
    {-3008, Raise<ETracingNotEnabled>},
    {-3007, Raise<EBufferIsEmpty>},
    {-3006, Raise<EOutputBufferTooSmall>},
    {-3005, Raise<EGetBlockFail>},
    {-3004, Raise<EPutBlockFail>},
    {-3003, Raise<ERegisterHandlerFailed>},
    {-3001, Raise<ENullApi>},
    {-2012, Raise<ENotOpenedByTapi>},
    {-2011, Raise<ENoPortSelected>},
    {-2010, Raise<ENoTimers>},
    {-2009, Raise<ENoHandles>},
    {-2008, Raise<EAlreadyOpen>},
    {-2007, Raise<ECommNotOpen>},
    {-2006, Raise<EMemory>},
    {-2005, Raise<EHardware>},
    {-2004, Raise<EDefault>},
    {-2003, Raise<EByteSize>},
    {-2002, Raise<EBaudRate>},
    {-2001, Raise<EBadId>},
    {-1009, Raise<ECannotUseWithWinSock>},
    {-1008, Raise<EPhonebookNotAssigned>},
    {-1007, Raise<EModemNotAssigned>},
    {-1006, Raise<EInternal>},
    {-1005, Raise<EPortNotAssigned>},
    {-1004, Raise<EBufferTooBig>},
    {-1003, Raise<EGotQuitMsg>},
    {-1002, Raise<EBadArgument>},
};

const TClassRow* FindClassRow(std::int32_t code) noexcept {
  const auto* end = std::end(kClassRows);
  const auto* row = std::lower_bound(std::begin(kClassRows), end, code,
                                     [](const TClassRow& r, std::int32_t c) { return r.Code < c; });
  return (row != end && row->Code == code) ? row : nullptr;
}

// Cuts to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutText(std::string text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

std::atomic<TStringResource*> g_errorStrings{nullptr};
int g_unitNesting = 0;  // changed only during static start-up and shut-down

}  // namespace

ESerialException::ESerialException(std::int32_t code)
    : Exception(ErrorMessage(code)), errorCode_(code) {}

ESerialException ESerialException::CreateText(std::string text) {
  return ESerialException(0, std::move(text));
}

std::string CleanSystemMessage(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const char ch = static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    if (ch == ' ' && !out.empty() && out.back() == ' ') continue;
    out += ch;
  }
  return out;
}

std::string SystemMessageText(unsigned long number) {
  std::string text = platform::SystemErrorMessage(number);
  if (text.empty()) return text;
  return CutText(text + "\r\n", kMaxMessage);
}

std::string ErrorMessage(std::int32_t code) {
  // Wide arithmetic: the magnitude of the most negative code does not fit.
  const std::int64_t key = std::llabs(std::int64_t{code});
  if (key > INT16_MAX) return {};
  std::string text;
  if (const TStringResource* table = ErrorStrings()) table->FindString(static_cast<std::int32_t>(key), text);
  if (!text.empty()) return CutText(std::move(text), kMaxMessage);
  const std::string system = SystemMessageText(static_cast<unsigned long>(key));
  if (system.empty()) return {};
  // The system's own line end would stay behind as a blank at the end of the
  // operator's message box text and of every log line built from it.
  text = CutText(CleanSystemMessage(system), kMaxMessage);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

namespace {
// message: the whole text, or nullptr for the code's own.
[[noreturn]] void RaiseWith(std::int32_t code, const std::string* message) {
  if (code >= kFirstOsCode && code <= kLastOsCode) {
    if (code == kOutOfMemoryCode) throw EOutOfMemory();
    throw EInOutError(message ? *message : ErrorMessage(code), -code);
  }
  if (const TClassRow* row = FindClassRow(code)) row->RaiseFor(code, message);
  throw ESerialException::CreateText("Serial exception");
}
}  // namespace

void RaiseSerialError(std::int32_t code) { RaiseWith(code, nullptr); }

std::string OpenErrorDetail(std::int32_t code, unsigned comNumber) {
  const std::string com = "COM" + std::to_string(comNumber);
  const std::string device = platform::ComDevicePath(comNumber);
  if (code == serial::ecBadId) return " (" + com + ": no device " + device + ")";
  // Only a program that locks the device is seen as its holder; fuser finds
  // any program that has it open.
  if (code == serial::ecAlreadyOpen) return " (" + com + ": " + device + "; who holds it: fuser -v " + device + ")";
  return " (" + com + ": " + device + ")";
}

void RaiseOpenError(std::int32_t code, unsigned comNumber) {
  if (code == kOutOfMemoryCode) throw EOutOfMemory();
  const std::string message = ErrorMessage(code) + OpenErrorDetail(code, comNumber);
  RaiseWith(code, &message);
}

std::int32_t CheckResult(bool loading, std::int32_t code) {
  if (code >= 0 || loading) return code;
  RaiseSerialError(code);
}

TStringResource* ErrorStrings() noexcept { return g_errorStrings.load(std::memory_order_acquire); }

TSerExceptUnit::TSerExceptUnit() {
  if (g_unitNesting++ > 0) return;
  try {
    g_errorStrings.store(new TStringResource(TResourceModule::Program(), "SERIAL_ERROR_STRINGS_ENGLISH"),
                         std::memory_order_release);
  } catch (const std::exception&) {
    // Without the table every code still gets the system's text (or none).
  }
}

TSerExceptUnit::~TSerExceptUnit() {
  if (--g_unitNesting > 0) return;
  delete g_errorStrings.exchange(nullptr, std::memory_order_acq_rel);
}

}  // namespace corvane
