#pragma once
// The database definition page (page 0): the format's name and version,
// then, from 0x18 on, 128 bytes that Jet keeps masked with a fixed key
// stream (RC4 with the key C7 DA 39 6B; mdbtools' HACKING.md, Jackcess'
// JetFormat), holding the code page, the key of encoded pages, the
// password and the sort order of new text columns.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kw::jet {

namespace definition_page {
inline constexpr size_t kFormatName = 0x04;    // 16 bytes: "Standard Jet DB\0", or ACE's, MSISAM's
inline constexpr size_t kVersion = 0x14;       // 0: Jet 3, 1: Jet 4, 2 and more: ACE
inline constexpr size_t kMasked = 0x18;        // the masked region
inline constexpr size_t kMaskedLength = 128;
// Inside the masked region:
inline constexpr size_t kCodePage = 0x3C;      // u16
inline constexpr size_t kEncodingKey = 0x3E;   // u32, 0 when the pages are not encoded
inline constexpr size_t kPassword = 0x42;      // 40 bytes, masked again with kCreated's whole days
inline constexpr size_t kPasswordLength = 40;
inline constexpr size_t kSortOrder = 0x6E;     // u32, kGeneralSortOrder
inline constexpr size_t kCreated = 0x72;       // a date (days since 1899-12-30, a double)
}  // namespace definition_page

inline constexpr std::string_view kJetFormatName{"Standard Jet DB\0", 16};
inline constexpr std::string_view kAceFormatName{"Standard ACE DB\0", 16};
inline constexpr std::string_view kMsisamFormatName{"MSISAM Database", 15};
inline constexpr uint8_t kJet4Version = 1;
// The sort order "General" of Access 2000 to 2007, of the file and of its
// text columns (code 1033, version 0); index_key.h makes its keys.
inline constexpr uint16_t kGeneralSortOrder = 0x0409;

// Applies the mask to a definition page's masked region; applied again, it
// removes it. A page shorter than that is left alone.
void ToggleDefinitionMask(std::span<uint8_t> page0);

}  // namespace kw::jet
