#pragma once
// The modem preparation tool's window: one port, one button per step (check
// and echo off, SIM-presence reports, SIM Toolkit off / configure / on,
// reset), a status text beside each button and a log list, laid out by the
// form resources/TfzInitModem.ui.
//
// What a caller may rely on:
// - GUI thread only; nothing is locked. Construction creates the closed port
//   comVorel1 and the instance limiter (MaxInstances 1, unless the options
//   leave it out), then runs FormCreate. The port stays closed until "Set" or
//   "Cek Modem".
// - Refused() tells main that the limiter turned this copy away: the window
//   must then never be shown.
// - "Set" shows every step as failed ("Not OK" on red) before it opens the
//   new port, also when that port will not open: the steps were done to the
//   modem of the old port.
// - Every handler returns at once; none waits for the modem. A command that
//   gets no answer within its time-out shows its step as failed, logs it and
//   frees the port for the next command; "Cek Modem" without an answer shows
//   every step as failed (no modem answers on the port).
// - One command at a time: while an answer is due the six step buttons are
//   disabled and every sender refuses, so no answer is taken for a later
//   command's ("Set" stays usable: it leaves the modem).
// - An answer counts for a step only as a whole final result line ("OK",
//   "ERROR", "+CME ERROR: <n>", "+CMS ERROR: <n>") that answers the step's
//   own command (TAnswerLedger). The answer of a command that timed out,
//   however late, is logged as "late answer to the earlier command ignored",
//   a second answer or one to no command as "extra answer ignored"; neither
//   ends a later command's wait.
// - After a time-out the port waits the same answer time once more for the
//   late answer before the next command goes out, and after every final
//   result a moment (half a second): a step pressed meanwhile goes out when
//   that time is over, its button disabled until then; "Set" drops it.
//   "Cek Modem" sends "ATE0" at once on the "OK" to "AT".
// - A lost device (unplugged modem, hung-up line) is noticed when the port
//   tells it (OnTriggerDeviceLost), and at any press of a step: the log says
//   so, every step shows as failed and a command whose answer was due is
//   given up. It is said once per loss; "Set" reopens the port.
// - Clicks and the reply time-out catch what they raise and hand it to the
//   application's central exception handler; the port's notices reach
//   comVorel1Trigger through the port window, which does the same.
// - Closing (the "&Keluar" button, the close box) asks "ANDA YAKIN AKAN
//   MENUTUP APLIKASI INI?" through MessageDlg; Yes stops the reply time-out,
//   closes the port and the window (the program then ends, see
//   TApplication::MainWindowClosed), No keeps the window and the port as they
//   were. The tool writes no file. A close after the confirmed one asks
//   nothing.
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "uDataType.h"
#include "uReplyScan.h"

class QCloseEvent;
class QLabel;
class QTimer;
class TComPort;
class TadpInstanceControl;

namespace Ui {
class TfzInitModem;
}

namespace corvane::prep {

struct TPrepFormOptions {
  // Count this copy among the running ones (MaxInstances 1). Tests that make
  // several windows in one process leave it out.
  bool limitInstances = true;
  // How long a command may stay unanswered, for every command alike; 0 gives
  // each command its own time-out (the reset's covers the modem's restart).
  int replyTimeOutMs = 0;
};

class TfzInitModem : public QWidget {
  Q_OBJECT
 public:
  explicit TfzInitModem(TPrepFormOptions options = {}, QWidget* parent = nullptr);
  ~TfzInitModem() override;

  bool Refused() const { return refused_; }
  Ui::TfzInitModem& Form() { return *ui_; }

  // Fields of the window.
  std::string RxBuffer;   // what arrived since the last command went out
  int StkSetupStep = 0;   // SIM Toolkit command sent last: 1 off, 2 configure, 3 on
  int PortNumber = 0;     // COM number to use
  int BaudRate = 0;

  // Components that the form resource does not lay out.
  TComPort* comVorel1 = nullptr;
  TadpInstanceControl* adpInstanceControl1 = nullptr;
  QTimer* tReplyTimeOut = nullptr;  // single shot, armed by every sender
  QTimer* tLateAnswer = nullptr;    // single shot: a step pressed while it runs goes out when it ends

  // Observes every chunk the dispatch takes (handler name, or nullptr when
  // the chunk is dropped). For diagnostics and tests; empty by default.
  std::function<void(const char* handler, const std::string& chunk)> OnDispatch;

  // Published handlers.
  void FormCreate();
  void btnSetPort1Click();
  void btnCekModemClick();
  void btnStatusKartuClick();
  void btnDeactivateClick();
  void btnConfigureClick();
  void btnActivateSTKClick();
  void btnResetModemClick();
  void btnKeluarClick();
  void comVorel1Trigger(QObject* CP, std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t Data);
  void tReplyTimeOutTimer();
  void comVorel1TriggerDeviceLost(QObject* CP);
  void tLateAnswerTimer();
  void AddFuncLog(std::string_view text);

  // Senders: each does nothing while the port is closed.
  void SendAt();
  void SendEchoOff();
  void SendWindOn();
  void SendStkOff();
  void SendStkConfigure();
  void SendStkOn();
  void SendModemReset();

  // Reply handlers, selected by ReplyType: each gets the final result that
  // answers the command in flight. The bytes collect in RxBuffer (its last
  // 4096) until the next command empties it.
  void HandleAtReply(TFinalResult Result);
  void HandleEchoOffReply(TFinalResult Result);
  void HandleStkSetupReply(TFinalResult Result);
  void HandleResetReply(TFinalResult Result);
  void HandleWindOnReply(TFinalResult Result);

  struct TCommand;  // one row of the sender table

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateComponents(const TPrepFormOptions& options);
  void CreatePort();
  void ConnectHandlers();
  void Send(const TCommand& command);
  void DispatchChunk(const std::string& Chunk);
  void TakeAnswer(const TAnswerLedger::TAnswer& answer);
  void CreateDeviceWatch();
  void GoIdle();
  void LeaveModem();
  bool AnswerDue() const;
  void AwaitAnswer(int ms);
  void EndAwaitingAnswer();
  void EnableStepButtons(bool enabled);
  void GiveUpAnswer(int ms);
  bool DeviceLost();
  void ShowDeviceLost();
  void ShowEveryStepFailed();
  QLabel* StkStepStatus() const;
  bool FormClose();

  std::unique_ptr<Ui::TfzInitModem> ui_;
  int replyTimeOutMs_ = 0;
  bool refused_ = false;
  bool lossShown_ = false;  // the lost device was reported since the port opened
  bool closed_ = false;
  TAnswerLedger ledger_;
  const TCommand* heldCommand_ = nullptr;  // pressed while tLateAnswer runs; goes out when it ends
};

// Shows a step's result in its status text: the text on the colour.
void ShowStepStatus(QLabel* status, const char* text, std::uint32_t colour);

}  // namespace corvane::prep
