#include "tools/jet/jet_header.h"

#include <cmath>
#include <cstring>

#include "platform/jet/format/definition_page.h"
#include "platform/jet/format/page.h"

namespace kw::jetw {
Bytes DatabaseDefinitionPage(DateTime created) {
  using namespace jet::definition_page;
  Bytes page(jet::kPageSize, 0);
  uint8_t* p = page.data();
  jet::SetPageType(p, jet::kDefinitionPageType);
  std::memcpy(p + kFormatName, jet::kJetFormatName.data(), jet::kJetFormatName.size());
  jet::Put32(p + kVersion, jet::kJet4Version);
  // Words that every Jet 4 file has here.
  jet::Put16(p + 0x19, 1);
  jet::Put16(p + 0x1C, 0x0101);
  for (uint32_t k = 2; k <= 5; ++k) jet::Put32(p + kMasked + 4 * k, k);
  jet::Put16(p + kCodePage, 1252);
  jet::Put32(p + kEncodingKey, 0);
  // An empty password, masked with the whole days of the creation date.
  uint32_t days = static_cast<uint32_t>(static_cast<int32_t>(std::floor(created.days)));
  for (size_t off = 0; off < kPasswordLength; off += 4) jet::Put32(p + kPassword + off, days);
  jet::Put16(p + 0x6A, 0x21AA);
  jet::Put32(p + kSortOrder, jet::kGeneralSortOrder);
  jet::PutDouble(p + kCreated, created.days);
  jet::ToggleDefinitionMask(page);
  jet::Put32(p + 0x98, 0x0654);
  std::memcpy(p + 0x9C, "4.0", 4);
  return page;
}

}  // namespace kw::jetw
