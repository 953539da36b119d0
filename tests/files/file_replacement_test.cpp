#include "files/file_replacement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/faulty_platform.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/platform_scope.h"
#include "tests/support/read_only_platform.h"
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

// Replaces `path` with `content` the way the savers do: all at once from
// memory (`piece` 0), or streamed in pieces of `piece` bytes.
bool Replace(const std::string& path, const std::string& content, std::size_t piece) {
  if (piece == 0) return ReplaceFileContent(path.c_str(), content.data(), content.size());
  FileReplacement replacement;
  if (!BeginReplacement(&replacement, path.c_str())) return false;
  for (std::size_t at = 0; at < content.size(); at += piece) {
    auto size = static_cast<std::uint32_t>(std::min(piece, content.size() - at));
    if (!WriteReplacement(&replacement, content.data() + at, size)) {
      AbandonReplacement(&replacement);
      return false;
    }
  }
  return CommitReplacement(&replacement);
}

// Counts the target's reads.
class CountingReads final : public testing::ForwardingPlatform {
 public:
  CountingReads() : ForwardingPlatform(NativePlatform()) {}
  bool ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) override {
    ++reads;
    bytes += count;
    return inner_.ReadFile(file, buffer, count, read);
  }
  int reads = 0;
  std::uint64_t bytes = 0;
};

// A text of `size` bytes that never repeats within a piece of 4096.
std::string Text(std::size_t size, char salt = 'a') {
  std::string text(size, ' ');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(salt + (i * 7 + i / 26) % 26);
  return text;
}

// Content equal to the target's counts as written, and nothing is written:
// also where nothing could be.
TEST(FileReplacement, ContentTheTargetHoldsIsNotWritten) {
  const std::string big = Text(3 * 4096 + 17);
  struct Case {
    const char* name;
    std::string content;
    std::size_t piece;
  } cases[] = {
      {"from memory", "[PHP]\r\nengine = On\r\n", 0},
      {"empty", "", 0},
      {"streamed in pieces of 4096", big, 4096},
      {"streamed in odd pieces", big, 1000},
      {"from memory, several pieces of the comparison", big, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    std::string path = dir.Write("config.xml", c.content);
    auto written = fs::last_write_time(path);
    testing::ReadOnlyPlatform media(NativePlatform());
    testing::PlatformScope scope(media);
    EXPECT_TRUE(Replace(path, c.content, c.piece));
    EXPECT_EQ(media.Writes(), 0);
    EXPECT_TRUE(media.Refused().empty()) << media.Refused().front();
    EXPECT_EQ(dir.Read("config.xml"), c.content);
    EXPECT_EQ(fs::last_write_time(path), written);
  }
  // Created anew only when it is not there: an existing file with the same
  // bytes counts as done.
  testing::TempDir dir;
  std::string path = dir.Write("php.ini", "same");
  FileReplacement replacement;
  ASSERT_TRUE(BeginReplacement(&replacement, path.c_str()));
  ASSERT_TRUE(WriteReplacement(&replacement, "same", 4));
  EXPECT_TRUE(CommitReplacement(&replacement, /*replaceExisting=*/false));
  EXPECT_TRUE(NoTemporaryLeft(dir));
}

// Wherever the new content first differs, the target ends up with exactly
// the new bytes: the part that matched is copied from the target.
TEST(FileReplacement, ContentThatDiffersAnywhereIsWrittenWhole) {
  const std::string old = Text(3 * 4096 + 17);
  auto changedAt = [&](std::size_t at) {
    std::string text = old;
    text[at] = '#';
    return text;
  };
  struct Case {
    const char* name;
    std::string content;
  } cases[] = {
      {"first byte", changedAt(0)},
      {"in the second piece", changedAt(4096 + 5)},
      {"last byte", changedAt(old.size() - 1)},
      {"shorter, the old start", old.substr(0, 5000)},
      {"longer, the old bytes first", old + "more"},
      {"empty", ""},
  };
  for (std::size_t piece : {std::size_t{0}, std::size_t{4096}, std::size_t{999}}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      testing::TempDir dir;
      std::string path = dir.Write("session.xml", old);
      EXPECT_TRUE(Replace(path, c.content, piece));
      EXPECT_EQ(dir.Read("session.xml"), c.content);
      EXPECT_TRUE(NoTemporaryLeft(dir));
    }
  }
}

// Content of a known size other than the target's is not compared: the
// target is not read at all. Streamed content reads no further than it
// matches.
TEST(FileReplacement, TheTargetIsReadOnlyAsFarAsTheContentMatches) {
  const std::string old = Text(64 * 4096);
  testing::TempDir dir;
  std::string path = dir.Write("big.ini", old);
  {
    CountingReads counting;
    testing::PlatformScope scope(counting);
    EXPECT_TRUE(Replace(path, old + "x", 0));
    EXPECT_EQ(counting.reads, 0);
  }
  dir.Write("big.ini", old);
  {
    CountingReads counting;
    testing::PlatformScope scope(counting);
    std::string early = old;
    early[10] = '#';
    EXPECT_TRUE(Replace(path, early, 4096));
    EXPECT_EQ(counting.reads, 1);  // the first piece differs; nothing matched, nothing copied
    EXPECT_EQ(dir.Read("big.ini"), early);
  }
}

// A target that cannot be written: content it holds is done, any other
// content fails with the medium's reason and leaves it as it was.
TEST(FileReplacement, OnAReadOnlyMediumOnlyUnchangedContentSucceeds) {
  for (std::size_t piece : {std::size_t{0}, std::size_t{100}}) {
    SCOPED_TRACE(piece);
    testing::TempDir dir;
    std::string path = dir.Write("state.txt", "D:\\web\\");
    testing::ReadOnlyPlatform media(NativePlatform());
    testing::PlatformScope scope(media);
    EXPECT_TRUE(Replace(path, "D:\\web\\", piece));
    Sys().SetLastError(NO_ERROR_CODE);
    EXPECT_FALSE(Replace(path, "E:\\web\\", piece));
    EXPECT_EQ(Sys().GetLastError(), ERROR_WRITE_PROTECT_CODE);
    EXPECT_FALSE(Replace(dir.Path("missing.txt"), "", piece));
    EXPECT_EQ(media.Writes(), 0);
    EXPECT_EQ(dir.Read("state.txt"), "D:\\web\\");
    EXPECT_FALSE(dir.Exists("missing.txt"));
  }
}

TEST(FileReplacement, FileHoldsContentComparesSizeAndBytes) {
  testing::TempDir dir;
  std::string path = dir.Write("php.ini", "abc");
  EXPECT_TRUE(FileHoldsContent(path.c_str(), "abc", 3));
  EXPECT_FALSE(FileHoldsContent(path.c_str(), "abd", 3));
  EXPECT_FALSE(FileHoldsContent(path.c_str(), "ab", 2));
  EXPECT_FALSE(FileHoldsContent(path.c_str(), "abcd", 4));
  EXPECT_FALSE(FileHoldsContent(dir.Path("missing").c_str(), "", 0));
  dir.Write("empty", "");
  EXPECT_TRUE(FileHoldsContent(dir.Path("empty").c_str(), "", 0));
}

// The comparison and the copy of the matched part under every fault: the
// target keeps its old bytes or gets all of the new ones.
TEST(FileReplacement, AnyFailureWhileComparingKeepsTheOldBytes) {
  const std::string old = Text(3 * 4096);
  std::string fresh = old;
  fresh[2 * 4096 + 1] = '#';  // two pieces match and are copied
  for (auto fault : {FaultyPlatform::Fault::Fail, FaultyPlatform::Fault::ShortWrite}) {
    int failed = 0;
    for (std::int64_t n = 1;; ++n) {
      testing::TempDir dir;
      std::string path = dir.Write("config.xml", old);
      FaultyPlatform faulty(NativePlatform());
      faulty.FailAt(n, fault,
                    fault == FaultyPlatform::Fault::ShortWrite ? FaultyPlatform::WriteCalls
                                                               : FaultyPlatform::AllKinds);
      bool ok;
      {
        testing::PlatformScope scope(faulty);
        ok = Replace(path, fresh, 4096);
      }
      EXPECT_EQ(dir.Read("config.xml"), ok ? fresh : old) << "fault at call " << n;
      EXPECT_TRUE(NoTemporaryLeft(dir)) << "fault at call " << n;
      if (!faulty.Fired()) break;
      EXPECT_FALSE(ok) << "fault at call " << n << " (" << faulty.FiredAt() << ") went unnoticed";
      failed += !ok;
      ASSERT_LT(n, 200);
    }
    EXPECT_GT(failed, fault == FaultyPlatform::Fault::ShortWrite ? 2 : 8);
  }
}

}  // namespace
}  // namespace qg
