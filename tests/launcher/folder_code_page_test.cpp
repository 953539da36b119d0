// A bundle whose folder name the ANSI code page cannot hold, on the
// simulated platform: a code page of ASCII alone, with the folder's short
// (8.3) form given or not, and changed between starts.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "tests/support/simulated_platform.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

const char kPhpIni[] = "[PHP]\r\nengine = On\r\nauto_prepend_file = \"/old/header.php\"\r\n";
const char kConfigXml[] =
    "<?xml version=\"1.0\"?>\n<NotepadPlus><FileBrowser><root foldername=\"x\"/>"
    "</FileBrowser></NotepadPlus>\n";
// Проекты, and the same as character references.
const char kName[] = "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B";
const char kNameMarkup[] = "&#x041F;&#x0440;&#x043E;&#x0435;&#x043A;&#x0442;&#x044B;";

struct Case {
  const char* name;
  // The folder's short form at each start, a link of that name beside it;
  // null: it has none.
  std::vector<const char*> shortForms;
};

class FolderOutsideCodePage : public ::testing::TestWithParam<Case> {};

TEST_P(FolderOutsideCodePage, EditorStartsAndSettingsFollowTheShortForm) {
  testing::TempDir dir;
  const std::string base = fs::canonical(dir.Root()).string() + "/";
  const std::string root = base + kName + "/";
  fs::create_directories(root + "server/notepad");
  fs::create_directories(root + "server/modules/php/PHP-5.6-5.7");
  const std::string phpIni = root + "server/modules/php/PHP-5.6-5.7/php.ini";
  const std::string config = root + "server/notepad/config.xml";
  const std::string state = root + "server/notepad/state.txt";
  const std::string log = root + "server/notepad/quillgate.log";
  WriteWholeFile(phpIni, kPhpIni);
  WriteWholeFile(config, kConfigXml);

  const char* before = nullptr;  // the short form recorded so far
  for (const char* shortName : GetParam().shortForms) {
    SCOPED_TRACE(shortName ? shortName : "no short form");
    std::string shortRoot = shortName ? base + shortName + "/" : "";
    if (shortName && !fs::exists(base + shortName))
      fs::create_directory_symlink(root, base + shortName);
    std::string logBefore = ReadWholeFile(log), stateBefore = ReadWholeFile(state);
    fs::path cwd = fs::current_path();
    fs::current_path(root);
    testing::SimulatedPlatform sim;
    sim.LimitCodePageToAscii(true);
    if (shortName) sim.SetShortForm(base + kName, base + shortName);
    {
      testing::PlatformScope scope(sim);
      EXPECT_EQ(LauncherMain(), 0);
    }
    fs::current_path(cwd);
    std::string record = ReadWholeFile(log).substr(logBefore.size());

    // The editor by its long path, relative to the root: never the short form.
    auto starts = sim.ProcessStarts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].commandLine, "\"server/notepad/notepad++.exe\"");
    EXPECT_NE(ReadWholeFile(config).find("foldername=\"" + base + kNameMarkup +
                                         "/server/domains/mysite.local\""),
              std::string::npos);
    EXPECT_EQ(record.find('?'), std::string::npos) << record;

    bool moved = !shortName || !before || std::string(before) != shortName;
    EXPECT_EQ(record.find("bundle moved") != std::string::npos, moved) << record;
    if (!shortName) {
      // php.ini left alone, nothing recorded, and the record says why.
      EXPECT_EQ(ReadWholeFile(phpIni), kPhpIni);
      EXPECT_EQ(ReadWholeFile(state), stateBefore);
      EXPECT_NE(record.find("php.ini: left alone, the folder has no short (8.3) name"),
                std::string::npos)
          << record;
      EXPECT_NE(record.find("state.txt: the recorded root is kept"), std::string::npos);
      continue;
    }
    EXPECT_NE(ReadWholeFile(phpIni).find("auto_prepend_file = \"" + shortRoot +
                                         "server/modules/php/PHP-5.6-5.7/header.php\"\r\n"),
              std::string::npos)
        << ReadWholeFile(phpIni);
    EXPECT_EQ(ReadWholeFile(state), "\xEF\xBB\xBF" + root + "\r\n" + shortRoot);
    if (moved && before) {
      EXPECT_NE(record.find("(short form \"" + base + before + "/\"), present root"),
                std::string::npos)
          << record;
    }
    before = shortName;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ShortForms, FolderOutsideCodePage,
    ::testing::Values(Case{"NoShortFormLeavesPhpAloneAndRecordsNothing", {nullptr, nullptr}},
                      Case{"ShortFormGivenToPhpThenNothingMoved", {"PROJEK~1", "PROJEK~1"}},
                      Case{"NewShortFormUnderTheSameLongRootCountsAsMoved",
                           {"PROJEK~1", "____~MXA"}},
                      Case{"ShortFormAppearsAfterAStartWithout", {nullptr, "PROJEK~1"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A folder whose name holds php.ini's list separator (':' here, ';' on
// Windows), which PHP splits every list of places at: PHP is given the
// short form, the state records it beside the long root so that the places
// named by it follow the next move, and without a short form php.ini is
// left alone and nothing is recorded.
TEST(FolderWithListSeparator, PhpIsGivenTheShortFormOrNothing) {
  for (bool hasShortForm : {true, false}) {
    SCOPED_TRACE(hasShortForm ? "with a short form" : "without");
    testing::TempDir dir;
    const std::string base = fs::canonical(dir.Root()).string() + "/";
    const std::string plain = base + "plain/", listed = base + "a:b/", shortRoot = base + "A_B~1/";
    const std::string relIni = "server/modules/php/PHP-5.6-5.7/php.ini";
    fs::create_directories(plain + "server/notepad");
    fs::create_directories(plain + "server/modules/php/PHP-5.6-5.7");
    const std::string ini = "[PHP]\r\nerror_log = " + plain + "logs/php.log\r\n";
    WriteWholeFile(plain + relIni, ini);
    WriteWholeFile(plain + "server/notepad/state.txt", plain);
    // Moved from the plain folder into the listed one, then on to a third.
    fs::rename(plain, listed);
    if (hasShortForm) fs::create_directory_symlink(listed, base + "A_B~1");
    auto run = [&](const std::string& root) {
      fs::path cwd = fs::current_path();
      fs::current_path(root);
      testing::SimulatedPlatform sim;
      if (hasShortForm) sim.SetShortForm(base + "a:b", base + "A_B~1");
      {
        testing::PlatformScope scope(sim);
        EXPECT_EQ(LauncherMain(), 0);
      }
      fs::current_path(cwd);
      return ReadWholeFile(root + "server/notepad/quillgate.log");
    };
    std::string record = run(listed);
    const std::string state = ReadWholeFile(listed + "server/notepad/state.txt");
    if (!hasShortForm) {
      // The short form's "~" is no bare text to PHP: the value is quoted.
      EXPECT_EQ(ReadWholeFile(listed + relIni), ini);
      EXPECT_EQ(state, plain);
      EXPECT_NE(record.find("php.ini: left alone, the folder has no short (8.3) name"),
                std::string::npos)
          << record;
      EXPECT_NE(record.find("at which PHP splits its lists of places, and the folder has no "
                            "short (8.3) name"),
                std::string::npos)
          << record;
      continue;
    }
    // The short form's "~" is no bare text to PHP: the value is quoted.
    EXPECT_EQ(ReadWholeFile(listed + relIni),
              "[PHP]\r\nerror_log = \"" + shortRoot + "logs/php.log\"\r\nauto_prepend_file = \"" +
                  shortRoot + "server/modules/php/PHP-5.6-5.7/header.php\"\r\n");
    EXPECT_EQ(state, "\xEF\xBB\xBF" + listed + "\r\n" + shortRoot);
    const std::string again = run(listed).substr(record.size());
    EXPECT_EQ(again.find("bundle moved"), std::string::npos) << again;

    const std::string third = base + "third/";
    fs::rename(listed, third);
    run(third);
    EXPECT_EQ(ReadWholeFile(third + relIni),
              "[PHP]\r\nerror_log = \"" + third + "logs/php.log\"\r\nauto_prepend_file = \"" +
                  third + "server/modules/php/PHP-5.6-5.7/header.php\"\r\n");
    EXPECT_EQ(ReadWholeFile(third + "server/notepad/state.txt"), third);
  }
}

}  // namespace
}  // namespace qg
