#include "tools/jet/jet_header.h"

#include <cmath>
#include <cstring>

#include "platform/jet/file_kind.h"

namespace kw::jetw {
Bytes DatabaseDefinitionPage(DateTime created) {
  Bytes page(kPageSize, 0);
  uint8_t* p = page.data();
  Put32(p, 0x00000100);
  std::memcpy(p + 4, "Standard Jet DB", 16);
  Put32(p + 0x14, 1);  // Jet 4
  // Words that every Jet 4 file has here.
  Put16(p + 0x19, 1);
  Put16(p + 0x1C, 0x0101);
  for (uint32_t k = 2; k <= 5; ++k) Put32(p + 0x18 + 4 * k, k);
  Put16(p + 0x3C, 1252);  // code page
  Put32(p + 0x3E, 0);     // no encoding key
  // An empty password, masked with the whole days of the creation date.
  uint32_t days = static_cast<uint32_t>(static_cast<int32_t>(std::floor(created.days)));
  for (size_t off = 0; off < 40; off += 4) Put32(p + 0x42 + off, days);
  Put16(p + 0x6A, 0x21AA);
  Put32(p + 0x6E, 0x0409);  // General sort order
  PutDouble(p + 0x72, created.days);
  kw::jet::ToggleDefinitionMask(page);
  Put32(p + 0x98, 0x0654);
  std::memcpy(p + 0x9C, "4.0", 4);
  return page;
}

}  // namespace kw::jetw
