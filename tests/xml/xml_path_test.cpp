#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/xml/recording_platforms.h"
#include "tests/xml/xml_test_util.h"

namespace qg::testing {
namespace {

const char kDocument[] =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE NotepadPlus>\n"
    "<NotepadPlus>\n"
    "  <FileBrowser latestSelectedItem=\"C:\\x\">\n"
    "    <root foldername=\"C:\\old\" />\n"
    "  </FileBrowser>\n"
    "  <a id=\"1\"/><b/><a id=\"2\"/>\n"
    "  <!--c1--><!--c2-->\n"
    "  <?t1 d?><?t2 e?>\n"
    "  <![CDATA[cd]]>\n"
    "</NotepadPlus>\n";

// A short description of where a lookup landed.
std::string Describe(const XmlNode* node) {
  if (!node) return "null";
  switch (node->kind) {
    case DocumentNode:
      return "#document";
    case ElementNode: {
      std::string id = AttributeOf(node, "id");
      return std::string(node->name) + (id == "<missing>" ? "" : "#" + id);
    }
    case CommentNode:
      return "#comment:" + TextOf(node);
    case CDataNode:
      return "#cdata:" + TextOf(node);
    case DoctypeNode:
      return "#dtd";
    case InstructionNode:
      return std::string("#instruction:") + node->name;
  }
  return "?";
}

class XmlPathTest : public XmlFixture {
 protected:
  void SetUp() override {
    XmlFixture::SetUp();
    document = Load(kDocument);
    ASSERT_NE(document, nullptr);
    ASSERT_EQ(document->status, 0);
    main = GetMainNode(0);
  }
  XmlDocument* document = nullptr;
  XmlNode* main = nullptr;
};

TEST_F(XmlPathTest, FindsNodesByPath) {
  enum Start { FromMain, FromRoot, FromNull };
  struct Case {
    Start start;
    const char* path;
    const char* expected;
  } cases[] = {
      {FromMain, nullptr, "NotepadPlus"},
      {FromMain, "", "NotepadPlus"},
      {FromNull, "", "null"},
      {FromMain, "/", "#document"},
      {FromMain, "/NotepadPlus/FileBrowser/root", "root"},
      {FromMain, "/NotepadPlus/FileBrowser/root/", "root"},
      {FromMain, "/NotepadPlus//FileBrowser", "null"},
      {FromMain, "//NotepadPlus", "null"},
      {FromMain, "FileBrowser/root", "root"},
      {FromRoot, "NotepadPlus/FileBrowser", "FileBrowser"},
      {FromMain, "NotepadPlus", "null"},  // relative: no such child of the main node
      {FromMain, "a", "a#1"},
      {FromMain, "a[0]", "a#1"},
      {FromMain, "a[]", "a#1"},
      {FromMain, "a[1]", "a#1"},
      {FromMain, "a[2]", "a#2"},
      {FromMain, "a[3]", "null"},
      {FromMain, "a[x2y]", "a#2"},  // non-digits are skipped
      {FromMain, "a[2", "a#2"},     // the path ends before "]"
      {FromMain, "a[02]", "a#2"},
      {FromMain, "*", "FileBrowser"},
      {FromMain, "*[2]", "a#1"},
      {FromMain, "*[3]", "b"},
      {FromMain, "*[10]", "null"},
      {FromMain, "#comment", "#comment:c1"},
      {FromMain, "#comment[2]", "#comment:c2"},
      {FromMain, "#comment[3]", "null"},
      {FromMain, "#instruction", "#instruction:t1"},
      {FromMain, "#instruction[2]", "#instruction:t2"},
      {FromMain, "#cdata", "#cdata:cd"},
      {FromMain, "/#dtd", "#dtd"},
      {FromMain, "/#comment", "null"},
      {FromMain, "/notepadplus", "null"},  // letter case counts
      {FromMain, "/NotepadPlus/filebrowser", "null"},
      {FromMain, "FileBrowser[1]root", "root"},  // a segment may follow "]" directly
      {FromMain, "FileBrowser[1]/root", "root"},
      {FromMain, "FileBrowse", "null"},  // whole names only
      {FromMain, "FileBrowserX", "null"},
      {FromNull, "/NotepadPlus", "null"},
      {FromNull, "NotepadPlus", "null"},
  };
  for (const Case& c : cases) {
    XmlNode* start = c.start == FromMain ? main : c.start == FromRoot ? document->root : nullptr;
    EXPECT_EQ(Describe(FindNodeByPath(start, c.path)), c.expected)
        << (c.path ? c.path : "(null)") << " from " << c.start;
  }
}

TEST_F(XmlPathTest, RelativeAndAbsolutePathsMeet) {
  XmlNode* absolute = FindNodeByPath(main, "/NotepadPlus/FileBrowser/root");
  ASSERT_NE(absolute, nullptr);
  EXPECT_EQ(FindNodeByPath(main, "FileBrowser/root"), absolute);
  EXPECT_EQ(FindNodeByPath(absolute, "/NotepadPlus/FileBrowser/root"), absolute);
}

TEST_F(XmlPathTest, AnAbsolutePathNeedsALiveDocument) {
  // A second document's nodes lead to their own root.
  std::string other = dir.Write("o.xml", "<NotepadPlus><x/></NotepadPlus>");
  ASSERT_NE(LoadXmlDocument(1, other.c_str(), Ascii), 0);
  XmlNode* x = FindNodeByPath(GetMainNode(1), "x");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(FindNodeByPath(x, "/NotepadPlus/x"), x);
  EXPECT_EQ(FindNodeByPath(x, "/NotepadPlus/FileBrowser"), nullptr);
}

TEST_F(XmlPathTest, SettingAnExistingAttributeKeepsItsPlace) {
  XmlNode* root = FindNodeByPath(main, "/NotepadPlus/FileBrowser/root");
  ASSERT_NE(root, nullptr);
  SetNodeAttribute(root, "foldername", "D:\\new\\");
  SetNodeAttribute(root, "foldername", "D:\\newer\\");  // an individual value replaced
  EXPECT_EQ(root->attributeCount, 1);
  EXPECT_STREQ(root->attributes[0], "foldername");
  EXPECT_STREQ(root->attributes[1], "D:\\newer\\");
  EXPECT_EQ(root->spareSlots, 0);
  std::string saved = Save();
  EXPECT_NE(saved.find("<root foldername=\"D:\\newer\\\"/>"), std::string::npos) << saved;
}

TEST_F(XmlPathTest, NewAttributesAreAppendedAndTheArrayGrowsByFourPairs) {
  XmlNode* browser = FindNodeByPath(main, "FileBrowser");
  ASSERT_NE(browser, nullptr);
  ASSERT_EQ(browser->attributeCount, 1);
  ASSERT_TRUE(browser->flags & kPooledAttributes);
  const int expectedSpare[] = {3, 2, 1, 0, 3};
  char** arrays[5];
  for (int i = 0; i < 5; ++i) {
    std::string name = "n" + std::to_string(i);
    SetNodeAttribute(browser, name.c_str(), ("v" + std::to_string(i)).c_str());
    EXPECT_EQ(browser->attributeCount, i + 2);
    EXPECT_EQ(browser->spareSlots, expectedSpare[i]) << i;
    arrays[i] = browser->attributes;
  }
  EXPECT_FALSE(browser->flags & kPooledAttributes);
  EXPECT_TRUE(IsIndividual(arrays[0]));
  EXPECT_EQ(AttributeOf(browser, "latestSelectedItem"), "C:\\x");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(AttributeOf(browser, "n" + std::to_string(i)), "v" + std::to_string(i));
  }
  // The grown part is zero-filled; the spare pairs hold nothing.
  for (int i = 2 * browser->attributeCount; i < 2 * (browser->attributeCount + 3); ++i) {
    EXPECT_EQ(browser->attributes[i], nullptr);
  }
  EXPECT_NE(Save().find("<FileBrowser latestSelectedItem=\"C:\\x\" n0=\"v0\" n1=\"v1\" n2=\"v2\" "
                        "n3=\"v3\" n4=\"v4\">"),
            std::string::npos);
}

TEST_F(XmlPathTest, NamesDifferingInCaseAndMissingArgumentsAreTheirOwnAttributes) {
  XmlNode* root = FindNodeByPath(main, "FileBrowser/root");
  SetNodeAttribute(root, "FolderName", "x");
  SetNodeAttribute(root, "empty", nullptr);
  SetNodeAttribute(root, nullptr, "noname");
  ASSERT_EQ(root->attributeCount, 4);
  EXPECT_STREQ(root->attributes[1], "C:\\old");
  EXPECT_STREQ(root->attributes[2], "FolderName");
  EXPECT_STREQ(root->attributes[5], "");
  EXPECT_STREQ(root->attributes[6], "");
  EXPECT_STREQ(root->attributes[7], "noname");
  SetNodeAttribute(root, "", "again");  // the empty name is found again
  EXPECT_EQ(root->attributeCount, 4);
  EXPECT_STREQ(root->attributes[7], "again");
}

TEST_F(XmlPathTest, OnlyElementsTakeAttributes) {
  XmlNode* comment = FindNodeByPath(main, "#comment");
  SetNodeAttribute(comment, "x", "y");
  EXPECT_EQ(comment->attributeCount, 0);
  EXPECT_EQ(comment->attributes, nullptr);
  SetNodeAttribute(document->root, "x", "y");
  EXPECT_EQ(document->root->attributeCount, 0);
  SetNodeAttribute(nullptr, "x", "y");
  // An element without attributes gets a fresh array.
  XmlNode* b = FindNodeByPath(main, "b");
  SetNodeAttribute(b, "k", "v");
  EXPECT_EQ(b->attributeCount, 1);
  EXPECT_EQ(b->spareSlots, 3);
  EXPECT_TRUE(IsIndividual(b->attributes));
}

TEST_F(XmlPathTest, EditedDocumentsReleaseEveryStringOnce) {
  std::string path = dir.Write("edit.xml", kDocument);
  FreeXmlDocument(-1);
  ReleaseXmlLibrary();
  HeapCountingPlatform counting(NativePlatform());
  PlatformScope scope(counting);
  ASSERT_NE(LoadXmlDocument(0, path.c_str(), Ascii), 0);  // the slot record may be new
  FreeXmlDocument(0);
  ReleaseXmlLibrary();
  const std::int64_t baseline = counting.LiveBytes();
  ASSERT_NE(LoadXmlDocument(0, path.c_str(), Ascii), 0);
  XmlNode* main = GetMainNode(0);
  for (const char* target : {"FileBrowser/root", "FileBrowser", "a[2]", "b"}) {
    XmlNode* node = FindNodeByPath(main, target);
    ASSERT_NE(node, nullptr) << target;
    for (int i = 0; i < 9; ++i) {
      std::string name = "k" + std::to_string(i % 6);
      SetNodeAttribute(node, name.c_str(), std::string(i * 300, 'v').c_str());
    }
    SetNodeAttribute(node, "id", "replaced");
    SetNodeAttribute(node, "foldername", "replaced");
  }
  FreeXmlDocument(0);
  ReleaseXmlLibrary();
  EXPECT_EQ(counting.LiveBytes(), baseline);
}

}  // namespace
}  // namespace qg::testing
