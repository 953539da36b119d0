// Which of the editor's values follow a move of the bundle, and to where.
#include "launcher/moved_paths.h"

#include <gtest/gtest.h>

#include <vector>

#include "launcher/php_ini_paths.h"
#include "prefs/ini_file.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

struct Case {
  const char* name;
  std::u32string oldRoot, newRoot;
  bool windows;  // ASCII letter case ignored
  std::u32string value;
  std::u32string expected;  // empty: the value is left as it is
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class MovePathValueTable : public ::testing::TestWithParam<Case> {};

TEST_P(MovePathValueTable, MovesOnlyPlacesInsideTheOldRoot) {
  const Case& c = GetParam();
  RootMove move{c.oldRoot, c.newRoot, c.windows};
  std::u32string moved = U"untouched";
  bool changed = MovePathValue(c.value, move, &moved);
  EXPECT_EQ(changed, !c.expected.empty());
  EXPECT_TRUE(moved == (changed ? c.expected : U"untouched"));
  // A second pass over the result changes nothing more.
  if (changed) {
    std::u32string again;
    EXPECT_FALSE(MovePathValue(moved, move, &again));
  }
}

const std::u32string kOld = U"E:\\work\\bundle\\", kNew = U"F:\\bundle\\";
INSTANTIATE_TEST_SUITE_P(
    Values, MovePathValueTable,
    ::testing::Values(
        Case{"PrefixAtTheSeparator", kOld, kNew, true, U"E:\\work\\bundle\\server\\x.php",
             U"F:\\bundle\\server\\x.php"},
        Case{"TheRootItself", kOld, kNew, true, U"E:\\work\\bundle\\", U"F:\\bundle\\"},
        Case{"TheRootWithoutItsSeparator", kOld, kNew, true, U"E:\\work\\bundle", U"F:\\bundle"},
        Case{"ASharedPrefixWithoutSeparator", kOld, kNew, true, U"E:\\work\\bundle2\\a.txt", U""},
        Case{"OutsideTheRoot", kOld, kNew, true, U"C:\\Users\\me\\theme.xml", U""},
        Case{"OtherCaseOnWindows", kOld, kNew, true, U"e:\\WORK\\bundle\\a.txt",
             U"F:\\bundle\\a.txt"},
        Case{"OtherCaseOnPosix", U"/media/e/Work/", U"/srv/b/", false, U"/media/e/work/a", U""},
        Case{"NonAsciiCapitalsAreNotFolded", U"D:\\Проекты\\", kNew, true, U"D:\\проекты\\a", U""},
        Case{"NonAsciiInRootAndRest", U"D:\\Рабочие файлы и программы\\npp\\", U"C:\\Проекты\\b\\",
             true, U"D:\\Рабочие файлы и программы\\npp\\backup\\файл 文本.txt",
             U"C:\\Проекты\\b\\backup\\файл 文本.txt"},
        Case{"AmpersandsAndQuotesKept", kOld, kNew, true, U"E:\\work\\bundle\\a&b \"q\" 'r'.txt",
             U"F:\\bundle\\a&b \"q\" 'r'.txt"},
        Case{"TheOldRootOfAnotherMove", kOld, kNew, true, U"G:\\older\\bundle\\a.txt", U""},
        Case{"NoRecordedRoot", U"", kNew, true, U"E:\\work\\bundle\\a.txt", U""},
        Case{"ThePosixRootMovesNothing", U"/", U"/srv/b/", false, U"/etc/passwd", U""},
        Case{"ADriveRoot", U"E:\\", kNew, true, U"E:\\x\\y.txt", U"F:\\bundle\\x\\y.txt"},
        Case{"ADriveRootsBareFormIsLeft", U"E:\\", kNew, true, U"E:", U""},
        Case{"TheBareRootToADriveRoot", kOld, U"F:\\", true, U"E:\\work\\bundle", U"F:\\"},
        Case{"NewRootInsideTheOld", U"C:\\web\\", U"C:\\web\\bundle\\", true, U"C:\\web\\a.txt",
             U"C:\\web\\bundle\\a.txt"},
        Case{"AlreadyInsideTheNewRoot", U"C:\\web\\", U"C:\\web\\bundle\\", true,
             U"C:\\web\\bundle\\a.txt", U""},
        Case{"TheNewRootsBareForm", U"C:\\web\\", U"C:\\web\\bundle\\", true, U"C:\\web\\bundle",
             U""},
        // A bundle on a network share, \\server\share\..., moves as any other.
        Case{"DriveToShare", kOld, U"\\\\NAS\\share\\bundle\\", true,
             U"E:\\work\\bundle\\server\\x.php", U"\\\\NAS\\share\\bundle\\server\\x.php"},
        Case{"ShareToDriveInOtherCase", U"\\\\NAS\\share\\bundle\\", kNew, true,
             U"\\\\nas\\SHARE\\Bundle\\x.php", U"F:\\bundle\\x.php"},
        Case{"AnotherShareOfTheServer", U"\\\\NAS\\share\\", kNew, true, U"\\\\NAS\\shared\\x.php",
             U""},
        Case{"TheSharesBareRoot", U"\\\\NAS\\share\\", U"\\\\NAS\\web\\b\\", true,
             U"\\\\NAS\\share", U"\\\\NAS\\web\\b"},
        Case{"TheBareRootToAShareRoot", kOld, U"\\\\NAS\\share\\", true, U"E:\\work\\bundle",
             U"\\\\NAS\\share"},
        Case{"EmptyValue", kOld, kNew, true, U"", U""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The editor's texts: a path at the start; in a command line also after a
// double quote or a blank.
struct TextCase {
  const char* name;
  bool command;
  std::u32string text;
  std::u32string expected;  // empty: the text is left as it is
};
void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }

class MovePathsInTextTable : public ::testing::TestWithParam<TextCase> {};

TEST_P(MovePathsInTextTable, MovesPathsWhereTheyStart) {
  const TextCase& c = GetParam();
  RootMove move{U"D:\\my web\\", U"E:\\new\\", true};
  std::u32string moved = U"untouched";
  bool changed = MovePathsInText(c.text, move, c.command, &moved);
  EXPECT_EQ(changed, !c.expected.empty());
  EXPECT_TRUE(moved == (changed ? c.expected : U"untouched"));
  if (changed) {
    std::u32string again;
    EXPECT_FALSE(MovePathsInText(moved, move, c.command, &again));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, MovePathsInTextTable,
    ::testing::Values(
        TextCase{"RecentFile", false, U"D:\\my web\\a.php", U"E:\\new\\a.php"},
        TextCase{"OnlyAtTheStartOfOtherTexts", false, U"cmd /k D:\\my web\\a.bat", U""},
        TextCase{"QuotedProgramAndArgument", true,
                 U"\"D:\\my web\\php\\php.exe\" -l \"$(FULL_CURRENT_PATH)\"",
                 U"\"E:\\new\\php\\php.exe\" -l \"$(FULL_CURRENT_PATH)\""},
        TextCase{"AfterABlank", true, U"cmd /k d:\\MY WEB\\a.bat D:\\my web\\b",
                 U"cmd /k E:\\new\\a.bat E:\\new\\b"},
        TextCase{"NotInsideAWord", true, U"x=D:\\my web\\a", U""},
        TextCase{"TheBareRootBeforeABlank", true, U"cmd /k cd /d D:\\my web && x",
                 U"cmd /k cd /d E:\\new && x"},
        TextCase{"TheBareRootBeforeAQuote", true, U"\"D:\\my web\" -x", U"\"E:\\new\" -x"},
        TextCase{"TheBareRootBeforeABlankOutsideCommands", false, U"D:\\my web x", U""},
        TextCase{"OutsideTheBundle", true,
                 U"\"C:\\Program Files\\Firefox\\firefox.exe\" \"$(FULL_CURRENT_PATH)\"", U""},
        TextCase{"SharesOnlyTheRootsText", true, U"\"D:\\my web2\\a.exe\"", U""},
        TextCase{"InsideTheNewRoot", true, U"\"E:\\new\\a.exe\"", U""},
        TextCase{"EmptyText", true, U"", U""}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

// A command line split as the editor splits it: the program up to the
// first blank outside double quotes, then each argument the same way, the
// quotes removed.
std::vector<std::u32string> EditorSplit(std::u32string_view line) {
  std::vector<std::u32string> words;
  std::u32string word;
  bool quoted = false, inWord = false;
  for (char32_t c : line) {
    if (c == U'"') {
      quoted = !quoted;
      inWord = true;
    } else if (c == U' ' && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// The arguments after the program as a program reads them by the C
// runtime's rules: 2n backslashes before a quote are n and the quote
// toggles, 2n+1 are n and a literal quote, others are themselves.
std::vector<std::u32string> RuntimeSplit(std::u32string_view line) {
  std::vector<std::u32string> words;
  std::u32string word;
  bool quoted = false, inWord = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    std::size_t backslashes = 0;
    while (i < line.size() && line[i] == U'\\') ++backslashes, ++i;
    if (i < line.size() && line[i] == U'"') {
      word.append(backslashes / 2, U'\\');
      if (backslashes % 2)
        word += U'"';
      else
        quoted = !quoted;
      inWord = true;
      continue;
    }
    word.append(backslashes, U'\\');
    inWord = inWord || backslashes > 0;
    if (i == line.size()) break;
    if ((line[i] == U' ' || line[i] == U'\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += line[i];
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// Run commands and interpreter settings moved into a folder with a blank:
// each is split by the editor's rule, and word `word` must be `path`.
struct CommandCase {
  const char* name;
  std::u32string text;
  std::u32string expected;  // empty: the text is left as it is
  std::size_t word;
  std::u32string path;
};
void PrintTo(const CommandCase& c, std::ostream* out) { *out << c.name; }

class MovedCommandTable : public ::testing::TestWithParam<CommandCase> {};

TEST_P(MovedCommandTable, TheEditorsSplitGivesTheMovedPath) {
  const CommandCase& c = GetParam();
  RootMove move{U"D:\\web\\", U"E:\\My Projects\\bundle\\", true};
  std::u32string moved = c.text;
  EXPECT_EQ(MovePathsInText(c.text, move, true, &moved), !c.expected.empty());
  if (!c.expected.empty()) {
    EXPECT_TRUE(moved == c.expected) << ::testing::PrintToString(moved);
  }
  std::vector<std::u32string> words = EditorSplit(moved);
  ASSERT_GT(words.size(), c.word);
  EXPECT_TRUE(words[c.word] == c.path) << ::testing::PrintToString(words[c.word]);
  // An argument reads the same to a program that splits by the C runtime.
  if (c.word > 0) {
    std::vector<std::u32string> arguments = RuntimeSplit(moved);
    ASSERT_GT(arguments.size(), c.word);
    EXPECT_TRUE(arguments[c.word] == c.path) << ::testing::PrintToString(arguments[c.word]);
  }
  std::u32string again;
  EXPECT_FALSE(MovePathsInText(moved, move, true, &again));
}

INSTANTIATE_TEST_SUITE_P(
    Values, MovedCommandTable,
    ::testing::Values(
        CommandCase{
            "UnquotedProgram", U"D:\\web\\server\\bin\\php.exe -l \"$(FULL_CURRENT_PATH)\"",
            U"\"E:\\My Projects\\bundle\\server\\bin\\php.exe\" -l \"$(FULL_CURRENT_PATH)\"", 0,
            U"E:\\My Projects\\bundle\\server\\bin\\php.exe"},
        CommandCase{"UnquotedArgument", U"cmd /k D:\\web\\server\\start.bat",
                    U"cmd /k \"E:\\My Projects\\bundle\\server\\start.bat\"", 2,
                    U"E:\\My Projects\\bundle\\server\\start.bat"},
        CommandCase{"ProgramAndArgument", U"D:\\web\\php\\php.exe -S localhost:80 -t D:\\web\\www",
                    U"\"E:\\My Projects\\bundle\\php\\php.exe\" -S localhost:80 -t "
                    U"\"E:\\My Projects\\bundle\\www\"",
                    4, U"E:\\My Projects\\bundle\\www"},
        CommandCase{"OtherLetterCase", U"d:\\WEB\\php.exe -v",
                    U"\"E:\\My Projects\\bundle\\php.exe\" -v", 0,
                    U"E:\\My Projects\\bundle\\php.exe"},
        CommandCase{"QuotedProgram", U"\"D:\\web\\php\\php.exe\" -l \"$(FULL_CURRENT_PATH)\"",
                    U"\"E:\\My Projects\\bundle\\php\\php.exe\" -l \"$(FULL_CURRENT_PATH)\"", 0,
                    U"E:\\My Projects\\bundle\\php\\php.exe"},
        CommandCase{"QuotedArgument", U"php.exe -f \"D:\\web\\a b.php\" -- x",
                    U"php.exe -f \"E:\\My Projects\\bundle\\a b.php\" -- x", 2,
                    U"E:\\My Projects\\bundle\\a b.php"},
        CommandCase{"InsideAQuotedCommand", U"cmd /c \"type D:\\web\\a.txt\"",
                    U"cmd /c \"type E:\\My Projects\\bundle\\a.txt\"", 2,
                    U"type E:\\My Projects\\bundle\\a.txt"},
        CommandCase{"TheRootAsAnArgument", U"explorer D:\\web\\",
                    U"explorer \"E:\\My Projects\\bundle\"\\", 1, U"E:\\My Projects\\bundle\\"},
        CommandCase{"TheBareRootBeforeMore", U"cmd /k cd /d D:\\web && php -v",
                    U"cmd /k cd /d \"E:\\My Projects\\bundle\" && php -v", 4,
                    U"E:\\My Projects\\bundle"},
        CommandCase{"TheBareRootAtTheEnd", U"explorer D:\\web",
                    U"explorer \"E:\\My Projects\\bundle\"", 1, U"E:\\My Projects\\bundle"},
        CommandCase{"APathRunningIntoQuotes", U"D:\\web\\\"my app\"\\run.exe x",
                    U"\"E:\\My Projects\\bundle\"\\\"my app\"\\run.exe x", 0,
                    U"E:\\My Projects\\bundle\\my app\\run.exe"},
        CommandCase{"OutsideTheOldRoot", U"C:\\tools\\php.exe -l D:\\webx\\a.php", U"", 2,
                    U"D:\\webx\\a.php"},
        CommandCase{"AlreadyInsideTheNewRoot", U"\"E:\\My Projects\\bundle\\php.exe\" -v", U"", 0,
                    U"E:\\My Projects\\bundle\\php.exe"}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

// A moved path outside a command line is never quoted: the editor reads
// such a text whole.
TEST(MovedCommandText, OtherTextsAreNotQuoted) {
  RootMove move{U"D:\\web\\", U"E:\\My Projects\\bundle\\", true};
  std::u32string moved;
  ASSERT_TRUE(MovePathsInText(U"D:\\web\\a.php", move, false, &moved));
  EXPECT_TRUE(moved == U"E:\\My Projects\\bundle\\a.php");
}

// php.ini's values, read as lists of places in the file's bytes.
struct IniCase {
  const char* name;
  IniPathRules rules;
  std::string value;
  std::string expected;                  // empty: the value is left as it is
  std::vector<ByteRootMove> moves = {};  // empty: MovesFor(rules)
};
void PrintTo(const IniCase& c, std::ostream* out) { *out << c.name; }

class MoveIniPathListTable : public ::testing::TestWithParam<IniCase> {};

// Windows: D:\web\ (its recorded short form D:\WEB~1\ too) to E:\new place\;
// POSIX: /old/place/ to /new/place/.
std::vector<ByteRootMove> MovesFor(const IniPathRules& rules) {
  auto move = [](const char* from, const char* to, bool fold) {
    return ByteRootMove{from, to, fold};
  };
  if (rules.slashSeparates)
    return {move("D:\\web\\", "E:\\new place\\", true),
            move("D:\\WEB~1\\", "E:\\new place\\", true)};
  return {move("/old/place/", "/new/place/", false)};
}

TEST_P(MoveIniPathListTable, MovesEachPlaceInsideTheOldRoot) {
  const IniCase& c = GetParam();
  std::string moved = "untouched";
  const std::vector<ByteRootMove> moves = c.moves.empty() ? MovesFor(c.rules) : c.moves;
  bool changed = MoveIniPathList(c.value, moves, c.rules, &moved);
  EXPECT_EQ(changed, !c.expected.empty());
  EXPECT_EQ(moved, changed ? c.expected : "untouched");
  if (changed) {
    std::string again;
    EXPECT_FALSE(MoveIniPathList(moved, moves, c.rules, &again)) << again;
  }
}

const IniPathRules kWin = kWindowsIniPaths, kPosix = kPosixIniPaths;
// A bundle on a share: its places in double quotes need their leading
// backslashes escaped for PHP to read "\\NAS\...". Moved onto the share they
// are written so; moved off it, a place written escaped and one written
// without its escapes (which PHP misread as "\NAS\...") both follow.
const std::vector<ByteRootMove> kToShare{{"D:\\web\\", "\\\\NAS\\share\\bundle\\", true}};
const std::vector<ByteRootMove> kFromShare{{"\\\\NAS\\share\\bundle\\", "E:\\web bundle\\", true}};
INSTANTIATE_TEST_SUITE_P(
    Values, MoveIniPathListTable,
    ::testing::Values(
        IniCase{"Quoted", kWin, "\"D:\\web\\server\\ext\"", "\"E:\\new place\\server\\ext\""},
        IniCase{"Bare", kWin, "D:\\web\\logs\\php.log", "E:\\new place\\logs\\php.log"},
        IniCase{"BareWithComment", kPosix, "/old/place/logs/php.log ; the log",
                "/new/place/logs/php.log ; the log"},
        IniCase{"ListWithTheOldRootInTheMiddle", kWin, "\".;C:\\php\\pear;D:\\web\\PEAR;D:\\web\"",
                "\".;C:\\php\\pear;E:\\new place\\PEAR;E:\\new place\""},
        IniCase{"PosixList", kPosix, "\".:/old/place/PEAR:/usr/share/php:/old/place\"",
                "\".:/new/place/PEAR:/usr/share/php:/new/place\""},
        IniCase{"SavePathDepth", kPosix, "\"2;/old/place/temp\"", "\"2;/new/place/temp\""},
        IniCase{"SavePathDepthAndMode", kPosix, "\"2;0700;/old/place/temp\"",
                "\"2;0700;/new/place/temp\""},
        IniCase{"SavePathDepthOnWindows", kWin, "\"2;D:\\web\\temp\"", "\"2;E:\\new place\\temp\""},
        IniCase{"OtherLetterCase", kWin, "d:\\WEB\\ext", "E:\\new place\\ext"},
        IniCase{"SlashSeparators", kWin, "\"D:/web/server/ext\"", "\"E:/new place/server/ext\""},
        IniCase{"SlashesInOtherCase", kWin, "\"d:/Web/ext;D:/web\"",
                "\"E:/new place/ext;E:/new place\""},
        IniCase{"SingleQuoted", kWin, "'D:\\web\\www' ; users", "'E:\\new place\\www' ; users"},
        IniCase{"CommentLeftAlone", kWin, "D:\\web\\a ; was D:\\web\\b",
                "E:\\new place\\a ; was D:\\web\\b"},
        IniCase{"PosixCommentLeftAlone", kPosix, "/srv/x ; was:/old/place/x", ""},
        IniCase{"BackslashBeforeTheQuoteEndingTheLine", kWin, "\"D:\\web\\ext\\\"",
                "\"E:\\new place\\ext\\\""},
        IniCase{"EscapesThatNoLongerFitRewritten", kWin, "\"D:\\\\web\\\\ext\"",
                "\"E:\\new place\\ext\""},
        IniCase{"VariableKept", kWin, "\"${PHPRC};D:\\web\\pear\"",
                "\"${PHPRC};E:\\new place\\pear\""},
        IniCase{"EveryPiece", kWin, "\"D:\\web\\a\" D:\\web\\b'D:\\web\\c'",
                "\"E:\\new place\\a\" E:\\new place\\b'E:\\new place\\c'"},
        IniCase{"UnclosedDoubleLeftAlone", kWin, "\"D:\\web\\ext", ""},
        IniCase{"UnclosedSingleLeftAlone", kWin, "'D:\\web\\ext", ""},
        IniCase{"UnclosedVariableLeftAlone", kWin, "D:\\web\\${x", ""},
        IniCase{"SlashesAreNotWindowsOnPosix", kPosix, "D:/web/ext", ""},
        IniCase{"QuotedOntoAShare", kWin, "\"D:\\web\\logs\\php.log\"",
                "\"\\\\\\NAS\\share\\bundle\\logs\\php.log\"", kToShare},
        IniCase{"BareOntoAShare", kWin, "D:\\web\\ext", "\\\\NAS\\share\\bundle\\ext", kToShare},
        IniCase{"EscapedOffAShare", kWin, "\"\\\\\\NAS\\share\\bundle\\logs\\php.log\"",
                "\"E:\\web bundle\\logs\\php.log\"", kFromShare},
        IniCase{"UnescapedOffAShare", kWin, "\"\\\\NAS\\share\\bundle\\logs\\php.log\"",
                "\"E:\\web bundle\\logs\\php.log\"", kFromShare},
        IniCase{"BareOffAShareInOtherCase", kWin, "\\\\nas\\SHARE\\bundle\\ext",
                "E:\\web bundle\\ext", kFromShare},
        IniCase{"AnotherShareOfTheServer", kWin, "\"\\\\NAS\\shared\\x\"", "", kFromShare},
        IniCase{"OtherCaseOnPosix", kPosix, "/OLD/place/ext", ""},
        IniCase{"RecordedShortForm", kWin, "\"D:\\WEB~1\\ext\"", "\"E:\\new place\\ext\""},
        IniCase{"SharesOnlyTheRootsText", kWin, "D:\\web2\\ext;D:\\webx", ""},
        IniCase{"InsideTheNewRoot", kWin, "\"E:\\new place\\ext\"", ""},
        IniCase{"OutsideTheRoot", kWin, "\"C:\\php\\ext\";On", ""},
        IniCase{"BytesBeyondAsciiKept", kWin, "D:\\web\\Caf\xE9\\\x8A.txt",
                "E:\\new place\\Caf\xE9\\\x8A.txt"},
        IniCase{"EmptyValue", kPosix, "", ""}),
    [](const ::testing::TestParamInfo<IniCase>& info) { return std::string(info.param.name); });

// Every group's values, but the one the launcher sets itself; comments and
// keys stay.
TEST(MoveIniPathValues, EveryGroupButTheValueSetApart) {
  testing::TempDir dir;
  std::string path = dir.Write("php.ini",
                               "[PHP]\n;extension_dir = \"/old/place/ext\"\n"
                               "extension_dir = \"/old/place/ext\"\n"
                               "auto_prepend_file = /old/place/h.php\nengine = On\n"
                               "[Session]\nsession.save_path = \"3;/old/place/temp\"\n"
                               "[curl]\ncurl.cainfo = /old/place/ca.pem\n");
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  EXPECT_EQ(MoveIniPathValues(MovesFor(kPosix), kPosix, "php", "AUTO_PREPEND_FILE"), 3);
  ASSERT_NE(CloseIniFile(), 0);
  EXPECT_EQ(dir.Read("php.ini"),
            "[PHP]\r\n; extension_dir = \"/old/place/ext\"\r\n"
            "extension_dir = \"/new/place/ext\"\r\n"
            "auto_prepend_file = /old/place/h.php\r\nengine = On\r\n"
            "[Session]\r\nsession.save_path = \"3;/new/place/temp\"\r\n"
            "[curl]\r\ncurl.cainfo = /new/place/ca.pem\r\n");
}

}  // namespace
}  // namespace qg
