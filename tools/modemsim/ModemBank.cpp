#include "ModemBank.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "PtyLine.h"
#include "SimText.h"

namespace modemsim {

// ---------------------------------------------------------------- Modem

Modem::Modem(ModemBank& bank, int number, int comNumber)
    : bank_(bank),
      number_(number),
      comNumber_(comNumber),
      transcript_(EventLoop::Clock::now()),
      line_(std::make_unique<PtyLine>()) {
  SimModem::Wiring wiring;
  wiring.write = [this](const std::string& bytes) { WriteOut(bytes); };
  wiring.hangUp = [this](int reconnectMs) { UnplugWhenRead(reconnectMs); };
  sim_ = std::make_unique<SimModem>(number, bank.options_.scenario, bank.loop_, transcript_,
                                    std::move(wiring), bank.options_.seed * 7919u + number);
}

Modem::~Modem() = default;

std::string Modem::ComPath() const {
  std::lock_guard<std::mutex> lock(pathMutex_);
  return linkPath_;
}

std::string Modem::DevicePath() const {
  std::lock_guard<std::mutex> lock(pathMutex_);
  return devicePath_;
}

bool Modem::Plug(std::string& error) {
  if (line_->IsOpen()) return true;
  if (!line_->Open(bank_.inotifyFd_, error)) return false;
  std::string link;
  if (!bank_.comDir_.empty()) {
    link = LinkComPort(bank_.comDir_, comNumber_, line_->SlavePath(), error);
    if (link.empty()) {
      line_->Close();
      return false;
    }
  }
  {
    std::lock_guard<std::mutex> lock(pathMutex_);
    devicePath_ = line_->SlavePath();
    linkPath_ = link;
  }
  transcript_.Add(Direction::Event, "line " + line_->SlavePath() + (link.empty() ? "" : " as " + link));
  sim_->PowerUp();
  CheckHost();
  return true;
}

// A modem unplugged right after it answered: the host's driver already has
// the answer, so the line closes once the host has read what was sent (or
// after a short grace time), not under the bytes still in flight.
void Modem::UnplugWhenRead(int reconnectMs) {
  if (!line_->IsOpen()) return;
  sim_->PowerDown();
  unplugTries_ = 40;
  unplugQuiet_ = 0;
  bank_.loop_.After(std::chrono::milliseconds(5), [this, reconnectMs] { CloseWhenRead(reconnectMs); });
}

void Modem::CloseWhenRead(int reconnectMs) {
  if (!line_->IsOpen()) return;
  // Written bytes reach the slave's queue a moment later (the kernel moves
  // them in the background), so the queue must read empty twice in a row.
  const bool drained = line_->UnreadByHost() == 0 && outQueue_.empty();
  unplugQuiet_ = drained ? unplugQuiet_ + 1 : 0;
  if (--unplugTries_ > 0 && unplugQuiet_ < 3) {
    bank_.loop_.After(std::chrono::milliseconds(5), [this, reconnectMs] { CloseWhenRead(reconnectMs); });
    return;
  }
  Unplug(reconnectMs);
}

void Modem::Unplug(int reconnectMs) {
  if (!line_->IsOpen()) return;
  transcript_.Add(Direction::Event, "hang-up: line closed by the modem");
  if (attached_) bank_.loop_.Unwatch(line_->MasterFd());
  attached_ = false;
  outQueue_.clear();
  sim_->SetHostPresent(false);
  sim_->PowerDown();
  std::string link;
  {
    std::lock_guard<std::mutex> lock(pathMutex_);
    link = linkPath_;
    linkPath_.clear();
  }
  UnlinkComPort(link, line_->SlavePath());
  line_->Close();
  if (reconnectMs >= 0) {
    bank_.loop_.After(std::chrono::milliseconds(reconnectMs), [this] {
      std::string error;
      if (!Plug(error)) transcript_.Add(Direction::Event, "reconnect failed: " + error);
    });
  }
}

void Modem::CheckHost() {
  if (!line_->IsOpen()) return;
  const bool present = line_->HostPresent();
  if (present && !attached_) {
    attached_ = true;
    sim_->SetHostPresent(true);
    transcript_.Add(Direction::Event, "host opened the line");
    UpdateWatch();
    ReadInput();
  } else if (!present && attached_) {
    HostLeft();
  }
}

void Modem::HostLeft() {
  ReadInput();  // what the host wrote before it closed still counts
  attached_ = false;
  bank_.loop_.Unwatch(line_->MasterFd());
  outQueue_.clear();
  line_->DropUnreadOutput();
  sim_->SetHostPresent(false);
  transcript_.Add(Direction::Event, "host closed the line");
}

void Modem::UpdateWatch() {
  if (!attached_) return;
  const short events = POLLIN | (outQueue_.empty() ? 0 : POLLOUT);
  bank_.loop_.Watch(line_->MasterFd(), events, [this](short revents) { OnLineEvent(revents); });
}

void Modem::OnLineEvent(short revents) {
  if (revents & POLLIN) ReadInput();
  if (!attached_ || !line_->IsOpen()) return;
  if (revents & POLLOUT) FlushOut();
  if (revents & (POLLHUP | POLLERR)) {
    if (!line_->HostPresent()) HostLeft();
  }
}

void Modem::ReadInput() {
  char buf[4096];
  while (line_->IsOpen()) {
    const ssize_t n = ::read(line_->MasterFd(), buf, sizeof buf);
    if (n > 0) {
      std::string chunk(buf, static_cast<size_t>(n));
      transcript_.Add(Direction::ToModem, chunk);
      sim_->OnInput(chunk);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return;  // EAGAIN, or EIO once the host has gone
  }
}

void Modem::WriteOut(const std::string& bytes) {
  if (!attached_) {
    transcript_.Add(Direction::Event, "unheard (no host): \"" + Escape(bytes) + "\"");
    return;
  }
  outQueue_ += bytes;
  FlushOut();
}

void Modem::FlushOut() {
  const int fd = line_->MasterFd();
  while (!outQueue_.empty() && line_->IsOpen()) {
    const long n = transcript_.AddWritten(outQueue_, [fd](const std::string& b) {
      return static_cast<long>(::write(fd, b.data(), b.size()));
    });
    if (n > 0) {
      outQueue_.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // the host is not reading: wait for POLLOUT
  }
  UpdateWatch();
}

namespace {

void Require(bool ok, const std::string& error) {
  if (!ok) throw std::invalid_argument(error);
}

}  // namespace

void Modem::InsertCard(const std::string& cardId, bool fresh) {
  std::string error;
  Require(bank_.loop_.Call([&] { return sim_->InsertCard(cardId, fresh, error); }), error);
}

void Modem::RemoveCard() {
  std::string error;
  Require(bank_.loop_.Call([&] { return sim_->RemoveCard(error); }), error);
}

void Modem::SendUnsolicited(const std::string& line) {
  bank_.loop_.Call([&] { sim_->SendUnsolicited(line); });
}

void Modem::SendRaw(const std::string& bytes) {
  bank_.loop_.Call([&] { sim_->SendRaw(bytes); });
}

void Modem::SetSilent(bool on) {
  bank_.loop_.Call([&] { sim_->SetSilent(on); });
}

void Modem::HangUp() {
  std::string error = "the line is already hung up";
  Require(bank_.loop_.Call([&] {
            if (!line_->IsOpen()) return false;
            Unplug(-1);
            return true;
          }),
          error);
}

void Modem::Reconnect() {
  std::string error = "the line is plugged in";
  Require(bank_.loop_.Call([&] {
            if (line_->IsOpen()) return false;
            return Plug(error);
          }),
          error);
}

void Modem::AddFault(const FaultRule& rule) {
  bank_.loop_.Call([&] { sim_->AddFault(rule); });
}

void Modem::ClearFaults() {
  bank_.loop_.Call([&] { sim_->ClearFaults(); });
}

void Modem::SetSignal(int rssi, int ber) {
  bank_.loop_.Call([&] { sim_->SetSignal(rssi, ber); });
}

ModemStatus Modem::Status() const {
  return bank_.loop_.Call([&] {
    ModemStatus s = sim_->Status();
    s.plugged = line_->IsOpen();
    s.hostPresent = attached_;
    return s;
  });
}

bool Modem::WaitFor(const std::function<bool(const ModemStatus&)>& done,
                    std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done(Status())) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// ---------------------------------------------------------------- ModemBank

ModemBank::ModemBank(BankOptions options) : options_(std::move(options)) {
  if (options_.count < 1 || options_.count > 256)
    throw std::runtime_error("a bank holds 1 to 256 modems");
  if (options_.firstCom < 1) throw std::runtime_error("COM numbers start at 1");
  comDir_ = options_.makeLinks ? options_.comDir : std::string();
  if (comDir_.empty() && options_.makeLinks) {
    const char* env = std::getenv("CORVANE_COM_DIR");
    if (env) comDir_ = env;
  }
  if (!options_.transcriptFile.empty()) {
    transcriptFile_ = std::fopen(options_.transcriptFile.c_str(), "a");
    if (!transcriptFile_)
      throw std::runtime_error("cannot write transcript file '" + options_.transcriptFile + "'");
  }
  inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotifyFd_ < 0) throw std::runtime_error("inotify_init1 failed");
  for (int i = 0; i < options_.count; ++i) {
    auto m = std::unique_ptr<Modem>(new Modem(*this, i + 1, options_.firstCom + i));
    m->transcript_.SetKeep(options_.keepTranscripts);
    if (transcriptFile_) {
      const std::string label = "COM" + std::to_string(m->ComNumber());
      m->transcript_.SetSink([this, label](const TranscriptEntry& e) {
        std::lock_guard<std::mutex> lock(fileMutex_);
        std::fprintf(transcriptFile_, "%s\n", Transcript::Format(e, label).c_str());
        std::fflush(transcriptFile_);
      });
    }
    modems_.push_back(std::move(m));
  }
  // Lines are made before the thread runs, so a failure throws here cleanly.
  for (auto& m : modems_) {
    std::string error;
    if (!m->Plug(error)) {
      for (auto& made : modems_) made->Unplug(-1);
      ::close(inotifyFd_);
      if (transcriptFile_) std::fclose(transcriptFile_);
      throw std::runtime_error("COM" + std::to_string(m->ComNumber()) + ": " + error);
    }
  }
  loop_.Watch(inotifyFd_, POLLIN, [this](short) { OnInotify(); });
  loop_.Start();
}

ModemBank::~ModemBank() {
  loop_.Stop();
  for (auto& m : modems_) m->Unplug(-1);
  for (auto& m : modems_) m->transcript_.SetSink(nullptr);
  modems_.clear();
  ::close(inotifyFd_);
  if (transcriptFile_) std::fclose(transcriptFile_);
}

void ModemBank::OnInotify() {
  char buf[4096];
  while (::read(inotifyFd_, buf, sizeof buf) > 0) {
  }
  for (auto& m : modems_) m->CheckHost();
}

Modem& ModemBank::At(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("no modem " + std::to_string(index));
  return *modems_[static_cast<size_t>(index)];
}

Modem* ModemBank::ByCom(int comNumber) {
  for (auto& m : modems_)
    if (m->ComNumber() == comNumber) return m.get();
  return nullptr;
}

}  // namespace modemsim
