#include "platform/text_compare.h"

#include <gtest/gtest.h>

namespace kw {
namespace {

TEST(TextCompare, EqualAsJetComparesText) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"CH", "CH", true},       {"CH", "ch", true},       {"CH", "Ch", true},
      {"CH", "CH ", false},     {"CH", " CH", false},     {"01", "01", true},
      {"01", "010", false},     {"", "", true},           {"Zürich", "ZÜRICH", true},
      {"ÉCOLE", "école", true}, {"ŠŒŽŸ", "šœžÿ", true},   {"ß", "SS", false},
      {"×", "÷", false},        {"€", "€", true},         {"a", "á", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JetTextEqual(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(JetTextEqual(c.b, c.a), c.equal) << c.b << " / " << c.a;
    EXPECT_EQ(FoldText(c.a) == FoldText(c.b), c.equal) << c.a << " / " << c.b;
  }
}

TEST(TextCompare, OrdersByFoldedCodePoints) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"a", "B", -1},      {"B", "a", 1},        {"ab", "abc", -1},    {"ABC", "ab", 1},
      {"", "a", -1},       {"Zürich", "ZÜRICH", 0}, {"z", "Ä", -1},    {"Ä", "b", 1},
      {"ÿ", "Ÿ", 0},       {"€", "z", 1},         {"a", "á", -1},      {"CH", "ch", 0},
      {"[", "a", -1},      {"[", "A", -1},        {"Š", "š", 0},       {"Zz", "zZ", 0},
      {"abÄ", "ABä", 0},   {"abc", "abÄ", -1},    {"xÿ1", "XŸ2", -1},  {"Ä", "Äa", -1},
  };
  for (const Case& c : cases) {
    const int ab = JetTextCompare(c.a, c.b), ba = JetTextCompare(c.b, c.a);
    EXPECT_EQ((ab > 0) - (ab < 0), c.sign) << c.a << " / " << c.b;
    EXPECT_EQ((ba > 0) - (ba < 0), -c.sign) << c.b << " / " << c.a;
    EXPECT_EQ(JetTextEqual(c.a, c.b), c.sign == 0) << c.a << " / " << c.b;
  }
}

TEST(TextCompare, FoldingLeavesMalformedBytesAsTheyAre) {
  EXPECT_EQ(FoldText("A\xC3Z\xFF\xE2\x82" "Ä"), "a\xC3z\xFF\xE2\x82" "ä");
}

TEST(TextCompare, MalformedBytesCompareAsReplacementCharacters) {
  EXPECT_TRUE(JetTextEqual("\xC3", "\xFF"));
  EXPECT_FALSE(JetTextEqual("\xC3", "a"));
}

}  // namespace
}  // namespace kw
