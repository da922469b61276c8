#include "platform/cp1252.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace kw {
namespace {

TEST(Cp1252, RoundTripsEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(Cp1252, DecodesUmlautsAndTheEuroSign) {
  EXPECT_EQ(Cp1252ToUtf8("M\xfcller \x80"), "Müller €");
  EXPECT_EQ(Utf8ToCp1252("Größe €"), "Gr\xf6\xdf" "e \x80");
}

TEST(Cp1252, UnmappableAndBrokenInputBecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1252("a\xe2\x88\x9e" "b"), "a?b");  // ∞ has no byte
  EXPECT_EQ(Utf8ToCp1252("a\xc3"), "a?");              // cut sequence
  EXPECT_EQ(Utf8ToCp1252("\xff" "x"), "?x");
  EXPECT_EQ(Utf8ToCp1252("\xe2\x82" "x"), "??x");  // one mark a byte of a broken sequence
}

TEST(Cp1252, NextUtf8StepsOverOneByteOfABrokenSequence) {
  struct Case {
    const char* text;
    std::vector<uint32_t> codePoints;
  } cases[] = {
      {"a\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80", {'a', 0xE4, 0x20AC, 0x1F600}},
      {"\xe2\x82x", {0xFFFD, 0xFFFD, 'x'}},  // lead, then a stray continuation
      {"\xc3", {0xFFFD}},                     // cut at the end
      {"\xf0\x9f\x98", {0xFFFD, 0xFFFD, 0xFFFD}},
      {"\xff\x80", {0xFFFD, 0xFFFD}},
      {"\xc3x", {0xFFFD, 'x'}},
  };
  for (const Case& c : cases) {
    const std::string_view s(c.text);
    std::vector<uint32_t> got;
    for (size_t i = 0; i < s.size();) got.push_back(NextUtf8(s, i));
    EXPECT_EQ(got, c.codePoints) << c.text;
  }
}

}  // namespace
}  // namespace kw
