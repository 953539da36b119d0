// The launcher program run for real in a bundle laid out in a temporary
// folder, with a stand-in editor that notes how it was started.
#include "tests/launcher/bundle_fixture.h"
#include "tests/support/own_processes.h"

#include <gtest/gtest.h>

namespace qg {
namespace {

TEST(LauncherRun, FirstRunRecordsTheRootAndPointsBothSettingsHere) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());  // exactly the root, no line end

  std::string php = ReadWholeFile(bundle.PhpIni());
  std::string expected =
      "auto_prepend_file = \"" + bundle.Root() + "server/modules/php/PHP-5.6-5.7/header.php\"\r\n";
  EXPECT_EQ(php, "[PHP]\r\nengine = On\r\n; auto_prepend_file = old\r\n" + expected +
                     "[Date]\r\ndate.timezone = UTC\r\n");

  std::string config = ReadWholeFile(bundle.Config());
  EXPECT_NE(config.find("<root foldername=\"" +
                        InAttribute(bundle.Root() + "server/domains/mysite.local") + "\"/>"),
            std::string::npos)
      << config;
  EXPECT_NE(config.find("\n    <FileBrowser>\n        <root"), std::string::npos);  // layout kept

  // The editor ran once, from its full path, in the bundle root.
  EXPECT_EQ(ReadWholeFile(bundle.Record()), bundle.Editor() + "|" + bundle.Folder() + "\n");
}

TEST(LauncherRun, SecondRunInTheSamePlaceTouchesNothing) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  ASSERT_TRUE(bundle.Run());
  auto before = bundle.SnapshotAll();
  std::this_thread::sleep_for(20ms);  // a rewrite would show in the times
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(bundle.SnapshotAll(), before);
  EXPECT_EQ(ReadWholeFile(bundle.Record()).size(),
            2 * (bundle.Editor().size() + bundle.Folder().size() + 2));
}

// How the recorded first line decides whether the bundle moved.
TEST(LauncherRun, StateFileFirstLineDecides) {
  QG_REQUIRE_OWN_PROCESSES();
  struct Case {
    const char* name;
    std::string (*state)(const std::string& root);
    bool updates;
  } cases[] = {
      {"root then CR LF", [](const std::string& r) { return r + "\r\n"; }, false},
      {"root then more lines", [](const std::string& r) { return r + "\nsomewhere else\n"; },
       false},
      {"root then LF LF", [](const std::string& r) { return r + "\n\n"; }, false},
      {"other letter case",
       [](const std::string& r) {
         std::string upper = r;
         for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
         return upper;
       },
       true},
      {"another root first", [](const std::string& r) { return "/elsewhere/\n" + r; }, true},
      {"empty", [](const std::string&) { return std::string(); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bundle bundle;
    WriteWholeFile(bundle.State(), c.state(bundle.Root()));
    auto before = bundle.SnapshotAll();
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(bundle.Run());
    if (c.updates) {
      EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());  // only the root is left
      EXPECT_NE(ReadWholeFile(bundle.PhpIni()), kPhpIni);
      EXPECT_NE(ReadWholeFile(bundle.Config()), kConfigXml);
    } else {
      EXPECT_EQ(bundle.SnapshotAll(), before);
    }
  }
}

TEST(LauncherRun, MissingEditorFolderTouchesNoSettingsAndStillEnds) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  fs::remove_all(bundle.EditorDir());
  auto php = bundle.Snapshot(bundle.PhpIni());
  ASSERT_TRUE(bundle.Run());
  EXPECT_FALSE(fs::exists(bundle.EditorDir()));
  EXPECT_EQ(bundle.Snapshot(bundle.PhpIni()), php);
}

TEST(LauncherRun, ConfigWithoutTheNodeStillUpdatesPhpAndRecordsTheRoot) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  const char config[] = "<NotepadPlus><GUIConfigs/></NotepadPlus>";
  WriteWholeFile(bundle.Config(), config);
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.Config()), config);
  EXPECT_NE(ReadWholeFile(bundle.PhpIni()).find("header.php"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());
}

TEST(LauncherRun, WaitsForTheEditorAndASecondLauncherMeanwhileDoesNothing) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  bundle.SetEditor(3);
  pid_t first = bundle.Start();
  // Wait until the editor runs.
  for (int i = 0; i < 1000 && ReadWholeFile(bundle.Record()).empty(); ++i)
    std::this_thread::sleep_for(10ms);
  ASSERT_FALSE(ReadWholeFile(bundle.Record()).empty());
  auto during = bundle.SnapshotAll();

  int second = WaitFor(bundle.Start(), 2500ms);  // must end while the editor still runs
  ASSERT_NE(second, -1);
  EXPECT_TRUE(WIFEXITED(second) && WEXITSTATUS(second) == 0);
  int status = 0;
  EXPECT_EQ(waitpid(first, &status, WNOHANG), 0) << "the first launcher did not wait";

  int firstStatus = WaitFor(first);
  EXPECT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0);
  EXPECT_EQ(bundle.SnapshotAll(), during);
  // The editor was started once: the second launcher started nothing.
  EXPECT_EQ(ReadWholeFile(bundle.Record()), bundle.Editor() + "|" + bundle.Folder() + "\n");
}

TEST(LauncherRun, StopsOneOfTheBundlesPhpProcessesAndTheConsole) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  // Copies of sleep named as the bundle's helpers, inside the bundle: only
  // the bundle's own programs are stopped.
  std::string php = bundle.Root() + "server/modules/php/PHP-5.6-5.7/php.exe";
  std::string conemu = bundle.Root() + "server/ConEmu/ConEmu.exe";
  fs::create_directories(bundle.Root() + "server/ConEmu");
  fs::copy_file("/bin/sleep", php);
  fs::copy_file("/bin/sleep", conemu);
  pid_t php1 = Spawn(php, bundle.Root(), {"60"});
  pid_t php2 = Spawn(php, bundle.Root(), {"60"});
  pid_t con = Spawn(conemu, bundle.Root(), {"60"});
  std::this_thread::sleep_for(200ms);  // let them exec

  ASSERT_TRUE(bundle.Run());

  int s1 = WaitFor(php1, 2s), s2 = WaitFor(php2, 2s), sc = WaitFor(con, 2s);
  // WaitFor gives -1 for a process it had to end itself: that one was left running.
  int killed = (s1 != -1 && WIFSIGNALED(s1) && WTERMSIG(s1) == SIGKILL) +
               (s2 != -1 && WIFSIGNALED(s2) && WTERMSIG(s2) == SIGKILL);
  EXPECT_EQ(killed, 1);
  EXPECT_TRUE(s1 == -1 || s2 == -1) << "one php.exe must be left running";
  EXPECT_TRUE(sc != -1 && WIFSIGNALED(sc) && WTERMSIG(sc) == SIGKILL);
}

}  // namespace
}  // namespace qg
