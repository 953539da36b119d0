// Which of the editor's values follow a move of the bundle, and to where.
#include "launcher/moved_paths.h"

#include <gtest/gtest.h>

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
        Case{"EmptyValue", kOld, kNew, true, U"", U""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qg
