#pragma once
// Database engine seam, with the meaning DAO gives these operations.
// Every failing operation throws RunError whose description names the file,
// table or column concerned. Values are text or null (std::nullopt).
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kw {

using FieldValue = std::optional<std::string>;

class Recordset {
 public:
  virtual ~Recordset() = default;
  // True once past the last row (at once when nothing was selected).
  virtual bool Eof() = 0;
  // Makes the current row editable; fails when the row is gone.
  virtual void Edit() = 0;
  // Fields(name).Value. Unknown names throw, naming the column.
  virtual FieldValue GetValue(std::string_view field) = 0;
  virtual void SetValue(std::string_view field, const FieldValue& value) = 0;
  // Saves the changed fields of the edited row; afterwards the row counts as saved.
  virtual void Update() = 0;
  virtual void MoveNext() = 0;
  virtual void Close() = 0;
};

class Database {
 public:
  // Releasing an open database closes it; a record set opened on it stays
  // usable until it is itself closed or released.
  virtual ~Database() = default;
  // The columns that the record sets opened next are expected to read of
  // each row; an engine may keep their values as it selects the rows. A
  // hint only: nothing any operation does or returns depends on it.
  virtual void WillRead(const std::vector<std::string>& columns) { (void)columns; }
  // Type 2 is a dynaset over "SELECT * FROM <table> [WHERE <condition>]".
  virtual std::unique_ptr<Recordset> OpenRecordset(std::string_view source, int type) = 0;
  virtual void Close() = 0;
};

class DatabaseEngine {
 public:
  virtual ~DatabaseEngine() = default;
  // Opens an existing database file, given as a Windows path; never creates one.
  virtual std::unique_ptr<Database> OpenDatabase(std::string_view name, bool exclusive,
                                                 bool readOnly) = 0;
  // Commits whatever the engine holds back for speed. The run calls this
  // before an error is handled; close and release commit as well.
  virtual void CommitPending() = 0;
};

}  // namespace kw
