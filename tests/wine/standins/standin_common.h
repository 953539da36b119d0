// Shared bits of the Windows stand-in programs of the Wine tests.
#pragma once

#include "system/windows/windows_headers.h"

#include <string>

namespace standin {

// The folder the test gives its programs for records and signals, from the
// environment variable QG_RECORDS (the launcher passes its environment on);
// empty when unset.
inline std::string RecordsFolder() {
  char buffer[MAX_PATH * 2];
  DWORD length = GetEnvironmentVariableA("QG_RECORDS", buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return {};
  std::string folder(buffer, length);
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

inline bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Appends one line to a file, creating it when missing; each call is one
// write at the end, so programs running side by side do not mix their lines.
inline void AppendLine(const std::string& path, const std::string& line) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace standin
