#pragma once
// The text files the trace and the dispatch log are dumped into.
//
// What a caller may rely on:
//  - A relative name is taken from the program's own directory (the
//    directory of the running executable), as the operator expects of
//    "SERIAL.TRC" beside the program; an absolute name is used as it stands.
//  - Lines end in CR LF, as the dumps have always been read on the other
//    side of the serial cable.
//  - Errors are Windows error numbers (platform/SysError.h): 3 when the
//    directory is missing, 5 when writing is refused, ... The first error
//    sticks; later writes then do nothing, so a caller may write on and ask
//    once at the end.
//  - Not thread-safe; the dumps run under the dispatcher's GeneralLock.
#include <cstdio>
#include <string>
#include <string_view>

namespace serial {

// How a dump shows one byte; its width is the text's length.
//  allHex: "[" two upper-case hex digits "]" for every byte.
//  otherwise a printable byte stands for itself: from blank to "~" when hex
//  is off, from "!" to "~" when it is on (a blank then shows as [20]); any
//  other byte is "[" two hex digits "]" with hex on, "[" decimal "]" with
//  hex off.
std::string DumpByteItem(unsigned char value, bool hex, bool allHex);

// The directory of the running program, without a trailing slash.
std::string ProgramDirectory();
// name resolved as described above; empty stays empty.
std::string ResolveDumpPath(const std::string& name);

class TDumpFile {
 public:
  TDumpFile() = default;
  ~TDumpFile();
  TDumpFile(const TDumpFile&) = delete;
  TDumpFile& operator=(const TDumpFile&) = delete;

  // Appends to an existing file when append is set, else creates or
  // truncates it. Returns 0 or the error number.
  unsigned long Open(const std::string& name, bool append);
  void Write(std::string_view text);
  void LineBreak() { Write("\r\n"); }
  // Hands what has been written to the system at once, so that a dump
  // interrupted by a crash still shows everything up to the last item.
  void Flush();
  // Closes the file; returns the first error of the whole write, 0 if none.
  unsigned long Close();
  unsigned long Error() const { return error_; }

 private:
  void Fail(int err);

  std::FILE* file_ = nullptr;
  unsigned long error_ = 0;
  char buffer_[512];
};

}  // namespace serial
