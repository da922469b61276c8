#pragma once
// A dynaset over one table of a Jet database (see database.h for the
// meaning of each operation). Edit reads the row as it is in the file now;
// Update writes the changed text columns and nothing else of the row.
// Before any error leaves, what the connection holds is committed.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <span>
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
  ~JetRecordset() override;
  JetRecordset(const JetRecordset&) = delete;
  JetRecordset& operator=(const JetRecordset&) = delete;

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
    std::vector<uint8_t> row;  // its bytes, their room kept from row to row
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
  // The values set since Edit, by column number in ascending order, as a
  // map would hold them; its room is kept from row to row.
  class ChangedValues {
   public:
    using Entry = std::pair<uint16_t, FieldValue>;
    FieldValue& operator[](uint16_t number) {
      auto it = std::lower_bound(values_.begin(), values_.end(), number,
                                 [](const Entry& e, uint16_t n) { return e.first < n; });
      if (it == values_.end() || it->first != number) it = values_.insert(it, Entry{number, std::nullopt});
      return it->second;
    }
    std::vector<Entry>::const_iterator find(uint16_t number) const {
      for (auto it = values_.begin(); it != values_.end(); ++it)
        if (it->first == number) return it;
      return values_.end();
    }
    std::span<const Entry> All() const { return values_; }
    std::vector<Entry>::const_iterator begin() const { return values_.begin(); }
    std::vector<Entry>::const_iterator end() const { return values_.end(); }
    void clear() { values_.clear(); }

   private:
    std::vector<Entry> values_;
  };
  ChangedValues changes_;
  std::unique_ptr<PageEdit> edit_;                 // the change being saved, its room kept
  std::optional<std::vector<uint8_t>> encoded_;    // a value as it is stored, its room kept
  CurrentRow current_;
  std::string rowWhat_;  // how a row is named in errors
  // Columns found by the names the caller wrote, for the next time.
  static constexpr size_t kNamedColumns = 16;
  mutable std::vector<std::pair<std::string, const Column*>> named_;
};

}  // namespace kw::jet
