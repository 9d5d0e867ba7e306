#pragma once
// Test tables in the stored layout, made by the same encoder the build uses,
// and a one-resource module to open them from.
#include <cstdint>
#include <string>
#include <vector>

#include "SerStrings.h"
#include "StrTable.h"

namespace corvane::test {

inline std::vector<std::uint8_t> TableOf(const std::vector<strtable::TEntry>& entries) {
  return strtable::EncodeTable(entries);
}

inline void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// Holds the bytes and the module that names them; keep it alive while a
// table opened from it is in use.
class TOneTableModule {
 public:
  TOneTableModule(std::string name, std::vector<std::uint8_t> bytes)
      : name_(std::move(name)), bytes_(std::move(bytes)) {
    // An empty table still has an address, as an empty resource would.
    static const unsigned char kNoBytes = 0;
    resource_ = {name_.c_str(), bytes_.empty() ? &kNoBytes : bytes_.data(), bytes_.size()};
  }
  TOneTableModule(const TOneTableModule&) = delete;
  TOneTableModule& operator=(const TOneTableModule&) = delete;

  TResourceModule Module() const { return TResourceModule({&resource_, 1}); }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  std::vector<std::uint8_t> bytes_;
  TEmbeddedResource resource_{};
};

}  // namespace corvane::test
