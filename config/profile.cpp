#include "config/profile.h"

#include <algorithm>
#include <cstdint>

#include "config/paths.h"
#include "platform/cp1252.h"

namespace kw {
namespace {

constexpr std::string_view kNotFound = "@@@NOTFOUND@@@";
constexpr uint32_t kBufferSize = 512;

std::string ProfilePath(const KwandorModul& m) {
  return Utf8ToCp1252(m.MandantDir) + "NoltData.ini";
}

}  // namespace

std::string NoltDataIniRead(Platform& p, const KwandorModul& m, std::string_view section,
                            std::string_view key, std::string_view defaultValue) {
  std::string buffer(kBufferSize, '\0');
  const uint32_t n = p.profiles.GetPrivateProfileStringA(Utf8ToCp1252(section), Utf8ToCp1252(key),
                                                         std::string(kNotFound), buffer.data(),
                                                         kBufferSize, ProfilePath(m));
  const std::string_view got(buffer.data(), std::min(n, kBufferSize - 1));
  // The key counts as missing when the buffer starts with the sentinel, so a
  // stored value that begins with it is taken for missing too.
  if (std::string_view(buffer.data(), kNotFound.size()) == kNotFound) {
    if (!defaultValue.empty()) NoltDataIniWrite(p, m, section, key, defaultValue);
    return std::string(defaultValue);
  }
  return TrimTrailingBlanks(Cp1252ToUtf8(got));
}

void NoltDataIniWrite(Platform& p, const KwandorModul& m, std::string_view section,
                      std::string_view key, std::string_view value) {
  p.profiles.WritePrivateProfileStringA(Utf8ToCp1252(section), Utf8ToCp1252(key),
                                        Utf8ToCp1252(value), ProfilePath(m));
}

}  // namespace kw
