// Selecting groups, setting keys and the text written back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files/utf8.h"
#include "prefs/ini_file.h"
#include "prefs/ini_model.h"
#include "system/platform.h"
#include "tests/prefs/ini_test_util.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// One call: 'S' SelectIniGroup(a) expecting `result`; 'W' WriteIniString(a, b)
// expecting success; 'E' EditIniValues giving every value that starts with a
// the text b in place of a, and value "group/key" to a value "?", expecting
// `result` values changed.
struct Op {
  char call;
  const char* a;
  const char* b = nullptr;
  int result = 1;
};

struct EditCase {
  const char* name;
  std::string input;
  std::uint32_t flags;
  std::vector<Op> ops;
  std::string output;
};

const char kPath[] = "\"C:\\Bundle\\server\\modules\\php\\PHP-5.6-5.7\\header.php\"";

const EditCase kEditCases[] = {
    {"LauncherExample",
     "[PHP]\n\n;;;; notes\n  mode=fast\nauto_prepend_file =\n[Other]   ; x\n",
     0,
     {{'S', "PHP"}, {'W', "auto_prepend_file", kPath}},
     "[PHP]\r\n; ;;; notes\r\nmode = fast\r\nauto_prepend_file = "s + kPath + "\r\n[Other]\r\n"},
    {"KeyAddedAtEndOfGroup",
     "[PHP]\nmode=fast\n\n[Other]\nk=v\n",
     0,
     {{'S', "PHP"}, {'W', "auto_prepend_file", "x"}},
     "[PHP]\r\nmode = fast\r\nauto_prepend_file = x\r\n[Other]\r\nk = v\r\n"},
    {"GroupAppendedWhenMissing",
     "[Other]\r\nk=v",
     0,
     {{'S', "PHP", nullptr, 0}, {'W', "auto_prepend_file", "x"}},
     "[Other]\r\nk = v\r\n[PHP]\r\nauto_prepend_file = x\r\n"},
    {"KeyReplacedInPlaceWithCallersCase",
     "[php]\nAUTO_PREPEND_FILE = old value\nz=1\n",
     0,
     {{'S', "PHP"}, {'W', "auto_prepend_file", "new"}},
     "[php]\r\nauto_prepend_file = new\r\nz = 1\r\n"},
    {"LongerValueGetsOwnStorage",
     "[A]\nk=ab\nn=1\n",
     0,
     {{'S', "A"}, {'W', "k", "abcdefgh"}, {'W', "k", "abcdefghijklmnop"}, {'W', "k", "xy"}},
     "[A]\r\nk = xy\r\nn = 1\r\n"},
    {"EmptyValue",
     "[A]\nk=ab\n",
     0,
     {{'S', "A"}, {'W', "k", ""}, {'W', "e", nullptr}},
     "[A]\r\nk = \r\ne = \r\n"},
    {"KeyOnlyInCommentIsNoMatch",
     "[PHP]\n;auto_prepend_file = x\n[B]\n",
     0,
     {{'S', "PHP"}, {'W', "auto_prepend_file", "v"}},
     "[PHP]\r\n; auto_prepend_file = x\r\nauto_prepend_file = v\r\n[B]\r\n"},
    {"NewKeyAfterTrailingComments",
     "[A]\nk=1\n; c1\n\n;c2\n[B]\nn=2\n",
     0,
     {{'S', "a"}, {'W', "new", "v"}},
     "[A]\r\nk = 1\r\n; c1\r\n; c2\r\nnew = v\r\n[B]\r\nn = 2\r\n"},
    {"EmptyGroupGetsKeyAfterHeader",
     "[A]\n[B]\n",
     0,
     {{'S', "A"}, {'W', "k", "v"}},
     "[A]\r\nk = v\r\n[B]\r\n"},
    {"FirstOfTwoSameNamedGroupsWins",
     "[P]\na=1\n[Q]\n[p]\nb=2\n",
     0,
     {{'S', "p"}, {'W', "b", "3"}},
     "[P]\r\na = 1\r\nb = 3\r\n[Q]\r\n[p]\r\nb = 2\r\n"},
    {"KeyOfAnotherGroupIsNoMatch",
     "k=top\n[A]\nx=1\n[B]\nk=b\n",
     0,
     {{'S', "A"}, {'W', "k", "a"}},
     "k = top\r\n[A]\r\nx = 1\r\nk = a\r\n[B]\r\nk = b\r\n"},
    {"TopOfEmptyFile", "", 0, {{'W', "k", "v"}}, "k = v\r\n"},
    {"TopOfFileStartingWithHeader",
     "[A]\nx=1\n",
     0,
     {{'W', "k", "v"}},
     "k = v\r\n[A]\r\nx = 1\r\n"},
    {"TopAfterLeadingLines",
     "top=1\n;c\n[A]\nk=a\n",
     0,
     {{'S', "A"}, {'S', ""}, {'W', "k", "v"}},
     "top = 1\r\n; c\r\nk = v\r\n[A]\r\nk = a\r\n"},
    {"TopKeyFoundBeforeFirstGroup",
     "K=1\n[A]\nk=a\n",
     0,
     {{'S', nullptr}, {'W', "k", "2"}},
     "k = 2\r\n[A]\r\nk = a\r\n"},
    {"TopOfFileWithoutGroups", "a=1\n", 0, {{'W', "k", "v"}}, "a = 1\r\nk = v\r\n"},
    {"TwoWritesAfterFailedSelectMakeOneGroup",
     "[A]\na=1\n",
     0,
     {{'S', "New", nullptr, 0}, {'W', "x", "1"}, {'W', "y", "2"}},
     "[A]\r\na = 1\r\n[New]\r\nx = 1\r\ny = 2\r\n"},
    {"FailedSelectThenGoodSelectForgetsPending",
     "[A]\na=1\n",
     0,
     {{'S', "New", nullptr, 0}, {'S', "a"}, {'W', "x", "1"}},
     "[A]\r\na = 1\r\nx = 1\r\n"},
    {"EqualValueStillRewrites",
     "[A]\n  k=v  \n",
     0,
     {{'S', "A"}, {'W', "k", "v  "}},
     "[A]\r\nk = v  \r\n"},
    {"Utf8MarkKeptAndValueEncoded",
     "\xEF\xBB\xBF[PHP]\nv=\xC3\xA9t\xC3\xA9\n",
     0,
     {{'S', "PHP"}, {'W', "v", "caf\xE9"}, {'W', "n\xE9", "\xE9"}},
     "\xEF\xBB\xBF\r\n[PHP]\r\nv = caf\xC3\xA9\r\nn\xC3\xA9 = \xC3\xA9\r\n"},
    {"Utf8NamesCompareEncoded",
     "\xEF\xBB\xBF[Caf\xC3\xA9]\r\nCl\xC3\xA9=1\r\n",
     0,
     {{'S', "CAF\xE9"}, {'W', "cL\xE9", "2"}},
     "\xEF\xBB\xBF\r\n[Caf\xC3\xA9]\r\ncL\xC3\xA9 = 2\r\n"},
    {"Utf8PendingGroupEncoded",
     "\xEF\xBB\xBF",
     0,
     {{'S', "\xC9t\xE9", nullptr, 0}, {'W', "k", "v"}},
     "\xEF\xBB\xBF\r\n[\xC3\x89t\xC3\xA9]\r\nk = v\r\n"},
    {"WithoutMarkBytesStayAsTheyAre",
     "[PHP]\nv=x\n",
     0,
     {{'S', "PHP"}, {'W', "v", "caf\xE9"}},
     "[PHP]\r\nv = caf\xE9\r\n"},
    {"EveryValueEditedInPlace",
     "top=/old/t\n[A]\n;k=/old/comment\nk = /old/a  \nn=/older\n[B]\nK=\"/old/b\"\n",
     0,
     {{'E', "/old/", "/new/", 2}},
     "top = /new/t\r\n[A]\r\n; k=/old/comment\r\nk = /new/a  \r\nn = /older\r\n[B]\r\n"
     "K = \"/old/b\"\r\n"},
    {"EditedValuesOutgrowAndShrink",
     "[A]\nk=ab\nn=ab\n",
     0,
     {{'E', "a", "a much longer value than before ", 2}, {'E', "a much", "x", 2}},
     "[A]\r\nk = x longer value than before b\r\nn = x longer value than before b\r\n"},
    {"EditSeesGroupAndKey",
     "k=?\n[A]\nk=?\n[b]\nk=?\n",
     0,
     {{'E', "-", "-", 3}},
     "k = /k\r\n[A]\r\nk = A/k\r\n[b]\r\nk = b/k\r\n"},
    {"EditThenWrite",
     "[PHP]\nauto_prepend_file=/old/h.php\n",
     0,
     {{'E', "/old/", "/new/", 1}, {'S', "PHP"}, {'W', "auto_prepend_file", "/x.php"}},
     "[PHP]\r\nauto_prepend_file = /x.php\r\n"},
    {"CompactSeparator",
     "[A]\nk = v\nn=1\n[B]\n",
     CompactSeparator,
     {{'S', "A"}, {'W', "k", "w"}},
     "[A]\r\nk=w\r\nn=1\r\n[B]\r\n"},
    {"BlankLineBeforeGroups",
     "top=1\n[A]\n[B]\nb=2\n",
     BlankLineBeforeGroups,
     {{'S', "B"}, {'W', "c", "3"}},
     "top = 1\r\n[A]\r\n\r\n[B]\r\nb = 2\r\nc = 3\r\n"},
    {"BothFlags",
     "\xEF\xBB\xBF[A]\n[B]\n",
     CompactSeparator | BlankLineBeforeGroups,
     {{'S', "A"}, {'W', "k", "v"}},
     "\xEF\xBB\xBF\r\n[A]\r\nk=v\r\n\r\n[B]\r\n"},
};

void PrintTo(const EditCase& c, std::ostream* out) { *out << c.name; }

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The 'E' op's edit: `context` is the op.
const char* ReplacePrefix(const IniKeyLine& line, void* context) {
  static std::string value;
  const Op& op = *static_cast<const Op*>(context);
  std::string_view old = line.value;
  if (old == "?") {
    value = std::string(line.group) + "/" + line.key;
    return value.c_str();
  }
  if (old.substr(0, std::strlen(op.a)) != op.a) return nullptr;
  value = op.b + std::string(old.substr(std::strlen(op.a)));
  return value.c_str();
}

void RunOps(const std::vector<Op>& ops) {
  for (const Op& op : ops) {
    if (op.call == 'E') {
      EXPECT_EQ(EditIniValues(ReplacePrefix, const_cast<Op*>(&op)), op.result);
    } else if (op.call == 'S') {
      EXPECT_EQ(SelectIniGroup(op.a), op.result) << "select " << (op.a ? op.a : "(null)");
    } else {
      const char* stored = WriteIniString(op.a, op.b);
      EXPECT_NE(stored, nullptr) << "write " << op.a;
    }
  }
}

class EditTest : public ::testing::TestWithParam<EditCase> {
 protected:
  void TearDown() override { CloseIniFile(); }
  testing::TempDir dir_;
};

TEST_P(EditTest, WritesBackExactBytes) {
  const EditCase& c = GetParam();
  std::string path = dir_.Write("php.ini", c.input);
  ASSERT_NE(OpenIniFile(path.c_str(), c.flags), 0);
  RunOps(c.ops);
  CloseIniFile();
  EXPECT_EQ(Printable(dir_.Read("php.ini")), Printable(c.output));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Root()), fs::directory_iterator()), 1)
      << "only the file itself is left in its folder";
}

INSTANTIATE_TEST_SUITE_P(Files, EditTest, ::testing::ValuesIn(kEditCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A written file, loaded again and given one of its own values once more,
// is written back byte for byte the same.
TEST_P(EditTest, WrittenTextIsStable) {
  const EditCase& c = GetParam();
  std::string path = dir_.Write("php.ini", c.output);
  ASSERT_NE(OpenIniFile(path.c_str(), c.flags), 0);
  ASSERT_NE(TheIniFile().first, nullptr);
  IniEntry* key = TheIniFile().first;
  while (key && key->kind != KeyValue) key = key->next;
  ASSERT_NE(key, nullptr);
  std::string name = key->key, value = key->text;
  if (TheIniFile().codePage == Utf8CodePage) {
    // Callers hand in narrow text; the file holds it encoded.
    name.resize(NarrowFromUtf8(key->key, name.size(), name.data(), name.size()));
    value.resize(NarrowFromUtf8(key->text, value.size(), value.data(), value.size()));
  }
  for (IniEntry* e = TheIniFile().first; e != key; e = e->next) {
    if (e->kind == GroupHeader) {
      std::string group = e->text;
      if (TheIniFile().codePage == Utf8CodePage)
        group.resize(NarrowFromUtf8(e->text, group.size(), group.data(), group.size()));
      ASSERT_EQ(SelectIniGroup(group.c_str()), 1);
    }
  }
  ASSERT_NE(WriteIniString(name.c_str(), value.c_str()), nullptr);
  CloseIniFile();
  EXPECT_EQ(Printable(dir_.Read("php.ini")), Printable(c.output));
}

TEST(WriteIniString, ReturnsTheStoredValue) {
  testing::TempDir dir;
  std::string path = dir.Write("u.ini", "\xEF\xBB\xBF[A]\n");
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  ASSERT_EQ(SelectIniGroup("A"), 1);
  const char* stored = WriteIniString("k", "\xE9t\xE9");
  ASSERT_NE(stored, nullptr);
  EXPECT_STREQ(stored, "\xC3\xA9t\xC3\xA9");
  EXPECT_TRUE(TheIniFile().modified);
  CloseIniFile();
}

TEST(WriteIniString, InPlaceWhenTheValueFits) {
  testing::TempDir dir;
  std::string path = dir.Write("a.ini", "[A]\nk=longer value\n");
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  ASSERT_EQ(SelectIniGroup("A"), 1);
  const char* old = TheIniFile().first->next->text;
  EXPECT_EQ(WriteIniString("k", "short"), old);
  EXPECT_NE(WriteIniString("k", "a value longer than before"), old);
  CloseIniFile();
}

TEST(Lifecycle, NothingLoadedMeansEveryCallFails) {
  CloseIniFile();
  EXPECT_EQ(SelectIniGroup("PHP"), 0);
  EXPECT_EQ(SelectIniGroup(""), 0);
  EXPECT_EQ(WriteIniString("k", "v"), nullptr);
  EXPECT_EQ(TheIniFile().pendingGroup, nullptr);
  CloseIniFile();
}

TEST(Lifecycle, CallsFailAfterClose) {
  testing::TempDir dir;
  std::string path = dir.Write("a.ini", "[A]\n");
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  CloseIniFile();
  EXPECT_EQ(SelectIniGroup("A"), 0);
  EXPECT_EQ(WriteIniString("k", "v"), nullptr);
  EXPECT_EQ(dir.Read("a.ini"), "[A]\n");
}

TEST(Lifecycle, OpenWritesBackThePreviousFile) {
  testing::TempDir dir;
  std::string first = dir.Write("first.ini", "[A]\n");
  std::string second = dir.Write("second.ini", "x=1\n");
  ASSERT_NE(OpenIniFile(first.c_str(), 0), 0);
  ASSERT_NE(WriteIniString("k", "v"), nullptr);
  ASSERT_NE(OpenIniFile(second.c_str(), 0), 0);
  EXPECT_EQ(dir.Read("first.ini"), "k = v\r\n[A]\r\n");
  EXPECT_EQ(testing::EntryTexts(), std::vector<std::string>{"x|1"});
  CloseIniFile();
  EXPECT_EQ(dir.Read("second.ini"), "x=1\n");
}

TEST(Lifecycle, InitClearsTheLibrary) {
  InitPreferenceLibrary();
  EXPECT_EQ(TheIniFile().handle, 0u);
  EXPECT_EQ(TheIniFile().first, nullptr);
  EXPECT_EQ(SelectIniGroup(""), 0);
}

TEST(WriteBack, UnmodifiedFileIsNotTouched) {
  testing::TempDir dir;
  std::string input = "  [PHP] x\r\n\r\nk=v\n;c\r";
  std::string path = dir.Write("php.ini", input);
  auto old = fs::last_write_time(path) - std::chrono::hours(24);
  fs::last_write_time(path, old);
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  EXPECT_EQ(SelectIniGroup("PHP"), 1);
  EXPECT_EQ(SelectIniGroup("Missing"), 0);
  CloseIniFile();
  EXPECT_EQ(dir.Read("php.ini"), input);
  EXPECT_EQ(fs::last_write_time(path), old);
}

TEST(WriteBack, MissingFileIsCreatedWithTheTwoLines) {
  testing::TempDir dir;
  std::string path = dir.Path("php.ini");
  EXPECT_EQ(OpenIniFile(path.c_str(), 0), 0);
  EXPECT_EQ(SelectIniGroup("PHP"), 0);
  ASSERT_NE(WriteIniString("auto_prepend_file", kPath), nullptr);
  CloseIniFile();
  EXPECT_EQ(dir.Read("php.ini"), "[PHP]\r\nauto_prepend_file = "s + kPath + "\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Root()), fs::directory_iterator()), 1);
}

TEST(WriteBack, MissingFolderCreatesNothing) {
  testing::TempDir dir;
  std::string path = dir.Path("absent/php.ini");
  EXPECT_EQ(OpenIniFile(path.c_str(), 0), 0);
  EXPECT_NE(WriteIniString("k", "v"), nullptr);
  CloseIniFile();
  EXPECT_TRUE(fs::is_empty(dir.Root()));
}

TEST(WriteBack, EmptyPathWritesNothing) {
  EXPECT_EQ(OpenIniFile(nullptr, 0), 0);
  EXPECT_EQ(SelectIniGroup(""), 1);
  EXPECT_NE(WriteIniString("k", "v"), nullptr);
  CloseIniFile();
  EXPECT_FALSE(fs::exists(".quillgate-new"));
}

// A file another open keeps from being written loads read-only; the changes
// are dropped at close.
struct ShareCase {
  const char* name;
  std::uint32_t access;
  std::uint32_t share;
};

class ReadOnlyTest : public ::testing::TestWithParam<ShareCase> {};

TEST_P(ReadOnlyTest, ChangesAreDropped) {
  testing::TempDir dir;
  std::string input = "[PHP]\nk=v\n";
  std::string path = dir.Write("php.ini", input);
  Handle other =
      Sys().CreateFileA(path.c_str(), GetParam().access, GetParam().share, Creation::OpenExisting);
  ASSERT_NE(other, 0u);
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  EXPECT_TRUE(TheIniFile().readOnly);
  EXPECT_EQ(testing::EntryTexts(), (std::vector<std::string>{"[PHP", "k|v"}));
  EXPECT_EQ(SelectIniGroup("PHP"), 1);
  EXPECT_STREQ(WriteIniString("k", "changed"), "changed");
  CloseIniFile();
  Sys().CloseHandle(other);
  EXPECT_EQ(dir.Read("php.ini"), input);
  EXPECT_FALSE(dir.Exists("php.ini.quillgate-new"));
}

INSTANTIATE_TEST_SUITE_P(Sharing, ReadOnlyTest,
                         ::testing::Values(
                             // Refuses writers: only the read-with-share-read open is allowed.
                             ShareCase{"ReaderDenyingWrites", GENERIC_READ_ACCESS,
                                       FILE_SHARE_READ_MODE},
                             // A writer that shares: only a read that shares writing is allowed.
                             ShareCase{"SharingWriter", GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS,
                                       FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WriteBack, ReadOnlyAttributeDropsChanges) {
  testing::TempDir dir;
  std::string input = "[PHP]\nk=v\n";
  std::string path = dir.Write("php.ini", input);
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // Wine run as root lets a read-only file be opened for writing; Windows
  // and our POSIX layer do not.
  Handle probe = Sys().CreateFileA(path.c_str(), GENERIC_WRITE_ACCESS, FILE_SHARE_READ_MODE,
                                   Creation::OpenExisting);
  if (probe) {
    Sys().CloseHandle(probe);
    GTEST_SKIP() << "this system ignores the read-only attribute";
  }
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  EXPECT_TRUE(TheIniFile().readOnly);
  EXPECT_NE(WriteIniString("k", "changed"), nullptr);
  CloseIniFile();
  EXPECT_EQ(dir.Read("php.ini"), input);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Root()), fs::directory_iterator()), 1);
}

// A file that exists but cannot be opened at all is treated as missing; its
// write-back must not replace it with only the new entries.
TEST(WriteBack, ExistingFileThatCouldNotBeOpenedIsKept) {
  testing::TempDir dir;
  std::string input = "[PHP]\nk=v\nother=1\n";
  std::string path = dir.Write("php.ini", input);
  Handle other = Sys().CreateFileA(path.c_str(), GENERIC_READ_ACCESS, 0, Creation::OpenExisting);
  ASSERT_NE(other, 0u);
  EXPECT_EQ(OpenIniFile(path.c_str(), 0), 0);
  EXPECT_EQ(SelectIniGroup("PHP"), 0);
  EXPECT_NE(WriteIniString("k", "new"), nullptr);
  CloseIniFile();
  Sys().CloseHandle(other);
  EXPECT_EQ(dir.Read("php.ini"), input);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Root()), fs::directory_iterator()), 1);
}

TEST(WriteBack, StaleTemporaryFileIsReplaced) {
  testing::TempDir dir;
  std::string path = dir.Write("php.ini", "[PHP]\n");
  dir.Write("php.ini.quillgate-new", "left over from a crash, longer than the new text");
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  ASSERT_EQ(SelectIniGroup("PHP"), 1);
  ASSERT_NE(WriteIniString("k", "v"), nullptr);
  CloseIniFile();
  EXPECT_EQ(dir.Read("php.ini"), "[PHP]\r\nk = v\r\n");
  EXPECT_FALSE(dir.Exists("php.ini.quillgate-new"));
}

}  // namespace
}  // namespace qg
