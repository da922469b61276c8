#include "platform/jet/format/text_codec.h"

#include <gtest/gtest.h>

#include <vector>

namespace kw::jet {
namespace {

TEST(JetTextCodec, DecodesStoredTextOfEveryForm) {
  struct Case {
    std::vector<uint8_t> stored;
    std::string text;
  };
  const Case cases[] = {
      {{}, ""},
      {{0xFF, 0xFE}, ""},
      {{0xFF, 0xFE, 'C', 'H'}, "CH"},
      {{'0', 0, '1', 0}, "01"},
      {{'0', 0, '1'}, "0"},                             // a last odd byte is no character
      {{0xFF, 0xFE, 'Z', 0xFC, 'r'}, "Z\xC3\xBCr"},     // Latin-1 in compressed text
      {{'Z', 0, 0xFC, 0, 'r', 0}, "Z\xC3\xBCr"},
      {{'A', 0, 0xAC, 0x20}, "A\xE2\x82\xAC"},          // beyond Latin-1
      {{0xFF, 0xFE, 'A', 0, 0xAC, 0x20, 0, 'B'}, "A\xE2\x82\xAC" "B"},  // a run of plain units
      {{'A', 0x01, 'B', 0}, "\xC5\x81" "B"},
      // Surrogates: a pair is one character, one without its partner U+FFFD.
      {{0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
      {{0x3D, 0xD8, 'A', 0}, "\xEF\xBF\xBD" "A"},
      {{'A', 0, 0x00, 0xDE}, "A\xEF\xBF\xBD"},
      {{'A', 0, 0x3D, 0xD8}, "A\xEF\xBF\xBD"},
      {{0x3D, 0xD8, 0x3D, 0xD8, 0x00, 0xDE}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {{0xFF, 0xFE, 'x', 0, 0x3D, 0xD8, 0x01, 0xDE}, "x\xF0\x9F\x98\x81"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DecodeText(c.stored.data(), c.stored.size()), c.text) << c.text;
}

}  // namespace
}  // namespace kw::jet
