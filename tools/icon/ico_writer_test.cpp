#include "tools/icon/ico_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/icon_xpm.h"

namespace kw {
namespace {

TEST(IcoWriter, TheWindowsIconResourceIsTheProgramsIcon) {
  std::ifstream in(std::string(KW_SOURCE_DIR) + "/platform/win32/kwandor_upd.ico", std::ios::binary);
  const std::string committed{std::istreambuf_iterator<char>(in), {}};
  EXPECT_TRUE(committed == IcoFromXpm(kIconXpm))
      << "platform/win32/kwandor_upd.ico is out of date: make it anew with build/make_icon";
}

TEST(IcoWriter, PixelsAndTransparencyLandWhereWindowsReadsThem) {
  std::vector<std::string> rows(32, std::string(32, '.'));
  rows[0][0] = 'r';   // top left: the last row of the bottom-up bitmap
  rows[31][31] = 'w';  // bottom right: the first row
  std::vector<const char*> xpm = {"32 32 3 1", ". c None", "r c #FF0000", "w c #FFFFFF"};
  for (const auto& r : rows) xpm.push_back(r.c_str());
  const std::string ico = IcoFromXpm(xpm.data());
  ASSERT_EQ(ico.size(), 6u + 16u + 40u + 64u + 512u + 128u);
  const size_t xorAt = 6 + 16 + 40 + 64, andAt = xorAt + 512;
  EXPECT_EQ(static_cast<uint8_t>(ico[xorAt + 15]), 0x0F);       // white, colour 15, last pixel of row 0
  EXPECT_EQ(static_cast<uint8_t>(ico[xorAt + 31 * 16]), 0x90);  // red, colour 9, first pixel of the top row
  EXPECT_EQ(static_cast<uint8_t>(ico[andAt + 3]), 0xFE);         // the white pixel is opaque
  EXPECT_EQ(static_cast<uint8_t>(ico[andAt + 31 * 4]), 0x7F);    // and so is the red one
  EXPECT_EQ(static_cast<uint8_t>(ico[andAt + 4]), 0xFF);          // the rest is transparent
}

TEST(IcoWriter, PicturesItCannotHoldAreRefused) {
  std::vector<std::string> rows(32, std::string(32, 'x'));
  std::vector<const char*> xpm = {"32 32 1 1", "x c #123456"};
  for (const auto& r : rows) xpm.push_back(r.c_str());
  EXPECT_THROW(IcoFromXpm(xpm.data()), std::invalid_argument);
  xpm[0] = "16 16 1 1";
  EXPECT_THROW(IcoFromXpm(xpm.data()), std::invalid_argument);
}

}  // namespace
}  // namespace kw
