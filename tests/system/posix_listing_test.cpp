// Folder listings of the POSIX platform on a real folder: every entry with
// its name whole (blanks, non-ASCII, bytes outside UTF-8) and whether it is a
// folder, "." and "..", and the errors Windows gives for what cannot be
// listed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "system/platform.h"
#include "system/posix/posix_platform.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

Platform& P() { return NativePlatform(); }

std::u16string Wide(const std::string& bytes) { return WideFromPathBytes(bytes); }

// Every entry of a listing by name, with its attributes; false when the
// listing did not start or ended with another error than the end.
bool ListAll(const std::string& pattern, std::map<std::u16string, std::uint32_t>* entries) {
  FindDataW data;
  std::u16string wide = Wide(pattern);
  Handle find = P().FindFirstFileW(wide.c_str(), &data);
  if (!find) return false;
  do {
    (*entries)[data.cFileName] = data.dwFileAttributes;
    EXPECT_EQ(data.cAlternateFileName[0], u'\0') << "POSIX keeps no short names";
  } while (P().FindNextFileW(find, &data));
  bool whole = P().GetLastError() == ERROR_NO_MORE_FILES_CODE;
  EXPECT_TRUE(P().FindClose(find));
  return whole;
}

bool IsFolder(std::uint32_t attributes) { return attributes & FILE_ATTRIBUTE_DIRECTORY_FLAG; }

TEST(PosixListing, EveryEntryWithItsWholeNameAndKind) {
  TempDir dir;
  const std::string cyrillic = "PHP-8.2 \xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82";
  const std::string latin1 = "caf\xE9";  // not UTF-8: kept as an escaped byte
  for (const std::string& folder : {std::string("PHP-5.6-5.7"), std::string("PHP 7.4 (1)"),
                                    cyrillic, latin1, std::string(".hidden")})
    fs::create_directory(dir.Path(folder));
  dir.Write("php.ini", "x");
  dir.Write("read only.txt", "x");
  ::chmod(dir.Path("read only.txt").c_str(), 0444);
  fs::create_directory_symlink(dir.Path("PHP-5.6-5.7"), dir.Path("link to folder"));
  fs::create_symlink(dir.Path("gone"), dir.Path("dangling"));

  std::map<std::u16string, std::uint32_t> entries;
  ASSERT_TRUE(ListAll(dir.Path("*"), &entries));
  struct Expected {
    std::string name;
    bool folder;
  } expected[] = {{".", true},
                  {"..", true},
                  {"PHP-5.6-5.7", true},
                  {"PHP 7.4 (1)", true},
                  {cyrillic, true},
                  {latin1, true},
                  {".hidden", true},
                  {"php.ini", false},
                  {"read only.txt", false},
                  {"link to folder", true},
                  {"dangling", false}};
  EXPECT_EQ(entries.size(), std::size(expected));
  for (const Expected& e : expected) {
    auto at = entries.find(Wide(e.name));
    ASSERT_NE(at, entries.end()) << e.name;
    EXPECT_EQ(IsFolder(at->second), e.folder) << e.name;
  }
  EXPECT_EQ(entries[u"read only.txt"], FILE_ATTRIBUTE_READONLY_FLAG);
  EXPECT_EQ(entries[u"php.ini"], 0x80u);  // FILE_ATTRIBUTE_NORMAL
  EXPECT_EQ(entries[u"caf\xDCE9"], FILE_ATTRIBUTE_DIRECTORY_FLAG);
}

TEST(PosixListing, RelativeToTheCurrentDirectory) {
  TempDir dir;
  fs::create_directories(dir.Path("server/modules/php/PHP-7.4"));
  fs::path before = fs::current_path();
  fs::current_path(dir.Root());
  std::map<std::u16string, std::uint32_t> entries;
  bool listed = ListAll("server/modules/php/*", &entries);
  std::map<std::u16string, std::uint32_t> here;
  bool listedHere = ListAll("*", &here);
  fs::current_path(before);
  ASSERT_TRUE(listed);
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_TRUE(IsFolder(entries[u"PHP-7.4"]));
  ASSERT_TRUE(listedHere);
  EXPECT_EQ(here.count(u"server"), 1u);
}

TEST(PosixListing, APlainNameIsItsOneEntry) {
  TempDir dir;
  dir.Write("PHP-8.2/php.ini", "x");
  FindDataW data;
  std::u16string pattern = Wide(dir.Path("PHP-8.2/php.ini"));
  Handle find = P().FindFirstFileW(pattern.c_str(), &data);
  ASSERT_NE(find, 0u);
  EXPECT_EQ(std::u16string(data.cFileName), u"php.ini");
  EXPECT_FALSE(IsFolder(data.dwFileAttributes));
  EXPECT_FALSE(P().FindNextFileW(find, &data));
  EXPECT_EQ(P().GetLastError(), ERROR_NO_MORE_FILES_CODE);
  EXPECT_TRUE(P().FindClose(find));
}

TEST(PosixListing, WhatCannotBeListedSaysWhyAsWindowsDoes) {
  TempDir dir;
  dir.Write("file.txt", "x");
  fs::create_directory(dir.Path("folder"));
  struct Case {
    const char* name;
    std::string pattern;
    std::uint32_t error;
  } cases[] = {
      {"a missing folder", dir.Path("missing/*"), ERROR_PATH_NOT_FOUND_CODE},
      {"below a missing folder", dir.Path("missing/deeper/*"), ERROR_PATH_NOT_FOUND_CODE},
      {"a file listed as a folder", dir.Path("file.txt/*"), ERROR_DIRECTORY_CODE},
      {"a missing name", dir.Path("folder/none.ini"), ERROR_FILE_NOT_FOUND_CODE},
      {"a name in a missing folder", dir.Path("missing/php.ini"), ERROR_PATH_NOT_FOUND_CODE},
      {"a folder with its separator", dir.Path("folder/"), ERROR_FILE_NOT_FOUND_CODE},
      {"a wildcard this body does not take", dir.Path("folder/*.ini"),
       ERROR_INVALID_PARAMETER_CODE},
  };
  for (const Case& c : cases) {
    P().SetLastError(NO_ERROR_CODE);
    FindDataW data;
    std::u16string pattern = Wide(c.pattern);
    EXPECT_EQ(P().FindFirstFileW(pattern.c_str(), &data), 0u) << c.name;
    EXPECT_EQ(P().GetLastError(), c.error) << c.name;
  }
  FindDataW data;
  EXPECT_EQ(P().FindFirstFileW(nullptr, &data), 0u);
  EXPECT_EQ(P().GetLastError(), ERROR_INVALID_PARAMETER_CODE);
  // A lone surrogate that is no escaped byte is the wide form of no path.
  EXPECT_EQ(P().FindFirstFileW(u"\xD800/*", &data), 0u);
  EXPECT_EQ(P().GetLastError(), ERROR_INVALID_PARAMETER_CODE);
}

TEST(PosixListing, HandlesOfOtherKindsAndClosedListingsAreRefused) {
  TempDir dir;
  std::string path = dir.Write("php.ini", "x");
  Handle file = P().CreateFileA(path.c_str(), GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE,
                                Creation::OpenExisting);
  ASSERT_NE(file, 0u);
  FindDataW data;
  EXPECT_FALSE(P().FindNextFileW(file, &data));
  EXPECT_EQ(P().GetLastError(), ERROR_INVALID_HANDLE_CODE);
  EXPECT_FALSE(P().FindClose(file));
  EXPECT_TRUE(P().CloseHandle(file));

  std::u16string pattern = Wide(dir.Path("*"));
  Handle find = P().FindFirstFileW(pattern.c_str(), &data);
  ASSERT_NE(find, 0u);
  EXPECT_TRUE(P().FindClose(find));
  EXPECT_FALSE(P().FindNextFileW(find, &data));
  EXPECT_EQ(P().GetLastError(), ERROR_INVALID_HANDLE_CODE);
  EXPECT_FALSE(P().FindClose(find));
}

}  // namespace
}  // namespace qg
