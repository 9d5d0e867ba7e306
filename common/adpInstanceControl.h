#pragma once
// The instance limiter: at most MaxInstances copies of one program run at a
// time on this machine, per user. Each main window places one.
//
// Use, on the GUI thread, in this order:
//   auto* limiter = new TadpInstanceControl(mainWindow);  // owner: the window
//   limiter->SetMaxInstances(16);                         // console 16, tool 1
//   limiter->Loaded();            // the load check, before the creation handler
//   ... the window's creation handler ...
//   if (limiter->Counted()) window.show();  // a refused copy shows nothing
//
// What a caller may rely on:
// - Copies are counted per program path: the key (MappingName) is the
//   executable's path with every "/", "\" and blank removed. Copies of one
//   binary at two paths count apart; paths that differ only by blanks count
//   together.
// - Loaded admits the copy when a slot below MaxInstances is free (the first
//   copy always, whatever MaxInstances says). Slots are kernel locks held for
//   the copy's life: two copies starting at the same instant never both get
//   the last slot, and a copy that crashes or is killed frees its slot at once.
//   When the slots cannot be used at all, the copy runs uncounted.
// - A refused copy (Counted() false): OnMaxInstancesReached is called with the
//   process id of the copy that registered last; that copy is asked over a
//   local socket to bring its window forward (restore if minimised, raise,
//   activate; on Wayland it asks for attention when focus is refused); then
//   the event loop is told to exit at once. No message is shown. The owner's
//   window is kept off screen even if shown, and its close events are dropped,
//   so its close handler never runs. ShowMainForm() turns false.
// - The registered copy handles raise requests on the GUI thread and emits
//   RaiseRequested after it has brought its window forward.
// - The destructor gives the slot back. A second component in one process
//   raises EInstanceControl "Only one copy of this component can be dropped on
//   a form!" before anything else is done.
#include <QObject>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "InstanceSlots.h"

class QLocalServer;
class QLocalSocket;
class QWidget;

class EInstanceControl : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TadpInstanceControl : public QObject {
  Q_OBJECT

 public:
  // Sender, and the process id of the copy that registered last (0: unknown).
  using TMaxInstancesReachedEvent =
      std::function<void(TadpInstanceControl* Sender, std::uint32_t LastInstanceHandle)>;

  explicit TadpInstanceControl(QObject* owner = nullptr);
  ~TadpInstanceControl() override;

  bool Enabled() const noexcept { return enabled_; }
  void SetEnabled(bool on) noexcept { enabled_ = on; }
  std::uint32_t MaxInstances() const noexcept { return maxInstances_; }
  void SetMaxInstances(std::uint32_t n) noexcept { maxInstances_ = n; }
  void SetOnMaxInstancesReached(TMaxInstancesReachedEvent handler) { onMaxInstancesReached_ = std::move(handler); }

  // The program key ("" before Loaded, or when disabled).
  const std::string& MappingName() const noexcept { return mappingName_; }
  // True unless this copy was refused.
  bool Counted() const noexcept { return counted_; }
  // Whether this copy holds a slot (false when refused, disabled or uncounted).
  bool HoldsSlot() const noexcept { return slot_.Held(); }

  // The load check; runs once (later calls do nothing). Skipped when disabled.
  void Loaded();

  // False once a limiter of this process has refused the copy.
  static bool ShowMainForm() noexcept;

 signals:
  void RaiseRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ActivateLastInstance(std::uint32_t lastPid, const std::string& socketPath);
  void ListenForRaiseRequests();
  void ReadRaiseRequest(QLocalSocket* client);
  void BringOwnerToFront();
  void KeepOwnerOffScreen();
  QWidget* OwnerWindow() const;

  bool enabled_ = true;
  std::uint32_t maxInstances_ = 1;
  TMaxInstancesReachedEvent onMaxInstancesReached_;
  std::string mappingName_;
  bool counted_ = true;
  bool loaded_ = false;
  platform::InstanceSlot slot_;
  QLocalServer* server_ = nullptr;
};
