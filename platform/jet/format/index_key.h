#pragma once
// The bytes an index holds for a column's value, in Jet's "General" sort
// order: a flag byte, then the value encoded so that comparing the bytes
// orders the values. A key of several columns is their keys one after the
// other, each column in its own order.
//
// Ascending: the flag is 00 for null, 7F otherwise. Checked against the keys
// Access itself wrote (index_key_test.cpp, on tests/data/jet/access-made/).
//
// Descending: the flag is FF for null, 80 otherwise, and the value's bytes
// are those of the ascending key, each complemented; a text's complemented
// bytes (codes, end of text, extras and their end) are followed by one more
// 00. So nulls come last and every value sorts the other way round.
// Checked against Access's bytes for long integers and their nulls (every
// entry of the descending index of compIndexTestV2000.mdb, 512 rows:
// index_key_test.cpp, tests/jet_index_read_test.cpp). For short integers,
// doubles, dates and text it follows Jackcess' IndexData and
// GeneralLegacyIndexCodes (the flags, the complement, the extra 00 after a
// text) and mdbtools' HACKING.md (the flags and the complement); no Access-
// or Jackcess-made file here has a descending column of these types.
//
// Keys are made for long and short integers, doubles, dates and text. Text
// keys cover printable ASCII (upper and lower case sort alike; apostrophes
// and hyphens are passed over and count only after the rest) and the
// accented Latin letters of Latin-1
// (grave, acute, circumflex, tilde, diaeresis, ring and cedilla on the
// letters that carry them); any other character is refused
// (std::invalid_argument naming it). Trailing spaces do not count.
#include <cstdint>
#include <string>
#include <variant>

#include "platform/jet/format/bytes.h"
#include "platform/jet/format/column_type.h"

namespace kw::jet {

// A value to make a key of: null, a whole number (integer and long
// columns), a double (double and date columns: a date as its days since
// 1899-12-30) or text (UTF-8).
using KeyValue = std::variant<std::monostate, int32_t, double, std::string>;

// Whether an index key can be made of a column of this type.
bool IndexableType(ColumnType type);

// A column's order in an index (the real index's column list,
// table_definition.h).
enum class KeyOrder : uint8_t { kAscending, kDescending };

// Appends the key of one value; the value must match the column's type.
// Errors (std::invalid_argument) say what is refused; the caller adds the
// table, index and column.
void AppendIndexKey(Bytes& key, ColumnType type, const KeyValue& value, KeyOrder order = KeyOrder::kAscending);

}  // namespace kw::jet
