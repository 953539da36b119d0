// How any input text is read into entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "prefs/ini_file.h"
#include "prefs/ini_model.h"
#include "tests/prefs/ini_test_util.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

using namespace std::string_literals;
using testing::EntryTexts;

struct ParseCase {
  const char* name;
  std::string input;
  std::vector<std::string> entries;
  std::uint32_t codePage = 0;
};

const ParseCase kParseCases[] = {
    {"EmptyFile", "", {}},
    {"KeyAndValue", "key = value", {"key|value"}},
    {"InnerBlanksKept", "  my key \t=\t inner  value  \n", {"my key|inner  value  "}},
    {"EmptyValue", "key=\n", {"key|"}},
    {"EmptyKey", "=x\n", {"|x"}},
    {"OnlyEquals", " = \n", {"|"}},
    {"KeyWithoutEqualsLf", "flag\nnext=1\n", {"flag|", "next|1"}},
    {"KeyWithoutEqualsCrLf", "flag  \r\nnext=1", {"flag|", "next|1"}},
    {"KeyWithoutEqualsCr", "flag\rnext=1\r", {"flag|", "next|1"}},
    {"KeyWithoutEqualsAtEnd", "a=1\nflag", {"a|1", "flag|"}},
    {"ValueKeepsQuotesAndSemicolons", "x = \"a;b\" ; c = d\n", {"x|\"a;b\" ; c = d"}},
    {"SecondEqualsBelongsToValue", "a==b\n", {"a|=b"}},
    {"CommentSpaces",
     ";comment\n; comment\n;  two\n;\ttab\n;\n; \n",
     {";comment", ";comment", "; two", ";\ttab", ";", ";"}},
    {"CommentKeepsSemicolons", ";;;; notes\n", {";;;; notes"}},
    {"Headers",
     "[PHP] trailing text\n[PHP\n[ PHP ]\n[]\n[a]b=1\n",
     {"[PHP", "[PHP", "[ PHP ", "[", "[a"}},
    {"HeaderWithoutCloseAtEnd", "[Last", {"[Last"}},
    {"LeadingBlanks", "  ; c\n\t[G]\n \t k = v\n", {";c", "[G", "k|v"}},
    {"BlankLinesVanish", "\n\n   \n\t\n[G]\n\n\n \r\n\r\nk=v\n   ", {"[G", "k|v"}},
    {"TrailingBlankLineWithoutEnd", "k=v\n \t ", {"k|v"}},
    {"MixedLineEnds",
     "a=1\r\nb=2\nc=3\rd=4\n\r\r\n\n;e\r[f]\r\n",
     {"a|1", "b|2", "c|3", "d|4", ";e", "[f"}},
    {"NoLineEndAtEnd", "[G]\r\nlast = v", {"[G", "last|v"}},
    {"ZeroByteEndsLine", "a=1\0b=2\0\0;c"s, {"a|1", "b|2", ";c"}},
    {"MarkOnly", "\xEF\xBB\xBF", {}, Utf8CodePage},
    {"MarkNotPartOfFirstLine",
     "\xEF\xBB\xBF[PHP]\r\nv=\xC3\xA9\r\n",
     {"[PHP", "v|\xC3\xA9"},
     Utf8CodePage},
    {"MarkThenLineEnd", "\xEF\xBB\xBF\r\nk=v", {"k|v"}, Utf8CodePage},
    {"TwoBytesNeverAMark", "\xEF\xBB", {"\xEF\xBB|"}},
    {"MarkNotAtStart", "k=\xEF\xBB\xBF", {"k|\xEF\xBB\xBF"}},
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }

class ParseTest : public ::testing::TestWithParam<ParseCase> {
 protected:
  void TearDown() override { CloseIniFile(); }
  testing::TempDir dir_;
};

TEST_P(ParseTest, ReadsEntries) {
  const ParseCase& c = GetParam();
  std::string path = dir_.Write("php.ini", c.input);
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  EXPECT_EQ(EntryTexts(), c.entries);
  EXPECT_EQ(TheIniFile().codePage, c.codePage);
  EXPECT_FALSE(TheIniFile().readOnly);
}

INSTANTIATE_TEST_SUITE_P(Lines, ParseTest, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseMissingFile, LoadsEmptyAndKeepsTheName) {
  testing::TempDir dir;
  std::string path = dir.Path("absent.ini");
  EXPECT_EQ(OpenIniFile(path.c_str(), 0), 0);
  const IniFile& file = TheIniFile();
  EXPECT_EQ(file.handle, 0u);
  ASSERT_NE(file.fileName, nullptr);
  EXPECT_STREQ(file.fileName, path.c_str());
  EXPECT_EQ(file.first, nullptr);
  EXPECT_EQ(SelectIniGroup(""), 1);
  EXPECT_EQ(SelectIniGroup("PHP"), 0);
  CloseIniFile();
  EXPECT_FALSE(dir.Exists("absent.ini"));
}

TEST(ParseInPlace, EntriesPointIntoTheOneContentBlock) {
  testing::TempDir dir;
  std::string input = "[PHP]\r\nkey = value\r\n; note\r\n";
  std::string path = dir.Write("php.ini", input);
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  const IniFile& file = TheIniFile();
  ASSERT_NE(file.content, nullptr);
  EXPECT_EQ(file.contentSize, input.size());
  const char* begin = file.content;
  const char* end = file.content + file.contentSize;
  for (const IniEntry* entry = file.first; entry; entry = entry->next) {
    EXPECT_FALSE(entry->ownsText);
    EXPECT_TRUE(entry->text >= begin && entry->text <= end);
    if (entry->key) {
      EXPECT_TRUE(entry->key >= begin && entry->key < end);
    }
  }
  EXPECT_EQ(file.content[file.contentSize], 0);
  EXPECT_EQ(file.content[file.contentSize + 1], 0);
  CloseIniFile();
}

}  // namespace
}  // namespace qg
