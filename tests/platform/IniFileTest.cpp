// The INI layer against real files in a private temporary folder.
#include "IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "Files.h"

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

}  // namespace
