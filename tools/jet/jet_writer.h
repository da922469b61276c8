#pragma once
// Writes a new Jet 4 (Access 2000 format) database from nothing: the
// database definition page, the catalog MSysObjects and the system tables
// MSysACEs, MSysQueries and MSysRelationships, then the caller's tables and
// rows. Rows are packed onto data pages in the order given, each page as full
// as the next row allows; memo and OLE values go inline (up to 64 bytes), on
// long-value pages, or on a chain of them. Pages are written to the file as
// they fill; an index keeps its entries in memory until Finish writes its
// pages (a few bytes for each row and index).
//
// Indexes: a primary key and further indexes of one to ten columns, each
// column ascending or descending, unique ones flagged as Access flags them;
// their keys as platform/jet/format/index_key.h makes them (integers, dates,
// doubles and Latin text), the whole index built at Finish as a compacted
// tree.
// Left out: indexes that ignore nulls or require values (other than the
// primary key), entries sharing a prefix on a page (each entry is stored
// whole), indexes of the system tables, relationships, properties and
// permissions; a table definition must fit on one page.
#include <memory>
#include <string>

#include "tools/jet/jet_schema.h"

namespace kw::jetw {

class JetWriter {
 public:
  // Creates (or replaces) the file; an error names it (std::runtime_error).
  JetWriter(const std::string& path, DateTime created);
  // Without Finish, the partial file is removed.
  ~JetWriter();
  JetWriter(const JetWriter&) = delete;
  JetWriter& operator=(const JetWriter&) = delete;

  // Definition errors name the table and column (std::invalid_argument).
  size_t AddTable(const TableSchema& def);
  // A null autonumber value is given the next number; a given one must be
  // larger than every earlier one. Value errors name the table and column;
  // a value an index cannot hold names the index too (std::invalid_argument),
  // and the row is not added.
  void AddRow(size_t table, const RowValues& values);
  // Writes the catalog, the indexes, the table definitions and the usage
  // maps and closes the file. A primary key or unique index that holds a key
  // twice is an error naming the table and index (std::invalid_argument).
  void Finish();

  struct State;

 private:
  std::unique_ptr<State> s_;
};

}  // namespace kw::jetw
