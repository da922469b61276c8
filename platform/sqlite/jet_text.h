#pragma once
// Jet's meaning of text comparison in a selection, given to SQLite: a
// collation that folds the letters of Windows-1252 (blanks count), and the
// condition of a selection with every text literal compared under it.
#include <sqlite3.h>

#include <string>
#include <string_view>

namespace kw {

// The name under which the collation is registered on a connection.
constexpr char kJetCollation[] = "kw_jet";

// Registers the collation on db; SQLite's result code.
int RegisterJetCollation(sqlite3* db);

// The condition with " COLLATE kw_jet" after each text literal, so that
// "LAND = 'CH'" compares as Jet does. Names, comments, blob literals and a
// literal naming a collation are left as they are; nothing else changes.
std::string CompareTextAsJet(std::string_view condition);

}  // namespace kw
