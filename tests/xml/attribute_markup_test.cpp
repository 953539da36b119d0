// 8-bit text (the ANSI code page on Windows, UTF-8 elsewhere) turned into
// attribute markup with character references.
#include "xml/attribute_markup.h"

#include <gtest/gtest.h>

#include <string>

#include "system/platform.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/platform_scope.h"

namespace qg {
namespace {

// The text in this build's 8-bit form, or false when the code page has no
// bytes for it.
bool Narrow(const std::u32string& text, std::string* out) {
  std::u16string wide;
  for (char32_t c : text) {
    if (c >= 0x10000) {
      wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<char16_t>(c);
    }
  }
#ifdef _WIN32
  if (wide.empty()) return out->clear(), true;
  int size = Sys().WideCharToMultiByte(wide.c_str(), -1, nullptr, 0);
  if (size <= 0) return false;
  out->assign(static_cast<std::size_t>(size), '\0');
  Sys().WideCharToMultiByte(wide.c_str(), -1, out->data(), size);
  out->pop_back();
  std::u16string back(wide.size() + 1, u'\0');
  int units =
      Sys().MultiByteToWideChar(out->c_str(), -1, back.data(), static_cast<int>(back.size()));
  return units == static_cast<int>(wide.size()) + 1 && back.substr(0, wide.size()) == wide;
#else
  out->clear();
  for (char32_t c : text) {
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
#endif
}

TEST(AttributeMarkup, CharactersAboveAsciiBecomeReferences) {
  struct Case {
    const char* name;
    std::u32string text;
    std::string markup;
  } cases[] = {
      {"ASCII path", U"D:\\web\\mysite.local", "D:\\web\\mysite.local"},
      {"Cyrillic", U"E:\\\u041F\u0440\u043E\u0435\u043A\u0442\u044B\\",
       "E:\\&#x041F;&#x0440;&#x043E;&#x0435;&#x043A;&#x0442;&#x044B;\\"},
      {"accented Latin", U"caf\u00E9 J\u00F6rg", "caf&#x00E9; J&#x00F6;rg"},
      {"astral character, as its surrogates", U"a\U0001F600b", "a&#xD83D;&#xDE00;b"},
      {"sequence length limits", U"\u0080\u07FF\u0800\uFFFD\U0010FFFF",
       "&#x0080;&#x07FF;&#x0800;&#xFFFD;&#xDBFF;&#xDFFF;"},
      {"ASCII escaped as in values", U"a&b\"c'<d>\te\nf\rg",
       "a&amp;b&quot;c&apos;&lt;d&gt;&#9;e&#10;f&#13;g"},
      {"empty", U"", ""},
  };
  int checked = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string narrow;
    if (!Narrow(c.text, &narrow)) continue;  // not in this code page
    EXPECT_EQ(AttributeMarkupFromNarrow(narrow.c_str()), c.markup);
    ++checked;
  }
  EXPECT_GE(checked, 3);
  EXPECT_EQ(AttributeMarkupFromNarrow(nullptr), "");
}

// A system whose ANSI code page is not UTF-8: the text goes through
// MultiByteToWideChar (which takes bytes as the characters 0-255 on POSIX).
class Latin1CodePage : public testing::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  std::uint32_t GetACP() override { return 28591; }
  int MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) override {
    if (capacity == 0) return length;
    for (int i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(text[i]);
    return length;
  }
};

TEST(AttributeMarkup, OtherCodePagesGoThroughTheSystemConversion) {
  Latin1CodePage latin1(NativePlatform());
  testing::PlatformScope scope(latin1);
  EXPECT_EQ(AttributeMarkupFromNarrow("caf\xE9 & \xD0"), "caf&#x00E9; &amp; &#x00D0;");
}

#ifndef _WIN32
// Bytes that are not UTF-8 keep their bytes: the path is written as a plain
// value always was, escaped where it is ASCII.
TEST(AttributeMarkup, TextThatIsNotUtf8KeepsItsBytes) {
  struct Case {
    const char* name;
    std::string text;
    std::string markup;
  } cases[] = {
      {"Latin-1 byte", "caf\xE9 & co", "caf\xE9 &amp; co"},
      {"CP1251 bytes", "\xCF\xF0\xEE\xE5\xEA\xF2\xFB", "\xCF\xF0\xEE\xE5\xEA\xF2\xFB"},
      {"valid then invalid", "\xD0\x9F<\xFF", "\xD0\x9F&lt;\xFF"},
      {"overlong slash", "a\xC0\xAF", "a\xC0\xAF"},
      {"overlong three bytes", "\xE0\x80\xAF", "\xE0\x80\xAF"},
      {"encoded surrogate", "\xED\xA0\x80", "\xED\xA0\x80"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\xF4\x90\x80\x80"},
      {"cut short", "ab\xD0", "ab\xD0"},
      {"stray continuation", "\x80x", "\x80x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AttributeMarkupFromNarrow(c.text.c_str()), c.markup);
  }
}
#endif

}  // namespace
}  // namespace qg
