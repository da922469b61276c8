#pragma once
// The bytes an index holds for a column's value, in Jet's "General" sort
// order (ascending): a flag byte (00 for null, 7F otherwise), then the value
// encoded so that comparing the bytes orders the values.
//
// Keys are made for long and short integers, doubles, dates and text. Text
// keys cover printable ASCII (upper and lower case sort alike; apostrophes
// and hyphens are passed over and count only after the rest) and the
// accented Latin letters of Latin-1
// (grave, acute, circumflex, tilde, diaeresis, ring and cedilla on the
// letters that carry them); any other character is refused
// (std::invalid_argument naming it). Trailing spaces do not count.
#include "tools/jet/jet_bytes.h"
#include "tools/jet/jet_schema.h"

namespace kw::jetw {

// Whether an index may hold a column of this type.
bool IndexableType(ColumnType type);

// Appends the key of one value; the value must match the column's type.
// Errors (std::invalid_argument) say what is refused; the caller adds the
// table, index and column.
void AppendIndexKey(Bytes& key, ColumnType type, const Value& value);

}  // namespace kw::jetw
