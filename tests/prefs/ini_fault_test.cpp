// Failures of the platform at every step: the file on disk is always either
// its old bytes or its new bytes, and no temporary file is left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "prefs/ini_file.h"
#include "prefs/ini_model.h"
#include "tests/prefs/ini_test_util.h"
#include "tests/support/faulty_platform.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;
using testing::PlatformScope;

struct FaultScenario {
  const char* name;
  bool exists;         // the file is there before the open
  std::string input;   // its bytes
  std::string output;  // its bytes after a successful round trip
};

const FaultScenario kScenarios[] = {
    {"KeyReplaced", true, "[PHP]\nauto_prepend_file = old\n[B]\nx=1\n",
     "[PHP]\r\nauto_prepend_file = \"v\xE9\"\r\n[B]\r\nx = 1\r\n"},
    {"GroupAppendedInMarkedFile", true, "\xEF\xBB\xBF[A]\nx=1",
     "\xEF\xBB\xBF\r\n[A]\r\nx = 1\r\n[PHP]\r\nauto_prepend_file = \"v\xC3\xA9\"\r\n"},
    {"MissingFileCreated", false, "", "[PHP]\r\nauto_prepend_file = \"v\xE9\"\r\n"},
};

void PrintTo(const FaultScenario& s, std::ostream* out) { *out << s.name; }

std::set<std::string> FolderNames(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(folder))
    names.insert(item.path().filename().string());
  return names;
}

struct FaultRun {
  FaultyPlatform::Fault fault;
  unsigned kinds;
};

class FaultTest : public ::testing::TestWithParam<std::tuple<FaultScenario, FaultRun>> {};

TEST_P(FaultTest, EveryFailureKeepsTheFileWhole) {
  const FaultScenario& s = std::get<0>(GetParam());
  const FaultRun& run = std::get<1>(GetParam());
  int closeFaults = 0;
  for (std::int64_t n = 1;; ++n) {
    testing::TempDir dir;
    std::string path = s.exists ? dir.Write("php.ini", s.input) : dir.Path("php.ini");
    FaultyPlatform faulty(NativePlatform());
    std::int64_t beforeClose = 0;
    {
      PlatformScope scope(faulty);
      faulty.FailAt(n, run.fault, run.kinds);
      OpenIniFile(path.c_str(), 0);
      SelectIniGroup("PHP");
      WriteIniString("auto_prepend_file", "\"v\xE9\"");
      beforeClose = faulty.Calls();
      CloseIniFile();
    }
    SCOPED_TRACE("fault " + std::to_string(n) + " at " + faulty.FiredAt());
    EXPECT_EQ(TheIniFile().handle, 0u);
    EXPECT_EQ(TheIniFile().first, nullptr);

    std::set<std::string> names = FolderNames(dir.Root());
    if (!faulty.Fired()) {
      EXPECT_EQ(dir.Read("php.ini"), s.output);
      EXPECT_EQ(names, std::set<std::string>{"php.ini"});
      EXPECT_GT(n, 4) << "the round trip makes more than a handful of failable calls";
      EXPECT_GT(closeFaults, 0);
      break;
    }
    bool inWriteBack = n > beforeClose;
    closeFaults += inWriteBack;
    if (s.exists) {
      std::string now = dir.Read("php.ini");
      EXPECT_TRUE(now == s.input || now == s.output);
      if (inWriteBack) {
        EXPECT_EQ(now, s.input);
      }
      EXPECT_EQ(names, std::set<std::string>{"php.ini"});
    } else if (inWriteBack) {
      EXPECT_TRUE(names.empty());
    } else {
      EXPECT_TRUE(names.empty() ||
                  (names == std::set<std::string>{"php.ini"} && dir.Read("php.ini") == s.output));
    }
    ASSERT_LT(n, 1000);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, FaultTest,
    ::testing::Combine(
        ::testing::ValuesIn(kScenarios),
        ::testing::Values(FaultRun{FaultyPlatform::Fault::Fail, FaultyPlatform::AllKinds},
                          FaultRun{FaultyPlatform::Fault::ShortWrite, FaultyPlatform::FileCalls})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param).fault == FaultyPlatform::Fault::Fail ? "_Fail"
                                                                           : "_ShortWrite");
    });

// Reports a size or delivers a read that does not match the file.
class LyingPlatform : public testing::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  std::uint64_t reportedSize = 0;  // 0: the true size
  std::uint32_t readShortBy = 0;
  bool GetFileSize(Handle file, std::uint64_t* size) override {
    if (!reportedSize) return inner_.GetFileSize(file, size);
    *size = reportedSize;
    return true;
  }
  bool ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) override {
    return inner_.ReadFile(file, buffer, count > readShortBy ? count - readShortBy : 0, read);
  }
};

struct LoadRefusal {
  const char* name;
  std::uint64_t reportedSize;
  std::uint32_t readShortBy;
};

class RefusedLoadTest : public ::testing::TestWithParam<LoadRefusal> {};

TEST_P(RefusedLoadTest, OpenFailsAndNothingIsWrittenBack) {
  testing::TempDir dir;
  std::string input = "[PHP]\nauto_prepend_file = old\nmore = lines\n";
  std::string path = dir.Write("php.ini", input);
  LyingPlatform lying(NativePlatform());
  {
    PlatformScope scope(lying);
    lying.reportedSize = GetParam().reportedSize;
    lying.readShortBy = GetParam().readShortBy;
    EXPECT_EQ(OpenIniFile(path.c_str(), 0), 0);
    EXPECT_EQ(TheIniFile().handle, 0u);
    EXPECT_EQ(TheIniFile().fileName, nullptr);
    EXPECT_EQ(SelectIniGroup(""), 0);
    EXPECT_EQ(WriteIniString("auto_prepend_file", "new"), nullptr);
    CloseIniFile();
  }
  EXPECT_EQ(dir.Read("php.ini"), input);
  EXPECT_EQ(FolderNames(dir.Root()), std::set<std::string>{"php.ini"});
  // The file is not held open after the refusal.
  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  EXPECT_FALSE(TheIniFile().readOnly);
  CloseIniFile();
}

INSTANTIATE_TEST_SUITE_P(Loads, RefusedLoadTest,
                         ::testing::Values(LoadRefusal{"FourGiB", 1ull << 32, 0},
                                           LoadRefusal{"FourGiBMinusOne", (1ull << 32) - 1, 0},
                                           LoadRefusal{"LargerStill", 1ull << 40, 0},
                                           LoadRefusal{"ShortRead", 0, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// A failed allocation in a selection or a write leaves the entries as they
// were; the writes that succeed before it stay.
struct EditStep {
  const char* group;  // selected before the write; null: no selection
  const char* key;
  const char* value;
  std::vector<std::string> after;  // the entries when the write succeeds
};

struct OutOfMemoryCase {
  const char* name;
  std::string input;
  std::vector<EditStep> steps;
};

const OutOfMemoryCase kOutOfMemoryCases[] = {
    {"NewGroupAndKeys",
     "[A]\nk=v\n",
     {{"New", "k", "a longer value", {"[A", "k|v", "[New", "k|a longer value"}},
      {nullptr, "k2", "v", {"[A", "k|v", "[New", "k|a longer value", "k2|v"}}}},
    {"ValueOutgrowsItsStorage",
     "\xEF\xBB\xBF[A]\nk=v\n",
     {{"a", "K", "\xE9\xE9\xE9", {"[A", "K|\xC3\xA9\xC3\xA9\xC3\xA9"}},
      {nullptr,
       "k",
       "a value longer than all before",
       {"[A", "k|a value longer than all before"}}}},
};

void PrintTo(const OutOfMemoryCase& c, std::ostream* out) { *out << c.name; }

class OutOfMemoryTest : public ::testing::TestWithParam<OutOfMemoryCase> {};

TEST_P(OutOfMemoryTest, FailedStepChangesNothing) {
  testing::TempDir dir;
  const OutOfMemoryCase& c = GetParam();
  std::string path = dir.Write("php.ini", c.input);
  for (std::int64_t n = 1;; ++n) {
    SCOPED_TRACE("heap fault " + std::to_string(n));
    ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
    FaultyPlatform faulty(NativePlatform());
    bool anyWrite = false, allWrites = true;
    {
      PlatformScope scope(faulty);
      faulty.FailAt(n, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
      for (const EditStep& step : c.steps) {
        std::vector<std::string> before = testing::EntryTexts();
        if (step.group) SelectIniGroup(step.group);
        const char* stored = WriteIniString(step.key, step.value);
        anyWrite = anyWrite || stored;
        allWrites = allWrites && stored;
        if (!stored) {
          EXPECT_EQ(testing::EntryTexts(), before);
        } else if (allWrites) {
          EXPECT_EQ(testing::EntryTexts(), step.after);
        }
        EXPECT_EQ(TheIniFile().modified, anyWrite);
      }
    }
    if (!faulty.Fired()) {
      EXPECT_TRUE(allWrites);
      CloseIniFile();
      break;
    }
    CloseIniFile();
    testing::WriteWholeFile(path, c.input);
    ASSERT_LT(n, 100);
  }
}

INSTANTIATE_TEST_SUITE_P(Edits, OutOfMemoryTest, ::testing::ValuesIn(kOutOfMemoryCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An edit of every value that runs out of memory at any of its blocks
// changes none of them.
TEST(EditIniValuesOutOfMemory, ChangesAllOrNothing) {
  testing::TempDir dir;
  std::string path = dir.Write("php.ini", "[A]\nk=ab\nn=a\n[B]\nm=ab\n");
  auto edit = [](const IniKeyLine& line, void*) -> const char* {
    return line.value[0] == 'a' ? "a value longer than every stored one" : nullptr;
  };
  for (std::int64_t n = 1;; ++n) {
    SCOPED_TRACE("heap fault " + std::to_string(n));
    ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
    std::vector<std::string> before = testing::EntryTexts();
    FaultyPlatform faulty(NativePlatform());
    int changed;
    std::uint32_t error;
    {
      PlatformScope scope(faulty);
      faulty.FailAt(n, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
      changed = EditIniValues(edit, nullptr);
      error = Sys().GetLastError();
    }
    bool fired = faulty.Fired();
    if (fired) {
      EXPECT_EQ(changed, -1);
      EXPECT_EQ(error, ERROR_NOT_ENOUGH_MEMORY_CODE);
      EXPECT_EQ(testing::EntryTexts(), before);
      EXPECT_FALSE(TheIniFile().modified);
    } else {
      EXPECT_EQ(changed, 3);
    }
    CloseIniFile();
    testing::WriteWholeFile(path, "[A]\nk=ab\nn=a\n[B]\nm=ab\n");
    if (!fired) break;
    ASSERT_LT(n, 100);
  }
}

}  // namespace
}  // namespace qg
