#include "platform/cp1252.h"

#include <gtest/gtest.h>

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
}

}  // namespace
}  // namespace kw
