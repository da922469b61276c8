#pragma once
// Where the sample writers put a table: an SQLite database or a new Jet 4
// file. Both get the same rows: a numbered key column, then text columns.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kw::sample {

enum class DbFormat { kSqlite, kJet };

struct SinkColumn {
  std::string name;
  int length = 0;     // declared length in characters (Jet)
  bool memo = false;  // a long text (Jet memo)
};

// A further index (the key column is the primary key). SQLite files name it
// <table>_<name>.
struct SinkIndex {
  std::string name;
  std::vector<std::string> columns;
  bool unique = false;
  std::vector<std::string> descending = {};  // those of columns in descending order
};

class TableSink {
 public:
  // Replaces the file at path. key is the numbered column (1, 2, ...).
  static std::unique_ptr<TableSink> Create(DbFormat format, const std::string& path, const std::string& table,
                                           const std::string& key, const std::vector<SinkColumn>& columns,
                                           const std::vector<SinkIndex>& indexes);
  virtual ~TableSink() = default;
  // One value for each text column (nullopt is NULL).
  virtual void Add(const std::vector<std::optional<std::string>>& values) = 0;
  // Completes the file with its indexes.
  virtual void Finish() = 0;
};

}  // namespace kw::sample
