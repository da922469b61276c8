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
  void Set(RegKey root, std::string_view path, std::string_view name, uint32_t type,
           std::string bytes) {
    AddKey(root, path);
    keys_[KeyName(root, Parts(path))][Fold(name)] = {type, std::move(bytes)};
  }
  void SetString(RegKey root, std::string_view path, std::string_view name, std::string_view text,
                 uint32_t type = kRegSz) {
    Set(root, path, name, type, std::string(text) + '\0');
  }
  void AddKey(RegKey root, std::string_view path) {
    std::vector<std::string> parts = Parts(path);
    for (size_t n = 0; n <= parts.size(); ++n)
      keys_[KeyName(root, {parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(n)})];
  }

  long RegOpenKeyA(RegKey parent, const std::optional<std::string>& subKey, RegKey& result) override {
    ++openCalls;
    calls.push_back("open " + Name(parent) + " " + subKey.value_or("<null>"));
    result = 0;
    Place place;
    if (!Find(parent, place)) return kErrorInvalidHandle;
    if (!subKey || subKey->empty()) {
      result = parent;
      return kErrorSuccess;
    }
    if ((*subKey)[0] == '\\') return kErrorBadPathname;
    for (auto& part : Parts(*subKey)) place.parts.push_back(part);
    if (!keys_.count(KeyName(place.root, place.parts))) return kErrorFileNotFound;
    RegKey h = 0x1000;
    while (open.count(h)) h += 4;
    open[h] = place;
    openedPaths.push_back(Name(place.root) + "\\" + Join(place.parts));
    result = h;
    return kErrorSuccess;
  }

  long RegQueryValueExA(RegKey key, const std::optional<std::string>& valueName, uint32_t* type,
                        uint8_t* data, uint32_t* size) override {
    ++queryCalls;
    calls.push_back("query " + Name(key) + " " + valueName.value_or("<null>") +
                    (data ? " buffer" : ""));
    if (throwOnQuery) throw std::bad_alloc();
    Place place;
    if (!Find(key, place)) return kErrorInvalidHandle;
    const uint32_t room = size ? *size : 0;
    if (type) *type = kRegNone;
    if (size && !data) *size = 0;
    auto& values = keys_[KeyName(place.root, place.parts)];
    auto it = values.find(Fold(valueName.value_or("")));
    if (it == values.end()) return kErrorFileNotFound;
    Value& v = it->second;
    if (data && growBeforeDataQuery) v.bytes.insert(v.bytes.begin(), 'x');
    const auto n = static_cast<uint32_t>(v.bytes.size());
    if (type) *type = v.type;
    if (size) *size = n;
    if (!data || n == 0) return kErrorSuccess;
    if (n > room) return kErrorMoreData;
    std::memcpy(data, v.bytes.data(), n);
    const bool isString = v.type == kRegSz || v.type == kRegExpandSz || v.type == kRegMultiSz;
    if (isString && n < room && data[n - 1] != 0) data[n] = 0;
    return kErrorSuccess;
  }

  long RegCloseKey(RegKey key) override {
    ++closeCalls;
    calls.push_back("close " + Name(key));
    if (IsRoot(key)) return closeResult;
    if (!open.erase(key)) return kErrorInvalidHandle;
    return closeResult;
  }

  int openCalls = 0, queryCalls = 0, closeCalls = 0;
  std::vector<std::string> calls;        // "open HKLM path", "query 0x1000 name buffer", ...
  std::vector<std::string> openedPaths;  // "HKLM\A\B" for each key opened, spelt as asked
  bool growBeforeDataQuery = false;      // the value gains a byte just before a query with a buffer
  bool throwOnQuery = false;             // a query fails with std::bad_alloc
  long closeResult = kErrorSuccess;      // what closing an open key or a root reports

  struct Place {
    RegKey root = 0;
    std::vector<std::string> parts;
  };
  std::map<RegKey, Place> open;  // the keys open now

 private:
  struct Value {
    uint32_t type;
    std::string bytes;
  };

  static bool IsRoot(RegKey k) { return k >= kHkeyClassesRoot && k <= kHkeyUsers; }
  static std::string Name(RegKey k) {
    static const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU"};
    if (IsRoot(k)) return kRoots[k - kHkeyClassesRoot];
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
  static std::string KeyName(RegKey root, const std::vector<std::string>& parts) {
    return Name(root) + "\\" + Fold(Join(parts));
  }
  bool Find(RegKey key, Place& place) const {
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
