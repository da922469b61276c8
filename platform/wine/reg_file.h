#pragma once
// Reader of the registry files of a Wine prefix (system.reg, user.reg). The
// text becomes a tree of keys with their values, read the way the Wine server
// loads them. Names keep their spelling; lookups ignore letter case. Strings
// are held as Wine holds them: UTF-16LE bytes with their terminating NUL.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kw {

struct RegFileValue {
  std::u16string name;  // empty = the default value ("@")
  uint32_t type = 0;    // kRegNone for a value line that could not be read
  std::string data;     // the stored bytes
};

struct RegFileKey {
  std::u16string name;  // as spelt in the file; empty for the root
  // Values in file order; of several with the same name the last one counts.
  std::vector<RegFileValue> values;
  std::unordered_map<std::u16string, uint32_t> children;  // folded name -> key index
  bool link = false;  // "#link": a symbolic link, target in "SymbolicLinkValue"
};

// Windows' limits: a key name has at most 255 characters, the tree at most
// 512 levels. Key lines beyond them are not loaded.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;

struct RegFile {
  static constexpr uint32_t kRoot = 0;

  std::vector<RegFileKey> keys{1};  // keys[kRoot] is the key the file is relative to
  std::string arch;                 // from "#arch=": "win64", "win32" or empty
  std::u16string relativeTo;        // from ";; All keys relative to ...", unescaped

  // The child of key `parent` named `name` (any case), or -1.
  int64_t Child(uint32_t parent, std::u16string_view name) const;
  // The value of key `key` named `name` (any case; empty = default), or null.
  const RegFileValue* Value(uint32_t key, std::u16string_view name) const;
};

// Parses the whole text of a .reg file. Never fails: a text without Wine's
// header line is an empty file, and a line that cannot be read is skipped as
// Wine skips it.
RegFile ParseRegFile(std::string_view text);

// The form in which names are compared: upper case for ASCII and for the
// letters of code page 1252.
char16_t FoldUnit(char16_t c);
std::u16string FoldName(std::u16string_view s);

}  // namespace kw
