#pragma once
// What a database file is, from its first bytes, and whether the Jet engine
// may change it. Nothing here writes.
#include <cstdint>
#include <span>
#include <string>

namespace kw::jet {

enum class FileKind { kEmpty, kSqlite, kJet4, kJet3, kAce, kMsisam, kUnknown };

// From the file's first bytes (the whole first page when the file has one).
FileKind KindOf(std::span<const uint8_t> firstBytes);

// Why a file of this kind cannot be converted, as the end of a sentence that
// begins with the file's name; empty for kSqlite and kJet4.
std::string RefusalOf(FileKind kind);

// For a Jet 4 file: empty when the database definition page shows neither a
// password nor encoded pages; otherwise why the file is refused. `page0` is
// the whole first page.
std::string LockedReason(std::span<const uint8_t> page0);

}  // namespace kw::jet
