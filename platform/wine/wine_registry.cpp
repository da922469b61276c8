#include "platform/wine/wine_registry.h"

#include <array>
#include <cstring>

#include "platform/cp1252.h"
#include "platform/posix/whole_file.h"

namespace kw {
namespace {

constexpr long kErrorInvalidParameter = 87;
constexpr RegKey kFirstHandle = 0x100;  // handed out in steps of 4, lowest free first
constexpr int kMaxLinks = 16;         // links followed while opening one key
constexpr size_t kMaxFileSize = size_t{512} << 20;

// A file's bytes; empty when it is missing, unreadable or beyond all reason.
std::string ReadRegistryFile(const std::string& path) {
  std::string bytes;
  struct stat st;
  if (ReadWholeFile(path, kMaxFileSize, bytes, st) != WholeFileStatus::kOk) return {};
  return bytes;
}

// Code page 1252 byte -> UTF-16 unit, from the project's one converter.
const std::array<char16_t, 256>& UnitOfByte() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
      const std::string u = Cp1252ToUtf8(std::string(1, static_cast<char>(b)));
      auto at = [&u](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(u[i])); };
      unsigned cp = at(0);
      if (u.size() == 2) cp = ((at(0) & 0x1F) << 6) | (at(1) & 0x3F);
      if (u.size() == 3) cp = ((at(0) & 0x0F) << 12) | ((at(1) & 0x3F) << 6) | (at(2) & 0x3F);
      t[static_cast<size_t>(b)] = static_cast<char16_t>(cp);
    }
    return t;
  }();
  return table;
}

// UTF-16 unit -> code page 1252 byte; '?' when the code page has none.
uint8_t ByteOfUnit(char16_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<uint8_t>(u);
  for (int b = 0x80; b < 0xA0; ++b)
    if (UnitOfByte()[static_cast<size_t>(b)] == u) return static_cast<uint8_t>(b);
  return '?';
}

// An ANSI argument as the API sees it: a C string, so it ends at a NUL.
std::u16string ToUnits(const std::optional<std::string>& ansi) {
  std::u16string out;
  if (!ansi) return out;
  for (char c : *ansi) {
    if (c == '\0') break;
    out += UnitOfByte()[static_cast<unsigned char>(c)];
  }
  return out;
}

// Path elements; empty ones (doubled or trailing backslashes) drop out.
void AppendParts(std::vector<std::u16string>& out, std::u16string_view path) {
  while (!path.empty()) {
    const size_t cut = std::min(path.find(u'\\'), path.size());
    if (cut > 0) out.emplace_back(path.substr(0, cut));
    path.remove_prefix(std::min(cut + 1, path.size()));
  }
}

bool IsRoot(RegKey key) {
  return key == kHkeyClassesRoot || key == kHkeyCurrentUser || key == kHkeyLocalMachine ||
         key == kHkeyUsers;
}

bool IsStringType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

bool SameName(std::u16string_view a, std::u16string_view b) { return FoldName(a) == FoldName(b); }

// True when path begins with prefix; rest gets what follows.
bool StartsWith(const std::vector<std::u16string>& path, const std::vector<std::u16string>& prefix,
                std::vector<std::u16string>& rest) {
  if (prefix.empty() || path.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (!SameName(path[i], prefix[i])) return false;
  rest.assign(path.begin() + static_cast<std::ptrdiff_t>(prefix.size()), path.end());
  return true;
}

}  // namespace

WineRegistry::WineRegistry(const WinePaths& paths, View view)
    : WineRegistry(ReadRegistryFile(paths.Prefix() + "/system.reg"),
                   ReadRegistryFile(paths.Prefix() + "/user.reg"), view) {}

WineRegistry::WineRegistry(std::string_view systemReg, std::string_view userReg, View view)
    : system_(ParseRegFile(systemReg)), user_(ParseRegFile(userReg)) {
  if (system_.relativeTo.empty()) system_.relativeTo = u"REGISTRY\\Machine";
  std::vector<std::u16string> parts;
  AppendParts(parts, user_.relativeTo);
  if (parts.size() == 3 && SameName(parts[0], u"REGISTRY") && SameName(parts[1], u"User"))
    userSid_ = parts[2];
  redirect32_ = view == View::k32 && system_.arch == "win64";
}

std::optional<WineRegistry::Place> WineRegistry::Resolve(
    RegKey root, const std::vector<std::u16string>& path) const {
  const RegFile* file = &system_;
  std::vector<std::u16string> p;
  switch (root) {
    case kHkeyLocalMachine:
      p = path;
      break;
    case kHkeyCurrentUser:
      file = &user_;
      p = path;
      break;
    case kHkeyClassesRoot:
      p = {u"Software", u"Classes"};
      p.insert(p.end(), path.begin(), path.end());
      break;
    case kHkeyUsers:
      if (path.empty()) return Place{&empty_, RegFile::kRoot};
      if (userSid_.empty() || !SameName(path[0], userSid_)) return std::nullopt;
      file = &user_;
      p.assign(path.begin() + 1, path.end());
      break;
    default:
      return std::nullopt;
  }
  if (redirect32_ && file == &system_ && !p.empty() && SameName(p[0], u"Software") &&
      (p.size() < 2 || !SameName(p[1], u"Wow6432Node"))) {
    std::vector<std::u16string> q = p;
    q.insert(q.begin() + 1, u"Wow6432Node");
    if (auto place = Walk(*file, std::move(q))) return place;
  }
  return Walk(*file, std::move(p));
}

// Follows the path from the file's root, and through the symbolic links on
// the way. Null when a key is missing or a link leads nowhere.
std::optional<WineRegistry::Place> WineRegistry::Walk(const RegFile& start,
                                                      std::vector<std::u16string> path) const {
  const RegFile* file = &start;
  uint32_t key = RegFile::kRoot;
  int links = 0;
  size_t i = 0;
  while (i < path.size()) {
    const int64_t child = file->Child(key, path[i++]);
    if (child < 0) return std::nullopt;
    key = static_cast<uint32_t>(child);
    if (!file->keys[key].link) continue;
    const RegFileValue* v = file->Value(key, u"SymbolicLinkValue");
    if (++links > kMaxLinks || !v || v->type != 6 /* REG_LINK */) return std::nullopt;
    std::u16string target;
    for (size_t b = 0; b + 1 < v->data.size(); b += 2)
      target += static_cast<char16_t>(static_cast<uint8_t>(v->data[b]) |
                                      (static_cast<uint8_t>(v->data[b + 1]) << 8));
    std::vector<std::u16string> whole, rest, base;
    AppendParts(whole, target);
    const RegFile* next = nullptr;
    for (const RegFile* f : {&system_, &user_}) {
      base.clear();
      AppendParts(base, f->relativeTo);
      if (StartsWith(whole, base, rest)) next = f;
      if (next) break;
    }
    if (!next) return std::nullopt;
    rest.insert(rest.end(), path.begin() + static_cast<std::ptrdiff_t>(i), path.end());
    path = std::move(rest);
    file = next;
    key = RegFile::kRoot;
    i = 0;
  }
  return Place{file, key};
}

std::optional<WineRegistry::Place> WineRegistry::PlaceOf(RegKey key) const {
  if (IsRoot(key)) {  // a root is always there, if need be as an empty key
    std::optional<Place> place = Resolve(key, {});
    return place ? place : Place{&empty_, RegFile::kRoot};
  }
  auto it = open_.find(key);
  if (it == open_.end()) return std::nullopt;
  return it->second.place;
}

long WineRegistry::RegOpenKeyA(RegKey parent, const std::optional<std::string>& subKey,
                               RegKey& result) {
  result = 0;
  RegKey root = parent;
  std::vector<std::u16string> path;
  if (!IsRoot(parent)) {
    auto it = open_.find(parent);
    if (it == open_.end()) return kErrorInvalidHandle;
    root = it->second.root;
    path = it->second.path;
  }
  const std::u16string name = ToUnits(subKey);
  if (name.empty()) {  // NULL or "": the parent itself, as Wine hands it back
    result = parent;
    return kErrorSuccess;
  }
  if (name[0] == u'\\') return kErrorBadPathname;
  AppendParts(path, name);
  std::optional<Place> place = Resolve(root, path);
  if (!place) return kErrorFileNotFound;
  RegKey h = kFirstHandle;
  for (const auto& entry : open_) {
    if (entry.first != h) break;
    h += 4;
  }
  if (h >= kHkeyClassesRoot) return kErrorInvalidHandle;  // no handle left
  open_.emplace(h, OpenKey{root, std::move(path), *place});
  result = h;
  return kErrorSuccess;
}

long WineRegistry::RegQueryValueExA(RegKey key, const std::optional<std::string>& valueName,
                                    uint32_t* type, uint8_t* data, uint32_t* size) {
  if (data && !size) return kErrorInvalidParameter;
  const std::optional<Place> place = PlaceOf(key);
  if (!place) return kErrorInvalidHandle;
  const uint32_t room = size ? *size : 0;
  if (!data && size) *size = 0;
  if (type) *type = kRegNone;
  const RegFileValue* value = place->file->Value(place->key, ToUnits(valueName));
  if (!value) return kErrorFileNotFound;

  long rc = kErrorSuccess;
  uint32_t total = static_cast<uint32_t>(value->data.size());
  if (IsStringType(value->type)) {
    // One ANSI byte per UTF-16 unit; an odd last byte does not count.
    total /= 2;
    if (data && total > 0) {
      if (total > room) {
        rc = kErrorMoreData;
      } else {
        for (uint32_t i = 0; i < total; ++i)
          data[i] = ByteOfUnit(static_cast<char16_t>(static_cast<uint8_t>(value->data[2 * i]) |
                                                     (static_cast<uint8_t>(value->data[2 * i + 1]) << 8)));
        // An unterminated string gets a NUL only when the buffer has room.
        if (total < room && data[total - 1] != 0) data[total] = 0;
      }
    }
  } else if (data) {
    if (total > room) {
      rc = kErrorMoreData;
    } else if (total > 0) {
      std::memcpy(data, value->data.data(), total);
    }
  }
  if (type) *type = value->type;
  if (size) *size = total;
  return rc;
}

long WineRegistry::RegCloseKey(RegKey key) {
  if (IsRoot(key)) return kErrorSuccess;
  return open_.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace kw
