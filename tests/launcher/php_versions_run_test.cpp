// The launcher run for real on a moved bundle with several PHP runtimes side
// by side: each runtime's php.ini, read back by PHP itself, names its places
// in the new root; auto_prepend_file is set in PHP-5.6-5.7's alone, and the
// shapes that are no runtime are passed over.
#include <gtest/gtest.h>

#include "tests/launcher/bundle_fixture.h"
#include "tests/launcher/php_reading.h"
#include "tests/support/own_processes.h"

namespace qg {
namespace {

TEST(PhpVersionsRun, EveryRuntimesPlacesFollowTheMove) {
  QG_REQUIRE_OWN_PROCESSES();
  QG_REQUIRE_PHP(phpProgram);
  Bundle bundle;
  testing::TempDir elsewhere;
  const std::string oldRoot = elsewhere.Path("old place") + "/";
  const std::string php = bundle.Root() + "server/modules/php/";
  auto iniOf = [&](const std::string& version) {
    return "[PHP]\r\nextension_dir = \"" + oldRoot + "server/modules/php/" + version +
           "/ext\"\r\ninclude_path = \".:" + oldRoot + "server/modules/php/" + version +
           "/PEAR\"\r\nerror_log = " + oldRoot + "server/userdata/logs/" + version + ".log\r\n";
  };
  // Made out of byte order, as a FAT stick lists them.
  for (const char* version : {"PHP-8.2", "PHP-7.4", "PHP-5.6-5.7"}) {
    fs::create_directories(php + version);
    WriteWholeFile(php + version + "/php.ini", iniOf(version));
  }
  // A runtime naming nothing of the old root, and shapes that are none.
  fs::create_directories(php + "PHP-9.0");
  const std::string untouched = "[PHP]\r\nerror_log = /var/log/php.log\r\n";
  WriteWholeFile(php + "PHP-9.0/php.ini", untouched);
  const auto untouchedTime = fs::last_write_time(php + "PHP-9.0/php.ini");
  fs::create_directories(php + "PHP-empty");
  fs::create_directories(php + "PHP-odd/php.ini");
  WriteWholeFile(php + "notes.txt", "not a runtime");
  WriteWholeFile(bundle.State(), oldRoot);

  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());
  for (const char* version : {"PHP-5.6-5.7", "PHP-7.4", "PHP-8.2"}) {
    SCOPED_TRACE(version);
    const std::string dir = php + version + "/";
    const std::string prepend =
        std::string(version) == "PHP-5.6-5.7" ? php + "PHP-5.6-5.7/header.php" : "";
    const testing::PhpReading reading =
        testing::ReadWithPhp(phpProgram, dir + "php.ini",
                             {"extension_dir", "include_path", "error_log", "auto_prepend_file"});
    EXPECT_EQ(reading.errors, "");
    const std::vector<std::string> expected = {
        dir + "ext", ".:" + dir + "PEAR",
        bundle.Root() + "server/userdata/logs/" + version + ".log",
        std::string(version) == "PHP-5.6-5.7" ? dir + "header.php" : testing::kNotSet};
    EXPECT_EQ(reading.values, expected);
  }
  EXPECT_EQ(ReadWholeFile(php + "PHP-9.0/php.ini"), untouched);
  EXPECT_EQ(fs::last_write_time(php + "PHP-9.0/php.ini"), untouchedTime);
  EXPECT_TRUE(fs::is_directory(php + "PHP-odd/php.ini"));
  EXPECT_FALSE(fs::exists(php + "PHP-empty/php.ini"));
  EXPECT_EQ(ReadWholeFile(php + "notes.txt"), "not a runtime");

  // One line each, in byte order of the folders' names.
  const std::string record = ReadWholeFile(bundle.Log());
  const std::size_t v74 = record.find("php.ini of PHP-7.4: updated, 3 value(s) naming places");
  const std::size_t v82 = record.find("php.ini of PHP-8.2: updated, 3 value(s) naming places");
  const std::size_t v90 = record.find("php.ini of PHP-9.0: unchanged");
  EXPECT_NE(record.find("php.ini: updated, 3 value(s)"), std::string::npos) << record;
  ASSERT_NE(v74, std::string::npos) << record;
  ASSERT_NE(v82, std::string::npos) << record;
  ASSERT_NE(v90, std::string::npos) << record;
  EXPECT_LT(v74, v82);
  EXPECT_LT(v82, v90);
  EXPECT_EQ(record.find("PHP-empty"), std::string::npos) << record;
  EXPECT_EQ(record.find("PHP-odd"), std::string::npos) << record;
  EXPECT_EQ(record.find("php.ini of PHP-5.6-5.7"), std::string::npos) << record;
}

}  // namespace
}  // namespace qg
