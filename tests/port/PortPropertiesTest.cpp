// The component's properties while closed: defaults, the form's streaming
// order, the flow-mark arithmetic and the loading rule.
#include <gtest/gtest.h>

#include <QObject>

#include "PortTestSupport.h"

using namespace porttest;

namespace {

struct DefaultRow {
  const char* name;
  std::function<bool(const TComPort&)> holds;
};

TEST(PortDefaults, FreshComponentHoldsEveryClassDefault) {
  QObject window;
  auto* port = new TComPort(&window);
  const DefaultRow rows[] = {
      {"DeviceLayer dlWin32", [](const TComPort& p) { return p.DeviceLayer() == dlWin32; }},
      {"ComNumber 0", [](const TComPort& p) { return p.ComNumber() == 0; }},
      {"Baud 19200", [](const TComPort& p) { return p.Baud() == 19200; }},
      {"PromptForPort", [](const TComPort& p) { return p.PromptForPort(); }},
      {"Parity pNone", [](const TComPort& p) { return p.Parity() == pNone; }},
      {"DataBits 8", [](const TComPort& p) { return p.DataBits() == 8; }},
      {"StopBits 1", [](const TComPort& p) { return p.StopBits() == 1; }},
      {"InSize 4096", [](const TComPort& p) { return p.InSize() == 4096; }},
      {"OutSize 4096", [](const TComPort& p) { return p.OutSize() == 4096; }},
      {"AutoOpen", [](const TComPort& p) { return p.AutoOpen(); }},
      {"Open false", [](const TComPort& p) { return !p.Open(); }},
      {"DTR", [](const TComPort& p) { return p.DTR(); }},
      {"RTS", [](const TComPort& p) { return p.RTS(); }},
      {"HWFlowOptions []", [](const TComPort& p) { return p.HWFlowOptions().Empty(); }},
      {"SWFlowOptions swfNone", [](const TComPort& p) { return p.SWFlowOptions() == swfNone; }},
      {"XOnChar 17", [](const TComPort& p) { return p.XOnChar() == 17; }},
      {"XOffChar 19", [](const TComPort& p) { return p.XOffChar() == 19; }},
      {"BufferFull 0", [](const TComPort& p) { return p.BufferFull() == 0; }},
      {"BufferResume 0", [](const TComPort& p) { return p.BufferResume() == 0; }},
      {"Tracing tlOff", [](const TComPort& p) { return p.Tracing() == tlOff; }},
      {"TraceSize 10000", [](const TComPort& p) { return p.TraceSize() == 10000; }},
      {"TraceName", [](const TComPort& p) { return p.TraceName() == "SERIAL.TRC"; }},
      {"TraceHex", [](const TComPort& p) { return p.TraceHex(); }},
      {"TraceAllHex false", [](const TComPort& p) { return !p.TraceAllHex(); }},
      {"Logging tlOff", [](const TComPort& p) { return p.Logging() == tlOff; }},
      {"LogSize 10000", [](const TComPort& p) { return p.LogSize() == 10000; }},
      {"LogName", [](const TComPort& p) { return p.LogName() == "SERIAL.LOG"; }},
      {"LogHex", [](const TComPort& p) { return p.LogHex(); }},
      {"LogAllHex false", [](const TComPort& p) { return !p.LogAllHex(); }},
      {"UseMSRShadow", [](const TComPort& p) { return p.UseMSRShadow(); }},
      {"UseEventWord", [](const TComPort& p) { return p.UseEventWord(); }},
      {"CommNotificationLevel 10", [](const TComPort& p) { return p.CommNotificationLevel() == 10; }},
      {"TapiMode tmAuto", [](const TComPort& p) { return p.TapiMode() == tmAuto; }},
      {"RS485Mode false", [](const TComPort& p) { return !p.RS485Mode(); }},
      {"AvailThreshold 1", [](const TComPort& p) { return p.AvailThreshold() == 1; }},
      {"ThreadBoost 0", [](const TComPort& p) { return p.ThreadBoost() == 0; }},
      {"PortState closed", [](const TComPort& p) { return p.PortState() == psClosed; }},
      {"no dispatcher, no window", [](const TComPort& p) { return p.PortWindow() == nullptr; }},
      {"no OnTrigger", [](const TComPort& p) { return !p.OnTrigger(); }},
      {"Version", [](const TComPort& p) { return p.Version() == "v3.00"; }},
  };
  for (const auto& row : rows) EXPECT_TRUE(row.holds(*port)) << row.name;
  // The window owns its ports: deleting it deletes them.
  EXPECT_EQ(port->parent(), &window);
}

TEST(PortForm, StreamedSettingsEndWithTheFormsMarks) {
  TComPort port(nullptr);
  port.BeginLoading();
  port.SetComNumber(13);
  port.SetBaud(115200);
  port.SetAutoOpen(false);
  port.SetRTS(false);
  port.SetHWFlowOptions({hwfUseDTR, hwfUseRTS});
  EXPECT_EQ(port.BufferFull(), 3686);
  EXPECT_EQ(port.BufferResume(), 409);
  port.SetBufferFull(3072);
  port.SetBufferResume(1024);
  port.SetTraceName("SERIAL.TRC");
  port.SetTraceHex(false);
  port.SetUseEventWord(false);
  port.SetOnTrigger([](QObject*, uint16_t, uint16_t, uint16_t) {});
  port.EndLoading();
  EXPECT_EQ(port.BufferFull(), 3072);
  EXPECT_EQ(port.BufferResume(), 1024);
  EXPECT_EQ(port.ComNumber(), 13);
  EXPECT_EQ(port.Baud(), 115200);
  EXPECT_FALSE(port.AutoOpen());
  EXPECT_FALSE(port.RTS());
  EXPECT_TRUE(port.HWFlowOptions() == (THWFlowOptionSet{hwfUseDTR, hwfUseRTS}));
  EXPECT_FALSE(port.TraceHex());
  EXPECT_FALSE(port.UseEventWord());
  EXPECT_TRUE(static_cast<bool>(port.OnTrigger()));
  EXPECT_EQ(port.PortState(), psClosed);
  EXPECT_FALSE(port.Open());
}

struct MarkRow {
  const char* name;
  std::function<void(TComPort&)> apply;
  uint16_t full;
  uint16_t resume;
};

TEST(PortFlowMarks, WritersComputeTheMarksByTruncation) {
  const MarkRow rows[] = {
      {"hardware flow on a fresh port", [](TComPort& p) { p.SetHWFlowOptions({hwfUseDTR}); }, 3686, 409},
      {"software flow on a fresh port", [](TComPort& p) { p.SetSWFlowOptions(swfBoth); }, 3072, 1024},
      {"BufferFull above InSize", [](TComPort& p) { p.SetBufferFull(5000); }, 3686, 0},
      {"BufferResume above BufferFull",
       [](TComPort& p) {
         p.SetBufferFull(3072);
         p.SetBufferResume(4000);
       },
       3072, 307},
      {"flow off keeps the marks", [](TComPort& p) { p.SetHWFlowOptions({}); }, 0, 0},
      {"a smaller input queue",
       [](TComPort& p) {
         p.SetInSize(1000);
         p.SetHWFlowOptions({hwfUseRTS});
       },
       900, 100},
  };
  for (const auto& row : rows) {
    TComPort port(nullptr);
    row.apply(port);
    EXPECT_EQ(port.BufferFull(), row.full) << row.name;
    EXPECT_EQ(port.BufferResume(), row.resume) << row.name;
  }
}

TEST(PortClosedWriters, StoreOnlyWhatAClosedPortKeeps) {
  TComPort port(nullptr);
  port.SetTracing(tlDump);
  EXPECT_EQ(port.Tracing(), tlOff);
  port.SetTracing(tlOn);
  EXPECT_EQ(port.Tracing(), tlOn);
  port.SetLogging(tlPause);
  EXPECT_EQ(port.Logging(), tlOff);
  port.SetUseMSRShadow(false);
  EXPECT_TRUE(port.UseMSRShadow());
  port.SetTraceSize(5000000);
  EXPECT_EQ(port.TraceSize(), 4000000u);
  port.SetLogSize(20000000);
  EXPECT_EQ(port.LogSize(), 16000000u);
  port.SetTraceName(std::string(300, 'x'));
  EXPECT_EQ(port.TraceName().size(), 255u);
  port.SetVersion("v9");
  EXPECT_EQ(port.Version(), "v3.00");
  // A device layer this component cannot make is refused.
  port.SetDeviceLayer(dlFossil);
  EXPECT_EQ(port.DeviceLayer(), dlWin32);
  // RS485 takes RTS out of the handshake and drops RTS.
  port.SetHWFlowOptions({hwfUseDTR, hwfUseRTS, hwfRequireCTS});
  port.SetRS485Mode(true);
  EXPECT_TRUE(port.HWFlowOptions() == (THWFlowOptionSet{hwfUseDTR}));
  EXPECT_FALSE(port.RTS());
  // And hardware flow by RTS switches RS485 off again.
  port.SetHWFlowOptions({hwfUseRTS});
  EXPECT_FALSE(port.RS485Mode());
}

TEST(PortLoading, CodesPassUnraisedUntilLoadingEnds) {
  TComPort port(nullptr);
  port.BeginLoading();
  port.SetAutoOpen(false);
  // CheckResult's loading rule: the closed port's -2007 comes back unraised.
  EXPECT_NO_THROW(port.SendString("AT\r"));
  EXPECT_EQ(port.ReceiveChar(), '\0');
  port.EndLoading();
  ExpectSerialError<corvane::ECommNotOpen>([&] { port.SendString("AT\r"); }, -2007, "ie_NOpen - device not open");
  ExpectSerialError<corvane::ECommNotOpen>([&] { port.ReceiveChar(); }, -2007, "ie_NOpen - device not open");
}

TEST(PortLoading, OpenWhileLoadingOnlyRecordsTheWish) {
  ComDir dir;
  Modem modem(dir, 3);
  TComPort port(nullptr);
  port.BeginLoading();
  port.SetComNumber(3);
  port.SetOpen(true);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.PortState(), psClosed);
  port.EndLoading();
  EXPECT_EQ(port.PortState(), psOpen);
  EXPECT_TRUE(port.Open());
  port.SetOpen(false);
  EXPECT_EQ(port.PortState(), psClosed);
}

TEST(PortLoading, AnOpenFailureAtTheEndOfLoadingIsShownNotThrown) {
  ComDir dir;
  ShownMessages shown;
  TComPort port(nullptr);
  port.BeginLoading();
  port.SetComNumber(41);  // no such port in the folder
  port.SetOpen(true);
  EXPECT_NO_THROW(port.EndLoading());
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.PortState(), psClosed);
  ASSERT_EQ(shown.Texts().size(), 1);
  EXPECT_EQ(shown.Texts()[0].toStdString(),
            "ie_BadId - Specified comport doesn't exist (COM41: no device " + dir.LinkPath(41) + ")");
}

TEST(PortEvents, AssignedEventsCanBeUnassigned) {
  TComPort port(nullptr);
  port.SetOnTrigger([](QObject*, uint16_t, uint16_t, uint16_t) {});
  EXPECT_TRUE(static_cast<bool>(port.OnTrigger()));
  port.SetOnTrigger(nullptr);
  EXPECT_FALSE(static_cast<bool>(port.OnTrigger()));
}

}  // namespace
