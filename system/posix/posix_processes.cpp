// Processes on POSIX (Linux): the snapshot read from /proc, process handles
// for termination and waiting.
//
// Snapshot names. An entry's szExeFile is the name of the file the process
// was started from, so that it matches what a user sees in the folder:
//   - a script started through its "#!" line runs the interpreter, whose
//     command line holds the script's path after the interpreter's own
//     words; that path's file name is taken;
//   - otherwise the file behind /proc/PID/exe (a program name of any length,
//     unlike the 15 characters of /proc/PID/stat);
//   - when that link cannot be read (another user's process), the first word
//     of the command line, then the short name of /proc/PID/stat.
// Zombies (ended, not yet reaped) are left out: they no longer run.
//
// Process handles. A handle holds a pidfd where the kernel offers one, so a
// signal can never reach a later process that got the same id; without one,
// the id itself. A child this platform started is reaped by its handle, once.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "system/posix/posix_platform.h"

namespace qg {

namespace {

constexpr std::uint32_t kWaitTimeout = 258;  // WAIT_TIMEOUT

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

bool SignalPidfd(int pidfd, int signal) {
#ifdef SYS_pidfd_send_signal
  return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
#else
  (void)pidfd;
  (void)signal;
  errno = ENOSYS;
  return false;
#endif
}

// Reads a whole small file of /proc; empty when it cannot be read.
std::string ReadProcFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string content;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return content;
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The state letter and short name from /proc/PID/stat: "pid (name) S ppid
// ...", and, when asked for, the parent's id and the start time (field 22,
// clock ticks after boot).
bool ReadStat(const std::string& dir, char* state, std::string* shortName,
              std::uint32_t* parent = nullptr, std::uint64_t* startTime = nullptr) {
  std::string stat = ReadProcFile(dir + "/stat");
  std::size_t open = stat.find('(');
  std::size_t close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open ||
      close + 2 >= stat.size()) {
    return false;
  }
  *shortName = stat.substr(open + 1, close - open - 1);
  *state = stat[close + 2];
  // The fields after the name, from the state letter on.
  std::vector<std::string> fields;
  for (std::size_t at = close + 2; at < stat.size() && fields.size() < 20;) {
    std::size_t blank = stat.find(' ', at);
    if (blank == std::string::npos) blank = stat.size();
    fields.push_back(stat.substr(at, blank - at));
    at = blank + 1;
  }
  if (parent) *parent = fields.size() > 1 ? std::strtoul(fields[1].c_str(), nullptr, 10) : 0;
  if (startTime) {
    if (fields.size() < 20) return false;
    *startTime = std::strtoull(fields[19].c_str(), nullptr, 10);
  }
  return true;
}

// The "#!" line of an executable regular file: its interpreter and optional
// argument. False when `path` is no such script.
bool ReadInterpreterLine(const std::string& path, std::string* interpreter, std::string* argument) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  char head[256];
  ssize_t got = -1;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0111)) {
    got = ::read(fd, head, sizeof head);
  }
  ::close(fd);
  if (got < 2 || head[0] != '#' || head[1] != '!') return false;
  std::string line(head + 2, static_cast<std::size_t>(got - 2));
  line = line.substr(0, line.find('\n'));
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  std::size_t i = 0;
  while (i < line.size() && blank(line[i])) ++i;
  std::size_t start = i;
  while (i < line.size() && !blank(line[i])) ++i;
  *interpreter = line.substr(start, i - start);
  while (i < line.size() && blank(line[i])) ++i;
  std::size_t end = line.size();
  while (end > i && blank(line[end - 1])) --end;
  *argument = line.substr(i, end - i);
  return !interpreter->empty();
}

// The path (as the command line gives it) of the script a process was started from, when its
// command line is the one the kernel makes for a "#!" script: the interpreter as the line names it,
// its optional argument, the script's path. `env`-style lines (the program
// replaced itself by the interpreter it looked up) count as well.
std::string ScriptOf(const std::string& dir, const std::vector<std::string>& argv) {
  auto isScript = [&](std::size_t at, std::string* script) {
    // An option ("-c", "-u") is no script path: no file is looked at for it.
    if (at >= argv.size() || argv[at].empty() || argv[at][0] == '-') return false;
    std::string path = argv[at];
    if (path[0] != '/') path = dir + "/cwd/" + path;
    std::string interpreter, argument;
    if (!ReadInterpreterLine(path, &interpreter, &argument)) return false;
    bool direct =
        argv[0] == interpreter && (argument.empty() ? at == 1 : at == 2 && argv[1] == argument);
    bool throughEnv = BaseName(interpreter) == "env" && at == 1 &&
                      argument.substr(0, argument.find(' ')) == argv[0];
    if (!direct && !throughEnv) return false;
    *script = argv[at];
    return true;
  };
  std::string script;
  if (isScript(1, &script) || isScript(2, &script)) return script;
  return {};
}

// The file behind /proc/PID/exe, full path; empty when it cannot be read.
std::string ExePath(const std::string& dir) {
  char target[4096];
  ssize_t length = ::readlink((dir + "/exe").c_str(), target, sizeof target - 1);
  if (length <= 0) return {};
  std::string path(target, static_cast<std::size_t>(length));
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
    path.resize(path.size() - deleted.size());
  }
  return path;
}

// The process's command line, word by word; empty for kernel threads and
// zombies.
std::vector<std::string> CommandWords(const std::string& dir) {
  std::string cmdline = ReadProcFile(dir + "/cmdline");
  std::vector<std::string> argv;
  for (std::size_t at = 0; at < cmdline.size();) {
    std::size_t zero = cmdline.find('\0', at);
    if (zero == std::string::npos) zero = cmdline.size();
    argv.push_back(cmdline.substr(at, zero - at));
    at = zero + 1;
  }
  return argv;
}

// The full path of the file the snapshot names for the process: the
// script's, resolved from the process's own directory, else the program's.
std::string FullPathOf(const std::string& dir) {
  std::vector<std::string> argv = CommandWords(dir);
  if (argv.empty()) return {};
  std::string script = ScriptOf(dir, argv);
  if (script.empty()) return ExePath(dir);
  if (script[0] != '/') script = dir + "/cwd/" + script;
  char* resolved = ::realpath(script.c_str(), nullptr);
  if (!resolved) return {};
  std::string path(resolved);
  std::free(resolved);
  return path;
}

// The children this platform started: they are reaped through their
// handles, never by ReapAdoptedProcesses.
std::mutex startedLock;
std::set<pid_t> startedChildren;

bool StartedHere(pid_t pid) {
  std::lock_guard<std::mutex> lock(startedLock);
  return startedChildren.count(pid) != 0;
}

struct SnapshotEntry {
  std::uint32_t pid;
  std::uint32_t parent;
  std::string exeFile;
};

struct SnapshotObject : HandleObject {
  std::mutex mutex;
  std::vector<SnapshotEntry> entries;
  std::size_t next = 0;
};

bool FillEntry(Handle snapshot, HandleTable& handles, ProcessEntry* entry, bool first) {
  auto object = handles.GetAs<SnapshotObject>(snapshot);
  if (!object || !entry) return false;
  std::lock_guard<std::mutex> lock(object->mutex);
  if (first) object->next = 0;
  if (object->next >= object->entries.size()) return false;
  const SnapshotEntry& source = object->entries[object->next++];
  entry->th32ProcessID = source.pid;
  entry->th32ParentProcessID = source.parent;
  std::size_t length = std::min(source.exeFile.size(), MAX_PATH_LENGTH - 1);
  std::memcpy(entry->szExeFile, source.exeFile.data(), length);
  std::memset(entry->szExeFile + length, 0, MAX_PATH_LENGTH - length);
  return true;
}

// A process handle. For a child of this process the handle does the reaping;
// `reaped` and the reaping itself are guarded by `mutex`, and the id cannot
// pass to another process before that.
struct ProcessObject : HandleObject {
  pid_t pid = 0;
  int pidfd = -1;
  bool child = false;
  std::mutex mutex;
  bool reaped = false;

  ~ProcessObject() override {
    if (child && !Reap(false)) {
      // Still running and nobody left to wait for it: a thread of its own
      // collects it when it ends, so that it does not linger as a zombie.
      pid_t running = pid;
      try {
        std::thread([running] {
          int status = 0;
          while (::waitpid(running, &status, 0) < 0 && errno == EINTR) {
          }
        }).detach();
      } catch (...) {
        // No thread to spare: the zombie stays until this process ends.
      }
    }
    if (pidfd >= 0) ::close(pidfd);
  }

  // Collects the child's end without waiting when `block` is false. True
  // once it has been collected.
  bool Reap(bool block) {
    std::lock_guard<std::mutex> lock(mutex);
    if (reaped) return true;
    int status = 0;
    pid_t got;
    do {
      got = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == pid || (got < 0 && errno == ECHILD)) reaped = true;
    if (reaped) {
      std::lock_guard<std::mutex> started(startedLock);
      startedChildren.erase(pid);
    }
    return reaped;
  }

  // Whether the process has ended, without collecting it.
  bool Ended() {
    if (pidfd >= 0) {
      struct pollfd ready {
        pidfd, POLLIN, 0
      };
      return ::poll(&ready, 1, 0) > 0;
    }
    if (child) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (reaped) return true;
      }
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return errno == ECHILD;
      }
      return info.si_pid == pid;
    }
    return ::kill(pid, 0) != 0 && errno == ESRCH;
  }

  // Blocks until the process has ended, without collecting it.
  void AwaitEnd() {
    if (pidfd >= 0) {
      struct pollfd ready {
        pidfd, POLLIN, 0
      };
      while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
      }
      return;
    }
    if (child) {
      siginfo_t info{};
      while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
             errno == EINTR) {
      }
      return;
    }
    while (!Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  // Waits up to `milliseconds` for the end; true when it came.
  bool AwaitEndFor(std::uint32_t milliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      if (Ended()) return true;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      if (pidfd >= 0) {
        struct pollfd ready {
          pidfd, POLLIN, 0
        };
        ::poll(&ready, 1, static_cast<int>(left.count()));
      } else {
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(5)));
      }
    }
  }
};

}  // namespace

Handle PosixPlatform::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t) {
  if (!(flags & TH32CS_SNAPPROCESS_FLAG)) return 0;
  DIR* proc = ::opendir("/proc");
  if (!proc) return 0;
  auto snapshot = std::make_shared<SnapshotObject>();
  while (struct dirent* item = ::readdir(proc)) {
    char* end = nullptr;
    unsigned long pid = std::strtoul(item->d_name, &end, 10);
    if (!pid || *end || pid > 0xFFFFFFFFul) continue;
    std::string dir = std::string("/proc/") + item->d_name;
    // Kernel threads have no command line, and neither have zombies, whose
    // programs have ended: neither is a program that can be asked about or
    // stopped, so neither is listed.
    std::vector<std::string> argv = CommandWords(dir);
    if (argv.empty()) continue;
    std::string name = BaseName(ScriptOf(dir, argv));
    if (name.empty()) name = BaseName(ExePath(dir));
    if (name.empty()) name = BaseName(argv[0].substr(0, argv[0].find(' ')));
    std::string shortName;
    char state = 0;
    std::uint32_t parent = 0;
    if (!ReadStat(dir, &state, &shortName, &parent) || state == 'Z' || state == 'X') continue;
    if (name.empty()) name = shortName;
    snapshot->entries.push_back({static_cast<std::uint32_t>(pid), parent, std::move(name)});
  }
  ::closedir(proc);
  return handles_.Add(std::move(snapshot));
}

bool PosixPlatform::Process32First(Handle snapshot, ProcessEntry* entry) {
  return FillEntry(snapshot, handles_, entry, true);
}

bool PosixPlatform::Process32Next(Handle snapshot, ProcessEntry* entry) {
  return FillEntry(snapshot, handles_, entry, false);
}

// Only the right to terminate (and to wait) is known here: the process must
// exist, must not be a zombie, and this process must be allowed to signal it.
Handle PosixPlatform::OpenProcess(std::uint32_t, bool, std::uint32_t processId) {
  pid_t pid = static_cast<pid_t>(processId);
  if (pid <= 0) return 0;
  auto process = std::make_shared<ProcessObject>();
  process->pid = pid;
  process->pidfd = OpenPidfd(pid);
  if (process->pidfd < 0 && errno == ESRCH) return 0;
  if (::kill(pid, 0) != 0) return 0;  // ESRCH: gone; EPERM: not ours to stop
  char state = 0;
  std::string shortName;
  if (!ReadStat("/proc/" + std::to_string(pid), &state, &shortName) || state == 'Z' ||
      state == 'X') {
    return 0;
  }
  return handles_.Add(std::move(process));
}

Handle PosixPlatform::AddChildProcess(pid_t pid) {
  auto process = std::make_shared<ProcessObject>();
  process->pid = pid;
  process->child = true;
  process->pidfd = OpenPidfd(pid);  // an unreaped child always has one
  {
    std::lock_guard<std::mutex> lock(startedLock);
    startedChildren.insert(pid);
  }
  return handles_.Add(std::move(process));
}

// The exit code cannot be chosen on POSIX: the process ends by SIGKILL.
bool PosixPlatform::TerminateProcess(Handle handle, std::uint32_t) {
  auto process = handles_.GetAs<ProcessObject>(handle);
  if (!process) return false;
  if (process->pidfd >= 0) return SignalPidfd(process->pidfd, SIGKILL);
  if (process->child) {
    // Until reaped, the id still names this child.
    std::lock_guard<std::mutex> lock(process->mutex);
    if (process->reaped) return false;
    return ::kill(process->pid, SIGKILL) == 0;
  }
  return ::kill(process->pid, SIGKILL) == 0;
}

std::uint32_t PosixPlatform::WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  auto process = handles_.GetAs<ProcessObject>(handle);
  if (!process) return WAIT_FAILED_RESULT;
  if (milliseconds == INFINITE_WAIT) {
    process->AwaitEnd();
  } else if (!process->AwaitEndFor(milliseconds)) {
    return kWaitTimeout;
  }
  if (process->child) process->Reap(true);
  return WAIT_OBJECT_0_RESULT;
}

// --- process ownership ---------------------------------------------------------------

bool PosixPlatform::QueryFullProcessImageNameA(Handle handle, char* buffer, std::uint32_t* size) {
  auto process = handles_.GetAs<ProcessObject>(handle);
  if (!process || !buffer || !size || *size == 0) return false;
  std::string path = FullPathOf("/proc/" + std::to_string(process->pid));
  // The id may have passed to another process while the path was read.
  if (path.empty() || path.size() >= *size || process->Ended()) return false;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  *size = static_cast<std::uint32_t>(path.size());
  return true;
}

bool PosixPlatform::GetProcessTimes(Handle handle, std::uint64_t* creationTime) {
  auto process = handles_.GetAs<ProcessObject>(handle);
  if (!process || !creationTime) return false;
  char state = 0;
  std::string shortName;
  return ReadStat("/proc/" + std::to_string(process->pid), &state, &shortName, nullptr,
                  creationTime) &&
         !process->Ended();
}

std::uint32_t PosixPlatform::GetCurrentProcessId() {
  return static_cast<std::uint32_t>(::getpid());
}

bool PosixPlatform::BecomeChildSubreaper() {
  return ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0;
}

std::uint32_t PosixPlatform::ReapAdoptedProcesses(const std::uint32_t* stopped, std::size_t count,
                                                  std::uint32_t milliseconds) {
  std::uint32_t collected = 0;
  auto collect = [&](pid_t pid) {
    int status = 0;
    pid_t got;
    do {
      got = ::waitpid(pid, &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == pid) ++collected;
    return got;  // pid: collected; 0: still running; -1: not a child
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (std::size_t i = 0; stopped && i < count; ++i) {
    pid_t pid = static_cast<pid_t>(stopped[i]);
    if (pid <= 0 || StartedHere(pid)) continue;
    while (collect(pid) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // Every other adopted child that has ended.
  DIR* proc = ::opendir("/proc");
  if (!proc) return collected;
  const std::uint32_t self = GetCurrentProcessId();
  while (struct dirent* item = ::readdir(proc)) {
    char* end = nullptr;
    unsigned long pid = std::strtoul(item->d_name, &end, 10);
    if (!pid || *end || pid > 0x7FFFFFFFul) continue;
    char state = 0;
    std::string shortName;
    std::uint32_t parent = 0;
    if (!ReadStat(std::string("/proc/") + item->d_name, &state, &shortName, &parent)) continue;
    if (parent == self && state == 'Z' && !StartedHere(static_cast<pid_t>(pid))) {
      collect(static_cast<pid_t>(pid));
    }
  }
  ::closedir(proc);
  return collected;
}

}  // namespace qg
