#pragma once
// An in-memory registry for tests. Keys and value names match without regard
// to ASCII case, parent keys exist implicitly, and values are held as the
// ANSI query hands them out (put the NUL of a string in yourself, or use
// SetString). Every call is logged; switches make a query fail in the ways a
// real registry can.
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace kw {

class FakeRegistry : public RegistryStore {
 public:
  void Set(HKEY root, std::string_view path, std::string_view name, uint32_t type,
           std::string bytes) {
    AddKey(root, path);
    keys_[KeyName(root, Parts(path))][Fold(name)] = {type, std::move(bytes)};
  }
  void SetString(HKEY root, std::string_view path, std::string_view name, std::string_view text,
                 uint32_t type = REG_SZ) {
    Set(root, path, name, type, std::string(text) + '\0');
  }
  void AddKey(HKEY root, std::string_view path) {
    std::vector<std::string> parts = Parts(path);
    for (size_t n = 0; n <= parts.size(); ++n)
      keys_[KeyName(root, {parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(n)})];
  }

  long RegOpenKeyA(HKEY parent, const std::optional<std::string>& subKey, HKEY& result) override {
    ++openCalls;
    calls.push_back("open " + Name(parent) + " " + subKey.value_or("<null>"));
    result = 0;
    Place place;
    if (!Find(parent, place)) return ERROR_INVALID_HANDLE;
    if (!subKey || subKey->empty()) {
      result = parent;
      return ERROR_SUCCESS;
    }
    if ((*subKey)[0] == '\\') return ERROR_BAD_PATHNAME;
    for (auto& part : Parts(*subKey)) place.parts.push_back(part);
    if (!keys_.count(KeyName(place.root, place.parts))) return ERROR_FILE_NOT_FOUND;
    HKEY h = 0x1000;
    while (open.count(h)) h += 4;
    open[h] = place;
    openedPaths.push_back(Name(place.root) + "\\" + Join(place.parts));
    result = h;
    return ERROR_SUCCESS;
  }

  long RegQueryValueExA(HKEY key, const std::optional<std::string>& valueName, uint32_t* type,
                        uint8_t* data, uint32_t* size) override {
    ++queryCalls;
    calls.push_back("query " + Name(key) + " " + valueName.value_or("<null>") +
                    (data ? " buffer" : ""));
    if (throwOnQuery) throw std::bad_alloc();
    Place place;
    if (!Find(key, place)) return ERROR_INVALID_HANDLE;
    const uint32_t room = size ? *size : 0;
    if (type) *type = REG_NONE;
    if (size && !data) *size = 0;
    auto& values = keys_[KeyName(place.root, place.parts)];
    auto it = values.find(Fold(valueName.value_or("")));
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    Value& v = it->second;
    if (data && growBeforeDataQuery) v.bytes.insert(v.bytes.begin(), 'x');
    const auto n = static_cast<uint32_t>(v.bytes.size());
    if (type) *type = v.type;
    if (size) *size = n;
    if (!data || n == 0) return ERROR_SUCCESS;
    if (n > room) return ERROR_MORE_DATA;
    std::memcpy(data, v.bytes.data(), n);
    const bool isString = v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ;
    if (isString && n < room && data[n - 1] != 0) data[n] = 0;
    return ERROR_SUCCESS;
  }

  long RegCloseKey(HKEY key) override {
    ++closeCalls;
    calls.push_back("close " + Name(key));
    if (IsRoot(key)) return closeResult;
    if (!open.erase(key)) return ERROR_INVALID_HANDLE;
    return closeResult;
  }

  int openCalls = 0, queryCalls = 0, closeCalls = 0;
  std::vector<std::string> calls;        // "open HKLM path", "query 0x1000 name buffer", ...
  std::vector<std::string> openedPaths;  // "HKLM\A\B" for each key opened, spelt as asked
  bool growBeforeDataQuery = false;      // the value gains a byte just before a query with a buffer
  bool throwOnQuery = false;             // a query fails with std::bad_alloc
  long closeResult = ERROR_SUCCESS;      // what closing an open key or a root reports

  struct Place {
    HKEY root = 0;
    std::vector<std::string> parts;
  };
  std::map<HKEY, Place> open;  // the keys open now

 private:
  struct Value {
    uint32_t type;
    std::string bytes;
  };

  static bool IsRoot(HKEY k) { return k >= HKEY_CLASSES_ROOT && k <= HKEY_USERS; }
  static std::string Name(HKEY k) {
    static const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU"};
    if (IsRoot(k)) return kRoots[k - HKEY_CLASSES_ROOT];
    char b[16];
    std::snprintf(b, sizeof b, "0x%x", k);
    return b;
  }
  static std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
  }
  static std::vector<std::string> Parts(std::string_view path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
      const size_t cut = std::min(path.find('\\', start), path.size());
      if (cut > start) parts.emplace_back(path.substr(start, cut - start));
      start = cut + 1;
    }
    return parts;
  }
  static std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "\\") + p;
    return out;
  }
  static std::string KeyName(HKEY root, const std::vector<std::string>& parts) {
    return Name(root) + "\\" + Fold(Join(parts));
  }
  bool Find(HKEY key, Place& place) const {
    if (IsRoot(key)) {
      place = {key, {}};
      return true;
    }
    auto it = open.find(key);
    if (it == open.end()) return false;
    place = it->second;
    return true;
  }

  std::map<std::string, std::map<std::string, Value>> keys_;
};

}  // namespace kw
