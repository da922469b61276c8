#pragma once
// A dynaset over one table of a Jet database (see database.h for the
// meaning of each operation). Edit reads the row as it is in the file now;
// Update writes the changed text columns and nothing else of the row.
// Before any error leaves, what the connection holds is committed.
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/database.h"
#include "platform/jet/jet_connection.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/row_indexes.h"
#include "platform/jet/row_writer.h"

namespace kw::jet {

class JetRecordset : public Recordset {
 public:
  JetRecordset(std::shared_ptr<JetConnection> connection, std::unique_ptr<TableRows> rows,
               std::vector<RowLocation> keys);

  bool Eof() override;
  void Edit() override;
  FieldValue GetValue(std::string_view field) override;
  void SetValue(std::string_view field, const FieldValue& value) override;
  void Update() override;
  void MoveNext() override;
  void Close() override;

 private:
  template <typename F>
  auto Guard(F&& f) -> decltype(f());
  const Column& ColumnNamed(std::string_view field) const;
  void NeedCurrent() const;
  // The current row as the file holds it: read anew when fresh is asked
  // for or when anything was written through the connection since.
  struct CurrentRow {
    size_t at = SIZE_MAX;
    uint64_t changes = 0;
    PageBytes page;
    Slot slot;
    std::vector<Cell> cells;
  };
  const CurrentRow& ReadCurrent(bool fresh);

  std::shared_ptr<JetConnection> connection_;
  std::unique_ptr<TableRows> rows_;
  std::unique_ptr<RowWriter> writer_;
  RowIndexes indexes_;
  uint64_t indexedChanges_ = 0;  // the connection's writes when the index pages kept were last true
  std::vector<RowLocation> keys_;
  size_t at_ = 0;
  bool closed_ = false;
  bool editing_ = false;
  std::map<uint16_t, FieldValue> changes_;  // by column number
  CurrentRow current_;
  std::string rowWhat_;  // how a row is named in errors
};

}  // namespace kw::jet
