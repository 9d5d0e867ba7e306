// strtable: turns the string-table text sources into one C++ source file.
//   strtable --output <file.cpp> <RESOURCE_NAME>=<source.txt> ...
// Fails (exit 1, message on stderr) on any fault in a source, so that a bad
// table stops the build instead of reaching the program.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "StrTable.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw corvane::strtable::TSourceError(path + ": cannot be read");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Writes only when the content changed, so that an unchanged table does not
// rebuild the library.
void WriteIfChanged(const std::string& path, const std::string& content) {
  {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      std::ostringstream s;
      s << in.rdbuf();
      if (s.str() == content) return;
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) throw corvane::strtable::TSourceError(path + ": cannot be written");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace corvane::strtable;
  try {
    std::string output;
    std::vector<TNamedTable> tables;
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--output" && i + 1 < argc) {
        output = argv[++i];
        continue;
      }
      const std::size_t eq = arg.find('=');
      if (eq == std::string::npos || eq == 0)
        throw TSourceError("argument is not NAME=source: " + arg);
      const std::string source = arg.substr(eq + 1);
      tables.push_back({arg.substr(0, eq), EncodeTable(ParseSource(ReadFile(source), source))});
    }
    if (output.empty()) throw TSourceError("usage: strtable --output <file.cpp> NAME=source ...");
    WriteIfChanged(output, EmitCpp(tables));
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "strtable: " << e.what() << "\n";
    return 1;
  }
}
