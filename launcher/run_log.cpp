#include "launcher/run_log.h"

#include <utility>

#include "files/file_probes.h"
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

// `value` in decimal, at least `width` digits.
void AppendDigits(std::string& out, unsigned value, int width) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value || count < width);
  while (count) out += digits[--count];
}

}  // namespace

void NoteRunLine(std::initializer_list<std::string_view> pieces, bool event) {
  SystemTime now;
  Sys().GetLocalTime(&now);
  RunLog& log = TheRunLog();
  // YYYY-MM-DD HH:MM:SS, then two blanks.
  const std::uint16_t parts[] = {now.wYear, now.wMonth,  now.wDay,
                                 now.wHour, now.wMinute, now.wSecond};
  const char* const after[] = {"-", "-", " ", ":", ":", "  "};
  for (int i = 0; i < 6; ++i) {
    AppendDigits(log.lines, parts[i], i == 0 ? 4 : 2);
    log.lines += after[i];
  }
  for (std::string_view piece : pieces) log.lines += piece;
  log.lines += "\r\n";
  log.eventNoted |= event;
}

void StartRunLog(std::string path) {
  RunLog& log = TheRunLog();
  log.path = std::move(path);
  log.lines.clear();
  log.eventNoted = false;
}

void NoteRunFailure(const char* what, std::uint32_t error) {
  if (error == 0) return NoteRunEvent(what);
  NoteRunEvent(what, ": ", ErrorText(error));
}

std::string ErrorText(std::uint32_t code) {
  char text[512];
  if (Sys().FormatMessageA(code, text, sizeof text) > 0) return text;
  return "error " + NumberText(code);
}

std::string NumberText(std::uint32_t value) {
  std::string number;
  AppendDigits(number, value, 1);
  return number;
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
    std::string record = AppendToRunLog(ReadFileTail(log.path.c_str(), kRunLogLimit), log.lines);
    ReplaceFileContent(log.path.c_str(), record.data(), record.size());
  }
  StartRunLog(std::string());
}

}  // namespace qg
