#pragma once
// `RegEdit`, the registry module: a keyword names a settings area of the host
// product or a registry root; `RegRead` opens the key below it, reads one
// string value and closes the key again. It never fails: it returns the
// value, or the caller's default when the key or the value is missing.
//
// Texts are UTF-8 here; key paths, value names and data cross the registry
// seam in code page 1252.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/modul.h"
#include "platform/platform.h"

namespace kw {

// One row of `OpenKeyTable`: an opened key's handle and its path below its
// root, as the callers built it.
struct OpenKeyEntry {
  RegKey Handle = 0;
  std::string Path;
};

// The module's state, owned by the run. The table is absent (empty) until its
// first lookup creates it with one empty row; it never shrinks.
struct RegEditState {
  std::vector<OpenKeyEntry> OpenKeyTable;
};

// Row indexes are 16-bit: the table holds at most this many rows. A row that
// would go beyond, or that cannot be allocated, resets the table to one row.
constexpr size_t kMaxOpenKeyRows = 32767;

// "Software\Nolt\Orbica-Kontor 5\"
inline constexpr std::string_view kProductBasePath = "Software\\Nolt\\Orbica-Kontor 5\\";

struct RegKeyword {
  std::string_view Keyword;
  RegKey Root;
  bool Product;                  // false: a root name, the sub-key is the whole path
  std::string_view BasePath;     // product rows only
  bool ClientKey;                // the keyword path starts with "Mandant" + MandantNr
  std::string_view KeywordPath;  // the rest of the keyword path
};

// The keyword table, in the order the rows are tried.
inline constexpr std::array<RegKeyword, 22> kRegKeywords = {{
    {"LOKAL", kHkeyLocalMachine, true, kProductBasePath, false, "Settings\\"},
    {"PRINTER", kHkeyLocalMachine, true, kProductBasePath, false, "Printers\\"},
    {"MODEM", kHkeyLocalMachine, true, kProductBasePath, false, "Modem\\"},
    {"TASKBAR", kHkeyCurrentUser, true, kProductBasePath, true, "\\"},
    {"TOOLBAR", kHkeyCurrentUser, true, kProductBasePath, false, "Toolbars\\"},
    {"USER", kHkeyCurrentUser, true, kProductBasePath, false, "UserSettings\\"},
    {"MAILDEFAULT", kHkeyCurrentUser, true, kProductBasePath, false, "MailSettings\\"},
    {"TERMIN", kHkeyCurrentUser, true, kProductBasePath, false, "TerminSetting\\"},
    {"REDRUCK", kHkeyCurrentUser, true, kProductBasePath, false, "RePrintSetting\\"},
    {"DOKU", kHkeyCurrentUser, true, kProductBasePath, false, "DokuSetting\\"},
    {"GRID", kHkeyCurrentUser, true, kProductBasePath, true, "\\Grids\\"},
    {"FORMSIZE", kHkeyCurrentUser, true, kProductBasePath, true, "\\FormSizes\\"},
    {"MAIL", kHkeyCurrentUser, true, kProductBasePath, true, "\\MailSettings\\"},
    {"MANDANT", kHkeyCurrentUser, true, kProductBasePath, true, "\\MandSettings\\"},
    {"SORT", kHkeyCurrentUser, true, kProductBasePath, true, "\\SortStrings\\"},
    {"FILTER", kHkeyCurrentUser, true, kProductBasePath, true, "\\Filters\\"},
    {"NTZPRINT", kHkeyCurrentUser, true, kProductBasePath, true, "\\NtzPrints\\"},
    {"FAVORITEN", kHkeyCurrentUser, true,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\", false, ""},
    {"HKEY_CLASSES_ROOT", kHkeyClassesRoot, false, "", false, ""},
    {"HKEY_CURRENT_USER", kHkeyCurrentUser, false, "", false, ""},
    {"HKEY_USERS", kHkeyUsers, false, "", false, ""},
    {"HKEY_LOCAL_MACHINE", kHkeyLocalMachine, false, "", false, ""},
}};

// The value's text with trailing spaces removed; the default, unchanged, when
// the key or a kRegSz value of that name is missing; the empty text after an
// unexpected run-time error. A wrong keyword shows "Key ist falsch" once.
std::string RegRead(Platform& p, const KwandorModul& m, RegEditState& s, std::string_view keyword,
                    std::string_view subKey, std::string_view valueName,
                    std::string_view defaultValue);

// True for the product keywords, with their root, base path and keyword path.
// False for a root name (root set) and for a wrong keyword (root unchanged,
// after the message box).
bool RegKeywordPath(WindowSystem& window, const KwandorModul& m, std::string_view keyword,
                    RegKey& root, std::string& basePath, std::string& keywordPath);

// Opens subKey below parent (a root or an open key) and records its path.
bool RegOpen(RegistryStore& registry, RegEditState& s, RegKey parent, std::string_view subKey,
             RegKey& handle);
// True when the value exists, is kRegSz and was read; only then is value set.
bool RegQueryString(RegistryStore& registry, RegKey handle, std::string_view valueName,
                    std::string& value);
// True when the registry reports success.
bool RegClose(RegistryStore& registry, RegKey handle);
// The recorded path of a handle; empty when the table has no row for it.
std::string RegPathOf(RegEditState& s, RegKey handle);

// Adds a backslash after the last non-space character unless there is one
// there already; a text of spaces only stays as it is.
void AddKeySlash(std::string& subKey);
// Removes one trailing backslash.
std::string StripKeySlash(std::string_view path);
// The text before the first NUL.
std::string CutAtNul(std::string_view text);
// The row of a handle, or -1. The first lookup creates the table.
int16_t RegFindHandle(RegEditState& s, RegKey handle);
// Records a handle's path, in its old row when the handle has one.
void RegRememberPath(RegEditState& s, RegKey handle, std::string_view path);

}  // namespace kw
