// The four lines: switching them all, the port "Set", "Aktif", the line log
// and the reply dispatch, with pseudo-terminals standing in for the modems.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "ConsoleTestSupport.h"
#include "SerPort.h"
#include "uConstType.h"
#include "uzCorvaneV4.h"
#include "ui_TfzCorvaneV4.h"

using namespace corvane;
using namespace corvane::test;

namespace {

// A window whose lines 1..4 sit on COM1..COM4, with the given extra keys.
std::unique_ptr<TfzCorvaneV4> WindowOnCom1To4(TConsoleFolder& folder, const std::string& extra = "") {
  folder.WriteFile("Corvane_v4.ini",
                   "[Corvane_V4]\r\ncomport_1=1\r\ncomport_2=2\r\ncomport_3=3\r\ncomport_4=4\r\n" + extra);
  return std::make_unique<TfzCorvaneV4>(TFormOptions{folder.Dir(), false});
}

bool Running(TConsoleLine& l) {
  return l.ckOn->isChecked() && l.comVorel->Open() && l.Data.Job == ljStart && l.tOn->Enabled() && l.Data.StkArmed;
}

bool Off(TConsoleLine& l) { return !l.ckOn->isChecked() && !l.comVorel->Open() && l.Data.Job == ljIdle; }

// What the dispatch of a line saw: handler names and the bytes they got.
struct TDispatchLog {
  std::vector<std::string> handlers;
  std::string bytes;
  void Attach(TConsoleLine& l) {
    l.OnDispatch = [this](const char* h, const std::string& chunk) {
      handlers.push_back(h ? h : "(dropped)");
      bytes += chunk;
    };
  }
  void Clear() {
    handlers.clear();
    bytes.clear();
  }
};

}  // namespace

TEST(Lines, OnAllSwitchesTheActiveLinesAndLeavesAnInactiveOneAlone) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TCentralRecorder central;
  for (int com : {1, 2, 4}) folder.AddModem(com);
  auto w = WindowOnCom1To4(folder, "portactive_3=0\r\n");
  w->Form().ckOn_All->setChecked(true);
  for (int n : {1, 2, 4}) EXPECT_TRUE(Running(w->Line(n))) << n;
  EXPECT_TRUE(Off(w->Line(3)));
  w->Form().ckOn_All->setChecked(false);
  for (int n = 1; n <= 4; ++n) {
    EXPECT_TRUE(Off(w->Line(n))) << n;
    EXPECT_FALSE(w->Line(n).tOn->Enabled()) << n;
  }
  EXPECT_TRUE(dialogs.asked.empty());
  EXPECT_TRUE(central.messages.empty());
}

TEST(Lines, APortThatFailsToOpenUnticksItsLineAndTheOthersStillStart) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  TCentralRecorder central;
  for (int com : {1, 3, 4}) folder.AddModem(com);  // nothing on COM2
  auto w = WindowOnCom1To4(folder);
  w->Form().ckOn_All->setChecked(true);
  for (int n : {1, 3, 4}) EXPECT_TRUE(Running(w->Line(n))) << n;
  TConsoleLine& l2 = w->Line(2);
  EXPECT_TRUE(Off(l2));
  EXPECT_FALSE(l2.tOn->Enabled());
  ASSERT_EQ(l2.lstFunc->count(), 1);
  EXPECT_TRUE(l2.lstFunc->item(0)->text().startsWith("F000 : COM2 cannot be opened: "))
      << l2.lstFunc->item(0)->text().toStdString();
  EXPECT_TRUE(dialogs.asked.empty()) << "no box per line: the other lines keep starting";
  EXPECT_TRUE(central.messages.empty());
  // Once the modem is there, ticking the box again starts the line.
  folder.AddModem(2);
  l2.ckOn->setChecked(true);
  EXPECT_TRUE(Running(l2));
}

TEST(Lines, SetOnAClosedLineRenumbersButKeepsTheOldRate) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.AddModem(5);
  auto w = WindowOnCom1To4(folder);
  TConsoleLine& l = w->Line(1);
  l.cbPort->setEditText("5");
  w->Form().eBaud->setText("9600");
  l.btnSetPort->click();
  EXPECT_EQ(l.Data.ComPort, 5);
  EXPECT_EQ(l.comVorel->ComNumber(), 5);
  EXPECT_EQ(w->BaudRate, 9600);
  EXPECT_EQ(l.comVorel->Baud(), 115200) << "the new rate reaches a closed port only at the next start";
  EXPECT_FALSE(l.comVorel->Open());
  EXPECT_EQ(w->Line(2).comVorel->ComNumber(), 2) << "other lines untouched";
  l.ckOn->setChecked(true);
  EXPECT_TRUE(Running(l));
  EXPECT_EQ(l.comVorel->Baud(), 115200);
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST(Lines, SetOnAnOpenLineReopensAtOnceWithTheNewNumberAndRate) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.AddModem(1);
  TFakeModemEnd& com5 = folder.AddModem(5);
  auto w = WindowOnCom1To4(folder);
  TConsoleLine& l = w->Line(1);
  l.ckOn->setChecked(true);
  ASSERT_TRUE(Running(l));
  l.cbPort->setEditText("5");
  w->Form().eBaud->setText("57600");
  l.btnSetPort->click();
  EXPECT_TRUE(Running(l)) << "job and timers untouched";
  EXPECT_EQ(l.comVorel->ComNumber(), 5);
  EXPECT_EQ(l.comVorel->Baud(), 57600);
  TDispatchLog seen;
  seen.Attach(l);
  l.Reply() = rtIdle;
  com5.Write("+WIND: 1\r\n");
  EXPECT_TRUE(WaitUntil([&] { return seen.bytes == "+WIND: 1\r\n"; })) << seen.bytes;
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST(Lines, SetRefusesWhatIsNotAPortNumber) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  auto w = WindowOnCom1To4(folder);
  TConsoleLine& l = w->Line(3);
  for (const char* text : {"0", "256", "-1", "COM5", ""}) {
    dialogs.asked.clear();
    l.cbPort->setEditText(text);
    l.btnSetPort->click();
    EXPECT_EQ(dialogs.asked.size(), 1u) << text;
    EXPECT_EQ(l.Data.ComPort, 3) << text;
    EXPECT_EQ(l.comVorel->ComNumber(), 3) << text;
  }
  EXPECT_TRUE(dialogs.asked.back().text.contains("is not a valid integer value"));
  // A bad rate: the new number is kept but given to no port.
  dialogs.asked.clear();
  l.cbPort->setEditText("7");
  w->Form().eBaud->setText("fast");
  l.btnSetPort->click();
  EXPECT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(l.Data.ComPort, 7);
  EXPECT_EQ(l.comVorel->ComNumber(), 3);
  EXPECT_EQ(w->BaudRate, 115200);
}

TEST(Lines, UntickingAktifGreysARunningLineWithoutStoppingIt) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  folder.AddModem(1);
  auto w = WindowOnCom1To4(folder);
  TConsoleLine& l = w->Line(1);
  l.ckOn->setChecked(true);
  l.ckActive->setChecked(false);
  EXPECT_TRUE(Running(l));
  for (QWidget* c : std::initializer_list<QWidget*>{l.ckOn, l.ckRegistrasi, l.ckCall, l.ckSMS1, l.ckSMS2,
                                                    l.ckCekPulsa, l.cbPort, l.btnSetPort})
    EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
  for (QAction* a : {l.mnCALL, l.mnSMS1, l.mnSMS2, l.mnCekPulsa}) EXPECT_FALSE(a->isEnabled());
  EXPECT_TRUE(l.ckCall2->isEnabled());
  EXPECT_TRUE(l.mnCALL2->isEnabled());
  for (int n = 2; n <= 4; ++n) EXPECT_TRUE(w->Line(n).ckOn->isEnabled());
  // "ON ALL" now passes the inactive line by.
  w->Form().ckOn_All->setChecked(true);
  w->Form().ckOn_All->setChecked(false);
  EXPECT_TRUE(Running(l));
  l.ckActive->setChecked(true);
  EXPECT_TRUE(l.ckOn->isEnabled());
}

TEST(Lines, TaskOptionBoxesCarryTheirStateIntoTheRecord) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  auto w = WindowOnCom1To4(folder);
  TConsoleLine& l = w->Line(4);
  struct Row {
    QCheckBox* box;
    bool TLineData::*field;
  };
  const Row rows[] = {{l.ckRegistrasi, &TLineData::RegistrasiAktif}, {l.ckCall, &TLineData::CallAktif},
                      {l.ckCall2, &TLineData::Call2Aktif},           {l.ckSMS1, &TLineData::SMSAktif},
                      {l.ckSMS2, &TLineData::SMS2Aktif},             {l.ckCekPulsa, &TLineData::CekPulsaAktif}};
  for (const Row& r : rows) {
    r.box->click();
    EXPECT_EQ(l.Data.*(r.field), r.box->isChecked()) << r.box->objectName().toStdString();
    EXPECT_FALSE(l.Data.*(r.field));
    r.box->click();
    EXPECT_TRUE(l.Data.*(r.field));
  }
}

TEST(Lines, LogKeepsAtMostMaxListLineEntriesWithTheNewestSelected) {
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  auto w = WindowOnCom1To4(folder);
  TConsoleLine& l = w->Line(2);
  ASSERT_EQ(maxlistline, 1000);
  for (int i = 1; i <= 1000; ++i) l.AddFuncLog("F001: entry " + std::to_string(i));
  EXPECT_EQ(l.lstFunc->count(), 1000);
  EXPECT_EQ(l.lstFunc->currentRow(), 999);
  l.AddFuncLog("F016 : +STGI: \"Menu\"\r\n\r\nOK\r\n");
  ASSERT_EQ(l.lstFunc->count(), 1) << "the 1001st entry starts a fresh list";
  EXPECT_EQ(l.lstFunc->currentRow(), 0);
  QListWidgetItem* item = l.lstFunc->item(0);
  EXPECT_EQ(item->data(Qt::UserRole).toByteArray(), QByteArray("F016 : I: \"Menu\"\r\n\r\nOK\r\n"));
  EXPECT_EQ(item->text(), QString::fromUtf8("F016 : I: \"Menu\"<CR><LF><CR><LF>OK<CR><LF>"));
  for (int n : {1, 3, 4}) EXPECT_EQ(w->Line(n).lstFunc->count(), 0);
  // A click on a log line shows it in the line's balance edit.
  l.AddFuncLog("F029 : second");
  l.lstFunc->setCurrentRow(0);
  l.lstFuncClick();
  EXPECT_EQ(l.eCekPulsa->text(), item->text());
}

TEST(Lines, EveryReplyTypeReachesItsHandlerAndOthersAreDropped) {
  struct Row {
    int replyType;
    const char* handler;  // nullptr: dropped
  };
  const Row table[] = {
      {0, nullptr},                 {4, "HandleIdle"},          {5, "HandleEchoOffReply"},
      {7, "HandleSmsPrompt"},       {8, "HandleSmsSentReply"},  {13, "HandleUssdReply"},
      {27, "HandleDialReply"},      {28, "HandleHangupReply"},  {29, "HandleStkInfo"},
      {30, "HandleStkResponseReply"}, {32, "HandleStkOnReply"}, {33, "HandleResetReply"},
      {34, "HandleImsiReply"},      {37, "HandleSignalReply"},  {1, nullptr},
      {6, nullptr},                 {99, nullptr},              {255, nullptr},
  };
  TConsoleFolder folder;
  TDialogRecorder dialogs;
  std::vector<TFakeModemEnd*> modems;
  for (int com = 1; com <= 4; ++com) modems.push_back(&folder.AddModem(com));
  auto w = WindowOnCom1To4(folder);
  for (int n = 1; n <= 4; ++n) {
    TConsoleLine& l = w->Line(n);
    l.ckOn->setChecked(true);
    ASSERT_TRUE(l.comVorel->Open()) << n;
    modems[static_cast<std::size_t>(n - 1)]->ReadAvailable();
    TDispatchLog seen;
    seen.Attach(l);
    for (const Row& r : table) {
      // The echo-off reply is line 1's alone.
      const char* expected = (r.replyType == 5 && n != 1) ? nullptr : r.handler;
      seen.Clear();
      l.Reply() = static_cast<std::uint8_t>(r.replyType);
      const std::string chunk = "line " + std::to_string(n) + " reply " + std::to_string(r.replyType) + "\r\n";
      modems[static_cast<std::size_t>(n - 1)]->Write(chunk);
      ASSERT_TRUE(WaitUntil([&] { return seen.bytes.size() >= chunk.size(); })) << n << " " << r.replyType;
      EXPECT_EQ(seen.bytes, chunk) << "every byte, in order, once";
      for (const std::string& h : seen.handlers)
        EXPECT_EQ(h, expected ? expected : "(dropped)") << "line " << n << " reply type " << r.replyType;
    }
    l.OnDispatch = nullptr;
  }
}
