#include "platform/jet/file_kind.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string_view>

#include "platform/jet/format/definition_page.h"

namespace kw::jet {
namespace {

constexpr std::string_view kSqliteMagic{"SQLite format 3\0", 16};

bool StartsWith(std::span<const uint8_t> b, size_t at, std::string_view s) {
  return b.size() >= at + s.size() && std::equal(s.begin(), s.end(), b.begin() + at,
                                                 [](char c, uint8_t x) { return static_cast<uint8_t>(c) == x; });
}

}  // namespace

FileKind KindOf(std::span<const uint8_t> b) {
  using namespace definition_page;
  if (b.empty()) return FileKind::kEmpty;
  if (StartsWith(b, 0, kSqliteMagic)) return FileKind::kSqlite;
  const bool jetPage0 = b.size() > kVersion && b[0] == 0 && b[1] == 1 && b[2] == 0 && b[3] == 0;
  if (!jetPage0) return FileKind::kUnknown;
  if (StartsWith(b, kFormatName, kMsisamFormatName)) return FileKind::kMsisam;
  if (StartsWith(b, kFormatName, kAceFormatName)) return FileKind::kAce;
  if (!StartsWith(b, kFormatName, kJetFormatName)) return FileKind::kUnknown;
  switch (b[kVersion]) {
    case 0: return FileKind::kJet3;
    case kJet4Version: return FileKind::kJet4;
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

std::string LockedReason(std::span<const uint8_t> page0) {
  using namespace definition_page;
  if (page0.size() < kMasked + kMaskedLength) return "is too short to be a Jet 4 database.";
  std::array<uint8_t, kMasked + kMaskedLength> head;
  std::copy_n(page0.begin(), head.size(), head.begin());
  ToggleDefinitionMask(head);
  auto at = [&](size_t offset) { return head[offset]; };
  for (size_t i = 0; i < 4; ++i)
    if (at(kEncodingKey + i) != 0)
      return "has encoded (encrypted) pages; only databases without encoding can be converted.";
  // The password is kept masked again with the creation date's day number.
  double created = 0;
  std::array<uint8_t, 8> dateBytes;
  for (size_t i = 0; i < 8; ++i) dateBytes[i] = at(kCreated + i);
  std::memcpy(&created, dateBytes.data(), sizeof created);
  uint32_t day = 0;
  if (std::isfinite(created) && created > -2147483648.0 && created < 2147483648.0)
    day = static_cast<uint32_t>(static_cast<int32_t>(std::floor(created)));
  for (size_t i = 0; i < kPasswordLength; ++i) {
    const auto mask = static_cast<uint8_t>(day >> (8 * (i % 4)));
    if ((at(kPassword + i) ^ mask) != 0)
      return "is protected by a database password; only databases without a password can be "
             "converted.";
  }
  return "";
}

}  // namespace kw::jet
