// The launcher run for real on a moved bundle whose folder goes beyond
// ASCII: the editor's session and settings, read back by Python's reader,
// name the new place wherever they named the old one, and nothing else
// changed. And PHP itself, given the bundle's php.ini, finds its
// extensions, includes and sessions in the new place.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/launcher/bundle_fixture.h"
#include "tests/support/fixtures.h"
#include "tests/support/own_processes.h"
#include "tests/support/xml_reader.h"
#include "xml/attribute_markup.h"

namespace qg {
namespace {

using testing::CheckMovedValues;
using testing::HavePythonXml;
using testing::RunPythonOn;

// "/media/Старый диск/bundle/" as UTF-8, and as the editor writes it.
const std::string kOldRoot =
    "/media/\xD0\xA1\xD1\x82\xD0\xB0\xD1\x80\xD1\x8B\xD0\xB9 "
    "\xD0\xB4\xD0\xB8\xD1\x81\xD0\xBA/bundle/";
const std::string kOldRootMarkup =
    "/media/&#x0421;&#x0442;&#x0430;&#x0440;&#x044B;&#x0439; &#x0434;&#x0438;&#x0441;&#x043A;"
    "/bundle/";

// A session as the editor writes it: all references, one unsaved document
// with its backup, a file outside the bundle and one in a sibling folder.
std::string Session() {
  const std::string& o = kOldRootMarkup;
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<NotepadPlus>\r\n"
         "    <Session activeView=\"0\">\r\n        <mainView activeIndex=\"1\">\r\n"
         "            <File lang=\"PHP\" filename=\"" +
         o +
         "server/domains/mysite.local/index.php\" "
         "backupFilePath=\"\" />\r\n"
         "            <File lang=\"None\" filename=\"new 1\" backupFilePath=\"" +
         o +
         "server/notepad/backup/new 1@2025-10-27_192511\" />\r\n"
         "            <File filename=\"/home/me/&#x0444;&#x0430;&#x0439;&#x043B;.txt\" />\r\n"
         "            <File filename=\"" +
         o.substr(0, o.size() - 1) +
         "2/notes &amp; &quot;todo&quot;.txt\" />\r\n"
         "        </mainView>\r\n        <subView activeIndex=\"0\" />\r\n    </Session>\r\n"
         "</NotepadPlus>\r\n";
}

// Settings without a file-browser root, in raw UTF-8 this time: the recent
// files, the find folders and the theme still follow the move.
std::string Config() {
  const std::string& o = kOldRoot;
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<NotepadPlus>\n"
         "    <FindHistory nbMaxFindHistoryPath=\"10\">\n"
         "        <Path name=\"" +
         o.substr(0, o.size() - 1) +
         "\" />\n"
         "        <Path name=\"" +
         o +
         "server/domains\" />\n"
         "        <Find name=\"\xE2\x80\x9C"
         "quoted\xE2\x80\x9D\" />\n"
         "    </FindHistory>\n    <History nbMaxFile=\"10\">\n"
         "        <File filename=\"" +
         o +
         "server/domains/mysite.local/&#x6587;&#x672C;.txt\" />\n"
         "    </History>\n"
         "    <GUIConfigs>\n        <GUIConfig name=\"stylerTheme\" path=\"" +
         o + "server/notepad/themes/Obsidian.xml\" />\n" +
         "        <GUIConfig name=\"commandLineInterpreter\">" + o +
         "server/bin/cmd.exe</GUIConfig>\n    </GUIConfigs>\n</NotepadPlus>\n";
}

// The Run menu as the editor writes it: no declaration, raw quotes in the
// texts; a command into the bundle, one outside it, one with the bundle's
// page after a blank.
std::string Shortcuts() {
  const std::string& o = kOldRoot;
  return "<NotepadPlus>\r\n    <InternalCommands />\r\n    <UserDefinedCommands>\r\n"
         "        <Command name=\"PHP lint\" Ctrl=\"no\" Alt=\"no\" Shift=\"no\" Key=\"0\">\"" +
         o +
         "server/modules/php/PHP-5.6-5.7/php\" -l \"$(FULL_CURRENT_PATH)\"</Command>\r\n"
         "        <Command name=\"Browser\" Ctrl=\"no\" Alt=\"no\" Shift=\"no\" Key=\"0\">"
         "firefox \"$(FULL_CURRENT_PATH)\"</Command>\r\n"
         "        <Command name=\"Site\" Ctrl=\"no\" Alt=\"no\" Shift=\"no\" Key=\"0\">xdg-open " +
         o +
         "server/domains/mysite.local/index.html</Command>\r\n"
         "    </UserDefinedCommands>\r\n</NotepadPlus>\r\n";
}

TEST(MovedPathsRun, TheEditorsPathsFollowTheBundle) {
  QG_REQUIRE_OWN_PROCESSES();
  if (!HavePythonXml()) GTEST_SKIP() << "python3 is not installed";
  Bundle bundle("\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B & co");  // Проекты
  const std::string session = bundle.EditorDir() + "session.xml";
  testing::TempDir originals;
  WriteWholeFile(bundle.State(), kOldRoot);
  WriteWholeFile(originals.Path("session.xml"), Session());
  WriteWholeFile(originals.Path("config.xml"), Config());
  WriteWholeFile(originals.Path("shortcuts.xml"), Shortcuts());
  const std::string shortcuts = bundle.EditorDir() + "shortcuts.xml";
  WriteWholeFile(shortcuts, Shortcuts());
  // First a session that does not parse: nothing is recorded, and the next
  // start, with the session mended, finishes the job.
  WriteWholeFile(session, Session().substr(0, 300));
  WriteWholeFile(bundle.Config(), Config());
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.State()), kOldRoot);
  EXPECT_NE(ReadWholeFile(bundle.Log()).find("session.xml: failed: it is not well-formed XML"),
            std::string::npos);

  WriteWholeFile(session, Session());
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());
  EXPECT_EQ(CheckMovedValues(originals.Path("session.xml"), session, kOldRoot, bundle.Root()),
            "moved 2");
  EXPECT_EQ(
      CheckMovedValues(originals.Path("config.xml"), bundle.Config(), kOldRoot, bundle.Root()),
      "moved 5");
  EXPECT_EQ(CheckMovedValues(originals.Path("shortcuts.xml"), shortcuts, kOldRoot, bundle.Root()),
            "moved 2");
  EXPECT_NE(ReadWholeFile(shortcuts).find("/php\" -l \"$(FULL_CURRENT_PATH)\"</Command>"),
            std::string::npos)
      << ReadWholeFile(shortcuts);
  // The bundle's folder holds a blank: the commands' unquoted paths are now
  // quoted, whole, so that the editor takes each as one word.
  const std::string texts = RunPythonOn(
      "import sys, xml.etree.ElementTree as E\n"
      "t = [c.text for c in E.parse(sys.argv[1]).getroot().iter('Command')]\n"
      "t += [c.text for c in E.parse(sys.argv[2]).getroot().iter('GUIConfig') if c.text]\n"
      "sys.stdout.buffer.write('|'.join(t).encode('utf-8', 'surrogateescape'))",
      {shortcuts, bundle.Config()});
  const std::string& n = bundle.Root();
  EXPECT_EQ(texts, "\"" + n + "server/modules/php/PHP-5.6-5.7/php\" -l \"$(FULL_CURRENT_PATH)\"|" +
                       "firefox \"$(FULL_CURRENT_PATH)\"|xdg-open \"" + n +
                       "server/domains/mysite.local/index.html\"|\"" + n + "server/bin/cmd.exe\"");
  const std::string record = ReadWholeFile(bundle.Log());
  EXPECT_NE(record.find("session.xml: updated, 2 value(s)"), std::string::npos) << record;
  EXPECT_NE(record.find("shortcuts.xml: updated, 2 value(s)"), std::string::npos) << record;

  // A start in the same place changes nothing more.
  auto before = bundle.Snapshot(session);
  auto shortcutsBefore = bundle.Snapshot(shortcuts);
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(bundle.Snapshot(session), before);
  EXPECT_EQ(bundle.Snapshot(shortcuts), shortcutsBefore);
}

// Runs a shell command; its standard output and error together.
std::string CommandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return "popen failed";
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  return output;
}

// Starts a session before any output, then reports what PHP found.
const char kPhpProbe[] = R"(<?php
session_id('qgprobe');
$started = @session_start();
session_write_close();
echo defined('QG_HEADER') ? "header\n" : "no header\n";
echo extension_loaded('calendar') ? "calendar loaded\n" : "calendar missing\n";
echo (@include 'probe_pear.php') ? '' : "PEAR missing\n";
echo $started && file_exists(session_save_path() . '/sess_qgprobe') ? "session saved\n"
                                                                   : "session not saved\n";
echo ini_get('include_path'), "\n", session_save_path(), "\n";
error_log('probe');
)";

TEST(MovedPathsRun, PhpFindsItsOwnPlacesInTheNewRoot) {
  QG_REQUIRE_OWN_PROCESSES();
  const std::string phpExtensions = CommandOutput("php -n -r 'echo PHP_EXTENSION_DIR;'");
  if (!fs::is_regular_file(phpExtensions + "/calendar.so"))
    GTEST_SKIP() << "no php with calendar.so (tools/install-deps.sh installs it): "
                 << phpExtensions;
  Bundle bundle;
  testing::TempDir elsewhere;
  const std::string oldRoot = elsewhere.Path("old place") + "/";
  const std::string php = "server/modules/php/PHP-5.6-5.7/";
  const std::string phpDir = bundle.Root() + php;
  fs::create_directories(phpDir + "ext");
  fs::create_directories(phpDir + "PEAR");
  fs::copy_file(phpExtensions + "/calendar.so", phpDir + "ext/calendar.so");
  WriteWholeFile(phpDir + "PEAR/probe_pear.php", "<?php echo \"PEAR found\\n\";");
  WriteWholeFile(phpDir + "header.php", "<?php define('QG_HEADER', 1);");
  fs::create_directories(bundle.Root() + "server/userdata/temp");
  fs::create_directories(bundle.Root() + "server/userdata/logs");
  WriteWholeFile(bundle.PhpIni(), "[PHP]\r\nextension_dir = \"" + oldRoot + php +
                                      "ext\"\r\nextension = calendar\r\n"
                                      "include_path = \".:" +
                                      oldRoot + php +
                                      "PEAR\"\r\n"
                                      "error_log = \"" +
                                      oldRoot +
                                      "server/userdata/logs/php.log\"\r\n"
                                      "auto_prepend_file = \"" +
                                      oldRoot + php +
                                      "header.php\"\r\n"
                                      "[Session]\r\nsession.save_path = \"" +
                                      oldRoot + "server/userdata/temp\"\r\n");
  WriteWholeFile(bundle.State(), oldRoot);
  const std::string probe = elsewhere.Write("probe.php", kPhpProbe);
  const std::string run =
      "cd '" + elsewhere.Root().string() + "' && php -n -c '" + bundle.PhpIni() + "' ";

  // Before the move (the header left out, which would end PHP at once):
  // nothing of the bundle's is found.
  std::string before = CommandOutput(run + "-d auto_prepend_file= '" + probe + "'");
  EXPECT_NE(before.find("no header\ncalendar missing"), std::string::npos) << before;
  EXPECT_NE(before.find("PEAR missing"), std::string::npos) << before;
  EXPECT_NE(before.find("session not saved"), std::string::npos) << before;

  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());
  const std::string record = ReadWholeFile(bundle.Log());
  EXPECT_NE(record.find("php.ini: updated, 4 value(s) naming places in the old root moved"),
            std::string::npos)
      << record;
  std::string after = CommandOutput(run + "'" + probe + "'");
  EXPECT_EQ(after, "header\ncalendar loaded\nPEAR found\nsession saved\n.:" + phpDir + "PEAR\n" +
                       bundle.Root() + "server/userdata/temp\n");
  EXPECT_NE(ReadWholeFile(bundle.Root() + "server/userdata/logs/php.log").find("probe"),
            std::string::npos);
}

// The project's own settings and session, whose find folders, recent files
// and open files name places inside the bundle with an emoji and U+20BB7
// written as the editor writes them, as references to their surrogates; the
// bundle's own folder holds an emoji too. Every such path follows the move
// (read back by Python's reader), a search text with an emoji stays byte for
// byte, and the new root is recorded.
TEST(MovedPathsRun, CharactersBeyondTheBasicPlaneFollowTheBundle) {
  QG_REQUIRE_OWN_PROCESSES();
  if (!HavePythonXml()) GTEST_SKIP() << "python3 is not installed";
  Bundle bundle("\xF0\x9F\x8E\x89 party");  // U+1F389
  const std::string oldRoot = "/old/place/bundle/";
  const std::string session = bundle.EditorDir() + "session.xml";
  testing::TempDir originals;
  WriteWholeFile(bundle.State(), oldRoot);
  WriteWholeFile(originals.Path("session.xml"), testing::BundleFixture("session.xml", oldRoot));
  WriteWholeFile(originals.Path("config.xml"), testing::BundleFixture("config.xml", oldRoot));
  WriteWholeFile(session, ReadWholeFile(originals.Path("session.xml")));
  WriteWholeFile(bundle.Config(), ReadWholeFile(originals.Path("config.xml")));
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());
  EXPECT_EQ(CheckMovedValues(originals.Path("session.xml"), session, oldRoot, bundle.Root()),
            "moved 5");
  // The ten values inside the old root and the file-browser root.
  EXPECT_EQ(CheckMovedValues(originals.Path("config.xml"), bundle.Config(), oldRoot, bundle.Root()),
            "moved 11");
  const std::string config = ReadWholeFile(bundle.Config());
  const std::string newRoot = AttributeMarkupFromNarrow(bundle.Root().c_str());
  EXPECT_EQ(newRoot.find("&#xD83C;&#xDF89; party/"), newRoot.size() - 23) << newRoot;
  for (const std::string& moved :
       {"<Path name=\"" + newRoot + "server/domains/&#xD83C;&#xDF89; party/&#xD842;&#xDFB7;\"",
        "<File filename=\"" + newRoot +
            "server/domains/mysite.local/&#xD83D;&#xDE00;/&#xD842;&#xDFB7;.php\"",
        std::string("<Find name=\"&#xD83C;&#xDF89; release &#xD842;&#xDFB7;\"")}) {
    EXPECT_NE(config.find(moved), std::string::npos) << moved;
  }
  EXPECT_NE(ReadWholeFile(session).find("filename=\"" + newRoot +
                                        "server/domains/mysite.local/&#xD83C;&#xDF89;/"
                                        "&#xD842;&#xDFB7; &#x0444;.php\""),
            std::string::npos);
}

}  // namespace
}  // namespace qg
