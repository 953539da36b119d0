// Process and window control: every call takes a fresh process snapshot or
// walks the window list afresh, and closes every handle it obtained.
#include "launcher/process_control.h"

#include <cstring>

namespace qg {

namespace {

// A heap copy of `length` bytes of `text`, lower-cased; null when the heap
// has no room. Released with Sys().HeapFree.
char* LoweredCopy(const char* text, std::size_t length) {
  char* copy = static_cast<char*>(Sys().HeapAlloc(length + 1, false));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = 0;
  Sys().CharLowerA(copy);
  return copy;
}

// The file-name part of `text`: after the last slash or backslash, without
// double quotation marks. Sets `start` and `length` of that part in `text`.
void FileNamePart(const char* text, const char** start, std::size_t* length) {
  const char* part = text[0] == '"' ? text + 1 : text;
  for (const char* p = text; *p; ++p) {
    if (*p == '\\' || *p == '/') part = p + 1;
  }
  const char* end = part;
  while (*end && *end != '"') ++end;
  *start = part;
  *length = static_cast<std::size_t>(end - part);
}

// Whether the entry's executable is the one named by `loweredName`.
bool EntryMatches(const ProcessEntry& entry, const char* loweredName) {
  char exeFile[MAX_PATH_LENGTH + 1];
  std::memcpy(exeFile, entry.szExeFile, MAX_PATH_LENGTH);
  exeFile[MAX_PATH_LENGTH] = 0;  // terminated even if the entry's text fills it
  const char* part;
  std::size_t length;
  FileNamePart(exeFile, &part, &length);
  char lowered[MAX_PATH_LENGTH + 1];
  std::memcpy(lowered, part, length);
  lowered[length] = 0;
  Sys().CharLowerA(lowered);
  return std::strcmp(lowered, loweredName) == 0;
}

enum class Action { Find, Terminate };

// Walks a fresh snapshot to the first entry of that name. For Find the
// result is 1 when there is one; for Terminate it is 1 when that first match
// could be opened and was told to end.
int WithFirstProcessNamed(const char* name, Action action) {
  if (!name) name = "";
  char* loweredName = LoweredCopy(name, std::strlen(name));
  if (!loweredName) return 0;

  int result = 0;
  WalkProcessSnapshot([&](const ProcessEntry& entry) {
    if (!EntryMatches(entry, loweredName)) return true;
    if (action == Action::Find) {
      result = 1;
    } else if (Handle process =
                   Sys().OpenProcess(PROCESS_TERMINATE_RIGHT, false, entry.th32ProcessID)) {
      Sys().TerminateProcess(process, kTerminateExitCode);
      Sys().CloseHandle(process);
      result = 1;
    }
    return false;  // only the first match counts, opened or not
  });
  Sys().HeapFree(loweredName);
  return result;
}

}  // namespace

int IsProcessRunning(const char* name) { return WithFirstProcessNamed(name, Action::Find); }

int KillProcessByName(const char* name) { return WithFirstProcessNamed(name, Action::Terminate); }

bool ExeFileMatches(const char* exeFile, const char* name) {
  if (!name) name = "";
  char* loweredName = LoweredCopy(name, std::strlen(name));
  if (!loweredName) return false;
  ProcessEntry entry;
  std::strncpy(entry.szExeFile, exeFile ? exeFile : "", MAX_PATH_LENGTH - 1);
  bool matches = EntryMatches(entry, loweredName);
  Sys().HeapFree(loweredName);
  return matches;
}

Window FindMainWindowOf(std::uint32_t processId) {
  if (processId == 0) return 0;
  for (Window window = Sys().GetWindow(Sys().GetDesktopWindow(), GW_CHILD_CMD); window;
       window = Sys().GetWindow(window, GW_HWNDNEXT_CMD)) {
    std::uint32_t owner = 0;
    Sys().GetWindowThreadProcessId(window, &owner);
    if (owner == processId && Sys().IsWindowVisible(window) &&
        Sys().GetWindow(window, GW_OWNER_CMD) == 0)
      return window;
  }
  return 0;
}

Window FindWindowOfClass(std::uint32_t processId, const char* className) {
  if (processId == 0 || !className || !*className) return 0;
  char* loweredClass = LoweredCopy(className, std::strlen(className));
  if (!loweredClass) return 0;
  Window found = 0;
  for (Window window = Sys().GetWindow(Sys().GetDesktopWindow(), GW_CHILD_CMD); window;
       window = Sys().GetWindow(window, GW_HWNDNEXT_CMD)) {
    std::uint32_t owner = 0;
    Sys().GetWindowThreadProcessId(window, &owner);
    if (owner != processId || Sys().GetWindow(window, GW_OWNER_CMD) != 0) continue;
    char name[257] = {};  // class names are at most 256 characters
    int length = Sys().GetClassNameA(window, name, static_cast<int>(sizeof name));
    if (length <= 0 || length >= static_cast<int>(sizeof name)) continue;
    name[length] = 0;
    Sys().CharLowerA(name);
    if (std::strcmp(name, loweredClass) == 0) {
      found = window;
      break;
    }
  }
  Sys().HeapFree(loweredClass);
  return found;
}

Window FindWindowByTitle(const char* text) { return FindWindowByTitle(text, nullptr, nullptr); }

Window FindWindowByTitle(const char* text, WindowFilter accept, const void* context) {
  // The empty text would be found in every title; it is meant to find none.
  if (!text || !*text) return 0;
  char* loweredText = LoweredCopy(text, std::strlen(text));
  if (!loweredText) return 0;

  Window found = 0;
  for (Window window = Sys().GetWindow(Sys().GetDesktopWindow(), GW_CHILD_CMD); window;
       window = Sys().GetWindow(window, GW_HWNDNEXT_CMD)) {
    int length = Sys().GetWindowTextLengthA(window);
    if (length < 0) length = 0;
    int capacity = length + 2;
    char* title = static_cast<char*>(Sys().HeapAlloc(static_cast<std::size_t>(capacity), true));
    if (!title) continue;  // no room to read this title: look at the next
    Sys().GetWindowTextA(window, title, capacity);
    title[capacity - 1] = 0;
    Sys().CharLowerA(title);
    bool matches = std::strstr(title, loweredText) != nullptr;
    Sys().HeapFree(title);
    if (matches && accept && !accept(window, context)) matches = false;
    if (matches) {
      found = window;
      break;
    }
  }
  Sys().HeapFree(loweredText);
  return found;
}

}  // namespace qg
