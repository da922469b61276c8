#include "platform/win32/win32_registry.h"

namespace kw {
namespace {

// Numbers from this one on are the predefined roots.
constexpr RegKey kFirstRoot = 0x80000000u;

}  // namespace

Win32Registry::~Win32Registry() {
  for (const auto& entry : open_) ::RegCloseKey(entry.second);
}

HKEY Win32Registry::Handle(RegKey key) const {
  switch (key) {
    case kHkeyClassesRoot: return HKEY_CLASSES_ROOT;
    case kHkeyCurrentUser: return HKEY_CURRENT_USER;
    case kHkeyLocalMachine: return HKEY_LOCAL_MACHINE;
    case kHkeyUsers: return HKEY_USERS;
    default: break;
  }
  const auto it = open_.find(key);
  return it == open_.end() ? nullptr : it->second;
}

long Win32Registry::RegOpenKeyA(RegKey parent, const std::optional<std::string>& subKey, RegKey& result) {
  const HKEY from = Handle(parent);
  if (from == nullptr) return kErrorInvalidHandle;
  if (!subKey || subKey->empty()) {
    result = parent;
    return kErrorSuccess;
  }
  HKEY opened = nullptr;
  const LONG rc = ::RegOpenKeyExA(from, subKey->c_str(), 0, KEY_READ | view_, &opened);
  if (rc != ERROR_SUCCESS) return rc;
  // Numbers below the roots, never 0, never one still in use.
  do {
    if (++last_ >= kFirstRoot) last_ = 1;
  } while (open_.count(last_) != 0);
  result = last_;
  open_[result] = opened;
  return kErrorSuccess;
}

long Win32Registry::RegQueryValueExA(RegKey key, const std::optional<std::string>& valueName,
                                     uint32_t* type, uint8_t* data, uint32_t* size) {
  const HKEY h = Handle(key);
  if (h == nullptr) return kErrorInvalidHandle;
  DWORD t = type != nullptr ? *type : 0;
  DWORD n = size != nullptr ? *size : 0;
  const LONG rc = ::RegQueryValueExA(h, valueName ? valueName->c_str() : nullptr, nullptr,
                                     type != nullptr ? &t : nullptr, data,
                                     size != nullptr ? &n : nullptr);
  if (type != nullptr) *type = t;
  if (size != nullptr) *size = n;
  return rc;
}

long Win32Registry::RegCloseKey(RegKey key) {
  if (key >= kFirstRoot) return Handle(key) != nullptr ? kErrorSuccess : kErrorInvalidHandle;
  const auto it = open_.find(key);
  if (it == open_.end()) return kErrorInvalidHandle;
  const LONG rc = ::RegCloseKey(it->second);
  open_.erase(it);
  return rc;
}

}  // namespace kw
