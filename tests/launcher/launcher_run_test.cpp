// The launcher program run for real in a bundle laid out in a temporary
// folder, with a stand-in editor that notes how it was started.
#include "tests/launcher/bundle_fixture.h"
#include "tests/support/own_processes.h"

#include <gtest/gtest.h>

#include <functional>

#include "system/platform.h"

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
  auto record = bundle.Snapshot(bundle.Log());
  std::this_thread::sleep_for(20ms);  // a rewrite would show in the times
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(bundle.SnapshotAll(), before);
  EXPECT_EQ(bundle.Snapshot(bundle.Log()), record);  // nothing to report, nothing written
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

// The new root is recorded only when both settings files are done; a start
// that could not update them keeps the old root, says why in the record, and
// the next clean start leaves exactly what one clean start would have.
TEST(LauncherRun, RootRecordedOnlyWhenBothSettingsAreDone) {
  QG_REQUIRE_OWN_PROCESSES();
  const std::string oldRoot = "/the/old/place/";
  struct Case {
    const char* name;
    // Puts the fault in place; returns what takes it away again.
    std::function<std::function<void()>(Bundle&)> fault;
    bool recorded;
    const char* says;
  } cases[] = {
      {"php.ini read-only",
       [](Bundle& b) {
         fs::permissions(b.PhpIni(), fs::perms::owner_read);
         return std::function<void()>(
             [&b] { fs::permissions(b.PhpIni(), fs::perms::owner_read | fs::perms::owner_write); });
       },
       false, "php.ini: failed: Access is denied."},
      {"php.ini held by another program",
       [](Bundle& b) {
         Handle held =
             Sys().CreateFileA(b.PhpIni().c_str(), GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS,
                               FILE_SHARE_READ_MODE, Creation::OpenExisting);
         EXPECT_NE(held, 0u);
         return std::function<void()>([held] { Sys().CloseHandle(held); });
       },
       false,
       "php.ini: failed: The process cannot access the file because it is being used by another "
       "process."},
      {"php.ini folder missing",
       [](Bundle& b) {
         fs::remove_all(fs::path(b.PhpIni()).parent_path());
         return std::function<void()>([&b] {
           fs::create_directories(fs::path(b.PhpIni()).parent_path());
           WriteWholeFile(b.PhpIni(), kPhpIni);
         });
       },
       false, "php.ini: failed: The system cannot find the path specified."},
      {"config.xml not well-formed",
       [](Bundle& b) {
         WriteWholeFile(b.Config(), "<NotepadPlus><FileBrowser>");
         return std::function<void()>([&b] { WriteWholeFile(b.Config(), kConfigXml); });
       },
       false, "config.xml: failed: it is not well-formed XML"},
      {"config.xml held, not even for reading",
       [](Bundle& b) {
         Handle held =
             Sys().CreateFileA(b.Config().c_str(), GENERIC_READ_ACCESS, 0, Creation::OpenExisting);
         EXPECT_NE(held, 0u);
         return std::function<void()>([held] { Sys().CloseHandle(held); });
       },
       false,
       "config.xml: failed: The process cannot access the file because it is being used by "
       "another process."},
      {"config.xml missing",
       [](Bundle& b) {
         fs::remove(b.Config());
         return std::function<void()>();
       },
       true, "config.xml: not found"},
      {"config.xml empty",
       [](Bundle& b) {
         WriteWholeFile(b.Config(), "");
         return std::function<void()>();
       },
       true, "config.xml: empty, unchanged"},
      {"config.xml without the node",
       [](Bundle& b) {
         WriteWholeFile(b.Config(), "<NotepadPlus><GUIConfigs/></NotepadPlus>");
         return std::function<void()>();
       },
       true, "config.xml: unchanged, it has no /NotepadPlus/FileBrowser/root"},
      {"nothing wrong", [](Bundle&) { return std::function<void()>(); }, true,
       "config.xml: updated"},
  };

  // What one clean start makes of the bundle, with its root as a marker.
  auto neutral = [](const Bundle& b, std::string text) {
    for (std::size_t at; (at = text.find(b.Root())) != std::string::npos;)
      text.replace(at, b.Root().size(), "<ROOT>/");
    return text;
  };
  auto settings = [&](const Bundle& b) {
    return std::vector<std::string>{neutral(b, ReadWholeFile(b.PhpIni())),
                                    neutral(b, ReadWholeFile(b.Config())),
                                    neutral(b, ReadWholeFile(b.State()))};
  };
  // A plain folder name, so the root reads the same in every file.
  const char folder[] = "bundle";
  Bundle reference(folder);
  WriteWholeFile(reference.State(), oldRoot);
  ASSERT_TRUE(reference.Run());
  const auto clean = settings(reference);
  ASSERT_EQ(clean[2], "<ROOT>/");

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bundle bundle(folder);
    WriteWholeFile(bundle.State(), oldRoot);
    auto repair = c.fault(bundle);
    ASSERT_TRUE(bundle.Run());
    if (repair) repair();
    std::string record = ReadWholeFile(bundle.Log());
    EXPECT_EQ(ReadWholeFile(bundle.State()), c.recorded ? bundle.Root() : oldRoot);
    EXPECT_NE(record.find("  bundle moved: recorded root \"" + oldRoot + "\", present root \"" +
                          bundle.Root() + "\"\r\n"),
              std::string::npos)
        << record;
    EXPECT_NE(record.find(c.says), std::string::npos) << record;
    EXPECT_EQ(record.find("state.txt: the recorded root is kept") == std::string::npos, c.recorded)
        << record;
    EXPECT_NE(record.find("  editor: ended\r\n"), std::string::npos) << record;
    if (c.recorded) continue;

    ASSERT_TRUE(bundle.Run());
    EXPECT_EQ(settings(bundle), clean);
  }
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

// A notepad++.exe from another folder keeps the bundle's editor from
// starting: the launcher names that folder (on POSIX the message box is a
// line on standard error) and changes nothing.
TEST(LauncherRun, AnEditorFromElsewhereIsNamedAndNothingChanges) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  WriteWholeFile(bundle.State(), "/the/old/place/");  // a first start would update everything
  testing::TempDir elsewhere;
  const std::string folder = fs::canonical(elsewhere.Root()).string() + "/Notepad++/";
  fs::create_directories(folder);
  fs::copy_file("/bin/sleep", folder + "notepad++.exe");
  pid_t other = Spawn(folder + "notepad++.exe", folder, {"60"});
  std::error_code error;
  for (int i = 0; i < 1000 && fs::read_symlink("/proc/" + std::to_string(other) + "/exe", error) !=
                                  folder + "notepad++.exe";
       ++i)
    std::this_thread::sleep_for(10ms);
  auto before = bundle.SnapshotAll();

  const std::string errors = elsewhere.Path("stderr.txt");
  std::vector<std::string> command = testing::BuiltProgramCommand(QG_LAUNCHER_EXE);
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t launcher = fork();
  if (launcher == 0) {
    int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, 2) < 0 || chdir(bundle.Folder().c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = WaitFor(launcher, 10s);
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadWholeFile(errors), "Quillgate by Dalvenor: The editor is already running from " +
                                       folder +
                                       ". Close it, then start the bundle's editor again.\n");
  EXPECT_EQ(bundle.SnapshotAll(), before);
  EXPECT_FALSE(fs::exists(bundle.Log()));
  EXPECT_EQ(ReadWholeFile(bundle.Record()), "");  // the bundle's editor did not run
  int otherStatus = 0;
  EXPECT_EQ(waitpid(other, &otherStatus, WNOHANG), 0);  // left running
  WaitFor(other, 0ms);                                  // and ended here, by its id
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
  // The record names what the tidy-up stopped, by id.
  std::string record = ReadWholeFile(bundle.Log());
  pid_t stoppedPhp = s1 != -1 ? php1 : php2;
  EXPECT_NE(record.find("tidy-up: stopped php.exe (process " + std::to_string(stoppedPhp) + ")"),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("tidy-up: stopped ConEmu.exe (process " + std::to_string(con) + ")"),
            std::string::npos)
      << record;
}

}  // namespace
}  // namespace qg
