// The launcher's tidy-up against real processes: the bundle's php.exe and a
// ConEmu.exe the editor left behind are stopped, a php.exe and a ConEmu.exe
// started earlier from another folder keep running.
//
// The launcher stops processes by name, so the run happens in a PID
// namespace of its own (with its own /proc) where every process is one this
// test started; where no namespace can be made the test is skipped.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;

// The sleep program from PATH: copies of it stand in for php.exe and ConEmu.exe.
std::string FindSleep() {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    fs::path candidate = fs::path(folder) / "sleep";
    if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

pid_t Start(const std::string& program, const std::string& directory) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    ::execl(program.c_str(), program.c_str(), "300", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// "running", "killed" (ended by SIGKILL and collected here) or "ended <status>".
std::string StateOfChild(pid_t pid) {
  int status = 0;
  pid_t got = ::waitpid(pid, &status, WNOHANG);
  if (got == 0) return "running";
  if (got == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return "killed";
  return "ended " + std::to_string(status);
}

// Runs as process 1 of the new namespace; returns its findings as lines.
std::string Scenario(const fs::path& work, const std::string& launcher, const std::string& sleep) {
  const fs::path bundle = work / "bundle", other = work / "other";
  const fs::path phpDir = bundle / "server/modules/php/PHP-5.6-5.7";
  fs::create_directories(phpDir);
  fs::create_directories(bundle / "server/notepad");
  fs::create_directories(other);
  for (const fs::path& copy : {phpDir / "php.exe", other / "php.exe", other / "ConEmu.exe"})
    fs::copy_file(sleep, copy);
  const fs::path conemuPid = work / "editor-conemu.pid";
  // The editor leaves a ConEmu.exe from outside the bundle running behind it
  // and tells its id once that program runs.
  testing::WriteWholeFile((bundle / "server/notepad/notepad++.exe").string(),
                          "#!/bin/sh\n\"" + (other / "ConEmu.exe").string() +
                              "\" 300 </dev/null >/dev/null 2>&1 &\n"
                              "while [ ! -e /proc/$!/exe ]; do :; done\n"
                              "echo $! > \"" +
                              conemuPid.string() + "\"\n");
  fs::permissions(bundle / "server/notepad/notepad++.exe", fs::perms::owner_all,
                  fs::perm_options::add);

  // Started first, so they come first in the process list.
  pid_t foreignPhp = Start((other / "php.exe").string(), other.string());
  pid_t foreignConEmu = Start((other / "ConEmu.exe").string(), other.string());
  pid_t bundlePhp = Start((phpDir / "php.exe").string(), other.string());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  pid_t run = ::fork();
  if (run == 0) {
    if (::chdir(bundle.c_str()) != 0) ::_exit(126);
    ::execl(launcher.c_str(), launcher.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(run, &status, 0);

  std::ostringstream out;
  out << "launcher exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << "\n";
  out << "bundle php " << StateOfChild(bundlePhp) << "\n";
  out << "foreign php " << StateOfChild(foreignPhp) << "\n";
  out << "foreign ConEmu " << StateOfChild(foreignConEmu) << "\n";
  std::string editorConEmu = testing::ReadWholeFile(conemuPid.string());
  while (!editorConEmu.empty() && editorConEmu.back() == '\n') editorConEmu.pop_back();
  // Stopped and collected by the launcher, it is gone altogether; had the
  // launcher left it, it would still run here (or linger unreaped).
  bool gone = !editorConEmu.empty() && !fs::exists("/proc/" + editorConEmu);
  out << "editor ConEmu " << (editorConEmu.empty() ? "never ran" : gone ? "gone" : "left") << "\n";
  return out.str();
}

TEST(TidyUpPosixTest, StopsTheBundlesProcessesAndLeavesOthersRunning) {
  std::string sleep = FindSleep();
  if (sleep.empty()) GTEST_SKIP() << "no sleep program on PATH";
  testing::TempDir dir;
  const fs::path work = fs::canonical(dir.Root());

  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeEnds[0]);
    auto report = [&](const std::string& text, int code) {
      [[maybe_unused]] ssize_t written = ::write(pipeEnds[1], text.data(), text.size());
      ::_exit(code);
    };
    if (::unshare(CLONE_NEWPID | CLONE_NEWNS) != 0) {
      report(std::string("no PID namespace: ") + std::strerror(errno), 77);
    }
    pid_t init = ::fork();
    if (init == 0) {
      // /proc of the new namespace, mounted in a mount namespace whose
      // changes do not reach the rest of the system.
      if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        report(std::string("no /proc of its own: ") + std::strerror(errno), 77);
      }
      if (::getpid() != 1) report("not alone in the namespace", 77);
      report(Scenario(work, QG_LAUNCHER_EXE, sleep), 0);
    }
    int status = 0;
    ::waitpid(init, &status, 0);
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
  }
  ::close(pipeEnds[1]);
  std::string findings;
  char buffer[512];
  for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
    findings.append(buffer, static_cast<std::size_t>(got));
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << findings;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << findings;
  EXPECT_EQ(findings,
            "launcher exit 0\n"
            "bundle php killed\n"
            "foreign php running\n"
            "foreign ConEmu running\n"
            "editor ConEmu gone\n");
}

}  // namespace
}  // namespace qg
