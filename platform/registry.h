#pragma once
// Registry store seam: the three advapi32 calls the registry module uses, in
// their 8-bit (ANSI) form. Texts are bytes in code page 1252. Results are
// Windows error codes (0 = success).
#include <cstdint>
#include <optional>
#include <string>

namespace kw {

using RegKey = uint32_t;
constexpr RegKey kHkeyClassesRoot = 0x80000000u;
constexpr RegKey kHkeyCurrentUser = 0x80000001u;
constexpr RegKey kHkeyLocalMachine = 0x80000002u;
constexpr RegKey kHkeyUsers = 0x80000003u;

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorBadPathname = 161;
constexpr long kErrorMoreData = 234;

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;
  // RegOpenKeyA. subKey nullopt = NULL (opens the parent itself).
  virtual long RegOpenKeyA(RegKey parent, const std::optional<std::string>& subKey, RegKey& result) = 0;
  // RegQueryValueExA. valueName nullopt or "" = the default value. type, data
  // and size may be null as in the API; *size is in and out.
  virtual long RegQueryValueExA(RegKey key, const std::optional<std::string>& valueName,
                                uint32_t* type, uint8_t* data, uint32_t* size) = 0;
  virtual long RegCloseKey(RegKey key) = 0;
};

}  // namespace kw
