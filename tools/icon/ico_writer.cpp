#include "tools/icon/ico_writer.h"

#include <array>
#include <cstdint>
#include <map>
#include <sstream>
#include <stdexcept>

namespace kw {
namespace {

constexpr int kSize = 32;
// The 16 standard VGA colours, in the order of the Windows palette.
constexpr std::array<uint32_t, 16> kVga = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                           0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                           0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
constexpr int kTransparent = -1;

void Put(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(i < 4 ? (value >> (8 * i)) & 0xFF : 0);
}

}  // namespace

std::string IcoFromXpm(const char* const* xpm) {
  int width = 0, height = 0, colours = 0, perPixel = 0;
  std::istringstream header(xpm[0]);
  header >> width >> height >> colours >> perPixel;
  if (width != kSize || height != kSize || perPixel != 1 || colours < 1 || colours > 17) {
    throw std::invalid_argument("not a 32 x 32 XPM with one character a pixel");
  }
  std::map<char, int> index;
  for (int c = 1; c <= colours; ++c) {
    const std::string line = xpm[c];
    const size_t at = line.find(" c ");
    if (line.empty() || at == std::string::npos) throw std::invalid_argument("bad colour line");
    const std::string value = line.substr(at + 3);
    if (value == "None") {
      index[line[0]] = kTransparent;
      continue;
    }
    const uint32_t rgb = value.size() == 7 && value[0] == '#' ? std::stoul(value.substr(1), nullptr, 16) : 1u << 31;
    int found = -1;
    for (size_t i = 0; i < kVga.size(); ++i)
      if (kVga[i] == rgb) found = static_cast<int>(i);
    if (found < 0) throw std::invalid_argument("colour " + value + " is not a VGA colour");
    index[line[0]] = found;
  }

  constexpr uint32_t kXorBytes = kSize * kSize / 2;  // 4 bits a pixel; rows of 16 bytes
  constexpr uint32_t kAndBytes = kSize * 4;          // 1 bit a pixel; rows of 4 bytes
  constexpr uint32_t kImageBytes = 40 + 16 * 4 + kXorBytes + kAndBytes;
  std::string ico;
  Put(ico, 0, 2);  // icon directory
  Put(ico, 1, 2);
  Put(ico, 1, 2);
  ico += static_cast<char>(kSize);  // its one entry
  ico += static_cast<char>(kSize);
  ico += static_cast<char>(16);
  ico += static_cast<char>(0);
  Put(ico, 1, 2);   // planes
  Put(ico, 4, 2);   // bits a pixel
  Put(ico, kImageBytes, 4);
  Put(ico, 6 + 16, 4);
  Put(ico, 40, 4);  // the bitmap header; the height counts both masks
  Put(ico, kSize, 4);
  Put(ico, 2 * kSize, 4);
  Put(ico, 1, 2);
  Put(ico, 4, 2);
  Put(ico, 0, 4);
  Put(ico, kXorBytes + kAndBytes, 4);
  Put(ico, 0, 16);
  for (uint32_t rgb : kVga) Put(ico, ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | (rgb >> 16), 4);  // BGR0
  std::string andMask;
  for (int y = kSize - 1; y >= 0; --y) {  // rows bottom up
    const std::string row = xpm[1 + colours + y];
    if (row.size() != kSize) throw std::invalid_argument("row " + std::to_string(y) + " is not 32 pixels");
    uint32_t mask = 0;
    for (int x = 0; x < kSize; x += 2) {
      int pair[2];
      for (int k = 0; k < 2; ++k) {
        const auto it = index.find(row[x + k]);
        if (it == index.end()) throw std::invalid_argument("unknown pixel in row " + std::to_string(y));
        pair[k] = it->second;
        if (it->second == kTransparent) mask |= 0x80000000u >> (x + k);
      }
      ico += static_cast<char>(((pair[0] < 0 ? 0 : pair[0]) << 4) | (pair[1] < 0 ? 0 : pair[1]));
    }
    for (int b = 3; b >= 0; --b) andMask += static_cast<char>((mask >> (8 * b)) & 0xFF);
  }
  return ico + andMask;
}

}  // namespace kw
