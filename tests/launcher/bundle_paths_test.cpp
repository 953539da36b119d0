#include <gtest/gtest.h>

#include "launcher/bundle_paths.h"
#include "launcher/bundle_root.h"
#include "system/paths.h"
#include "tests/support/simulated_platform.h"

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

namespace qg {
namespace {

// The comparison form of a wide path gives the path back, lone surrogates
// too; the record's form never has "?" for a character the code page lacks.
TEST(PathKeyTest, ComparisonFormRoundTripsAndRecordFormUsesReferences) {
  const std::u16string paths[] = {
      u"C:\\web\\",           u"E:\\\u041F\u0440\u043E\\",
      u"E:\\\U0001F600\\",    u"E:\\lone \xD800 high",
      u"E:\\lone \xDCE9 low",
  };
  for (const std::u16string& path : paths) {
    EXPECT_EQ(PathKey(path).Wide(), path);
    EXPECT_EQ(PathKey::FromText(PathKey(path).Text()).Text(), PathKey(path).Text());
  }
  EXPECT_EQ(PathKey(u"C:\\web\\").Text(), "C:\\web\\");

  testing::SimulatedPlatform sim;
  testing::PlatformScope scope(sim);
  sim.LimitCodePageToAscii(true);
  EXPECT_EQ(RecordTextOf(u"C:\\web & co\\"), "C:\\web & co\\");  // held: as it is
  EXPECT_EQ(RecordTextOf(u"E:\\\u041F\u0440 & \U0001F600\\"),
            "E:\\&#x041F;&#x0440; &#x0026; &#x1F600;\\");
}

// Two keys name the same place, or one lies inside the other, by the
// platform's rule: ASCII letters in any case where file names ignore case,
// exactly elsewhere; never by folding a letter beyond ASCII, and never by a
// mere shared beginning of a name.
TEST(PathKeyTest, SameAndInsideFollowThePlatformsCaseRule) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    bool sameIgnoringCase, sameExactly;
    bool insideIgnoringCase, insideExactly;  // b inside a
  };
  const Case cases[] = {
      {u"C:\\web\\", u"C:\\web\\", true, true, false, false},
      {u"C:\\web\\", u"c:\\WEB\\", true, false, false, false},
      {u"C:\\web\\", u"C:\\web\\php.exe", false, false, true, true},
      {u"C:\\web\\", u"C:\\Web\\server\\php.exe", false, false, true, false},
      {u"C:\\web\\", u"C:\\web2\\php.exe", false, false, false, false},
      {u"C:\\web\\", u"C:\\we", false, false, false, false},
      {u"\\\\NAS\\share\\", u"\\\\nas\\SHARE\\bundle\\php.exe", false, false, true, false},
      // Cyrillic letters differ only in case: different folders to the key.
      {u"C:\\П\\", u"C:\\п\\php.exe", false, false, false, false},
      {u"C:\\П\\", u"c:\\П\\php.exe", false, false, true, false},
      {u"E:\\😀\\", u"E:\\😀\\x", false, false, true, true},
      {u"", u"C:\\web\\php.exe", false, false, false, false},  // no root holds nothing
  };
  for (bool ignoreCase : {true, false}) {
    testing::SimulatedPlatform sim;
    testing::PlatformScope scope(sim);
    sim.SetFileNamesIgnoreCase(ignoreCase);
    for (const Case& c : cases) {
      const PathKey a(c.a), b(c.b);
      SCOPED_TRACE(a.Text() + " | " + b.Text() + (ignoreCase ? " ignoring case" : " exactly"));
      EXPECT_EQ(PathKey::Same(a, b), ignoreCase ? c.sameIgnoringCase : c.sameExactly);
      EXPECT_EQ(PathKey::Same(b, a), PathKey::Same(a, b));
      EXPECT_EQ(PathKey::Inside(a, b), ignoreCase ? c.insideIgnoringCase : c.insideExactly);
    }
  }
}

}  // namespace
}  // namespace qg
