// The reference reader and speller of xml/references.h.
#include "xml/references.h"

#include <gtest/gtest.h>

#include <string>

namespace qg {
namespace {

TEST(ReadReference, ReadsHexAndDecimalInAnyCaseAndRefusesTheRest) {
  struct Case {
    const char* text;
    ReferenceRead found;
    char32_t code;
    std::size_t length;
  } cases[] = {
      {"&#x1F600;", ReferenceRead::Found, 0x1F600, 9},
      {"&#x1f600;", ReferenceRead::Found, 0x1F600, 9},
      {"&#xaBcD;", ReferenceRead::Found, 0xABCD, 8},
      {"&#128512;", ReferenceRead::Found, 0x1F600, 9},
      {"&#x0000000000000000000000041;", ReferenceRead::Found, 0x41, 29},
      {"&#9;tail", ReferenceRead::Found, 9, 4},
      {"&#xD83D;&#xDE00;", ReferenceRead::Found, 0xD83D, 8},
      {"&#x10FFFF;", ReferenceRead::Found, 0x10FFFF, 10},
      {"&#1114111;", ReferenceRead::Found, 0x10FFFF, 10},
      {"&#x110000;", ReferenceRead::None, 0, 0},
      {"&#1114112;", ReferenceRead::None, 0, 0},
      {"&#xFFFFFFFFF;", ReferenceRead::None, 0, 0},
      {"&#X41;", ReferenceRead::None, 0, 0},  // only a small x starts hex
      {"&#4a;", ReferenceRead::None, 0, 0},
      {"&#x4G;", ReferenceRead::None, 0, 0},
      {"&#x41 ;", ReferenceRead::None, 0, 0},
      {"&#;", ReferenceRead::None, 0, 0},
      {"&#x;", ReferenceRead::None, 0, 0},
      {"&amp;", ReferenceRead::None, 0, 0},
      {"x&#65;", ReferenceRead::None, 0, 0},
      {"", ReferenceRead::Incomplete, 0, 0},
      {"&", ReferenceRead::Incomplete, 0, 0},
      {"&#", ReferenceRead::Incomplete, 0, 0},
      {"&#x", ReferenceRead::Incomplete, 0, 0},
      {"&#x1F6", ReferenceRead::Incomplete, 0, 0},
      {"&#1280", ReferenceRead::Incomplete, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    char32_t code = 0xBAD;
    std::size_t length = 99;
    EXPECT_EQ(ReadReference(text.data(), text.size(), &code, &length), c.found);
    if (c.found == ReferenceRead::Found) {
      EXPECT_EQ(code, c.code);
      EXPECT_EQ(length, c.length);
      // Cut anywhere before its ';', it cannot be told yet.
      for (std::size_t cut = 0; cut < c.length; ++cut)
        EXPECT_EQ(ReadReference(text.data(), cut, &code, &length), ReferenceRead::Incomplete)
            << cut;
    }
  }
}

TEST(SpellReference, UpperCaseHexOfAtLeastFourDigitsOneOrAsThePair) {
  struct Case {
    char32_t code;
    const char* single;
    const char* utf16;
  } cases[] = {
      {0, "&#x0000;", "&#x0000;"},
      {'A', "&#x0041;", "&#x0041;"},
      {0xE9, "&#x00E9;", "&#x00E9;"},
      {0x41F, "&#x041F;", "&#x041F;"},
      {0xFFFF, "&#xFFFF;", "&#xFFFF;"},
      {0xD83D, "&#xD83D;", "&#xD83D;"},  // a lone surrogate is its number
      {0x10000, "&#x10000;", "&#xD800;&#xDC00;"},
      {0x1F600, "&#x1F600;", "&#xD83D;&#xDE00;"},
      {0x20BB7, "&#x20BB7;", "&#xD842;&#xDFB7;"},
      {0x10FFFF, "&#x10FFFF;", "&#xDBFF;&#xDFFF;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.single);
    char spelled[kLongestReference];
    std::size_t length = PutReference(c.code, spelled);
    EXPECT_EQ(std::string(spelled, length), c.single);
    EXPECT_EQ(PutReference(c.code, nullptr), length);
    EXPECT_LE(length, kLongestSingleReference);
    length = PutUtf16References(c.code, spelled);
    EXPECT_EQ(std::string(spelled, length), c.utf16);
    EXPECT_EQ(PutUtf16References(c.code, nullptr), length);
    std::string text = "x";
    AppendReference(&text, c.code);
    EXPECT_EQ(text, std::string("x") + c.single);
    text = "y";
    AppendUtf16References(&text, c.code);
    EXPECT_EQ(text, std::string("y") + c.utf16);
  }
}

// What one spells, the other reads back: the number, or the pair's
// character.
TEST(SpellReference, ReadsBackAsTheCharacter) {
  for (char32_t code = 0; code <= 0x10FFFF; code += code < 0x20000 ? 0x3F : 0x1FFF) {
    std::string one, two;
    AppendReference(&one, code);
    AppendUtf16References(&two, code);
    char32_t read = 0, low = 0;
    std::size_t length = 0, lowLength = 0;
    ASSERT_EQ(ReadReference(one.data(), one.size(), &read, &length), ReferenceRead::Found);
    EXPECT_EQ(read, code);
    EXPECT_EQ(length, one.size());
    ASSERT_EQ(ReadReference(two.data(), two.size(), &read, &length), ReferenceRead::Found);
    if (code > 0xFFFF) {
      ASSERT_TRUE(IsHighSurrogate(read));
      ASSERT_EQ(ReadReference(two.data() + length, two.size() - length, &low, &lowLength),
                ReferenceRead::Found);
      ASSERT_TRUE(IsLowSurrogate(low));
      EXPECT_EQ(JoinSurrogates(read, low), code);
      EXPECT_EQ(length + lowLength, two.size());
    } else {
      EXPECT_EQ(read, code);
      EXPECT_EQ(length, two.size());
    }
  }
}

}  // namespace
}  // namespace qg
