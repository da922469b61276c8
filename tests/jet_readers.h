#pragma once
// Two independent readers of Jet databases, for tests that check a file
// after our code wrote it: Debian's mdbtools (mdb-ver, mdb-tables,
// mdb-schema, mdb-export) and the npm package mdb-reader (through
// tools/readers/read_mdb.mjs). Both are installed by scripts/install-deps.sh.
//
// Values come back as text, null as std::nullopt, in the same form from both
// readers: numbers as digits ("-12", "444.555"), currency with four decimals
// ("3.5000"), yes/no as "1"/"0", dates as "YYYY-MM-DD HH:MM:SS", binary as
// hex (upper case from mdb-export, lower case from mdb-reader). One difference remains and cannot be helped: mdb-export
// prints an empty text exactly as it prints NULL, so its rows have nullopt
// for both (compare with EmptyTextAsNull on the expected side).

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"

namespace kw::jet_readers {

namespace fs = std::filesystem;

using Value = std::optional<std::string>;
using Row = std::vector<Value>;

struct Column {
  std::string name;
  std::string type;  // as the reader names it: mdb-reader "text", mdb-schema "Text (10)"
  int size = 0;      // mdb-reader: bytes; mdb-schema: declared length in characters (0 if none)
};

struct Table {
  std::string name;
  std::vector<Column> columns;
  std::vector<Row> rows;
};

struct Index {
  std::string name;  // "PRIMARY KEY" for the primary key
  std::vector<std::string> columns;
  std::vector<std::string> descending;  // those of columns in descending order
  bool unique = false;                  // a unique index other than the primary key
};

struct Schema {
  std::string name;
  std::vector<Column> columns;  // type as mdb-schema writes it: "Long Integer", "Text (40)"
  std::vector<Index> indexes;
};

struct ProgramResult {
  int status = -1;  // exit status, or -1 when the program did not end normally
  std::string out;
  std::string err;
};

// Runs a program (looked up on PATH) and collects what it prints.
inline ProgramResult RunProgram(const std::vector<std::string>& argv) {
  const kw::testing::ChildResult r = kw::testing::RunCommand(argv, 600);
  return {r.status, r.out, r.err};
}

inline std::string Describe(const std::vector<std::string>& argv, const ProgramResult& r) {
  std::string text;
  for (const auto& a : argv) text += (text.empty() ? "" : " ") + a;
  return text + " exited with " + std::to_string(r.status) + ": " + r.err;
}

inline std::string RunOrThrow(const std::vector<std::string>& argv) {
  ProgramResult r = RunProgram(argv);
  if (r.status != 0) throw std::runtime_error(Describe(argv, r));
  return r.out;
}

// The folder of the node script and its installed package.
inline fs::path ReadersDir() {
  return fs::path(KW_TEST_DATA).parent_path().parent_path() / "tools" / "readers";
}

// Empty when both readers can be run, else what is missing and how to get it.
inline std::string MissingReaders() {
  std::string missing;
  if (RunProgram({"mdb-ver", "--version"}).status != 0) missing += "mdbtools (mdb-ver) ";
  if (RunProgram({"node", "--version"}).status != 0) missing += "node ";
  if (!fs::exists(ReadersDir() / "node_modules" / "mdb-reader" / "package.json"))
    missing += "the npm package mdb-reader in tools/readers ";
  if (!missing.empty()) missing += "- run scripts/install-deps.sh";
  return missing;
}

// "JET4", "JET3", "ACE12" ... as mdb-ver prints it.
inline std::string MdbVersion(const fs::path& file) {
  std::string out = RunOrThrow({"mdb-ver", file.string()});
  while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back()))) out.pop_back();
  return out;
}

inline std::vector<std::string> MdbTables(const fs::path& file, bool system = false) {
  std::vector<std::string> argv = {"mdb-tables", "-1"};
  if (system) argv.push_back("-S");
  argv.push_back(file.string());
  std::string out = RunOrThrow(argv);
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    if (end > pos) names.push_back(out.substr(pos, end - pos));
    pos = end + 1;
  }
  return names;
}

// Splits mdb-export's output (options below) into rows of values: quoted
// fields are text, an unquoted empty field is null, other unquoted fields are
// numbers as printed. Inside quotes a quote is doubled; \\ \r \n \t are
// escapes. (mdbtools 1.0 leaves quotes alone when given an escape character.)
inline std::vector<Row> ParseExport(const std::string& text, size_t columns) {
  std::vector<Row> rows;
  Row row;
  size_t i = 0;
  auto fail = [&](const char* what) {
    throw std::runtime_error(std::string("mdb-export output: ") + what + " at byte " + std::to_string(i));
  };
  while (i < text.size()) {
    Value value;
    if (text[i] == '"') {
      std::string v;
      ++i;
      for (;;) {
        if (i >= text.size()) fail("unterminated quoted field");
        char c = text[i++];
        if (c == '"') {
          if (i < text.size() && text[i] == '"') {
            v += '"';
            ++i;
            continue;
          }
          break;
        }
        if (c == '\\') {
          if (i >= text.size()) fail("escape at end");
          char e = text[i++];
          v += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
        } else {
          v += c;
        }
      }
      value = v;
    } else {
      size_t end = text.find_first_of(",\n", i);
      if (end == std::string::npos) end = text.size();
      if (end > i) value = text.substr(i, end - i);
      i = end;
    }
    row.push_back(value);
    if (i >= text.size() || text[i] == '\n') {
      if (row.size() != columns) fail("row with a wrong number of fields");
      rows.push_back(std::move(row));
      row.clear();
      ++i;
    } else if (text[i] == ',') {
      ++i;
      if (i >= text.size()) fail("delimiter at end");
    } else {
      fail("text after a quoted field");
    }
  }
  return rows;
}

// Every row of a table as mdb-export gives it; the column names from its header.
inline Table MdbExport(const fs::path& file, const std::string& table) {
  std::string header = RunOrThrow({"mdb-export", "-R", "\n", "-d", ",", file.string(), table});
  Table result;
  result.name = table;
  std::string names = header.substr(0, header.find('\n'));
  size_t pos = 0;
  while (pos <= names.size() && !names.empty()) {
    size_t end = names.find(',', pos);
    if (end == std::string::npos) end = names.size();
    result.columns.push_back({names.substr(pos, end - pos), "", 0});
    pos = end + 1;
  }
  std::string out = RunOrThrow({"mdb-export", "-H", "-d", ",", "-R", "\n", "-q", "\"", "-e",
                                "-D", "%F %T", "-T", "%F %T", "-b", "hex", file.string(), table});
  result.rows = ParseExport(out, result.columns.size());
  return result;
}

// Tables, columns (with mdb-schema's type words) and indexes. The column
// list comes from the Access dialect, the indexes from the MySQL dialect,
// which is the one that names them with their columns.
inline std::vector<Schema> MdbSchema(const fs::path& file) {
  std::string access = RunOrThrow({"mdb-schema", "--no-comments", file.string(), "access"});
  std::vector<Schema> tables;
  size_t pos = 0;
  while ((pos = access.find("CREATE TABLE [", pos)) != std::string::npos) {
    Schema s;
    size_t name_end = access.find(']', pos + 14);
    s.name = access.substr(pos + 14, name_end - pos - 14);
    size_t body_end = access.find(");", name_end);
    std::string body = access.substr(name_end, body_end - name_end);
    size_t p = 0;
    while ((p = body.find("\n\t[", p)) != std::string::npos) {
      size_t close = body.find(']', p + 3);
      Column c;
      c.name = body.substr(p + 3, close - p - 3);
      size_t type_start = body.find_first_not_of('\t', close + 1);
      size_t type_end = body.find_first_of(",\n", type_start);
      c.type = body.substr(type_start, type_end - type_start);
      while (!c.type.empty() && c.type.back() == ' ') c.type.pop_back();
      size_t paren = c.type.find(" (");
      if (paren != std::string::npos) c.size = std::stoi(c.type.substr(paren + 2));
      s.columns.push_back(c);
      p = close;
    }
    tables.push_back(std::move(s));
    pos = body_end;
  }
  std::string mysql = RunOrThrow({"mdb-schema", "--no-comments", "--indexes", file.string(), "mysql"});
  // The columns of "(`A`, `B` DESC)", and those of them in descending order.
  auto columns_of = [](const std::string& list, Index& index) {
    size_t q = 0;
    while ((q = list.find('`', q)) != std::string::npos) {
      size_t e = list.find('`', q + 1);
      index.columns.push_back(list.substr(q + 1, e - q - 1));
      if (list.compare(e + 1, 5, " DESC") == 0) index.descending.push_back(index.columns.back());
      q = e + 1;
    }
  };
  pos = 0;
  const std::string alter = "ALTER TABLE `";
  while ((pos = mysql.find(alter, pos)) != std::string::npos) {
    size_t name_end = mysql.find('`', pos + alter.size());
    std::string table = mysql.substr(pos + alter.size(), name_end - pos - alter.size());
    size_t line_end = mysql.find('\n', name_end);
    std::string rest = mysql.substr(name_end + 1, line_end - name_end - 1);
    Index index;
    size_t open = rest.find('(');
    if (rest.find(" ADD PRIMARY KEY ") == 0) {
      index.name = "PRIMARY KEY";
    } else if (rest.find(" ADD INDEX `") == 0 || rest.find(" ADD UNIQUE INDEX `") == 0) {
      index.unique = rest.find(" ADD UNIQUE INDEX `") == 0;
      size_t q = rest.find('`');
      index.name = rest.substr(q + 1, rest.find('`', q + 1) - q - 1);
      open = rest.find('(', rest.find('`', q + 1));
    } else {
      pos = line_end;
      continue;
    }
    columns_of(rest.substr(open), index);
    for (auto& s : tables)
      if (s.name == table) s.indexes.push_back(index);
    pos = line_end;
  }
  return tables;
}

// What mdb-reader reads: the user tables (and with all, the system tables
// it can read) with their columns and every row.
inline std::vector<Table> NodeRead(const fs::path& file, bool all = false) {
  std::vector<std::string> argv = {"node", (ReadersDir() / "read_mdb.mjs").string(), file.string()};
  if (all) argv.push_back("--all");
  nlohmann::json doc = nlohmann::json::parse(RunOrThrow(argv));
  std::vector<Table> tables;
  for (const auto& t : doc.at("tables")) {
    Table table;
    table.name = t.at("name").get<std::string>();
    if (t.contains("error")) continue;
    for (const auto& c : t.at("columns"))
      table.columns.push_back({c.at("name").get<std::string>(), c.at("type").get<std::string>(), c.at("size").get<int>()});
    for (const auto& r : t.at("rows")) {
      Row row;
      for (const auto& v : r) row.push_back(v.is_null() ? Value() : Value(v.get<std::string>()));
      table.rows.push_back(std::move(row));
    }
    tables.push_back(std::move(table));
  }
  return tables;
}

inline const Table& Find(const std::vector<Table>& tables, const std::string& name) {
  for (const auto& t : tables)
    if (t.name == name) return t;
  throw std::runtime_error("no table " + name);
}

// "" when the rows are equal, else where they first differ, with values cut
// short so that a failing test prints a readable line.
inline std::string FirstDifference(const Row& actual, const Row& expected) {
  auto show = [](const Value& v) {
    if (!v) return std::string("null");
    return "'" + (v->size() > 60 ? v->substr(0, 60) + "...(" + std::to_string(v->size()) + " bytes)" : *v) + "'";
  };
  if (actual.size() != expected.size())
    return std::to_string(actual.size()) + " values, expected " + std::to_string(expected.size());
  for (size_t i = 0; i < actual.size(); ++i)
    if (actual[i] != expected[i]) return "column " + std::to_string(i) + ": " + show(actual[i]) + ", expected " + show(expected[i]);
  return "";
}

// Rows as mdb-export would show them: an empty text becomes null.
inline std::vector<Row> EmptyTextAsNull(std::vector<Row> rows) {
  for (auto& r : rows)
    for (auto& v : r)
      if (v && v->empty()) v.reset();
  return rows;
}

}  // namespace kw::jet_readers
