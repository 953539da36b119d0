#include "files/file_replacement.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/faulty_platform.h"
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

}  // namespace
}  // namespace qg
