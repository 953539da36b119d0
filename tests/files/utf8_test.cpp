#include "files/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace qg {
namespace {

std::string Narrow(const std::string& utf8) {
  std::size_t n = NarrowFromUtf8(utf8.data(), utf8.size(), nullptr, 0);
  std::string out(n, '\0');
  EXPECT_EQ(NarrowFromUtf8(utf8.data(), utf8.size(), out.data(), out.size()), n);
  return out;
}

std::string Wide(const std::string& narrow) {
  std::string out(narrow.size() * 4, '\0');
  out.resize(Utf8FromNarrow(narrow.data(), narrow.size(), out.data(), out.size()));
  return out;
}

TEST(NarrowFromUtf8, DecodesEverySequenceKind) {
  struct Case {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"ascii", "abc", "abc"},
      {"latin1 e-acute", "\xC3\xA9", "\xE9"},
      {"two-byte above 255", "\xC4\x80", "?"},
      {"lead without continuation",
       "\xC3"
       "a",
       "?a"},
      {"three-byte euro", "\xE2\x82\xAC", "?"},
      {"three-byte, second not continuation",
       "\xE2\x82"
       "ab",
       "?ab"},
      {"three-byte, first not continuation",
       "\xE2"
       "abc",
       "?abc"},
      {"four-byte", "\xF0\x9F\x98\x80x", "?x"},
      {"four-byte cut after two",
       "\xF0\x9F\x98"
       "ab",
       "?ab"},
      {"stray continuation skipped",
       "a\x80"
       "b",
       "ab"},
      {"0xF8 skipped", "\xF8z", "z"},
      {"lead at end skipped", "a\xC3", "a"},
      {"three-byte lead too close to end", "a\xE2\x82", "a"},
      {"byte-order mark", "\xEF\xBB\xBFx", "?x"},
  };
  for (const auto& c : cases) EXPECT_EQ(Narrow(c.in), c.out) << c.name;
}

// Well-formed means shortest form and a Unicode scalar value; the sizes are
// the ones NarrowFromUtf8 steps by.
TEST(DecodeUtf8, TellsWellFormedSequencesFromOthers) {
  struct Case {
    std::string in;
    char32_t code;
    unsigned size;
    bool wellFormed;
  } cases[] = {
      {"A", U'A', 1, true},
      {"\xD0\x9F", 0x41F, 2, true},
      {"\xF0\x9F\x98\x80", 0x1F600, 4, true},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},
      {"\xC0\xAF", 0x2F, 2, false},        // overlong
      {"\xE0\x80\xAF", 0x2F, 3, false},    // overlong
      {"\xED\xA0\x80", 0xD800, 3, false},  // surrogate
      {"\xF4\x90\x80\x80", 0x110000, 4, false},
      {"\xE2\x82x", 0, 2, false},  // cut by a non-continuation byte
      {"\x80", 0, 1, false},       // stray
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    Utf8Sequence sequence = DecodeUtf8(c.in.data(), c.in.size());
    EXPECT_EQ(sequence.size, c.size);
    EXPECT_EQ(sequence.wellFormed, c.wellFormed);
    if (sequence.complete) {
      EXPECT_EQ(sequence.code, c.code);
    }
  }
}

TEST(Utf8FromNarrow, EncodesCodePointsAndStopsAtCapacity) {
  EXPECT_EQ(Wide("A\xE9\xFF"), "A\xC3\xA9\xC3\xBF");
  EXPECT_EQ(Wide(std::string(1, '\x80')), "\xC2\x80");
  char out[3];
  // Room for "a" and one two-byte sequence, not for the second.
  EXPECT_EQ(Utf8FromNarrow("a\xE9\xE9", 3, out, sizeof out), 3u);
  EXPECT_EQ(std::string(out, 3), "a\xC3\xA9");
}

TEST(Utf8RoundTrip, EveryByteSurvives) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Narrow(Wide(all)), all);
}

// UTF-16 and UTF-8 both ways: each well-formed text the same in the other
// form; a lone surrogate, or bytes that are not UTF-8, refused.
TEST(Utf8AndWide, ConvertWellFormedTextsAndRefuseTheRest) {
  struct Case {
    const char* name;
    std::u16string wide;
    std::string utf8;
    bool wellFormed;
  } cases[] = {
      {"empty", u"", "", true},
      {"ascii path", u"E:\\bundle\\", "E:\\bundle\\", true},
      {"cyrillic", u"\u041F\u0440\u043E\u0435\u043A\u0442\u044B",
       "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B", true},
      {"two and three bytes", u"\u00E9\u20AC", "\xC3\xA9\xE2\x82\xAC", true},
      {"surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80", true},
      {"lone high surrogate", u"a\xD83D", "", false},
      {"lone low surrogate",
       u"\xDE00"
       u"b",
       "", false},
  };
  for (const Case& c : cases) {
    std::string utf8 = "old";
    EXPECT_EQ(Utf8FromWide(c.wide, &utf8), c.wellFormed) << c.name;
    EXPECT_EQ(utf8, c.utf8) << c.name;
    if (!c.wellFormed) continue;
    std::u16string wide = u"old";
    EXPECT_TRUE(WideFromUtf8(c.utf8, &wide)) << c.name;
    EXPECT_EQ(wide, c.wide) << c.name;
  }
  const char* malformed[] = {"caf\xE9",   "\xC0\xAF",         "\xED\xA0\x80",
                             "a\xE2\x82", "\xF4\x90\x80\x80", "\x80"};
  for (const char* bytes : malformed) {
    std::u16string wide = u"old";
    EXPECT_FALSE(WideFromUtf8(bytes, &wide)) << bytes;
    EXPECT_TRUE(wide.empty());
  }
}

}  // namespace
}  // namespace qg
