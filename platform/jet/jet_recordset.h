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
  // Reads the current row as it is in the file now into row_; throws
  // kErrRecordDeleted when it is gone.
  void LoadRow();

  std::shared_ptr<JetConnection> connection_;
  std::unique_ptr<TableRows> rows_;
  std::unique_ptr<RowWriter> writer_;
  std::vector<RowLocation> keys_;
  size_t at_ = 0;
  bool closed_ = false;
  bool editing_ = false;
  std::map<uint16_t, FieldValue> changes_;  // by column number
  // The current row as Edit or the first GetValue read it; forgotten at
  // every move, Edit and Update. The file is held for this process alone,
  // so nothing else changes it in between.
  bool haveRow_ = false;
  std::vector<uint8_t> row_;
  std::vector<Cell> cells_;
  std::string rowWhat_;  // names the row in errors
};

}  // namespace kw::jet
