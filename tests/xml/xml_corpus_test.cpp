// Real input written elsewhere: the XML files installed on this machine and
// real editor configuration files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/corpus.h"
#include "tests/support/xml_reader.h"
#include "tests/xml/xml_test_util.h"
#include "xml/attribute_markup.h"

namespace qg::testing {
namespace {

namespace fs = std::filesystem;

bool HaveXmllint() { return std::system("xmllint --version >/dev/null 2>&1") == 0; }

bool WellFormed(const std::string& path) {
  return std::system(
             ("xmllint --noout --nonet " + ShellQuoted(path) + " >/dev/null 2>&1").c_str()) == 0;
}

// xmllint's canonical form of the file, or "" when it fails.
std::string Canonical(const std::string& path) {
  return CommandOutput("xmllint --nonet --c14n " + ShellQuoted(path) + " 2>/dev/null", "");
}

// The first `limit` .xml files of at most 2 MB under /usr/share, sorted.
std::vector<std::string> SharedXmlFiles(std::size_t limit) {
  std::vector<std::string> all;
  std::error_code error;
  fs::recursive_directory_iterator it("/usr/share", fs::directory_options::skip_permission_denied,
                                      error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    std::error_code statError;
    if (entry.path().extension() == ".xml" && entry.is_regular_file(statError) &&
        !entry.is_symlink(statError) && entry.file_size(statError) <= 2u << 20) {
      all.push_back(entry.path().string());
    }
  }
  std::sort(all.begin(), all.end());
  if (all.size() > limit) all.resize(limit);
  return all;
}

bool AsciiOnly(const std::string& bytes) {
  return std::none_of(bytes.begin(), bytes.end(), [](char c) { return c & 0x80; });
}

// A DOCTYPE that names an external subset may pull in entities that are not
// read with --nonet.
bool HasExternalDoctype(const std::string& bytes) {
  std::size_t at = bytes.find("<!DOCTYPE");
  if (at == std::string::npos) return false;
  std::size_t end = bytes.find_first_of("[>", at);
  std::string head = bytes.substr(at, end == std::string::npos ? std::string::npos : end - at);
  return head.find("SYSTEM") != std::string::npos || head.find("PUBLIC") != std::string::npos;
}

// True when an element, attribute or instruction name lost a character in
// the 8-bit tree ("?" stands for it, and is never part of a real name).
bool NamesLostCharacters(const XmlNode* node) {
  auto lost = [](const char* name) { return name && std::strchr(name, '?'); };
  if (lost(node->name)) return true;
  for (int i = 0; i < node->attributeCount; ++i) {
    if (lost(node->attributes[2 * i])) return true;
  }
  for (const XmlNode* child = node->firstChild; child; child = child->nextSibling) {
    if (NamesLostCharacters(child)) return true;
  }
  return false;
}

using XmlCorpusTest = XmlFixture;

TEST_F(XmlCorpusTest, InstalledXmlFilesRoundTrip) {
  if (!HaveXmllint()) GTEST_SKIP() << "xmllint is not installed";
  std::vector<std::string> files = SharedXmlFiles(300);
  if (files.empty()) GTEST_SKIP() << "no XML files under /usr/share";
  int checked = 0, compared = 0, unknownEncoding = 0, lostNames = 0;
  for (const std::string& file : files) {
    if (!WellFormed(file)) continue;
    SCOPED_TRACE(file);
    std::string input = ReadWholeFile(file);
    ASSERT_NE(LoadXmlDocument(0, file.c_str(), -1), 0);
    // The parser knows UTF-8, UTF-16, ISO-8859-1 and US-ASCII only.
    if (GetParseStatus(0) == 18) {
      ++unknownEncoding;
      continue;
    }
    EXPECT_EQ(GetParseStatus(0), 0);
    // The tree holds 8-bit text: characters above U+00FF do not survive, and
    // names made of them cannot be written back well-formed.
    if (NamesLostCharacters(GetMainNode(0))) {
      ++lostNames;
      continue;
    }
    ++checked;
    std::string first = dir.Path("first.xml"), second = dir.Path("second.xml");
    ASSERT_EQ(SaveXmlDocument(0, first.c_str(), 0), 1);
    std::string expected =
        AsciiOnly(input) && !HasExternalDoctype(input) ? Canonical(file) : std::string();
    if (!expected.empty()) {
      EXPECT_EQ(Canonical(first), expected);  // also proves it well-formed
      ++compared;
    } else {
      EXPECT_TRUE(WellFormed(first));
    }
    // Our own output loads and saves to the same bytes.
    ASSERT_NE(LoadXmlDocument(1, first.c_str(), -1), 0);
    EXPECT_EQ(GetParseStatus(1), 0);
    ASSERT_EQ(SaveXmlDocument(1, second.c_str(), 0), 1);
    EXPECT_EQ(ReadWholeFile(second), ReadWholeFile(first));
  }
  std::printf(
      "[ corpus   ] %d installed files loaded and saved (%d of them compared canonically); "
      "%d with names beyond 8 bits, %d in encodings the parser lacks\n",
      checked, compared, lostNames, unknownEncoding);
  EXPECT_GT(compared, 0);
}

// The encoding the file's declaration names, "" when none.
std::string DeclaredEncoding(const std::string& text) {
  if (text.rfind("<?xml", 0) != 0) return std::string();
  std::string declaration = text.substr(0, text.find("?>"));
  std::smatch label;
  return std::regex_search(declaration, label, std::regex("encoding=[\"']([^\"']+)[\"']"))
             ? label[1].str()
             : std::string();
}

// What writing back changes in a file that loading took in with the Ascii
// format: the declaration is rebuilt with the file's own label (or added),
// empty elements take the short form, blanks before "/>" go, values are put
// in double quotes, and a tab, line feed or carriage return in a value is
// written as a decimal reference.
std::string Normalised(std::string text) {
  std::string label = DeclaredEncoding(text);
  std::size_t declarationEnd = text.rfind("<?xml", 0) == 0 ? text.find("?>") + 2 : 0;
  text.replace(0, declarationEnd,
               "<?xml version=\"1.0\" encoding=\"" + (label.empty() ? "UTF-8" : label) + "\"?>");
  for (auto [from, to] : {std::pair{"&#x0009;", "&#9;"}, std::pair{"&#x000A;", "&#10;"},
                          std::pair{"&#x000D;", "&#13;"}}) {
    text = std::regex_replace(text, std::regex(from), to);
  }
  text = std::regex_replace(text, std::regex("<([A-Za-z_][A-Za-z0-9_.:-]*)([^<>]*)></\\1>"),
                            "<$1$2/>");
  text = std::regex_replace(text, std::regex("\\s+/>"), "/>");
  text = std::regex_replace(text, std::regex(" ([A-Za-z_:][-A-Za-z0-9_.:]*)='([^'\"<]*)'"),
                            " $1=\"$2\"");
  return text;
}

// The editor's own files that people published (config.xml, session.xml),
// sorted; a folder of them missing from the corpus fails the test.
std::vector<fs::path> EditorFiles() {
  std::vector<fs::path> files;
  for (const char* folder : {"npp", "npp-more", "npp-session"}) {
    fs::path corpus = CorpusDir() / folder;
    if (!fs::is_directory(corpus)) {
      ADD_FAILURE() << "the corpus lacks " << corpus;
      continue;
    }
    for (const auto& entry : fs::directory_iterator(corpus)) {
      if (entry.path().extension() == ".xml") files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Loaded as the launcher loads them and saved, they read back, through a
// parser that honours the label, with every value and text as before.
TEST_F(XmlCorpusTest, EditorFilesKeepEveryCharacter) {
  QG_SKIP_WITHOUT_CORPUS();
  std::vector<fs::path> files = EditorFiles();
  ASSERT_FALSE(files.empty()) << "no editor files in " << CorpusDir();
  if (!HavePythonXml()) GTEST_SKIP() << "python3 is not installed";
  int withReferences = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    ASSERT_NE(LoadXmlDocument(0, file.string().c_str(), Ascii), 0);
    ASSERT_EQ(GetParseStatus(0), 0);
    std::string output = dir.Path("saved.xml");
    ASSERT_EQ(SaveXmlDocument(0, output.c_str()), 1);
    EXPECT_EQ(CompareXmlTrees(file.string(), output), "same");
    std::string saved = ReadWholeFile(output);
    EXPECT_TRUE(AsciiOnly(saved));
    withReferences += saved.find("&#x") != std::string::npos;
  }
  std::printf("[ corpus   ] %zu editor files saved, %d of them with references\n", files.size(),
              withReferences);
  EXPECT_GT(withReferences, 5);
}

// Real configurations and sessions, given a name beyond ASCII in their own
// encoding, with the folder set as the launcher sets it: the bytes change
// only where expected, and a reader that honours the label sees the same
// tree with the new folder.
TEST_F(XmlCorpusTest, EditorConfigurationsChangeOnlyWhereExpected) {
  QG_SKIP_WITHOUT_CORPUS();
  std::vector<fs::path> files = EditorFiles();
  ASSERT_FALSE(files.empty()) << "no editor files in " << CorpusDir();
  const std::string folder =
      "E:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B & Co\\server\\domains\\"
      "mysite.local";
  const std::string markup = AttributeMarkupFromNarrow(folder.c_str());
  const bool reader = HavePythonXml();
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    std::string input = ReadWholeFile(file.string());
    std::string name = DeclaredEncoding(input) == "Windows-1252" ? "J\xF6rg" : "J\xC3\xB6rg";
    std::size_t top = input.find("<NotepadPlus>");
    ASSERT_NE(top, std::string::npos);
    input.insert(top + 13, name);
    std::string path = dir.Write("input.xml", input);
    ASSERT_NE(LoadXmlDocument(0, path.c_str(), Ascii), 0);
    ASSERT_EQ(GetParseStatus(0), 0);
    XmlNode* root = FindNodeByPath(GetMainNode(0), "/NotepadPlus/FileBrowser/root");
    std::string expected = input;
    if (root) {
      std::string old = AttributeOf(root, "foldername");
      ASSERT_TRUE(SetNodeAttributeMarkup(root, "foldername", markup.c_str()));
      // The first root element's attribute, at its place in the file.
      std::size_t browser = expected.find("<FileBrowser");
      std::size_t at = expected.find("foldername=\"" + old + "\"", browser);
      ASSERT_NE(at, std::string::npos);
      expected.replace(at, old.size() + 13, "foldername=\"" + markup + "\"");
    }
    std::string output = dir.Path("config.xml");
    ASSERT_EQ(SaveXmlDocument(0, output.c_str()), 1);
    EXPECT_EQ(ReadWholeFile(output), Normalised(expected));
    if (!reader) continue;
    EXPECT_EQ(CompareXmlTrees(dir.Write("expected.xml", expected), output), "same");
    if (root) {
      EXPECT_EQ(ReadXmlAttribute(output, "./FileBrowser/root", "foldername"), folder);
    }
  }
  if (!reader) std::printf("[ note     ] python3 is not installed; saved files not read back\n");
}

}  // namespace
}  // namespace qg::testing
