// The launcher run for real on a moved bundle whose folder goes beyond
// ASCII: the editor's session and settings, read back by Python's reader,
// name the new place wherever they named the old one, and nothing else
// changed.
#include <gtest/gtest.h>

#include "tests/launcher/bundle_fixture.h"
#include "tests/support/own_processes.h"
#include "tests/support/xml_reader.h"

namespace qg {
namespace {

using testing::CheckMovedValues;
using testing::HavePythonXml;

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
         o + "server/notepad/themes/Obsidian.xml\" />\n    </GUIConfigs>\n</NotepadPlus>\n";
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
      "moved 4");
  const std::string record = ReadWholeFile(bundle.Log());
  EXPECT_NE(record.find("session.xml: updated, 2 value(s)"), std::string::npos) << record;

  // A start in the same place changes nothing more.
  auto before = bundle.Snapshot(session);
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(bundle.Snapshot(session), before);
}

}  // namespace
}  // namespace qg
