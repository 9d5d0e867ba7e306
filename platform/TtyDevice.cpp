// termios2 lives in the kernel's headers, which clash with glibc's
// <termios.h>; this file therefore speaks to the tty only through
// TCGETS2/TCSETS2 and never includes <termios.h>.
#include "TtyDevice.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

struct RateCode {
  uint32_t rate;
  tcflag_t code;
};

// Rates with a B-code of their own; any other rate goes out as BOTHER.
constexpr RateCode kRateCodes[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
};

constexpr tcflag_t kFrameMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

int Errno() { return errno ? errno : EIO; }

int GetTermios(int fd, termios2& t) {
  return ::ioctl(fd, TCGETS2, &t) == 0 ? 0 : Errno();
}

int SetTermios(int fd, const termios2& t) {
  return ::ioctl(fd, TCSETS2, &t) == 0 ? 0 : Errno();
}

// Raw mode: the modem dialogue is bytes, not lines; no echo, no signals, no
// CR/LF mapping, and reads return at once with what is there.
void MakeRaw(termios2& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                 IXOFF | IXANY | IMAXBEL | IUCLC | INPCK);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN | ECHOE | ECHOK | ECHOCTL |
                 ECHOKE);
  t.c_cflag &= ~CRTSCTS;
  t.c_cflag |= CREAD | CLOCAL | HUPCL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

void PutRate(termios2& t, uint32_t rate) {
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tcflag_t code = BOTHER;
  for (const RateCode& r : kRateCodes)
    if (r.rate == rate) code = r.code;
  t.c_cflag |= code | (code << IBSHIFT);
  t.c_ispeed = rate;
  t.c_ospeed = rate;
}

void PutLine(termios2& t, const TtyLine& line) {
  MakeRaw(t);
  t.c_cflag = (t.c_cflag & ~kFrameMask) | TtyFrameFlags(line);
  if (line.obeyXoff) t.c_iflag |= IXON;
  if (line.sendXoff) t.c_iflag |= IXOFF;
  if (line.checkParity) t.c_iflag |= INPCK;
  if (line.rtsCtsFlow) t.c_cflag |= CRTSCTS;
  t.c_cc[VSTART] = line.xonChar;
  t.c_cc[VSTOP] = line.xoffChar;
  PutRate(t, line.rate);
}

TtyLine ReadLine(const termios2& t) {
  TtyLine line;
  line.rate = t.c_ospeed;
  switch (t.c_cflag & CSIZE) {
    case CS5: line.dataBits = 5; break;
    case CS6: line.dataBits = 6; break;
    case CS7: line.dataBits = 7; break;
    default: line.dataBits = 8; break;
  }
  if (!(t.c_cflag & PARENB))
    line.parity = 0;
  else if (t.c_cflag & CMSPAR)
    line.parity = (t.c_cflag & PARODD) ? 3 : 4;
  else
    line.parity = (t.c_cflag & PARODD) ? 1 : 2;
  line.extraStopBit = (t.c_cflag & CSTOPB) != 0;
  line.obeyXoff = (t.c_iflag & IXON) != 0;
  line.sendXoff = (t.c_iflag & IXOFF) != 0;
  line.checkParity = (t.c_iflag & INPCK) != 0;
  line.rtsCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  line.xonChar = t.c_cc[VSTART];
  line.xoffChar = t.c_cc[VSTOP];
  return line;
}

bool RateTaken(uint32_t wanted, uint32_t got) {
  const uint64_t diff = wanted > got ? wanted - got : got - wanted;
  return diff * 100 <= static_cast<uint64_t>(wanted) * 3;
}

}  // namespace

uint32_t TtyFrameFlags(const TtyLine& line) {
  tcflag_t f = 0;
  switch (line.dataBits) {
    case 5: f |= CS5; break;
    case 6: f |= CS6; break;
    case 7: f |= CS7; break;
    default: f |= CS8; break;
  }
  switch (line.parity) {
    case 1: f |= PARENB | PARODD; break;
    case 2: f |= PARENB; break;
    case 3: f |= PARENB | CMSPAR | PARODD; break;
    case 4: f |= PARENB | CMSPAR; break;
    default: break;
  }
  if (line.extraStopBit) f |= CSTOPB;
  return f;
}

int TtyOpenExclusive(const char* path, int& fd, const TtyOpenLevels& levels) {
  fd = -1;
  const int d = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (d < 0) return Errno();
  termios2 t;
  if (!::isatty(d) || GetTermios(d, t) != 0) {
    ::close(d);
    return ENOTTY;
  }
  if (::flock(d, LOCK_EX | LOCK_NB) != 0) {
    const int err = Errno();
    ::close(d);
    return err;
  }
  // The device is ours: the lines go where the opener wants them at once.
  TtySetModemLine(d, kTtyDtr, levels.dtr);
  TtySetModemLine(d, kTtyRts, levels.rts);
  ::ioctl(d, TIOCEXCL);  // ignored for root; the flock above is what counts
  MakeRaw(t);
  if (const int err = SetTermios(d, t); err != 0) {
    ::close(d);
    return err;
  }
  fd = d;
  return 0;
}

int TtyClose(int& fd) {
  if (fd < 0) return EBADF;
  ::ioctl(fd, TIOCNXCL);
  const int r = ::close(fd);
  fd = -1;
  return r == 0 ? 0 : Errno();
}

int TtyGetLine(int fd, TtyLine& line) {
  termios2 t;
  if (const int err = GetTermios(fd, t); err != 0) return err;
  line = ReadLine(t);
  return 0;
}

int TtySetLine(int fd, const TtyLine& line) {
  if (line.rate == 0 || line.dataBits < 5 || line.dataBits > 8 || line.parity > 4)
    return EINVAL;
  termios2 before;
  if (const int err = GetTermios(fd, before); err != 0) return err;
  termios2 t = before;
  PutLine(t, line);
  if (const int err = SetTermios(fd, t); err != 0) return err;
  termios2 back;
  int err = GetTermios(fd, back);
  if (err == 0) {
    const TtyLine got = ReadLine(back);
    if ((back.c_cflag & kFrameMask) != (t.c_cflag & kFrameMask) ||
        got.obeyXoff != line.obeyXoff || got.sendXoff != line.sendXoff ||
        got.xonChar != line.xonChar || got.xoffChar != line.xoffChar ||
        !RateTaken(line.rate, got.rate))
      err = EINVAL;
  }
  // The driver took what it could (a rate, the stop bits) and kept the old
  // frame: a modem would be spoken to in a mix of both.
  if (err != 0) SetTermios(fd, before);
  return err;
}

int TtySetModemLine(int fd, TtyModemLine which, bool on) {
  const int bit = which == kTtyDtr ? TIOCM_DTR : TIOCM_RTS;
  return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : Errno();
}

int TtyGetModemStatus(int fd, uint32_t& bits) {
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0) return Errno();
  bits = 0;
  if (lines & TIOCM_CTS) bits |= 0x10;
  if (lines & TIOCM_DSR) bits |= 0x20;
  if (lines & TIOCM_RI) bits |= 0x40;
  if (lines & TIOCM_CD) bits |= 0x80;
  return 0;
}

int TtyGetCounters(int fd, TtyCounters& counters) {
  serial_icounter_struct ic{};
  if (::ioctl(fd, TIOCGICOUNT, &ic) != 0) return Errno();
  counters.frame = static_cast<uint32_t>(ic.frame);
  counters.overrun = static_cast<uint32_t>(ic.overrun);
  counters.parity = static_cast<uint32_t>(ic.parity);
  counters.brk = static_cast<uint32_t>(ic.brk);
  counters.bufOverrun = static_cast<uint32_t>(ic.buf_overrun);
  counters.cts = static_cast<uint32_t>(ic.cts);
  counters.dsr = static_cast<uint32_t>(ic.dsr);
  counters.ring = static_cast<uint32_t>(ic.rng);
  counters.dcd = static_cast<uint32_t>(ic.dcd);
  return 0;
}

namespace {
// A real-time signal: no other part of the program uses them, and a pending
// one is not merged away by a second.
int WakeSignal() { return SIGRTMIN + 4; }
void IgnoreWake(int) {}
}  // namespace

void TtyPrepareWakeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction sa {};
    sa.sa_handler = IgnoreWake;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the wait must end with EINTR
    ::sigaction(WakeSignal(), &sa, nullptr);
  });
}

int TtyWaitModemChange(int fd) {
  const int mask = TIOCM_RNG | TIOCM_DSR | TIOCM_CD | TIOCM_CTS;
  return ::ioctl(fd, TIOCMIWAIT, mask) == 0 ? 0 : Errno();
}

void TtyWakeWaiter(unsigned long thread) {
  ::pthread_kill(static_cast<pthread_t>(thread), WakeSignal());
}

int TtyInputQueued(int fd, uint32_t& bytes) {
  int n = 0;
  if (::ioctl(fd, TIOCINQ, &n) != 0) return Errno();
  bytes = n > 0 ? static_cast<uint32_t>(n) : 0;
  return 0;
}

int TtyOutputQueued(int fd, uint32_t& bytes) {
  int n = 0;
  if (::ioctl(fd, TIOCOUTQ, &n) != 0) return Errno();
  bytes = n > 0 ? static_cast<uint32_t>(n) : 0;
  return 0;
}

int TtyFlush(int fd, bool input) {
  return ::ioctl(fd, TCFLSH, input ? TCIFLUSH : TCOFLUSH) == 0 ? 0 : Errno();
}

int TtySetRS485(int fd, bool on) {
  serial_rs485 rs{};
  if (::ioctl(fd, TIOCGRS485, &rs) != 0) return Errno();
  if (on)
    rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  else
    rs.flags &= ~SER_RS485_ENABLED;
  return ::ioctl(fd, TIOCSRS485, &rs) == 0 ? 0 : Errno();
}

}  // namespace platform
