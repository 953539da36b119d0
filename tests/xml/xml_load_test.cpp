#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/faulty_platform.h"
#include "tests/xml/recording_platforms.h"
#include "tests/xml/xml_test_util.h"
#include "xml/attribute_markup.h"
#include "xml/xml_loader.h"

namespace qg::testing {
namespace {

using XmlLoadTest = XmlFixture;

std::string WithLineEnd(std::string text, const std::string& lineEnd) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += lineEnd;
    } else {
      out += c;
    }
  }
  return out;
}

struct LineEndCase {
  const char* lineEnd;
  LineEndingStyle style;
};

class XmlLineEndTest : public XmlFixture, public ::testing::WithParamInterface<LineEndCase> {};

TEST_P(XmlLineEndTest, KeepsTheFilesLineEndsInEveryText) {
  const std::string nl = GetParam().lineEnd;
  const std::string body =
      "\n<a>\n  <b/>\n  <!-- x\ny -->\n  <?pi d\ne?>\n  <c>one\ntwo</c>\n</a>\n<!--after-->\n";
  XmlDocument* document = Load(WithLineEnd("<?xml version=\"1.0\"?>" + body, nl));
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->status, 0);
  EXPECT_EQ(document->lineEnding, GetParam().style);
  XmlNode* a = document->mainNode;
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->name, "a");
  EXPECT_EQ(a->precedingTextLength, static_cast<int>(nl.size()));
  EXPECT_EQ(TextOf(document->root), nl + nl + nl);
  EXPECT_EQ(TextOf(a), WithLineEnd("\n  \n  \n  \n  \n", nl));
  auto children = ChildrenOf(a);
  ASSERT_EQ(children.size(), 4u);
  EXPECT_EQ(children[0]->precedingTextLength, static_cast<int>(nl.size()) + 2);
  EXPECT_EQ(children[0]->text, nullptr);
  EXPECT_EQ(children[1]->kind, CommentNode);
  EXPECT_EQ(TextOf(children[1]), WithLineEnd(" x\ny ", nl));
  EXPECT_EQ(children[2]->kind, InstructionNode);
  EXPECT_STREQ(children[2]->name, "pi");
  EXPECT_EQ(TextOf(children[2]), WithLineEnd("d\ne", nl));
  EXPECT_EQ(TextOf(children[3]), WithLineEnd("one\ntwo", nl));
  // Written back, everything but the rebuilt declaration is as it was.
  EXPECT_EQ(Save(), WithLineEnd("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body, nl));
}

INSTANTIATE_TEST_SUITE_P(
    Styles, XmlLineEndTest,
    ::testing::Values(LineEndCase{"\r\n", CrLf}, LineEndCase{"\n", Lf}, LineEndCase{"\r", Cr}),
    [](const auto& info) {
      return std::string(info.param.style == CrLf ? "CrLf" : info.param.style == Lf ? "Lf" : "Cr");
    });

TEST(DetectLineEndingTest, FindsTheFirstLineEndOfAChunk) {
  struct Case {
    std::string chunk;
    LineEndingStyle expected;
  } cases[] = {
      {"ab\r\ncd", CrLf},
      {"ab\ncd\r\n", Lf},
      {"a\rb", Cr},
      {"\nab\r\nc", CrLf},  // a leading LF is skipped
      {"\nabc", Undetected},
      {"abc\r", Undetected},  // the last byte is not judged on its own
      {"abc\n", Undetected},
      {"ab\r\n", CrLf},  // ... but is looked at as the LF of a pair
      {"", Undetected},
      {Widen("<a>\r\n</a>"), CrLf},
      {Widen("\n<a>\n</a>"), Lf},
      {Widen("<a>\r</a>"), Cr},
      {Widen("<a></a>\r"), Undetected},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DetectLineEnding(c.chunk.data(), c.chunk.size()), c.expected)
        << ::testing::PrintToString(c.chunk);
  }
}

TEST_F(XmlLoadTest, AFirstChunkWithoutLineEndsLeavesTheDecisionToTheNext) {
  std::string filler(20000, 'x');
  XmlDocument* document = Load("<a>" + filler + "\r\n<b/>\r\n</a>");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->status, 0);
  EXPECT_EQ(document->lineEnding, CrLf);
  EXPECT_EQ(TextOf(document->mainNode), filler + "\r\n\r\n");
}

TEST_F(XmlLoadTest, ALoneLfAsTheLastByteOfTheOnlyChunkStaysUndetected) {
  XmlDocument* document = Load("<a/>\n");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->lineEnding, Undetected);
  EXPECT_EQ(TextOf(document->root), "\n");
}

TEST_F(XmlLoadTest, ACrLfPairSplitByTheChunkBoundaryIsOnePair) {
  // The CR is the last byte of the first 16384-byte chunk, the LF the first
  // byte of the second.
  std::string head = "<a>";
  std::string text = head + std::string(16384 - 1 - head.size(), 'y');
  std::string file = text + "\r\nsecond\r\nthird</a>";
  ASSERT_EQ(file[16383], '\r');
  ASSERT_EQ(file[16384], '\n');
  XmlDocument* document = Load(file);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->status, 0);
  EXPECT_EQ(document->lineEnding, CrLf);
  EXPECT_EQ(TextOf(document->mainNode), text.substr(head.size()) + "\r\nsecond\r\nthird");
  EXPECT_EQ(Save(0, WithoutDeclaration), file);
}

TEST_F(XmlLoadTest, MarkupAcrossChunkBoundariesIsWhole) {
  // Element names, attributes and comments cut by every boundary offset.
  std::string file = "<r>\n";
  while (file.size() < 3 * 16384) {
    file += "  <item name=\"n" + std::to_string(file.size()) + "\" v='x'>t&amp;t</item><!--c-->\n";
  }
  file += "</r>\n";
  XmlDocument* document = Load(file);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->status, 0);
  std::string expected = file;
  for (std::size_t at; (at = expected.find("v='x'")) != std::string::npos;) {
    expected.replace(at, 5, "v=\"x\"");
  }
  EXPECT_EQ(Save(0, WithoutDeclaration), expected);
}

TEST_F(XmlLoadTest, SixteenBitFilesAreDetectedInUnits) {
  std::string file =
      "\xFF\xFE" + Widen("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a>\r\n<b/>\r\n</a>");
  XmlDocument* document = Load(file, -1);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->status, 0);
  EXPECT_EQ(document->encoding, Unicode);
  EXPECT_EQ(document->lineEnding, CrLf);
  EXPECT_EQ(TextOf(document->mainNode), "\r\n\r\n");
  EXPECT_EQ(Save(0, WithByteOrderMark), file);
}

TEST_F(XmlLoadTest, AsciiKeepsTheBytesOfAFileDeclaredUtf8) {
  std::string file = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a t=\"\xC3\xA9\">caf\xC3\xA9</a>";
  XmlDocument* document = Load(file, Ascii);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->status, 0);
  EXPECT_EQ(document->encoding, Ascii);
  EXPECT_EQ(TextOf(document->mainNode), "caf\xC3\xA9");
  EXPECT_EQ(AttributeOf(document->mainNode, "t"), "\xC3\xA9");
  EXPECT_EQ(Save(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a t=\"\xC3\xA9\">caf\xC3\xA9</a>");
}

TEST_F(XmlLoadTest, WithoutAFormatTheDeclarationNamesTheEncoding) {
  struct Case {
    std::string file;
    int format;
    StringFormat expected;
  } cases[] = {
      {"\xFF\xFE" + Widen("<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>"), -1, Unicode},
      {"\xFF\xFE" + Widen("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>"), -1, Unicode},
      {"<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a/>", -1, Ascii},
      {"<?xml version=\"1.0\" encoding=\"us-ascii\"?><a/>", -1, Ascii},
      {"<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a/>", -1, Ascii},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", -1, Utf8},
      {"<?xml version=\"1.0\"?><a/>", -1, Utf8},
      {"<a/>", -1, Utf8},
      {"<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a/>", Utf8, Utf8},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", Ascii, Ascii},
      {"\xFF\xFE" + Widen("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>"), Unicode, Unicode},
  };
  for (const Case& c : cases) {
    XmlDocument* document = Load(c.file, c.format);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->status, 0) << c.file;
    EXPECT_EQ(document->encoding, c.expected) << c.file;
    EXPECT_EQ(document->encodingFixed, c.format != -1 ? 1 : 0);
  }
}

TEST_F(XmlLoadTest, StandaloneComesFromTheDeclaration) {
  struct Case {
    const char* declaration;
    int standalone;
  } cases[] = {{"<?xml version=\"1.0\" standalone=\"yes\"?>", 1},
               {"<?xml version=\"1.0\" standalone=\"no\"?>", 0},
               {"<?xml version=\"1.0\"?>", -1},
               {"", -1}};
  for (const Case& c : cases) {
    XmlDocument* document = Load(std::string(c.declaration) + "<a/>");
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->standalone, c.standalone) << c.declaration;
  }
}

TEST_F(XmlLoadTest, JunkAfterTheDocumentElementKeepsTheDocument) {
  XmlDocument* document = Load("<a><b/></a>junk");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(GetParseStatus(0), 9);
  ASSERT_NE(GetMainNode(0), nullptr);
  EXPECT_STREQ(GetMainNode(0)->name, "a");
  EXPECT_EQ(ChildrenOf(GetMainNode(0)).size(), 1u);
}

TEST_F(XmlLoadTest, ParseErrorsKeepWhatWasBuiltAndReleaseCleanly) {
  struct Case {
    const char* file;
    int status;
  } cases[] = {{"<a><b></a>", 7}, {"<a>", 3}, {"<a>&undefined;</a>", 11}, {"<a", 5}, {"<<", 4}};
  for (const Case& c : cases) {
    XmlDocument* document = Load(c.file);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->status, c.status) << c.file;
  }
  // A node left open keeps the text it had, from the pool like any other.
  XmlDocument* document = Load("<a>text<b>more");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(TextOf(document->mainNode), "text");
  EXPECT_EQ(TextOf(document->mainNode->firstChild), "more");
  EXPECT_FALSE(IsIndividual(document->mainNode->text));
}

TEST_F(XmlLoadTest, TextAroundAChildIsJoinedAndPlaced) {
  XmlDocument* document = Load("<a>p<b/>q</a>");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(TextOf(document->mainNode), "pq");
  EXPECT_EQ(document->mainNode->firstChild->precedingTextLength, 1);
  EXPECT_EQ(document->root->text, nullptr);
  EXPECT_EQ(document->mainNode->firstChild->text, nullptr);
}

TEST_F(XmlLoadTest, EmptyCommentsAndInstructionsHaveAnEmptyText) {
  XmlDocument* document = Load("<a><!----><?t?><![CDATA[]]></a>");
  ASSERT_NE(document, nullptr);
  auto children = ChildrenOf(document->mainNode);
  ASSERT_EQ(children.size(), 3u);
  ASSERT_NE(children[0]->text, nullptr);
  EXPECT_STREQ(children[0]->text, "");
  ASSERT_NE(children[1]->text, nullptr);
  EXPECT_STREQ(children[1]->text, "");
  EXPECT_EQ(children[2]->kind, CDataNode);
  EXPECT_EQ(children[2]->text, nullptr);
}

TEST_F(XmlLoadTest, TwoHundredAttributesStayInOrderInTheirOwnBlock) {
  std::string file = "<a";
  for (int i = 0; i < 200; ++i)
    file += " n" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
  file += "/>";
  XmlDocument* document = Load(file);
  ASSERT_NE(document, nullptr);
  XmlNode* a = document->mainNode;
  ASSERT_EQ(a->attributeCount, 200);
  EXPECT_EQ(a->spareSlots, 0);
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(std::string(a->attributes[2 * i]), "n" + std::to_string(i));
    EXPECT_EQ(std::string(a->attributes[2 * i + 1]), "v" + std::to_string(i));
  }
  EXPECT_TRUE(IsIndividual(a->attributes));
  EXPECT_FALSE(a->flags & kPooledAttributes);
  EXPECT_EQ(Save(0, WithoutDeclaration), file);
}

TEST_F(XmlLoadTest, PoolStringsAreNeverAtAMultipleOfEight) {
  XmlDocument* document = Load("<a x=\"1\" yy=\"22\"><b/><c>t</c><!--c--></a>");
  ASSERT_NE(document, nullptr);
  XmlNode* a = document->mainNode;
  EXPECT_FALSE(IsIndividual(a->name));
  EXPECT_TRUE(a->flags & kPooledAttributes);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a->attributes) % alignof(char*), 0u);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(IsIndividual(a->attributes[i]));
  for (XmlNode* child : ChildrenOf(a)) {
    if (child->name) {
      EXPECT_FALSE(IsIndividual(child->name));
    }
    if (child->text) {
      EXPECT_FALSE(IsIndividual(child->text));
    }
  }
  // The document node's text comes from the pool too.
  XmlDocument* second = Load("\n<a/>\n");
  ASSERT_NE(second->root->text, nullptr);
  EXPECT_FALSE(IsIndividual(second->root->text));
  // A text longer than 1023 characters stays individual too.
  XmlDocument* third = Load("<a>" + std::string(1024, 'z') + "</a>");
  EXPECT_TRUE(IsIndividual(third->mainNode->text));
  EXPECT_EQ(TextOf(third->mainNode).size(), 1024u);
}

TEST_F(XmlLoadTest, DoctypeWithIdsAndASubsetComesBackWhole) {
  const std::string subset =
      "<!DOCTYPE root PUBLIC \"-//Q//X\" \"sys.dtd\" [\n  <!ENTITY e \"val&#38;#38;ue\">\n"
      "  <!-- note -->\n  <?pi x?>\n  <!ATTLIST root d CDATA \"dflt\">\n]>";
  XmlDocument* document = Load(subset + "\n<root>&e;</root>\n");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->status, 0);
  auto top = ChildrenOf(document->root);
  ASSERT_EQ(top.size(), 2u);
  XmlNode* doctype = top[0];
  EXPECT_EQ(doctype->kind, DoctypeNode);
  EXPECT_EQ(TextOf(doctype),
            "<!DOCTYPE root PUBLIC \"-//Q//X\" \"sys.dtd\" [\n  <!ENTITY e \"val&#38;#38;ue\">\n"
            "  \n  \n  <!ATTLIST root d CDATA \"dflt\">\n]>");
  auto inner = ChildrenOf(doctype);
  ASSERT_EQ(inner.size(), 2u);
  EXPECT_EQ(inner[0]->kind, CommentNode);
  EXPECT_EQ(inner[1]->kind, InstructionNode);
  // The entity reference arrives as its replacement text.
  EXPECT_EQ(TextOf(document->mainNode), "val&ue");
  EXPECT_EQ(AttributeOf(document->mainNode, "d"), "dflt");
  EXPECT_EQ(Save(0, WithoutDeclaration), subset + "\n<root d=\"dflt\">val&amp;ue</root>\n");
}

TEST_F(XmlLoadTest, DoctypeLiteralsAreRebuilt) {
  XmlDocument* document = Load("<!DOCTYPE  a   SYSTEM 'say\"hi\"'  ><a/>");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(TextOf(document->root->firstChild), "<!DOCTYPE a SYSTEM 'say\"hi\"'>");
  document = Load("<!DOCTYPE a><a/>");
  EXPECT_EQ(TextOf(document->root->firstChild), "<!DOCTYPE a>");
  EXPECT_EQ(Save(0, WithoutDeclaration), "<!DOCTYPE a><a/>");
}

TEST_F(XmlLoadTest, BillionLaughsIsRefusedWithinBoundedMemory) {
  std::string file = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY l0 \"lol\">\n";
  for (int i = 1; i <= 12; ++i) {
    file += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) file += "&l" + std::to_string(i - 1) + ";";
    file += "\">\n";
  }
  file += "]>\n<lolz>&l12;</lolz>\n";
  std::string path = dir.Write("lolz.xml", file);
  // The table's record for number 0 stays allocated for reuse once made;
  // make it before counting, so only the load's own memory is counted.
  ASSERT_NE(Load("<a/>"), nullptr);
  ReleaseXmlLibrary();
  {
    HeapCountingPlatform counting(NativePlatform());
    PlatformScope scope(counting);
    ASSERT_NE(LoadXmlDocument(0, path.c_str(), -1), 0);
    EXPECT_NE(GetParseStatus(0), 0);
    // 10^12 expansions of "lol" would need terabytes.
    EXPECT_LT(counting.PeakBytes(), 64 << 20);
    FreeXmlDocument(0);
    ReleaseXmlLibrary();
    EXPECT_EQ(counting.LiveBytes(), 0);
  }
}

TEST_F(XmlLoadTest, MissingOrEmptyFilesMakeNoDocumentAndKeepTheOldOne) {
  ASSERT_NE(Load("<old/>"), nullptr);
  XmlNode* oldMain = GetMainNode(0);
  EXPECT_EQ(LoadXmlDocument(0, dir.Path("missing.xml").c_str(), Ascii), 0);
  EXPECT_EQ(LoadXmlDocument(0, dir.Write("empty.xml", "").c_str(), Ascii), 0);
  EXPECT_EQ(LoadXmlDocument(0, "", Ascii), 0);
  EXPECT_EQ(LoadXmlDocument(0, nullptr, Ascii), 0);
  EXPECT_EQ(GetMainNode(0), oldMain);
  EXPECT_STREQ(GetMainNode(0)->name, "old");
  // A number that names nothing.
  EXPECT_EQ(GetParseStatus(5), 0);
  EXPECT_EQ(GetMainNode(5), nullptr);
  EXPECT_EQ(GetMainNode(-7), nullptr);
}

TEST_F(XmlLoadTest, LoadingAgainUnderANumberReplacesTheDocument) {
  ASSERT_NE(Load("<first/>", Ascii, 3), nullptr);
  ASSERT_NE(Load("<second/>", Ascii, 3), nullptr);
  EXPECT_STREQ(GetMainNode(3)->name, "second");
  EXPECT_EQ(GetMainNode(3)->documentNumber, 3);
}

TEST_F(XmlLoadTest, DynamicDocumentsAreNamedByTheirHandle) {
  std::intptr_t first = LoadXmlDocument(-1, dir.Write("1.xml", "<one/>").c_str(), Ascii);
  std::intptr_t second = LoadXmlDocument(-1, dir.Write("2.xml", "<two>").c_str(), Ascii);
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  EXPECT_STREQ(GetMainNode(first)->name, "one");
  EXPECT_EQ(GetMainNode(first)->documentNumber, first);
  EXPECT_EQ(GetParseStatus(second), 3);
  EXPECT_EQ(FindNodeByPath(GetMainNode(second), "/two"), GetMainNode(second));
  FreeXmlDocument(first);
  EXPECT_EQ(GetMainNode(first), nullptr);
  EXPECT_NE(GetMainNode(second), nullptr);
}

// Reports one size for every file (4 GiB unless told otherwise), refuses
// heap blocks over 64 MiB and notes the sizes asked for.
class HugeFilePlatform : public ForwardingPlatform {
 public:
  explicit HugeFilePlatform(Platform& inner, std::uint64_t stated = std::uint64_t{1} << 32)
      : ForwardingPlatform(inner), stated_(stated) {}
  bool GetFileSize(Handle file, std::uint64_t* size) override {
    if (!inner_.GetFileSize(file, size)) return false;
    *size = stated_;
    return true;
  }
  void* HeapAlloc(std::size_t size, bool zero) override {
    asked.push_back(size);
    return size > (std::size_t{64} << 20) ? nullptr : inner_.HeapAlloc(size, zero);
  }
  std::vector<std::size_t> asked;

 private:
  std::uint64_t stated_;
};

// Just under 2 or 4 GiB, a file gets one pool block for all of its strings,
// asked for at its exact size, never at a size that wrapped (or none, where
// the size does not fit the address space); refused, the load goes on. These
// files end long before their stated size.
TEST_F(XmlLoadTest, AWholeFilePoolIsAskedForAtItsExactSize) {
  std::string path = dir.Write("big.xml", "<a><b/></a>");
  for (std::uint64_t stated :
       {(std::uint64_t{1} << 31) - 1, std::uint64_t{1} << 31,
        (std::uint64_t{1} << 32) - sizeof(StringPoolBlock) - 1,
        (std::uint64_t{1} << 32) - sizeof(StringPoolBlock), (std::uint64_t{1} << 32) - 1}) {
    SCOPED_TRACE(stated);
    HugeFilePlatform huge(NativePlatform(), stated);
    {
      PlatformScope scope(huge);
      ASSERT_NE(LoadXmlDocument(0, path.c_str(), Ascii), 0);
    }
    std::uint64_t whole = stated + sizeof(StringPoolBlock);
    auto wanted = std::count(huge.asked.begin(), huge.asked.end(), whole);
    EXPECT_EQ(wanted, whole <= SIZE_MAX ? 1 : 0);
    for (std::size_t size : huge.asked)
      EXPECT_TRUE(size >= stated || size <= kStringPoolBlockSize) << size;
    EXPECT_EQ(GetParseStatus(0), kParseNoInput);
    EXPECT_EQ(GetLoadProblem(0), XmlLoadProblem::Unreadable);  // it stopped short
    EXPECT_NE(FindNodeByPath(GetMainNode(0), "b"), nullptr);
  }
}

TEST_F(XmlLoadTest, FilesOfFourGibibytesAreRefused) {
  ASSERT_NE(Load("<old/>"), nullptr);
  std::string path = dir.Write("big.xml", "<a/>");
  HugeFilePlatform huge(NativePlatform());
  PlatformScope scope(huge);
  EXPECT_EQ(LoadXmlDocument(0, path.c_str(), Ascii), 0);
  EXPECT_STREQ(GetMainNode(0)->name, "old");
}

TEST_F(XmlLoadTest, EveryAllocationOrReadFailureIsSurvivedWithoutLeaks) {
  std::string file =
      "<?xml version=\"1.0\"?>\r\n<!DOCTYPE r [\r\n<!ENTITY e \"x\">\r\n<!--in-->\r\n]>\r\n"
      "<r a=\"1\" b=\"2\">\r\n  <c>&e;text</c><![CDATA[cd]]><!--c--><?p d?>\r\n" +
      std::string(2000, 'w') + "<d/><e t=\"&#x0420;\" u=\"&#1060;\">&lt;&#x4E2D;<f/>x</e></r>\r\n";
  std::string path = dir.Write("all.xml", file);
  FreeXmlDocument(-1);
  ReleaseXmlLibrary();
  HeapCountingPlatform counting(NativePlatform());
  FaultyPlatform faulty(counting);
  PlatformScope scope(faulty);
  ASSERT_NE(LoadXmlDocument(0, path.c_str(), Ascii), 0);  // the slot record stays
  FreeXmlDocument(0);
  ReleaseXmlLibrary();
  const std::int64_t baseline = counting.LiveBytes();
  int fired = 0;
  for (std::int64_t n = 1; n < 10000; ++n) {
    faulty.FailAt(n);
    std::intptr_t handle = LoadXmlDocument(0, path.c_str(), Ascii);
    std::uint32_t error = Sys().GetLastError();
    bool fault = faulty.Fired();
    std::string where = faulty.FiredAt();
    faulty.FailAt(0);
    // A tree is complete, or the load says why not.
    XmlLoadProblem problem = GetLoadProblem(0);
    if (handle && GetParseStatus(0) == 0) {
      EXPECT_EQ(problem, XmlLoadProblem::None) << "fault at call " << n;
    } else if (handle && where == "ReadFile") {
      EXPECT_EQ(problem, XmlLoadProblem::Unreadable) << "fault at call " << n;
      EXPECT_EQ(error, ERROR_GEN_FAILURE_CODE) << "fault at call " << n;
    } else if (handle) {
      EXPECT_EQ(problem, XmlLoadProblem::OutOfMemory) << where << ", call " << n;
    }
    if (handle) {
      // Whatever was kept can be walked and saved.
      SaveXmlDocument(0, dir.Path("out.xml").c_str(), 0);
      FindNodeByPath(GetMainNode(0), "c");
    }
    FreeXmlDocument(0);
    ReleaseXmlLibrary();
    ASSERT_EQ(counting.LiveBytes(), baseline) << "fault at call " << n;
    if (!fault) {
      EXPECT_NE(handle, 0);
      break;
    }
    ++fired;
  }
  EXPECT_GT(fired, 10);
}

TEST_F(XmlLoadTest, TheLoadProblemTellsWhyATreeIsIncomplete) {
  struct Case {
    const char* name;
    std::string file;
    XmlLoadProblem problem;
    std::int32_t status;
  } cases[] = {
      {"complete", "<a>&#x0420;</a>", XmlLoadProblem::None, 0},
      {"unclosed", "<a><b></a>", XmlLoadProblem::NotWellFormed, 7},
      {"no element", "<!-- -->", XmlLoadProblem::NotWellFormed, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(Load(c.file), nullptr);
    EXPECT_EQ(GetParseStatus(0), c.status);
    EXPECT_EQ(GetLoadProblem(0), c.problem);
  }
  EXPECT_EQ(GetLoadProblem(5), XmlLoadProblem::None);  // no document
}

// In a file read as 8-bit text, a text with a character that a reference
// gave is stored as markup, and the pieces in front of each child count
// markup bytes; text without one stays plain.
TEST_F(XmlLoadTest, TextWithAReferenceBecomesMarkup) {
  XmlDocument* document =
      Load("<a>x&amp;y<b>&lt;</b>&#x0420;<c/>z&gt;</a>");  // the reference after a child
  ASSERT_NE(document, nullptr);
  XmlNode* a = document->mainNode;
  auto children = ChildrenOf(a);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(TextOf(a), "x&amp;y&#x0420;z&gt;");
  EXPECT_TRUE(a->flags & kMarkupText);
  EXPECT_EQ(children[0]->precedingTextLength, 7);
  EXPECT_EQ(children[1]->precedingTextLength, 8);
  EXPECT_EQ(TextOf(children[0]), "<");
  EXPECT_FALSE(children[0]->flags & kMarkupText);
  EXPECT_EQ(CodePointsFromStored(a->text, true), U"x&y\u0420z>");
  EXPECT_EQ(Save(0, WithoutDeclaration), "<a>x&amp;y<b>&lt;</b>&#x0420;<c/>z&gt;</a>");
}

// What GetNodeAttribute returns, and the characters it stands for, for
// values loaded from a file read as 8-bit text and from one the parser
// decoded (a byte-order mark); and what the tree stores for characters.
TEST_F(XmlLoadTest, StoredValuesDecodeToTheirCharacters) {
  struct Case {
    const char* name;
    std::string file;
    std::string stored;
    bool markup;
    std::u32string codes;
  } cases[] = {
      {"plain", "<a v=\"x&amp;y\"/>", "x&y", false, U"x&y"},
      {"reference", "<a v=\"&#x420;&amp;\"/>", "&#x0420;&amp;", true, U"\u0420&"},
      {"file byte and reference", "<a v=\"\xE9&#233;\"/>", "\xE9&#x00E9;", true, U"\u00E9\u00E9"},
      {"tab reference", "<a v=\"&#9;\"/>", "\t", false, U"\t"},
      {"decoded file", "\xEF\xBB\xBF<a v=\"&#x420;\xC3\xA9\"/>", "?\xE9", false, U"?\u00E9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmlDocument* document = Load(c.file);
    ASSERT_NE(document, nullptr);
    ASSERT_EQ(GetParseStatus(0), 0);
    const char* stored = GetNodeAttribute(document->mainNode, "v");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::string(stored), c.stored);
    EXPECT_EQ(IsNodeAttributeMarkup(document->mainNode, "v"), c.markup);
    EXPECT_EQ(CodePointsFromStored(stored, c.markup), c.codes);
    // Set again as characters, the value saves as it loaded.
    std::string before = Save();
    ASSERT_TRUE(SetNodeAttributeCharacters(document->mainNode, "v", c.codes));
    EXPECT_EQ(AttributeCharacters(document->mainNode, 0), c.codes);
    // Only a tree without file bytes beyond ASCII spells them as it did.
    if (c.file.find_first_of("\xE9\xEF") == std::string::npos) {
      EXPECT_EQ(Save(), before);
    }
  }
  XmlDocument* document = Load("<a/>", Utf8);
  ASSERT_NE(document, nullptr);
  bool markup = true;
  EXPECT_EQ(StoredFromCodePoints(document->mainNode, U"\u00E9<", &markup), "\xE9<");
  EXPECT_FALSE(markup);
  EXPECT_EQ(StoredFromCodePoints(document->mainNode, U"\u00E9<\u0420", &markup),
            "&#x00E9;&lt;&#x0420;");
  EXPECT_TRUE(markup);
}

// References to UTF-16 surrogates, as the editor writes a character beyond
// U+FFFF, in a value and in text, with the read chunks split at every byte
// of them: a pair is the one character, written back in the writer's
// spelling; a surrogate outside a pair stays a reference to its number.
TEST_F(XmlLoadTest, SurrogateReferencesLoadAndComeBack) {
  const std::u32string party = U"\U0001F389";
  struct Case {
    const char* name;
    std::string form, stored;
    std::u32string codes;
  } cases[] = {
      {"pair", "&#xD83C;&#xDF89;", "&#xD83C;&#xDF89;", party},
      {"pair in decimal", "&#55356;&#57225;", "&#xD83C;&#xDF89;", party},
      {"pair in mixed case", "&#xd83c;&#xDf89;", "&#xD83C;&#xDF89;", party},
      {"pair, hex then decimal", "&#xD83C;&#57225;", "&#xD83C;&#xDF89;", party},
      {"CJK Extension B", "&#xD842;&#xDFB7;", "&#xD842;&#xDFB7;", U"\U00020BB7"},
      {"one reference beyond U+FFFF", "&#x1F389;", "&#x1F389;", party},
      {"lone high", "&#xD83C;x", "&#xD83C;x", {0xD83C, U'x'}},
      {"lone low", "&#57225;", "&#xDF89;", {0xDF89}},
      {"low before high", "&#xDF89;&#xD83C;", "&#xDF89;&#xD83C;", {0xDF89, 0xD83C}},
      {"something between", "&#xD83C;x&#xDF89;", "&#xD83C;x&#xDF89;", {0xD83C, U'x', 0xDF89}},
      {"high, then a pair",
       "&#xD83C;&#xD83C;&#xDF89;",
       "&#xD83C;&#xD83C;&#xDF89;",
       {0xD83C, 0x1F389}},
  };
  constexpr std::size_t kChunk = 16384;
  for (const Case& c : cases) {
    for (bool inText : {false, true}) {
      const std::string open = inText ? "<a>" : "<a v=\"";
      const std::string close = inText ? "</a></r>" : "\"/></r>";
      for (std::size_t split = 0; split <= c.form.size(); ++split) {
        SCOPED_TRACE(std::string(c.name) + (inText ? " in text" : " in a value") + ", split at " +
                     std::to_string(split));
        std::string head = "<r>" + std::string(kChunk - split - 3 - open.size(), ' ') + open;
        ASSERT_EQ(head.size() + split, kChunk);
        XmlDocument* document = Load(head + c.form + close);
        ASSERT_NE(document, nullptr);
        ASSERT_EQ(GetParseStatus(0), 0);
        XmlNode* a = FindNodeByPath(document->mainNode, "a");
        ASSERT_NE(a, nullptr);
        const char* stored = inText ? a->text : GetNodeAttribute(a, "v");
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(std::string(stored), c.stored);
        EXPECT_EQ(CodePointsFromStored(stored, true), c.codes);
        EXPECT_EQ(inText ? TextCharacters(a) : AttributeCharacters(a, 0), c.codes);
        EXPECT_EQ(Save(0, WithoutDeclaration), head + c.stored + close);
      }
    }
  }
  // Not in comments, CDATA or instructions, where they are no references,
  // wherever the chunk ends in their start; a pair after them, or after a
  // '!' or '?' of the text, is one character again.
  for (const std::string other :
       {"<!--&#xD83C;-->", "<![CDATA[&#xDF89;]]>", "<?p &#xD83C;?>", "!?&#xD83C;&#xDF89;"}) {
    for (std::size_t split = 0; split <= other.size(); ++split) {
      SCOPED_TRACE(other + ", split at " + std::to_string(split));
      std::string head = "<r>" + std::string(kChunk - split - 3, ' ');
      const std::string tail = "<a>&#xD83C;&#xDF89;</a></r>";
      XmlDocument* document = Load(head + other + tail);
      ASSERT_NE(document, nullptr);
      ASSERT_EQ(GetParseStatus(0), 0);
      EXPECT_EQ(TextCharacters(FindNodeByPath(document->mainNode, "a")), party);
      EXPECT_EQ(Save(0, WithoutDeclaration), head + other + tail);
    }
  }
  // Written by the launcher, a character beyond U+FFFF is the pair whatever
  // form it came in.
  XmlDocument* document = Load("<a v=\"&#x1F389;\"/>");
  ASSERT_NE(document, nullptr);
  ASSERT_TRUE(SetNodeAttributeCharacters(document->mainNode, "v",
                                         AttributeCharacters(document->mainNode, 0)));
  EXPECT_EQ(Save(0, WithoutDeclaration), "<a v=\"&#xD83C;&#xDF89;\"/>");
  // A lone surrogate moved with its value keeps its reference.
  ASSERT_NE(Load("<a v=\"/old/&#xD83C;x\"/>"), nullptr);
  std::u32string moved = U"/new/" + AttributeCharacters(GetMainNode(0), 0).substr(5);
  ASSERT_TRUE(SetNodeAttributeCharacters(GetMainNode(0), "v", moved));
  EXPECT_EQ(Save(0, WithoutDeclaration), "<a v=\"/new/&#xD83C;x\"/>");
}

// An element's text read as characters, and set from characters: stored
// plain where the tree keeps every character as a byte, else as markup;
// line ends as the file has them.
TEST_F(XmlLoadTest, TextReadAndSetAsCharacters) {
  struct Case {
    const char* name;
    std::string file;
    std::u32string read;
    std::u32string set;
    std::string saved;
  } cases[] = {
      {"plain, CR LF file", "<r>\r\n<a>x &amp; y</a></r>", U"x & y", U"p\nq<",
       "<r>\r\n<a>p\r\nq&lt;</a></r>"},
      {"references", "<r><a>&#x420;&#13;&#233;</a></r>", U"\u0420\r\u00E9", U"\u00E9&\U0001F389",
       "<r><a>&#x00E9;&amp;&#xD83C;&#xDF89;</a></r>"},
      {"a CR is kept as a reference", "<r><a>x</a></r>", U"x", U"a\rb", "<r><a>a&#13;b</a></r>"},
      {"UTF-8 bytes of the file", "<r><a>\xC3\xA9</a></r>", U"\u00E9", U"\u00E9",
       "<r><a>&#x00E9;</a></r>"},
      {"emptied", "<r><a>x</a></r>", U"x", U"", "<r><a/></r>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmlDocument* document = Load(c.file);
    ASSERT_NE(document, nullptr);
    ASSERT_EQ(GetParseStatus(0), 0);
    XmlNode* a = FindNodeByPath(document->mainNode, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(TextCharacters(a), c.read);
    ASSERT_TRUE(SetNodeTextCharacters(a, c.set));
    EXPECT_EQ(TextCharacters(a), c.set);
    EXPECT_EQ(Save(0, WithoutDeclaration), c.saved);
  }
  XmlDocument* document = Load("<r>x<a/></r>");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(TextCharacters(document->mainNode), U"x");
  EXPECT_FALSE(SetNodeTextCharacters(document->mainNode, U"y"));  // it has a child
  EXPECT_EQ(Sys().GetLastError(), ERROR_INVALID_PARAMETER_CODE);
  EXPECT_FALSE(SetNodeTextMarkup(document->root, "y"));
  ASSERT_TRUE(SetNodeTextMarkup(document->mainNode->firstChild, "&#xD83C;&#xDF89;&amp;"));
  EXPECT_EQ(TextCharacters(document->mainNode->firstChild), U"\U0001F389&");
  EXPECT_EQ(Save(0, WithoutDeclaration), "<r>x<a>&#xD83C;&#xDF89;&amp;</a></r>");
}

TEST_F(XmlLoadTest, ReleasingTheLibraryReturnsEveryByte) {
  std::string path = dir.Write("r.xml", "<a><b x=\"1\">t</b><!--c--></a>");
  FreeXmlDocument(-1);
  ReleaseXmlLibrary();
  HeapCountingPlatform counting(NativePlatform());
  PlatformScope scope(counting);
  ASSERT_NE(LoadXmlDocument(6, path.c_str(), Ascii), 0);
  ASSERT_NE(LoadXmlDocument(-1, path.c_str(), Ascii), 0);
  ASSERT_NE(LoadXmlDocument(-1, path.c_str(), Ascii), 0);
  ReleaseXmlLibrary();
  // What is left is the table's slot record for number 6.
  EXPECT_EQ(counting.LiveBlocks(), 1);
  EXPECT_EQ(GetMainNode(6), nullptr);
}

}  // namespace
}  // namespace qg::testing
