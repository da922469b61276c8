#include "tools/sample/table_sink.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

#include "tools/jet/jet_writer.h"

namespace kw::sample {
namespace {

namespace fs = std::filesystem;

class SqliteSink : public TableSink {
 public:
  SqliteSink(const std::string& path, const std::string& table, const std::string& key,
             const std::vector<SinkColumn>& columns, const std::vector<SinkIndex>& indexes)
      : table_(table), indexes_(indexes) {
    fs::remove(path);
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot create " + path);
    Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN");
    std::string create = "CREATE TABLE " + table + " (" + key + " INTEGER PRIMARY KEY";
    std::string insert = "INSERT INTO " + table + " (";
    std::string marks;
    for (size_t i = 0; i < columns.size(); ++i) {
      create += ", " + columns[i].name + " TEXT";
      insert += (i ? ", " : "") + columns[i].name;
      marks += i ? ",?" : "?";
    }
    Exec(create + ")");
    if (sqlite3_prepare_v2(db_, (insert + ") VALUES (" + marks + ")").c_str(), -1, &insert_, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
  }
  ~SqliteSink() override {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
  }
  void Add(const std::vector<std::optional<std::string>>& values) override {
    for (size_t i = 0; i < values.size(); ++i) {
      int at = static_cast<int>(i + 1);
      if (values[i])
        sqlite3_bind_text(insert_, at, values[i]->c_str(), static_cast<int>(values[i]->size()), SQLITE_TRANSIENT);
      else
        sqlite3_bind_null(insert_, at);
    }
    if (sqlite3_step(insert_) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_reset(insert_);
  }
  void Finish() override {
    for (const SinkIndex& ix : indexes_) {
      std::string columns;
      for (const std::string& c : ix.columns) {
        const bool down = std::any_of(ix.descending.begin(), ix.descending.end(), [&](const std::string& d) {
          return d.size() == c.size() && std::equal(d.begin(), d.end(), c.begin(), [](char x, char y) {
                   return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
                 });
        });
        columns += (columns.empty() ? "" : ", ") + c + (down ? " DESC" : "");
      }
      Exec(std::string(ix.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + table_ + "_" + ix.name + " ON " +
           table_ + " (" + columns + ")");
    }
    Exec("COMMIT");
  }

 private:
  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error(msg);
    }
  }
  std::string table_;
  std::vector<SinkIndex> indexes_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

class JetSink : public TableSink {
 public:
  JetSink(const std::string& path, const std::string& table, const std::string& key,
          const std::vector<SinkColumn>& columns, const std::vector<SinkIndex>& indexes)
      : writer_(path, jetw::MakeDateTime(2005, 1, 1)) {
    jetw::TableSchema def{table, {}, false};
    def.columns.push_back({key, jetw::ColumnType::kLong, 0, false, true});
    for (const SinkColumn& c : columns)
      def.columns.push_back({c.name, c.memo ? jetw::ColumnType::kMemo : jetw::ColumnType::kText, c.length, true, false});
    def.indexes.push_back({"PrimaryKey", {key}, true});
    for (const SinkIndex& ix : indexes) def.indexes.push_back({ix.name, ix.columns, false, ix.unique, ix.descending});
    table_ = writer_.AddTable(def);
    row_.resize(def.columns.size());
  }
  void Add(const std::vector<std::optional<std::string>>& values) override {
    row_[0] = std::monostate{};
    for (size_t i = 0; i < values.size() && i + 1 < row_.size(); ++i)
      row_[i + 1] = values[i] ? jetw::Value(*values[i]) : jetw::Value();
    writer_.AddRow(table_, row_);
  }
  void Finish() override { writer_.Finish(); }

 private:
  jetw::JetWriter writer_;
  size_t table_ = 0;
  jetw::RowValues row_;
};

}  // namespace

std::unique_ptr<TableSink> TableSink::Create(DbFormat format, const std::string& path, const std::string& table,
                                             const std::string& key, const std::vector<SinkColumn>& columns,
                                             const std::vector<SinkIndex>& indexes) {
  fs::create_directories(fs::path(path).parent_path());
  if (format == DbFormat::kJet) return std::make_unique<JetSink>(path, table, key, columns, indexes);
  return std::make_unique<SqliteSink>(path, table, key, columns, indexes);
}

}  // namespace kw::sample
