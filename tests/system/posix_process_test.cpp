// Real processes: programs this test starts itself, from copies with names
// no other program has, so that stopping by name can only reach them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "launcher/process_control.h"
#include "system/platform.h"
#include "system/posix/posix_platform.h"
#include "system/program_runner.h"
#include "tests/support/emulator.h"
#include "tests/support/own_processes.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_names.h"

extern char** environ;

namespace qg {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::string UniqueName(const std::string& kind) {
  std::random_device random;
  return "quillgate-" + kind + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(random() % 1000000);
}

void MakeExecutable(const std::string& path) { ASSERT_EQ(::chmod(path.c_str(), 0755), 0); }

// A child of this test, ended by the test itself at the latest when the
// object goes away.
class Child {
 public:
  Child(const std::string& path, std::vector<std::string> args, const char* directory = nullptr) {
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    feed_ = ends[1];
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, ends[0], 0);  // input that never comes
    if (directory) ::posix_spawn_file_actions_addchdir_np(&actions, directory);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ), 0);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ends[0]);
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      Reap();
    }
    ::close(feed_);
  }
  pid_t Pid() const { return pid_; }
  // Whether it has ended (collected then), without waiting.
  bool Ended() {
    if (reaped_) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
    reaped_ = true;
    status_ = status;
    return true;
  }
  int Reap() {
    if (!reaped_) {
      ::waitpid(pid_, &status_, 0);
      reaped_ = true;
    }
    return status_;
  }
  int Status() const { return status_; }

 private:
  pid_t pid_ = 0;
  int feed_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

bool KilledBySigkill(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }

// Waits up to five seconds for `done`.
template <class Predicate>
bool Eventually(Predicate done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

enum class Variant { Binary, Script, RelativeScript };

void PrintTo(Variant variant, std::ostream* out) {
  *out << (variant == Variant::Binary   ? "binary"
           : variant == Variant::Script ? "script"
                                        : "relative script");
}

class KillByNameTest : public ::testing::TestWithParam<Variant> {};

TEST_P(KillByNameTest, StopsOneOfTwoProcessesOfThatName) {
  QG_REQUIRE_OWN_PROCESSES();
  TempDir dir;
  Variant variant = GetParam();
  std::string name = UniqueName(variant == Variant::Binary ? "sleeper" : "script");
  ASSERT_GT(name.size(), 15u);
  std::string path = dir.Path(name);
  std::vector<std::string> args;
  if (variant == Variant::Binary) {
    fs::copy_file("/bin/sleep", path);
    args = {"sleep", "60"};
  } else {
    // The shell reads its input, which never comes: it waits without a child.
    dir.Write(name, "#!/bin/sh\nread line\n");
    args = {variant == Variant::Script ? path : "./" + name};
  }
  MakeExecutable(path);
  const char* cwd = variant == Variant::RelativeScript ? dir.Root().c_str() : nullptr;
  std::string spawnPath = variant == Variant::RelativeScript ? "./" + name : path;

  EXPECT_EQ(IsProcessRunning(name.c_str()), 0);
  Child first(spawnPath, args, cwd);
  Child second(spawnPath, args, cwd);
  ASSERT_TRUE(Eventually([&] { return IsProcessRunning(name.c_str()) == 1; }));
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(IsProcessRunning(upper.c_str()), 1);

  EXPECT_EQ(KillProcessByName(name.c_str()), 1);
  ASSERT_TRUE(Eventually([&] { return first.Ended() || second.Ended(); }));
  Child& stopped = first.Ended() ? first : second;
  Child& survivor = first.Ended() ? second : first;
  EXPECT_TRUE(KilledBySigkill(stopped.Status()));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(survivor.Ended());
  EXPECT_EQ(IsProcessRunning(name.c_str()), 1);

  // Ended but not collected yet: a zombie no longer counts as running.
  ASSERT_EQ(::kill(survivor.Pid(), SIGKILL), 0);
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(survivor.Pid()), &info, WEXITED | WNOWAIT), 0);
  EXPECT_EQ(IsProcessRunning(name.c_str()), 0);
  EXPECT_EQ(KillProcessByName(name.c_str()), 0);
  EXPECT_TRUE(KilledBySigkill(survivor.Reap()));
}

INSTANTIATE_TEST_SUITE_P(Programs, KillByNameTest,
                         ::testing::Values(Variant::Binary, Variant::Script,
                                           Variant::RelativeScript),
                         [](const auto& info) {
                           return testing::NameFromText(
                               ::testing::PrintToString(info.param).c_str());
                         });

// What the tidy-up reads about a process: its creator, the full path of the
// file it was started from (the script's, for a "#!" script, however it was
// named), and a creation time later than its creator's.
class ProcessOwnershipTest : public ::testing::TestWithParam<Variant> {};

TEST_P(ProcessOwnershipTest, ReadsParentPathAndCreationTime) {
  TempDir dir;
  Variant variant = GetParam();
  std::string name = UniqueName("owned");
  // In a folder named in Cyrillic and with a byte outside UTF-8: the wide
  // path must name the same file.
  std::string folder = fs::canonical(dir.Root()).string() + "/\xD0\x9F\xD1\x80\xD0\xBE-\xE9";
  fs::create_directory(folder);
  std::string path = folder + "/" + name;
  std::vector<std::string> args = {"sleep", "60"};
  if (variant == Variant::Binary) {
    fs::copy_file("/bin/sleep", path);
  } else {
    testing::WriteWholeFile(path, "#!/bin/sh\nread line\n");
    args = {variant == Variant::Script ? path : "./" + name};
  }
  MakeExecutable(path);
  const char* cwd = variant == Variant::RelativeScript ? folder.c_str() : nullptr;
  Child child(variant == Variant::RelativeScript ? "./" + name : path, args, cwd);
  ASSERT_TRUE(Eventually([&] { return IsProcessRunning(name.c_str()) == 1; }));

  std::uint32_t parent = 0;
  Handle snapshot = Sys().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS_FLAG, 0);
  ASSERT_NE(snapshot, 0u);
  ProcessEntry entry;
  entry.dwSize = 296;
  for (bool more = Sys().Process32First(snapshot, &entry); more;
       more = Sys().Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == static_cast<std::uint32_t>(child.Pid()))
      parent = entry.th32ParentProcessID;
  }
  Sys().CloseHandle(snapshot);
  EXPECT_EQ(parent, Sys().GetCurrentProcessId());

  auto created = [](std::uint32_t pid) {
    std::uint64_t time = 0;
    Handle process = Sys().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION_RIGHT, false, pid);
    EXPECT_TRUE(process && Sys().GetProcessTimes(process, &time));
    if (process) Sys().CloseHandle(process);
    return time;
  };
  EXPECT_GE(created(static_cast<std::uint32_t>(child.Pid())), created(parent));

  Handle process = Sys().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION_RIGHT, false,
                                     static_cast<std::uint32_t>(child.Pid()));
  ASSERT_NE(process, 0u);
  char buffer[4096];
  std::uint32_t size = sizeof buffer;
  ASSERT_TRUE(Sys().QueryFullProcessImageNameA(process, buffer, &size));
  EXPECT_EQ(std::string(buffer, size), path);
  char16_t wide[4096];
  size = 4096;
  ASSERT_TRUE(Sys().QueryFullProcessImageNameW(process, wide, &size));
  EXPECT_EQ(std::u16string(wide, size), WideFromPathBytes(path));
  size = static_cast<std::uint32_t>(path.size());  // no room for the terminator
  EXPECT_FALSE(Sys().QueryFullProcessImageNameA(process, buffer, &size));
  ::kill(child.Pid(), SIGKILL);
  child.Reap();
  size = sizeof buffer;
  EXPECT_FALSE(Sys().QueryFullProcessImageNameA(process, buffer, &size));  // gone
  Sys().CloseHandle(process);
}

INSTANTIATE_TEST_SUITE_P(Programs, ProcessOwnershipTest,
                         ::testing::Values(Variant::Binary, Variant::Script,
                                           Variant::RelativeScript));

TEST(PosixProcessTest, OpenProcessFailsForProcessesThatAreGone) {
  Child child("/bin/sleep", {"sleep", "60"});
  Handle process = Sys().OpenProcess(PROCESS_TERMINATE_RIGHT, false, child.Pid());
  ASSERT_NE(process, 0u);
  EXPECT_TRUE(Sys().TerminateProcess(process, 9));
  EXPECT_TRUE(Sys().CloseHandle(process));
  EXPECT_TRUE(KilledBySigkill(child.Reap()));
  EXPECT_EQ(Sys().OpenProcess(PROCESS_TERMINATE_RIGHT, false, child.Pid()), 0u);
  EXPECT_EQ(Sys().OpenProcess(PROCESS_TERMINATE_RIGHT, false, 0), 0u);
}

// Run in a fresh process, which gives up root first where it has it: the
// first process of the system is not ours to stop.
void OpenTheFirstProcessAsAnOrdinaryUser() {
  if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::exit(2);
  std::exit(Sys().OpenProcess(PROCESS_TERMINATE_RIGHT, false, 1) == 0 ? 0 : 1);
}

TEST(PosixProcessDeathTest, OpenProcessRefusesProcessesItMayNotSignal) {
  testing::UseFreshProcessDeathTests();
  EXPECT_EXIT(OpenTheFirstProcessAsAnOrdinaryUser(), ::testing::ExitedWithCode(0), "");
}

TEST(PosixProcessTest, WaitTimesOutThenSeesTheEnd) {
  char line[] = "/bin/sleep 60";
  StartupInfo startup;
  ProcessInformation info;
  ASSERT_TRUE(Sys().CreateProcessA(line, false, 0, nullptr, startup, &info));
  EXPECT_EQ(Sys().WaitForSingleObject(info.hProcess, 30), 258u);  // WAIT_TIMEOUT
  EXPECT_TRUE(Sys().TerminateProcess(info.hProcess, 9));
  EXPECT_EQ(Sys().WaitForSingleObject(info.hProcess, 5000), WAIT_OBJECT_0_RESULT);
  EXPECT_EQ(Sys().WaitForSingleObject(info.hProcess, INFINITE_WAIT), WAIT_OBJECT_0_RESULT);
  // Collected once, by the handle: the id is no longer a child of ours.
  EXPECT_EQ(::waitpid(static_cast<pid_t>(info.dwProcessId), nullptr, WNOHANG), -1);
  EXPECT_TRUE(Sys().CloseHandle(info.hProcess));
  EXPECT_EQ(Sys().WaitForSingleObject(info.hProcess, 0), WAIT_FAILED_RESULT);
}

// A script that writes its arguments and its folder to the file named first.
std::string WriteReporter(const TempDir& dir, const std::string& name) {
  std::string path = dir.Write(name,
                               "#!/bin/sh\n"
                               "out=\"$1\"; shift\n"
                               "sleep 0.3\n"
                               "{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } "
                               "> \"$out.part\"\n"
                               "mv \"$out.part\" \"$out\"\n");
  MakeExecutable(path);
  return path;
}

TEST(PosixProgramTest, RunWaitReturnsAfterTheProgramEnded) {
  TempDir dir;
  fs::create_directories(dir.Root() / "dir with blanks");
  std::string script = WriteReporter(dir, "dir with blanks/report");
  std::string out = dir.Path("out.txt");
  std::string parameters = "\"" + out + "\" plain \"two words\" a\\\"b";
  EXPECT_EQ(StartProgram(script.c_str(), parameters.c_str(), "", RunWait), 1);
  // The script writes only after a pause: the file is there because the call
  // waited.
  EXPECT_EQ(dir.Read("out.txt"), fs::current_path().string() + "\n[plain]\n[two words]\n[a\"b]\n");
}

TEST(PosixProgramTest, WithoutRunWaitReturnsAtOnce) {
  TempDir dir;
  std::string script = WriteReporter(dir, "report");
  std::string out = dir.Path("out.txt");
  EXPECT_EQ(StartProgram(script.c_str(), out.c_str(), nullptr, 0), 1);
  EXPECT_FALSE(dir.Exists("out.txt"));
  EXPECT_TRUE(Eventually([&] { return dir.Exists("out.txt"); }));
}

TEST(PosixProgramTest, TheWorkingDirectoryIsHonoured) {
  TempDir dir;
  fs::create_directories(dir.Root() / "work");
  std::string script = WriteReporter(dir, "report");
  std::string out = dir.Path("out.txt");
  std::string work = fs::canonical(dir.Root() / "work").string();
  EXPECT_EQ(StartProgram(script.c_str(), out.c_str(), work.c_str(), RunWait), 1);
  EXPECT_EQ(dir.Read("out.txt"), work + "\n");
}

// Puts PATH to a folder of the test's choosing for the life of the object.
class PathScope {
 public:
  explicit PathScope(const std::string& path) {
    if (const char* old = std::getenv("PATH")) before_ = old;
    ::setenv("PATH", path.c_str(), 1);
  }
  ~PathScope() { ::setenv("PATH", before_.c_str(), 1); }

 private:
  std::string before_;
};

// User-mode emulation runs posix_spawn's child as a copy of the process, not
// in its memory, so a program that cannot start ends the child with 127
// instead of making posix_spawn fail.
constexpr const char* kSpawnUnderEmulation =
    "a program that cannot start is not reported by posix_spawn there";

TEST(PosixProgramTest, AMissingProgramFailsWithoutAnOpener) {
  QG_SKIP_UNDER_EMULATION(kSpawnUnderEmulation);
  TempDir dir;
  fs::create_directories(dir.Root() / "empty");
  PathScope path(dir.Path("empty"));
  std::string missing = dir.Path("no-such-editor");
  EXPECT_EQ(StartProgram(missing.c_str(), "", "", RunWait), 0);
  // A file that exists but cannot run, and no opener to hand it to.
  std::string document = dir.Write("notes.txt", "text");
  EXPECT_EQ(StartProgram(document.c_str(), "", "", RunWait), 0);
}

TEST(PosixProgramTest, TheOpenerGetsWhatCannotRunInTheFilesFolder) {
  QG_SKIP_UNDER_EMULATION(kSpawnUnderEmulation);
  TempDir dir;
  // A stand-in for the desktop's opener that reports what it was given.
  std::string report = dir.Path("opened.txt");
  std::string opener =
      dir.Write("bin/xdg-open", "#!/bin/sh\nsleep 0.3\n{ pwd; echo \"$@\"; } > \"" + report +
                                    ".part\"\nmv \"" + report + ".part\" \"" + report + "\"\n");
  MakeExecutable(opener);
  PathScope path(dir.Path("bin") + ":/bin:/usr/bin");
  std::string document = dir.Write("docs/notes.txt", "text");
  std::string folder = fs::canonical(dir.Root() / "docs").string();

  EXPECT_EQ(StartProgram(document.c_str(), "", "", RunWait), 1);
  EXPECT_EQ(dir.Read("opened.txt"), folder + "\n" + document + "\n");

  // A file that is not there is not handed to the opener.
  fs::remove(report);
  std::string missing = dir.Path("docs/missing.txt");
  EXPECT_EQ(StartProgram(missing.c_str(), "", "", RunWait), 0);
  EXPECT_FALSE(dir.Exists("opened.txt"));
}

TEST(PosixProgramTest, PipesCarryTheProgramsOutput) {
  Handle readEnd = 0, writeEnd = 0;
  ASSERT_TRUE(Sys().CreatePipe(&readEnd, &writeEnd));
  Handle copy = 0;
  ASSERT_TRUE(Sys().DuplicateHandle(writeEnd, &copy));
  EXPECT_TRUE(Sys().CloseHandle(writeEnd));
  StartupInfo startup;
  startup.dwFlags = STARTF_USESTDHANDLES_FLAG;
  startup.hStdOutput = copy;
  char line[] = "/bin/echo \"one  two\" three";
  ProcessInformation info;
  ASSERT_TRUE(Sys().CreateProcessA(line, true, 0, nullptr, startup, &info));
  EXPECT_TRUE(Sys().CloseHandle(copy));
  EXPECT_EQ(Sys().WaitForSingleObject(info.hProcess, INFINITE_WAIT), WAIT_OBJECT_0_RESULT);
  Sys().CloseHandle(info.hProcess);
  char buffer[64] = {};
  std::uint32_t got = 0;
  ASSERT_TRUE(Sys().ReadFile(readEnd, buffer, sizeof buffer - 1, &got));
  EXPECT_EQ(std::string(buffer, got), "one  two three\n");
  Sys().CloseHandle(readEnd);
}

}  // namespace
}  // namespace qg
