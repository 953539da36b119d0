#include <gtest/gtest.h>

#include "launcher/bundle_paths.h"
#include "system/paths.h"

namespace qg {
namespace {

std::string P(std::string text) {
  for (char& c : text)
    if (c == '|') c = kPathSeparator;
  return text;
}

TEST(BundlePaths, ComposedFromTheRootWithOneSeparatorEach) {
  struct Case {
    std::string root, rootDir;
  } cases[] = {
      {P("|web|bundle"), P("|web|bundle|")},
      {P("|web|bundle|"), P("|web|bundle|")},  // already ends with the separator
      {P("|"), P("|")},                        // a drive root gets no second one
      {P("D:|"), P("D:|")},
  };
  for (const auto& c : cases) {
    BundlePaths paths = BundlePathsFor(c.root);
    EXPECT_EQ(paths.rootDir, c.rootDir);
    EXPECT_EQ(paths.phpDir, c.rootDir + P("server|modules|php|PHP-5.6-5.7|"));
    EXPECT_EQ(paths.editorDir, c.rootDir + P("server|notepad|"));
    EXPECT_EQ(paths.domainsDir, c.rootDir + P("server|domains|"));
    EXPECT_EQ(paths.phpDir.find(P("||")), std::string::npos) << c.root;
  }
}

TEST(BundlePaths, NoRootGivesRelativePaths) {
  BundlePaths paths = BundlePathsFor("");
  EXPECT_TRUE(paths.rootDir.empty());
  EXPECT_EQ(paths.editorDir, P("server|notepad|"));  // the editor is still found
  EXPECT_EQ(paths.phpDir, P("server|modules|php|PHP-5.6-5.7|"));
}

}  // namespace
}  // namespace qg
