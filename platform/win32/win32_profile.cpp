#include "platform/win32/win32_profile.h"

#include <windows.h>

namespace kw {
namespace {

const char* OrNull(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

}  // namespace

uint32_t Win32ProfileFiles::GetPrivateProfileStringA(const std::optional<std::string>& section,
                                                     const std::optional<std::string>& key,
                                                     const std::optional<std::string>& defaultValue,
                                                     char* buffer, uint32_t size,
                                                     const std::string& fileName) {
  return ::GetPrivateProfileStringA(OrNull(section), OrNull(key), OrNull(defaultValue), buffer, size,
                                    fileName.c_str());
}

bool Win32ProfileFiles::WritePrivateProfileStringA(const std::string& section,
                                                   const std::optional<std::string>& key,
                                                   const std::optional<std::string>& value,
                                                   const std::string& fileName) {
  return ::WritePrivateProfileStringA(section.c_str(), OrNull(key), OrNull(value), fileName.c_str()) != 0;
}

}  // namespace kw
