#include "launcher/run_log.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace qg {
namespace {

std::string Lines(char mark, int count, std::size_t length) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += std::string(length - 2, mark) + "\r\n";
  return lines;
}

// The record stays within its limit by dropping its oldest half, in whole
// lines, and always keeps the newest lines.
TEST(RunLog, DropsTheOldestHalfWhenItWouldOutgrowTheLimit) {
  struct Case {
    const char* name;
    std::string before, lines;
    std::size_t size;  // of the result
  } cases[] = {
      {"fits", Lines('o', 10, 100), Lines('n', 3, 100), 1300},
      {"exactly the limit", Lines('o', 600, 100), Lines('n', 40, 100), 64000},
      {"one line over", Lines('o', 640, 100), Lines('n', 1, 100), 32000},
      {"far over", Lines('o', 2000, 100), Lines('n', 3, 100), 50000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string record = AppendToRunLog(c.before, c.lines, 64000);
    EXPECT_EQ(record.size(), c.size);
    EXPECT_EQ(record.substr(record.size() - c.lines.size()), c.lines);
    EXPECT_TRUE(record.front() == 'o' || record.front() == 'n');  // starts a line
  }
  // A single line longer than the limit keeps its end.
  std::string huge(70000, 'h');
  EXPECT_EQ(AppendToRunLog("", huge + "\r\n", 64000), std::string(63998, 'h') + "\r\n");
}

// Details alone are not worth a record; an event writes them all, each line
// with its time, after what the record held before.
TEST(RunLog, WritesOnlyWhenAnEventWasNoted) {
  testing::TempDir dir;
  std::string path = dir.Path(kRunLogFile);
  StartRunLog(path);
  NoteRunDetail("editor: ended");
  WriteRunLog();
  EXPECT_FALSE(dir.Exists(kRunLogFile));

  dir.Write(kRunLogFile, "an older line\r\n");
  StartRunLog(path);
  NoteRunEvent("php.ini: ", std::string("updated"));
  NoteRunDetail("editor: ", "ended");
  WriteRunLog();
  std::string record = dir.Read(kRunLogFile);
  ASSERT_EQ(record.rfind("an older line\r\n", 0), 0u) << record;
  std::string added = record.substr(15);
  // "YYYY-MM-DD HH:MM:SS  text" per line.
  ASSERT_EQ(added.size(), 2 * 21 + std::string("php.ini: updated\r\neditor: ended\r\n").size());
  EXPECT_EQ(added.substr(21, 18), "php.ini: updated\r\n");
  EXPECT_EQ(added.substr(4, 1) + added.substr(7, 1) + added.substr(13, 1), "--:");
  EXPECT_EQ(added.substr(60), "editor: ended\r\n");

  WriteRunLog();  // everything was forgotten: nothing more is written
  EXPECT_EQ(dir.Read(kRunLogFile), record);
}

}  // namespace
}  // namespace qg
