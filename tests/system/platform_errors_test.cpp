// Why a file operation failed, as the native platform reports it: the POSIX
// bodies must give the codes Windows gives in the same situations, since the
// launcher decides on them (a missing config.xml, a held target) and records
// their texts.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "system/platform.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

TEST(PlatformErrors, FailingFileCallsSayWhyAsWindowsDoes) {
  testing::TempDir dir;
  std::string file = dir.Write("file.txt", "x");
  std::string missing = dir.Path("missing.txt");
  std::string inMissingFolder = dir.Path("no-folder/file.txt");
  std::filesystem::create_directory(dir.Path("folder"));
  const std::uint32_t readWrite = GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS;
  Platform& sys = NativePlatform();
  struct Case {
    const char* name;
    std::function<bool()> call;  // true when the call failed
    std::uint32_t error;
  } cases[] = {
      {"open a missing file",
       [&] {
         return !sys.CreateFileA(missing.c_str(), GENERIC_READ_ACCESS, 0, Creation::OpenExisting);
       },
       ERROR_FILE_NOT_FOUND_CODE},
      {"open in a missing folder",
       [&] {
         return !sys.CreateFileA(inMissingFolder.c_str(), GENERIC_READ_ACCESS, 0,
                                 Creation::OpenExisting);
       },
       ERROR_PATH_NOT_FOUND_CODE},
      {"create in a missing folder",
       [&] {
         return !sys.CreateFileA(inMissingFolder.c_str(), readWrite, 0, Creation::CreateAlways);
       },
       ERROR_PATH_NOT_FOUND_CODE},
      {"open a folder as a file",
       [&] {
         return !sys.CreateFileA(dir.Path("folder").c_str(), readWrite, 0, Creation::OpenExisting);
       },
       ERROR_ACCESS_DENIED_CODE},
      {"open a file another open does not share",
       [&] {
         Handle held = sys.CreateFileA(file.c_str(), readWrite, 0, Creation::OpenExisting);
         bool failed =
             !sys.CreateFileA(file.c_str(), GENERIC_READ_ACCESS,
                              FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE, Creation::OpenExisting);
         std::uint32_t error = sys.GetLastError();
         sys.CloseHandle(held);
         sys.SetLastError(error);
         return held && failed;
       },
       ERROR_SHARING_VIOLATION_CODE},
      {"rename onto an existing file",
       [&] {
         std::string other = dir.Write("other.txt", "y");
         return !sys.MoveFileA(other.c_str(), file.c_str());
       },
       ERROR_ALREADY_EXISTS_CODE},
      {"delete a missing file", [&] { return !sys.DeleteFileA(missing.c_str()); },
       ERROR_FILE_NOT_FOUND_CODE},
      {"attributes of a missing file",
       [&] { return sys.GetFileAttributesA(missing.c_str()) == INVALID_FILE_ATTRIBUTES_VALUE; },
       ERROR_FILE_NOT_FOUND_CODE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sys.SetLastError(NO_ERROR_CODE);
    ASSERT_TRUE(c.call());
    std::uint32_t error = sys.GetLastError();
    EXPECT_EQ(error, c.error);
    char text[512];
    std::uint32_t length = sys.FormatMessageA(error, text, sizeof text);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strlen(text), length);
    EXPECT_NE(text[length - 1], '\n');
  }
  EXPECT_TRUE(sys.GetFileAttributesA(dir.Path("folder").c_str()) & FILE_ATTRIBUTE_DIRECTORY_FLAG);
  EXPECT_FALSE(sys.GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY_FLAG);
  SystemTime now;
  sys.GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2024);
  EXPECT_TRUE(now.wMonth >= 1 && now.wMonth <= 12 && now.wDay >= 1 && now.wDay <= 31);
}

}  // namespace
}  // namespace qg
