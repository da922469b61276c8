#pragma once
// The registry store of the Windows build: advapi32 itself, in the 32-bit
// view (KEY_WOW64_32KEY), where the product, a 32-bit program, keeps its
// settings on 64-bit Windows. Keys are opened for reading only.
//
// The seam numbers keys with 32 bits: the four roots by their Windows
// values, opened keys by small numbers of this store's own, valid until
// closed. A number this store did not hand out is an invalid handle.
#include <windows.h>

#include <map>

#include "platform/registry.h"

namespace kw {

class Win32Registry : public RegistryStore {
 public:
  // k32: as the product, a 32-bit program, sees the registry (the program's
  // view); k64: every key at its own path.
  enum class View { k32, k64 };
  explicit Win32Registry(View view = View::k32) : view_(view == View::k32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY) {}
  ~Win32Registry() override;
  Win32Registry(const Win32Registry&) = delete;
  Win32Registry& operator=(const Win32Registry&) = delete;

  // RegOpenKeyExA; as RegOpenKeyA, a missing or empty sub-key gives the
  // parent itself.
  long RegOpenKeyA(RegKey parent, const std::optional<std::string>& subKey, RegKey& result) override;
  long RegQueryValueExA(RegKey key, const std::optional<std::string>& valueName, uint32_t* type,
                        uint8_t* data, uint32_t* size) override;
  long RegCloseKey(RegKey key) override;

  size_t OpenKeyCount() const { return open_.size(); }

 private:
  // The API's handle for a number; nullptr when there is none.
  HKEY Handle(RegKey key) const;

  REGSAM view_;
  std::map<RegKey, HKEY> open_;
  RegKey last_ = 0;  // the number handed out last
};

}  // namespace kw
