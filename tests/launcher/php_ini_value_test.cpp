// php.ini values as PHP reads them: the rule that writes a text so that PHP
// reads it back exactly, and the places of moved values written by it.
// Windows paths are only strings to PHP's INI syntax, so the php here reads
// them as PHP on Windows does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/php_ini_paths.h"
#include "launcher/php_ini_value.h"
#include "tests/launcher/php_reading.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

using testing::ReadWithPhp;

// A file of `lines` as `k<N> = <line>`, each followed by a setting PHP must
// still read after it; PHP's reading of every k<N>, with nothing on its
// standard error and every `after<N>` read.
void ExpectPhpReads(const std::string& php, const std::vector<std::string>& lines,
                    const std::vector<std::string>& texts) {
  ASSERT_EQ(lines.size(), texts.size());
  std::string ini = "[PHP]\r\n";
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ini +=
        "k" + std::to_string(i) + " = " + lines[i] + "\r\nafter" + std::to_string(i) + " = ok\r\n";
    keys.push_back("k" + std::to_string(i));
    keys.push_back("after" + std::to_string(i));
  }
  testing::TempDir dir;
  const std::string path = dir.Write("php.ini", ini);
  testing::PhpReading reading = ReadWithPhp(php, path, keys);
  EXPECT_EQ(reading.errors, "") << ini;
  ASSERT_EQ(reading.values.size(), keys.size()) << ini;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(reading.values[2 * i], texts[i]) << "k" << i << " = " << lines[i];
    EXPECT_EQ(reading.values[2 * i + 1], "ok") << "after k" << i << " = " << lines[i];
  }
}

struct RuleCase {
  const char* name;
  std::string text;
  IniValueForm form;
  std::string written;
};
void PrintTo(const RuleCase& c, std::ostream* out) { *out << c.name; }

constexpr IniValueForm kBare = IniValueForm::Bare, kDouble = IniValueForm::DoubleQuoted,
                       kSingle = IniValueForm::SingleQuoted;

const std::vector<RuleCase>& RuleCases() {
  static const std::vector<RuleCase> cases{
      {"PlainBareStays", "D:\\web\\server\\php.log", kBare, "D:\\web\\server\\php.log"},
      {"BlanksInsideStayBare", "D:\\my web\\x", kBare, "D:\\my web\\x"},
      {"BytesBeyondAsciiStayBare", "D:\\Caf\xE9\\\x8A", kBare, "D:\\Caf\xE9\\\x8A"},
      {"PlainDoubleStays", "D:\\web\\server\\php.log", kDouble, "\"D:\\web\\server\\php.log\""},
      {"PlainSingleStays", "D:\\web\\www", kSingle, "'D:\\web\\www'"},
      {"ParenthesesQuoted", "D:\\bundle (1)\\x", kBare, "\"D:\\bundle (1)\\x\""},
      {"AmpersandQuoted", "D:\\R&D\\x", kBare, "\"D:\\R&D\\x\""},
      {"OperatorsQuoted", "D:\\a!b=c~d|e^f\\x", kBare, "\"D:\\a!b=c~d|e^f\\x\""},
      {"SemicolonQuoted", "D:\\semi;colon\\x", kBare, "\"D:\\semi;colon\\x\""},
      {"ApostropheBareQuoted", "D:\\Client's files\\x", kBare, "\"D:\\Client's files\\x\""},
      {"ApostropheSingleBecomesDouble", "D:\\Client's files\\x", kSingle,
       "\"D:\\Client's files\\x\""},
      {"DollarStaysBare", "D:\\$work\\x", kBare, "D:\\$work\\x"},
      {"DollarLastQuoted", "D:\\x$", kBare, "\"D:\\x$\""},
      {"DollarInDoubleAfterBackslash", "D:\\$work\\x", kDouble, "\"D:\\\\$work\\x\""},
      {"DollarStaysSingle", "D:\\$work\\x", kSingle, "'D:\\$work\\x'"},
      {"VariableSyntaxBareQuoted", "D:\\${work}\\x", kBare, "\"D:\\\\\\${work}\\x\""},
      {"VariableSyntaxInDouble", "a${b}", kDouble, "\"a\\${b}\""},
      {"VariableSyntaxStaysSingle", "D:\\${work}\\x", kSingle, "'D:\\${work}\\x'"},
      {"ShareStaysBare", "\\\\NAS\\share\\bundle\\x", kBare, "\\\\NAS\\share\\bundle\\x"},
      {"ShareInDouble", "\\\\NAS\\share\\bundle\\server\\header.php", kDouble,
       "\"\\\\\\NAS\\share\\bundle\\server\\header.php\""},
      {"ShareRootInDouble", "\\\\NAS\\share\\", kDouble, "\"\\\\\\NAS\\share\\\\\""},
      {"TrailingBackslashInDouble", "D:\\web\\ext\\", kDouble, "\"D:\\web\\ext\\\\\""},
      {"TrailingBackslashesStaySingle", "D:\\web\\ext\\\\", kSingle, "'D:\\web\\ext\\\\'"},
      {"QuoteInDouble", "/a \"b\"/x", kDouble, "\"/a \\\"b\\\"/x\""},
      {"BackslashBeforeQuote", "a\\\"b", kBare, "\"a\\\\\\\"b\""},
      {"ListKeepsItsSeparators", ".;D:\\web\\pear", kDouble, "\".;D:\\web\\pear\""},
      {"PosixListWithAmpersand", ".:/srv/R&D/pear", kBare, "\".:/srv/R&D/pear\""},
      {"BlanksAtTheEndsQuoted", " a ", kBare, "\" a \""},
      {"KeywordQuoted", "On", kBare, "\"On\""},
      {"NameAloneQuoted", "E_ALL", kBare, "\"E_ALL\""},
      {"EmptyQuoted", "", kBare, "\"\""},
  };
  return cases;
}

class PhpIniValueTable : public ::testing::TestWithParam<RuleCase> {};

TEST_P(PhpIniValueTable, WritesTheTextInItsFormWhereThatReadsRight) {
  const RuleCase& c = GetParam();
  EXPECT_EQ(PhpIniValue(c.text, c.form), c.written);
}

INSTANTIATE_TEST_SUITE_P(Values, PhpIniValueTable, ::testing::ValuesIn(RuleCases()),
                         [](const ::testing::TestParamInfo<RuleCase>& info) {
                           return std::string(info.param.name);
                         });

// Every text of the table, asked for in each of the three forms.
TEST(PhpIniValue, PhpReadsEveryTextBackInEveryForm) {
  QG_REQUIRE_PHP(php);
  std::vector<std::string> lines, texts;
  for (const RuleCase& c : RuleCases()) {
    for (IniValueForm form : {kBare, kDouble, kSingle}) {
      lines.push_back(PhpIniValue(c.text, form));
      texts.push_back(c.text);
    }
    // With a comment after it too.
    lines.push_back(PhpIniValue(c.text, c.form) + " ; a comment");
    texts.push_back(c.text);
  }
  ExpectPhpReads(php, lines, texts);
}

// The values of a bundle's php.ini moved from D:\web\ into folders whose
// names hold what PHP's syntax gives a meaning, in every form a value comes
// in. A form is kept where PHP reads the moved text in it; where its own
// bytes with the root replaced read right, they are what is written.
struct RootClass {
  const char* name;
  std::string root;
  bool bareReadsRight;    // the bare value with the root replaced
  bool doubleReadsRight;  // the double-quoted value with the root replaced
  bool singleReadsRight;  // the single-quoted value with the root replaced
};

struct ValueShape {
  const char* name;
  IniValueForm form;
  std::string value;  // with "@" for the old root
  std::string text;   // what PHP reads, with "@" for the root
  const char* comment = "";
};

std::string WithRoot(const std::string& pattern, const std::string& root) {
  std::string out;
  for (char c : pattern) out += c == '@' ? root : std::string(1, c);
  return out;
}

TEST(MovedPhpIniValues, PhpReadsEachMovedPlaceExactly) {
  const std::vector<RootClass> classes{
      {"plain", "E:\\new place\\", true, true, true},
      {"parentheses", "D:\\bundle (1)\\", false, true, true},
      {"apostrophe", "D:\\Client's files\\", false, true, false},
      {"ampersand", "D:\\R&D\\", false, true, true},
      {"exclamation", "D:\\Hello!\\", false, true, true},
      {"equals", "D:\\a=b\\", false, true, true},
      {"operators", "D:\\x~y|z^\\", false, true, true},
      {"semicolon", "D:\\semi;colon\\", false, true, true},
      {"dollar", "D:\\$work\\", true, false, true},
      {"variable syntax", "D:\\${work}\\", false, false, true},
      {"share", "\\\\NAS\\share\\bundle\\", true, false, true},
      {"share root", "\\\\NAS\\share\\", true, false, true},
  };
  const std::vector<ValueShape> shapes{
      {"bare", kBare, "@server\\userdata\\logs\\php.log", "@server\\userdata\\logs\\php.log"},
      {"double", kDouble, "\"@server\\modules\\php\\ext\"", "@server\\modules\\php\\ext"},
      {"single", kSingle, "'@www'", "@www"},
      {"list", kDouble, "\".;@server\\pear;C:\\php\\pear\"", ".;@server\\pear;C:\\php\\pear"},
      {"bare with a comment", kBare, "@server\\temp", "@server\\temp", "  ; sessions"},
      {"backslash before the closing quote", kDouble, "\"@server\\ext\\\"", "@server\\ext\\"},
      {"the root itself", kDouble, "\"@\"", "@"},
  };
  std::vector<std::string> lines, texts;
  for (const RootClass& root : classes) {
    const std::vector<ByteRootMove> moves{{"D:\\web\\", root.root, true}};
    for (const ValueShape& shape : shapes) {
      // A list in a root that holds the separator is another matter.
      if (shape.name == std::string("list") && root.root.find(';') != std::string::npos) continue;
      SCOPED_TRACE(std::string(root.name) + ", " + shape.name);
      const std::string value = WithRoot(shape.value, "D:\\web\\") + shape.comment;
      std::string moved;
      ASSERT_TRUE(MoveIniPathList(value, moves, kWindowsIniPaths, &moved)) << value;
      std::string again;
      EXPECT_FALSE(MoveIniPathList(moved, moves, kWindowsIniPaths, &again)) << again;

      bool keeps = shape.form == kBare     ? root.bareReadsRight
                   : shape.form == kDouble ? root.doubleReadsRight
                                           : root.singleReadsRight;
      const std::string replaced = WithRoot(shape.value, root.root) + shape.comment;
      if (keeps) {
        EXPECT_EQ(moved, replaced);
      } else {
        EXPECT_NE(moved, replaced);
        EXPECT_EQ(moved.front(), '"') << moved;
        EXPECT_EQ(moved.substr(moved.size() - std::string(shape.comment).size()), shape.comment);
      }
      lines.push_back(moved);
      texts.push_back(WithRoot(shape.text, root.root));
    }
  }
  QG_REQUIRE_PHP(php);
  ExpectPhpReads(php, lines, texts);
}

}  // namespace
}  // namespace qg
