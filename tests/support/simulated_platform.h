// A platform with a simulated desktop, process table, program starter and
// console, for tests of the launcher's logic. Files, the heap, code pages,
// the current directory and CharLowerA go to a real platform (the native one
// unless another is given), except where a test asks for a code page that
// cannot hold the folder's name or for short (8.3) folder names; everything
// else is simulated and recorded.
//
//   SimulatedPlatform sim;
//   PlatformScope scope(sim);                       // installs, restores
//   sim.AddProcess(10, "C:\\bundle\\php.exe");
//   Window w = sim.AddWindow("Administrator: cmd.exe", false, 3);
//   ... run the code under test ...
//   EXPECT_EQ(sim.Terminations().size(), 1u);
//
// Handles made by the simulation are recorded; OpenHandles() counts those
// not closed yet (a leak check). Heap blocks are counted the same way by
// OutstandingBlocks(). Nothing sleeps: Sleep only records and advances
// ElapsedMilliseconds(). ExitProcess throws SimulatedExit.
// Every member is safe to call from several threads.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "system/platform.h"
#include "tests/support/platform_scope.h"

namespace qg::testing {

// Thrown by SimulatedPlatform::ExitProcess.
struct SimulatedExit {
  std::uint32_t code;
};

class SimulatedPlatform final : public Platform {
 public:
  explicit SimulatedPlatform(Platform& real = NativePlatform());

  // --- process table --------------------------------------------------------
  // Adds a running process at the end of the snapshot order. `canOpen` false
  // makes OpenProcess fail for it (another user's process).
  void AddProcess(std::uint32_t pid, const std::string& exeFile, bool canOpen = true);
  // A process with its creator and the full path of its program (the
  // snapshot names its file part). `created` 0: creation time unknown;
  // `pathReadable` false: its path cannot be read (a protected process).
  void AddProcess(std::uint32_t pid, std::uint32_t parent, const std::string& path,
                  std::uint64_t created, bool pathReadable = true);
  // Makes every path query fail: a system without the call.
  void FailPathQueries(bool fail);
  void SetCurrentProcessId(std::uint32_t pid);
  // Ends a process as if it had exited by itself.
  void EndProcess(std::uint32_t pid);
  bool IsSubreaper() const;
  std::vector<std::uint32_t> ReapRequests() const;  // ids handed to ReapAdoptedProcesses
  // Makes CreateToolhelp32Snapshot fail (true) or work again (false).
  void FailSnapshots(bool fail);
  // Plays a system whose file names ignore ASCII letter case (Windows) or
  // not; unset, the real platform decides.
  void SetFileNamesIgnoreCase(bool ignore);
  bool IsRunning(std::uint32_t pid) const;
  struct Termination {
    std::uint32_t pid;
    std::uint32_t exitCode;
  };
  std::vector<Termination> Terminations() const;
  std::vector<std::uint32_t> OpenProcessCalls() const;  // pids asked for
  std::uint32_t LastEntrySize() const;                  // dwSize given to Process32First

  // --- desktop --------------------------------------------------------------
  // Adds a top-level window below all others (the list runs from the top of
  // the Z order down) and returns it. `closeAfter`: the WM_CLOSE messages
  // after which it closes (disappears from the list); 0 means never.
  // `owner` and `className` are what GetWindowThreadProcessId and
  // GetClassNameA report.
  Window AddWindow(const std::string& title, bool hidden = false, int closeAfter = 1,
                   std::uint32_t owner = 0, const std::string& className = "");
  bool WindowExists(Window window) const;
  bool IsHidden(Window window) const;
  std::size_t WindowCount() const;
  // The window GetConsoleWindow returns (0 by default).
  void SetConsoleWindow(Window window);
  struct PostedMessage {
    Window window;
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
  std::vector<PostedMessage> PostedMessages() const;
  std::vector<int> TitleCapacities() const;  // capacity of each GetWindowTextA
  // Minimises a window (SW_RESTORE through ShowWindow restores it; IsIconic
  // tells), and gives it an owner window (GetWindow with GW_OWNER_CMD).
  void SetIconic(Window window, bool iconic);
  void SetOwnerWindow(Window window, Window owner);
  // The window SetForegroundWindow last brought to the front, 0 for none;
  // `refuse` makes it fail, as under Windows' foreground lock.
  Window Foreground() const;
  void RefuseForeground(bool refuse);
  // Every message box shown; each is closed at once with IDOK_RESULT, or
  // fails (0) when `fail` is set.
  struct Box {
    Window owner;
    std::u16string text, caption;
    std::uint32_t type;
  };
  std::vector<Box> MessageBoxes() const;
  void FailMessageBoxes(bool fail);

  // --- starting programs ----------------------------------------------------
  struct ProcessStart {
    std::string commandLine;
    bool inheritHandles;
    std::uint32_t creationFlags;
    std::optional<std::string> currentDirectory;  // empty optional: null
    StartupInfo startup;
    Handle process;  // the handle given out (0 when the start failed)
  };
  struct ShellStart {
    std::uint32_t fMask;
    std::optional<std::string> verb, file, parameters, directory;
    int nShow;
    Handle process;
  };
  struct Wait {
    Handle handle;
    std::uint32_t milliseconds;
  };
  void SetCreateProcessResult(bool succeeds);
  // `withProcess` false: the shell reports success without a process.
  void SetShellExecuteResult(bool succeeds, bool withProcess = true);
  void FailPipes(bool fail);
  std::vector<ProcessStart> ProcessStarts() const;
  std::vector<ShellStart> ShellStarts() const;
  std::vector<Wait> Waits() const;
  int PipesCreated() const;
  int Duplications() const;
  // Whether `handle` is a handle of the simulation not closed yet.
  bool IsOpen(Handle handle) const;
  std::size_t OpenHandles() const;

  // --- console ----------------------------------------------------------------
  // false: standard output is redirected, so WriteConsoleA fails.
  void SetConsoleAttached(bool attached);
  void SetTitleResult(bool succeeds);
  Handle StandardOutput() const;    // what GetStdHandle(STD_OUTPUT) returns
  std::string ConsoleText() const;  // bytes taken by WriteConsoleA
  std::string FileText() const;     // bytes taken by WriteFile on standard output
  int OutputFlushes() const;
  std::vector<std::string> Titles() const;  // every SetConsoleTitleA text
  std::vector<ConsoleCtrlRoutine> CtrlRoutines() const;
  // Delivers a console event as the system does: the routines, last-added
  // first, until one returns non-zero. True when one handled it.
  bool RaiseConsoleEvent(std::uint32_t event);

  // --- timing -------------------------------------------------------------------
  std::vector<std::uint32_t> Sleeps() const;
  std::uint64_t ElapsedMilliseconds() const;
  std::vector<std::uint32_t> TimerPeriods() const;  // every timeBeginPeriod value
  // Called after each recorded Sleep, outside the platform's lock: lets a
  // test change the desktop or the processes while the code under test waits.
  void OnSleep(std::function<void(std::uint32_t milliseconds)> hook);

  // --- heap ---------------------------------------------------------------------
  std::int64_t OutstandingBlocks() const;

  // --- folder names and the ANSI code page ----------------------------------------
  // Plays an ANSI code page that holds ASCII alone, as code page 1252 holds
  // no Cyrillic: GetACP gives 1252, the ANSI calls that report paths
  // (GetCurrentDirectoryA, QueryFullProcessImageNameA) give "?" for every
  // other character, as Windows does, and WideCharToMultiByteExact refuses
  // texts holding one. Off (the default): the real platform's answers.
  void LimitCodePageToAscii(bool limit);
  // GetShortPathNameW gives `shortPath` for `longPath` and for every path
  // below it (the rest unchanged), and GetLongPathNameW the reverse; texts
  // in UTF-8. Another short form for the same long path replaces the first,
  // as when a folder is made again under the same name. A path without one
  // is its own short and long form, as on a volume without 8.3 names; the
  // simulation does not look at the disk for either call. Letter case
  // counts as FileNamesIgnoreCase says (set with SetFileNamesIgnoreCase).
  void SetShortForm(const std::string& longPath, const std::string& shortPath);
  std::vector<std::string> ShortPathQueries() const;  // paths given to GetShortPathNameW

  // --- folder listings ------------------------------------------------------------
  // Listings are the real platform's, taken whole when they start. Plays a
  // volume that keeps entries in the order they were made (FAT), with that
  // order given: the entries named in `order` (UTF-8) come first, in that
  // order, the rest after them in the real platform's. Empty (the
  // default): the real platform's order.
  void SetListingOrder(std::vector<std::string> order);
  int Listings() const;  // FindFirstFileW calls that gave a listing

  // --- Platform -----------------------------------------------------------------
  void* HeapAlloc(std::size_t size, bool zero) override;
  void* HeapReAlloc(void* block, std::size_t size, bool zero) override;
  bool HeapFree(void* block) override;
  Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                     Creation creation) override;
  bool ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) override;
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override;
  bool SetFilePointer(Handle file, std::int64_t distance, MoveMethod method,
                      std::int64_t* position) override;
  bool SetEndOfFile(Handle file) override;
  bool GetFileSize(Handle file, std::uint64_t* size) override;
  bool FlushFileBuffers(Handle file) override;
  bool CloseHandle(Handle handle) override;
  bool MoveFileReplace(const char* source, const char* target) override;
  bool MoveFileA(const char* source, const char* target) override;
  bool DeleteFileA(const char* path) override;
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override;
  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t code) override;
  std::uint32_t FormatMessageA(std::uint32_t code, char* buffer, std::uint32_t capacity) override;
  std::uint32_t GetFileAttributesA(const char* path) override;
  void GetLocalTime(SystemTime* time) override;
  bool FileNamesIgnoreCase() override;
  bool FilesAreHeldForAMoment() override;
  int MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) override;
  int WideCharToMultiByte(const char16_t* units, int length, char* out, int capacity) override;
  Handle GetStdHandle(std::uint32_t which) override;
  bool SetConsoleCtrlHandler(ConsoleCtrlRoutine routine, bool add) override;
  bool SetConsoleTitleA(const char* title) override;
  bool WriteConsoleA(Handle output, const void* buffer, std::uint32_t count,
                     std::uint32_t* written) override;
  Window GetConsoleWindow() override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t timeBeginPeriod(std::uint32_t milliseconds) override;
  [[noreturn]] void ExitProcess(std::uint32_t code) override;
  bool ShowWindow(Window window, int command) override;
  bool PostMessageA(Window window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) override;
  Window GetDesktopWindow() override;
  Window GetWindow(Window window, unsigned command) override;
  int GetWindowTextLengthA(Window window) override;
  int GetWindowTextA(Window window, char* buffer, int capacity) override;
  char* CharLowerA(char* text) override;
  bool IsWindowVisible(Window window) override;
  bool IsIconic(Window window) override;
  bool SetForegroundWindow(Window window) override;
  int MessageBoxW(Window owner, const char16_t* text, const char16_t* caption,
                  std::uint32_t type) override;
  Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
  bool Process32First(Handle snapshot, ProcessEntry* entry) override;
  bool Process32Next(Handle snapshot, ProcessEntry* entry) override;
  Handle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) override;
  bool TerminateProcess(Handle process, std::uint32_t exitCode) override;
  bool QueryFullProcessImageNameA(Handle process, char* buffer, std::uint32_t* size) override;
  bool GetProcessTimes(Handle process, std::uint64_t* creationTime) override;
  std::uint32_t GetCurrentProcessId() override;
  std::uint32_t GetWindowThreadProcessId(Window window, std::uint32_t* processId) override;
  int GetClassNameA(Window window, char* buffer, int capacity) override;
  bool BecomeChildSubreaper() override;
  std::uint32_t ReapAdoptedProcesses(const std::uint32_t* stopped, std::size_t count,
                                     std::uint32_t milliseconds) override;
  bool CreateProcessA(char* commandLine, bool inheritHandles, std::uint32_t creationFlags,
                      const char* currentDirectory, const StartupInfo& startup,
                      ProcessInformation* info) override;
  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override;
  bool ShellExecuteExA(ShellExecuteInfo* info) override;
  bool CreatePipe(Handle* readEnd, Handle* writeEnd) override;
  bool DuplicateHandle(Handle source, Handle* target) override;
  std::uint32_t GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) override;
  std::uint32_t GetACP() override;
  int WideCharToMultiByteExact(const char16_t* units, int length, char* out, int capacity) override;
  std::uint32_t GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                  std::uint32_t size) override;
  std::uint32_t GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                 std::uint32_t size) override;
  bool QueryFullProcessImageNameW(Handle process, char16_t* buffer, std::uint32_t* size) override;
  Handle FindFirstFileW(const char16_t* pattern, FindDataW* data) override;
  bool FindNextFileW(Handle find, FindDataW* data) override;
  bool FindClose(Handle find) override;

 private:
  struct SimProcess {
    std::uint32_t pid;
    std::string exeFile;
    bool canOpen;
    bool running;
    std::uint32_t parent = 0;
    std::string path;  // empty: cannot be read
    std::uint64_t created = 0;
  };
  struct SimWindow {
    Window id;
    std::string title;
    bool hidden;
    int closesLeft;  // 0: never closes
    std::uint32_t owner;
    std::string className;
    bool iconic = false;
    Window ownerWindow = 0;
  };
  enum class Kind { Snapshot, Process, Thread, Pipe, StdStream, Listing };
  struct SimHandle {
    Handle id;
    Kind kind;
    std::uint32_t pid = 0;            // process handles
    std::vector<SimProcess> entries;  // snapshots
    std::size_t next = 0;
    std::vector<FindDataW> found;              // listings: every entry, `next` the one to give
    std::uint32_t listingEnd = NO_ERROR_CODE;  // and the error after the last
  };

  Handle NewHandle(Kind kind, std::uint32_t pid = 0);  // with mutex_ held
  SimHandle* Find(Handle handle);                      // with mutex_ held
  const SimHandle* Find(Handle handle) const;
  SimWindow* FindWindow(Window window);
  bool FillEntry(Handle snapshot, ProcessEntry* entry, bool first);

  Platform& real_;
  mutable std::mutex mutex_;
  std::vector<SimProcess> processes_;
  bool failSnapshots_ = false;
  std::optional<bool> fileNamesIgnoreCase_;
  std::vector<Termination> terminations_;
  std::vector<std::uint32_t> openProcessCalls_;
  std::uint32_t lastEntrySize_ = 0;
  bool failPathQueries_ = false;
  std::uint32_t currentProcessId_ = 4;
  bool subreaper_ = false;
  std::vector<std::uint32_t> reapRequests_;
  const SimProcess* Running(std::uint32_t pid) const;  // with mutex_ held

  std::vector<SimWindow> windows_;
  Window nextWindow_ = 0x10100;
  Window consoleWindow_ = 0;
  std::vector<PostedMessage> posted_;
  std::vector<int> titleCapacities_;
  Window foreground_ = 0;
  bool refuseForeground_ = false;
  std::vector<Box> boxes_;
  bool failBoxes_ = false;

  bool createSucceeds_ = true;
  bool shellSucceeds_ = true;
  bool shellWithProcess_ = true;
  bool failPipes_ = false;
  std::vector<ProcessStart> processStarts_;
  std::vector<ShellStart> shellStarts_;
  std::vector<Wait> waits_;
  int pipesCreated_ = 0;
  int duplications_ = 0;
  std::uint32_t nextPid_ = 5000;

  std::vector<SimHandle> handles_;
  Handle nextHandle_ = 0x7F000000;

  bool consoleAttached_ = true;
  bool titleSucceeds_ = true;
  Handle stdHandles_[3] = {};
  std::string consoleText_;
  std::string fileText_;
  int outputFlushes_ = 0;
  std::vector<std::string> titles_;
  std::vector<ConsoleCtrlRoutine> ctrlRoutines_;

  std::vector<std::uint32_t> sleeps_;
  std::uint64_t elapsed_ = 0;
  std::vector<std::uint32_t> timerPeriods_;
  std::function<void(std::uint32_t)> onSleep_;

  std::int64_t outstandingBlocks_ = 0;

  bool asciiCodePage_ = false;
  struct ShortForm {
    std::u16string longPath, shortPath;
  };
  std::vector<ShortForm> shortForms_;
  std::vector<std::string> shortPathQueries_;
  std::vector<std::u16string> listingOrder_;
  int listings_ = 0;
  // `path` with the first of `shortForms_` whose `from` part starts it
  // replaced by its `to` part.
  std::u16string Rewrite(const std::u16string& path, bool toShort) const;
};

}  // namespace qg::testing
