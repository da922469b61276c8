#pragma once
// What a new Jet 4 file holds: tables of typed columns (their schema) and
// rows of values.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/jet/format/bytes.h"
#include "platform/jet/format/column_type.h"
#include "platform/jet/format/date.h"

namespace kw::jetw {

using jet::Bytes;
// The column types of jet::ColumnType that the writer makes: all but
// kFloat, kGuid and kNumeric.
using jet::ColumnType;

struct ColumnSchema {
  std::string name;
  ColumnType type = ColumnType::kText;
  int length = 0;             // text and binary: declared length (characters resp. bytes)
  bool compressed = false;    // text and memo: Unicode compression
  bool autoNumber = false;    // long: numbered 1, 2, ... by the writer when the value is null
};

// An index over one or more columns, each in ascending order unless named
// in `descending`. A primary key is unique and takes no nulls; a unique
// index takes no key twice, except a key that is null in every column (any
// number of rows may leave all its columns empty: Jackcess' IndexData finds
// Access so).
struct IndexSchema {
  std::string name;
  std::vector<std::string> columns;
  bool primaryKey = false;
  bool unique = false;
  std::vector<std::string> descending = {};  // some of `columns`
};

struct TableSchema {
  std::string name;
  std::vector<ColumnSchema> columns;
  bool system = false;  // a catalog table (type 0x53, flagged system in the catalog)
  std::vector<IndexSchema> indexes = {};
};

struct Currency {
  int64_t tenThousandths = 0;  // 12.3400 is 123400
  bool operator==(const Currency&) const = default;
};

struct DateTime {
  double days = 0;  // since 1899-12-30 00:00, the fraction is the time of day
  bool operator==(const DateTime&) const = default;
};

// Null, yes/no, byte/integer/long, currency, double, date, text (UTF-8) or
// binary bytes (for binary and OLE columns).
struct Double {
  double value = 0;
  bool operator==(const Double&) const = default;
};
using Value = std::variant<std::monostate, bool, int32_t, Currency, Double, DateTime, std::string>;
using RowValues = std::vector<Value>;

// A civil date and time (proleptic Gregorian, no time zone) as a Jet date
// (jet::JetDays).
inline DateTime MakeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return DateTime{jet::JetDays(year, month, day, hour, minute, second)};
}

}  // namespace kw::jetw
