// The real program over installations whose databases are Jet 4 files: the
// product-shaped files converted exactly as their SQLite twins are, read
// back by both independent readers; a second run that changes no byte; and
// runs killed at random moments followed by one full run; files in use by
// someone else left as they were.
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <random>

#include "platform/text_compare.h"
#include "tests/e2e_support.h"
#include "tests/jet_index_check.h"
#include "tests/jet_readers.h"

namespace kw::e2e {
namespace {

namespace jr = kw::jet_readers;

using Rows = std::map<int64_t, jr::Row>;

// The rows of a table by its first column (the autonumber key): a row that
// moved to another page is read in another order, but is the same row.
Rows ByKey(const std::vector<jr::Row>& rows) {
  Rows out;
  for (const jr::Row& r : rows) out.emplace(std::stoll(r.at(0).value()), r);
  return out;
}

int ColumnOf(const jr::Table& t, const std::string& name) {
  for (size_t i = 0; i < t.columns.size(); ++i)
    if (t.columns[i].name == name) return static_cast<int>(i);
  throw std::runtime_error(t.name + " has no column " + name);
}

// What a correct conversion makes of the rows: text compares as in Jet,
// without regard to case, blanks counted.
Rows Converted(const jr::Table& t, const std::vector<std::string>& columns) {
  Rows rows = ByKey(t.rows);
  const int land = ColumnOf(t, "LAND");
  for (auto& [key, row] : rows) {
    if (!row[land] || !JetTextEqual(*row[land], "CH")) continue;
    for (const std::string& c : columns)
      if (jr::Value& v = row[ColumnOf(t, c)]; v && JetTextEqual(*v, "01")) v = "044";
  }
  return rows;
}

std::string FirstDifference(const Rows& actual, const Rows& expected) {
  if (actual.size() != expected.size())
    return std::to_string(actual.size()) + " rows, expected " + std::to_string(expected.size());
  for (const auto& [key, row] : expected) {
    auto it = actual.find(key);
    if (it == actual.end()) return "row " + std::to_string(key) + " missing";
    if (std::string d = jr::FirstDifference(it->second, row); !d.empty())
      return "row " + std::to_string(key) + ": " + d;
  }
  return "";
}

// Every table of a file as mdb-reader reads it, by name.
std::map<std::string, Rows> ReadAll(const std::string& file) {
  std::map<std::string, Rows> out;
  for (const jr::Table& t : jr::NodeRead(file)) out[t.name] = ByKey(t.rows);
  return out;
}

// An SQLite file holding, as text, what mdb-reader reads of the Jet file's
// table: the twin that the SQLite engine converts.
void WriteSqliteTwin(const jr::Table& t, const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string create = "CREATE TABLE " + t.name + " (", insert = "INSERT INTO " + t.name + " VALUES (";
  for (size_t i = 0; i < t.columns.size(); ++i) {
    create += (i ? ", " : "") + t.columns[i].name + (i ? " TEXT" : " INTEGER PRIMARY KEY");
    insert += i ? ", ?" : "?";
  }
  ASSERT_EQ(sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &s, nullptr), SQLITE_OK);
  for (const jr::Row& r : t.rows) {
    for (size_t i = 0; i < r.size(); ++i) {
      if (r[i]) sqlite3_bind_text(s, static_cast<int>(i + 1), r[i]->c_str(), -1, SQLITE_TRANSIENT);
      else sqlite3_bind_null(s, static_cast<int>(i + 1));
    }
    ASSERT_EQ(sqlite3_step(s), SQLITE_DONE);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

// The SQLite twin's rows, as text.
Rows ReadTwin(const std::string& path, const std::string& table) {
  const DatabaseContent content = ReadDatabase(path);
  Rows out;
  for (const auto& [id, row] : content.at(table).rows) {
    jr::Row r;
    for (const std::string& v : row) r.push_back(v == "N" ? jr::Value() : jr::Value(v.substr(2)));
    out.emplace(id, r);
  }
  return out;
}

struct ProductFile {
  std::string rel;       // below the data folder
  std::string table;
  std::vector<std::string> columns;  // converted by the run
};

const ProductFile kProduct[] = {
    {"Public/Public.mdb", "PLZSTM", {"TELVOR"}},
    {"Mand01/NoltData.mdb", "ADRSTM", {"TELVOR", "FAXVOR"}},
};

std::string ProductSource(const ProductFile& f) {
  return std::string(KW_TEST_DATA) + "/jet/product/" + fs::path(f.rel).filename().string();
}

TEST(JetRun, ProductFilesConvertAsTheirSqliteTwinsAndASecondRunChangesNoByte) {
  if (const std::string missing = jr::MissingReaders(); !missing.empty()) GTEST_SKIP() << missing;
  TempDir dir;
  const std::string jet = dir.Path("jet"), twin = dir.Path("sqlite");
  for (const auto& [prefix, format] : {std::pair{jet, sample::DbFormat::kJet}, {twin, sample::DbFormat::kSqlite}}) {
    sample::SampleInstallation setup;
    setup.prefix = prefix;
    setup.plzRows = 300;
    setup.clients = sample::DefaultClients(4, 200);
    setup.format = format;
    sample::WriteInstallation(setup);
  }
  for (const ProductFile& f : kProduct) {
    fs::copy_file(ProductSource(f), DataPath(jet, f.rel), fs::copy_options::overwrite_existing);
    fs::remove(DataPath(twin, f.rel));
    WriteSqliteTwin(jr::Find(jr::NodeRead(ProductSource(f)), f.table), DataPath(twin, f.rel));
  }
  ProgramRun jetRun(jet, "j\n"), twinRun(twin, "j\n");
  jetRun.Finish();
  twinRun.Finish();
  ASSERT_EQ(jetRun.status(), 0) << jetRun.out() << jetRun.err();
  ASSERT_EQ(twinRun.status(), 0) << twinRun.out() << twinRun.err();
  EXPECT_EQ(jetRun.out(), twinRun.out());
  EXPECT_EQ(jetRun.err(), twinRun.err());

  for (const ProductFile& f : kProduct) {
    SCOPED_TRACE(f.rel);
    const std::string file = DataPath(jet, f.rel);
    const jr::Table original = jr::Find(jr::NodeRead(ProductSource(f)), f.table);
    const Rows expected = Converted(original, f.columns);
    ASSERT_NE(expected, ByKey(original.rows)) << "the file holds rows to convert";
    EXPECT_EQ(FirstDifference(ByKey(jr::Find(jr::NodeRead(file), f.table).rows), expected), "") << "mdb-reader";
    std::vector<jr::Row> exportedExpected;
    for (const auto& [key, row] : expected) exportedExpected.push_back(row);
    EXPECT_EQ(FirstDifference(ByKey(jr::MdbExport(file, f.table).rows), ByKey(jr::EmptyTextAsNull(exportedExpected))), "")
        << "mdb-export";
    EXPECT_EQ(FirstDifference(ReadTwin(DataPath(twin, f.rel), f.table), expected), "") << "SQLite twin";
    EXPECT_EQ(jr::MdbTables(file, true), jr::MdbTables(ProductSource(f), true));
  }
  // The writer-made clients convert as their SQLite twins too.
  for (const std::string& rel : DatabaseFiles(twin)) {
    if (rel.find("Mand01") != std::string::npos || rel.find("Public.mdb") != std::string::npos) continue;
    SCOPED_TRACE(rel);
    EXPECT_EQ(FirstDifference(ReadAll(jet + "/" + rel).at("ADRSTM"), ReadTwin(twin + "/" + rel, "ADRSTM")), "");
  }

  std::map<std::string, std::string> before;
  for (const std::string& rel : DatabaseFiles(jet)) before[rel] = ReadFile(jet + "/" + rel);
  ProgramRun again(jet, "j\n"), twinAgain(twin, "j\n");
  again.Finish();
  twinAgain.Finish();
  EXPECT_EQ(again.status(), 0);
  EXPECT_EQ(again.out(), twinAgain.out());
  for (const auto& [rel, bytes] : before) EXPECT_TRUE(ReadFile(jet + "/" + rel) == bytes) << rel << " changed";
  EXPECT_EQ(Journals(jet), std::vector<std::string>());
}

// A file that another process holds, or beside which the product's lock
// file shows a user, is not written: the general database ends the run
// after its one message (it asks for a new run once the product is closed
// everywhere), a client is abandoned and named, with that reason, at the end.
TEST(JetRun, AFileInUseIsLeftByteForByteAsItWas) {
  struct Case {
    const char* rel;
    bool lockFile;  // else held by a lock of this process
    int status;
    int messages;
  };
  const Case cases[] = {
      {"Public/Public.mdb", false, 1, 1},
      {"Public/Public.mdb", true, 1, 1},
      {"Mand05/NoltData.mdb", false, 3, 1},
      {"Mand05/NoltData.mdb", true, 3, 1},
  };
  TempDir dir;
  sample::SampleInstallation setup;
  setup.prefix = dir.Path("pristine");
  setup.plzRows = 300;
  setup.clients = sample::DefaultClients(6, 100);
  setup.format = sample::DbFormat::kJet;
  sample::WriteInstallation(setup);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rel) + (c.lockFile ? " beside a lock file" : " held"));
    const std::string prefix = dir.Path("work");
    CopyTree(setup.prefix, prefix);
    const std::string file = DataPath(prefix, c.rel);
    const std::string before = ReadFile(file);
    int held = -1;
    if (c.lockFile) {
      WriteBytes(fs::path(file).replace_extension(".ldb").string(), "WS01\0Admin");
    } else {
      held = open(file.c_str(), O_RDWR);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      ASSERT_EQ(fcntl(held, F_OFD_SETLK, &lock), 0);
    }
    ProgramRun run(prefix, "j\n\n\n\n\n");
    run.Finish();
    if (held >= 0) close(held);
    EXPECT_EQ(run.status(), c.status) << run.out();
    size_t messages = 0;
    for (size_t at = run.out().find("Close Orbica-Kontor on every workstation"); at != std::string::npos;
         at = run.out().find("Close Orbica-Kontor on every workstation", at + 1))
      ++messages;
    EXPECT_EQ(messages, static_cast<size_t>(c.messages)) << run.out();
    const bool client = c.status == 3;
    EXPECT_EQ(run.out().find("Lese Mandanten ein") != std::string::npos, client) << run.out();
    EXPECT_EQ(run.out().find("Der Mandant: Mandant 05\n wurde nicht vollständig umgestellt (Could not use") !=
                  std::string::npos,
              client)
        << run.out();
    EXPECT_TRUE(ReadFile(file) == before);
    EXPECT_EQ(Journals(prefix), std::vector<std::string>());
  }
}

// Files that are not what they seem: the run refuses each with a message
// naming it (three times, then it ends), waits for nothing and writes nothing.
TEST(JetRun, APipeOrAReadOnlyFileIsRefusedWithoutWaitingOrWriting) {
  TempDir dir;
  sample::SampleInstallation setup;
  setup.prefix = dir.Path("pristine");
  setup.plzRows = 300;
  setup.clients = {};
  setup.format = sample::DbFormat::kJet;
  sample::WriteInstallation(setup);
  const std::string rel = "Public/Public.mdb";
  const struct {
    const char* what;
    std::function<void(const std::string& file)> make;
    const char* message;
  } cases[] = {
      {"the database a named pipe",
       [](const std::string& f) { fs::remove(f), mkfifo(f.c_str(), 0666); },
       "The database engine cannot open 'D:\\Daten\\Public\\Public.mdb': it is not a file but a folder, a "
       "named pipe or a device."},
      {"its journal a named pipe", [](const std::string& f) { mkfifo((f + "-journal").c_str(), 0666); },
       "the journal 'D:\\Daten\\Public\\Public.mdb-journal' of an interrupted run cannot be rolled back, so "
       "the file is not used; both files are left as they are: it is not a file."},
      {"the database read-only", [](const std::string& f) { chmod(f.c_str(), 0444); },
       "Cannot update. Database or object is read-only. (file 'D:\\Daten\\Public\\Public.mdb')"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string prefix = dir.Path("work");
    CopyTree(setup.prefix, prefix);
    const std::string file = DataPath(prefix, rel);
    c.make(file);
    const std::string before = fs::is_regular_file(file) ? ReadFile(file) : "";
    ProgramRun run(prefix, "j\n\n\n\n");
    ASSERT_NO_THROW(run.Finish(60));
    EXPECT_EQ(run.status(), 1) << run.out();
    EXPECT_EQ(Occurrences(run.out(), c.message), 3u) << run.out();
    if (!before.empty()) EXPECT_TRUE(ReadFile(file) == before);
    chmod(file.c_str(), 0644);
  }
}

// Runs killed at random moments, then one to the end: every database as
// after one clean run, read by both readers, every index whole.
void KilledRunsThenOneFullRun(sample::AreaCodeIndexes areaCodeIndexes) {
  TempDir dir;
  const std::string pristine = dir.Path("pristine"), reference = dir.Path("reference"), work = dir.Path("work");
  sample::SampleInstallation setup;
  setup.prefix = pristine;
  setup.plzRows = Scaled(200000, 40000);
  setup.clients = sample::DefaultClients(4, Scaled(20000, 4000));
  setup.format = sample::DbFormat::kJet;
  setup.areaCodeIndexes = areaCodeIndexes;
  sample::WriteInstallation(setup);
  const std::vector<std::string> databases = DatabaseFiles(pristine);

  CopyTree(pristine, reference);
  ProgramRun clean(reference, "j\n");
  clean.Finish();
  ASSERT_EQ(clean.status(), 0) << clean.out() << clean.err();
  const double cleanSeconds = clean.wallSeconds();

  const uint32_t seed = std::random_device{}();
  std::printf("random seed %u\n", seed);
  std::mt19937 random(seed);
  CopyTree(pristine, work);
  for (int kill = 0; kill < 8; ++kill) {
    ProgramRun run(work, "j\n");
    run.WaitFor(std::uniform_real_distribution<double>(0.0, cleanSeconds)(random));
    run.Kill();
  }
  ProgramRun full(work, "j\n");
  full.Finish();
  ASSERT_EQ(full.status(), 0) << full.out() << full.err();
  EXPECT_EQ(Journals(work), std::vector<std::string>());
  for (const std::string& rel : databases) {
    SCOPED_TRACE(rel);
    const auto expected = ReadAll(reference + "/" + rel);
    const auto actual = ReadAll(work + "/" + rel);
    ASSERT_EQ(actual.size(), expected.size());
    for (const auto& [table, rows] : expected) {
      EXPECT_EQ(FirstDifference(actual.at(table), rows), "") << "mdb-reader, " << table;
      EXPECT_EQ(FirstDifference(ByKey(jr::MdbExport(work + "/" + rel, table).rows),
                                ByKey(jr::MdbExport(reference + "/" + rel, table).rows)),
                "")
          << "mdb-export, " << table;
    }
    jet::test::CheckEveryIndex(work + "/" + rel);
  }
}

TEST(JetRun, KilledRunsAndOneFullRunGiveWhatOneCleanRunGives) {
  if (const std::string missing = jr::MissingReaders(); !missing.empty()) GTEST_SKIP() << missing;
  KilledRunsThenOneFullRun(sample::AreaCodeIndexes::kNone);
}

// The area codes indexed alone and with other columns: a kill in the middle
// of a write group rolls the rows and their index entries back together.
TEST(JetRun, KilledRunsKeepIndexesOfAreaCodesWhole) {
  if (const std::string missing = jr::MissingReaders(); !missing.empty()) GTEST_SKIP() << missing;
  KilledRunsThenOneFullRun(sample::AreaCodeIndexes::kAloneAndWithOthers);
}

}  // namespace
}  // namespace kw::e2e
