#pragma once
// Registry store seam: the three advapi32 calls the registry module uses, in
// their 8-bit (ANSI) form. Texts are bytes in code page 1252. Results are
// Windows error codes (0 = success).
#include <cstdint>
#include <optional>
#include <string>

namespace kw {

using HKEY = uint32_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;

constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_INVALID_HANDLE = 6;
constexpr long ERROR_BAD_PATHNAME = 161;
constexpr long ERROR_MORE_DATA = 234;

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;
  // RegOpenKeyA. subKey nullopt = NULL (opens the parent itself).
  virtual long RegOpenKeyA(HKEY parent, const std::optional<std::string>& subKey, HKEY& result) = 0;
  // RegQueryValueExA. valueName nullopt or "" = the default value. type, data
  // and size may be null as in the API; *size is in and out.
  virtual long RegQueryValueExA(HKEY key, const std::optional<std::string>& valueName,
                                uint32_t* type, uint8_t* data, uint32_t* size) = 0;
  virtual long RegCloseKey(HKEY key) = 0;
};

}  // namespace kw
