// The launcher run for real in bundles whose folder names go beyond ASCII,
// with the project's configuration and with real ones: the saved config.xml, read back by a
// reader that honours its declaration, names the bundle's site folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/launcher/bundle_fixture.h"
#include "tests/support/corpus.h"
#include "tests/support/fixtures.h"
#include "tests/support/xml_reader.h"
#include "xml/attribute_markup.h"

namespace qg {
namespace {

using testing::BundleFixture;
using testing::CompareXmlTrees;
using testing::CorpusDir;
using testing::HavePythonXml;
using testing::ReadXmlAttribute;

TEST(FolderEncoding, TheSavedFolderReadsBackAsTheBundlesSiteFolder) {
  if (!HavePythonXml()) GTEST_SKIP() << "python3 is not installed";
  // The project's configuration, under its own label and under UTF-8.
  const std::string windows1252 = BundleFixture("config.xml", "/old/place/");
  std::string utf8 = windows1252;
  utf8.replace(utf8.find("Windows-1252"), 12, "UTF-8");
  struct Case {
    const char* folder;
    const std::string& config;
  } cases[] = {
      {"\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B", windows1252},  // Проекты
      {"caf\xC3\xA9 & J\xC3\xB6rg's", utf8},
      {"smile \xF0\x9F\x98\x80", utf8},
      {"plain", windows1252},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    Bundle bundle(c.folder);
    const std::string& original = c.config;
    WriteWholeFile(bundle.Config(), original);
    ASSERT_TRUE(bundle.Run());
    EXPECT_EQ(ReadXmlAttribute(bundle.Config(), "./FileBrowser/root", "foldername"),
              bundle.Root() + "server/domains/mysite.local");
    // Nothing else changed for the reader (the folder, read above, put in
    // in a form that reads the same under any label).
    std::string folder = "foldername=\"";
    std::size_t at = original.find(folder, original.find("<FileBrowser")) + folder.size();
    std::string expected = original;
    expected.replace(
        at, original.find('"', at) - at,
        AttributeMarkupFromNarrow((bundle.Root() + "server/domains/mysite.local").c_str()));
    std::string expectedPath = bundle.EditorDir() + "expected.xml";
    WriteWholeFile(expectedPath, expected);
    EXPECT_EQ(CompareXmlTrees(expectedPath, bundle.Config()), "same");
  }
}

// Every real configuration, in a bundle moved to a folder beyond ASCII:
// history, find folders, theme and everything else read back as before,
// and the root folder is the new one (a file without it is left alone).
TEST(FolderEncoding, EveryRealConfigurationKeepsEverythingElse) {
  if (!HavePythonXml()) GTEST_SKIP() << "python3 is not installed";
  QG_SKIP_WITHOUT_CORPUS();
  std::vector<fs::path> configs;
  for (const char* folder : {"npp", "npp-more"}) {
    fs::path corpus = CorpusDir() / folder;
    ASSERT_TRUE(fs::is_directory(corpus)) << "the corpus lacks " << corpus;
    for (const auto& entry : fs::directory_iterator(corpus)) configs.push_back(entry.path());
  }
  std::sort(configs.begin(), configs.end());
  int withRoot = 0;
  for (const fs::path& config : configs) {
    SCOPED_TRACE(config.string());
    Bundle bundle("\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B \xE6\x96\x87");
    std::string original = ReadWholeFile(config.string());
    WriteWholeFile(bundle.Config(), original);
    ASSERT_TRUE(bundle.Run());
    std::string expected = original;
    std::size_t browser = original.find("<FileBrowser");
    std::string folder = "foldername=\"";
    std::size_t at = browser == std::string::npos ? browser : original.find(folder, browser);
    if (at == std::string::npos) {
      EXPECT_EQ(ReadWholeFile(bundle.Config()), original);
      continue;
    }
    ++withRoot;
    at += folder.size();
    std::string site = bundle.Root() + "server/domains/mysite.local";
    expected.replace(at, original.find('"', at) - at, AttributeMarkupFromNarrow(site.c_str()));
    std::string expectedPath = bundle.EditorDir() + "expected.xml";
    WriteWholeFile(expectedPath, expected);
    EXPECT_EQ(CompareXmlTrees(expectedPath, bundle.Config()), "same");
    EXPECT_EQ(ReadXmlAttribute(bundle.Config(), "./FileBrowser/root", "foldername"), site);
  }
  EXPECT_GE(withRoot, 2);
}

// A folder whose bytes are not UTF-8 is written byte for byte, as before.
TEST(FolderEncoding, AFolderThatIsNotUtf8KeepsItsBytes) {
  Bundle bundle("\xCF\xF0\xEE\xE5\xEA\xF2\xFB");  // Проекты in CP1251
  ASSERT_TRUE(bundle.Run());
  EXPECT_NE(
      ReadWholeFile(bundle.Config())
          .find("foldername=\"" + InAttribute(bundle.Root()) + "server/domains/mysite.local\""),
      std::string::npos);
}

}  // namespace
}  // namespace qg
