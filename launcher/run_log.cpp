#include "launcher/run_log.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "files/file_replacement.h"
#include "system/platform.h"

namespace qg {

namespace {

struct RunLog {
  std::string path;
  std::string lines;
  bool eventNoted = false;
};

RunLog& TheRunLog() {
  static RunLog log;
  return log;
}

void Note(const std::string& text, bool event) {
  SystemTime now;
  Sys().GetLocalTime(&now);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u  ", unsigned{now.wYear},
                unsigned{now.wMonth}, unsigned{now.wDay}, unsigned{now.wHour},
                unsigned{now.wMinute}, unsigned{now.wSecond});
  RunLog& log = TheRunLog();
  log.lines += stamp;
  log.lines += text;
  log.lines += "\r\n";
  log.eventNoted |= event;
}

// The last `limit` bytes of the record as it stands (whole lines only), or
// nothing when there is none.
std::string ReadRecordTail(const char* path, std::size_t limit) {
  Handle file =
      Sys().CreateFileA(path, GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE,
                        Creation::OpenExisting);
  if (!file) return {};
  std::string tail;
  std::uint64_t size = 0;
  if (Sys().GetFileSize(file, &size)) {
    std::uint64_t skip = size > limit ? size - limit : 0;
    tail.resize(static_cast<std::size_t>(size - skip));
    std::uint32_t read = 0;
    if ((skip && !Sys().SetFilePointer(file, static_cast<std::int64_t>(skip), MoveMethod::Begin,
                                       nullptr)) ||
        !Sys().ReadFile(file, tail.data(), static_cast<std::uint32_t>(tail.size()), &read))
      read = 0;
    tail.resize(read);
    if (skip) {
      std::size_t lineEnd = tail.find('\n');
      tail.erase(0, lineEnd == std::string::npos ? tail.size() : lineEnd + 1);
    }
  }
  Sys().CloseHandle(file);
  return tail;
}

}  // namespace

void StartRunLog(std::string path) {
  RunLog& log = TheRunLog();
  log.path = std::move(path);
  log.lines.clear();
  log.eventNoted = false;
}

void NoteRunEvent(const std::string& text) { Note(text, true); }

void NoteRunDetail(const std::string& text) { Note(text, false); }

std::string ErrorText(std::uint32_t code) {
  char text[512];
  if (Sys().FormatMessageA(code, text, sizeof text) > 0) return text;
  return "error " + std::to_string(code);
}

std::string AppendToRunLog(std::string before, const std::string& lines, std::size_t limit) {
  std::string record = std::move(before) + lines;
  while (record.size() > limit) {
    std::size_t lineEnd = record.find('\n', record.size() / 2);
    if (lineEnd == std::string::npos || lineEnd + 1 == record.size()) {
      // One line longer than half the record: keep its end.
      record.erase(0, record.size() - limit);
      break;
    }
    record.erase(0, lineEnd + 1);
  }
  return record;
}

void WriteRunLog() {
  RunLog& log = TheRunLog();
  if (log.eventNoted && !log.path.empty()) {
    std::string record = AppendToRunLog(ReadRecordTail(log.path.c_str(), kRunLogLimit), log.lines);
    ReplaceFileContent(log.path.c_str(), record.data(), record.size());
  }
  StartRunLog(std::string());
}

}  // namespace qg
