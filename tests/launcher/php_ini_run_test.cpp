// The launcher run for real on bundles moved from a plain folder into
// folders whose names hold what PHP's INI syntax gives a meaning; PHP itself
// then reads the bundle's php.ini: every place in the new folder, exactly,
// and every setting after them.
#include <gtest/gtest.h>

#include "tests/launcher/bundle_fixture.h"
#include "tests/launcher/php_reading.h"
#include "tests/support/own_processes.h"

namespace qg {
namespace {

const char kOldRoot[] = "/media/usb/web/";
const char kPhp[] = "server/modules/php/PHP-5.6-5.7/";

// php.ini with "@" for a root; each value in one of the forms values come
// in. The settings PHP is asked for, and what it must read in each.
std::string PhpIni(const std::string& root) {
  const std::string php = root + kPhp;
  return "[PHP]\r\n"
         "extension_dir = \"" +
         php + "ext\"\r\ninclude_path = \".:" + php + "PEAR\"\r\nerror_log = " + root +
         "server/userdata/logs/php.log\r\nuser_dir = '" + root +
         "www'\r\nupload_tmp_dir = " + root +
         "server/userdata/temp ; uploads\r\nauto_prepend_file = \"" + php +
         "header.php\"\r\n"
         "[Session]\r\nsession.save_path = \"2;" +
         root +
         "server/userdata/sessions\"\r\n"
         "[Date]\r\ndate.timezone = Europe/Berlin\r\n";
}

const std::vector<std::string> kSettings{"extension_dir",     "include_path",   "error_log",
                                         "user_dir",          "upload_tmp_dir", "auto_prepend_file",
                                         "session.save_path", "date.timezone"};

std::vector<std::string> ExpectedSettings(const std::string& root) {
  const std::string php = root + kPhp;
  return {php + "ext",
          ".:" + php + "PEAR",
          root + "server/userdata/logs/php.log",
          root + "www",
          root + "server/userdata/temp",
          php + "header.php",
          "2;" + root + "server/userdata/sessions",
          "Europe/Berlin"};
}

struct Folder {
  const char* name;
  const char* folder;
};
void PrintTo(const Folder& f, std::ostream* out) { *out << f.folder; }

class PhpIniRun : public ::testing::TestWithParam<Folder> {};

TEST_P(PhpIniRun, PhpReadsEveryMovedPlaceInTheNewFolder) {
  QG_REQUIRE_OWN_PROCESSES();
  QG_REQUIRE_PHP(php);
  Bundle bundle(GetParam().folder);
  WriteWholeFile(bundle.PhpIni(), PhpIni(kOldRoot));
  WriteWholeFile(bundle.State(), kOldRoot);
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());
  const std::string record = ReadWholeFile(bundle.Log());
  EXPECT_NE(record.find("php.ini: updated, 6 value(s) naming places in the old root moved"),
            std::string::npos)
      << record;

  const std::string written = ReadWholeFile(bundle.PhpIni());
  testing::PhpReading reading = testing::ReadWithPhp(php, bundle.PhpIni(), kSettings, true);
  EXPECT_EQ(reading.errors, "") << written;
  EXPECT_EQ(reading.values, ExpectedSettings(bundle.Root())) << written;
  // The comment after a value stays after it, quoted or not.
  EXPECT_NE(written.find(" ; uploads\r\nauto_prepend_file"), std::string::npos) << written;

  // A start in the same place changes nothing more.
  auto before = bundle.Snapshot(bundle.PhpIni());
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(bundle.Snapshot(bundle.PhpIni()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, PhpIniRun,
    ::testing::Values(Folder{"Parentheses", "bundle (1)"}, Folder{"Ampersand", "R&D"},
                      Folder{"Apostrophe", "Client's files"}, Folder{"Dollar", "$work"},
                      Folder{"VariableSyntax", "${work}"},
                      Folder{"SemicolonEqualsExclamation", "semi;colon=equals!"},
                      Folder{"Plain", "plain"}),
    [](const ::testing::TestParamInfo<Folder>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qg
