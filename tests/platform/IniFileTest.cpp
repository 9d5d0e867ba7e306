// The INI layer against real files in a private temporary folder.
#include "IniFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Files.h"
#include "Sanitizers.h"

namespace fs = std::filesystem;
using platform::EIniFileException;
using platform::TIniFile;

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvane-ini-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }

  std::string PathOf(const std::string& name) const { return (fs::path(dir_) / name).string(); }

  static void Put(const std::string& path, const std::string& bytes) { corvane::testsupport::WriteFile(path, bytes); }
  static std::string Get(const std::string& path) { return corvane::testsupport::ReadFile(path); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
  }

  std::string dir_;
};

// ------------------------------------------------------------------ reading

struct ReadCase {
  const char* rule;
  const char* file;  // nullptr: no file at all
  const char* section;
  const char* key;
  std::string expected;  // with the default "DEF"
};

TEST_F(IniFileTest, ReadsByTheProfileRules) {
  const std::string longValue(3000, 'v');
  const std::string longFile = "[S]\nk=" + longValue + "\n";
  const ReadCase cases[] = {
      {"missing file gives the default", nullptr, "S", "k", "DEF"},
      {"missing section gives the default", "[T]\nk=1\n", "S", "k", "DEF"},
      {"missing key gives the default", "[S]\nj=1\n", "S", "k", "DEF"},
      {"section name ignores case", "[corvane_v4]\nk=1\n", "Corvane_V4", "k", "1"},
      {"key name ignores case", "[S]\nHP1_Baud=9600\n", "S", "hp1_baud", "9600"},
      {"blanks around the section name", "[  S  ]\nk=1\n", "S", "k", "1"},
      {"blanks around key, = and value", "[S]\n  k  =  v w  \n", "S", "k", "v w"},
      {"tabs count as blanks", "[S]\n\tk\t=\tv\t\n", "S", "k", "v"},
      {"caller's names are trimmed too", "[S]\nk=1\n", " S ", " k ", "1"},
      {"first matching key wins", "[S]\nk=first\nk=second\n", "S", "k", "first"},
      {"first matching section wins", "[S]\nj=1\n[s]\nk=2\n", "S", "k", "DEF"},
      {"a key of another section is not seen", "[S]\nj=1\n[T]\nk=2\n", "S", "k", "DEF"},
      {"key names match whole", "[S]\nk2=1\n", "S", "k", "DEF"},
      {"value is the text after the first =", "[S]\nk=a=b\n", "S", "k", "a=b"},
      {"enclosing double quotes go", "[S]\nk=\"  x  \"\n", "S", "k", "  x  "},
      {"enclosing single quotes go", "[S]\nk='x'\n", "S", "k", "x"},
      {"only one pair of quotes goes", "[S]\nk=\"\"x\"\"\n", "S", "k", "\"x\""},
      {"quotes that do not match stay", "[S]\nk=\"x'\n", "S", "k", "\"x'"},
      {"a lone quote stays", "[S]\nk=\"\n", "S", "k", "\""},
      {"quotes inside stay", "[S]\nk=a \"b\" c\n", "S", "k", "a \"b\" c"},
      {"a present key with no value is empty", "[S]\nk=\n", "S", "k", ""},
      {"a present key with blanks only is empty", "[S]\nk=   \n", "S", "k", ""},
      {"CR LF line ends", "[S]\r\nk=v\r\nj=w\r\n", "S", "k", "v"},
      {"LF line ends", "[S]\nk=v\nj=w\n", "S", "j", "w"},
      {"last line without a line end", "[S]\nk=v", "S", "k", "v"},
      {"UTF-8 byte-order mark skipped", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", "v"},
      {"comment lines never match", "[S]\n;k=v\n", "S", "k", "DEF"},
      {"indented comment lines never match", "[S]\n  ;k=v\n", "S", "k", "DEF"},
      {"a section name can be a comment's text", "; [S]\nk=v\n", "S", "k", "DEF"},
      {"keys before any section belong to none", "k=v\n[S]\n", "S", "k", "DEF"},
      {"a line without = is no key", "[S]\nk\n", "S", "k", "DEF"},
      {"bytes are kept as they are", "[S]\nk=\xA0\xFF\x01\n", "S", "k", "\xA0\xFF\x01"},
      {"at most 2047 bytes come back", longFile.c_str(), "S", "k", longValue.substr(0, 2047)},
  };
  const std::string path = PathOf("read.ini");
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.rule);
    fs::remove(path);
    if (c.file) Put(path, c.file);
    EXPECT_EQ(TIniFile(path).ReadString(c.section, c.key, "DEF"), c.expected);
    EXPECT_EQ(platform::GetProfileString(path, c.section, c.key, "DEF"), c.expected);
  }
}

TEST_F(IniFileTest, ReadsIntegersAndBooleans) {
  struct IntCase {
    const char* text;  // nullptr: key missing
    int expected;      // with default 77
  };
  const IntCase ints[] = {
      {"115200", 115200}, {"-5", -5},         {"+7", 7},           {"0x1C200", 115200},
      {"0X1c200", 115200}, {"0xFFFFFFFF", -1}, {"0x100000000", 77}, {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN}, {"2147483648", 77}, {"abc", 77},    {"COM", 77},
      {"", 77},           {"12abc", 77},      {"1.5", 77},         {"0x", 77},
      {"0xG1", 77},       {"-", 77},          {"- 5", 77},         {nullptr, 77},
  };
  std::string file = "[S]\n";
  for (std::size_t i = 0; i < std::size(ints); ++i)
    if (ints[i].text) file += "k" + std::to_string(i) + " = " + ints[i].text + " \n";
  Put(PathOf("n.ini"), file);
  TIniFile ini(PathOf("n.ini"));
  for (std::size_t i = 0; i < std::size(ints); ++i) {
    SCOPED_TRACE(ints[i].text ? ints[i].text : "(missing)");
    EXPECT_EQ(ini.ReadInteger("S", "k" + std::to_string(i), 77), ints[i].expected);
  }

  struct BoolCase {
    const char* text;
    bool defaultValue;
    bool expected;
  };
  const BoolCase bools[] = {
      {"1", false, true},  {"0", true, false},  {"2", false, true}, {"-1", false, true},
      {"abc", true, true}, {"abc", false, false}, {"", true, true},  {nullptr, true, true},
      {nullptr, false, false},
  };
  file = "[S]\n";
  for (std::size_t i = 0; i < std::size(bools); ++i)
    if (bools[i].text) file += "b" + std::to_string(i) + "=" + bools[i].text + "\n";
  Put(PathOf("b.ini"), file);
  TIniFile bini(PathOf("b.ini"));
  for (std::size_t i = 0; i < std::size(bools); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bini.ReadBool("S", "b" + std::to_string(i), bools[i].defaultValue), bools[i].expected);
  }
}

// ------------------------------------------------------------------ writing

struct WriteCase {
  const char* rule;
  const char* before;  // nullptr: no file
  std::vector<std::vector<std::string>> writes;  // {section, key, value}
  std::string after;
};

TEST_F(IniFileTest, WritesInPlaceAndKeepsEveryOtherLine) {
  const std::string windows =
      "\xEF\xBB\xBF; Corvane settings\r\n"
      "[Corvane_V4]\r\n"
      "  hp1_baud = 9600 \r\n"
      "; lines\r\n"
      "kartuaktif=1\r\n"
      "odd line\r\n"
      "\r\n"
      "[DATA]\r\n"
      "x=1\r\n";
  const WriteCase cases[] = {
      {"existing key replaced in place, spelt as in the file",
       windows.c_str(),
       {{"corvane_v4", "HP1_BAUD", "115200"}},
       "\xEF\xBB\xBF; Corvane settings\r\n[Corvane_V4]\r\nhp1_baud=115200\r\n; lines\r\nkartuaktif=1\r\n"
       "odd line\r\n\r\n[DATA]\r\nx=1\r\n"},
      {"missing key goes after the last key of its section",
       windows.c_str(),
       {{"Corvane_V4", "MAXDELAY", "2000"}},
       "\xEF\xBB\xBF; Corvane settings\r\n[Corvane_V4]\r\n  hp1_baud = 9600 \r\n; lines\r\nkartuaktif=1\r\n"
       "MAXDELAY=2000\r\nodd line\r\n\r\n[DATA]\r\nx=1\r\n"},
      {"missing section is appended",
       windows.c_str(),
       {{"LAINLAIN", "cekpulsa", "*888#"}},
       windows + "[LAINLAIN]\r\ncekpulsa=*888#\r\n"},
      {"missing file is created with CR LF", nullptr, {{"S", "k", "v"}, {"S", "j", "w"}}, "[S]\r\nk=v\r\nj=w\r\n"},
      {"an LF file gets LF lines", "[S]\nk=1\n", {{"S", "j", "2"}, {"T", "m", "3"}}, "[S]\nk=1\nj=2\n[T]\nm=3\n"},
      {"a last line without line end gets one", "[S]\nk=1", {{"S", "j", "2"}}, "[S]\nk=1\nj=2\n"},
      {"a section without keys gets its key under the header",
       "[S]\n; nothing yet\n[T]\n",
       {{"S", "k", "v"}},
       "[S]\nk=v\n; nothing yet\n[T]\n"},
      {"only the first of two equal keys is replaced", "[S]\nk=1\nk=2\n", {{"S", "k", "3"}}, "[S]\nk=3\nk=2\n"},
      {"values that would not read back are quoted",
       "[S]\n",
       {{"S", "a", " lead"}, {"S", "b", "trail "}, {"S", "c", "\"q\""}, {"S", "d", "'q'"}, {"S", "e", ""}},
       "[S]\na=\" lead\"\nb=\"trail \"\nc=\"\"q\"\"\nd=\"'q'\"\ne=\n"},
  };
  const std::string path = PathOf("w.ini");
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.rule);
    fs::remove(path);
    if (c.before) Put(path, c.before);
    TIniFile ini(path);
    for (const auto& w : c.writes) ini.WriteString(w[0], w[1], w[2]);
    EXPECT_EQ(Get(path), c.before ? std::string(c.before) : std::string()) << "nothing reaches disk before UpdateFile";
    ini.UpdateFile();
    EXPECT_EQ(Get(path), c.after);
  }
}

TEST_F(IniFileTest, IntegersAndBooleansAreWrittenAsTheyAreRead) {
  const std::string path = PathOf("nb.ini");
  TIniFile ini(path);
  ini.WriteInteger("S", "i", -115200);
  ini.WriteBool("S", "t", true);
  ini.WriteBool("S", "f", false);
  EXPECT_EQ(ini.ReadInteger("S", "i", 0), -115200) << "reads see the object's own writes";
  ini.UpdateFile();
  EXPECT_EQ(Get(path), "[S]\r\ni=-115200\r\nt=1\r\nf=0\r\n");
}

TEST_F(IniFileTest, AwkwardValuesRoundTrip) {
  const std::vector<std::string> values = {
      "", " ", "  lead", "trail  ", "\"quoted\"", "'single'", "\"", "\"\"", "'", "x\"", "\"x", " \"both\" ",
      "a=b", "=", ";not a comment", "[not a section]", "tab\tinside", "\tlead tab", "#hash", "\xA0\xFF\x7F",
      "%s%n", std::string(2047, 'w'), "a \"b\" c",
  };
  const std::string path = PathOf("rt.ini");
  {
    TIniFile ini(path);
    for (std::size_t i = 0; i < values.size(); ++i) ini.WriteString("S", "k" + std::to_string(i), values[i]);
    ini.UpdateFile();
  }
  TIniFile back(path);
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE("value " + std::to_string(i));
    EXPECT_EQ(back.ReadString("S", "k" + std::to_string(i), "DEF"), values[i]);
  }
}

TEST_F(IniFileTest, RefusedWritesRaiseAndKeepEarlierKeys) {
  const std::string path = PathOf("refuse.ini");
  const std::string full = fs::path(path).lexically_normal().string();
  struct Refused {
    const char* why;
    std::string section, key, value;
  };
  const Refused cases[] = {
      {"CR in value", "S", "k", "a\rb"},
      {"LF in value", "S", "k", "a\nb"},
      {"NUL in value", "S", "k", std::string("a\0b", 3)},
      {"CR LF injecting a section", "S", "k", "x\r\n[Corvane_V4]\r\nhp1_baud=1"},
      {"empty key", "S", "", "v"},
      {"key with =", "S", "a=b", "v"},
      {"key starting with ;", "S", ";k", "v"},
      {"key starting with [", "S", "[k", "v"},
      {"empty section", "", "k", "v"},
      {"section with ]", "S]", "k", "v"},
      {"section with LF", "S\nT", "k", "v"},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.why);
    fs::remove(path);
    TIniFile ini(path);
    ini.WriteString("S", "before", "1");
    try {
      ini.WriteString(c.section, c.key, c.value);
      ADD_FAILURE() << "no exception";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + full);
    }
    EXPECT_EQ(Get(path), "[S]\r\nbefore=1\r\n") << "earlier keys stay written, the refused one is not";
  }
}

// ------------------------------------------------------------------ the file

TEST_F(IniFileTest, UnwritableTargetsRaiseAndLeaveTheOldFile) {
  fs::create_directory(PathOf("ro"));
  Put(PathOf("ro/Corvane_v4.ini"), "[S]\nk=old\n");
  fs::permissions(PathOf("ro"), fs::perms::owner_read | fs::perms::owner_exec);
  // Root writes through folder modes; a folder of the kernel's refuses it too.
  const bool modesBind = ::access(PathOf("ro").c_str(), W_OK) != 0;
  fs::create_directory(PathOf("Corvane_v4.ini"));  // a folder where the file should be

  struct Target {
    const char* why;
    std::string path;
    bool oldFileStays;
  };
  std::vector<Target> targets = {
      {"folder missing", PathOf("no/such/folder/x.ini"), false},
      {"a folder in the file's place", PathOf("Corvane_v4.ini"), false},
      {"a kernel folder", "/proc/corvane-test.ini", false},
  };
  if (modesBind) {
    targets.push_back({"read-only folder", PathOf("ro/Corvane_v4.ini"), true});
    Put(PathOf("readonly.ini"), "[S]\nk=old\n");
    ::chmod(PathOf("readonly.ini").c_str(), 0444);
    targets.push_back({"read-only file", PathOf("readonly.ini"), true});
  }
  for (const Target& t : targets) {
    SCOPED_TRACE(t.why);
    TIniFile ini(t.path);
    ini.WriteString("S", "k", "new");
    try {
      ini.UpdateFile();
      ADD_FAILURE() << "no exception";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + t.path);
    }
    EXPECT_TRUE(ini.HasPendingWrites());
    if (t.oldFileStays) {
      EXPECT_EQ(Get(t.path), "[S]\nk=old\n");
    }
  }
  fs::permissions(PathOf("ro"), fs::perms::owner_all);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(PathOf("ro"))) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"Corvane_v4.ini"}) << "no temporary file left";
}

TEST_F(IniFileTest, CrashBeforeTheRenameLeavesTheOldFileWhole) {
  const std::string path = PathOf("Corvane_v4.ini");
  const std::string old = "[Corvane_V4]\r\nhp1_baud=9600\r\nKARTU=A;B;\r\n";
  Put(path, old);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TIniFile ini(path);
    ini.WriteInteger("Corvane_V4", "hp1_baud", 115200);
    ini.WriteString("Corvane_V4", "KARTU", std::string(5000, 'x'));
    platform::testing::SetBeforeReplaceHook([] { ::_exit(42); });
    ini.UpdateFile();
    ::_exit(0);  // not reached when the hook ran
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 42) << "the crash happened inside UpdateFile";
  EXPECT_EQ(Get(path), old);
  EXPECT_EQ(TIniFile(path).ReadInteger("Corvane_V4", "hp1_baud", 0), 9600);
}

TEST_F(IniFileTest, SaveKeepsTheFileModeAndNewFilesFollowTheUmask) {
  const std::string path = PathOf("mode.ini");
  Put(path, "[S]\nk=1\n");
  ::chmod(path.c_str(), 0640);
  TIniFile ini(path);
  ini.WriteString("S", "k", "2");
  ini.UpdateFile();
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  const mode_t mask = ::umask(027);
  platform::WriteProfileString(PathOf("new.ini"), "S", "k", "v");
  ::umask(mask);
  ASSERT_EQ(::stat(PathOf("new.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniFileTest, FileNameIsFoundIgnoringCase) {
  Put(PathOf("CORVANE_V4.INI"), "[Corvane_V4]\r\nhp1_baud=9600\r\n");
  TIniFile ini(PathOf("Corvane_v4.ini"));
  EXPECT_EQ(ini.FileName(), PathOf("CORVANE_V4.INI"));
  EXPECT_EQ(ini.ReadInteger("Corvane_V4", "hp1_baud", 0), 9600);
  ini.WriteInteger("Corvane_V4", "hp1_baud", 115200);
  ini.UpdateFile();
  EXPECT_EQ(Entries(), std::vector<std::string>{"CORVANE_V4.INI"});
  EXPECT_EQ(Get(PathOf("CORVANE_V4.INI")), "[Corvane_V4]\r\nhp1_baud=115200\r\n");
}

TEST_F(IniFileTest, SymbolicLinkKeepsPointingAtTheSavedFile) {
  fs::create_directory(PathOf("real"));
  Put(PathOf("real/a.ini"), "[S]\nk=1\n");
  fs::create_symlink(PathOf("real/a.ini"), PathOf("link.ini"));
  platform::WriteProfileString(PathOf("link.ini"), "S", "k", "2");
  EXPECT_TRUE(fs::is_symlink(PathOf("link.ini")));
  EXPECT_EQ(Get(PathOf("real/a.ini")), "[S]\nk=2\n");
}

TEST_F(IniFileTest, SaveMergesWithWhatOthersWroteMeanwhile) {
  const std::string path = PathOf("shared.ini");
  Put(path, "[S]\na=1\nb=1\n");
  TIniFile mine(path);
  platform::WriteProfileString(path, "S", "b", "other");  // another copy, after we read
  mine.WriteString("S", "a", "mine");
  mine.UpdateFile();
  EXPECT_EQ(Get(path), "[S]\na=mine\nb=other\n");
}

// ------------------------------------------------------------------ refused files

constexpr bool kSanitized = corvane::testsupport::kUnderSanitizer;

// Runs body in a child process bounded in time (and, where no sanitizer needs
// the address space, in memory), so that a read that hangs or swallows a
// device fails the test instead of the machine. The child's exit code is
// body's result; a child that had to be stopped gives -1.
int RunBounded(const std::function<int()>& body) {
  pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    ::alarm(20);
    if (!kSanitized) {
      rlimit limit{std::size_t(1) << 30, std::size_t(1) << 30};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    int rc = 99;
    try {
      rc = body();
    } catch (...) {
      rc = 98;
    }
    ::_exit(rc);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::vector<std::string>& Notices() {
  static std::vector<std::string> notices;
  return notices;
}
void RecordNotice(const std::string& text) { Notices().push_back(text); }

TEST_F(IniFileTest, RefusesWhatIsNotARegularFileOrTooLarge) {
  ASSERT_EQ(::mkfifo(PathOf("fifo.ini").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", PathOf("zero.ini"));
  fs::create_directory(PathOf("folder.ini"));
  const std::string big = "[S]\nk=1\n" + std::string(TIniFile::kMaxFileBytes, ';') + "\n";
  Put(PathOf("big.ini"), big);
  const std::string justFits = "[S]\nk=1\n" + std::string(TIniFile::kMaxFileBytes - 9, ';') + "\n";
  ASSERT_EQ(justFits.size(), TIniFile::kMaxFileBytes);
  Put(PathOf("fits.ini"), justFits);

  struct Case {
    const char* why;
    std::string name;
    bool refused;
  };
  const Case cases[] = {
      {"a FIFO would hang the read", "fifo.ini", true},
      {"a link to a device would never end", "zero.ini", true},
      {"a folder", "folder.ini", true},
      {"larger than the bound", "big.ini", true},
      {"exactly the bound is still read", "fits.ini", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string path = PathOf(c.name);
    // 1: read as refused with defaults, 2: read normally, 3: anything else.
    const int rc = RunBounded([&] {
      TIniFile ini(path);
      const int k = ini.ReadInteger("S", "k", 77);
      if (c.refused) return (k == 77 && !ini.Refusal().empty()) ? 1 : 3;
      return (k == 1 && ini.Refusal().empty()) ? 2 : 3;
    });
    ASSERT_EQ(rc, c.refused ? 1 : 2);
  }

  const auto previous = platform::SetIniNoticeHandler(&RecordNotice);
  Notices().clear();
  for (const Case& c : cases) {
    if (!c.refused) continue;
    SCOPED_TRACE(c.why);
    const std::string path = PathOf(c.name);
    TIniFile ini(path);
    TIniFile again(path);  // read twice (start and save): still one message
    EXPECT_NE(ini.Refusal().find(path), std::string::npos) << ini.Refusal();
    // A save never replaces what it could not read: the operator's file (or
    // whatever stands there) is left as it was, and the save says so.
    ini.WriteString("S", "k", "2");
    try {
      ini.UpdateFile();
      ADD_FAILURE() << "the refused file was written";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_TRUE(ini.HasPendingWrites());
  }
  platform::SetIniNoticeHandler(previous);
  EXPECT_EQ(Notices().size(), 4u) << "one message per refused file";
  for (const std::string& n : Notices()) EXPECT_NE(n.find("defaults"), std::string::npos) << n;

  EXPECT_EQ(Get(PathOf("big.ini")), big);
  EXPECT_TRUE(fs::is_fifo(PathOf("fifo.ini")));
  EXPECT_EQ(fs::read_symlink(PathOf("zero.ini")), "/dev/zero");
  EXPECT_TRUE(fs::is_directory(PathOf("folder.ini")));
  std::vector<std::string> names = Entries();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"big.ini", "fifo.ini", "fits.ini", "folder.ini", "zero.ini"}))
      << "no temporary file left";
}

// A file just under the bound that a save would grow past it: the next
// start would refuse it for good, so the save is refused and the file stays.
TEST_F(IniFileTest, ASaveNeverWritesAFileTooLargeToRead) {
  const std::string path = PathOf("near.ini");
  const std::string head = "[S]\nk=1\n";
  const std::string near = head + std::string(TIniFile::kMaxFileBytes - head.size() - 4, ';') + "\n";
  Put(path, near);
  const struct {
    const char* why;
    std::string value;
    bool saved;
  } cases[] = {
      {"the same size", "2", true},
      {"up to the bound", "1234", true},
      {"past the bound", "12345", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Put(path, near);
    TIniFile ini(path);
    ini.WriteString("S", "k", c.value);
    if (c.saved) {
      ini.UpdateFile();
      EXPECT_EQ(TIniFile(path).ReadString("S", "k", ""), c.value);
      EXPECT_TRUE(TIniFile(path).Refusal().empty());
      continue;
    }
    try {
      ini.UpdateFile();
      ADD_FAILURE() << "a file too large to read was written";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(std::string(e.what()),
                "Unable to write to " + path + ": it would grow past 4 MiB, and so large a file is not read");
    }
    EXPECT_TRUE(ini.HasPendingWrites());
    EXPECT_EQ(Get(path), near);
  }
}

// A value longer than a read gives: written back as it was read, the file
// keeps it whole; any other value is written.
TEST_F(IniFileTest, AValueCutAtReadingIsNeverWrittenBackCut) {
  const std::string path = PathOf("long.ini");
  std::string whole;
  for (int i = 0; whole.size() <= TIniFile::kMaxValueBytes + 500; ++i) whole += "Kartu" + std::to_string(i) + ";";
  Put(path, "[S]\r\nlist=" + whole + "\r\nk=1\r\n");
  {
    TIniFile ini(path);
    const std::string read = ini.ReadString("S", "list", "");
    ASSERT_EQ(read.size(), TIniFile::kMaxValueBytes);
    EXPECT_EQ(ini.ReadWholeString("S", "list", ""), whole);
    ini.WriteString("S", "list", read);
    ini.WriteString("S", "k", "2");
    ini.UpdateFile();
  }
  EXPECT_EQ(TIniFile(path).ReadWholeString("S", "list", ""), whole);
  EXPECT_EQ(TIniFile(path).ReadString("S", "k", ""), "2");
  {
    TIniFile ini(path);
    ini.WriteString("S", "list", "A;B;");
    ini.UpdateFile();
  }
  EXPECT_EQ(TIniFile(path).ReadWholeString("S", "list", ""), "A;B;");
}

TEST_F(IniFileTest, SaveRemovesTemporaryFilesOfCopiesThatDied) {
  const std::string path = PathOf("Corvane_v4.ini");
  Put(path, "[S]\r\nk=1\r\n");
  // A process that has ended (and been reaped) stands for a copy killed
  // during its save; a paused child for a copy saving at this moment.
  pid_t dead = ::fork();
  ASSERT_GE(dead, 0);
  if (dead == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
  pid_t live = ::fork();
  ASSERT_GE(live, 0);
  if (live == 0) {
    ::pause();
    ::_exit(0);
  }
  const std::string d = std::to_string(dead), l = std::to_string(live);
  const std::map<std::string, bool> tmpFiles = {  // name -> removed by the save
      {".Corvane_v4.ini.tmp-" + d + "-0", true},
      {".Corvane_v4.ini.tmp-" + d + "-7", true},
      {".Corvane_v4.ini.tmp-" + l + "-0", false},    // a live copy's save
      {".other.ini.tmp-" + d + "-0", false},          // another file's
      {".Corvane_v4.ini.tmp-x" + d + "-0", false},    // not a name the save makes
      {".Corvane_v4.ini.tmp-" + d + "-0.bak", false},
  };
  for (const auto& [name, removed] : tmpFiles) Put(PathOf(name), "[S]\r\nk=half");

  platform::WriteProfileString(path, "S", "k", "2");
  ::kill(live, SIGKILL);
  ::waitpid(live, nullptr, 0);

  EXPECT_EQ(Get(path), "[S]\r\nk=2\r\n");
  for (const auto& [name, removed] : tmpFiles) EXPECT_EQ(fs::exists(PathOf(name)), !removed) << name;
}

TEST_F(IniFileTest, CarriageReturnOnlyLineEndsAreLines) {
  const std::string path = PathOf("Corvane_v4.ini");
  Put(path, "[Corvane_V4]\rhp1_baud=9600\rcomport_1=3\r; the operator's note\r[Other]\rx=1\r");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("Corvane_V4", "hp1_baud", 115200), 9600);
  EXPECT_EQ(ini.ReadInteger("Corvane_V4", "comport_1", 8), 3);
  EXPECT_EQ(ini.ReadInteger("Other", "x", 0), 1);
  ini.WriteInteger("Corvane_V4", "hp1_baud", 115200);
  ini.WriteInteger("Corvane_V4", "kartuaktif", 2);
  ini.UpdateFile();
  EXPECT_EQ(Get(path),
            "[Corvane_V4]\rhp1_baud=115200\rcomport_1=3\rkartuaktif=2\r; the operator's note\r[Other]\rx=1\r");
  EXPECT_EQ(TIniFile(path).ReadInteger("Corvane_V4", "comport_1", 8), 3);

  // Mixed ends: each line keeps its own, a CR before CR LF is a line too.
  const std::string mixed = "[S]\r\r\na=1\rb=2\nc=3\r\n";
  Put(path, mixed);
  TIniFile m(path);
  EXPECT_EQ(m.ReadInteger("S", "a", 0), 1);
  EXPECT_EQ(m.ReadInteger("S", "b", 0), 2);
  EXPECT_EQ(m.ReadInteger("S", "c", 0), 3);
  m.WriteInteger("S", "b", 5);
  m.UpdateFile();
  EXPECT_EQ(Get(path), "[S]\r\r\na=1\rb=5\nc=3\r\n");
}

}  // namespace
