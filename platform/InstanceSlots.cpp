#include "InstanceSlots.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace platform {
namespace {

// A folder we made or found for our own use: a real directory, ours, closed
// to everyone else. Anything else could be a trap laid by another user.
bool IsPrivateFolder(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

bool MakePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return IsPrivateFolder(path);
}

std::string RuntimeBase() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && xdg[0] == '/' && IsPrivateFolder(xdg)) return xdg;
  std::string tmp = "/tmp/corvane-" + std::to_string(::getuid());
  return MakePrivateFolder(tmp) ? tmp : std::string();
}

// A folder name for a key of any length: socket paths have to stay under
// about 100 bytes, so the key's tail (the program's name, readable in a
// listing) is joined with a hash of the whole key (what keeps keys apart).
std::string FolderNameFor(const std::string& key) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : key) h = (h ^ c) * 1099511628211ull;
  std::string tail = key.size() > 20 ? key.substr(key.size() - 20) : key;
  for (char& c : tail) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                 c == '_' || c == '-';
    if (!plain) c = '_';
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return tail + "-" + hex;
}

std::string SlotLockPath(const std::string& folder, unsigned slot) {
  return folder + "/slot-" + std::to_string(slot) + ".lock";
}

std::string LastRecordPath(const std::string& folder) { return folder + "/last"; }

}  // namespace

std::string OwnProgramPath() {
  std::string path(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return std::string();
  path.resize(std::size_t(n));
  static const std::string kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
    path.resize(path.size() - kDeleted.size());
  return path;
}

std::string InstanceKey(std::string_view programPath) {
  std::string key;
  for (char c : programPath)
    if (c != '/' && c != '\\' && c != ' ') key += c;
  return key;
}

// ---------------------------------------------------------------- slot

InstanceSlot::~InstanceSlot() { Release(); }

InstanceSlot::InstanceSlot(InstanceSlot&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), number_(other.number_), folder_(std::move(other.folder_)) {}

InstanceSlot& InstanceSlot::operator=(InstanceSlot&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
    number_ = other.number_;
    folder_ = std::move(other.folder_);
  }
  return *this;
}

void InstanceSlot::Release() noexcept {
  // Closing the only descriptor of the lock file drops the lock. The file
  // stays: removing it would let a copy lock a name that is already gone.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string InstanceSlot::FolderFor(const std::string& key) {
  std::string base = RuntimeBase();
  if (base.empty()) return std::string();
  std::string top = base + "/corvane";
  if (!MakePrivateFolder(top)) return std::string();
  std::string folder = top + "/" + FolderNameFor(key);
  return MakePrivateFolder(folder) ? folder : std::string();
}

InstanceSlot::Outcome InstanceSlot::Take(const std::string& key, unsigned slots, InstanceSlot& out) {
  out.Release();
  std::string folder = FolderFor(key);
  if (folder.empty()) return Outcome::Unavailable;
  if (slots == 0) slots = 1;
  for (unsigned n = 0; n < slots; ++n) {
    int fd = ::open(SlotLockPath(folder, n).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Outcome::Unavailable;
    int rc;
    do rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) {
      out.fd_ = fd;
      out.number_ = n;
      out.folder_ = folder;
      return Outcome::Taken;
    }
    int err = errno;
    ::close(fd);
    if (err != EWOULDBLOCK) return Outcome::Unavailable;
  }
  return Outcome::AllTaken;
}

std::string InstanceSlot::SocketPath(const std::string& folder, unsigned slot) {
  return folder + "/slot-" + std::to_string(slot) + ".sock";
}

void InstanceSlot::RecordAsLast() const {
  if (!Held()) return;
  // Written aside and renamed over, so a reader never sees half a record.
  std::string tmp = LastRecordPath(folder_) + ".tmp-" + std::to_string(::getpid());
  std::FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) return;
  bool ok = std::fprintf(f, "%u %ld\n", number_, static_cast<long>(::getpid())) > 0;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), LastRecordPath(folder_).c_str()) != 0) std::remove(tmp.c_str());
}

std::optional<InstanceRecord> InstanceSlot::ReadLast(const std::string& folder) {
  std::FILE* f = std::fopen(LastRecordPath(folder).c_str(), "r");
  if (!f) return std::nullopt;
  unsigned slot = 0;
  long pid = 0;
  int got = std::fscanf(f, "%u %ld", &slot, &pid);
  std::fclose(f);
  if (got != 2 || pid <= 0) return std::nullopt;
  return InstanceRecord{slot, static_cast<std::uint32_t>(pid)};
}

}  // namespace platform
