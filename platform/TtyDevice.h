#pragma once
// The Linux tty calls the serial device layer needs, and nothing else: open
// exclusively, line settings on termios (termios2 for rates without a B-code),
// modem lines, error counters, queue counts, flush, RS485. Every call returns
// 0 or an errno value; the device layer translates errno (SysError.h). Safe to
// call from any thread on a descriptor that stays open meanwhile.
#include <cstdint>

namespace platform {

// Line settings in our own terms (no termios outside TtyDevice.cpp).
struct TtyLine {
  uint32_t rate = 9600;      // bits per second; 0 is refused (B0 would hang up)
  uint8_t dataBits = 8;      // 5..8
  uint8_t parity = 0;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
  bool extraStopBit = false; // two stop bits (1.5 with 5 data bits)
  bool obeyXoff = false;     // IXON: stop sending on XOFF from the far side
  bool sendXoff = false;     // IXOFF: send XOFF/XON as the input fills/drains
  bool checkParity = false;  // INPCK
  // CRTSCTS: the driver itself holds output while CTS is off (bytes already
  // in the kernel or the adapter included) and drops RTS as its own input
  // buffer fills. It does both or neither: RTS alone, or CTS alone, cannot be
  // asked of it. A driver without hardware flow control may drop the flag;
  // TtySetLine does not count that as a refusal, TtyGetLine shows it.
  bool rtsCtsFlow = false;
  uint8_t xonChar = 17;
  uint8_t xoffChar = 19;
};

// DTR and RTS as the opener wants them. Linux raises both lines when a tty
// whose settings carry a rate is opened (and again when a rate follows B0);
// no open flag prevents that. TtyOpenExclusive puts them to these levels as
// its first act once the device is ours, so the rise lasts only between two
// system calls. A device held by someone else is never touched.
struct TtyOpenLevels {
  bool dtr = false;
  bool rts = false;
};

// Opens path O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, checks that it is a tty
// (ENOTTY when not), takes flock(LOCK_EX|LOCK_NB) (EWOULDBLOCK when someone
// holds it; root ignores TIOCEXCL, so the lock is what keeps a second opener
// out), sets DTR and RTS to levels (failures ignored: pseudo-terminals have
// no modem lines) and TIOCEXCL, then puts the line in raw mode (no echo, no
// canonical input, no CR/LF mapping, no hardware flow control, VMIN 0,
// VTIME 0) with HUPCL, so that a program that dies without closing still
// leaves the modem's lines dropped. On failure nothing stays open and fd is
// -1. What remains: the kernel's own rise at open(2), and, for root, whose
// opens pass TIOCEXCL, that rise on a port another program holds.
int TtyOpenExclusive(const char* path, int& fd, const TtyOpenLevels& levels = {});

// Closes fd. Whatever close() reports, the descriptor is gone afterwards
// (retrying could close a number another thread has just been given), so fd
// is always -1 on return. HUPCL drops DTR and RTS at the last close.
int TtyClose(int& fd);

int TtyGetLine(int fd, TtyLine& line);
// Writes the settings, keeping raw mode, then reads them back: POSIX reports
// success when any part applied, so a value the driver did not take gives
// EINVAL, and the settings read before the write are put back: a refused
// setting leaves the line as it was. Rates within 3% count as taken (a UART
// divisor rarely hits exactly).
int TtySetLine(int fd, const TtyLine& line);

enum TtyModemLine : unsigned { kTtyDtr = 1, kTtyRts = 2 };
int TtySetModemLine(int fd, TtyModemLine which, bool on);

// Modem status in Windows' MS_*_ON layout: CTS 0x10, DSR 0x20, RING 0x40,
// DCD 0x80. Pseudo-terminals have no modem lines and give an error.
int TtyGetModemStatus(int fd, uint32_t& bits);

// The driver's counters (TIOCGICOUNT): line errors, and the transitions of
// the modem lines (a ring counts once per pulse, at its trailing edge).
struct TtyCounters {
  uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
  uint32_t cts = 0, dsr = 0, ring = 0, dcd = 0;
};
int TtyGetCounters(int fd, TtyCounters& counters);

// Waits until CTS, DSR, RI or DCD changes (TIOCMIWAIT): 0 after a change,
// EINTR when TtyWakeWaiter interrupted it, EIO when the line hung up, ENOTTY
// or EINVAL where the driver cannot wait (a pseudo-terminal).
int TtyWaitModemChange(int fd);
// Interrupts a TtyWaitModemChange running on thread (a pthread_t): sends it
// a signal whose handler does nothing, installed once without SA_RESTART.
// A signal that arrives just before the wait begins is lost; callers repeat.
void TtyWakeWaiter(unsigned long thread);
// Installs that handler; call before the first wait.
void TtyPrepareWakeSignal();

int TtyInputQueued(int fd, uint32_t& bytes);
int TtyOutputQueued(int fd, uint32_t& bytes);
int TtyFlush(int fd, bool input);
int TtySetRS485(int fd, bool on);

// The c_cflag bits (size, parity, stop bits) TtySetLine writes for a line;
// lets tests compare against a tty's termios without driver quirks.
uint32_t TtyFrameFlags(const TtyLine& line);

}  // namespace platform
