#include "platform/sqlite/errors.h"

namespace kw::sqlite {

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string CouldNotFind(std::string_view file) {
  return "Could not find file " + Quoted(file) + ".";
}
std::string Unrecognized(std::string_view file) {
  return "Unrecognized database format " + Quoted(file) + ".";
}
std::string InUse(std::string_view file) {
  return "Could not use " + Quoted(file) + "; file already in use.";
}
std::string CannotOpen(std::string_view file) {
  return "The database engine cannot open the file " + Quoted(file) +
         ". It is already opened exclusively by another user, or you need permission to view "
         "its data.";
}
std::string NeedsRepair(std::string_view file) {
  return "The database " + Quoted(file) + " needs to be repaired or isn't a database file.";
}
std::string RecordDeleted(std::string_view table, std::string_view file) {
  return "Record is deleted. Table " + Quoted(table) + " in " + Quoted(file) + ".";
}
std::string FieldNotFound(std::string_view field, std::string_view table) {
  return "Field " + Quoted(field) + " not found in table " + Quoted(table) + ".";
}
std::string NotSaved(const std::string& why, long rows) {
  return why + " " + std::to_string(rows) +
         (rows == 1 ? " updated row was" : " updated rows were") + " not saved.";
}

std::string Describe(sqlite3* db, int rc, std::string_view file, std::string_view table,
                     bool writing) {
  const std::string where = " Table " + Quoted(table) + " in " + Quoted(file) + ".";
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return std::string(writing ? "Could not update" : "Could not read") +
             "; currently locked by another user." + where;
    case SQLITE_READONLY:
      return "Cannot update. Database or object is read-only." + where;
    case SQLITE_NOTADB:
      return Unrecognized(file);
    case SQLITE_CORRUPT:
      return NeedsRepair(file);
    default:
      return std::string(sqlite3_errmsg(db)) + "." + where;
  }
}

std::string SelectionError(sqlite3* db, int rc, std::string_view source, std::string_view file,
                           std::string_view table, bool refused) {
  const std::string message = sqlite3_errmsg(db);
  const std::string noColumn = "no such column: ";
  if (message.rfind(noColumn, 0) == 0) return FieldNotFound(message.substr(noColumn.size()), table);
  if (refused) {
    return "Unsupported selection " + Quoted(source) + "; its condition may only compare " +
           "the columns of table " + Quoted(table) + ".";
  }
  if ((rc & 0xff) == SQLITE_ERROR) {
    return "Syntax error in query " + Quoted(source) + ": " + message + ".";
  }
  return Describe(db, rc, file, table, false);
}

}  // namespace kw::sqlite
