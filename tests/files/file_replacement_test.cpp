#include "files/file_replacement.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/faulty_platform.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/platform_scope.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;

bool NoTemporaryLeft(const testing::TempDir& dir) {
  for (const auto& entry : fs::directory_iterator(dir.Root()))
    if (entry.path().string().find(".quillgate-new") != std::string::npos) return false;
  return true;
}

TEST(FileReplacement, ReplacesExistingAndCreatesMissingFiles) {
  testing::TempDir dir;
  std::string path = dir.Write("settings.ini", "old content that is longer");
  EXPECT_TRUE(ReplaceFileContent(path.c_str(), "new", 3));
  EXPECT_EQ(dir.Read("settings.ini"), "new");
  EXPECT_TRUE(ReplaceFileContent(dir.Path("fresh.txt").c_str(), "", 0));
  EXPECT_TRUE(dir.Exists("fresh.txt"));
  EXPECT_EQ(dir.Read("fresh.txt"), "");
  EXPECT_TRUE(NoTemporaryLeft(dir));
}

TEST(FileReplacement, ANewFileNeverTakesAnExistingOnesPlace) {
  testing::TempDir dir;
  std::string path = dir.Write("php.ini", "precious");
  FileReplacement replacement;
  ASSERT_TRUE(BeginReplacement(&replacement, path.c_str()));
  ASSERT_TRUE(WriteReplacement(&replacement, "two lines", 9));
  EXPECT_FALSE(CommitReplacement(&replacement, /*replaceExisting=*/false));
  EXPECT_EQ(dir.Read("php.ini"), "precious");
  EXPECT_TRUE(NoTemporaryLeft(dir));
}

TEST(FileReplacement, AFileHeldOpenElsewhereIsNotReplaced) {
  testing::TempDir dir;
  std::string path = dir.Write("held.txt", "old");
  Handle held = Sys().CreateFileA(path.c_str(), GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE,
                                  Creation::OpenExisting);
  ASSERT_NE(held, 0u);
  EXPECT_FALSE(ReplaceFileContent(path.c_str(), "new", 3));
  Sys().CloseHandle(held);
  EXPECT_EQ(dir.Read("held.txt"), "old");
  EXPECT_TRUE(NoTemporaryLeft(dir));
}

TEST(FileReplacement, AReadOnlyFileIsNotReplaced) {
  testing::TempDir dir;
  std::string locked = dir.Write("locked.txt", "old");
  fs::permissions(locked, fs::perms::owner_read);
  // Wine run as root lets a read-only file be written; Windows and our
  // POSIX layer do not.
  if (Handle probe = Sys().CreateFileA(locked.c_str(), GENERIC_WRITE_ACCESS, FILE_SHARE_READ_MODE,
                                       Creation::OpenExisting)) {
    Sys().CloseHandle(probe);
    GTEST_SKIP() << "this system ignores the read-only attribute";
  }
  EXPECT_FALSE(ReplaceFileContent(locked.c_str(), "new", 3));
  EXPECT_EQ(dir.Read("locked.txt"), "old");
  EXPECT_TRUE(NoTemporaryLeft(dir));
}

// Every call of the sequence failing in turn, and every write coming out
// short: the target holds the old bytes or the new ones, nothing else.
TEST(FileReplacement, AnyFailureKeepsTheOldBytes) {
  const std::string fresh(10000, 'n');
  for (auto fault : {FaultyPlatform::Fault::Fail, FaultyPlatform::Fault::ShortWrite}) {
    for (std::int64_t n = 1;; ++n) {
      testing::TempDir dir;
      std::string path = dir.Write("config.xml", "old bytes");
      FaultyPlatform faulty(NativePlatform());
      faulty.FailAt(n, fault,
                    fault == FaultyPlatform::Fault::ShortWrite ? FaultyPlatform::WriteCalls
                                                               : FaultyPlatform::AllKinds);
      Platform* before = SetPlatform(&faulty);
      bool ok = ReplaceFileContent(path.c_str(), fresh.data(), fresh.size());
      SetPlatform(before);
      std::string now = dir.Read("config.xml");
      EXPECT_EQ(now, ok ? fresh : "old bytes") << "fault at call " << n;
      EXPECT_TRUE(NoTemporaryLeft(dir)) << "fault at call " << n;
      if (!faulty.Fired()) break;  // past the last call: the sweep is complete
      EXPECT_FALSE(ok) << "fault at call " << n << " (" << faulty.FiredAt() << ") went unnoticed";
    }
  }
}

// A target that another program holds: the first `refusals` replacements
// fail with `error`; the pauses are counted, not slept.
class HeldTarget final : public testing::ForwardingPlatform {
 public:
  HeldTarget(int refusals, std::uint32_t error, bool readOnly)
      : ForwardingPlatform(NativePlatform()),
        refusals_(refusals),
        error_(error),
        readOnly_(readOnly) {}
  bool MoveFileReplace(const char* source, const char* target) override {
    ++tries;
    if (refusals_-- > 0) {
      inner_.SetLastError(error_);
      return false;
    }
    return inner_.MoveFileReplace(source, target);
  }
  std::uint32_t GetFileAttributesA(const char* path) override {
    std::uint32_t attributes = inner_.GetFileAttributesA(path);
    return readOnly_ && attributes != INVALID_FILE_ATTRIBUTES_VALUE
               ? attributes | FILE_ATTRIBUTE_READONLY_FLAG
               : attributes;
  }
  void Sleep(std::uint32_t milliseconds) override { slept += milliseconds; }
  int tries = 0;
  std::uint32_t slept = 0;

 private:
  int refusals_;
  std::uint32_t error_;
  bool readOnly_;
};

// Which refusals are waited out, and for how long at most.
TEST(FileReplacement, AHeldTargetIsTriedAgainForASecondAtMost) {
  struct Case {
    const char* name;
    int refusals;
    std::uint32_t error;
    bool readOnly;
    bool replaced;
    int tries;
    std::uint32_t slept;
  } cases[] = {
      {"sharing violation, twice", 2, ERROR_SHARING_VIOLATION_CODE, false, true, 3, 150},
      {"lock violation, once", 1, ERROR_LOCK_VIOLATION_CODE, false, true, 2, 50},
      {"access denied, not read-only", 4, ERROR_ACCESS_DENIED_CODE, false, true, 5, 650},
      {"held for good", 100, ERROR_SHARING_VIOLATION_CODE, false, false, 6, 1000},
      {"access denied, read-only", 100, ERROR_ACCESS_DENIED_CODE, true, false, 1, 0},
      {"disk full", 100, ERROR_DISK_FULL_CODE, false, false, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    std::string target = dir.Write("php.ini", "old");
    std::string source = dir.Write("php.ini.new", "new");
    HeldTarget held(c.refusals, c.error, c.readOnly);
    testing::PlatformScope scope(held);
    bool replaced = ReplaceHeldTarget(source.c_str(), target.c_str(), kHeldTargetPauses);
    std::uint32_t error = Sys().GetLastError();  // before other calls change it
    EXPECT_EQ(replaced, c.replaced);
    EXPECT_EQ(held.tries, c.tries);
    EXPECT_EQ(held.slept, c.slept);
    EXPECT_EQ(dir.Read("php.ini"), c.replaced ? "new" : "old");
    if (!c.replaced) {
      EXPECT_EQ(error, c.error);
    }
  }
}

// The whole replacement waits a held target out on Windows only; either
// way a failure leaves the old bytes and says why.
TEST(FileReplacement, CommitWaitsAHeldTargetOutOnWindowsOnly) {
  testing::TempDir dir;
  std::string target = dir.Write("config.xml", "old");
  HeldTarget held(1, ERROR_SHARING_VIOLATION_CODE, false);
  testing::PlatformScope scope(held);
  bool replaced = ReplaceFileContent(target.c_str(), "new", 3);
  std::uint32_t error = Sys().GetLastError();
  EXPECT_EQ(replaced, RetryHeldTargets());
  EXPECT_EQ(dir.Read("config.xml"), replaced ? "new" : "old");
  if (!replaced) {
    EXPECT_EQ(error, ERROR_SHARING_VIOLATION_CODE);
  }
  EXPECT_TRUE(NoTemporaryLeft(dir));
}
}  // namespace
}  // namespace qg
