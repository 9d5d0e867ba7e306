// Every error code the serial layer gives a class of its own, and what
// CheckResult does with the rest: class, ErrorCode and message, row by row.
#include <gtest/gtest.h>
#include <cxxabi.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <typeinfo>

#include "SerExcept.h"
#include "SysError.h"

namespace corvane {
namespace {

struct TClassRow {
  std::int32_t Code;
  const char* Class;
  const char* Group;
};

// The codes with a class, with the class and its group as the layer names
// them.
const TClassRow kClassRows[] = {
    {-13980, "ERasLoadFail", "ERas"},
    {-13942, "ETapiTranslateFail", "ETapi"},
    {-13936, "ETapiWaveFail", "ETapi"},
    {-13935, "ETapiVoiceNotSupported", "ETapi"},
    {-13933, "ETapi16Disabled", "ETapi"},
    {-13932, "ETapiGetAddrFail", "ETapi"},
    {-13931, "ETapiLoadFail", "ETapi"},
    {-13930, "ETapiNoSelect", "ETapi"},
    {-13929, "ETapiNotSet", "ETapi"},
    {-13928, "ETapiBusy", "ETapi"},
    {-13886, "ETapiNoMultipleInstance", "ETapi"},
    {-13885, "ETapiInvalFeature", "ETapi"},
    {-13884, "ETapiBillingRejected", "ETapi"},
    {-13883, "ETapiAddressBlocked", "ETapi"},
    {-13882, "ETapiReinit", "ETapi"},
    {-13881, "ETapiUserUserInfoTooBig", "ETapi"},
    {-13880, "ETapiUninitialized", "ETapi"},
    {-13879, "ETapiTargetSelf", "ETapi"},
    {-13878, "ETapiTargetNotFound", "ETapi"},
    {-13877, "ETapiStructureTooSmall", "ETapi"},
    {-13876, "ETapiRequestOverrun", "ETapi"},
    {-13875, "ETapiResourceUnavail", "ETapi"},
    {-13874, "ETapiRateUnavail", "ETapi"},
    {-13873, "ETapiOperationUnavail", "ETapi"},
    {-13872, "ETapiOperationFailed", "ETapi"},
    {-13871, "ETapiNotRegistered", "ETapi"},
    {-13870, "ETapiNotOwner", "ETapi"},
    {-13869, "ETapiNoRequest", "ETapi"},
    {-13868, "ETapiNoMem", "ETapi"},
    {-13867, "ETapiNoDriver", "ETapi"},
    {-13866, "ETapiNoDevice", "ETapi"},
    {-13865, "ETapiNoConference", "ETapi"},
    {-13864, "ETapiLineMapperFailed", "ETapi"},
    {-13863, "ETapiInvalTransferMode", "ETapi"},
    {-13862, "ETapiInvalToneMode", "ETapi"},
    {-13861, "ETapiInvalToneList", "ETapi"},
    {-13860, "ETapiInvalTone", "ETapi"},
    {-13859, "ETapiInvalTimeout", "ETapi"},
    {-13858, "ETapiInvalTerminalMode", "ETapi"},
    {-13857, "ETapiInvalTerminalID", "ETapi"},
    {-13856, "ETapiInvalRequestMode", "ETapi"},
    {-13855, "ETapiInvalRate", "ETapi"},
    {-13854, "ETapiInvalPrivSelect", "ETapi"},
    {-13853, "ETapiInvalPointer", "ETapi"},
    {-13852, "ETapiInvalParkMode", "ETapi"},
    {-13851, "ETapiInvalParkID", "ETapi"},
    {-13850, "ETapiInvalParam", "ETapi"},
    {-13848, "ETapiInvalMessageID", "ETapi"},
    {-13847, "ETapiInvalMediaMode", "ETapi"},
    {-13846, "ETapiInvalMediaList", "ETapi"},
    {-13845, "ETapiInvalLocation", "ETapi"},
    {-13844, "ETapiInvalLineState", "ETapi"},
    {-13843, "ETapiInvalLineHandle", "ETapi"},
    {-13842, "ETapiInvalGroupID", "ETapi"},
    {-13841, "ETapiInvalExtVersion", "ETapi"},
    {-13840, "ETapiInvalDigits", "ETapi"},
    {-13839, "ETapiInvalDigitMode", "ETapi"},
    {-13838, "ETapiInvalDigitList", "ETapi"},
    {-13837, "ETapiInvalDialParams", "ETapi"},
    {-13836, "ETapiInvalDeviceHandle", "ETapi"},
    {-13835, "ETapiInvalDeviceClass", "ETapi"},
    {-13834, "ETapiInvalCountryCode", "ETapi"},
    {-13833, "ETapiInvalConsultCallHandle", "ETapi"},
    {-13832, "ETapiInvalConfCallHandle", "ETapi"},
    {-13831, "ETapiInvalCompletionID", "ETapi"},
    {-13830, "ETapiInvalCard", "ETapi"},
    {-13829, "ETapiInvalCallStatelist", "ETapi"},
    {-13828, "ETapiInvalCallState", "ETapi"},
    {-13827, "ETapiInvalCallSelect", "ETapi"},
    {-13826, "ETapiInvalCallPrivilege", "ETapi"},
    {-13825, "ETapiInvalCallParams", "ETapi"},
    {-13824, "ETapiInvalCallHandle", "ETapi"},
    {-13823, "ETapiInvalCallComplMode", "ETapi"},
    {-13822, "ETapiInvalBearerMode", "ETapi"},
    {-13821, "ETapiInvalAppName", "ETapi"},
    {-13820, "ETapiInvalAppHandle", "ETapi"},
    {-13819, "ETapiInvalAddressState", "ETapi"},
    {-13818, "ETapiInvalAddressMode", "ETapi"},
    {-13817, "ETapiInvalAddressID", "ETapi"},
    {-13816, "ETapiInvalAddress", "ETapi"},
    {-13815, "ETapiInUse", "ETapi"},
    {-13814, "ETapiIniFileCorrupt", "ETapi"},
    {-13813, "ETapiIncompatibleExtVersion", "ETapi"},
    {-13812, "ETapiIncompatibleApiVersion", "ETapi"},
    {-13811, "ETapiDialQuiet", "ETapi"},
    {-13810, "ETapiDialPrompt", "ETapi"},
    {-13809, "ETapiDialDialtone", "ETapi"},
    {-13808, "ETapiDialBilling", "ETapi"},
    {-13807, "ETapiConferenceFull", "ETapi"},
    {-13806, "ETapiCompletionOverrun", "ETapi"},
    {-13805, "ETapiCallUnavail", "ETapi"},
    {-13803, "ETapiBearerModeUnavail", "ETapi"},
    {-13802, "ETapiBadDeviceID", "ETapi"},
    {-13801, "ETapiAllocated", "ETapi"},
    {-8070, "EFaxPageError", "EFax"},
    {-8069, "EFaxSessionError", "EFax"},
    {-8068, "EFaxNoCarrier", "EFax"},
    {-8067, "EFaxNoDialTone", "EFax"},
    {-8066, "EFaxDataCall", "EFax"},
    {-8065, "EFaxVoiceCall", "EFax"},
    {-8064, "EFaxBusy", "EFax"},
    {-8063, "EFaxInitError", "EFax"},
    {-8062, "EFaxTrainError", "EFax"},
    {-8061, "EFaxBadModemResult", "EFax"},
    {-8060, "EFaxBadMachine", "EFax"},
    {-8053, "EInvalidPageNumber", "EFax"},
    {-8005, "ECantMakeBitmap", "EFax"},
    {-8004, "EUnpackAbort", "EFax"},
    {-8003, "EConvertAbort", "EFax"},
    {-8002, "EBadGraphicsFormat", "EFax"},
    {-8001, "EFaxBadFormat", "EFax"},
    {-7014, "EBadFieldForIndex", "EINI"},
    {-7013, "EBadFieldList", "EINI"},
    {-7012, "EInternal", "EGeneral"},
    {-7011, "EDatabaseEmpty", "EINI"},
    {-7010, "EDatabaseFull", "EINI"},
    {-7008, "ERecordNotFound", "EINI"},
    {-7007, "ERecordExists", "EINI"},
    {-7006, "EInternal", "EGeneral"},
    {-7005, "EIniRead", "EINI"},
    {-7004, "EIniWrite", "EINI"},
    {-7003, "EInternal", "EGeneral"},
    {-7002, "EDataTooLarge", "EINI"},
    {-7001, "EKeyTooLong", "EINI"},
    {-6009, "EProtocol", "EProtocol"},
    {-6008, "EProtocol", "EProtocol"},
    {-6006, "EProtocol", "EProtocol"},
    {-5003, "EBadTriggerHandle", "ETrigger"},
    {-5002, "ETriggerTooLong", "ETrigger"},
    {-4008, "EModemStatusMismatch", "EModem"},
    {-4007, "EModemRejectedCommand", "EModem"},
    {-4006, "EModemNotResponding", "EModem"},
    {-4005, "EAlreadyDialing", "EModem"},
    {-4004, "ENotDialing", "EModem"},
    {-4003, "EModemNotDialing", "EModem"},
    {-4002, "EModemBusy", "EModem"},
    {-4001, "EModemNotStarted", "EModem"},
    {-3010, "EBaseAddressNotSet", "ESerialIO"},
    {-3009, "ELoggingNotEnabled", "ESerialIO"},
    {-3008, "ETracingNotEnabled", "ESerialIO"},
    {-3007, "EBufferIsEmpty", "ESerialIO"},
    {-3006, "EOutputBufferTooSmall", "ESerialIO"},
    {-3005, "EGetBlockFail", "ESerialIO"},
    {-3004, "EPutBlockFail", "ESerialIO"},
    {-3003, "ERegisterHandlerFailed", "ESerialIO"},
    {-3001, "ENullApi", "ESerialIO"},
    {-2012, "ENotOpenedByTapi", "EOpenComm"},
    {-2011, "ENoPortSelected", "EOpenComm"},
    {-2010, "ENoTimers", "EOpenComm"},
    {-2009, "ENoHandles", "EOpenComm"},
    {-2008, "EAlreadyOpen", "EOpenComm"},
    {-2007, "ECommNotOpen", "EOpenComm"},
    {-2006, "EMemory", "EOpenComm"},
    {-2005, "EHardware", "EOpenComm"},
    {-2004, "EDefault", "EOpenComm"},
    {-2003, "EByteSize", "EOpenComm"},
    {-2002, "EBaudRate", "EOpenComm"},
    {-2001, "EBadId", "EOpenComm"},
    {-1009, "ECannotUseWithWinSock", "EGeneral"},
    {-1008, "EPhonebookNotAssigned", "EGeneral"},
    {-1007, "EModemNotAssigned", "EGeneral"},
    {-1006, "EInternal", "EGeneral"},
    {-1005, "EPortNotAssigned", "EGeneral"},
    {-1004, "EBufferTooBig", "EGeneral"},
    {-1003, "EGotQuitMsg", "EGeneral"},
    {-1002, "EBadArgument", "EGeneral"},
};

std::string ClassName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  std::string full = status == 0 ? name.get() : type.name();
  const std::string prefix = "corvane::";
  return full.rfind(prefix, 0) == 0 ? full.substr(prefix.size()) : full;
}

// Whether an exception belongs to a group, asked of the type system rather
// than of the layer's own table.
const std::map<std::string, std::function<bool(const ESerialException&)>> kGroupTest = {
    {"EGeneral", [](const ESerialException& e) { return dynamic_cast<const EGeneral*>(&e) != nullptr; }},
    {"EOpenComm", [](const ESerialException& e) { return dynamic_cast<const EOpenComm*>(&e) != nullptr; }},
    {"ESerialIO", [](const ESerialException& e) { return dynamic_cast<const ESerialIO*>(&e) != nullptr; }},
    {"EModem", [](const ESerialException& e) { return dynamic_cast<const EModem*>(&e) != nullptr; }},
    {"ETrigger", [](const ESerialException& e) { return dynamic_cast<const ETrigger*>(&e) != nullptr; }},
    {"EProtocol", [](const ESerialException& e) { return dynamic_cast<const EProtocol*>(&e) != nullptr; }},
    {"EINI", [](const ESerialException& e) { return dynamic_cast<const EINI*>(&e) != nullptr; }},
    {"EFax", [](const ESerialException& e) { return dynamic_cast<const EFax*>(&e) != nullptr; }},
    {"ETapi", [](const ESerialException& e) { return dynamic_cast<const ETapi*>(&e) != nullptr; }},
    {"ERas", [](const ESerialException& e) { return dynamic_cast<const ERas*>(&e) != nullptr; }},
};

// What CheckResult raised for a code, as plain facts.
struct TRaised {
  std::string Class;
  std::string Message;
  long long ErrorCode = LLONG_MIN;
  std::string Group;  // the one group the exception belongs to, if any
};

TRaised Raise(std::int32_t code) {
  TRaised r;
  try {
    CheckResult(false, code);
    r.Class = "(returned)";
  } catch (const ESerialException& e) {
    r.Class = ClassName(typeid(e));
    r.Message = e.Message();
    r.ErrorCode = e.ErrorCode();
    for (const auto& [group, belongs] : kGroupTest)
      if (belongs(e)) r.Group += group;
  } catch (const EInOutError& e) {
    r.Class = ClassName(typeid(e));
    r.Message = e.Message();
    r.ErrorCode = e.ErrorCode();
  } catch (const Exception& e) {
    r.Class = ClassName(typeid(e));
    r.Message = e.Message();
  }
  return r;
}

TEST(ErrorClasses, EveryListedCodeRaisesItsClass) {
  std::set<std::string> leaves;
  for (const TClassRow& row : kClassRows) {
    const TRaised r = Raise(row.Code);
    EXPECT_EQ(r.Class, row.Class) << row.Code;
    EXPECT_EQ(r.Group, row.Group) << row.Code;
    EXPECT_EQ(r.ErrorCode, row.Code) << row.Code;
    EXPECT_EQ(r.Message, ErrorStrings()->GetString(-row.Code)) << row.Code;
    EXPECT_FALSE(r.Message.empty()) << row.Code << " would show an empty message";
    if (std::string(row.Class) != row.Group) leaves.insert(row.Class);
  }
  EXPECT_EQ(leaves.size(), 160u);
}

TEST(ErrorClasses, EveryOtherCodeRaisesThePlainSerialException) {
  std::set<std::int32_t> listed;
  for (const TClassRow& row : kClassRows) listed.insert(row.Code);
  int unlisted = 0;
  for (std::int32_t code = -14000; code <= -1; ++code) {
    if (listed.count(code) || (code >= -162 && code <= -2)) continue;
    const TRaised r = Raise(code);
    ASSERT_EQ(r.Class, "ESerialException") << code;
    ASSERT_EQ(r.Message, "Serial exception") << code;
    ASSERT_EQ(r.ErrorCode, 0) << code;
    ++unlisted;
  }
  EXPECT_GT(unlisted, 13000);
  for (std::int32_t code : {-14001, -32768, -32769, -100000, INT_MIN}) {
    const TRaised r = Raise(code);
    EXPECT_EQ(r.Class, "ESerialException") << code;
    EXPECT_EQ(r.Message, "Serial exception") << code;
    EXPECT_EQ(r.ErrorCode, 0) << code;
  }
}

TEST(CheckResult, ReturnsCountsAndSuccess) {
  for (std::int32_t code : {0, 1, 17, 4096, INT_MAX}) EXPECT_EQ(CheckResult(false, code), code);
}

TEST(CheckResult, PassesCodesThroughWhileTheComponentLoads) {
  struct TLoadingPort : TComponentLoadState {
    bool loading = true;
    bool IsLoading() const noexcept override { return loading; }
  } port;
  for (std::int32_t code : {-2001, -8, -5, -1, INT_MIN, 17})
    EXPECT_EQ(CheckResult(port, code), code);
  port.loading = false;
  EXPECT_THROW(CheckResult(port, -2001), EBadId);
  EXPECT_EQ(CheckResult(port, 17), 17);
}

TEST(CheckResult, SystemRangeRaisesInOutErrorWithThePositiveNumber) {
  const struct {
    std::int32_t Code;
    const char* Message;
  } rows[] = {
      {-2, "File not found"},       {-3, "Path not found"},       {-4, "Too many open files"},
      {-5, "File access denied"},   {-6, "Invalid file handle"},  {-15, "Invalid drive"},
      {-18, "No more files"},       {-100, "Attempt to read beyond end of file"},
      {-162, "General failure"},
  };
  for (const auto& row : rows) {
    const TRaised r = Raise(row.Code);
    EXPECT_EQ(r.Class, "EInOutError") << row.Code;
    EXPECT_EQ(r.Message, row.Message) << row.Code;
    EXPECT_EQ(r.ErrorCode, -row.Code) << row.Code;
  }
}

TEST(CheckResult, SystemNumberWithoutTableTextTakesTheSystemsText) {
  const std::string system = platform::SystemErrorMessage(platform::kErrInvalidParameter);
  ASSERT_FALSE(system.empty());
  const TRaised r = Raise(-87);
  EXPECT_EQ(r.Class, "EInOutError");
  EXPECT_EQ(r.ErrorCode, 87);
  // The system's line end leaves no blank behind.
  EXPECT_EQ(r.Message, system);
}

TEST(CheckResult, SystemNumberWithoutAnyTextStillRaises) {
  ASSERT_EQ(platform::SystemErrorMessage(121), "");
  const TRaised r = Raise(-121);
  EXPECT_EQ(r.Class, "EInOutError");
  EXPECT_EQ(r.Message, "");
  EXPECT_EQ(r.ErrorCode, 121);
}

TEST(CheckResult, OutOfMemoryKeepsItsOwnMessage) {
  const TRaised r = Raise(-8);
  EXPECT_EQ(r.Class, "EOutOfMemory");
  EXPECT_EQ(r.Message, "Out of memory");
}

TEST(SerialException, CreateTextCarriesNoCode) {
  const ESerialException e = ESerialException::CreateText("Dispatcher already started");
  EXPECT_EQ(e.ErrorCode(), 0);
  EXPECT_EQ(e.Message(), "Dispatcher already started");
  EXPECT_STREQ(e.what(), "Dispatcher already started");
}

TEST(SerialException, DirectRaisesCarryCodeAndText) {
  try {
    throw ENoPortSelected(-2011);
  } catch (const EOpenComm& e) {
    EXPECT_EQ(e.ErrorCode(), -2011);
    EXPECT_EQ(e.Message(), "The ComNumber property of the TComPort has not been set");
  }
  try {
    RaiseSerialError(-3001);
  } catch (const ENullApi& e) {
    EXPECT_EQ(e.ErrorCode(), -3001);
    EXPECT_EQ(e.Message(), "No device layer specified");
  }
}

}  // namespace
}  // namespace corvane
