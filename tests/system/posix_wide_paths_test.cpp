// The wide paths of the POSIX platform: the UTF-8 decoding of a path's bytes,
// with bytes outside UTF-8 kept as escapes, so that every path has a wide
// form and that form names the same file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "system/platform.h"
#include "system/posix/posix_platform.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_names.h"

namespace qg {
namespace {

using testing::TempDir;

struct BytesCase {
  const char* name;
  std::string bytes;
  std::u16string wide;
};

class PathBytesTest : public ::testing::TestWithParam<BytesCase> {};

TEST_P(PathBytesTest, WideFormAndBackGiveTheSameBytes) {
  const BytesCase& c = GetParam();
  std::u16string wide = WideFromPathBytes(c.bytes);
  EXPECT_EQ(wide, c.wide);
  int count =
      Sys().WideCharToMultiByteExact(wide.data(), static_cast<int>(wide.size()), nullptr, 0);
  ASSERT_EQ(count, static_cast<int>(c.bytes.size()));
  std::string back(c.bytes.size(), '\0');
  if (count > 0) {
    EXPECT_EQ(Sys().WideCharToMultiByteExact(wide.data(), static_cast<int>(wide.size()),
                                             back.data(), count),
              count);
  }
  EXPECT_EQ(back, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathBytesTest,
    ::testing::Values(BytesCase{"ascii", "/srv/web bundle", u"/srv/web bundle"},
                      BytesCase{"cyrillic", "/x/\xD0\x9F\xD1\x80\xD0\xBE",
                                u"/x/\u041F\u0440\u043E"},
                      BytesCase{"polish best fit bait",
                                "\xC5\x81\xC3\xB3"
                                "d\xC5\xBA",
                                u"\u0141\u00F3d\u017A"},
                      BytesCase{"emoji as a surrogate pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
                      BytesCase{"latin1 byte", "caf\xE9", u"caf\xDCE9"},
                      BytesCase{"overlong slash", "\xC0\xAF", u"\xDCC0\xDCAF"},
                      BytesCase{"encoded surrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
                      BytesCase{"sequence cut by the end", "a\xE2\x82", u"a\xDCE2\xDC82"},
                      BytesCase{"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
                      BytesCase{"stray FF", "\xFF", u"\xDCFF"}),
    [](const auto& info) { return testing::NameFromText(info.param.name); });

// Texts that are the wide form of no bytes: nothing may stand in for them.
TEST(PosixWidePaths, TextsNoPathHasAreRefused) {
  const std::u16string cases[] = {
      u"lone high \xD800 surrogate",
      u"escape of ASCII \xDC41",
      u"escapes that would join into \xDCC3\xDCA9",
  };
  for (const std::u16string& wide : cases) {
    Sys().SetLastError(NO_ERROR_CODE);
    char out[64];
    EXPECT_EQ(Sys().WideCharToMultiByteExact(wide.c_str(), -1, out, sizeof out), 0);
    EXPECT_EQ(Sys().GetLastError(), ERROR_NO_UNICODE_TRANSLATION_CODE);
  }
  EXPECT_EQ(Sys().GetACP(), 65001u);
}

// The current directory, and the short and long forms of a path, in a
// folder whose name holds Cyrillic letters and a byte outside UTF-8.
TEST(PosixWidePaths, CurrentDirectoryAndShortAndLongForms) {
  TempDir dir;
  std::string folder =
      std::filesystem::canonical(dir.Root()).string() + "/\xD0\x9F\xD1\x80\xD0\xBE-caf\xE9";
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  std::string before = std::filesystem::current_path().string();
  ASSERT_EQ(::chdir(folder.c_str()), 0);
  std::u16string expected = WideFromPathBytes(folder);
  std::uint32_t needed = Sys().GetCurrentDirectoryW(0, nullptr);
  std::u16string wide(needed, u'\0');
  std::uint32_t length = Sys().GetCurrentDirectoryW(needed, wide.data());
  char16_t tiny[4];
  std::uint32_t tooSmall = Sys().GetCurrentDirectoryW(4, tiny);
  ASSERT_EQ(::chdir(before.c_str()), 0);
  EXPECT_EQ(needed, expected.size() + 1);
  EXPECT_EQ(length, expected.size());
  wide.resize(length);
  EXPECT_EQ(wide, expected);
  EXPECT_EQ(tooSmall, needed);

  for (auto form : {&Platform::GetShortPathNameW, &Platform::GetLongPathNameW}) {
    char16_t buffer[1024];
    EXPECT_EQ((Sys().*form)(expected.c_str(), buffer, 1024), expected.size());
    EXPECT_EQ(std::u16string(buffer), expected);
    EXPECT_EQ((Sys().*form)(expected.c_str(), buffer, 3), expected.size() + 1);
    std::u16string missing = expected + u"/none";
    EXPECT_EQ((Sys().*form)(missing.c_str(), buffer, 1024), 0u);
    EXPECT_EQ(Sys().GetLastError(), ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_EQ((Sys().*form)(u"/\xD800", buffer, 1024), 0u);  // the wide form of nothing
  }
}

}  // namespace
}  // namespace qg
