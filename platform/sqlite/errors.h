#pragma once
// The words of the engine's errors, as DAO words them where it has words,
// each naming the file, the table or the column concerned.
#include <sqlite3.h>

#include <string>
#include <string_view>

namespace kw::sqlite {

constexpr char kInvalidObject[] = "Object invalid or no longer set.";
constexpr char kNoCurrentRecord[] = "No current record.";
constexpr char kUpdateWithoutEdit[] = "Update or CancelUpdate without AddNew or Edit.";

// 'text', as the messages quote names and selections.
std::string Quoted(std::string_view text);

std::string CouldNotFind(std::string_view file);
std::string Unrecognized(std::string_view file);
std::string InUse(std::string_view file);
std::string CannotOpen(std::string_view file);
std::string NeedsRepair(std::string_view file);
std::string RecordDeleted(std::string_view table, std::string_view file);
std::string FieldNotFound(std::string_view field, std::string_view table);
// Rows whose Update had been accepted and that could not be saved.
std::string NotSaved(const std::string& why, long rows);

// The words for a selection that SQLite did not prepare (refused: the
// guard refused part of it).
std::string SelectionError(sqlite3* db, int rc, std::string_view source, std::string_view file,
                           std::string_view table, bool refused);

// The words for SQLite's result rc of a call on db concerning table of
// file; read at once after the call.
std::string Describe(sqlite3* db, int rc, std::string_view file, std::string_view table,
                     bool writing);

}  // namespace kw::sqlite
