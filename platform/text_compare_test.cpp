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

TEST(TextCompare, MalformedBytesCompareAsReplacementCharacters) {
  EXPECT_TRUE(JetTextEqual("\xC3", "\xFF"));
  EXPECT_FALSE(JetTextEqual("\xC3", "a"));
}

}  // namespace
}  // namespace kw
