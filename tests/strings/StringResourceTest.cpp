// Reading texts from string tables: the built-in tables, tables that must be
// refused, the UTF-16 conversion and the manager's own messages.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "SerExcept.h"
#include "SerStrings.h"
#include "TableBytes.h"

namespace corvane {
namespace {

using test::PutU32;
using test::TableOf;
using test::TOneTableModule;

std::string ErrorCaught(const std::function<void()>& action) {
  try {
    action();
  } catch (const EStringResourceError& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

TEST(ErrorTable, IsLoadedAtStartUp) {
  ASSERT_NE(ErrorStrings(), nullptr);
  ASSERT_NE(ManagerStrings(), nullptr);
  EXPECT_TRUE(ErrorStrings()->HasTable());
  EXPECT_FALSE(ErrorStrings()->RaiseIfMissing());
}

struct TIdText {
  std::int32_t Id;
  const char* Text;
};

// Texts the layer's messages and dispatch log depend on, word for word.
const TIdText kQuotedTexts[] = {
    {0, "OK"},
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {6, "Invalid file handle"},
    {8, "Insufficient memory"},
    {15, "Invalid drive"},
    {18, "No more files"},
    {100, "Attempt to read beyond end of file"},
    {162, "General failure"},
    {1002, "Bad argument passed to function"},
    {2001, "ie_BadId - Specified comport doesn't exist"},
    {2007, "ie_NOpen - device not open"},
    {2008, "ie_Open - device already open"},
    {2011, "The ComNumber property of the TComPort has not been set"},
    {2012, "Comport was not opened by Tapi"},
    {3001, "No device layer specified"},
    {3004, "Failed to put entire block"},
    {3006, "Output buffer too small for block"},
    {3007, "Buffer is empty"},
    {3010, "Base address not set"},
    {4001, "StartModem has not been called"},
    {4201, "Ready"},
    {4202, "Initializing modem"},
    {5001, "No more trigger slots"},
    {5002, "Data trigger too long"},
    {5003, "Bad trigger handle"},
    {5501, "Start string is empty"},
    {6006, "Fatal time out"},
    {7001, "Key string too long"},
    {13801, "Already allocated"},
    {13930, "No TAPI device selected"},
    {13980, "Failed to find/load RASAPI32.DLL"},
    {15001, "No event"},   {15002, "Dispatch"}, {15003, "Trigger"},  {15004, "Error"},
    {15005, "Thread"},     {15006, "TrigAllc"}, {15007, "TrigDisp"}, {15008, "TrgHdAlc"},
    {15009, "TrgHdDsp"},   {15010, "TrDatChg"}, {15011, "Telnet"},   {15012, "Fax"},
    {15013, "XModem"},     {15014, "YModem"},   {15015, "ZModem"},   {15016, "Kermit"},
    {15017, "Ascii"},      {15018, "BPlus"},    {15019, "Packet"},   {15020, "User"},
    {15101, "ReadCom"},    {15102, "WriteCom"}, {15103, "Line status"},
    {15104, "Modem status"}, {15105, "Avail"},  {15106, "Timer"},    {15107, "Data"},
    {15108, "Status"},     {15109, "Start"},    {15110, "Exit"},     {15111, "Sleep"},
    {15112, "Wake"},       {15113, "Data"},     {15114, "Timer"},    {15115, "Status"},
    {15116, "Avail"},      {15117, "Window"},   {15118, "Procedure"}, {15119, "Method"},
    {15120, "Sent WILL"},  {15121, "Sent WON'T"}, {15122, "Sent DO"},
    {15501, "Time      Type      SubType       Data      OtherData"},
    {15502, "--------  --------  ------------  --------  ---------"},
    {15601, "DCTS "}, {15602, "DDSR "}, {15603, "TERI "}, {15604, "DDCD "},
    {15605, "CTS "},  {15606, "DSR "},  {15607, "RI "},   {15608, "DCD "},
    {15700, "Binary"}, {15701, "Echo"},
};

TEST(ErrorTable, HoldsTheQuotedTextsVerbatim) {
  for (const TIdText& row : kQuotedTexts)
    EXPECT_EQ(ErrorStrings()->GetString(row.Id), row.Text) << "id " << row.Id;
}

TEST(ErrorTable, HasATelnetOptionNameForEveryLoggedOption) {
  for (std::int32_t option = 0; option <= 42; ++option)
    EXPECT_FALSE(ErrorStrings()->GetString(15700 + option).empty()) << "option " << option;
}

// The ranges of the error and log table with the number of texts each holds;
// each range's first and last id have a text.
struct TIdRange {
  std::int32_t First;
  std::int32_t Last;
  int Texts;
};
constexpr TIdRange kErrorTableRanges[] = {
    {0, 0, 1},           {2, 162, 27},        {1001, 1009, 9},     {2001, 2012, 12},   {3001, 3010, 10},
    {4001, 4008, 8},     {4101, 4843, 131},   {5001, 5003, 3},     {5501, 5506, 6},    {6001, 6015, 15},
    {7001, 7014, 14},    {8001, 8092, 40},    {9001, 11004, 58},   {13501, 13670, 68}, {13801, 13945, 102},
    {13980, 13980, 1},   {15001, 15020, 20},  {15101, 15351, 251}, {15501, 15502, 2},  {15601, 15608, 8},
    {15700, 15742, 43},
};

std::uint32_t U32At(const unsigned char* bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | bytes[at + i];
  return v;
}

// Read from the stored form built into the program: 829 entries, every one
// inside a range and holding a text, each range as full as it should be.
TEST(ErrorTable, HoldsATextForEveryIdOfItsRanges) {
  const TEmbeddedResource* table = TResourceModule::Program().Find("SERIAL_ERROR_STRINGS_ENGLISH");
  ASSERT_NE(table, nullptr);
  ASSERT_GE(table->Size, 8u);
  const std::uint32_t count = U32At(table->Data, 4);
  EXPECT_EQ(count, 829u);
  ASSERT_GE(table->Size, 8 + 12 * std::size_t(count));
  EXPECT_EQ(U32At(table->Data, 8 + 4), 8 + 12 * count) << "the first text follows the entries";
  std::vector<int> inRange(std::size(kErrorTableRanges), 0);
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto id = static_cast<std::int32_t>(U32At(table->Data, 8 + 12 * i));
    EXPECT_GT(U32At(table->Data, 16 + 12 * i), 0u) << "id " << id << " has an empty text";
    bool placed = false;
    for (std::size_t r = 0; r < std::size(kErrorTableRanges); ++r)
      if (id >= kErrorTableRanges[r].First && id <= kErrorTableRanges[r].Last) {
        ++inRange[r];
        placed = true;
      }
    EXPECT_TRUE(placed) << "id " << id << " lies outside every range";
  }
  for (std::size_t r = 0; r < std::size(kErrorTableRanges); ++r) {
    const TIdRange& range = kErrorTableRanges[r];
    EXPECT_EQ(inRange[r], range.Texts) << range.First << " to " << range.Last;
    EXPECT_FALSE(ErrorStrings()->GetString(range.First).empty()) << range.First;
    EXPECT_FALSE(ErrorStrings()->GetString(range.Last).empty()) << range.Last;
  }
  // The socket library's errors and the telephony line states and call-end
  // reasons, which the table once lacked.
  for (std::int32_t id : {9001, 10004, 10035, 10054, 10060, 10061, 11001, 11004, 13501, 13551, 13651, 13670})
    EXPECT_FALSE(ErrorStrings()->GetString(id).empty()) << id;
}

TEST(ErrorTable, AbsentIdsGiveTheEmptyText) {
  for (std::int32_t id : {1, 7, -1, -2, -2011, -15742, INT_MIN, INT_MAX, 15743, 99999}) {
    std::string text = "unchanged";
    EXPECT_FALSE(ErrorStrings()->FindString(id, text)) << "id " << id;
    EXPECT_EQ(ErrorStrings()->GetString(id), "") << "id " << id;
  }
}

TEST(StringResource, EmptyTableFindsNothing) {
  TOneTableModule mod("EMPTY", TableOf({}));
  TStringResource table(mod.Module(), mod.Name());
  ASSERT_TRUE(table.HasTable());
  for (std::int32_t id : {0, 1, -1, INT_MIN, INT_MAX}) {
    std::string text;
    EXPECT_FALSE(table.FindString(id, text));
    EXPECT_EQ(table.GetString(id), "");
  }
}

TEST(StringResource, EmptyEntryYieldsTheEmptyText) {
  TOneTableModule mod("T", TableOf({{4, u"four"}, {5, u""}, {6, u"six"}}));
  TStringResource table(mod.Module(), mod.Name());
  std::string text = "unchanged";
  EXPECT_TRUE(table.FindString(5, text));
  EXPECT_EQ(text, "");
  EXPECT_EQ(table.GetString(4), "four");
  EXPECT_EQ(table.GetString(6), "six");
}

TEST(StringResource, FindsEveryIdOfALargerTable) {
  std::vector<strtable::TEntry> entries;
  for (std::int32_t id = -50; id <= 950; id += 7)
    entries.push_back({id, u"t" + std::u16string(static_cast<std::size_t>(id + 50) % 5, u'x')});
  TOneTableModule mod("MANY", TableOf(entries));
  TStringResource table(mod.Module(), mod.Name());
  for (const auto& e : entries) {
    std::string expected(e.Text.begin(), e.Text.end());
    EXPECT_EQ(table.GetString(e.Id), expected) << "id " << e.Id;
    EXPECT_EQ(table.GetString(e.Id + 1), "") << "id " << e.Id + 1;
  }
}

// Each corruption breaks one invariant a lookup would otherwise trust.
struct TCorruption {
  const char* What;
  void (*Apply)(std::vector<std::uint8_t>& bytes);
};

const TCorruption kCorruptions[] = {
    {"bad signature", [](auto& b) { b[3] = '1'; }},
    {"lower-case signature", [](auto& b) { b[0] = 's'; }},
    {"shorter than its header", [](auto& b) { b.resize(7); }},
    {"only the signature", [](auto& b) { b.resize(4); }},
    {"no bytes at all", [](auto& b) { b.clear(); }},
    {"more entries than bytes", [](auto& b) { PutU32(b, 4, 100); }},
    {"huge entry count", [](auto& b) { PutU32(b, 4, 0xFFFFFFFFu); }},
    {"text past the end", [](auto& b) { PutU32(b, 8 + 12 + 8, 100); }},
    {"length wraps around", [](auto& b) { PutU32(b, 8 + 12 + 8, 0xFFFFFFFFu); }},
    {"offset past the end", [](auto& b) { PutU32(b, 8 + 12 + 4, 0xFFFFFFF0u); }},
    {"offset inside the entries", [](auto& b) { PutU32(b, 8 + 4, 8); }},
    {"ids descending", [](auto& b) { PutU32(b, 8, 30); }},
    {"duplicate ids", [](auto& b) { PutU32(b, 8, 20); }},
    {"cut inside the last text", [](auto& b) { b.pop_back(); }},
};

TEST(StringResource, RefusesACorruptTableAndKeepsNothing) {
  for (const TCorruption& c : kCorruptions) {
    std::vector<std::uint8_t> bytes = TableOf({{10, u"ten"}, {20, u"twenty"}});
    c.Apply(bytes);
    TOneTableModule bad("BAD", bytes);
    TOneTableModule good("GOOD", TableOf({{1, u"one"}}));
    TStringResource table(good.Module(), good.Name());
    EXPECT_EQ(ErrorCaught([&] { table.ChangeTable(bad.Module(), bad.Name()); }),
              "Invalid string table resource")
        << c.What;
    EXPECT_FALSE(table.HasTable()) << c.What;
    EXPECT_EQ(ErrorCaught([&] { table.GetString(10); }), "Cannot lock resource") << c.What;
  }
}

TEST(StringResource, BadSignatureFailsTheConstructor) {
  std::vector<std::uint8_t> bytes = TableOf({{1, u"x"}});
  bytes[0] = 'X';
  TOneTableModule mod("SIG", bytes);
  EXPECT_EQ(ErrorCaught([&] { TStringResource t(mod.Module(), mod.Name()); }),
            "Invalid string table resource");
}

TEST(StringResource, MissingResourceNamesItWithoutFormattingIt) {
  const TResourceModule none({});
  EXPECT_EQ(ErrorCaught([&] { TStringResource t(none, "NO_SUCH_TABLE"); }),
            "String resource not found: NO_SUCH_TABLE");
  // A name full of directives is data, not a format.
  EXPECT_EQ(ErrorCaught([&] { TStringResource t(none, "%s%d%n%x%"); }),
            "String resource not found: %s%d%n%x%");
}

TEST(StringResource, ResourceWithoutDataCannotBeOpened) {
  const TEmbeddedResource hollow{"HOLLOW", nullptr, 0};
  const TResourceModule mod({&hollow, 1});
  EXPECT_EQ(ErrorCaught([&] { TStringResource t(mod, "HOLLOW"); }),
            "Unable to open string resource: HOLLOW");
}

TEST(StringResource, LooksInTheProgramsOwnModuleWhenTheGivenOneLacksTheTable) {
  const TResourceModule none({});
  TStringResource table(none, "string_manager_strings");
  EXPECT_EQ(table.GetString(5), "Invalid string table resource");
}

TEST(StringResource, NameIsCutTo255Characters) {
  TOneTableModule mod(std::string(255, 'N'), TableOf({{1, u"long name"}}));
  TStringResource table(mod.Module(), std::string(300, 'N'));
  EXPECT_EQ(table.GetString(1), "long name");
}

TEST(StringResource, RaiseIfMissingNamesTheId) {
  TOneTableModule mod("T", TableOf({{1, u"one"}}));
  TStringResource table(mod.Module(), mod.Name());
  table.SetRaiseIfMissing(true);
  EXPECT_EQ(table.GetString(1), "one");
  EXPECT_EQ(ErrorCaught([&] { table.GetString(7); }), "String not found: 7");
  EXPECT_EQ(ErrorCaught([&] { table.GetString(INT_MIN); }), "String not found: -2147483648");
}

TEST(StringResource, ChangeTableToNoNameLeavesItWithout) {
  TOneTableModule mod("T", TableOf({{1, u"one"}}));
  TStringResource table(mod.Module(), mod.Name());
  table.ChangeTable(mod.Module(), "");
  EXPECT_FALSE(table.HasTable());
  EXPECT_EQ(ErrorCaught([&] { table.GetString(1); }), "Cannot lock resource");
  table.ChangeTable(mod.Module(), "t");
  EXPECT_EQ(table.GetString(1), "one");
}

TEST(StringResource, LookupsFromManyThreadsAtOnce) {
  // The dispatch log reads the same table as the GUI thread's exceptions.
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < 2000; ++i)
        if (ErrorStrings()->GetString(i % 2 ? 2011 : 3007).empty()) ++wrong[t];
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

struct TUtf16Case {
  std::u16string In;
  std::string Out;
};

TEST(Utf16ToUtf8, ConvertsPairsAndReplacesLoneSurrogates) {
  const TUtf16Case cases[] = {
      {u"", ""},
      {u"plain", "plain"},
      {u"caf\u00E9", "caf\xC3\xA9"},
      {u"\u20AC5", "\xE2\x82\xAC" "5"},
      {u"\uFFFF", "\xEF\xBF\xBF"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {std::u16string{char16_t(0xD83D)}, "\xEF\xBF\xBD"},
      {std::u16string{char16_t(0xD83D), u'A'}, "\xEF\xBF\xBD" "A"},
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::u16string{u'x', char16_t(0xDE00)}, "x\xEF\xBF\xBD"},
      {std::u16string{char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)},
       "\xEF\xBF\xBD\xF0\x90\x80\x80"},
      {std::u16string{u'a', char16_t(0), u'b'}, std::string("a\0b", 3)},
  };
  for (const TUtf16Case& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.In), c.Out);
    TOneTableModule mod("U", TableOf({{1, c.In}}));
    EXPECT_EQ(TStringResource(mod.Module(), "U").GetString(1), c.Out);
  }
}

struct TFormatCase {
  const char* Format;
  std::vector<TFormatArg> Args;
  const char* Out;
};

TEST(FormatChecked, FillsOnlyPercentSAndPercentD) {
  const TFormatCase cases[] = {
      {"String not found: %d", {7}, "String not found: 7"},
      {"String resource not found: %s", {"NAME"}, "String resource not found: NAME"},
      {"%s and %d", {"a", -12}, "a and -12"},
      {"no directives", {"unused"}, "no directives"},
      {"%s %s %s", {"one"}, "one %s %s"},  // too few arguments: the rest stays
      {"%d", {}, "%d"},
      {"%n%x%p%08.8x%-8s", {"a", 1}, "%n%x%p%08.8x%-8s"},
      {"100%% sure %s", {"x"}, "100% sure x"},
      {"trailing %", {"x"}, "trailing %"},
      {"%d", {"text for a number"}, "text for a number"},
      {"%s", {42}, "42"},
      {"%s", {"%s%d"}, "%s%d"},  // an argument is never read as a format
  };
  for (const TFormatCase& c : cases) {
    std::string out;
    switch (c.Args.size()) {
      case 0: out = FormatChecked(c.Format, {}); break;
      case 1: out = FormatChecked(c.Format, {c.Args[0]}); break;
      default: out = FormatChecked(c.Format, {c.Args[0], c.Args[1]}); break;
    }
    EXPECT_EQ(out, c.Out) << c.Format;
  }
}

TEST(ManagerStrings, CompiledInTextsMatchTheTable) {
  for (std::int32_t id = msStringNotFound; id <= msInvalidTable; ++id) {
    EXPECT_FALSE(ManagerFallbackText(id).empty()) << id;
    EXPECT_EQ(ManagerStrings()->GetString(id), ManagerFallbackText(id)) << id;
    EXPECT_EQ(ManagerText(id), ManagerFallbackText(id)) << id;
  }
  EXPECT_EQ(ManagerFallbackText(0), "");
  EXPECT_EQ(ManagerFallbackText(6), "");
  EXPECT_EQ(ManagerFallbackText(INT_MIN), "");
}

}  // namespace
}  // namespace corvane
