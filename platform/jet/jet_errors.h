#pragma once
// The texts of the Jet engine's errors, in one place. Every text names the
// file as the user gave it, and the table or column where there is one.
#include <string>
#include <string_view>

#include "platform/run_error.h"

namespace kw::jet {

inline std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// A length, offset, count or page number read from the file does not fit.
[[noreturn]] inline void ThrowDamaged(const std::string& file, const std::string& detail) {
  throw RunError("The database " + Quoted(file) + " is damaged and was not changed: " + detail +
                 ".");
}

// The file is of a kind or in a state this engine does not change.
[[noreturn]] inline void ThrowRefused(const std::string& file, const std::string& why) {
  throw RunError(Quoted(file) + " " + why);
}

inline std::string NoSuchTable(std::string_view table, std::string_view file) {
  return "The Microsoft Jet database engine cannot find the input table or query " +
         Quoted(table) + " in " + Quoted(file) + ".";
}

inline std::string NoSuchColumn(std::string_view column, std::string_view table) {
  return "Item not found in this collection: there is no column " + Quoted(column) +
         " in table " + Quoted(table) + ".";
}

inline constexpr char kRecordDeleted[] = "Record is deleted.";
inline constexpr char kNoCurrentRecord[] = "No current record.";
inline constexpr char kUpdateWithoutEdit[] = "Update or CancelUpdate without AddNew or Edit.";
inline constexpr char kObjectClosed[] = "Object invalid or no longer set.";
inline constexpr char kTypeMismatch[] = "Data type mismatch in criteria expression.";
inline constexpr char kDuplicateKey[] =
    "The changes you requested to the table were not successful because they would create duplicate values in "
    "the index, primary key, or relationship. Change the data in the field or fields that contain duplicate data, "
    "remove the index, or redefine the index to permit duplicate entries and try again.";

inline constexpr char kNullInIndex[] = "Index or primary key cannot contain a Null value.";

inline std::string FieldTooSmall(std::string_view column) {
  return "The field is too small to accept the amount of data you attempted to add. Try "
         "inserting or pasting less data. (column " +
         Quoted(column) + ")";
}

}  // namespace kw::jet
