#include "tests/support/simulated_platform.h"

#include <algorithm>
#include <cstring>

#include "files/utf8.h"

namespace qg::testing {

namespace {
constexpr Window kDesktop = 0x10010;

std::optional<std::string> Text(const char* text) {
  return text ? std::optional<std::string>(text) : std::nullopt;
}

// A UTF-8 text as UTF-16; bytes that are not UTF-8 as the code points 0-255.
std::u16string WideOf(const std::string& text) {
  std::u16string wide;
  if (!WideFromUtf8(text, &wide)) wide.assign(text.begin(), text.end());
  return wide;
}

std::string Utf8Of(const std::u16string& wide) {
  std::string text;
  Utf8FromWide(wide, &text);
  return text;
}

// What an ASCII code page makes of a wide text: "?" for each other character.
std::string AsciiOf(const std::u16string& wide) {
  std::string narrow;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char16_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF)
      ++i;
    narrow.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return narrow;
}

// Hands out a path by the rules of GetCurrentDirectory and its kind.
template <class Char>
std::uint32_t HandOut(const std::basic_string<Char>& path, Char* buffer, std::uint32_t size) {
  if (!buffer || path.size() + 1 > size) return static_cast<std::uint32_t>(path.size() + 1);
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = 0;
  return static_cast<std::uint32_t>(path.size());
}
}  // namespace

SimulatedPlatform::SimulatedPlatform(Platform& real) : real_(real) {}

// --- bookkeeping ------------------------------------------------------------

Handle SimulatedPlatform::NewHandle(Kind kind, std::uint32_t pid) {
  SimHandle handle;
  handle.id = nextHandle_;
  nextHandle_ += 4;
  handle.kind = kind;
  handle.pid = pid;
  handles_.push_back(std::move(handle));
  return handles_.back().id;
}

SimulatedPlatform::SimHandle* SimulatedPlatform::Find(Handle handle) {
  for (SimHandle& h : handles_) {
    if (h.id == handle) return &h;
  }
  return nullptr;
}

const SimulatedPlatform::SimHandle* SimulatedPlatform::Find(Handle handle) const {
  return const_cast<SimulatedPlatform*>(this)->Find(handle);
}

SimulatedPlatform::SimWindow* SimulatedPlatform::FindWindow(Window window) {
  for (SimWindow& w : windows_) {
    if (w.id == window) return &w;
  }
  return nullptr;
}

// --- process table ----------------------------------------------------------

void SimulatedPlatform::AddProcess(std::uint32_t pid, const std::string& exeFile, bool canOpen) {
  std::lock_guard<std::mutex> lock(mutex_);
  processes_.push_back({pid, exeFile, canOpen, true, 0, "", 0});
}

void SimulatedPlatform::AddProcess(std::uint32_t pid, std::uint32_t parent, const std::string& path,
                                   std::uint64_t created, bool pathReadable) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t slash = path.find_last_of("\\/");
  processes_.push_back({pid, slash == std::string::npos ? path : path.substr(slash + 1), true, true,
                        parent, pathReadable ? path : "", created});
}

void SimulatedPlatform::FailPathQueries(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  failPathQueries_ = fail;
}

void SimulatedPlatform::SetCurrentProcessId(std::uint32_t pid) {
  std::lock_guard<std::mutex> lock(mutex_);
  currentProcessId_ = pid;
}

void SimulatedPlatform::EndProcess(std::uint32_t pid) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (SimProcess& p : processes_) {
    if (p.pid == pid) p.running = false;
  }
}

bool SimulatedPlatform::IsSubreaper() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return subreaper_;
}

std::vector<std::uint32_t> SimulatedPlatform::ReapRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reapRequests_;
}

const SimulatedPlatform::SimProcess* SimulatedPlatform::Running(std::uint32_t pid) const {
  for (const SimProcess& p : processes_) {
    if (p.pid == pid && p.running) return &p;
  }
  return nullptr;
}

bool SimulatedPlatform::QueryFullProcessImageNameA(Handle process, char* buffer,
                                                   std::uint32_t* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  const SimHandle* h = Find(process);
  const SimProcess* p = h && h->kind == Kind::Process ? Running(h->pid) : nullptr;
  if (failPathQueries_ || !p || p->path.empty() || !buffer || !size) return false;
  std::string path = asciiCodePage_ ? AsciiOf(WideOf(p->path)) : p->path;
  if (path.size() >= *size) return false;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  *size = static_cast<std::uint32_t>(path.size());
  return true;
}

bool SimulatedPlatform::GetProcessTimes(Handle process, std::uint64_t* creationTime) {
  std::lock_guard<std::mutex> lock(mutex_);
  const SimHandle* h = Find(process);
  const SimProcess* p = h && h->kind == Kind::Process ? Running(h->pid) : nullptr;
  if (!p || !p->created || !creationTime) return false;
  *creationTime = p->created;
  return true;
}

std::uint32_t SimulatedPlatform::GetCurrentProcessId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return currentProcessId_;
}

bool SimulatedPlatform::BecomeChildSubreaper() {
  std::lock_guard<std::mutex> lock(mutex_);
  subreaper_ = true;
  return true;
}

std::uint32_t SimulatedPlatform::ReapAdoptedProcesses(const std::uint32_t* stopped,
                                                      std::size_t count, std::uint32_t) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; stopped && i < count; ++i) reapRequests_.push_back(stopped[i]);
  return 0;
}

void SimulatedPlatform::FailSnapshots(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  failSnapshots_ = fail;
}

bool SimulatedPlatform::IsRunning(std::uint32_t pid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const SimProcess& p : processes_) {
    if (p.pid == pid) return p.running;
  }
  return false;
}

std::vector<SimulatedPlatform::Termination> SimulatedPlatform::Terminations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return terminations_;
}

std::vector<std::uint32_t> SimulatedPlatform::OpenProcessCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openProcessCalls_;
}

std::uint32_t SimulatedPlatform::LastEntrySize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastEntrySize_;
}

Handle SimulatedPlatform::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failSnapshots_ || !(flags & TH32CS_SNAPPROCESS_FLAG)) return 0;
  Handle handle = NewHandle(Kind::Snapshot);
  SimHandle* snapshot = Find(handle);
  for (const SimProcess& p : processes_) {
    if (p.running) snapshot->entries.push_back(p);
  }
  return handle;
}

bool SimulatedPlatform::FillEntry(Handle snapshot, ProcessEntry* entry, bool first) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimHandle* h = Find(snapshot);
  if (!h || h->kind != Kind::Snapshot || !entry) return false;
  if (first) {
    lastEntrySize_ = entry->dwSize;
    h->next = 0;
  }
  if (h->next >= h->entries.size()) return false;
  const SimProcess& p = h->entries[h->next++];
  entry->th32ProcessID = p.pid;
  entry->th32ParentProcessID = p.parent;
  std::memset(entry->szExeFile, 0, sizeof entry->szExeFile);
  std::memcpy(entry->szExeFile, p.exeFile.data(),
              std::min(p.exeFile.size(), sizeof entry->szExeFile - 1));
  return true;
}

bool SimulatedPlatform::Process32First(Handle snapshot, ProcessEntry* entry) {
  return FillEntry(snapshot, entry, true);
}

bool SimulatedPlatform::Process32Next(Handle snapshot, ProcessEntry* entry) {
  return FillEntry(snapshot, entry, false);
}

Handle SimulatedPlatform::OpenProcess(std::uint32_t, bool, std::uint32_t processId) {
  std::lock_guard<std::mutex> lock(mutex_);
  openProcessCalls_.push_back(processId);
  for (const SimProcess& p : processes_) {
    if (p.pid == processId && p.running && p.canOpen) return NewHandle(Kind::Process, p.pid);
  }
  return 0;
}

bool SimulatedPlatform::TerminateProcess(Handle process, std::uint32_t exitCode) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimHandle* h = Find(process);
  if (!h || h->kind != Kind::Process) return false;
  terminations_.push_back({h->pid, exitCode});
  for (SimProcess& p : processes_) {
    if (p.pid == h->pid) p.running = false;
  }
  return true;
}

// --- desktop -------------------------------------------------------------------

Window SimulatedPlatform::AddWindow(const std::string& title, bool hidden, int closeAfter,
                                    std::uint32_t owner, const std::string& className) {
  std::lock_guard<std::mutex> lock(mutex_);
  Window id = nextWindow_;
  nextWindow_ += 0x10;
  windows_.push_back({id, title, hidden, closeAfter, owner, className});
  return id;
}

std::uint32_t SimulatedPlatform::GetWindowThreadProcessId(Window window, std::uint32_t* processId) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimWindow* w = FindWindow(window);
  if (processId) *processId = w ? w->owner : 0;
  return w && w->owner ? w->owner + 1 : 0;
}

int SimulatedPlatform::GetClassNameA(Window window, char* buffer, int capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimWindow* w = FindWindow(window);
  if (!buffer || capacity <= 0) return 0;
  std::size_t count = w ? std::min(w->className.size(), static_cast<std::size_t>(capacity - 1)) : 0;
  if (count) std::memcpy(buffer, w->className.data(), count);
  buffer[count] = 0;
  return static_cast<int>(count);
}

bool SimulatedPlatform::WindowExists(Window window) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return const_cast<SimulatedPlatform*>(this)->FindWindow(window) != nullptr;
}

bool SimulatedPlatform::IsHidden(Window window) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const SimWindow* w = const_cast<SimulatedPlatform*>(this)->FindWindow(window);
  return w && w->hidden;
}

std::size_t SimulatedPlatform::WindowCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return windows_.size();
}

void SimulatedPlatform::SetConsoleWindow(Window window) {
  std::lock_guard<std::mutex> lock(mutex_);
  consoleWindow_ = window;
}

std::vector<SimulatedPlatform::PostedMessage> SimulatedPlatform::PostedMessages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return posted_;
}

std::vector<int> SimulatedPlatform::TitleCapacities() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return titleCapacities_;
}

void SimulatedPlatform::SetIconic(Window window, bool iconic) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (SimWindow* w = FindWindow(window)) w->iconic = iconic;
}

void SimulatedPlatform::SetOwnerWindow(Window window, Window owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (SimWindow* w = FindWindow(window)) w->ownerWindow = owner;
}

Window SimulatedPlatform::Foreground() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return foreground_;
}

void SimulatedPlatform::RefuseForeground(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuseForeground_ = refuse;
}

std::vector<SimulatedPlatform::Box> SimulatedPlatform::MessageBoxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

void SimulatedPlatform::FailMessageBoxes(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  failBoxes_ = fail;
}

bool SimulatedPlatform::ShowWindow(Window window, int command) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimWindow* w = FindWindow(window);
  if (!w) return false;
  bool wasVisible = !w->hidden;
  w->hidden = command == SW_HIDE_CMD;
  if (command == SW_MINIMIZE_CMD) w->iconic = true;
  if (command == SW_RESTORE_CMD) w->iconic = false;
  return wasVisible;
}

bool SimulatedPlatform::IsWindowVisible(Window window) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimWindow* w = FindWindow(window);
  return w && !w->hidden;
}

bool SimulatedPlatform::IsIconic(Window window) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimWindow* w = FindWindow(window);
  return w && w->iconic;
}

bool SimulatedPlatform::SetForegroundWindow(Window window) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (refuseForeground_ || !FindWindow(window)) return false;
  foreground_ = window;
  return true;
}

int SimulatedPlatform::MessageBoxW(Window owner, const char16_t* text, const char16_t* caption,
                                   std::uint32_t type) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failBoxes_) return 0;
  boxes_.push_back({owner, text ? text : u"", caption ? caption : u"", type});
  return IDOK_RESULT;
}

bool SimulatedPlatform::PostMessageA(Window window, std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimWindow* w = FindWindow(window);
  if (!w) return false;
  posted_.push_back({window, message, wParam, lParam});
  if (message == WM_CLOSE_MSG && w->closesLeft > 0 && --w->closesLeft == 0) {
    windows_.erase(windows_.begin() + (w - windows_.data()));
  }
  return true;
}

Window SimulatedPlatform::GetDesktopWindow() { return kDesktop; }

Window SimulatedPlatform::GetWindow(Window window, unsigned command) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (command == GW_CHILD_CMD) {
    return window == kDesktop && !windows_.empty() ? windows_.front().id : 0;
  }
  if (command == GW_OWNER_CMD) {
    SimWindow* w = FindWindow(window);
    return w ? w->ownerWindow : 0;
  }
  if (command == GW_HWNDNEXT_CMD) {
    for (std::size_t i = 0; i < windows_.size(); ++i) {
      if (windows_[i].id == window) return i + 1 < windows_.size() ? windows_[i + 1].id : 0;
    }
  }
  return 0;
}

int SimulatedPlatform::GetWindowTextLengthA(Window window) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimWindow* w = FindWindow(window);
  return w ? static_cast<int>(w->title.size()) : 0;
}

int SimulatedPlatform::GetWindowTextA(Window window, char* buffer, int capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  titleCapacities_.push_back(capacity);
  if (!buffer || capacity <= 0) return 0;
  SimWindow* w = FindWindow(window);
  std::size_t count = w ? std::min(w->title.size(), static_cast<std::size_t>(capacity - 1)) : 0;
  if (count) std::memcpy(buffer, w->title.data(), count);
  buffer[count] = 0;
  return static_cast<int>(count);
}

char* SimulatedPlatform::CharLowerA(char* text) { return real_.CharLowerA(text); }

Window SimulatedPlatform::GetConsoleWindow() {
  std::lock_guard<std::mutex> lock(mutex_);
  return consoleWindow_;
}

// --- starting programs ------------------------------------------------------------

void SimulatedPlatform::SetCreateProcessResult(bool succeeds) {
  std::lock_guard<std::mutex> lock(mutex_);
  createSucceeds_ = succeeds;
}

void SimulatedPlatform::SetShellExecuteResult(bool succeeds, bool withProcess) {
  std::lock_guard<std::mutex> lock(mutex_);
  shellSucceeds_ = succeeds;
  shellWithProcess_ = withProcess;
}

void SimulatedPlatform::FailPipes(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  failPipes_ = fail;
}

std::vector<SimulatedPlatform::ProcessStart> SimulatedPlatform::ProcessStarts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return processStarts_;
}

std::vector<SimulatedPlatform::ShellStart> SimulatedPlatform::ShellStarts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shellStarts_;
}

std::vector<SimulatedPlatform::Wait> SimulatedPlatform::Waits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waits_;
}

int SimulatedPlatform::PipesCreated() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pipesCreated_;
}

int SimulatedPlatform::Duplications() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return duplications_;
}

bool SimulatedPlatform::IsOpen(Handle handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Find(handle) != nullptr;
}

std::size_t SimulatedPlatform::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(std::count_if(handles_.begin(), handles_.end(), [](auto& h) {
    return h.kind != Kind::StdStream;  // the process's own streams
  }));
}

bool SimulatedPlatform::CreateProcessA(char* commandLine, bool inheritHandles,
                                       std::uint32_t creationFlags, const char* currentDirectory,
                                       const StartupInfo& startup, ProcessInformation* info) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (info) *info = ProcessInformation{};
  ProcessStart start{commandLine ? commandLine : "", inheritHandles, creationFlags,
                     Text(currentDirectory),         startup,        0};
  if (createSucceeds_ && info) {
    std::uint32_t pid = nextPid_++;
    info->hProcess = NewHandle(Kind::Process, pid);
    info->hThread = NewHandle(Kind::Thread, pid);
    info->dwProcessId = pid;
    info->dwThreadId = pid + 1;
    start.process = info->hProcess;
  }
  processStarts_.push_back(std::move(start));
  return createSucceeds_ && info;
}

bool SimulatedPlatform::ShellExecuteExA(ShellExecuteInfo* info) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!info) return false;
  info->hProcess = 0;
  ShellStart start{info->fMask,
                   Text(info->lpVerb),
                   Text(info->lpFile),
                   Text(info->lpParameters),
                   Text(info->lpDirectory),
                   info->nShow,
                   0};
  if (shellSucceeds_ && shellWithProcess_ && (info->fMask & SEE_MASK_NOCLOSEPROCESS_FLAG)) {
    info->hProcess = NewHandle(Kind::Process, nextPid_++);
    start.process = info->hProcess;
  }
  shellStarts_.push_back(std::move(start));
  return shellSucceeds_;
}

std::uint32_t SimulatedPlatform::WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  waits_.push_back({handle, milliseconds});
  SimHandle* h = Find(handle);
  return h && h->kind == Kind::Process ? WAIT_OBJECT_0_RESULT : WAIT_FAILED_RESULT;
}

bool SimulatedPlatform::CreatePipe(Handle* readEnd, Handle* writeEnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!readEnd || !writeEnd || failPipes_) return false;
  *readEnd = NewHandle(Kind::Pipe);
  *writeEnd = NewHandle(Kind::Pipe);
  ++pipesCreated_;
  return true;
}

bool SimulatedPlatform::DuplicateHandle(Handle source, Handle* target) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimHandle* h = Find(source);
  if (!h || !target) return false;
  Kind kind = h->kind;
  std::uint32_t pid = h->pid;
  *target = NewHandle(kind, pid);
  ++duplications_;
  return true;
}

// --- console ------------------------------------------------------------------------

void SimulatedPlatform::SetConsoleAttached(bool attached) {
  std::lock_guard<std::mutex> lock(mutex_);
  consoleAttached_ = attached;
}

void SimulatedPlatform::SetTitleResult(bool succeeds) {
  std::lock_guard<std::mutex> lock(mutex_);
  titleSucceeds_ = succeeds;
}

Handle SimulatedPlatform::StandardOutput() const {
  return const_cast<SimulatedPlatform*>(this)->GetStdHandle(STD_OUTPUT);
}

std::string SimulatedPlatform::ConsoleText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return consoleText_;
}

std::string SimulatedPlatform::FileText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fileText_;
}

int SimulatedPlatform::OutputFlushes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outputFlushes_;
}

std::vector<std::string> SimulatedPlatform::Titles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return titles_;
}

std::vector<ConsoleCtrlRoutine> SimulatedPlatform::CtrlRoutines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ctrlRoutines_;
}

bool SimulatedPlatform::RaiseConsoleEvent(std::uint32_t event) {
  std::vector<ConsoleCtrlRoutine> routines = CtrlRoutines();
  for (auto routine = routines.rbegin(); routine != routines.rend(); ++routine) {
    if ((*routine)(event)) return true;
  }
  return false;
}

Handle SimulatedPlatform::GetStdHandle(std::uint32_t which) {
  int index = which == STD_INPUT ? 0 : which == STD_OUTPUT ? 1 : which == STD_ERROR ? 2 : -1;
  if (index < 0) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stdHandles_[index] || !Find(stdHandles_[index])) {
    stdHandles_[index] = NewHandle(Kind::StdStream);
  }
  return stdHandles_[index];
}

bool SimulatedPlatform::SetConsoleCtrlHandler(ConsoleCtrlRoutine routine, bool add) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (add) {
    ctrlRoutines_.push_back(routine);
    return true;
  }
  auto found = std::find(ctrlRoutines_.rbegin(), ctrlRoutines_.rend(), routine);
  if (found == ctrlRoutines_.rend()) return false;
  ctrlRoutines_.erase(std::next(found).base());
  return true;
}

bool SimulatedPlatform::SetConsoleTitleA(const char* title) {
  std::lock_guard<std::mutex> lock(mutex_);
  titles_.push_back(title ? title : "");
  return titleSucceeds_;
}

bool SimulatedPlatform::WriteConsoleA(Handle output, const void* buffer, std::uint32_t count,
                                      std::uint32_t* written) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (written) *written = 0;
  if (!consoleAttached_ || output == 0 || output != stdHandles_[1]) return false;
  consoleText_.append(static_cast<const char*>(buffer), count);
  if (written) *written = count;
  return true;
}

// --- timing ---------------------------------------------------------------------------

std::vector<std::uint32_t> SimulatedPlatform::Sleeps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleeps_;
}

std::uint64_t SimulatedPlatform::ElapsedMilliseconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return elapsed_;
}

std::vector<std::uint32_t> SimulatedPlatform::TimerPeriods() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timerPeriods_;
}

void SimulatedPlatform::OnSleep(std::function<void(std::uint32_t)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  onSleep_ = std::move(hook);
}

void SimulatedPlatform::Sleep(std::uint32_t milliseconds) {
  std::function<void(std::uint32_t)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.push_back(milliseconds);
    elapsed_ += milliseconds;
    hook = onSleep_;
  }
  if (hook) hook(milliseconds);
}

std::uint32_t SimulatedPlatform::timeBeginPeriod(std::uint32_t milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  timerPeriods_.push_back(milliseconds);
  return 0;
}

void SimulatedPlatform::ExitProcess(std::uint32_t code) { throw SimulatedExit{code}; }

// --- heap, files and the rest: the real platform ----------------------------------------

std::int64_t SimulatedPlatform::OutstandingBlocks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outstandingBlocks_;
}

void* SimulatedPlatform::HeapAlloc(std::size_t size, bool zero) {
  void* block = real_.HeapAlloc(size, zero);
  if (block) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++outstandingBlocks_;
  }
  return block;
}

void* SimulatedPlatform::HeapReAlloc(void* block, std::size_t size, bool zero) {
  void* grown = real_.HeapReAlloc(block, size, zero);
  if (grown && !block) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++outstandingBlocks_;
  }
  return grown;
}

bool SimulatedPlatform::HeapFree(void* block) {
  bool freed = real_.HeapFree(block);
  if (freed && block) {
    std::lock_guard<std::mutex> lock(mutex_);
    --outstandingBlocks_;
  }
  return freed;
}

Handle SimulatedPlatform::CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                                      Creation creation) {
  return real_.CreateFileA(path, access, share, creation);
}

bool SimulatedPlatform::ReadFile(Handle file, void* buffer, std::uint32_t count,
                                 std::uint32_t* read) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Find(file)) {
      if (read) *read = 0;
      return false;  // simulated streams and pipes carry no data
    }
  }
  return real_.ReadFile(file, buffer, count, read);
}

bool SimulatedPlatform::WriteFile(Handle file, const void* buffer, std::uint32_t count,
                                  std::uint32_t* written) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (SimHandle* h = Find(file)) {
      if (written) *written = 0;
      if (h->id != stdHandles_[1]) return false;
      fileText_.append(static_cast<const char*>(buffer), count);
      if (written) *written = count;
      return true;
    }
  }
  return real_.WriteFile(file, buffer, count, written);
}

bool SimulatedPlatform::SetFilePointer(Handle file, std::int64_t distance, MoveMethod method,
                                       std::int64_t* position) {
  return real_.SetFilePointer(file, distance, method, position);
}

bool SimulatedPlatform::SetEndOfFile(Handle file) { return real_.SetEndOfFile(file); }

bool SimulatedPlatform::GetFileSize(Handle file, std::uint64_t* size) {
  return real_.GetFileSize(file, size);
}

bool SimulatedPlatform::FlushFileBuffers(Handle file) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Find(file)) {
      if (file == stdHandles_[1]) ++outputFlushes_;
      return true;
    }
  }
  return real_.FlushFileBuffers(file);
}

bool SimulatedPlatform::CloseHandle(Handle handle) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto h = handles_.begin(); h != handles_.end(); ++h) {
      if (h->id == handle) {
        handles_.erase(h);
        return true;
      }
    }
  }
  return real_.CloseHandle(handle);
}

bool SimulatedPlatform::MoveFileReplace(const char* source, const char* target) {
  return real_.MoveFileReplace(source, target);
}

bool SimulatedPlatform::MoveFileA(const char* source, const char* target) {
  return real_.MoveFileA(source, target);
}

bool SimulatedPlatform::DeleteFileA(const char* path) { return real_.DeleteFileA(path); }

std::uint32_t SimulatedPlatform::GetCurrentDirectoryA(std::uint32_t size, char* buffer) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!asciiCodePage_) return real_.GetCurrentDirectoryA(size, buffer);
  }
  std::uint32_t needed = real_.GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return 0;
  std::u16string wide(needed, u'\0');
  std::uint32_t got = real_.GetCurrentDirectoryW(needed, wide.data());
  if (got == 0 || got >= needed) return 0;
  wide.resize(got);
  return HandOut(AsciiOf(wide), buffer, size);
}

std::uint32_t SimulatedPlatform::GetLastError() { return real_.GetLastError(); }

void SimulatedPlatform::SetLastError(std::uint32_t code) { real_.SetLastError(code); }

std::uint32_t SimulatedPlatform::FormatMessageA(std::uint32_t code, char* buffer,
                                                std::uint32_t capacity) {
  return real_.FormatMessageA(code, buffer, capacity);
}

std::uint32_t SimulatedPlatform::GetFileAttributesA(const char* path) {
  return real_.GetFileAttributesA(path);
}

void SimulatedPlatform::GetLocalTime(SystemTime* time) { real_.GetLocalTime(time); }

bool SimulatedPlatform::FileNamesIgnoreCase() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fileNamesIgnoreCase_ ? *fileNamesIgnoreCase_ : real_.FileNamesIgnoreCase();
}

bool SimulatedPlatform::FilesAreHeldForAMoment() { return real_.FilesAreHeldForAMoment(); }

void SimulatedPlatform::SetFileNamesIgnoreCase(bool ignore) {
  std::lock_guard<std::mutex> lock(mutex_);
  fileNamesIgnoreCase_ = ignore;
}

int SimulatedPlatform::MultiByteToWideChar(const char* text, int length, char16_t* out,
                                           int capacity) {
  return real_.MultiByteToWideChar(text, length, out, capacity);
}

int SimulatedPlatform::WideCharToMultiByte(const char16_t* units, int length, char* out,
                                           int capacity) {
  return real_.WideCharToMultiByte(units, length, out, capacity);
}

// --- folder names and the ANSI code page ---------------------------------------------

void SimulatedPlatform::LimitCodePageToAscii(bool limit) {
  std::lock_guard<std::mutex> lock(mutex_);
  asciiCodePage_ = limit;
}

void SimulatedPlatform::SetShortForm(const std::string& longPath, const std::string& shortPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::u16string from = WideOf(longPath);
  auto same = [&](const ShortForm& form) { return form.longPath == from; };
  shortForms_.erase(std::remove_if(shortForms_.begin(), shortForms_.end(), same),
                    shortForms_.end());
  shortForms_.push_back({from, WideOf(shortPath)});
}

std::vector<std::string> SimulatedPlatform::ShortPathQueries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shortPathQueries_;
}

std::u16string SimulatedPlatform::Rewrite(const std::u16string& path, bool toShort) const {
  // Windows finds a name whatever its ASCII letter case.
  bool ignoreCase = fileNamesIgnoreCase_.value_or(false);
  auto fold = [ignoreCase](char16_t c) {
    return ignoreCase && c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
  };
  for (const ShortForm& form : shortForms_) {
    const std::u16string& from = toShort ? form.longPath : form.shortPath;
    const std::u16string& to = toShort ? form.shortPath : form.longPath;
    bool starts = path.size() >= from.size() &&
                  std::equal(from.begin(), from.end(), path.begin(),
                             [&](char16_t a, char16_t b) { return fold(a) == fold(b); });
    if (starts &&
        (path.size() == from.size() || path[from.size()] == u'/' || path[from.size()] == u'\\'))
      return to + path.substr(from.size());
  }
  return path;
}

std::uint32_t SimulatedPlatform::GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) {
  return real_.GetCurrentDirectoryW(size, buffer);
}

std::uint32_t SimulatedPlatform::GetACP() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (asciiCodePage_) return 1252;
  }
  return real_.GetACP();
}

int SimulatedPlatform::WideCharToMultiByteExact(const char16_t* units, int length, char* out,
                                                int capacity) {
  bool ascii;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ascii = asciiCodePage_;
  }
  if (ascii && units && length >= -1) {
    std::size_t count =
        length == -1 ? std::char_traits<char16_t>::length(units) : static_cast<std::size_t>(length);
    for (std::size_t i = 0; i < count; ++i) {
      if (units[i] >= 0x80) {
        real_.SetLastError(ERROR_NO_UNICODE_TRANSLATION_CODE);
        return 0;
      }
    }
  }
  return real_.WideCharToMultiByteExact(units, length, out, capacity);
}

std::uint32_t SimulatedPlatform::GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                                   std::uint32_t size) {
  if (!path) {
    real_.SetLastError(ERROR_INVALID_PARAMETER_CODE);
    return 0;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  shortPathQueries_.push_back(Utf8Of(path));
  return HandOut(Rewrite(path, true), buffer, size);
}

std::uint32_t SimulatedPlatform::GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                                  std::uint32_t size) {
  if (!path) {
    real_.SetLastError(ERROR_INVALID_PARAMETER_CODE);
    return 0;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return HandOut(Rewrite(path, false), buffer, size);
}

bool SimulatedPlatform::QueryFullProcessImageNameW(Handle process, char16_t* buffer,
                                                   std::uint32_t* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  const SimHandle* h = Find(process);
  const SimProcess* p = h && h->kind == Kind::Process ? Running(h->pid) : nullptr;
  if (failPathQueries_ || !p || p->path.empty() || !buffer || !size) return false;
  std::u16string wide = WideOf(p->path);
  if (wide.size() >= *size) return false;
  HandOut(wide, buffer, *size);
  *size = static_cast<std::uint32_t>(wide.size());
  return true;
}

}  // namespace qg::testing

// --- folder listings ----------------------------------------------------------------

namespace qg::testing {

void SimulatedPlatform::SetListingOrder(std::vector<std::string> order) {
  std::lock_guard<std::mutex> lock(mutex_);
  listingOrder_.clear();
  for (const std::string& name : order) listingOrder_.push_back(WideOf(name));
}

int SimulatedPlatform::Listings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return listings_;
}

Handle SimulatedPlatform::FindFirstFileW(const char16_t* pattern, FindDataW* data) {
  if (!data) return real_.FindFirstFileW(pattern, data);
  std::vector<FindDataW> found(1);
  Handle real = real_.FindFirstFileW(pattern, &found[0]);
  if (!real) return 0;
  FindDataW next;
  while (real_.FindNextFileW(real, &next)) found.push_back(next);
  std::uint32_t end = real_.GetLastError();
  real_.FindClose(real);
  std::lock_guard<std::mutex> lock(mutex_);
  auto rank = [this](const FindDataW& entry) {
    auto at = std::find(listingOrder_.begin(), listingOrder_.end(), entry.cFileName);
    return at - listingOrder_.begin();
  };
  std::stable_sort(found.begin(), found.end(),
                   [&](const FindDataW& a, const FindDataW& b) { return rank(a) < rank(b); });
  ++listings_;
  Handle handle = NewHandle(Kind::Listing);
  SimHandle* listing = Find(handle);
  *data = found[0];
  listing->found = std::move(found);
  listing->next = 1;
  listing->listingEnd = end;
  return handle;
}

bool SimulatedPlatform::FindNextFileW(Handle find, FindDataW* data) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (SimHandle* h = Find(find)) {
      if (h->kind != Kind::Listing) {
        real_.SetLastError(ERROR_INVALID_HANDLE_CODE);
        return false;
      }
      if (h->next == h->found.size()) {
        real_.SetLastError(h->listingEnd);
        return false;
      }
      if (data) *data = h->found[h->next];
      ++h->next;
      return true;
    }
  }
  return real_.FindNextFileW(find, data);
}

bool SimulatedPlatform::FindClose(Handle find) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto h = handles_.begin(); h != handles_.end(); ++h) {
      if (h->id == find && h->kind == Kind::Listing) {
        handles_.erase(h);
        return true;
      }
    }
  }
  return real_.FindClose(find);
}

}  // namespace qg::testing
