// Feeds arbitrary text to the Wine registry reader as system.reg and user.reg
// (split at the first form feed) and asks for keys and values the way the
// registry module does, checking the API's promises on the way.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wine/wine_registry.h"

namespace {

using kw::RegKey;
using kw::WineRegistry;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Paths of the first keys of a parsed file, in 8-bit form.
std::vector<std::string> SomeKeyPaths(const kw::RegFile& f) {
  std::vector<std::string> paths;
  std::vector<std::pair<uint32_t, std::string>> todo = {{kw::RegFile::kRoot, ""}};
  while (!todo.empty() && paths.size() < 24) {
    auto [key, path] = todo.back();
    todo.pop_back();
    for (const auto& [folded, child] : f.keys[key].children) {
      std::string name;
      for (char16_t c : f.keys[child].name) name += static_cast<char>(c);
      todo.emplace_back(child, path.empty() ? name : path + "\\" + name);
      paths.push_back(todo.back().second);
    }
  }
  return paths;
}

void QueryAll(WineRegistry& reg, RegKey h) {
  for (const char* name : {"", "V", "NoltDataDir", "SymbolicLinkValue", "a"}) {
    uint32_t type = 0xdeadbeef, size = 0xdeadbeef;
    const long rc = reg.RegQueryValueExA(h, std::string(name), &type, nullptr, &size);
    Check(rc == kw::kErrorSuccess || rc == kw::kErrorFileNotFound);
    if (rc != kw::kErrorSuccess) {
      Check(type == 0 && size == 0);
      continue;
    }
    std::vector<uint8_t> exact(size);  // the sanitizer guards the byte after it
    uint32_t size2 = size;
    Check(reg.RegQueryValueExA(h, std::string(name), &type, exact.data(), &size2) ==
          kw::kErrorSuccess);
    Check(size2 == size);
    if (size > 0) {
      uint32_t small = size - 1;
      Check(reg.RegQueryValueExA(h, std::string(name), nullptr, exact.data(), &small) ==
            kw::kErrorMoreData);
      Check(small == size);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t cut = in.find('\f');
  // The system file gets Wine's header line, so that the fuzzer spends its
  // time on what follows; the user file must bring its own.
  const std::string system = "WINE REGISTRY Version 2\n" + std::string(in.substr(0, cut));
  const std::string_view user = cut == std::string_view::npos ? "" : in.substr(cut + 1);

  std::vector<std::string> paths = SomeKeyPaths(kw::ParseRegFile(system));
  for (const char* p : {"Software\\Nolt\\Orbica-Kontor 5\\Settings", "a\\\\b\\", "Software\\a"})
    paths.emplace_back(p);

  for (auto view : {WineRegistry::View::k32, WineRegistry::View::k64}) {
    WineRegistry reg(system, user, view);
    for (RegKey root : {kw::kHkeyLocalMachine, kw::kHkeyCurrentUser, kw::kHkeyClassesRoot,
                      kw::kHkeyUsers}) {
      QueryAll(reg, root);
      for (const std::string& path : paths) {
        RegKey h = 0;
        const long rc = reg.RegOpenKeyA(root, path, h);
        Check(rc == kw::kErrorSuccess || rc == kw::kErrorFileNotFound ||
              rc == kw::kErrorBadPathname);
        if (rc != kw::kErrorSuccess) continue;
        QueryAll(reg, h);
        RegKey below = 0;
        if (reg.RegOpenKeyA(h, std::string("a"), below) == kw::kErrorSuccess) {
          QueryAll(reg, below);
          Check(reg.RegCloseKey(below) == kw::kErrorSuccess);
        }
        Check(reg.RegCloseKey(h) == kw::kErrorSuccess);
      }
    }
    Check(reg.OpenKeyCount() == 0);
  }
  return 0;
}
