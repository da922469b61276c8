#include "config/reg_edit.h"

#include <new>

#include "config/paths.h"
#include "platform/cp1252.h"

namespace kw {
namespace {

// Runs one step; an unexpected error in it is passed over and the caller goes
// on with its next step.
template <class F>
void Step(F&& f) {
  try {
    f();
  } catch (...) {
  }
}

}  // namespace

std::string RegRead(Platform& p, const KwandorModul& m, RegEditState& s, std::string_view keyword,
                    std::string_view subKey, std::string_view valueName,
                    std::string_view defaultValue) {
  RegKey handle = 0;
  bool open = false;
  try {
    std::string sub(subKey);
    AddKeySlash(sub);
    RegKey root = 0;
    std::string basePath, keywordPath;
    const std::string path = RegKeywordPath(p.window, m, keyword, root, basePath, keywordPath)
                                 ? basePath + keywordPath + sub
                                 : sub;
    if (!RegOpen(p.registry, s, root, path, handle)) return std::string(defaultValue);
    open = true;
    std::string value;
    std::string result = RegQueryString(p.registry, handle, valueName, value)
                             ? TrimTrailingBlanks(value)
                             : std::string(defaultValue);
    open = false;
    RegClose(p.registry, handle);
    return result;
  } catch (...) {
    // The call ends with the empty text; a key it had opened is still closed.
    if (open) Step([&] { p.registry.RegCloseKey(handle); });
    return std::string();
  }
}

bool RegKeywordPath(WindowSystem& window, const KwandorModul& m, std::string_view keyword,
                    RegKey& root, std::string& basePath, std::string& keywordPath) {
  Step([&] { basePath = kProductBasePath; });
  for (const RegKeyword& row : kRegKeywords) {
    if (row.Keyword != keyword) continue;
    root = row.Root;
    if (!row.Product) return false;
    Step([&] { basePath = row.BasePath; });
    Step([&] {
      std::string path = row.ClientKey ? "Mandant" + std::to_string(m.MandantNr) : std::string();
      path += row.KeywordPath;
      keywordPath = std::move(path);
    });
    return true;
  }
  Step([&] { window.ShowMessageBox("Key ist falsch", kMbOk); });
  return false;
}

bool RegOpen(RegistryStore& registry, RegEditState& s, RegKey parent, std::string_view subKey,
             RegKey& handle) {
  const std::string parentPath = RegPathOf(s, parent);
  if (registry.RegOpenKeyA(parent, Utf8ToCp1252(StripKeySlash(subKey)), handle) != kErrorSuccess)
    return false;
  RegRememberPath(s, handle, parentPath + std::string(subKey));
  return true;
}

bool RegQueryString(RegistryStore& registry, RegKey handle, std::string_view valueName,
                    std::string& value) {
  const std::string name = Utf8ToCp1252(valueName);
  uint32_t type = 0, size = 0;
  if (registry.RegQueryValueExA(handle, name, &type, nullptr, &size) != kErrorSuccess ||
      type != kRegSz)
    return false;
  std::string buffer(size, ' ');
  uint32_t dataType = 0;
  if (registry.RegQueryValueExA(handle, name, &dataType, reinterpret_cast<uint8_t*>(buffer.data()),
                                &size) != kErrorSuccess)
    return false;
  value = CutAtNul(Cp1252ToUtf8(buffer));
  return true;
}

bool RegClose(RegistryStore& registry, RegKey handle) {
  return registry.RegCloseKey(handle) == kErrorSuccess;
}

std::string RegPathOf(RegEditState& s, RegKey handle) {
  const int16_t row = RegFindHandle(s, handle);
  return row < 0 ? std::string() : s.OpenKeyTable[static_cast<size_t>(row)].Path;
}

void AddKeySlash(std::string& subKey) {
  const size_t last = subKey.find_last_not_of(' ');
  if (last == std::string::npos || subKey[last] == '\\') return;
  subKey.erase(last + 1);
  subKey += '\\';
}

std::string StripKeySlash(std::string_view path) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

std::string CutAtNul(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

int16_t RegFindHandle(RegEditState& s, RegKey handle) {
  auto& table = s.OpenKeyTable;
  if (table.empty()) {
    table.emplace_back();
    return -1;
  }
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].Handle == handle) return static_cast<int16_t>(i);
  return -1;
}

void RegRememberPath(RegEditState& s, RegKey handle, std::string_view path) {
  auto& table = s.OpenKeyTable;
  int16_t row = RegFindHandle(s, handle);
  if (row < 0) {
    bool grown = false;
    if (table.size() < kMaxOpenKeyRows) {
      try {
        table.emplace_back();
        grown = true;
      } catch (const std::bad_alloc&) {
      }
    }
    if (!grown) {  // start again with a single row; clear keeps the storage
      table.clear();
      table.emplace_back();
    }
    row = static_cast<int16_t>(table.size() - 1);
  }
  OpenKeyEntry& entry = table[static_cast<size_t>(row)];
  entry.Handle = handle;
  entry.Path = path;
}

}  // namespace kw
