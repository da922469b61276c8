#pragma once
// The key set of a dynaset: the row ids its selection takes, read once at
// open, with the values of the columns that the record set is expected to
// read kept as they are read.
#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sqlite/connection.h"
#include "platform/sqlite/kept_values.h"
#include "platform/sqlite/selection.h"

namespace kw::sqlite {

struct KeySet {
  std::vector<sqlite3_int64> keys;  // ascending
  std::unique_ptr<KeptValues> kept;  // of the first keys, or null
  // KeptEra() and Saves() of the connection when the values were read.
  uint64_t keptEra = 0;
  uint64_t keptSaves = 0;
};

// Reads the key set of a selection. text: the selection as it is to run,
// of the given form, its statement ending at end; source: as the user gave
// it, for the words of an error; names: the columns of its rows. Fails
// through the connection.
KeySet ReadKeySet(SqliteConnection& c, std::string_view source, std::string_view text,
                  const SelectionForm& form, size_t end, const std::string& rowid,
                  const std::vector<std::string>& names);

}  // namespace kw::sqlite
