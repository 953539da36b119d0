// The tidy-up after the editor on a simulated desktop: which command windows
// are closed and which processes stopped, for tables of process trees.
#include <gtest/gtest.h>

#include <algorithm>

#include "launcher/bundle_processes.h"
#include "launcher/bundle_root.h"
#include "launcher/tidy_up.h"
#include "tests/support/simulated_platform.h"

namespace qg {
namespace {

using testing::PlatformScope;
using testing::SimulatedPlatform;

constexpr char kRoot[] = "C:\\web\\";
constexpr char kBundlePhp[] = "C:\\web\\server\\modules\\php\\PHP-5.6-5.7\\php.exe";
constexpr char kPrompt[] = "C:\\Windows\\system32\\cmd.exe";
constexpr char kConsole[] = "ConsoleWindowClass";
constexpr std::uint32_t kLauncher = 100, kEditor = 200;

struct Proc {
  std::uint32_t pid, parent;
  const char* path;
  std::uint64_t created;  // 0: unknown
  bool readable = true;
};
struct Win {
  const char* title;
  const char* className;
  std::uint32_t owner;
  bool closed;
};
struct Desktop {
  const char* name;
  std::vector<Proc> processes;  // in snapshot order, after the common ones
  std::vector<Win> windows;     // from the top, below the launcher's prompt
  std::vector<std::uint32_t> stopped;
};

void PrintTo(const Desktop& d, std::ostream* out) { *out << d.name; }

// Every desktop has the user's shell, the prompt the launcher was started
// from (with its window) and the launcher, which lies in the bundle.
const std::vector<Proc> kCommon = {
    {80, 4, "C:\\Windows\\explorer.exe", 1},
    {90, 80, kPrompt, 5},
    {kLauncher, 90, "C:\\web\\quillgate.exe", 10},
};

class TidyUpTable : public ::testing::TestWithParam<Desktop> {};

TEST_P(TidyUpTable, ClosesAndStopsOnlyTheBundles) {
  const Desktop& d = GetParam();
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetCurrentProcessId(kLauncher);
  for (const auto* list : {&kCommon, &d.processes}) {
    for (const Proc& p : *list) sim.AddProcess(p.pid, p.parent, p.path, p.created, p.readable);
  }
  Window own = sim.AddWindow(kPrompt, false, 1, 90, kConsole);
  std::vector<Window> expectClosed, windows;
  for (const Win& w : d.windows) {
    windows.push_back(sim.AddWindow(w.title, false, 1, w.owner, w.className));
    if (w.closed) expectClosed.push_back(windows.back());
  }

  TidyUpSummary summary = TidyUpBundle(BundleKeysFor(PathKey::FromText(kRoot)), kEditor);

  EXPECT_FALSE(summary.snapshotFailed);
  EXPECT_EQ(summary.windowsAsked, static_cast<int>(expectClosed.size()));
  EXPECT_EQ(summary.closeRequests, summary.windowsAsked);  // each closed at the first request
  std::vector<Window> asked;
  for (const auto& message : sim.PostedMessages()) asked.push_back(message.window);
  EXPECT_EQ(asked, expectClosed);
  EXPECT_TRUE(sim.WindowExists(own));
  for (std::size_t i = 0; i < windows.size(); ++i) {
    EXPECT_EQ(sim.WindowExists(windows[i]), !d.windows[i].closed) << d.windows[i].title;
  }
  std::vector<std::uint32_t> stopped;
  for (const auto& t : sim.Terminations()) {
    EXPECT_EQ(t.exitCode, 9u);
    stopped.push_back(t.pid);
  }
  EXPECT_EQ(stopped, d.stopped);
  std::vector<std::uint32_t> reported;
  for (int i = 0; i < summary.stoppedCount; ++i) reported.push_back(summary.stopped[i].pid);
  EXPECT_EQ(reported, d.stopped);
  EXPECT_EQ(sim.ReapRequests(), d.stopped);
  EXPECT_EQ(summary.Noteworthy(), !d.stopped.empty() || !expectClosed.empty());
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, TidyUpTable,
    ::testing::Values(
        Desktop{"BundlePrograms",
                {{300, 80, kBundlePhp, 20}, {301, 80, "C:\\web\\server\\ConEmu\\ConEmu.exe", 21}},
                {{"cmd - ConEmu", "VirtualConsoleClass", 301, true}},
                {300, 301}},
        // The editor has ended; what it left behind still traces back to it.
        Desktop{"EditorDescendantsWithTheEditorGone",
                {{310, kEditor, "C:\\tools\\ConEmu\\ConEmu.exe", 30},
                 {311, 310, kPrompt, 31},
                 {312, 311, "C:\\tools\\php\\php.exe", 32}},
                {{kPrompt, kConsole, 311, true}},
                {312, 310}},
        // 320 names the editor's id but is older than the launcher; 321's
        // "parent" was created after it; 200 now holds a later program, so
        // 322, older than that, is the editor's child after all.
        Desktop{"ReusedParentIds",
                {{kEditor, 80, "C:\\other\\app.exe", 90},
                 {320, kEditor, "C:\\other\\php.exe", 7},
                 {340, 80, "C:\\web\\server\\panel.exe", 60},
                 {321, 340, "C:\\other\\ConEmu.exe", 40},
                 {322, kEditor, "C:\\other\\php.exe", 70}},
                {},
                {322}},
        Desktop{"TheUsersPromptRunningTheBundlesPhp",
                {{400, 80, kPrompt, 20}, {401, 400, kBundlePhp, 21}, {410, 80, kPrompt, 22}},
                {{"Administrator: cmd.exe - php", kConsole, 400, true},
                 {"cmd.exe - dir", kConsole, 410, false}},
                {401}},
        Desktop{"BrowsersAndEditorsAreNeverClosed",
                {{340, 80, "C:\\web\\server\\panel.exe", 20}},
                {{"about_Cmdlets - Browser", "Chrome_WidgetWin_1", 340, false},
                 {"cmd.go - Notepad++", "Notepad++", 340, false},
                 {"cmd", kConsole, 340, true}},
                {}},
        Desktop{"AnotherProjectsPhpComesFirst",
                {{500, 80, "C:\\projects\\site\\php.exe", 20},
                 {501, 80, kBundlePhp, 21},
                 {502, 80, "C:\\projects\\ConEmu.exe", 22}},
                {{"cmd", kConsole, 500, false}},
                {501}},
        Desktop{"AProtectedProcessDoesNotBelong",
                {{600, kEditor, "C:\\tools\\php.exe", 30, false}, {601, 80, kBundlePhp, 31}},
                {{"cmd", kConsole, 600, false}},
                {601}},
        // Creation times unknown: the chain is followed as the ids say.
        Desktop{"NoCreationTimes",
                {{700, kEditor, "C:\\tools\\ConEmu.exe", 0}, {701, 700, "C:\\x\\php.exe", 0}},
                {},
                {701, 700}},
        Desktop{"RootLetterCase",
                {{800, 80, "c:\\WEB\\server\\modules\\php\\PHP-5.6-5.7\\php.exe", 20}},
                {},
#ifdef _WIN32
                {800}
#else
                {}
#endif
        }),
    [](const ::testing::TestParamInfo<Desktop>& info) { return info.param.name; });

// Without a snapshot, or without any way to read program paths, nobody's
// windows or processes can be told from the user's: nothing is touched.
TEST(TidyUpTest, WithoutOwnershipNothingIsTouched) {
  for (bool failSnapshots : {true, false}) {
    SimulatedPlatform sim;
    PlatformScope scope(sim);
    sim.SetCurrentProcessId(kLauncher);
    sim.AddProcess(kLauncher, 90, "C:\\web\\quillgate.exe", 10);
    sim.AddProcess(300, 80, kBundlePhp, 20);
    Window window = sim.AddWindow("cmd", false, 1, 300, kConsole);
    sim.FailSnapshots(failSnapshots);
    sim.FailPathQueries(!failSnapshots);
    TidyUpSummary summary = TidyUpBundle(BundleKeysFor(PathKey::FromText(kRoot)), kEditor);
    EXPECT_TRUE(summary.snapshotFailed);
    EXPECT_TRUE(summary.Noteworthy());
    EXPECT_TRUE(sim.WindowExists(window));
    EXPECT_TRUE(sim.Terminations().empty());
    EXPECT_EQ(sim.OpenHandles(), 0u);
  }
}

// A bundle in a folder the ANSI code page cannot hold, whose programs run
// under their short path or another letter case: the wide long paths are
// compared, so the bundle's php.exe is stopped and the user's is not.
TEST(TidyUpTest, ProgramsAreToldByTheirWideLongPaths) {
  struct Case {
    const char* name;
    const char* path;  // UTF-8
    bool stopped;
  } cases[] = {
      {"long path", "C:\\\xD0\x9F\xD1\x80\xD0\xBE\\bundle\\php.exe", true},
      {"short path", "C:\\PROJEK~1\\bundle\\php.exe", true},
      {"other letter case", "c:\\PROJEK~1\\BUNDLE\\PHP.EXE", true},
      {"a folder beside it", "C:\\PROJEK~2\\bundle\\php.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    PlatformScope scope(sim);
    sim.LimitCodePageToAscii(true);  // the ANSI path would read "C:\???\bundle\..."
    sim.SetFileNamesIgnoreCase(true);
    sim.SetShortForm("C:\\\xD0\x9F\xD1\x80\xD0\xBE", "C:\\PROJEK~1");
    sim.SetCurrentProcessId(kLauncher);
    sim.AddProcess(kLauncher, 90, "C:\\PROJEK~1\\bundle\\quillgate.exe", 10);
    sim.AddProcess(300, 80, c.path, 20);
    TidyUpSummary summary =
        TidyUpBundle(BundleKeysFor(PathKey(u"C:\\\u041F\u0440\u043E\\bundle\\")), kEditor);
    EXPECT_EQ(summary.stoppedCount, c.stopped ? 1 : 0);
    EXPECT_EQ(sim.Terminations().size(), c.stopped ? 1u : 0u);
  }
}

// A bundle on a network share: its programs are named as the root is
// (\\server\share\...), or with the system's "\\?\UNC\" prefix, as Wine
// names a program started from a share; either is the bundle's.
TEST(TidyUpTest, ProgramsOnAShareAreTheBundles) {
  struct Case {
    const char* name;
    const char* path;
    bool stopped;
  } cases[] = {
      {"as the root is named", "\\\\NAS\\share\\bundle\\php.exe", true},
      {"with the prefix", "\\\\?\\UNC\\NAS\\share\\bundle\\server\\php.exe", true},
      {"other letter case", "\\\\?\\UNC\\nas\\SHARE\\bundle\\php.exe", true},
      {"a folder beside it", "\\\\?\\UNC\\NAS\\share\\bundle2\\php.exe", false},
      {"another share", "\\\\NAS\\other\\bundle\\php.exe", false},
      {"a drive", "\\\\?\\C:\\bundle\\php.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    PlatformScope scope(sim);
    sim.SetFileNamesIgnoreCase(true);
    sim.SetCurrentProcessId(kLauncher);
    sim.AddProcess(kLauncher, 90, "\\\\NAS\\share\\bundle\\quillgate.exe", 10);
    sim.AddProcess(300, 80, c.path, 20);
    TidyUpSummary summary =
        TidyUpBundle(BundleKeysFor(PathKey::FromText("\\\\NAS\\share\\bundle\\")), kEditor);
    EXPECT_EQ(summary.stoppedCount, c.stopped ? 1 : 0);
    EXPECT_EQ(sim.Terminations().size(), c.stopped ? 1u : 0u);
  }
}

// An empty root (the current directory could not be read) puts no program
// inside the bundle; the editor's leftovers are still found.
TEST(TidyUpTest, AnEmptyRootHoldsNothing) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetCurrentProcessId(kLauncher);
  sim.AddProcess(kLauncher, 90, "C:\\web\\quillgate.exe", 10);
  sim.AddProcess(300, 80, kBundlePhp, 20);
  sim.AddProcess(301, kEditor, "C:\\tools\\php.exe", 20);
  TidyUpSummary summary = TidyUpBundle(BundleKeys(), kEditor);
  ASSERT_EQ(summary.stoppedCount, 1);
  EXPECT_STREQ(summary.stopped[0].name, "php.exe");
  ASSERT_EQ(sim.Terminations().size(), 1u);
  EXPECT_EQ(sim.Terminations()[0].pid, 301u);
  EXPECT_FALSE(PathKey::Inside(PathKey(), PathKey::FromText("C:\\web\\php.exe")));
}

}  // namespace
}  // namespace qg

namespace qg {
namespace {

// A process of the restart table: it runs from `from` to `until` (elapsed
// milliseconds of the simulated clock).
struct Timed {
  std::uint32_t pid;
  const char* path;
  std::uint64_t from, until;
};

// The bundle in C:\web, as the tidy-up compares its paths.
BundleKeys WebBundle() {
  return {PathKey::FromText("C:\\web\\"),
          PathKey::FromText("C:\\web\\server\\notepad\\notepad++.exe"),
          PathKey::FromText("C:\\web\\server\\notepad\\updater\\")};
}

struct Restart {
  const char* name;
  bool ignoreCase;  // the system's file-name rule
  std::vector<Timed> processes;
  std::uint64_t elapsed;               // when the wait is over
  std::vector<std::uint32_t> awaited;  // what it waited for, in order
  bool snapshotsFail = false;          // no look can be made: that ends the wait
};
void PrintTo(const Restart& r, std::ostream* out) { *out << r.name; }

constexpr char kEditorProgram[] = "C:\\web\\server\\notepad\\notepad++.exe";
constexpr char kUpdater[] = "C:\\web\\server\\notepad\\updater\\GUP.exe";

class EditorRestartTable : public ::testing::TestWithParam<Restart> {};

TEST_P(EditorRestartTable, WaitsWhileTheBundlesEditorOrUpdaterRuns) {
  const Restart& r = GetParam();
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetFileNamesIgnoreCase(r.ignoreCase);
  sim.SetCurrentProcessId(kLauncher);
  for (const Proc& p : kCommon) sim.AddProcess(p.pid, p.parent, p.path, p.created);
  std::vector<bool> started(r.processes.size());
  auto play = [&] {
    for (std::size_t i = 0; i < r.processes.size(); ++i) {
      const Timed& t = r.processes[i];
      if (!started[i] && sim.ElapsedMilliseconds() >= t.from) {
        sim.AddProcess(t.pid, 80, t.path, 100 + t.from);
        started[i] = true;
      }
      if (started[i] && sim.ElapsedMilliseconds() >= t.until) sim.EndProcess(t.pid);
    }
  };
  play();
  sim.OnSleep([&](std::uint32_t) { play(); });
  sim.FailSnapshots(r.snapshotsFail);
  EditorRestartWait wait = WaitOutEditorRestart(WebBundle(), kEditor);

  EXPECT_EQ(sim.ElapsedMilliseconds(), r.elapsed);
  std::vector<std::uint32_t> awaited;
  for (const auto& program : wait.waitedFor) awaited.push_back(program.pid);
  EXPECT_EQ(awaited, r.awaited);
  EXPECT_EQ(wait.snapshotFailed, r.snapshotsFail);
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

constexpr std::uint64_t kNever = 1u << 30;
INSTANTIATE_TEST_SUITE_P(
    Desktops, EditorRestartTable,
    ::testing::Values(Restart{"NothingToWaitFor_AnEditorFromElsewhereRuns",
                              true,
                              {{500, "C:\\tools\\npp\\notepad++.exe", 0, kNever}},
                              1000,
                              {}},
                      Restart{"TheUpdaterRestartsTheEditor",
                              true,
                              {{501, kUpdater, 0, 1200}, {502, kEditorProgram, 1000, 3000}},
                              4000,
                              {501, 502}},
                      // The restarted editor comes up during the settling pause.
                      Restart{"TheEditorComesBackDuringThePause",
                              true,
                              {{501, kUpdater, 0, 400}, {502, kEditorProgram, 1200, 2400}},
                              3500,
                              {501, 502}},
                      Restart{"AnotherCaseIsTheSameProgramOnWindows",
                              true,
                              {{503, "c:\\WEB\\server\\NOTEPAD\\Notepad++.EXE", 0, 700}},
                              2000,
                              {503}},
                      Restart{"AnotherCaseIsAnotherProgramOnPosix",
                              false,
                              {{503, "c:\\WEB\\server\\NOTEPAD\\Notepad++.EXE", 0, 700}},
                              1000,
                              {}},
                      Restart{"AFailedLookEndsTheWaitAfterThePause",
                              true,
                              {{502, kEditorProgram, 0, kNever}},
                              1000,
                              {},
                              true}),
    [](const ::testing::TestParamInfo<Restart>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qg
