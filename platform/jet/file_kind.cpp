#include "platform/jet/file_kind.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string_view>

namespace kw::jet {
namespace {

constexpr std::string_view kSqliteMagic{"SQLite format 3\0", 16};
constexpr std::string_view kJetName{"Standard Jet DB\0", 16};
constexpr std::string_view kAceName{"Standard ACE DB\0", 16};
constexpr std::string_view kMsisamName{"MSISAM Database", 15};
constexpr size_t kVersionAt = 0x14;

// The region of the definition page that Jet keeps masked with a fixed key.
constexpr size_t kMaskedAt = 0x18;
constexpr size_t kMaskedLength = 128;
constexpr std::array<uint8_t, 4> kMaskKey{0xC7, 0xDA, 0x39, 0x6B};
constexpr size_t kPageKeyAt = 0x3E;
constexpr size_t kPasswordAt = 0x42;
constexpr size_t kPasswordLength = 40;
constexpr size_t kCreatedAt = 0x72;

bool StartsWith(std::span<const uint8_t> b, size_t at, std::string_view s) {
  return b.size() >= at + s.size() && std::equal(s.begin(), s.end(), b.begin() + at,
                                                 [](char c, uint8_t x) { return static_cast<uint8_t>(c) == x; });
}

// The stream cipher Jet masks the region with (RC4).
void Unmask(uint8_t* data, size_t length) {
  std::array<uint8_t, 256> s;
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + kMaskKey[i % kMaskKey.size()]);
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0, b = 0;
  for (size_t k = 0; k < length; ++k) {
    a = static_cast<uint8_t>(a + 1);
    b = static_cast<uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    data[k] ^= s[static_cast<uint8_t>(s[a] + s[b])];
  }
}

}  // namespace

FileKind KindOf(std::span<const uint8_t> b) {
  if (b.empty()) return FileKind::kEmpty;
  if (StartsWith(b, 0, kSqliteMagic)) return FileKind::kSqlite;
  const bool jetPage0 = b.size() > kVersionAt && b[0] == 0 && b[1] == 1 && b[2] == 0 && b[3] == 0;
  if (!jetPage0) return FileKind::kUnknown;
  if (StartsWith(b, 4, kMsisamName)) return FileKind::kMsisam;
  if (StartsWith(b, 4, kAceName)) return FileKind::kAce;
  if (!StartsWith(b, 4, kJetName)) return FileKind::kUnknown;
  switch (b[kVersionAt]) {
    case 0: return FileKind::kJet3;
    case 1: return FileKind::kJet4;
    default: return FileKind::kAce;
  }
}

std::string RefusalOf(FileKind kind) {
  switch (kind) {
    case FileKind::kSqlite:
    case FileKind::kJet4: return "";
    case FileKind::kEmpty: return "is empty; it is not a database that can be converted.";
    case FileKind::kJet3:
      return "is a Jet 3 database; only Jet 4 databases can be converted.";
    case FileKind::kAce:
      return "is an Access 2007 or later (ACE) database; only Jet 4 databases can be converted.";
    case FileKind::kMsisam:
      return "is a Microsoft Money (MSISAM) database; only Jet 4 databases can be converted.";
    case FileKind::kUnknown: break;
  }
  return "is neither a Jet 4 nor an SQLite database; it cannot be converted.";
}

void ToggleDefinitionMask(std::span<uint8_t> page0) {
  if (page0.size() >= kMaskedAt + kMaskedLength) Unmask(page0.data() + kMaskedAt, kMaskedLength);
}

std::string LockedReason(std::span<const uint8_t> page0) {
  if (page0.size() < kMaskedAt + kMaskedLength) return "is too short to be a Jet 4 database.";
  std::array<uint8_t, kMaskedLength> region;
  std::copy_n(page0.begin() + kMaskedAt, kMaskedLength, region.begin());
  Unmask(region.data(), region.size());
  auto at = [&](size_t offset) { return region[offset - kMaskedAt]; };
  for (size_t i = 0; i < 4; ++i)
    if (at(kPageKeyAt + i) != 0)
      return "has encoded (encrypted) pages; only databases without encoding can be converted.";
  // The password is kept masked again with the creation date's day number.
  double created = 0;
  std::array<uint8_t, 8> dateBytes;
  for (size_t i = 0; i < 8; ++i) dateBytes[i] = at(kCreatedAt + i);
  std::memcpy(&created, dateBytes.data(), sizeof created);
  uint32_t day = 0;
  if (std::isfinite(created) && created > -2147483648.0 && created < 2147483648.0)
    day = static_cast<uint32_t>(static_cast<int32_t>(std::floor(created)));
  for (size_t i = 0; i < kPasswordLength; ++i) {
    const auto mask = static_cast<uint8_t>(day >> (8 * (i % 4)));
    if ((at(kPasswordAt + i) ^ mask) != 0)
      return "is protected by a database password; only databases without a password can be "
             "converted.";
  }
  return "";
}

}  // namespace kw::jet
