#pragma once
// The registry of a Wine prefix, read-only: kHkeyLocalMachine from
// <prefix>/system.reg, kHkeyCurrentUser from <prefix>/user.reg. The files are
// read once, when the object is made; a missing or unreadable file is an
// empty hive. Answers follow Wine's advapi32 (see the recorded results under
// tests/data/oracle).
//
// kHkeyClassesRoot is kHkeyLocalMachine\Software\Classes; kHkeyUsers holds
// the prefix's user (the SID named in user.reg's header). Symbolic links
// ("#link" keys) are followed, as Wine follows them when opening a key.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/wine/reg_file.h"
#include "platform/wine/wine_paths.h"

namespace kw {

class WineRegistry : public RegistryStore {
 public:
  // k32: answer as Windows answers a 32-bit program. In a 64-bit prefix a key
  // below kHkeyLocalMachine\Software is looked for below
  // Software\Wow6432Node first, and at its own path only when it is not there.
  // k64: every key at its own path.
  enum class View { k32, k64 };

  explicit WineRegistry(const WinePaths& paths, View view = View::k32);
  // From the files' texts, for tests.
  WineRegistry(std::string_view systemReg, std::string_view userReg, View view = View::k32);

  long RegOpenKeyA(RegKey parent, const std::optional<std::string>& subKey, RegKey& result) override;
  long RegQueryValueExA(RegKey key, const std::optional<std::string>& valueName, uint32_t* type,
                        uint8_t* data, uint32_t* size) override;
  long RegCloseKey(RegKey key) override;

  // Keys opened and not yet closed.
  size_t OpenKeyCount() const { return open_.size(); }

 private:
  struct Place {
    const RegFile* file;
    uint32_t key;
  };
  // An open key remembers the path it was opened by, so that keys opened
  // below it are looked up through the same view.
  struct OpenKey {
    RegKey root;
    std::vector<std::u16string> path;
    Place place;
  };

  std::optional<Place> Resolve(RegKey root, const std::vector<std::u16string>& path) const;
  std::optional<Place> Walk(const RegFile& file, std::vector<std::u16string> path) const;
  std::optional<Place> PlaceOf(RegKey key) const;

  RegFile system_;
  RegFile user_;
  RegFile empty_;  // kHkeyUsers itself
  std::u16string userSid_;
  bool redirect32_;
  std::map<RegKey, OpenKey> open_;
};

}  // namespace kw
