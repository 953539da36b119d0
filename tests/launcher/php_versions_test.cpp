// The PHP runtimes' folders of a bundle, listed through the platform: the
// shapes a PHP folder comes in, the order a FAT stick lists them in, a
// folder named beyond the code page, and a listing that fails part way.
#include "launcher/php_versions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "system/paths.h"
#include "system/platform.h"
#include "tests/support/faulty_platform.h"
#include "tests/support/platform_scope.h"
#include "tests/support/simulated_platform.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_names.h"

namespace qg {
namespace {

namespace fs = std::filesystem;
using testing::PlatformScope;
using testing::SimulatedPlatform;
using testing::TempDir;

const std::string kPhpFolder = std::string("server") + kSep + "modules" + kSep + "php" + kSep;

// Makes `files` (folders made as needed) and `folders` below `base`.
void Lay(const fs::path& base, const std::vector<std::string>& files,
         const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) fs::create_directories(base / fs::u8path(folder));
  for (const std::string& file : files) {
    fs::path path = base / fs::u8path(file);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << "[PHP]\n";  // by its wide name on Windows
  }
}

struct Shape {
  const char* name;
  std::vector<std::string> files;    // below the PHP folder
  std::vector<std::string> folders;  // below the PHP folder; "" is the folder itself
  std::vector<std::string> order;    // the order the volume lists them in, when not its own
  bool listed;
  std::vector<std::string> names;  // when listed
  std::uint32_t error;             // when not
};

void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.name; }

class PhpFolderShape : public ::testing::TestWithParam<Shape> {};

TEST_P(PhpFolderShape, GivesTheRuntimesWithAPhpIniInByteOrder) {
  const Shape& shape = GetParam();
  TempDir dir;
  fs::path php = dir.Root() / "server" / "modules" / "php";
  Lay(php, shape.files, shape.folders);
  SimulatedPlatform sim;
  sim.SetListingOrder(shape.order);
  PlatformScope scope(sim);
  PhpVersionFolders found;
  found.names = {"left over"};
  found.unreachable = 7;
  std::string phpDir = php.string() + kSep;
  bool listed = ListPhpVersionFolders(phpDir, &found);
  std::uint32_t error = sim.GetLastError();
  ASSERT_EQ(listed, shape.listed);
  if (listed) {
    EXPECT_EQ(found.names, shape.names);
  } else {
    EXPECT_EQ(error, shape.error);
    EXPECT_TRUE(found.names.empty());
  }
  EXPECT_EQ(found.unreachable, 0u);
  EXPECT_EQ(sim.Listings(), listed ? 1 : 0);
  EXPECT_EQ(sim.OpenHandles(), 0u) << "the listing was not closed";
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PhpFolderShape,
    ::testing::Values(
        Shape{"versions made out of order",
              {"PHP-8.2/php.ini", "PHP-5.6-5.7/php.ini", "PHP-7.4/php.ini"},
              {},
              {"PHP-8.2", ".", "PHP-7.4", "..", "PHP-5.6-5.7"},
              true,
              {"PHP-5.6-5.7", "PHP-7.4", "PHP-8.2"},
              0},
        Shape{"bytes decide, not letter case or numbers",
              {"php-8.0/php.ini", "PHP-8.1/php.ini", "PHP-10.0/php.ini", "PHP-7.4 (1)/php.ini",
               "PHP 8.2/php.ini"},
              {},
              {"php-8.0", "PHP-8.1", "PHP-7.4 (1)", "PHP-10.0", "PHP 8.2"},
              true,
              {"PHP 8.2", "PHP-10.0", "PHP-7.4 (1)", "PHP-8.1", "php-8.0"},
              0},
        Shape{"a folder without php.ini",
              {"PHP-7.4/php.ini-development", "PHP-7.4/ext/php_curl.dll", "PHP-8.2/php.ini"},
              {"PHP-9.0"},
              {"PHP-9.0", "PHP-8.2", "PHP-7.4"},
              true,
              {"PHP-8.2"},
              0},
        Shape{"php.ini a folder",
              {"PHP-8.2/php.ini"},
              {"PHP-7.4/php.ini"},
              {"PHP-7.4", "PHP-8.2"},
              true,
              {"PHP-8.2"},
              0},
        Shape{"files beside the folders",
              {"php.ini", "PHP-8.2.zip", "README", "PHP-8.2/php.ini"},
              {},
              {"php.ini", "PHP-8.2.zip", "PHP-8.2", "README"},
              true,
              {"PHP-8.2"},
              0},
        Shape{"an empty folder", {}, {""}, {}, true, {}, 0},
        Shape{"the folder missing", {}, {}, {}, false, {}, ERROR_PATH_NOT_FOUND_CODE}),
    [](const auto& info) { return testing::NameFromText(info.param.name); });

TEST(PhpVersionFolders, APhpFolderThatIsAFileIsNoListing) {
  TempDir dir;
  std::string php = dir.Write("php", "not a folder");
  PhpVersionFolders found;
  EXPECT_FALSE(ListPhpVersionFolders(php + kSep, &found));
  std::uint32_t error = Sys().GetLastError();
#ifdef _WIN32
  if (error == 123) return;  // ERROR_INVALID_NAME: what Wine says of a file listed as a folder
#endif
  EXPECT_EQ(error, ERROR_DIRECTORY_CODE);
}

// The name a listing of `path` itself gives beside its long one; empty when
// it has none.
std::u16string ShortNameOf(const fs::path& path) {
  FindDataW data;
  Handle find = Sys().FindFirstFileW(path.u16string().c_str(), &data);
  if (!find) return {};
  Sys().FindClose(find);
  return data.cAlternateFileName;
}

// A bundle in a folder the code page cannot name is reached by paths
// relative to it; a runtime's folder the code page cannot name is given by
// its short name, or counted as out of reach when it has none.
TEST(PhpVersionFolders, RelativeFolderUnderACodePageWithoutTheNames) {
  TempDir dir;
  fs::path root = dir.Root() / fs::u8path("\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82");
  const std::string unnamed = "PHP-8.3 \xD1\x82\xD0\xB5\xD1\x81\xD1\x82";
  Lay(root / "server" / "modules" / "php", {"PHP-8.2/php.ini", unnamed + "/php.ini"}, {});
  std::u16string shortName = ShortNameOf(root / "server" / "modules" / "php" / fs::u8path(unnamed));
  SimulatedPlatform sim;
  sim.LimitCodePageToAscii(true);
  fs::path before = fs::current_path();
  fs::current_path(root);
  PhpVersionFolders found;
  bool listed;
  {
    PlatformScope scope(sim);
    listed = ListPhpVersionFolders(kPhpFolder, &found);
  }
  fs::current_path(before);
  ASSERT_TRUE(listed);
  if (shortName.empty()) {
    EXPECT_EQ(found.names, std::vector<std::string>{"PHP-8.2"});
    EXPECT_EQ(found.unreachable, 1u);
  } else {
    std::string shortText(shortName.begin(), shortName.end());
    std::vector<std::string> both = {"PHP-8.2", shortText};
    std::sort(both.begin(), both.end());
    EXPECT_EQ(found.names, both);
    EXPECT_EQ(found.unreachable, 0u);
  }
}

#ifndef _WIN32
// Where the code page is UTF-8 (POSIX paths), names beyond ASCII come back
// as their bytes, and so does a byte outside UTF-8, in the PHP folder's own
// path too.
TEST(PhpVersionFolders, NamesBeyondAsciiAreTheirOwnBytes) {
  TempDir dir;
  const std::string cyrillic = "PHP-\xD1\x82\xD0\xB5\xD1\x81\xD1\x82";
  const std::string latin1 = "PHP-\xE9t\xE9";
  fs::path php = dir.Root() / "bundle caf\xE9" / "server" / "modules" / "php";
  for (const std::string& name : {cyrillic, latin1, std::string("PHP-z8")}) {
    fs::create_directories(php / name);
    testing::WriteWholeFile((php / name / "php.ini").string(), "");
  }
  PhpVersionFolders found;
  ASSERT_TRUE(ListPhpVersionFolders(php.string() + kSep, &found));
  // Bytes beyond ASCII come after every ASCII one.
  EXPECT_EQ(found.names, (std::vector<std::string>{"PHP-z8", cyrillic, latin1}));
  EXPECT_EQ(found.unreachable, 0u);
}
#endif

// Every failable call of a listing failing in turn, the first one and every
// later one: the listing is not done, the last error says why, and nothing
// is left open.
TEST(PhpVersionFolders, AFailedCallAnywhereFailsTheListing) {
  TempDir dir;
  fs::path php = dir.Root() / "php";
  Lay(php, {"PHP-5.6-5.7/php.ini", "PHP-7.4/php.ini", "README"}, {"PHP-9.0"});
  SimulatedPlatform sim;
  FaultyPlatform faulty(sim);
  PlatformScope scope(faulty);
  std::string phpDir = php.string() + kSep;
  PhpVersionFolders found;
  faulty.FailAt(0);
  ASSERT_TRUE(ListPhpVersionFolders(phpDir, &found));
  ASSERT_EQ(found.names, (std::vector<std::string>{"PHP-5.6-5.7", "PHP-7.4"}));
  const std::int64_t calls = faulty.Calls();
  std::set<std::string> failed;
  for (std::int64_t n = 1; n <= calls; ++n) {
    faulty.FailAt(n);
    EXPECT_FALSE(ListPhpVersionFolders(phpDir, &found)) << "call " << n;
    ASSERT_TRUE(faulty.Fired()) << "call " << n;
    failed.insert(faulty.FiredAt());
    EXPECT_EQ(sim.GetLastError(), ERROR_GEN_FAILURE_CODE) << faulty.FiredAt();
    EXPECT_TRUE(found.names.empty()) << faulty.FiredAt();
    EXPECT_EQ(sim.OpenHandles(), 0u) << faulty.FiredAt();
  }
  EXPECT_EQ(faulty.FiredAt(), "FindNextFileW") << "the last call is the one after the last entry";
  for (const char* call : {"FindFirstFileW", "FindNextFileW", "GetFileAttributesA"})
    EXPECT_EQ(failed.count(call), 1u) << call;
}

}  // namespace
}  // namespace qg
