#pragma once
// INI files as the programs' configuration expects them: values by section
// and key, with the caller's default for anything missing.
//
// Reading (ReadString / ReadInteger / ReadBool):
// - A missing file, section or key gives the default. Section and key names
//   match ignoring ASCII case and the blanks around them; the first matching
//   section and, in it, the first matching key win. Comment lines (";") and
//   lines without "=" are never keys.
// - The value is the text after the first "=", blanks trimmed, one pair of
//   enclosing matching quotes (" or ') removed. At most kMaxValueBytes come
//   back (the default is cut the same way); ReadWholeString gives the whole
//   value, for a value the program keeps itself and must not lose the end
//   of (the card-type list). Values are bytes, not text: no encoding is
//   assumed or converted.
// - Integers: decimal with an optional sign, or "0x"/"0X" and 1 to 8 hex
//   digits (0xFFFFFFFF reads as -1); anything else, empty included, or a
//   decimal outside 32 bits gives the default. Booleans: the integer rule
//   with default 1/0, non-zero is true.
// - Lines end in CR LF, LF or a lone CR (files from old editors); each line
//   keeps its own end when the file is written. A UTF-8 byte-order mark is
//   skipped (and kept when the file is written).
// - Only a regular file of at most kMaxFileBytes is read. Anything else in its
//   place (a FIFO, a device or a link to one, a folder), a larger file or one
//   that fails to read is refused: it reads as empty (every value its
//   default), Refusal() says why, and the notice handler gets that text once
//   per path in the process (the operator is told once, however often the
//   file is opened). A refused file is never written: UpdateFile raises and
//   leaves it as it stands, so a file too large to read is not replaced by
//   the few keys of one save.
//
// Writing (WriteString / WriteInteger / WriteBool, then UpdateFile):
// - Writes change this object at once (later reads see them) and are kept as
//   a settings group until UpdateFile. UpdateFile reads the file as it is now
//   on disk, applies the group's writes in order and replaces the file
//   atomically (temporary file in the same folder, fsync, rename, the old
//   file's mode): a failure or a crash leaves the old file whole. Without
//   UpdateFile nothing reaches the disk; the destructor does not save.
// - An existing key's line is replaced in place ("key=value", the key as the
//   file spells it, the line's own line end); every other line stays byte for
//   byte. A missing key goes after the last key of its section, a missing
//   section is appended, a missing file is created (mode 0666 less umask).
//   New lines take the file's line end; a new file gets CR LF.
// - Temporary files that a copy killed during its save left beside the file
//   (".<name>.tmp-<pid>-<n>", <pid> no longer running) are removed by the next
//   save; those of a copy that still runs are left to it.
// - A value cut at reading is never written back cut: a write of exactly the
//   kMaxValueBytes a read gave of a longer value leaves the file's whole
//   value as it stands.
// - A save never writes a file that a read would refuse: a file that would
//   grow past kMaxFileBytes is left as it stands, UpdateFile raises
//   "Unable to write to <full path>: it would grow past 4 MiB, ..." and the
//   group stays pending.
// - Integers are written in decimal, Booleans "1"/"0". A value with leading
//   or trailing blanks, or one that starts and ends with the same quote, is
//   written inside double quotes so that it reads back unchanged.
// - Failures raise EIniFileException "Unable to write to <full path>":
//   from UpdateFile when the file cannot be replaced or was refused at
//   reading (the group stays pending),
//   and from a Write* whose value holds CR, LF or NUL or whose section or key
//   cannot be written as a name (empty; key with "=" or starting with ";" or
//   "["; section with "]"; either with CR, LF or NUL). A refused Write* first
//   saves the writes made before it, as key-by-key profile writes would have
//   left them, then raises; the refused key is not written.
//
// File name: when the named file does not exist, a file whose name differs
// only in ASCII case in the same folder is used instead (files copied from a
// Windows install are often upper case). A symbolic link is followed and its
// target replaced.
//
// Threads: one object belongs to one thread. Two objects (or two processes)
// on one file do not lock each other: the last UpdateFile wins per key.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

class EIniFileException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TIniFile {
 public:
  // The longest value a read returns (a 2048-byte buffer with its NUL).
  static constexpr std::size_t kMaxValueBytes = 2047;
  // The largest file read; real configuration files hold a few KiB.
  static constexpr std::size_t kMaxFileBytes = std::size_t(4) << 20;

  // Reads the file now (a missing or unreadable file reads as empty).
  explicit TIniFile(const std::string& path);

  // Full path of the file used (after the case-insensitive lookup).
  const std::string& FileName() const noexcept { return path_; }
  // Why the file was refused at the last read; "" when it was read or is
  // missing.
  const std::string& Refusal() const noexcept { return refusal_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  std::string ReadWholeString(const std::string& section, const std::string& key,
                              const std::string& defaultValue) const;
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  // Saves the pending writes atomically; nothing to do when none are pending.
  void UpdateFile();
  bool HasPendingWrites() const noexcept { return !pending_.empty(); }

  // The integer rule of ReadInteger on a text already read.
  static bool ParseInteger(const std::string& text, int& out) noexcept;

 private:
  struct Line {
    std::string text;  // without its line end
    std::string eol;   // "\r\n", "\n" or "" (last line without one)
  };
  struct Document {
    bool bom = false;
    std::vector<Line> lines;
  };
  struct Write {
    std::string section, key, value;
  };

  static Document Parse(const std::string& bytes);
  static bool FindValue(const Document& doc, const std::string& section, const std::string& key,
                        std::string& value);
  static bool WritesBackCut(const Document& doc, const Write& w);
  static std::string Serialize(const Document& doc);
  static void Apply(Document& doc, const Write& w);
  static std::string EncodeValue(const std::string& value);

  // The file's bytes; a refusal sets `refusal` (and gives no bytes).
  std::string ReadFromDisk(std::string& refusal) const;
  void RemoveStaleTemporaries(const std::string& target) const;
  void ReplaceOnDisk(const std::string& bytes) const;
  [[noreturn]] void RaiseUnableToWrite() const;
  void RefuseIfUnwritable(const std::string& section, const std::string& key,
                          const std::string& value);

  std::string requested_;  // the path as the caller gave it, made absolute
  std::string path_;
  Document doc_;
  std::string refusal_;
  std::vector<Write> pending_;
};

// One read or one write without keeping an object, as the platform's profile
// calls do it (the write saves at once).
std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& defaultValue);
void WriteProfileString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value);

// Receives the text of a refused file (see Refusal()), once per path in the
// process, on the thread that read it. nullptr (the default): the text goes to
// stderr. Returns the handler it replaces.
using IniNoticeHandler = void (*)(const std::string& text);
IniNoticeHandler SetIniNoticeHandler(IniNoticeHandler handler) noexcept;

namespace testing {
// Called by UpdateFile after the temporary file is complete and synced, just
// before it replaces the old one; tests end the process here to stand for a
// crash. nullptr (the default): nothing is called.
using BeforeReplaceHook = void (*)();
void SetBeforeReplaceHook(BeforeReplaceHook hook) noexcept;
}  // namespace testing

}  // namespace platform
