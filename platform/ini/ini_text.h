#pragma once
// Profile (INI) files as GetPrivateProfileStringA and WritePrivateProfileStringA
// see them, as pure functions over a file's bytes, so that the disk-backed
// implementation and the in-memory fake share one reading of the format.
//
// Texts passed in and handed back are code page 1252 bytes and end at their
// first NUL, as C strings would. A file is Windows-1252 unless it starts with
// a byte order mark (UTF-8, UTF-16LE or UTF-16BE); it is then decoded for
// reading and new text is written in its own encoding.
//
// Format: lines end in CR LF, LF or CR. "[name]" starts a section (blanks
// inside the brackets and text after the last ']' do not count); lines above
// the first header belong to the section "". "name=value" is an entry; blanks
// and tabs around name and value do not count, and one pair of matching outer
// quotes is removed from a value when it is read. Names match without regard
// to case; the first section of a name and the first entry of a name win.
// A line starting with ';' is a comment: it is never listed, and its name
// keeps the ';'.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kw::ini {

// The stored value of key in section, decoded to code page 1252, before the
// quotes are removed; nullopt when the section or the key is missing.
std::optional<std::string> FindValue(std::string_view file, std::string_view section,
                                     std::string_view key);

// GetPrivateProfileStringA on a file's bytes (nullopt: no file). Writes at
// most size bytes to buffer and returns the count without the final NUL.
// A nullopt section lists the section names, a nullopt key the keys of the
// section, each followed by a NUL (an extra NUL ends the list).
uint32_t GetString(const std::optional<std::string_view>& file,
                   const std::optional<std::string>& section, const std::optional<std::string>& key,
                   const std::optional<std::string>& defaultValue, char* buffer, uint32_t size);

enum class EditStatus {
  kUnchanged,  // the file already says this (or there is nothing to delete)
  kChanged,    // bytes holds the whole new file
  kFailed,     // the file cannot be rewritten without losing what it holds
};

struct EditResult {
  EditStatus status = EditStatus::kUnchanged;
  std::string bytes;
};

// WritePrivateProfileStringA on a file's bytes (nullopt: no file). Only the
// line concerned changes; every other byte of the file stays as it was.
// A nullopt value deletes the key, a nullopt key the section. Leading blanks
// of key and value are dropped; a new line ends like the file's first line
// (CR LF in a new file).
EditResult SetString(const std::optional<std::string_view>& file, const std::string& section,
                     const std::optional<std::string>& key,
                     const std::optional<std::string>& value);

}  // namespace kw::ini
