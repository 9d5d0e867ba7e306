#include "IniFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

namespace platform {
namespace {

std::atomic<testing::BeforeReplaceHook> gBeforeReplace{nullptr};
std::atomic<IniNoticeHandler> gNoticeHandler{nullptr};

// The operator hears of a refused file once, however often the program opens
// it (the console reads its main file at start and again to save it).
void NoticeRefusal(const std::string& path, const std::string& text) {
  static std::mutex mutex;
  static std::set<std::string> told;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!told.insert(path).second) return;
  }
  if (IniNoticeHandler h = gNoticeHandler.load()) h(text);
  else std::fprintf(stderr, "%s\n", text.c_str());
}

// ".<name>.tmp-<pid>-<n>": the temporary files the save makes; true with the
// pid when `entry` is one of those for `name`.
bool TemporaryOf(const std::string& entry, const std::string& name, pid_t& pid) {
  const std::string prefix = "." + name + ".tmp-";
  if (entry.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string rest = entry.substr(prefix.size());
  const std::size_t dash = rest.find('-');
  auto digits = [](const std::string& t) {
    return !t.empty() && t.size() <= 9 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (dash == std::string::npos || !digits(rest.substr(0, dash)) || !digits(rest.substr(dash + 1))) return false;
  pid = static_cast<pid_t>(std::stol(rest.substr(0, dash)));
  return pid > 0;
}

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr std::size_t kBomBytes = 3;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool HoldsLineBreakOrNul(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool EnclosedInMatchingQuotes(const std::string& s) {
  return s.size() >= 2 && IsQuote(s.front()) && s.front() == s.back();
}

// "[name]" (the closing bracket may be missing); false for any other line.
bool SectionOf(const std::string& line, std::string& name) {
  std::string t = Trim(line);
  if (t.empty() || t.front() != '[') return false;
  std::size_t close = t.find(']');
  name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// "key=value": the key trimmed, the value raw after the first "=".
bool KeyOf(const std::string& line, std::string& key, std::string& rawValue) {
  std::string t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return false;
  std::size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(t.substr(0, eq));
  rawValue = t.substr(eq + 1);
  return !key.empty();
}

std::string DecodeValue(const std::string& raw) {
  std::string v = Trim(raw);
  if (EnclosedInMatchingQuotes(v)) v = v.substr(1, v.size() - 2);
  return v;
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) return path;
  return p.lexically_normal().string();
}

// The file itself when it exists, else a same-named file in other case.
std::string ResolveCase(const std::string& full) {
  struct stat st;
  if (::lstat(full.c_str(), &st) == 0) return full;
  std::filesystem::path p(full);
  std::string dir = p.parent_path().string();
  std::string base = p.filename().string();
  DIR* d = ::opendir(dir.empty() ? "/" : dir.c_str());
  if (!d) return full;
  std::string best;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (SameName(name, base) && (best.empty() || name < best)) best = name;
  }
  ::closedir(d);
  return best.empty() ? full : (p.parent_path() / best).string();
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

void SyncFolder(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // The rename has happened; a folder that refuses fsync still holds the new
  // file, so this is durability only and not reported.
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

void testing::SetBeforeReplaceHook(BeforeReplaceHook hook) noexcept { gBeforeReplace.store(hook); }

IniNoticeHandler SetIniNoticeHandler(IniNoticeHandler handler) noexcept { return gNoticeHandler.exchange(handler); }

TIniFile::TIniFile(const std::string& path) : requested_(Absolute(path)) {
  path_ = ResolveCase(requested_);
  doc_ = Parse(ReadFromDisk(refusal_));
  if (!refusal_.empty()) NoticeRefusal(path_, refusal_);
}

// ---------------------------------------------------------------- reading

bool TIniFile::FindValue(const Document& doc, const std::string& section, const std::string& key,
                         std::string& value) {
  const std::string sec = Trim(section), k = Trim(key);
  bool inSection = false, sectionSeen = false;
  for (const Line& line : doc.lines) {
    std::string name, lineKey, raw;
    if (SectionOf(line.text, name)) {
      if (sectionSeen) break;  // only the first matching section counts
      inSection = !sec.empty() && SameName(name, sec);
      sectionSeen = inSection;
      continue;
    }
    if (inSection && KeyOf(line.text, lineKey, raw) && SameName(lineKey, k)) {
      value = DecodeValue(raw);
      return true;
    }
  }
  return false;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  std::string value = ReadWholeString(section, key, defaultValue);
  if (value.size() > kMaxValueBytes) value.resize(kMaxValueBytes);
  return value;
}

std::string TIniFile::ReadWholeString(const std::string& section, const std::string& key,
                                      const std::string& defaultValue) const {
  std::string value;
  return FindValue(doc_, section, key, value) ? value : defaultValue;
}

bool TIniFile::ParseInteger(const std::string& text, int& out) noexcept {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::uint64_t v = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
      char c = LowerAscii(text[i]);
      int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      v = v * 16 + std::uint64_t(digit);
      if (v > 0xFFFFFFFFull) return false;
    }
    out = static_cast<int>(static_cast<std::uint32_t>(v));
    return true;
  }
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > std::int64_t(INT_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT_MAX || v < INT_MIN) return false;
  out = int(v);
  return true;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const {
  int v;
  return ParseInteger(ReadString(section, key, std::string()), v) ? v : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

// ---------------------------------------------------------------- writing

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  RefuseIfUnwritable(section, key, value);
  Write w{Trim(section), Trim(key), value};
  Apply(doc_, w);
  pending_.push_back(std::move(w));
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::RefuseIfUnwritable(const std::string& section, const std::string& key, const std::string& value) {
  const std::string sec = Trim(section), k = Trim(key);
  // Written raw, any of these would end the line early or read back as a
  // different section, key or comment.
  bool refused = sec.empty() || k.empty() || HoldsLineBreakOrNul(sec) || HoldsLineBreakOrNul(k) ||
                 HoldsLineBreakOrNul(value) || sec.find(']') != std::string::npos ||
                 k.find('=') != std::string::npos || k.front() == ';' || k.front() == '[';
  if (!refused) return;
  UpdateFile();
  RaiseUnableToWrite();
}

std::string TIniFile::EncodeValue(const std::string& value) {
  bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || EnclosedInMatchingQuotes(value));
  return quote ? '"' + value + '"' : value;
}

void TIniFile::Apply(Document& doc, const Write& w) {
  const std::string eol = (!doc.lines.empty() && !doc.lines.front().eol.empty()) ? doc.lines.front().eol : "\r\n";
  const std::string encoded = EncodeValue(w.value);

  std::size_t header = doc.lines.size();  // index of the section's header line
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    std::string name;
    if (SectionOf(doc.lines[i].text, name) && SameName(name, w.section)) {
      header = i;
      break;
    }
  }
  auto insertAt = [&](std::size_t pos, std::string text) {
    if (pos > 0 && doc.lines[pos - 1].eol.empty()) doc.lines[pos - 1].eol = eol;
    doc.lines.insert(doc.lines.begin() + std::ptrdiff_t(pos), Line{std::move(text), eol});
  };
  if (header == doc.lines.size()) {
    insertAt(doc.lines.size(), '[' + w.section + ']');
    insertAt(doc.lines.size(), w.key + '=' + encoded);
    return;
  }
  std::size_t lastKey = header;
  for (std::size_t i = header + 1; i < doc.lines.size(); ++i) {
    std::string name, key, raw;
    if (SectionOf(doc.lines[i].text, name)) break;
    if (!KeyOf(doc.lines[i].text, key, raw)) continue;
    if (SameName(key, w.key)) {
      doc.lines[i].text = key + '=' + encoded;
      return;
    }
    lastKey = i;
  }
  insertAt(lastKey + 1, w.key + '=' + encoded);
}

void TIniFile::UpdateFile() {
  if (pending_.empty()) return;
  path_ = ResolveCase(requested_);
  Document fresh = Parse(ReadFromDisk(refusal_));
  if (!refusal_.empty()) {
    NoticeRefusal(path_, refusal_);
    RaiseUnableToWrite();
  }
  for (const Write& w : pending_)
    if (!WritesBackCut(fresh, w)) Apply(fresh, w);
  const std::string bytes = Serialize(fresh);
  // The next start would refuse the file as a whole and run on defaults.
  if (bytes.size() > kMaxFileBytes)
    throw EIniFileException("Unable to write to " + path_ + ": it would grow past " +
                            std::to_string(kMaxFileBytes >> 20) + " MiB, and so large a file is not read");
  ReplaceOnDisk(bytes);
  doc_ = std::move(fresh);
  pending_.clear();
}

// A read gives at most kMaxValueBytes of a value; a program that writes back
// what it read unchanged would cut the value in the file. The file keeps
// its whole value then.
bool TIniFile::WritesBackCut(const Document& doc, const Write& w) {
  std::string whole;
  return FindValue(doc, w.section, w.key, whole) && whole.size() > kMaxValueBytes &&
         w.value.size() == kMaxValueBytes && whole.compare(0, kMaxValueBytes, w.value) == 0;
}

void TIniFile::RaiseUnableToWrite() const { throw EIniFileException("Unable to write to " + path_); }

// ---------------------------------------------------------------- the file

TIniFile::Document TIniFile::Parse(const std::string& bytes) {
  Document doc;
  std::size_t pos = 0;
  if (bytes.compare(0, kBomBytes, kBom) == 0) {
    doc.bom = true;
    pos = kBomBytes;
  }
  while (pos < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      doc.lines.push_back(Line{bytes.substr(pos), ""});
      break;
    }
    std::string eol = bytes[end] == '\n' ? "\n" : (end + 1 < bytes.size() && bytes[end + 1] == '\n') ? "\r\n" : "\r";
    doc.lines.push_back(Line{bytes.substr(pos, end - pos), eol});
    pos = end + eol.size();
  }
  return doc;
}

std::string TIniFile::Serialize(const Document& doc) {
  std::string out = doc.bom ? std::string(kBom, kBomBytes) : std::string();
  for (const Line& l : doc.lines) out += l.text + l.eol;
  return out;
}

std::string TIniFile::ReadFromDisk(std::string& refusal) const {
  refusal.clear();
  auto refuse = [&](const std::string& why) {
    refusal = path_ + " " + why +
              "; it was not read, the settings it holds take their defaults, and it will not be overwritten.";
    return std::string();
  };
  auto notRegular = [&] { return refuse("is not a regular file"); };
  auto tooLarge = [&] { return refuse("is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB"); };
  auto unreadable = [&](int error) { return refuse("cannot be read (" + std::string(std::strerror(error)) + ")"); };

  // Looked at before it is opened: opening a FIFO waits for a writer, and
  // opening a device can act on it.
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return {};  // missing: the defaults, as the platform gives them
  if (!S_ISREG(st.st_mode)) return notRegular();
  if (std::uint64_t(st.st_size) > kMaxFileBytes) return tooLarge();
  int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno == ENOENT ? std::string() : unreadable(errno);
  std::string bytes;
  int error = 0;
  if (::fstat(fd, &st) != 0) error = errno;
  else if (!S_ISREG(st.st_mode)) error = -1;  // replaced between the look and the open
  char buf[8192];
  while (error == 0 && bytes.size() <= kMaxFileBytes) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    bytes.append(buf, std::size_t(n));
  }
  ::close(fd);
  if (error == -1) return notRegular();
  if (error != 0) return unreadable(error);
  if (bytes.size() > kMaxFileBytes) return tooLarge();  // it grew while being read
  return bytes;
}

void TIniFile::RemoveStaleTemporaries(const std::string& target) const {
  const std::filesystem::path tp(target);
  const std::string name = tp.filename().string();
  DIR* d = ::opendir(tp.parent_path().empty() ? "/" : tp.parent_path().c_str());
  if (!d) return;
  std::vector<std::string> stale;
  while (dirent* e = ::readdir(d)) {
    pid_t pid = 0;
    // A copy that still runs may be in the middle of its own save; only a
    // file whose maker has ended is left over. (A reused pid only delays the
    // removal to a later save.)
    if (TemporaryOf(e->d_name, name, pid) && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH)
      stale.push_back((tp.parent_path() / e->d_name).string());
  }
  ::closedir(d);
  for (const std::string& f : stale) (void)::unlink(f.c_str());
}

void TIniFile::ReplaceOnDisk(const std::string& bytes) const {
  std::string target = path_;
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(target.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  const bool existed = ::stat(target.c_str(), &st) == 0;
  // A read-only file is the operator saying "leave it": the folder's write
  // permission would let the rename replace it, the platform call would not.
  if (existed && (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0)) RaiseUnableToWrite();

  std::filesystem::path tp(target);
  const std::string dir = tp.parent_path().string();
  RemoveStaleTemporaries(target);
  static std::atomic<unsigned> serial{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    tmp = (tp.parent_path() / ("." + tp.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                               std::to_string(serial.fetch_add(1))))
              .string();
    // 0666 so that a new file gets the umask's mode, as any created file would.
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) RaiseUnableToWrite();

  if (existed) (void)!::fchown(fd, st.st_uid, st.st_gid);  // allowed only where we may; else ours
  bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0 && (!existed || ::fchmod(fd, st.st_mode & 07777) == 0);
  ok = (::close(fd) == 0) && ok;
  if (ok) {
    if (testing::BeforeReplaceHook hook = gBeforeReplace.load()) hook();
    ok = ::rename(tmp.c_str(), target.c_str()) == 0;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    RaiseUnableToWrite();
  }
  SyncFolder(dir);
}

// ---------------------------------------------------------------- one-shot calls

std::string GetProfileString(const std::string& path, const std::string& section, const std::string& key,
                             const std::string& defaultValue) {
  return TIniFile(path).ReadString(section, key, defaultValue);
}

void WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  TIniFile ini(path);
  ini.WriteString(section, key, value);
  ini.UpdateFile();
}

}  // namespace platform
