#pragma once
// The record set of a dynaset: walks its key set, reads the current row as
// it is now, and hands its updates to the connection.
#include <memory>
#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/sqlite/connection.h"
#include "platform/sqlite/key_set.h"

namespace kw::sqlite {

std::unique_ptr<Recordset> MakeRecordset(std::shared_ptr<SqliteConnection> conn, std::string table,
                                         std::string rowid, std::vector<std::string> names,
                                         KeySet set);

}  // namespace kw::sqlite
