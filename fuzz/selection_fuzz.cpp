// Feeds arbitrary selections to the SQLite engine: the whole text when the
// first byte is even, else a column name put into the client selection as
// the run does it. Besides crashes and sanitizer reports it stops on a
// broken promise: opening a record set, reading its rows and closing it
// must leave the database as it was. Run from a -DKW_FUZZ=ON build directory:
//   ./selection_fuzz -max_total_time=120 CORPUS_DIR ../fuzz/seeds/selection
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/run_error.h"
#include "platform/sqlite/sqlite_engine.h"

namespace {

std::string Content(sqlite3* db) {
  sqlite3_stmt* s = nullptr;
  std::string out;
  sqlite3_prepare_v2(
      db,
      "SELECT group_concat(quote(LAND) || quote(PLZ) || quote(ORT) || quote(TELVOR)) "
      "|| (SELECT group_concat(name) FROM sqlite_schema) FROM ADRSTM",
      -1, &s, nullptr);
  if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_text(s, 0)) {
    out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  }
  sqlite3_finalize(s);
  return out;
}

struct Setup {
  std::string prefix;
  sqlite3* peer = nullptr;
  std::string before;
  Setup() {
    char tmpl[] = "/tmp/selection_fuzz.XXXXXX";
    if (!mkdtemp(tmpl)) abort();
    prefix = tmpl;
    namespace fs = std::filesystem;
    fs::create_directories(prefix + "/dosdevices");
    fs::create_directories(prefix + "/d");
    fs::create_directory_symlink(prefix + "/d", prefix + "/dosdevices/d:");
    sqlite3_open((prefix + "/d/NoltData.mdb").c_str(), &peer);
    sqlite3_exec(peer,
                 "CREATE TABLE ADRSTM (LAND TEXT, PLZ TEXT, ORT TEXT, TELVOR TEXT, NR INTEGER);"
                 "INSERT INTO ADRSTM VALUES ('CH', '8001', 'Zürich', '01', 1),"
                 " ('DE', '10115', 'Berlin', '030', 2), ('CH', NULL, NULL, '01', 3.5);"
                 "CREATE TABLE OTHER (X)",
                 nullptr, nullptr, nullptr);
    before = Content(peer);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string selection =
      data[0] % 2 == 0
          ? text
          : "SELECT * FROM ADRSTM WHERE ADRSTM.LAND = 'CH' AND ADRSTM." + text + " = '01'";
  {
    kw::SqliteEngineOptions options;
    options.busyTimeoutMs = 0;
    options.readColumns = {"PLZ", "NR"};  // their values are read with the keys
    kw::SqliteEngine engine(kw::WinePaths(setup.prefix), options);
    auto db = engine.OpenDatabase("D:\\NoltData.mdb", false, false);
    try {
      auto rs = db->OpenRecordset(selection, 2);
      for (int i = 0; i < 4 && !rs->Eof(); ++i) {
        rs->GetValue("PLZ");
        rs->GetValue("NR");
        rs->MoveNext();
      }
      rs->Close();
    } catch (const kw::RunError&) {
    }
  }
  if (Content(setup.peer) != setup.before) abort();
  return 0;
}
