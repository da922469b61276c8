#pragma once
// The bytes an index holds for a column's value, in Jet's "General" sort
// order (ascending): a flag byte (00 for null, 7F otherwise), then the value
// encoded so that comparing the bytes orders the values. A key of several
// columns is their keys one after the other. The codes were checked against
// the keys Access itself wrote (index_key_test.cpp, on
// tests/data/jet/access-made/).
//
// Keys are made for long and short integers, doubles, dates and text. Text
// keys cover printable ASCII (upper and lower case sort alike; apostrophes
// and hyphens are passed over and count only after the rest) and the
// accented Latin letters of Latin-1
// (grave, acute, circumflex, tilde, diaeresis, ring and cedilla on the
// letters that carry them); any other character is refused
// (std::invalid_argument naming it). Trailing spaces do not count.
// Descending columns are not covered: no Access-made file here has one.
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

// Appends the key of one value; the value must match the column's type.
// Errors (std::invalid_argument) say what is refused; the caller adds the
// table, index and column.
void AppendIndexKey(Bytes& key, ColumnType type, const KeyValue& value);

}  // namespace kw::jet
