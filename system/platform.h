// The one interface through which Quillgate reaches the operating system.
//
// Every library of the program (files, preference files, XML documents, the
// program runner, the console and the launcher itself) calls the operating
// system only through the `Platform` installed here. The Win32 build installs
// `Win32Platform` (system/windows), every other build `PosixPlatform`
// (system/posix). Tests put their own implementation in place with
// `SetPlatform` (a fault-injecting wrapper, a simulated desktop and process
// table) without touching the code under test.
//
// The operations keep the Windows names, argument orders and constants, since
// the launcher's logic is written against them; each implementation documents
// what they mean on its system. Conventions shared by every operation:
//   - handles are `Handle` values; 0 is "no handle" (the Win32 layer maps
//     INVALID_HANDLE_VALUE to 0 so callers test one value);
//   - a `bool` result is the platform's success flag;
//   - texts are zero-terminated 8-bit strings in the ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qg {

using Handle = std::uintptr_t;  // file, process, snapshot or pipe handle; 0 = none
using Window = std::uintptr_t;  // top-level window; 0 = none

// --- file access (CreateFileA) ---------------------------------------------
inline constexpr std::uint32_t GENERIC_READ_ACCESS = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE_ACCESS = 0x40000000u;
inline constexpr std::uint32_t FILE_SHARE_READ_MODE = 1;
inline constexpr std::uint32_t FILE_SHARE_WRITE_MODE = 2;
enum class Creation : std::uint32_t {
  CreateNew = 1,
  CreateAlways = 2,
  OpenExisting = 3,
  OpenAlways = 4,
};
enum class MoveMethod : std::uint32_t { Begin = 0, Current = 1, End = 2 };

// --- windows and messages ----------------------------------------------------
inline constexpr int SW_HIDE_CMD = 0;
inline constexpr int SW_SHOWNORMAL_CMD = 1;
// Shows a hidden window as it was, minimised or not, and activates it.
inline constexpr int SW_SHOW_CMD = 5;
inline constexpr int SW_MINIMIZE_CMD = 6;
inline constexpr int SW_RESTORE_CMD = 9;
inline constexpr std::uint32_t WM_CLOSE_MSG = 16;
inline constexpr unsigned GW_HWNDNEXT_CMD = 2;
inline constexpr unsigned GW_OWNER_CMD = 4;
inline constexpr unsigned GW_CHILD_CMD = 5;
// MessageBoxW: its type flags and the result of its one button.
inline constexpr std::uint32_t MB_OK_FLAG = 0x0;
inline constexpr std::uint32_t MB_ICONINFORMATION_FLAG = 0x40;
inline constexpr std::uint32_t MB_SETFOREGROUND_FLAG = 0x10000;
inline constexpr int IDOK_RESULT = 1;

// --- console control events --------------------------------------------------
inline constexpr std::uint32_t CTRL_C = 0;
inline constexpr std::uint32_t CTRL_BREAK = 1;
inline constexpr std::uint32_t CTRL_CLOSE = 2;
inline constexpr std::uint32_t CTRL_LOGOFF = 5;
inline constexpr std::uint32_t CTRL_SHUTDOWN = 6;
using ConsoleCtrlRoutine = int (*)(std::uint32_t event);

// --- processes -----------------------------------------------------------------
inline constexpr std::uint32_t TH32CS_SNAPPROCESS_FLAG = 2;
inline constexpr std::uint32_t PROCESS_TERMINATE_RIGHT = 1;
inline constexpr std::uint32_t INFINITE_WAIT = 0xFFFFFFFFu;
inline constexpr std::uint32_t WAIT_OBJECT_0_RESULT = 0;
inline constexpr std::uint32_t WAIT_FAILED_RESULT = 0xFFFFFFFFu;
inline constexpr std::uint32_t STD_INPUT = static_cast<std::uint32_t>(-10);
inline constexpr std::uint32_t STD_OUTPUT = static_cast<std::uint32_t>(-11);
inline constexpr std::uint32_t STD_ERROR = static_cast<std::uint32_t>(-12);

inline constexpr std::size_t MAX_PATH_LENGTH = 260;

// --- errors, file attributes, local time -------------------------------------
// The Windows error codes (GetLastError) that the bodies report and callers
// test; every body sets one of these when a file operation fails.
inline constexpr std::uint32_t NO_ERROR_CODE = 0;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND_CODE = 3;
inline constexpr std::uint32_t ERROR_TOO_MANY_OPEN_FILES_CODE = 4;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED_CODE = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE_CODE = 6;
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY_CODE = 8;
inline constexpr std::uint32_t ERROR_WRITE_PROTECT_CODE = 19;
inline constexpr std::uint32_t ERROR_GEN_FAILURE_CODE = 31;
inline constexpr std::uint32_t ERROR_SHARING_VIOLATION_CODE = 32;
inline constexpr std::uint32_t ERROR_LOCK_VIOLATION_CODE = 33;
inline constexpr std::uint32_t ERROR_HANDLE_EOF_CODE = 38;
inline constexpr std::uint32_t ERROR_HANDLE_DISK_FULL_CODE = 39;
inline constexpr std::uint32_t ERROR_FILE_EXISTS_CODE = 80;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
inline constexpr std::uint32_t ERROR_DISK_FULL_CODE = 112;
inline constexpr std::uint32_t ERROR_ALREADY_EXISTS_CODE = 183;
inline constexpr std::uint32_t ERROR_FILENAME_EXCED_RANGE_CODE = 206;
inline constexpr std::uint32_t ERROR_NO_UNICODE_TRANSLATION_CODE = 1113;

inline constexpr std::uint32_t INVALID_FILE_ATTRIBUTES_VALUE = 0xFFFFFFFFu;
inline constexpr std::uint32_t FILE_ATTRIBUTE_READONLY_FLAG = 0x1;
inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY_FLAG = 0x10;

// SYSTEMTIME: a calendar date and time of day.
struct SystemTime {
  std::uint16_t wYear = 0;
  std::uint16_t wMonth = 0;  // 1-12
  std::uint16_t wDayOfWeek = 0;
  std::uint16_t wDay = 0;
  std::uint16_t wHour = 0;
  std::uint16_t wMinute = 0;
  std::uint16_t wSecond = 0;
  std::uint16_t wMilliseconds = 0;
};

// The ANSI process entry of a snapshot; only the fields the launcher reads.
struct ProcessEntry {
  std::uint32_t dwSize = 0;  // set by the caller before the first call
  std::uint32_t th32ProcessID = 0;
  std::uint32_t th32ParentProcessID = 0;  // the creator's id, kept after it has ended
  char szExeFile[MAX_PATH_LENGTH] = {};
};

// --- process ownership: who started a process, and from which file ---------------
// OpenProcess right enough for QueryFullProcessImageNameA and GetProcessTimes.
inline constexpr std::uint32_t PROCESS_QUERY_LIMITED_INFORMATION_RIGHT = 0x1000;

inline constexpr std::uint32_t STARTF_USESHOWWINDOW_FLAG = 0x1;
inline constexpr std::uint32_t STARTF_USESTDHANDLES_FLAG = 0x100;
inline constexpr std::uint32_t NORMAL_PRIORITY_CLASS_FLAG = 0x20;
inline constexpr std::uint32_t DETACHED_PROCESS_FLAG = 0x8;

struct StartupInfo {
  std::uint32_t dwFlags = 0;
  std::uint16_t wShowWindow = 0;
  Handle hStdInput = 0;
  Handle hStdOutput = 0;
  Handle hStdError = 0;
};

struct ProcessInformation {
  Handle hProcess = 0;
  Handle hThread = 0;
  std::uint32_t dwProcessId = 0;
  std::uint32_t dwThreadId = 0;
};

inline constexpr std::uint32_t SEE_MASK_NOCLOSEPROCESS_FLAG = 0x40;
inline constexpr std::uint32_t SEE_MASK_FLAG_DDEWAIT_FLAG = 0x100;
inline constexpr std::uint32_t SEE_MASK_FLAG_NO_UI_FLAG = 0x400;

struct ShellExecuteInfo {
  std::uint32_t fMask = 0;
  const char* lpVerb = nullptr;
  const char* lpFile = nullptr;
  const char* lpParameters = nullptr;
  const char* lpDirectory = nullptr;
  int nShow = 0;
  Handle hProcess = 0;  // filled in by the call when a process was started
};

// The code page GetACP reports for UTF-8.
inline constexpr std::uint32_t CP_UTF8_CODE = 65001;

// --- folder listings (FindFirstFileW, FindNextFileW, FindClose) ------------------
// What FindNextFileW fails with once every entry has been given.
inline constexpr std::uint32_t ERROR_NO_MORE_FILES_CODE = 18;
// What FindFirstFileW fails with when the folder to list is a file.
inline constexpr std::uint32_t ERROR_DIRECTORY_CODE = 267;

// WIN32_FIND_DATAW: one entry of a folder listing; only the fields the
// launcher reads.
struct FindDataW {
  std::uint32_t dwFileAttributes = 0;        // FILE_ATTRIBUTE_* flags
  char16_t cFileName[MAX_PATH_LENGTH] = {};  // the entry's name, zero-terminated
  // Its short (8.3) name, zero-terminated; empty when the name is one
  // itself or the volume keeps none.
  char16_t cAlternateFileName[14] = {};
};

class Platform {
 public:
  virtual ~Platform() = default;

  // --- private heap ---------------------------------------------------------
  // Blocks of the program's private, growable heap. HeapAlloc with `zero`
  // gives zero-filled memory; HeapReAlloc keeps the old block on failure and
  // zero-fills the grown part when `zero` is set. Every block is 8-aligned.
  virtual void* HeapAlloc(std::size_t size, bool zero) = 0;
  virtual void* HeapReAlloc(void* block, std::size_t size, bool zero) = 0;
  virtual bool HeapFree(void* block) = 0;

  // --- files ------------------------------------------------------------------
  virtual Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                             Creation creation) = 0;
  virtual bool ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) = 0;
  virtual bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                         std::uint32_t* written) = 0;
  // Moves the file pointer by `distance` from `method`; `position` (may be
  // null) receives the new absolute position.
  virtual bool SetFilePointer(Handle file, std::int64_t distance, MoveMethod method,
                              std::int64_t* position) = 0;
  virtual bool SetEndOfFile(Handle file) = 0;
  virtual bool GetFileSize(Handle file, std::uint64_t* size) = 0;
  virtual bool FlushFileBuffers(Handle file) = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  // Replaces `target` by `source` in one step (rename over it) and makes the
  // change durable; on failure `target` is unchanged. As on Windows, a target
  // that another open holds, or that is read-only, is not replaced.
  virtual bool MoveFileReplace(const char* source, const char* target) = 0;
  // Renames `source` to `target`, failing when `target` exists (MoveFileA).
  virtual bool MoveFileA(const char* source, const char* target) = 0;
  virtual bool DeleteFileA(const char* path) = 0;
  // Writes the current directory and returns its length without the
  // terminator; 0 on failure; the needed size (terminator included) when the
  // buffer is too small, as Windows does.
  virtual std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) = 0;

  // --- errors, file attributes, local time ---------------------------------------
  // The calling thread's last error: set by an operation that fails (file
  // operations always set one), left alone by one that succeeds.
  virtual std::uint32_t GetLastError() = 0;
  virtual void SetLastError(std::uint32_t code) = 0;
  // The system's text for an error code, without a trailing line end, in
  // `buffer`; its length, 0 when the system has none.
  virtual std::uint32_t FormatMessageA(std::uint32_t code, char* buffer,
                                       std::uint32_t capacity) = 0;
  // FILE_ATTRIBUTE_* flags of a file or folder; INVALID_FILE_ATTRIBUTES_VALUE
  // (and the last error) when there is none.
  virtual std::uint32_t GetFileAttributesA(const char* path) = 0;
  virtual void GetLocalTime(SystemTime* time) = 0;
  // --- what differs between the systems' file names and files --------------------
  // Whether two file names that differ only in ASCII letter case name the
  // same file (Windows), or different ones (POSIX).
  virtual bool FileNamesIgnoreCase() = 0;
  // Whether other programs hold files open for a moment (an antivirus
  // scanner, an indexer), so that a refused replacement is worth trying
  // again shortly (Windows); POSIX renames are not refused that way.
  virtual bool FilesAreHeldForAMoment() = 0;

  // --- code-page conversion (CP_ACP, flags 0) -------------------------------------
  // `length` -1 means "through the terminator". A capacity of 0 asks for the
  // needed count. Results are unit / byte counts, 0 on failure.
  virtual int MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) = 0;
  virtual int WideCharToMultiByte(const char16_t* units, int length, char* out, int capacity) = 0;

  // --- console -------------------------------------------------------------------
  virtual Handle GetStdHandle(std::uint32_t which) = 0;
  virtual bool SetConsoleCtrlHandler(ConsoleCtrlRoutine routine, bool add) = 0;
  virtual bool SetConsoleTitleA(const char* title) = 0;
  virtual bool WriteConsoleA(Handle output, const void* buffer, std::uint32_t count,
                             std::uint32_t* written) = 0;
  virtual Window GetConsoleWindow() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  virtual std::uint32_t timeBeginPeriod(std::uint32_t milliseconds) = 0;
  [[noreturn]] virtual void ExitProcess(std::uint32_t code) = 0;

  // --- windows ---------------------------------------------------------------------
  virtual bool ShowWindow(Window window, int command) = 0;
  virtual bool PostMessageA(Window window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) = 0;
  virtual Window GetDesktopWindow() = 0;
  virtual Window GetWindow(Window window, unsigned command) = 0;
  virtual int GetWindowTextLengthA(Window window) = 0;
  virtual int GetWindowTextA(Window window, char* buffer, int capacity) = 0;
  virtual char* CharLowerA(char* text) = 0;
  // Whether the window has the visible style; a minimised window has it.
  virtual bool IsWindowVisible(Window window) = 0;
  // Whether the window is minimised.
  virtual bool IsIconic(Window window) = 0;
  // Activates the window and brings it to the front; false when the system
  // refuses (Windows lets only the program the user is working with, or
  // one it just started, take the foreground).
  virtual bool SetForegroundWindow(Window window) = 0;
  // A modal message box of `type` (MB_*_FLAG) over `owner` (0: none), with
  // a UTF-16 text and caption; returns when it is closed, with the button
  // that closed it (IDOK_RESULT), 0 when it could not be shown.
  virtual int MessageBoxW(Window owner, const char16_t* text, const char16_t* caption,
                          std::uint32_t type) = 0;

  // --- process snapshot and termination -------------------------------------------
  virtual Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) = 0;
  virtual bool Process32First(Handle snapshot, ProcessEntry* entry) = 0;
  virtual bool Process32Next(Handle snapshot, ProcessEntry* entry) = 0;
  virtual Handle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) = 0;
  virtual bool TerminateProcess(Handle process, std::uint32_t exitCode) = 0;

  // --- process ownership --------------------------------------------------------------
  // The full path of the file the process was started from (the script of a
  // "#!" script on POSIX); `size` holds the buffer's size and receives the
  // path's length. False when it cannot be read (a protected process, or a
  // Windows without the call).
  virtual bool QueryFullProcessImageNameA(Handle process, char* buffer, std::uint32_t* size) = 0;
  // The process's creation time, in the platform's own units (only the order
  // of two times means anything). False when it cannot be read.
  virtual bool GetProcessTimes(Handle process, std::uint64_t* creationTime) = 0;
  virtual std::uint32_t GetCurrentProcessId() = 0;
  // The process that owns a window (its thread id is the result); 0 when
  // the window is gone.
  virtual std::uint32_t GetWindowThreadProcessId(Window window, std::uint32_t* processId) = 0;
  // The window's class name; the length written, 0 on failure.
  virtual int GetClassNameA(Window window, char* buffer, int capacity) = 0;
  // POSIX: makes this process the child subreaper, so that the orphans of
  // the programs it starts stay below it rather than passing to init.
  // Windows keeps each process's creator id anyway: nothing to do, true.
  virtual bool BecomeChildSubreaper() = 0;
  // POSIX: collects the adopted children (not started through
  // CreateProcessA) that have ended, after waiting up to `milliseconds` for
  // those of `stopped` (ids of processes just terminated) to end. Returns
  // how many were collected. Windows: nothing to collect, 0.
  virtual std::uint32_t ReapAdoptedProcesses(const std::uint32_t* stopped, std::size_t count,
                                             std::uint32_t milliseconds) = 0;

  // --- starting programs --------------------------------------------------------------
  // `commandLine` is writable, as CreateProcessA wants it.
  virtual bool CreateProcessA(char* commandLine, bool inheritHandles, std::uint32_t creationFlags,
                              const char* currentDirectory, const StartupInfo& startup,
                              ProcessInformation* info) = 0;
  virtual std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) = 0;
  virtual bool ShellExecuteExA(ShellExecuteInfo* info) = 0;
  virtual bool CreatePipe(Handle* readEnd, Handle* writeEnd) = 0;
  // Duplicates `source` within this process, not inheritable.
  virtual bool DuplicateHandle(Handle source, Handle* target) = 0;

  // --- wide paths: folders the ANSI code page cannot hold -------------------------
  // A folder named in characters the ANSI code page lacks (Cyrillic under
  // code page 1252) reaches the ANSI calls above with "?" in their place, a
  // path that names nothing. These calls give such paths whole, as UTF-16
  // (`char16_t`, zero-terminated). Sizes and lengths count UTF-16 units; the
  // results follow the Windows calls of the same names: the length written
  // without the terminator, the size needed (terminator included) when the
  // buffer is too small, 0 on failure with the last error set.
  //
  // On POSIX a path is bytes. Its wide form is their UTF-8 decoding, in which
  // a byte that is not part of well-formed UTF-8 becomes the lone surrogate
  // U+DC00 + byte (U+DC80-U+DCFF); converted back (WideCharToMultiByteExact),
  // each gives its byte again, so every wide form names the same file. The
  // code page there is UTF-8 for paths, which holds every path.
  virtual std::uint32_t GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) = 0;
  // The number of the ANSI code page the ...A calls use (1252, 1251,
  // CP_UTF8_CODE for UTF-8); CP_UTF8_CODE on POSIX, where paths are UTF-8.
  // Portable code decodes CP_UTF8_CODE texts with DecodeUtf8 (files/utf8.h)
  // and any other page with MultiByteToWideChar (which on POSIX takes bytes
  // as the characters 0-255, for the Unicode file format).
  virtual std::uint32_t GetACP() = 0;
  // Converts to the ANSI code page only when the result converts back to the
  // very same text: no character replaced by the default character, none by
  // a look-alike ("Łódź" does not become "Lódz" under code page 1252). The
  // conventions of WideCharToMultiByte; 0 with ERROR_NO_UNICODE_TRANSLATION
  // when the code page cannot hold the text.
  virtual int WideCharToMultiByteExact(const char16_t* units, int length, char* out,
                                       int capacity) = 0;
  // The short (8.3) form of an existing path. On a volume without short
  // names Windows gives the long path back unchanged, and so does POSIX,
  // where a path is its own short form. Fails for a path that does not exist.
  virtual std::uint32_t GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                          std::uint32_t size) = 0;
  // The long form of an existing path, every short name in it expanded.
  virtual std::uint32_t GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                         std::uint32_t size) = 0;
  // QueryFullProcessImageNameA in UTF-16: `size` holds the buffer's size in
  // units and receives the path's length. False when it cannot be read.
  virtual bool QueryFullProcessImageNameW(Handle process, char16_t* buffer,
                                          std::uint32_t* size) = 0;

  // --- folder listings ----------------------------------------------------------------
  // Lists what `pattern` names: a folder followed by the separator and "*"
  // gives every entry in it, "." and ".." too (a drive's root has neither),
  // in the order the volume keeps them (FAT: the order they were made; no
  // order to count on elsewhere); a path without wildcards gives that one
  // entry. The path may be relative to the current directory. It is UTF-16,
  // and so are the names given, so that a name the ANSI code page cannot
  // hold comes whole (the short name beside it is ASCII where there is one).
  // Returns the listing's handle, the first entry in `data`; 0 on failure:
  // ERROR_PATH_NOT_FOUND for a folder that is not there, ERROR_DIRECTORY for
  // one that is a file, ERROR_FILE_NOT_FOUND when nothing matches. The POSIX
  // body takes "*" and plain names, no other wildcards.
  virtual Handle FindFirstFileW(const char16_t* pattern, FindDataW* data) = 0;
  // The listing's next entry; false with ERROR_NO_MORE_FILES after the last,
  // with another error when the listing failed.
  virtual bool FindNextFileW(Handle find, FindDataW* data) = 0;
  // Ends a listing; Windows takes FindClose for it, not CloseHandle.
  virtual bool FindClose(Handle find) = 0;
};

// The platform every library uses. Never null: the native one until a test
// installs another.
Platform& Sys();

// Installs `platform` (null restores the native one) and returns the one that
// was installed before.
Platform* SetPlatform(Platform* platform);

// The native implementation of this build.
Platform& NativePlatform();

// Keeps the calling thread's last error across the clean-up calls of its
// scope, which may set their own: the caller learns why the work failed, not
// why the clean-up did.
class LastErrorKept {
 public:
  LastErrorKept() : code_(Sys().GetLastError()) {}
  ~LastErrorKept() { Sys().SetLastError(code_); }
  LastErrorKept(const LastErrorKept&) = delete;
  LastErrorKept& operator=(const LastErrorKept&) = delete;

 private:
  std::uint32_t code_;
};

}  // namespace qg
