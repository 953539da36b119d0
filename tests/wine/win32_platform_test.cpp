// The Win32 platform layer against the real Windows services (run under
// Wine): the conventions it adds (handle 0 for none, success flags, the
// private heap) and the mapping of each component's calls.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "system/platform.h"
#include "system/windows/win32_platform.h"
#include "tests/support/temp_dir.h"

#include "system/windows/windows_headers.h"

namespace qg {
namespace {

using testing::TempDir;

Platform& P() { return NativePlatform(); }

// The folder of the stand-in programs, as a Windows path.
std::string StandinDir() {
  std::string folder = QG_STANDIN_DIR;
  if (!folder.empty() && folder[0] == '/') {
    for (char& c : folder)
      if (c == '/') c = '\\';
    folder = "Z:" + folder;
  }
  return folder + "\\";
}

// Starts a stand-in through the platform; its process handle, 0 on failure.
Handle StartStandin(const std::string& program, const std::string& arguments) {
  std::string commandLine = "\"" + StandinDir() + program + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  StartupInfo startup;
  ProcessInformation info;
  if (!P().CreateProcessA(commandLine.data(), false, NORMAL_PRIORITY_CLASS_FLAG, nullptr, startup,
                          &info))
    return 0;
  EXPECT_NE(info.hThread, 0u);
  EXPECT_NE(info.dwProcessId, 0u);
  P().CloseHandle(info.hThread);
  return info.hProcess;
}

std::uint32_t ExitCodeOf(Handle process) {
  DWORD code = 0;
  GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &code);
  return code;
}

TEST(Win32Heap, BlocksAreZeroedAlignedAndGrowKeepingTheirContent) {
  auto* block = static_cast<unsigned char*>(P().HeapAlloc(100, true));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(block[i], 0) << i;
  std::memset(block, 0x5A, 100);
  block = static_cast<unsigned char*>(P().HeapReAlloc(block, 5000, true));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(block[i], 0x5A) << i;
  for (int i = 100; i < 5000; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_TRUE(P().HeapFree(block));
  EXPECT_TRUE(P().HeapFree(nullptr));
  void* fresh = P().HeapReAlloc(nullptr, 16, true);
  EXPECT_NE(fresh, nullptr);
  EXPECT_TRUE(P().HeapFree(fresh));
  EXPECT_EQ(P().HeapAlloc(static_cast<std::size_t>(-1) / 2, false), nullptr);
}

TEST(Win32Files, FailedOpensGiveHandleZero) {
  TempDir dir;
  EXPECT_EQ(P().CreateFileA(dir.Path("missing\\x.txt").c_str(), GENERIC_READ_ACCESS, 0,
                            Creation::OpenAlways),
            0u);
  EXPECT_EQ(
      P().CreateFileA(dir.Path("none.txt").c_str(), GENERIC_READ_ACCESS, 0, Creation::OpenExisting),
      0u);
  EXPECT_EQ(P().CreateFileA("", GENERIC_READ_ACCESS, 0, Creation::OpenAlways), 0u);
  EXPECT_EQ(P().CreateFileA(nullptr, GENERIC_READ_ACCESS, 0, Creation::OpenAlways), 0u);
  EXPECT_FALSE(P().CloseHandle(0));
}

TEST(Win32Files, ReadWriteSeekCutAndShareModes) {
  TempDir dir;
  std::string path = dir.Path("state.txt");
  Handle file = P().CreateFileA(path.c_str(), GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS,
                                FILE_SHARE_READ_MODE, Creation::OpenAlways);
  ASSERT_NE(file, 0u);
  std::uint32_t count = 0;
  ASSERT_TRUE(P().WriteFile(file, "C:\\web\\bundle\\", 14, &count));
  EXPECT_EQ(count, 14u);

  // Shared for reading only: a reader may come in, a writer may not.
  Handle reader =
      P().CreateFileA(path.c_str(), GENERIC_READ_ACCESS,
                      FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE, Creation::OpenExisting);
  EXPECT_NE(reader, 0u);
  EXPECT_EQ(P().CreateFileA(path.c_str(), GENERIC_WRITE_ACCESS,
                            FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE, Creation::OpenExisting),
            0u);

  std::int64_t position = -1;
  ASSERT_TRUE(P().SetFilePointer(file, 0, MoveMethod::Current, &position));
  EXPECT_EQ(position, 14);
  ASSERT_TRUE(P().SetFilePointer(file, -8, MoveMethod::Current, &position));
  EXPECT_EQ(position, 6);
  ASSERT_TRUE(P().SetEndOfFile(file));
  std::uint64_t size = 0;
  ASSERT_TRUE(P().GetFileSize(file, &size));
  EXPECT_EQ(size, 6u);
  ASSERT_TRUE(P().SetFilePointer(file, 0, MoveMethod::Begin, nullptr));
  char buffer[32] = {};
  ASSERT_TRUE(P().ReadFile(file, buffer, sizeof buffer, &count));
  EXPECT_EQ(std::string(buffer, count), "C:\\web");
  ASSERT_TRUE(P().ReadFile(file, buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 0u);  // end of file
  EXPECT_TRUE(P().FlushFileBuffers(file));
  EXPECT_FALSE(P().SetFilePointer(file, -100, MoveMethod::Begin, &position));
  EXPECT_TRUE(P().CloseHandle(reader));
  EXPECT_TRUE(P().CloseHandle(file));
  EXPECT_FALSE(P().ReadFile(file, buffer, 1, &count));
}

TEST(Win32Files, MovesReplaceOrRefuseAnExistingTarget) {
  TempDir dir;
  std::string a = dir.Write("a.txt", "new"), b = dir.Write("b.txt", "old");
  std::string c = dir.Write("c.txt", "other");
  EXPECT_FALSE(P().MoveFileA(c.c_str(), b.c_str()));
  EXPECT_EQ(dir.Read("b.txt"), "old");
  EXPECT_TRUE(P().MoveFileReplace(a.c_str(), b.c_str()));
  EXPECT_EQ(dir.Read("b.txt"), "new");
  EXPECT_FALSE(dir.Exists("a.txt"));
  EXPECT_TRUE(P().MoveFileA(c.c_str(), a.c_str()));
  EXPECT_EQ(dir.Read("a.txt"), "other");
  EXPECT_TRUE(P().DeleteFileA(a.c_str()));
  EXPECT_FALSE(P().DeleteFileA(a.c_str()));
  EXPECT_FALSE(P().MoveFileReplace(nullptr, b.c_str()));
}

TEST(Win32Files, CurrentDirectoryAsWindowsReportsIt) {
  char buffer[MAX_PATH_LENGTH] = {};
  std::uint32_t length = P().GetCurrentDirectoryA(sizeof buffer, buffer);
  ASSERT_GT(length, 2u);
  EXPECT_EQ(length, std::strlen(buffer));
  EXPECT_EQ(buffer[1], ':');
  char tiny[2] = {};
  EXPECT_EQ(P().GetCurrentDirectoryA(sizeof tiny, tiny), length + 1);  // size needed
}

TEST(Win32CodePage, CountsThenConvertsThroughTheTerminator) {
  const char* text = "Quillgate";
  int units = P().MultiByteToWideChar(text, -1, nullptr, 0);
  ASSERT_EQ(units, 10);
  char16_t wide[16] = {};
  ASSERT_EQ(P().MultiByteToWideChar(text, -1, wide, units), 10);
  EXPECT_EQ(wide[0], u'Q');
  EXPECT_EQ(wide[9], 0);
  int bytes = P().WideCharToMultiByte(wide, -1, nullptr, 0);
  ASSERT_EQ(bytes, 10);
  char back[16] = {};
  ASSERT_EQ(P().WideCharToMultiByte(wide, -1, back, bytes), 10);
  EXPECT_STREQ(back, text);
  EXPECT_EQ(P().MultiByteToWideChar(text, -1, wide, 3), 0);  // too small
  EXPECT_EQ(P().MultiByteToWideChar(nullptr, -1, nullptr, 0), 0);
}

TEST(Win32Console, HandlesAndTheControlRoutine) {
  EXPECT_EQ(P().GetStdHandle(12345), 0u);
  struct Routines {
    static int First(std::uint32_t) { return 0; }
    static int Second(std::uint32_t) { return 0; }
  };
  EXPECT_FALSE(P().SetConsoleCtrlHandler(Routines::First, false));  // not installed
  ASSERT_TRUE(P().SetConsoleCtrlHandler(Routines::First, true));
  EXPECT_TRUE(P().SetConsoleCtrlHandler(Routines::Second, true));  // replaces it
  EXPECT_FALSE(P().SetConsoleCtrlHandler(Routines::First, false));
  EXPECT_TRUE(P().SetConsoleCtrlHandler(Routines::Second, false));
  EXPECT_EQ(P().timeBeginPeriod(1), 0u);  // TIMERR_NOERROR
  // The tick count moves in steps of 10-16 ms; the steady clock does not.
  auto before = std::chrono::steady_clock::now();
  P().Sleep(50);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(45));
}

// winmm.dll is not a known DLL: imported statically, the copy planted beside
// this test (whose timeBeginPeriod gives 0x504C) would be the one loaded, as
// Wine is told to prefer it. The timer must come from the system's all the same.
TEST(Win32Console, TimerFromTheSystemsWinmmNotOnePlantedBesideTheProgram) {
  char self[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::string planted(self, length);
  planted.replace(planted.rfind('\\') + 1, std::string::npos, "winmm.dll");
  ASSERT_NE(GetFileAttributesA(planted.c_str()), INVALID_FILE_ATTRIBUTES) << planted;
  if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) {
    const char* overrides = std::getenv("WINEDLLOVERRIDES");
    ASSERT_TRUE(overrides && std::strstr(overrides, "winmm=n")) << "Wine keeps its own winmm";
  }
  EXPECT_EQ(P().timeBeginPeriod(1), 0u);
}

TEST(Win32Windows, LowerCaseInPlace) {
  char text[] = "C:\\WINDOWS\\System32\\CMD.EXE";
  EXPECT_EQ(P().CharLowerA(text), text);
  EXPECT_STREQ(text, "c:\\windows\\system32\\cmd.exe");
  EXPECT_EQ(P().CharLowerA(nullptr), nullptr);
}

// Finds a top-level window by its exact title, walking the list as the
// launcher does.
Window FindByWalk(const std::string& title) {
  for (Window w = P().GetWindow(P().GetDesktopWindow(), GW_CHILD_CMD); w;
       w = P().GetWindow(w, GW_HWNDNEXT_CMD)) {
    int length = P().GetWindowTextLengthA(w);
    std::string text(static_cast<std::size_t>(length) + 2, '\0');
    int got = P().GetWindowTextA(w, text.data(), length + 2);
    if (got == length && text.c_str() == title) return w;
  }
  return 0;
}

TEST(Win32Windows, WalkFindsAWindowAndCloseEndsItsProgram) {
  std::string title = "qg test cmd window " + std::to_string(GetCurrentProcessId());
  Handle process = StartStandin("cmdwindow.exe", "\"" + title + "\"");
  ASSERT_NE(process, 0u);
  Window found = 0;
  for (int i = 0; i < 200 && !found; ++i) {
    found = FindByWalk(title);
    if (!found) P().Sleep(50);
  }
  ASSERT_NE(found, 0u);
  EXPECT_EQ(P().WaitForSingleObject(process, 0), 0x102u);  // WAIT_TIMEOUT: still running

  // Who owns the window, of which class, and from which file and creator.
  std::uint32_t owner = 0;
  EXPECT_NE(P().GetWindowThreadProcessId(found, &owner), 0u);
  EXPECT_EQ(owner, GetProcessId(reinterpret_cast<HANDLE>(process)));
  char className[64];
  int length = P().GetClassNameA(found, className, sizeof className);
  EXPECT_EQ(std::string(className, length > 0 ? length : 0), "ConsoleWindowClass");
  Handle query = P().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION_RIGHT, false, owner);
  ASSERT_NE(query, 0u);
  char path[1024];
  std::uint32_t size = sizeof path;
  ASSERT_TRUE(P().QueryFullProcessImageNameA(query, path, &size));
  EXPECT_EQ(_stricmp(path, (StandinDir() + "cmdwindow.exe").c_str()), 0) << path;
  std::uint64_t created = 0, ownCreated = 0;
  EXPECT_TRUE(P().GetProcessTimes(query, &created));
  Handle self =
      P().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION_RIGHT, false, P().GetCurrentProcessId());
  EXPECT_TRUE(P().GetProcessTimes(self, &ownCreated));
  EXPECT_GE(created, ownCreated);
  P().CloseHandle(self);
  P().CloseHandle(query);
  Handle snapshot = P().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS_FLAG, 0);
  ProcessEntry entry;
  entry.dwSize = 296;
  std::uint32_t parent = 0;
  for (bool more = P().Process32First(snapshot, &entry); more;
       more = P().Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == owner) parent = entry.th32ParentProcessID;
  }
  P().CloseHandle(snapshot);
  EXPECT_EQ(parent, GetCurrentProcessId());
  EXPECT_TRUE(P().BecomeChildSubreaper());
  EXPECT_EQ(P().ReapAdoptedProcesses(&owner, 1, 0), 0u);

  EXPECT_TRUE(P().PostMessageA(found, WM_CLOSE_MSG, 0, 0));
  EXPECT_EQ(P().WaitForSingleObject(process, 10000), WAIT_OBJECT_0_RESULT);
  EXPECT_EQ(ExitCodeOf(process), 0u);
  EXPECT_EQ(FindByWalk(title), 0u);
  P().CloseHandle(process);
}

// A window of this program, minimised, restored and brought to the front;
// a window it owns has it as owner.
TEST(Win32Windows, MinimisedRestoredOwnedAndInFront) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA type = {};
  type.lpfnWndProc = DefWindowProcA;
  type.hInstance = instance;
  type.lpszClassName = "QuillgateTestMain";
  ASSERT_NE(RegisterClassA(&type), 0);
  HWND main = CreateWindowExA(0, type.lpszClassName, "main", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                              nullptr, nullptr, instance, nullptr);
  HWND owned = CreateWindowExA(0, type.lpszClassName, "dialog", WS_OVERLAPPED | WS_CAPTION, 20, 20,
                               100, 50, main, nullptr, instance, nullptr);
  ASSERT_TRUE(main && owned);
  Window window = FromNative(main);
  EXPECT_FALSE(P().IsWindowVisible(window));
  ShowWindow(main, SW_SHOWMINIMIZED);
  EXPECT_TRUE(P().IsWindowVisible(window));  // a minimised window is still visible
  EXPECT_TRUE(P().IsIconic(window));
  EXPECT_EQ(P().GetWindow(window, GW_OWNER_CMD), 0u);
  EXPECT_EQ(P().GetWindow(FromNative(owned), GW_OWNER_CMD), window);
  P().ShowWindow(window, SW_RESTORE_CMD);
  EXPECT_FALSE(P().IsIconic(window));
  EXPECT_TRUE(P().SetForegroundWindow(window));  // Wine keeps no foreground lock
  EXPECT_EQ(GetForegroundWindow(), main);
  DestroyWindow(owned);
  DestroyWindow(main);
  EXPECT_FALSE(P().IsIconic(window));
  EXPECT_FALSE(P().SetForegroundWindow(window));
}

TEST(Win32Processes, SnapshotListsProcessesByFileName) {
  Handle snapshot = P().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS_FLAG, 0);
  ASSERT_NE(snapshot, 0u);
  ProcessEntry entry;
  EXPECT_FALSE(P().Process32First(snapshot, &entry));  // dwSize not set
  entry.dwSize = 296;
  bool self = false;
  for (bool more = P().Process32First(snapshot, &entry); more;
       more = P().Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) {
      self = true;
      EXPECT_STREQ(entry.szExeFile, "win32_platform_test.exe");
    }
  }
  EXPECT_TRUE(self);
  EXPECT_TRUE(P().CloseHandle(snapshot));
}

TEST(Win32Processes, TerminateEndsTheProcessWithTheGivenCode) {
  Handle started = StartStandin("php.exe", "");
  ASSERT_NE(started, 0u);
  DWORD id = GetProcessId(reinterpret_cast<HANDLE>(started));
  EXPECT_EQ(P().OpenProcess(PROCESS_TERMINATE_RIGHT, false, 0xFFFFFFF0u), 0u);
  Handle process = P().OpenProcess(PROCESS_TERMINATE_RIGHT, false, id);
  ASSERT_NE(process, 0u);
  EXPECT_TRUE(P().TerminateProcess(process, 9));
  EXPECT_TRUE(P().CloseHandle(process));
  EXPECT_EQ(P().WaitForSingleObject(started, 10000), WAIT_OBJECT_0_RESULT);
  EXPECT_EQ(ExitCodeOf(started), 9u);
  P().CloseHandle(started);
}

TEST(Win32Programs, FailedStartsReportNothing) {
  char commandLine[] = "\"Z:\\no\\such\\program.exe\"";
  ProcessInformation info{1, 2, 3, 4};
  StartupInfo startup;
  startup.dwFlags = STARTF_USESHOWWINDOW_FLAG;
  startup.wShowWindow = SW_SHOWNORMAL_CMD;
  EXPECT_FALSE(
      P().CreateProcessA(commandLine, false, NORMAL_PRIORITY_CLASS_FLAG, nullptr, startup, &info));
  EXPECT_EQ(info.hProcess, 0u);
  EXPECT_EQ(info.hThread, 0u);

  ShellExecuteInfo shell;
  shell.fMask =
      SEE_MASK_NOCLOSEPROCESS_FLAG | SEE_MASK_FLAG_DDEWAIT_FLAG | SEE_MASK_FLAG_NO_UI_FLAG;
  shell.lpFile = "Z:\\no\\such\\program.exe";
  shell.lpParameters = "";
  shell.nShow = SW_SHOWNORMAL_CMD;
  shell.hProcess = 77;
  EXPECT_FALSE(P().ShellExecuteExA(&shell));
  EXPECT_EQ(shell.hProcess, 0u);
  EXPECT_FALSE(P().ShellExecuteExA(nullptr));
}

TEST(Win32Programs, ShellStartsAProgramAndHandsBackItsProcess) {
  std::string file = StandinDir() + "cmdwindow.exe";
  std::string title = "qg shell started " + std::to_string(GetCurrentProcessId());
  std::string parameters = "\"" + title + "\"";
  ShellExecuteInfo shell;
  shell.fMask =
      SEE_MASK_NOCLOSEPROCESS_FLAG | SEE_MASK_FLAG_DDEWAIT_FLAG | SEE_MASK_FLAG_NO_UI_FLAG;
  shell.lpFile = file.c_str();
  shell.lpParameters = parameters.c_str();
  shell.nShow = SW_SHOWNORMAL_CMD;
  ASSERT_TRUE(P().ShellExecuteExA(&shell));
  ASSERT_NE(shell.hProcess, 0u);
  Window found = 0;
  for (int i = 0; i < 200 && !found; ++i) {
    found = FindByWalk(title);
    if (!found) P().Sleep(50);
  }
  ASSERT_NE(found, 0u);
  P().PostMessageA(found, WM_CLOSE_MSG, 0, 0);
  EXPECT_EQ(P().WaitForSingleObject(shell.hProcess, 10000), WAIT_OBJECT_0_RESULT);
  P().CloseHandle(shell.hProcess);
}

TEST(Win32Programs, PipesCarryBytesAndDuplicatesOutliveTheOriginal) {
  Handle reader = 0, writer = 0;
  ASSERT_TRUE(P().CreatePipe(&reader, &writer));
  ASSERT_NE(reader, 0u);
  ASSERT_NE(writer, 0u);
  Handle copy = 0;
  ASSERT_TRUE(P().DuplicateHandle(writer, &copy));
  ASSERT_NE(copy, 0u);
  EXPECT_NE(copy, writer);
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(copy), &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
  ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(writer), &flags));
  EXPECT_NE(flags & HANDLE_FLAG_INHERIT, 0u);
  EXPECT_TRUE(P().CloseHandle(writer));
  std::uint32_t count = 0;
  ASSERT_TRUE(P().WriteFile(copy, "php", 3, &count));
  EXPECT_EQ(count, 3u);
  EXPECT_TRUE(P().CloseHandle(copy));
  char buffer[8] = {};
  ASSERT_TRUE(P().ReadFile(reader, buffer, sizeof buffer, &count));
  EXPECT_EQ(std::string(buffer, count), "php");
  EXPECT_FALSE(P().ReadFile(reader, buffer, sizeof buffer, &count));  // writers gone
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(P().CloseHandle(reader));
  EXPECT_FALSE(P().DuplicateHandle(0, &copy));
  EXPECT_EQ(copy, 0u);
}

// --- wide paths ----------------------------------------------------------------

// The exact conversion per code page: what converts and comes back whole is
// given out, anything the code page lacks or would give by best fit is not.
TEST(Win32WidePaths, ExactConversionRefusesWhatDoesNotComeBack) {
  struct Case {
    const char* name;
    UINT codePage;
    std::u16string text;
    const char* bytes;  // null: refused
  } cases[] = {
      {"ascii under 1252", 1252, u"E:\\web bundle\\", "E:\\web bundle\\"},
      {"e-acute under 1252", 1252, u"caf\u00E9", "caf\xE9"},
      {"cyrillic under 1252", 1252, u"\u041F\u0440\u043E\u0435\u043A\u0442\u044B", nullptr},
      {"best fit under 1252", 1252, u"\u0141\u00F3d\u017A", nullptr},
      {"emoji under 1252", 1252, u"\U0001F600", nullptr},
      {"cyrillic under 1251", 1251, u"\u041F\u0440\u043E", "\xCF\xF0\xEE"},
      {"japanese under 1251", 1251, u"\u65E5\u672C", nullptr},
      {"best fit under utf-8", CP_UTF8, u"\u0141\u00F3d\u017A",
       "\xC5\x81\xC3\xB3"
       "d\xC5\xBA"},
      {"emoji under utf-8", CP_UTF8, u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"lone surrogate under utf-8", CP_UTF8,
       u"a\xD800"
       u"b",
       nullptr},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    int length = static_cast<int>(c.text.size());
    int needed = WideToCodePageExact(c.codePage, c.text.data(), length, nullptr, 0);
    if (!c.bytes) {
      EXPECT_EQ(needed, 0) << c.name;
      EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION_CODE) << c.name;
      continue;
    }
    ASSERT_EQ(needed, static_cast<int>(std::strlen(c.bytes))) << c.name;
    std::string out(static_cast<std::size_t>(needed), '\0');
    EXPECT_EQ(WideToCodePageExact(c.codePage, c.text.data(), length, out.data(), needed), needed)
        << c.name;
    EXPECT_EQ(out, c.bytes) << c.name;
    EXPECT_EQ(WideToCodePageExact(c.codePage, c.text.data(), length, out.data(), needed - 1), 0)
        << c.name;  // too small
  }
  // The platform's own call converts to the ANSI code page, through the terminator.
  EXPECT_EQ(P().GetACP(), GetACP());
  char out[8];
  EXPECT_EQ(P().WideCharToMultiByteExact(u"bundle", -1, out, sizeof out), 7);
  EXPECT_STREQ(out, "bundle");
}

std::wstring AsWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// A folder named in Cyrillic: the current directory read whole, its short
// (8.3) form plain ASCII and expanded back to the long one, and a program
// started from it reporting its long path.
TEST(Win32WidePaths, CurrentDirectoryShortAndLongFormsAndImagePath) {
  TempDir dir;
  std::u16string base = dir.Root().u16string();
  std::u16string folder = base + u"\\\u041F\u0440\u043E\u0435\u043A\u0442\u044B";
  ASSERT_TRUE(CreateDirectoryW(AsWide(folder).c_str(), nullptr));
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  ASSERT_TRUE(SetCurrentDirectoryW(AsWide(folder).c_str()));
  std::uint32_t needed = P().GetCurrentDirectoryW(0, nullptr);
  std::u16string cwd(needed, u'\0');
  std::uint32_t length = P().GetCurrentDirectoryW(needed, cwd.data());
  SetCurrentDirectoryW(before);
  ASSERT_EQ(length + 1, needed);
  cwd.resize(length);
  EXPECT_EQ(_wcsicmp(AsWide(cwd).c_str(), AsWide(folder).c_str()), 0);

  char16_t shortForm[MAX_PATH];
  length = P().GetShortPathNameW(folder.c_str(), shortForm, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::u16string shortText(shortForm, length);
  EXPECT_NE(shortText, folder);
  for (char16_t unit : shortText) EXPECT_LT(unit, 0x80) << "the short form is not ASCII";
  EXPECT_EQ(P().GetShortPathNameW(folder.c_str(), shortForm, 3), length + 1);
  char16_t longForm[MAX_PATH];
  length = P().GetLongPathNameW(shortText.c_str(), longForm, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::u16string(longForm, length), folder);
  std::u16string missing = folder + u"\\none";
  EXPECT_EQ(P().GetShortPathNameW(missing.c_str(), shortForm, MAX_PATH), 0u);
  EXPECT_EQ(P().GetLongPathNameW(missing.c_str(), longForm, MAX_PATH), 0u);
  EXPECT_EQ(P().GetLastError(), ERROR_FILE_NOT_FOUND_CODE);

  std::u16string program = folder + u"\\php.exe";
  std::string standin = StandinDir() + "php.exe";
  std::u16string source(standin.begin(), standin.end());
  ASSERT_TRUE(CopyFileW(AsWide(source).c_str(), AsWide(program).c_str(), FALSE));
  std::wstring commandLine = L"\"" + AsWide(program) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &info));
  Handle query = P().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION_RIGHT, false, info.dwProcessId);
  ASSERT_NE(query, 0u);
  char16_t image[MAX_PATH];
  std::uint32_t size = MAX_PATH;
  EXPECT_TRUE(P().QueryFullProcessImageNameW(query, image, &size));
  EXPECT_EQ(_wcsicmp(AsWide(std::u16string(image, size)).c_str(), AsWide(program).c_str()), 0);
  size = 4;
  EXPECT_FALSE(P().QueryFullProcessImageNameW(query, image, &size));  // too small
  P().CloseHandle(query);
  TerminateProcess(info.hProcess, 9);
  WaitForSingleObject(info.hProcess, 10000);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

// --- folder listings ---------------------------------------------------------------

// Every entry of a listing of `pattern` with its attributes and short name;
// false when it did not start or ended with another error than the end.
struct Listed {
  std::uint32_t attributes;
  std::u16string shortName;
};
bool ListAll(const std::u16string& pattern, std::map<std::u16string, Listed>* entries) {
  FindDataW data;
  Handle find = P().FindFirstFileW(pattern.c_str(), &data);
  if (!find) return false;
  do {
    (*entries)[data.cFileName] = {data.dwFileAttributes, data.cAlternateFileName};
  } while (P().FindNextFileW(find, &data));
  bool whole = P().GetLastError() == ERROR_NO_MORE_FILES_CODE;
  EXPECT_TRUE(P().FindClose(find));
  return whole;
}

// Names beyond the code page come whole, with an ASCII short name beside a
// long one; a relative pattern is taken from the current directory.
TEST(Win32Listing, EntriesWithWholeNamesShortNamesAndKinds) {
  TempDir dir;
  std::u16string base = dir.Root().u16string();
  const std::u16string cyrillic = u"PHP-8.3 \u0442\u0435\u0441\u0442";
  for (const std::u16string& name :
       {std::u16string(u"PHP-5.6-5.7"), std::u16string(u"PHP 7.4 (1)"), cyrillic})
    ASSERT_TRUE(CreateDirectoryW(AsWide(base + u"\\" + name).c_str(), nullptr));
  dir.Write("php.ini", "x");

  std::map<std::u16string, Listed> entries;
  ASSERT_TRUE(ListAll(base + u"\\*", &entries));
  EXPECT_EQ(entries.size(), 6u);  // with "." and ".."
  for (const char16_t* folder : {u".", u"..", u"PHP-5.6-5.7", u"PHP 7.4 (1)", cyrillic.c_str()}) {
    ASSERT_EQ(entries.count(folder), 1u);
    EXPECT_TRUE(entries[folder].attributes & FILE_ATTRIBUTE_DIRECTORY_FLAG);
  }
  EXPECT_FALSE(entries[u"php.ini"].attributes & FILE_ATTRIBUTE_DIRECTORY_FLAG);
  std::u16string shortName = entries[cyrillic].shortName;
  if (!shortName.empty()) {
    // Where the volume keeps short names, the short one names the folder.
    for (char16_t unit : shortName) EXPECT_LT(unit, 0x80) << "the short name is not ASCII";
    DWORD attributes = GetFileAttributesW(AsWide(base + u"\\" + shortName).c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  }

  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  ASSERT_TRUE(SetCurrentDirectoryW(AsWide(base).c_str()));
  std::map<std::u16string, Listed> relative;
  bool listed = ListAll(cyrillic + u"\\..\\*", &relative);
  SetCurrentDirectoryW(before);
  ASSERT_TRUE(listed);
  EXPECT_EQ(relative.size(), entries.size());
  EXPECT_EQ(relative.count(cyrillic), 1u);
}

TEST(Win32Listing, WhatCannotBeListedSaysWhy) {
  TempDir dir;
  std::string file = dir.Write("file.txt", "x");
  std::u16string base = dir.Root().u16string();
  struct Case {
    const char* name;
    std::u16string pattern;
    std::uint32_t error;
  } cases[] = {
      {"a missing folder", base + u"\\missing\\*", ERROR_PATH_NOT_FOUND_CODE},
      {"a file listed as a folder", base + u"\\file.txt\\*", ERROR_DIRECTORY_CODE},
      {"a missing name", base + u"\\none.ini", ERROR_FILE_NOT_FOUND_CODE},
  };
  for (const Case& c : cases) {
    FindDataW data;
    SetLastError(0);
    EXPECT_EQ(P().FindFirstFileW(c.pattern.c_str(), &data), 0u) << c.name;
    std::uint32_t error = P().GetLastError();
    // Windows says a file is no folder (as Python's listdir reports it);
    // Wine says the name is invalid.
    if (c.error == ERROR_DIRECTORY_CODE && error == ERROR_INVALID_NAME) continue;
    EXPECT_EQ(error, c.error) << c.name;
  }
  FindDataW data;
  EXPECT_EQ(P().FindFirstFileW(nullptr, &data), 0u);
  EXPECT_EQ(P().GetLastError(), ERROR_INVALID_PARAMETER_CODE);

  // A plain name is a listing of that one entry.
  std::u16string plain = base + u"\\file.txt";
  Handle find = P().FindFirstFileW(plain.c_str(), &data);
  ASSERT_NE(find, 0u);
  EXPECT_EQ(std::u16string(data.cFileName), u"file.txt");
  EXPECT_FALSE(P().FindNextFileW(find, &data));
  EXPECT_EQ(P().GetLastError(), ERROR_NO_MORE_FILES_CODE);
  EXPECT_TRUE(P().FindClose(find));
}

}  // namespace
}  // namespace qg
