// Starting programs on POSIX.
//
// CreateProcessA splits the command line into arguments as a Windows program
// would (its first item, the program path, ends at the closing quote or the
// first blank; the later items follow the C runtime's rules for quotes and
// backslashes) and starts the program with posix_spawn. A program path with
// a slash is taken relative to this process's current directory, also when a
// working directory is given; a bare name is looked up on PATH. The showing
// of windows has no meaning here; DETACHED_PROCESS starts the program in a
// session of its own, without a controlling terminal. Standard handles are
// passed only with STARTF_USESTDHANDLES and inheritance; every other
// descriptor of this process is close-on-exec, so nothing else is inherited.
// The child starts with no signal blocked and SIGHUP and SIGPIPE at their
// default action, whatever this process has set up for itself.
//
// ShellExecuteExA opens the file with the desktop's opener, xdg-open, found
// on PATH; it fails when there is none, when the file does not exist, or for
// a verb other than "open". The opener takes the file alone: parameters are
// not passed on.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "system/posix/posix_platform.h"

extern char** environ;

namespace qg {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The items of a Windows command line.
std::vector<std::string> SplitCommandLine(const char* line) {
  std::vector<std::string> items;
  const char* p = line;
  while (IsBlank(*p)) ++p;
  if (!*p) return items;

  // The program path: no escapes, quotes only group.
  std::string program;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') program += *p++;
    if (*p == '"') ++p;
  } else {
    while (*p && !IsBlank(*p)) program += *p++;
  }
  items.push_back(program);

  for (;;) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    std::string item;
    bool quoted = false;
    while (*p && (quoted || !IsBlank(*p))) {
      if (*p == '\\') {
        std::size_t backslashes = 0;
        while (*p == '\\') {
          ++backslashes;
          ++p;
        }
        if (*p == '"') {
          // 2n backslashes and a quote: n backslashes, the quote toggles;
          // 2n+1: n backslashes and a literal quote.
          item.append(backslashes / 2, '\\');
          if (backslashes % 2) {
            item += '"';
            ++p;
          }
        } else {
          item.append(backslashes, '\\');
        }
      } else if (*p == '"') {
        if (quoted && p[1] == '"') {
          item += '"';  // "" inside quotes is one literal quote
          p += 2;
        } else {
          quoted = !quoted;
          ++p;
        }
      } else {
        item += *p++;
      }
    }
    items.push_back(item);
  }
  return items;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (!::getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// posix_spawn settings common to both ways of starting.
class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
    flags_ = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool ChangeDirectory(const char* directory) {
    return ::posix_spawn_file_actions_addchdir_np(&actions_, directory) == 0;
  }
  bool Redirect(int source, int target) {
    if (source >= 0) return ::posix_spawn_file_actions_adddup2(&actions_, source, target) == 0;
    return ::posix_spawn_file_actions_addopen(&actions_, target, "/dev/null", O_RDWR, 0) == 0;
  }
  void NewSession() { flags_ |= POSIX_SPAWN_SETSID; }

  // The process id, or 0 when it could not be started.
  pid_t Spawn(const std::string& path, const std::vector<std::string>& items, bool search) {
    ::posix_spawnattr_setflags(&attributes_, static_cast<short>(flags_));
    std::vector<char*> argv;
    for (const std::string& item : items) argv.push_back(const_cast<char*>(item.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int error =
        search ? ::posix_spawnp(&pid, path.c_str(), &actions_, &attributes_, argv.data(), environ)
               : ::posix_spawn(&pid, path.c_str(), &actions_, &attributes_, argv.data(), environ);
    return error == 0 ? pid : 0;
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
  int flags_ = 0;
};

}  // namespace

bool PosixPlatform::CreateProcessA(char* commandLine, bool inheritHandles,
                                   std::uint32_t creationFlags, const char* currentDirectory,
                                   const StartupInfo& startup, ProcessInformation* info) {
  if (info) *info = ProcessInformation{};
  if (!commandLine || !info) return false;
  std::vector<std::string> items = SplitCommandLine(commandLine);
  if (items.empty() || items[0].empty()) return false;

  std::string program = items[0];
  bool search = program.find('/') == std::string::npos;
  if (!search && program[0] != '/') {
    std::string here = CurrentDirectory();
    if (here.empty()) return false;
    program = here + "/" + program;
  }

  SpawnSetup setup;
  if (currentDirectory && *currentDirectory && !setup.ChangeDirectory(currentDirectory)) {
    return false;
  }
  if (inheritHandles && (startup.dwFlags & STARTF_USESTDHANDLES_FLAG)) {
    const Handle streams[3] = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
    for (int target = 0; target < 3; ++target) {
      if (!setup.Redirect(streams[target] ? DescriptorOf(streams[target]) : -1, target)) {
        return false;
      }
    }
  }
  if (creationFlags & DETACHED_PROCESS_FLAG) setup.NewSession();

  pid_t pid = setup.Spawn(program, items, search);
  if (pid <= 0) return false;
  info->hProcess = AddChildProcess(pid);
  info->hThread = 0;  // no thread handle on POSIX
  info->dwProcessId = static_cast<std::uint32_t>(pid);
  info->dwThreadId = 0;
  return true;
}

bool PosixPlatform::ShellExecuteExA(ShellExecuteInfo* info) {
  if (!info) return false;
  info->hProcess = 0;
  if (!info->lpFile || !*info->lpFile) return false;
  if (info->lpVerb && *info->lpVerb && std::strcmp(info->lpVerb, "open") != 0) return false;

  std::string file = info->lpFile;
  const char* directory = info->lpDirectory && *info->lpDirectory ? info->lpDirectory : nullptr;
  // An address is handed on as it is; a file must exist, as the shell would
  // not open a missing one.
  if (file.find("://") == std::string::npos) {
    std::string where = file;
    if (where[0] != '/' && directory) where = std::string(directory) + "/" + where;
    struct stat status {};
    if (::stat(where.c_str(), &status) != 0) return false;
  }

  SpawnSetup setup;
  if (directory && !setup.ChangeDirectory(directory)) return false;
  pid_t pid = setup.Spawn("xdg-open", {"xdg-open", file}, true);
  if (pid <= 0) return false;
  Handle process = AddChildProcess(pid);
  if (info->fMask & SEE_MASK_NOCLOSEPROCESS_FLAG) {
    info->hProcess = process;
  } else {
    CloseHandle(process);
  }
  return true;
}

bool PosixPlatform::CreatePipe(Handle* readEnd, Handle* writeEnd) {
  if (!readEnd || !writeEnd) return false;
  *readEnd = *writeEnd = 0;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  *readEnd = handles_.Add(std::make_shared<FileObject>(ends[0]));
  *writeEnd = handles_.Add(std::make_shared<FileObject>(ends[1]));
  return true;
}

// A file or pipe gets a descriptor of its own; any other object (a process)
// a second handle to the same object.
bool PosixPlatform::DuplicateHandle(Handle source, Handle* target) {
  if (!target) return false;
  *target = 0;
  if (auto file = handles_.GetAs<FileObject>(source)) {
    int fd = ::fcntl(file->fd, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) return false;
    *target = handles_.Add(std::make_shared<FileObject>(fd));
    return true;
  }
  auto object = handles_.Get(source);
  if (!object) return false;
  *target = handles_.Add(std::move(object));
  return true;
}

}  // namespace qg
