// Round trips of the php.ini files a PHP installation ships, checked by PHP
// itself when it is installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "prefs/ini_file.h"
#include "tests/prefs/ini_test_util.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;

// The first "<name>" in a version folder of the system's PHP library folder.
fs::path FindShippedIni(const std::string& name) {
  std::error_code error;
  std::vector<fs::path> found;
  for (const auto& version : fs::directory_iterator("/usr/lib/php", error)) {
    fs::path candidate = version.path() / name;
    if (fs::is_regular_file(candidate, error)) found.push_back(candidate);
  }
  std::sort(found.begin(), found.end());
  return found.empty() ? fs::path() : found.back();
}

bool PhpOnPath() {
#ifdef _WIN32
  return false;
#else
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string dirs = path;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    fs::path candidate = fs::path(dirs.substr(start, end - start)) / "php";
    std::error_code error;
    if (end > start && fs::is_regular_file(candidate, error)) return true;
    start = end + 1;
  }
  return false;
#endif
}

// Runs a shell command and returns its standard output and error together.
std::string RunCommand(const std::string& command) {
#ifdef _WIN32
  (void)command;
  return "no shell here";
#else
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return "popen failed";
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  return output;
#endif
}

std::vector<std::string> LoadedEntries(const std::string& path) {
  EXPECT_NE(OpenIniFile(path.c_str(), 0), 0);
  std::vector<std::string> entries = testing::EntryTexts();
  CloseIniFile();
  return entries;
}

class ShippedIniTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedIniTest, AutoPrependFileSetAndReadBackByPhp) {
  fs::path shipped = FindShippedIni(GetParam());
  if (shipped.empty()) GTEST_SKIP() << GetParam() << " is not installed";
  testing::TempDir dir;
  std::string original = testing::ReadWholeFile(shipped.string());
  ASSERT_FALSE(original.empty());
  std::string path = dir.Write("php.ini", original);
  std::string header = dir.Write("bundle/header.php", "<?php\n");

  std::vector<std::string> before = LoadedEntries(path);
  ASSERT_GT(before.size(), 100u);

  ASSERT_NE(OpenIniFile(path.c_str(), 0), 0);
  ASSERT_EQ(SelectIniGroup("PHP"), 1);
  std::string value = "\"" + header + "\"";
  ASSERT_STREQ(WriteIniString("auto_prepend_file", value.c_str()), value.c_str());
  CloseIniFile();

  // Every entry survives in order; only the one value changed.
  std::vector<std::string> after = LoadedEntries(path);
  ASSERT_EQ(after.size(), before.size());
  int changed = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    ++changed;
    EXPECT_EQ(before[i].rfind("auto_prepend_file|", 0), 0u) << before[i];
    EXPECT_EQ(after[i], "auto_prepend_file|" + value);
  }
  EXPECT_EQ(changed, 1);
  std::string rewritten = testing::ReadWholeFile(path);
  EXPECT_NE(rewritten.find("\r\nauto_prepend_file = " + value + "\r\n"), std::string::npos);

  if (!PhpOnPath()) GTEST_SKIP() << "no php on PATH to read the file back";
  std::string output =
      RunCommand("php -n -c '" + path + "' -r 'echo ini_get(\"auto_prepend_file\");'");
  EXPECT_EQ(output.find("Warning"), std::string::npos) << output;
  EXPECT_EQ(output, header);
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedIniTest,
                         ::testing::Values("php.ini-development", "php.ini-production"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == '.' || c == '-') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace qg
