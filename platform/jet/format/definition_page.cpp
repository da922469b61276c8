#include "platform/jet/format/definition_page.h"

#include <array>
#include <utility>

namespace kw::jet {

void ToggleDefinitionMask(std::span<uint8_t> page0) {
  using namespace definition_page;
  if (page0.size() < kMasked + kMaskedLength) return;
  static constexpr std::array<uint8_t, 4> kMaskKey{0xC7, 0xDA, 0x39, 0x6B};
  std::array<uint8_t, 256> s;
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + kMaskKey[i % kMaskKey.size()]);
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0, b = 0;
  uint8_t* data = page0.data() + kMasked;
  for (size_t k = 0; k < kMaskedLength; ++k) {
    a = static_cast<uint8_t>(a + 1);
    b = static_cast<uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    data[k] ^= s[static_cast<uint8_t>(s[a] + s[b])];
  }
}

}  // namespace kw::jet
