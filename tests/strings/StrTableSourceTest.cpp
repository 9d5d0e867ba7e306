// The build-time side: what the generator accepts from a text source, what
// it refuses, and the stored layout it produces. Also checks the project's
// own sources against the rules the program relies on.
#include <gtest/gtest.h>

#include <string>

#include "Files.h"
#include "SerExcept.h"
#include "StrTable.h"

namespace corvane::strtable {
namespace {

std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | std::uint32_t{b.at(at + 3)} << 24;
}

TEST(StrTableSource, ReadsEntriesCommentsAndEscapes) {
  const std::string source =
      "# heading comment\n"
      "\n"
      "   # indented comment\n"
      "-5 \"minus five\"\n"
      "0\t\"OK\"\r\n"
      "3 \"quote \\\" and backslash \\\\\"   \n"
      "10 \"DCTS \"\n"
      "20 \"caf\xC3\xA9 \xF0\x9F\x98\x80\"\n"
      "21 \"\"";
  const std::vector<TEntry> e = ParseSource(source, "t.txt");
  ASSERT_EQ(e.size(), 6u);
  EXPECT_EQ(e[0].Id, -5);
  EXPECT_EQ(e[0].Text, u"minus five");
  EXPECT_EQ(e[1].Text, u"OK");
  EXPECT_EQ(e[2].Text, u"quote \" and backslash \\");
  EXPECT_EQ(e[3].Text, u"DCTS ");  // blanks inside the quotes are kept
  EXPECT_EQ(e[4].Text, u"caf\u00E9 \U0001F600");
  EXPECT_EQ(e[5].Id, 21);
  EXPECT_EQ(e[5].Text, u"");
}

struct TRefusal {
  const char* Source;
  const char* Reason;  // part of the message
};

TEST(StrTableSource, RefusesFaultyLinesNamingFileAndLine) {
  const TRefusal refusals[] = {
      {"2 \"b\"\n1 \"a\"\n", "t.txt:2: id 1 does not ascend"},
      {"2 \"b\"\n2 \"again\"\n", "t.txt:2: id 2 does not ascend"},
      {"x \"a\"\n", "t.txt:1: id must be"},
      {"- \"a\"\n", "id must be"},
      {"2147483648 \"a\"\n", "id must be"},
      {"-2147483649 \"a\"\n", "id must be"},
      {"99999999999999999999 \"a\"\n", "id must be"},
      {"5\"a\"\n", "blank expected"},
      {"5 a\n", "double quotes"},
      {"5 \"open\n", "missing closing quote"},
      {"5 \"a\\n\"\n", "unknown escape"},
      {"5 \"a\\\"\n", "missing closing quote"},
      {"5 \"tab\there\"\n", "control character"},
      {"5 \"a\" junk\n", "after the closing quote"},
      {"5 \"a\"\"\n", "after the closing quote"},
      {"5 \"\xC0\xAF\"\n", "not valid UTF-8"},          // overlong
      {"5 \"\xED\xA0\x80\"\n", "not valid UTF-8"},      // encoded surrogate
      {"5 \"\xE2\x82\"\n", "not valid UTF-8"},          // cut sequence
      {"5 \"\xF4\x90\x80\x80\"\n", "not valid UTF-8"},  // above U+10FFFF
      {"5 \"\xFF\"\n", "not valid UTF-8"},
  };
  for (const TRefusal& r : refusals) {
    try {
      ParseSource(r.Source, "t.txt");
      ADD_FAILURE() << "accepted: " << r.Source;
    } catch (const TSourceError& e) {
      EXPECT_NE(std::string(e.what()).find(r.Reason), std::string::npos)
          << r.Source << " -> " << e.what();
    }
  }
}

TEST(StrTableEncode, LaysOutTheStoredForm) {
  const std::vector<std::uint8_t> b = EncodeTable({{-1, u"ab"}, {7, u""}, {9, u"\u20AC"}});
  ASSERT_EQ(b.size(), 8u + 3 * 12 + 2 * 3);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "STR0");
  EXPECT_EQ(U32At(b, 4), 3u);
  const std::uint32_t ids[] = {0xFFFFFFFFu, 7, 9};
  const std::uint32_t offsets[] = {44, 48, 48};
  const std::uint32_t lengths[] = {2, 0, 1};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(U32At(b, 8 + 12 * i), ids[i]);
    EXPECT_EQ(U32At(b, 12 + 12 * i), offsets[i]);
    EXPECT_EQ(U32At(b, 16 + 12 * i), lengths[i]);
  }
  EXPECT_EQ(b[44], 'a');
  EXPECT_EQ(b[45], 0);
  EXPECT_EQ(b[48], 0xAC);  // U+20AC little-endian
  EXPECT_EQ(b[49], 0x20);
  EXPECT_THROW(EncodeTable({{2, u"b"}, {1, u"a"}}), TSourceError);
}

TEST(StrTableEncode, EmptyTableIsOnlyTheHeader) {
  const std::vector<std::uint8_t> b = EncodeTable({});
  ASSERT_EQ(b.size(), 8u);
  EXPECT_EQ(U32At(b, 4), 0u);
}

std::vector<TEntry> ProjectSource(const char* file) {
  const std::string path = std::string(CORVANE_RESOURCES_DIR) + "/" + file;
  return ParseSource(corvane::testsupport::ReadFile(path), path);
}

TEST(ProjectTables, ErrorTableKeepsItsGaps) {
  const std::vector<TEntry> entries = ProjectSource("serial_error_strings.txt");
  ASSERT_FALSE(entries.empty());
  for (const TEntry& e : entries) {
    EXPECT_GE(e.Id, 0) << "negative ids stay absent";
    EXPECT_NE(e.Id, 1) << "1 takes the system's text";
    EXPECT_NE(e.Id, 7) << "7 takes the system's text";
    EXPECT_LE(e.Id, 32767) << "keys are 16-bit";
    EXPECT_LE(e.Text.size(), 255u) << e.Id;
  }
}

TEST(ProjectTables, ManagerTableHoldsTheFiveMessages) {
  const std::vector<TEntry> entries = ProjectSource("string_manager_strings.txt");
  ASSERT_EQ(entries.size(), 5u);
  for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].Id, std::int32_t(i + 1));
}

}  // namespace
}  // namespace corvane::strtable
