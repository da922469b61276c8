#pragma once
// An in-memory database engine for tests of the run. It understands the one
// selection form the run uses (SELECT * FROM t [WHERE t.c = 'v' AND ...]),
// keeps a keyset like a dynaset, logs every operation and can be told to
// fail an operation a number of times (CommitPending too).
#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/run_error.h"

namespace kw {

class FakeDatabaseEngine : public DatabaseEngine {
 public:
  using Row = std::map<std::string, FieldValue>;  // column names in upper case
  struct Table {
    std::vector<std::optional<Row>> rows;  // nullopt: deleted
  };
  struct File {
    std::map<std::string, Table> tables;  // names in upper case
    bool open = false;
  };
  struct Fault {
    // "OpenDatabase", "OpenRecordset", "Eof", "Edit", "GetValue", ..., or one
    // of them with its detail as the log shows it ("OpenDatabase D:\\x.mdb").
    std::string op;
    int skip = 0;    // calls of op that pass before the first failure
    int times = 1;   // consecutive failing calls
    std::string message = "Simulated failure";
    int number = kErrGeneral;  // the RunError's number
  };

  static std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }

  Table& AddTable(const std::string& file, const std::string& table) {
    return files[file].tables[Upper(table)];
  }
  static void AddRow(Table& t, const Row& r) {
    Row up;
    for (const auto& [k, v] : r) up[Upper(k)] = v;
    t.rows.emplace_back(up);
  }

  std::unique_ptr<Database> OpenDatabase(std::string_view name, bool, bool) override {
    Hit("OpenDatabase", std::string(name));
    auto it = files.find(std::string(name));
    if (it == files.end()) throw RunError("Could not find file '" + std::string(name) + "'.");
    it->second.open = true;
    ++openDatabases;
    return std::make_unique<Db>(*this, it->second);
  }
  void CommitPending() override { Hit("CommitPending"); }

  // Throws the planned fault for op, if any is due.
  void Hit(const std::string& op, const std::string& detail = {}) {
    const std::string entry = op + (detail.empty() ? "" : " " + detail);
    log.push_back(entry);
    for (Fault& f : faults) {
      if (f.op != op && f.op != entry) continue;
      if (f.skip > 0) {
        --f.skip;
      } else if (f.times > 0) {
        --f.times;
        throw RunError(f.message, f.number);
      }
    }
  }

  std::map<std::string, File> files;
  std::vector<Fault> faults;
  std::vector<std::string> log;
  int openDatabases = 0;

 private:
  class Rs : public Recordset {
   public:
    Rs(FakeDatabaseEngine& e, Table& t, std::vector<size_t> keys)
        : e_(e), t_(t), keys_(std::move(keys)) {}
    bool Eof() override {
      e_.Hit("Eof");
      return pos_ >= keys_.size();
    }
    void Edit() override {
      e_.Hit("Edit");
      Current();
      buffer_ = *t_.rows[keys_[pos_]];
      changed_.clear();
      editing_ = true;
    }
    FieldValue GetValue(std::string_view field) override {
      e_.Hit("GetValue", std::string(field));
      const Row& r = editing_ ? buffer_ : Current();
      auto it = r.find(Upper(std::string(field)));
      if (it == r.end()) throw RunError("Item not found in this collection: '" + std::string(field) + "'.");
      return it->second;
    }
    void SetValue(std::string_view field, const FieldValue& v) override {
      e_.Hit("SetValue", std::string(field));
      if (!editing_) throw RunError("Update or CancelUpdate without AddNew or Edit.");
      const std::string key = Upper(std::string(field));
      if (!buffer_.count(key)) throw RunError("Item not found in this collection: '" + std::string(field) + "'.");
      buffer_[key] = v;
      changed_.push_back(key);
    }
    void Update() override {
      e_.Hit("Update");
      if (!editing_) throw RunError("Update or CancelUpdate without AddNew or Edit.");
      Row& r = Current();
      for (const auto& k : changed_) r[k] = buffer_[k];
      editing_ = false;
    }
    void MoveNext() override {
      e_.Hit("MoveNext");
      if (pos_ >= keys_.size()) throw RunError("No current record.");
      ++pos_;
      editing_ = false;
    }
    void Close() override { e_.Hit("Close recordset"); }

   private:
    Row& Current() {
      if (pos_ >= keys_.size()) throw RunError("No current record.");
      auto& r = t_.rows[keys_[pos_]];
      if (!r) throw RunError("Record is deleted.", kErrRecordDeleted);
      return *r;
    }
    FakeDatabaseEngine& e_;
    Table& t_;
    std::vector<size_t> keys_;
    size_t pos_ = 0;
    bool editing_ = false;
    Row buffer_;
    std::vector<std::string> changed_;
  };

  class Db : public Database {
   public:
    Db(FakeDatabaseEngine& e, File& f) : e_(e), f_(f) {}
    ~Db() override { f_.open = false; }
    std::unique_ptr<Recordset> OpenRecordset(std::string_view source, int type) override {
      e_.Hit("OpenRecordset", std::string(source));
      if (closed_) throw RunError("Object invalid or no longer set.");
      if (type != 2) throw RunError("Invalid argument.");
      // SELECT * FROM <t> [WHERE <t>.<c> = '<v>' [AND ...]]
      std::vector<std::string> w;
      std::string cur;
      for (char c : std::string(source)) {
        if (c == ' ') {
          if (!cur.empty()) w.push_back(cur);
          cur.clear();
        } else {
          cur += c;
        }
      }
      if (!cur.empty()) w.push_back(cur);
      if (w.size() < 4 || Upper(w[0]) != "SELECT" || w[1] != "*" || Upper(w[2]) != "FROM")
        throw RunError("Syntax error in query.");
      auto t = f_.tables.find(Upper(w[3]));
      if (t == f_.tables.end())
        throw RunError("The Microsoft Jet database engine cannot find the input table or query '" +
                       w[3] + "'.");
      std::vector<std::pair<std::string, std::string>> conds;
      for (size_t i = 4; i < w.size(); i += 4) {
        if (i + 3 >= w.size()) throw RunError("Syntax error in query.");
        if (Upper(w[i]) != (i == 4 ? "WHERE" : "AND") || w[i + 2] != "=")
          throw RunError("Syntax error in query.");
        std::string col = w[i + 1];
        col = Upper(col.substr(col.find('.') + 1));
        std::string lit = w[i + 3];
        if (lit.size() < 2 || lit.front() != '\'' || lit.back() != '\'')
          throw RunError("Syntax error in query.");
        conds.emplace_back(col, lit.substr(1, lit.size() - 2));
      }
      std::vector<size_t> keys;
      for (size_t r = 0; r < t->second.rows.size(); ++r) {
        const auto& row = t->second.rows[r];
        if (!row) continue;
        bool match = true;
        for (const auto& [c, v] : conds) {
          auto it = row->find(c);
          if (it == row->end())
            throw RunError("Too few parameters. Expected 1. (" + c + ")");
          if (it->second != v) match = false;
        }
        if (match) keys.push_back(r);
      }
      return std::make_unique<Rs>(e_, t->second, std::move(keys));
    }
    void Close() override {
      e_.Hit("Close database");
      if (closed_) throw RunError("Object invalid or no longer set.");
      closed_ = true;
      f_.open = false;
    }

   private:
    FakeDatabaseEngine& e_;
    File& f_;
    bool closed_ = false;
  };
};

}  // namespace kw
