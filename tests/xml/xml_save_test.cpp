#include <expat.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "files/utf8.h"
#include "tests/support/faulty_platform.h"
#include "tests/support/platform_scope.h"
#include "tests/support/xml_reader.h"
#include "tests/xml/recording_platforms.h"
#include "tests/xml/xml_test_util.h"
#include "xml/attribute_markup.h"
#include "xml/xml_writer.h"

namespace qg::testing {
namespace {

using XmlSaveTest = XmlFixture;

TEST_F(XmlSaveTest, EachNodeKindHasItsMarkup) {
  ASSERT_NE(Load("<r a=\"1\"\n   b = 'x' ><e></e><f x='1' ></f><g> \n </g><!--c--><![CDATA[<&>]]>"
                 "<?p?><?q  data?>t</r>"),
            nullptr);
  EXPECT_EQ(Save(0, WithoutDeclaration),
            "<r a=\"1\" b=\"x\"><e/><f x=\"1\"/><g> \n </g><!--c--><![CDATA[<&>]]><?p ?><?q data?>t"
            "</r>");
}

TEST_F(XmlSaveTest, EscapingDependsOnTheContext) {
  XmlDocument* document = Load("<a>&quot;&apos;&lt;&gt;&amp;\t</a>");
  ASSERT_NE(document, nullptr);
  SetNodeAttribute(document->mainNode, "v", "\"'<>&\n\r\t");
  SetNodeAttribute(document->mainNode, "e", "");
  EXPECT_EQ(Save(0, WithoutDeclaration),
            "<a v=\"&quot;&apos;&lt;&gt;&amp;&#10;&#13;&#9;\" e=\"\">\"'&lt;&gt;&amp;\t</a>");
  // Line ends in character data are written as they are stored.
  document = Load("<a>x\r\ny</a>");
  EXPECT_EQ(Save(0, WithoutDeclaration), "<a>x\r\ny</a>");
}

// Replaces a node's text with an individual copy of `text`.
void SetText(XmlNode* node, const char* text) {
  if (IsIndividual(node->text)) Sys().HeapFree(node->text);
  node->text = CopyIndividual(text);
}

TEST_F(XmlSaveTest, RawContentIsWrittenUnchanged) {
  XmlDocument* document = Load("<a><!--x--><![CDATA[y]]><?p z?></a>");
  ASSERT_NE(document, nullptr);
  auto children = ChildrenOf(document->mainNode);
  SetText(children[0], "a--b");
  SetText(children[1], "<]]>&");
  SetText(children[2], "?>\"");
  EXPECT_EQ(Save(0, WithoutDeclaration), "<a><!--a--b--><![CDATA[<]]>&]]><?p ?>\"?></a>");
  SetText(children[2], "");
  EXPECT_EQ(Save(0, WithoutDeclaration), "<a><!--a--b--><![CDATA[<]]>&]]><?p ?></a>");
}

TEST_F(XmlSaveTest, TheDeclarationIsRebuilt) {
  struct Case {
    std::string declaration;
    int format;
    std::string expected;
  } cases[] = {
      {"<?xml version='1.0' standalone='yes' ?>", Ascii,
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"},
      {"<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\"?>", -1,
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>"},
      {"<?xml version=\"1.0\" encoding=\"US-ASCII\"?>", -1,
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"},
      {"", -1, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
  };
  for (const Case& c : cases) {
    ASSERT_NE(Load(c.declaration + "\n<a/>", c.format), nullptr);
    EXPECT_EQ(Save(), c.expected + "\n<a/>") << c.declaration;
  }
}

// A file loaded with the Ascii format keeps its bytes in the tree; saved in
// 8 bits it keeps the label its declaration gave (UTF-8 when none), so that a
// reader that honours the label reads the same characters as before. Files
// the parser decoded itself (a byte-order mark, or UTF-16 without one) hold
// the characters 0-255 and are labelled ISO-8859-1, as are other formats.
TEST_F(XmlSaveTest, AnEightBitSaveKeepsTheLabelOfTheFilesBytes) {
  struct Case {
    const char* name;
    std::string file;
    int format;
    std::string declaration;  // of the saved file
  } cases[] = {
      {"declared UTF-8",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a t=\"J\xC3\xB6rg\">\xD0\x9F</a>", Ascii,
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
      {"spelled as in the file", "<?xml version='1.0' encoding='utf-8'?><a>\xC3\xA9</a>", Ascii,
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>"},
      {"windows-1251",
       "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a t=\"\xCF\xF0\xEE\">\xE5\xEA</a>", Ascii,
       "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"},
      {"declared ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>", Ascii,
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"},
      {"standalone kept",
       "<?xml version='1.0' encoding='Windows-1252' standalone='no'?><a>\x80</a>", Ascii,
       "<?xml version=\"1.0\" encoding=\"Windows-1252\" standalone=\"no\"?>"},
      {"no encoding named", "<?xml version=\"1.0\"?>\n<a>\xC3\xA9</a>", Ascii,
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
      {"no declaration", "<a>\xC3\xA9</a>", Ascii, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
      {"UTF-8 byte-order mark",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>J\xC3\xB6rg</a>", Ascii,
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"},
      {"UTF-16 byte-order mark",
       "\xFF\xFE" + Widen("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>J\xF6rg</a>"), Ascii,
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"},
      {"UTF-16 without a mark", Widen("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>J\xF6rg</a>"),
       Ascii, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"},
      {"no format named", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a/>", -1,
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"},
      {"the Utf8 format", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a/>", Utf8,
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
  };
  const bool reader = HavePythonXml();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmlDocument* document = Load(c.file, c.format);
    ASSERT_NE(document, nullptr);
    ASSERT_EQ(document->status, 0);
    std::string saved = Save();
    ASSERT_EQ(saved.substr(0, c.declaration.size()), c.declaration) << saved;
    if (c.file[0] == '<' && c.file[1] != 0) {  // read as 8-bit text: the bytes stay
      std::size_t end = c.file.find("?>");
      EXPECT_EQ(saved.substr(c.declaration.size()),
                end == std::string::npos ? c.file : c.file.substr(end + 2));
    }
    if (reader) {
      EXPECT_EQ(CompareXmlTrees(dir.Path("in.xml"), dir.Path("out.xml")), "same");
    }
    // Saved as UTF-16 or UTF-8, the label is the output's own.
    document->encoding = Unicode;
    EXPECT_EQ(Save().substr(0, 30 * 2),
              Widen("<?xml version=\"1.0\" encoding=\"UTF-16\"?>").substr(0, 60));
  }
  if (!reader) std::printf("[ note     ] python3 is not installed; saved files not read back\n");
}

// A reference to a character above U+007F, beside the file's own bytes,
// stays a reference (upper-case hex, at least four digits), and the file
// keeps its label: nothing becomes "?" or a byte of the wrong encoding.
TEST_F(XmlSaveTest, ReferencesBeyondAsciiAreWrittenAsReferences) {
  const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  const std::string split = std::string(16384 - 2 - utf8.size() - 3, ' ');  // "&#" ends chunk 1
  struct Case {
    std::string body, saved;
  } cases[] = {
      {"<a>&#233;</a>", "<a>&#x00E9;</a>"},
      {"<a t=\"&#xE9;\"/>", "<a t=\"&#x00E9;\"/>"},
      {"<a>&amp;&#xff;&lt;</a>", "<a>&amp;&#x00FF;&lt;</a>"},
      {"<a>" + split + "&#233;</a>", "<a>" + split + "&#x00E9;</a>"},
      {"<a t=\"&#38;&#x7F;&#127;\">&#x4e;</a>", "<a t=\"&amp;\x7F\x7F\">N</a>"},
      {"<a><![CDATA[&#233;]]></a>", "<a><![CDATA[&#233;]]></a>"},
      {"<a t=\"D:\\&#x0420;&#x0430;\">F:\\&#25991;&#26412;</a>",
       "<a t=\"D:\\&#x0420;&#x0430;\">F:\\&#x6587;&#x672C;</a>"},
      // Tabs, line ends and quotes in values; the file's own bytes beside a
      // reference; text in front of and between children.
      {"<a t='&#x0009;\"&#x201C;x&#xA;&#xD;' u=\"J\xC3\xB6rg &#x00E9;\">p&lt;<b/>&#x2019;<c/>q</a>",
       "<a t=\"&#9;&quot;&#x201C;x&#10;&#13;\" u=\"J\xC3\xB6rg "
       "&#x00E9;\">p&lt;<b/>&#x2019;<c/>q</a>"},
      {"<a>&#x1F600;&#13;x</a>", "<a>&#x1F600;&#13;x</a>"},
      // An entity's text and an attribute default, where the parser does
      // not say what came from a reference: in a file without bytes beyond
      // ASCII, all of it did.
      {"<!DOCTYPE a [<!ENTITY e \"&#233;&#x420;&#xD;\"><!ATTLIST a d CDATA \"&#xE9;\">]><a>&e;</a>",
       "<!DOCTYPE a [<!ENTITY e \"&#233;&#x420;&#xD;\"><!ATTLIST a d CDATA \"&#xE9;\">]>"
       "<a d=\"&#x00E9;\">&#x00E9;&#x0420;&#13;</a>"},
  };
  const bool reader = HavePythonXml();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 60));
    ASSERT_NE(Load(utf8 + c.body), nullptr);
    ASSERT_EQ(GetParseStatus(0), 0);
    EXPECT_EQ(Save(), utf8 + c.saved);
    if (reader) {
      EXPECT_EQ(CompareXmlTrees(dir.Path("in.xml"), dir.Path("out.xml")), "same");
    }
  }
  if (!reader) std::printf("[ note     ] python3 is not installed; saved files not read back\n");
}

// A save keeps what every character means: a value's references stay
// references beside an entity's text, a byte of an entity's text stays that
// byte, and a CR from a reference stays a reference in a file the parser
// decoded.
TEST_F(XmlSaveTest, NoCharacterBecomesAnother) {
  const std::string cp1251 = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>";
  const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  const std::string entity = "<!DOCTYPE a [<!ENTITY e \"x\">]>";
  struct Case {
    const char* name;
    std::string file, saved;
  } cases[] = {
      {"value with an entity, file bytes", cp1251 + entity + "<a v=\"&#233;&e;\">\xCF</a>",
       cp1251 + entity + "<a v=\"&#x00E9;x\">\xCF</a>"},
      {"value with an entity, UTF-8 bytes", entity + "<a v=\"&#233;&e;\">\xC3\xA9</a>",
       utf8 + entity + "<a v=\"&#x00E9;x\">\xC3\xA9</a>"},
      {"an entity of one byte", cp1251 + "<!DOCTYPE a [<!ENTITY e \"\xCF\">]><a>&e;</a>",
       cp1251 + "<!DOCTYPE a [<!ENTITY e \"\xCF\">]><a>\xCF</a>"},
      {"CR reference, byte-order mark", "\xEF\xBB\xBF<a>x&#13;y</a>", latin1 + "<a>x&#13;y</a>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(Load(c.file), nullptr);
    ASSERT_EQ(GetParseStatus(0), 0);
    EXPECT_EQ(Save(), c.saved);
  }
}

// What plain libexpat reads from a file: each attribute as "element@name"
// and each element's text as "element", in UTF-8; "<error>" and the
// parser's message when it refuses the file. `encoding` overrides the
// declaration (null: as the file says).
std::map<std::string, std::string> ReadWithExpat(const std::string& bytes, const char* encoding) {
  struct Reading {
    std::map<std::string, std::string> seen;
    std::vector<std::string> open;
  } reading;
  XML_Parser parser = XML_ParserCreate(encoding);
  if (!parser) return {{"<error>", "no parser"}};
  XML_SetUserData(parser, &reading);
  XML_SetElementHandler(
      parser,
      [](void* user, const XML_Char* name, const XML_Char** attributes) {
        auto* r = static_cast<Reading*>(user);
        r->open.push_back(name);
        for (int i = 0; attributes[i]; i += 2)
          r->seen[std::string(name) + "@" + attributes[i]] = attributes[i + 1];
      },
      [](void* user, const XML_Char*) { static_cast<Reading*>(user)->open.pop_back(); });
  XML_SetCharacterDataHandler(parser, [](void* user, const XML_Char* text, int length) {
    auto* r = static_cast<Reading*>(user);
    r->seen[r->open.back()].append(text, static_cast<std::size_t>(length));
  });
  if (XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) != XML_STATUS_OK)
    reading.seen = {{"<error>", XML_ErrorString(XML_GetErrorCode(parser))}};
  XML_ParserFree(parser);
  return reading.seen;
}

// A character beyond U+FFFF that the document gives in its doctype (an
// attribute default, an entity's text, used in a value and in text) in any
// form is saved as one reference, or as the file's own bytes where it came
// as them, never as a pair of surrogate references, which no strict parser
// takes: plain libexpat reads the saved file, and every value and text is
// U+1F600.
TEST_F(XmlSaveTest, ACharacterBeyondU_FFFFFromTheDoctypeIsSavedAsOneReference) {
  const std::string grin = "\xF0\x9F\x98\x80";  // U+1F600 in UTF-8
  struct Form {
    const char* name;
    std::string spelled;
    bool literal;
  } forms[] = {
      {"UTF-8 bytes", grin, true},
      {"hex", "&#x1F600;", false},
      {"lower-case hex", "&#x1f600;", false},
      {"hex with zeros", "&#x0001F600;", false},
      {"decimal", "&#128512;", false},
  };
  struct Label {
    const char* name;
    std::string declaration;
    bool utf8;         // the file's bytes read as UTF-8
    const char* read;  // how expat is told to read the saved file
  } labels[] = {
      {"no declaration", "", true, nullptr},
      {"UTF-8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", true, nullptr},
      {"ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", false, nullptr},
      {"windows-1251", "<?xml version=\"1.0\" encoding=\"windows-1251\"?>", false, "ISO-8859-1"},
  };
  int checked = 0;
  for (const Label& label : labels) {
    for (const Form& form : forms) {
      if (form.literal && !label.utf8) continue;  // no such bytes under that label
      // With and without bytes of the file's own beyond ASCII, which decide
      // how the loader keeps characters 0x80-0xFF.
      for (bool ownBytes : {false, true}) {
        SCOPED_TRACE(std::string(label.name) + ", " + form.name + (ownBytes ? ", own bytes" : ""));
        const std::string own = ownBytes ? (label.utf8 ? "J\xC3\xB6rg" : "J\xF6rg") : "Jorg";
        const std::string file = label.declaration + "<!DOCTYPE a [<!ENTITY e \"" + form.spelled +
                                 "\"><!ATTLIST a d CDATA \"" + form.spelled + "\">]><a o=\"" + own +
                                 "\">&e;<b v=\"x&e;\"/></a>";
        ASSERT_NE(Load(file), nullptr);
        ASSERT_EQ(GetParseStatus(0), 0);
        XmlNode* a = GetMainNode(0);
        EXPECT_EQ(AttributeCharacters(a, 1), U"\U0001F600");
        EXPECT_EQ(TextCharacters(a), U"\U0001F600");
        EXPECT_EQ(AttributeCharacters(a->firstChild, 0), U"x\U0001F600");
        const std::string saved = Save();
        const std::string as = form.literal ? grin : "&#x1F600;";
        EXPECT_NE(saved.find("<a o=\"" + own + "\" d=\"" + as + "\">" + as + "<b v=\"x" + as),
                  std::string::npos)
            << saved;
        auto seen = ReadWithExpat(saved, label.read);
        EXPECT_EQ(seen["<error>"], "");
        EXPECT_EQ(seen["a@d"], grin);
        EXPECT_EQ(seen["a"], grin);
        EXPECT_EQ(seen["b@v"], "x" + grin);
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 2 * (5 + 5 + 4 + 4));
}

// The pair stays where the file wrote it, beside a character of the doctype;
// one reference stays one; and a value or text set as characters writes the
// pair, as the editor reads it.
TEST_F(XmlSaveTest, ThePairIsWrittenWhereTheFileOrTheSetterHadIt) {
  const std::string doctype = "<!DOCTYPE a [<!ATTLIST a d CDATA \"&#x1F600;\">]>";
  ASSERT_NE(Load(doctype + "<a p=\"&#xD83D;&#xDE00;\" s=\"&#x1F600;\">&#xD83D;&#xDE00;&#x1F600;"
                           "<b/></a>"),
            nullptr);
  ASSERT_EQ(GetParseStatus(0), 0);
  EXPECT_EQ(Save(0, WithoutDeclaration),
            doctype +
                "<a p=\"&#xD83D;&#xDE00;\" s=\"&#x1F600;\" d=\"&#x1F600;\">"
                "&#xD83D;&#xDE00;&#x1F600;<b/></a>");
  XmlNode* a = GetMainNode(0);
  XmlNode* b = a->firstChild;
  ASSERT_TRUE(SetNodeAttributeCharacters(a, "d", AttributeCharacters(a, 2)));
  ASSERT_TRUE(SetNodeAttributeCharacters(b, "n", U"\U0001F600"));
  ASSERT_TRUE(SetNodeTextCharacters(b, U"\U0001F600"));
  EXPECT_EQ(Save(0, WithoutDeclaration),
            doctype +
                "<a p=\"&#xD83D;&#xDE00;\" s=\"&#x1F600;\" d=\"&#xD83D;&#xDE00;\">"
                "&#xD83D;&#xDE00;&#x1F600;<b n=\"&#xD83D;&#xDE00;\">&#xD83D;&#xDE00;</b></a>");
}

// References to the characters of plane 16's private use area, which the
// loader's rewriter uses for its own marks, come back as they were: one
// reference as one, a pair as the pair, wherever the chunks end.
TEST_F(XmlSaveTest, ReferencesToTheLastPrivateUseCharactersComeBack) {
  for (const std::string form :
       {"&#x10F000;", "&#x10F001;", "&#x10F0E9;", "&#x10F800;", "&#x10FFFF;", "&#xDBFC;&#xDC00;",
        "&#xDBFC;&#xDC01;", "&#xDBFE;&#xDC00;", "&#xDBFF;&#xDFFF;"}) {
    for (std::size_t split = 0; split <= form.size(); ++split) {
      SCOPED_TRACE(form + ", split at " + std::to_string(split));
      const std::string head = "<r>" + std::string(16384 - split - 3 - 6, ' ') + "<a v=\"";
      const std::string file = head + form + "\">" + form + "</a></r>";
      ASSERT_NE(Load(file), nullptr);
      ASSERT_EQ(GetParseStatus(0), 0);
      EXPECT_EQ(Save(0, WithoutDeclaration), file);
    }
  }
}

// A value set as markup is written as it is, in every output encoding, and
// reads back as the characters its references name; set plainly again, it is
// escaped again.
TEST_F(XmlSaveTest, MarkupValuesAreWrittenAsTheyAre) {
  XmlDocument* document =
      Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r f=\"old\" x=\"&amp;\">J\xC3\xB6rg</r>");
  ASSERT_NE(document, nullptr);
  XmlNode* r = document->mainNode;
  const std::string markup = "E:\\&#x041F;&#x1F600;&amp;&quot;";
  ASSERT_TRUE(SetNodeAttributeMarkup(r, "f", markup.c_str()));  // in the loaded array
  ASSERT_TRUE(SetNodeAttributeMarkup(r, "n", "&#x00E9;"));      // appended
  EXPECT_EQ(std::string(GetNodeAttribute(r, "f")), markup);
  const std::string tags = "<r f=\"" + markup + "\" x=\"&amp;\" n=\"&#x00E9;\">";
  const bool reader = HavePythonXml();
  for (StringFormat encoding : {Ascii, Utf8, Unicode}) {
    SCOPED_TRACE(encoding);
    document->encoding = encoding;
    std::string saved = Save(0, WithoutDeclaration);
    EXPECT_EQ(saved.substr(0, encoding == Unicode ? 2 * tags.size() : tags.size()),
              encoding == Unicode ? Widen(tags) : tags);
    Save(0, WithByteOrderMark);
    if (reader) {
      EXPECT_EQ(ReadXmlAttribute(dir.Path("out.xml"), ".", "f"), "E:\\\xD0\x9F\xF0\x9F\x98\x80&\"");
      EXPECT_EQ(ReadXmlAttribute(dir.Path("out.xml"), ".", "n"), "\xC3\xA9");
    }
  }
  document->encoding = Ascii;
  SetNodeAttribute(r, "f", "&#x41;");  // a plain value again
  EXPECT_EQ(Save(0, WithoutDeclaration).find("<r f=\"&amp;#x41;\" "), 0u);
  // Any attribute of an element can hold markup, the 40th as the first.
  for (int i = 3; i < 39; ++i) SetNodeAttribute(r, ("a" + std::to_string(i)).c_str(), "&");
  EXPECT_TRUE(SetNodeAttributeMarkup(r, "last", "&#x00E9;"));
  EXPECT_TRUE(SetNodeAttributeMarkup(r, "a3", "&#x0101;"));
  EXPECT_EQ(r->attributeCount, 40);
  EXPECT_TRUE(IsNodeAttributeMarkup(r, "last"));
  EXPECT_FALSE(IsNodeAttributeMarkup(r, "a38"));
  std::string saved = Save();
  EXPECT_NE(saved.find(" a3=\"&#x0101;\" a4=\"&amp;\""), std::string::npos);
  EXPECT_NE(saved.find(" a38=\"&amp;\" last=\"&#x00E9;\">"), std::string::npos);
}

// A failing SetNodeAttributeMarkup says why at once and changes nothing.
TEST_F(XmlSaveTest, AFailedMarkupValueLeavesTheElementAsItWas) {
  XmlDocument* document = Load("<r a=\"1\"/>");
  ASSERT_NE(document, nullptr);
  XmlNode* r = document->mainNode;
  FaultyPlatform faulty(NativePlatform());
  int failed = 0;
  for (const char* name : {"a", "new"}) {
    const std::string before = Save(0, WithoutDeclaration);
    for (std::int64_t n = 1;; ++n) {
      PlatformScope scope(faulty);
      faulty.FailAt(n, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
      Sys().SetLastError(NO_ERROR_CODE);
      bool set = SetNodeAttributeMarkup(r, name, "&#x0100;");
      if (!faulty.Fired()) {
        EXPECT_TRUE(set);
        break;
      }
      ++failed;
      EXPECT_FALSE(set);
      EXPECT_EQ(Sys().GetLastError(), ERROR_NOT_ENOUGH_MEMORY_CODE);
      EXPECT_EQ(Save(0, WithoutDeclaration), before) << name << " " << n;
    }
  }
  EXPECT_GE(failed, 3);
  EXPECT_EQ(Save(0, WithoutDeclaration), "<r a=\"&#x0100;\" new=\"&#x0100;\"/>");
  Sys().SetLastError(NO_ERROR_CODE);
  EXPECT_FALSE(SetNodeAttributeMarkup(document->root, "x", "y"));  // not an element
  EXPECT_EQ(Sys().GetLastError(), ERROR_INVALID_PARAMETER_CODE);
}

TEST_F(XmlSaveTest, UnitWritersAndTheByteOrderMark) {
  // Character 233 and a less-than sign in an attribute, in every encoding.
  const std::string narrow =
      "<a x=\"&lt;\">\xE9"
      "A</a>";
  XmlDocument* document = Load(
      "<?xml version=\"1.0\"?><a x=\"&lt;\">\xC3\xA9"
      "A</a>",
      -1);
  ASSERT_NE(document, nullptr);
  ASSERT_EQ(TextOf(document->mainNode),
            "\xE9"
            "A");
  struct Case {
    StringFormat encoding;
    const char* label;
    std::string mark;
  } cases[] = {
      {Ascii, "ISO-8859-1", ""}, {Utf8, "UTF-8", "\xEF\xBB\xBF"}, {Unicode, "UTF-16", "\xFF\xFE"}};
  for (const Case& c : cases) {
    document->encoding = c.encoding;
    std::string plain =
        std::string("<?xml version=\"1.0\" encoding=\"") + c.label + "\"?>" + narrow;
    std::string expected = plain;
    if (c.encoding == Utf8) {
      expected.assign(plain.size() * 2, '\0');
      expected.resize(Utf8FromNarrow(plain.data(), plain.size(), expected.data(), expected.size()));
    } else if (c.encoding == Unicode) {
      expected = Widen(plain);
    }
    EXPECT_EQ(Save(0, 0), expected) << c.label;
    EXPECT_EQ(Save(0, WithByteOrderMark), c.mark + expected) << c.label;
    EXPECT_EQ(Save(0, WithByteOrderMark | 4 | 8), c.mark + expected) << c.label;
  }
  document->encoding = Utf8;
  EXPECT_EQ(Save(0, WithoutDeclaration),
            "<a x=\"&lt;\">\xC3\xA9"
            "A</a>");
  document->encoding = Unicode;
  EXPECT_EQ(Save(0, WithByteOrderMark).substr(0, 6), std::string("\xFF\xFE<\0?\0", 6));
  EXPECT_EQ(Save(0, WithByteOrderMark | WithoutDeclaration), "\xFF\xFE" + Widen(narrow));
}

TEST_F(XmlSaveTest, WithoutDeclarationStartsWithTheFirstTopLevelText) {
  ASSERT_NE(Load("<?xml version=\"1.0\"?>\r\n\r\n<a/>\r\n"), nullptr);
  EXPECT_EQ(Save(0, WithoutDeclaration), "\r\n\r\n<a/>\r\n");
}

// Offsets in `bytes` at which each write began.
std::vector<std::size_t> WriteStarts(const std::vector<std::uint32_t>& writes) {
  std::vector<std::size_t> starts;
  std::size_t at = 0;
  for (std::uint32_t count : writes) {
    starts.push_back(at);
    at += count;
  }
  return starts;
}

TEST_F(XmlSaveTest, LongOutputsAreWrittenInWholeUnits) {
  // Entity references and two-byte characters at every offset.
  std::string text;
  for (int i = 0; i < 3000; ++i) text += i % 3 == 0 ? "&amp;" : i % 3 == 1 ? "\xC3\xA9" : "xy";
  XmlDocument* document = Load("<a v=\"" + text + "\">" + text + "</a>", Utf8);
  ASSERT_NE(document, nullptr);
  ASSERT_EQ(document->status, 0);
  for (StringFormat encoding : {Ascii, Utf8, Unicode}) {
    document->encoding = encoding;
    WriteRecordingPlatform recording(NativePlatform());
    std::string output;
    {
      PlatformScope scope(recording);
      output = Save();
    }
    ASSERT_GT(recording.writes.size(), 2u);
    std::size_t total = 0;
    for (std::size_t i = 0; i < recording.writes.size(); ++i) {
      std::uint32_t count = recording.writes[i];
      EXPECT_LE(count, 4096u);
      // Only the last write may leave the buffer more than one unit short.
      if (i + 1 < recording.writes.size()) {
        EXPECT_GT(count, 4096u - 12);
      }
      total += count;
    }
    EXPECT_EQ(total, output.size());
    int unit = encoding == Unicode ? 2 : 1;
    for (std::size_t start : WriteStarts(recording.writes)) {
      if (start == 0) continue;
      EXPECT_EQ(start % unit, 0u);
      // No entity reference is open across the boundary ...
      std::size_t amp = output.rfind('&', start - 1);
      std::size_t semi = output.rfind(';', start - 1);
      if (amp != std::string::npos) {
        EXPECT_TRUE(semi != std::string::npos && semi > amp) << start;
      }
      // ... and no UTF-8 sequence is cut.
      if (encoding == Utf8) {
        unsigned char c = static_cast<unsigned char>(output[start]);
        EXPECT_FALSE(c >= 0x80 && c < 0xC0) << start;
      }
    }
  }
}

TEST_F(XmlSaveTest, NoNameOrNoDocumentLeavesTheFileAlone) {
  ASSERT_NE(Load("<a/>"), nullptr);
  std::string target = dir.Write("keep.xml", "old bytes");
  EXPECT_EQ(SaveXmlDocument(0, "", 0), 0);
  EXPECT_EQ(SaveXmlDocument(0, nullptr, 0), 0);
  EXPECT_EQ(SaveXmlDocument(7, target.c_str(), 0), 0);
  EXPECT_EQ(SaveXmlDocument(-1, target.c_str(), 0), 0);
  EXPECT_EQ(dir.Read("keep.xml"), "old bytes");
  EXPECT_EQ(SaveXmlDocument(0, dir.Path("no/such/folder/x.xml").c_str(), 0), 0);
}

TEST_F(XmlSaveTest, SavingTwiceGivesTheSameBytesAndLeavesTheDocument) {
  ASSERT_NE(Load("<a b=\"c\">\n  <d>e</d>\n</a>\n"), nullptr);
  std::string first = Save();
  EXPECT_EQ(Save(), first);
  EXPECT_EQ(first, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a b=\"c\">\n  <d>e</d>\n</a>\n");
}

std::size_t FilesIn(const std::filesystem::path& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

TEST_F(XmlSaveTest, AFailureAtAnyPointLeavesTheOldFileWhole) {
  std::string body;
  for (int i = 0; i < 600; ++i) body += "  <item n=\"" + std::to_string(i) + "\">&amp;</item>\n";
  ASSERT_NE(Load("<list>\n" + body + "</list>\n"), nullptr);
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><list>\n" + body + "</list>\n";
  const std::string old = "the old content\n";
  for (FaultyPlatform::Fault fault :
       {FaultyPlatform::Fault::Fail, FaultyPlatform::Fault::ShortWrite}) {
    FaultyPlatform faulty(NativePlatform());
    int fired = 0;
    for (std::int64_t n = 1; n < 1000; ++n) {
      std::string target = dir.Write("target.xml", old);
      faulty.FailAt(n, fault);
      std::int32_t result;
      {
        PlatformScope scope(faulty);
        result = SaveXmlDocument(0, target.c_str(), 0);
      }
      bool hit = faulty.Fired();
      // Nothing but the target is left in the folder (the loaded input aside).
      EXPECT_EQ(FilesIn(dir.Root()), 2u) << n;
      if (result) {
        EXPECT_EQ(dir.Read("target.xml"), expected) << n;
      } else {
        EXPECT_TRUE(hit);
        EXPECT_EQ(dir.Read("target.xml"), old) << "fault at " << n << " in " << faulty.FiredAt();
      }
      if (!hit) break;
      fired += result == 0;
    }
    EXPECT_GT(fired, 3);
  }
}

TEST_F(XmlSaveTest, ATemporaryFileLeftByAnInterruptedSaveIsReplaced) {
  ASSERT_NE(Load("<a/>"), nullptr);
  std::string target = dir.Write("t.xml", "old");
  dir.Write("t.xml.quillgate-new", "left over, and longer than the new content");
  EXPECT_EQ(SaveXmlDocument(0, target.c_str(), 0), 1);
  EXPECT_FALSE(dir.Exists("t.xml.quillgate-new"));
  EXPECT_EQ(dir.Read("t.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>");
}

TEST_F(XmlSaveTest, AMillionLevelsDeepLoadFindSaveAndFree) {
  constexpr int kDepth = 1000000;
  std::string file;
  file.reserve(kDepth * 7 + 8);
  for (int i = 0; i < kDepth; ++i) file += "<a>";
  file += "x";
  for (int i = 0; i < kDepth; ++i) file += "</a>";
  XmlDocument* document = Load(file);
  ASSERT_NE(document, nullptr);
  ASSERT_EQ(document->status, 0);
  std::string path;
  path.reserve(kDepth * 2);
  for (int i = 0; i < kDepth; ++i) path += "/a";
  XmlNode* deepest = FindNodeByPath(document->mainNode, path.c_str());
  ASSERT_NE(deepest, nullptr);
  EXPECT_EQ(deepest->firstChild, nullptr);
  EXPECT_STREQ(deepest->text, "x");
  // Relative from the document element: one level fewer below it.
  EXPECT_EQ(FindNodeByPath(document->mainNode, path.c_str() + 3), deepest);
  EXPECT_EQ(FindNodeByPath(document->mainNode, path.c_str() + 1), nullptr);
  EXPECT_EQ(Save(0, WithoutDeclaration), file);
  FreeXmlDocument(0);
  EXPECT_EQ(GetMainNode(0), nullptr);
}

// The unit writers take `maximum` as unsigned: 2 GiB and more, far beyond the
// text, write it to its terminator (the search for it must not wrap around
// the address space of a 32-bit process); a smaller maximum cuts the text.
TEST(XmlUnitWriterTest, MaximaOfTwoGibibytesAndMoreStopAtTheTerminator) {
  struct Writer {
    XmlTextWriter write;
    bool wide;
  };
  for (Writer writer :
       {Writer{ByteWriter, false}, Writer{Utf8Writer, false}, Writer{Utf16Writer, true}}) {
    for (std::int32_t maximum : {-1, INT32_MAX, INT32_MIN, -2, 2}) {
      SCOPED_TRACE(maximum);
      char buffer[kOutputBufferSize];
      XmlOutput output{buffer,       kOutputBufferSize,
                       writer.write, [](XmlOutput*) { return 0; },  // never needed
                       buffer,       0};
      ASSERT_EQ(writer.write("a<b", maximum, EscapeText, &output), 1);
      std::string expected = maximum == 2 ? "a&lt;" : "a&lt;b";
      EXPECT_EQ(std::string(buffer, output.cursor), writer.wide ? Widen(expected) : expected);
    }
  }
}

}  // namespace
}  // namespace qg::testing
