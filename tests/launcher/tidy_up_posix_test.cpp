// The launcher's tidy-up against real processes: the bundle's php.exe and a
// ConEmu.exe the editor left behind are stopped, a php.exe and a ConEmu.exe
// started earlier from another folder keep running. The launcher stops
// processes by name, so the test runs only in a PID namespace of its own.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <csignal>

#include "tests/launcher/bundle_fixture.h"
#include "tests/support/own_processes.h"

namespace qg {
namespace {

// "running", "killed" (ended by SIGKILL and collected here) or "ended <status>".
std::string StateOfChild(pid_t pid) {
  int status = 0;
  pid_t got = waitpid(pid, &status, WNOHANG);
  if (got == 0) return "running";
  if (got == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return "killed";
  return "ended " + std::to_string(status);
}

// Whether this system lets a process become a child subreaper; asked in a
// child, so that this test process stays as it is (qemu-i386 answers
// EINVAL).
bool SubreaperAvailable() {
  pid_t child = fork();
  if (child == 0) _exit(prctl(PR_SET_CHILD_SUBREAPER, 1) == 0 ? 0 : 1);
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

TEST(TidyUpPosixTest, StopsTheBundlesProcessesAndLeavesOthersRunning) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  testing::TempDir elsewhere;
  const std::string other = fs::canonical(elsewhere.Root()).string();
  const std::string bundlePhpExe = bundle.Root() + "server/modules/php/PHP-5.6-5.7/php.exe";
  const std::string otherPhpExe = other + "/php.exe", otherConEmuExe = other + "/ConEmu.exe";
  for (const std::string& copy : {bundlePhpExe, otherPhpExe, otherConEmuExe})
    fs::copy_file("/bin/sleep", copy);
  // The editor leaves a ConEmu.exe from outside the bundle running behind it
  // and tells its id once that program runs.
  const std::string conemuPid = other + "/editor-conemu.pid";
  WriteWholeFile(bundle.Editor(), "#!/bin/sh\n\"" + otherConEmuExe +
                                      "\" 300 </dev/null >/dev/null 2>&1 &\n"
                                      "while [ ! -e /proc/$!/exe ]; do :; done\n"
                                      "echo $! > \"" +
                                      conemuPid + "\"\n");
  fs::permissions(bundle.Editor(), fs::perms::owner_all);

  // Started first, so they come first in the process list.
  pid_t foreignPhp = Spawn(otherPhpExe, other, {"300"});
  pid_t foreignConEmu = Spawn(otherConEmuExe, other, {"300"});
  pid_t bundlePhp = Spawn(bundlePhpExe, other, {"300"});
  std::this_thread::sleep_for(200ms);  // let them exec

  ASSERT_TRUE(bundle.Run());

  std::string findings = "bundle php " + StateOfChild(bundlePhp) + "\nforeign php " +
                         StateOfChild(foreignPhp) + "\nforeign ConEmu " +
                         StateOfChild(foreignConEmu) + "\n";
  std::string editorConEmu = ReadWholeFile(conemuPid);
  while (!editorConEmu.empty() && editorConEmu.back() == '\n') editorConEmu.pop_back();
  // Stopped and collected by the launcher, it is gone altogether; had the
  // launcher left it, it would still run here (or linger unreaped).
  bool gone = !editorConEmu.empty() && !fs::exists("/proc/" + editorConEmu);
  // Without a subreaper the editor's orphan passes out of the launcher's
  // reach, and the record says so.
  const bool subreaper = SubreaperAvailable();
  const std::string record = ReadWholeFile(bundle.Root() + "server/notepad/quillgate.log");
  EXPECT_EQ(record.find("could not become the subreaper") == std::string::npos, subreaper)
      << record;
  if (subreaper) {
    findings += "editor ConEmu " +
                std::string(editorConEmu.empty() ? "never ran"
                            : gone               ? "gone"
                                                 : "left") +
                "\n";
  } else {
    std::cout << "note: this system refuses PR_SET_CHILD_SUBREAPER, so the check that the "
                 "editor's leftover ConEmu.exe is stopped is skipped\n";
    if (!editorConEmu.empty()) kill(std::stoi(editorConEmu), SIGKILL);  // ours, by its id
  }
  EXPECT_EQ(findings, std::string("bundle php killed\n"
                                  "foreign php running\n"
                                  "foreign ConEmu running\n") +
                          (subreaper ? "editor ConEmu gone\n" : ""));
  for (pid_t pid : {foreignPhp, foreignConEmu, bundlePhp}) WaitFor(pid, 0ms);  // ends what is left
}

// The editor hands over to its updater and exits; the updater starts the
// editor again. The launcher waits for the restarted editor before it stops
// the bundle's php.exe.
TEST(TidyUpPosixTest, WaitsForTheEditorRestartedByItsUpdater) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  const std::string php = bundle.Root() + "server/modules/php/PHP-5.6-5.7/php.exe";
  fs::copy_file("/bin/sleep", php);
  const std::string updater = bundle.EditorDir() + "updater/GUP.exe";
  const std::string handedOver = bundle.EditorDir() + "handed-over";
  const std::string restartedEnd = bundle.EditorDir() + "restarted-editor-ended";
  // First start: hand over and exit. Second start: work for a while, then
  // tell when it ended, after checking that php.exe still runs.
  auto quoted = [](const std::string& path) { return "\"" + path + "\""; };
  WriteWholeFile(bundle.Editor(),
                 "#!/bin/sh\n"
                 "if [ ! -e " +
                     quoted(handedOver) +
                     " ]; then\n"
                     "  : > " +
                     quoted(handedOver) +
                     "\n"
                     "  " +
                     quoted(updater) +
                     " </dev/null >/dev/null 2>&1 &\n"
                     "  exit 0\n"
                     "fi\n"
                     "sleep 2\n"
                     "if kill -0 \"$PHP_PID\" 2>/dev/null; then s=running; else s=gone; fi\n"
                     "echo \"php $s\" > " +
                     quoted(restartedEnd) + "\n");
  fs::create_directories(bundle.EditorDir() + "updater");
  // The updater runs long enough for a launcher slowed down by a busy
  // machine (or a sanitizer) to see it after the editor has ended.
  WriteWholeFile(updater,
                 "#!/bin/sh\nsleep 3\n\"" + bundle.Editor() + "\" </dev/null >/dev/null 2>&1 &\n");
  for (const std::string& script : {bundle.Editor(), updater})
    fs::permissions(script, fs::perms::owner_all);
  pid_t bundlePhp = Spawn(php, bundle.Root(), {"300"});
  setenv("PHP_PID", std::to_string(bundlePhp).c_str(), 1);

  ASSERT_TRUE(bundle.Run());
  unsetenv("PHP_PID");

  EXPECT_EQ(ReadWholeFile(restartedEnd), "php running\n");
  EXPECT_EQ(StateOfChild(bundlePhp), "killed");
  const std::string record = ReadWholeFile(bundle.Log());
  EXPECT_NE(record.find("editor: waited for " + updater), std::string::npos) << record;
  EXPECT_NE(record.find("editor: waited for " + bundle.Editor()), std::string::npos) << record;
  WaitFor(bundlePhp, 0ms);
}

}  // namespace
}  // namespace qg
