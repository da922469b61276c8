// The real program on a terminal-less console: what it prints, what it reads,
// its exit status, and the rows it leaves behind.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/e2e_support.h"

namespace kw::e2e {
namespace {

// Everything a run may change: the content of every database and the bytes
// of every other file (hidden ones too).
struct Snapshot {
  std::map<std::string, DatabaseContent> databases;
  std::map<std::string, std::string> files;
};

Snapshot Take(const std::string& prefix) {
  Snapshot s;
  s.files = ReadFiles(prefix, false);
  for (const std::string& rel : DatabaseFiles(prefix)) {
    try {
      s.databases[rel] = ReadDatabase(prefix + "/" + rel);
    } catch (const std::runtime_error&) {
      s.files[rel] = ReadFile(prefix + "/" + rel);  // not a database: its bytes
    }
  }
  return s;
}

void ExpectSame(const Snapshot& before, const Snapshot& after) {
  EXPECT_EQ(before.files, after.files);
  ASSERT_EQ(before.databases.size(), after.databases.size());
  for (const auto& [rel, content] : before.databases) {
    auto it = after.databases.find(rel);
    ASSERT_NE(it, after.databases.end()) << rel;
    EXPECT_EQ(Differences(content, it->second), "") << rel;
  }
}

sample::SampleInstallation Installation(const std::string& prefix, int64_t plzRows,
                              std::vector<sample::SampleClient> clients) {
  sample::SampleInstallation setup;
  setup.prefix = prefix;
  setup.plzRows = plzRows;
  setup.clients = std::move(clients);
  return setup;
}

const std::string kQuestion =
    "Dieses Programm ersetzt im Postleitzahlenstamm und in allen\n"
    "Mandanten, welche auf Version 6.4 (und höher) umgestellt sind, die Telefonvorwahlen.\n"
    "Wenn Land = 'CH' ist und die Telefonvorwahl ='01' ist, wird die Vorwahl '044' eingesetzt.\n"
    "\n"
    "Möchten Sie starten\n"
    "Frage [Ja/Nein] \n";

std::string ClientLines(const std::string& name) {
  return name + "\nÜberprüfe Feld: Telefon Vorwahl\nÜberprüfe Feld: Fax Vorwahl\n";
}

// Five default clients: 01 and 05 qualify, 02 is at version 6.3, 03 has a
// blank name, 04 has no database.
TEST(ConsoleRun, YesConvertsEveryQualifyingTableAndASecondRunChangesNothing) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  sample::WriteInstallation(
      Installation(prefix, Scaled(3000, 1000), sample::DefaultClients(5, Scaled(2000, 500))));
  const Snapshot before = Take(prefix);

  ProgramRun run(prefix, "j\n");
  run.Finish();
  EXPECT_EQ(run.status(), 0);
  EXPECT_EQ(run.err(), "");
  const std::string expected = kQuestion +
                               "Allgemeine Datenbank\n"
                               "Postleitzahlenstamm\n"
                               "Lese Mandanten ein\n" +
                               ClientLines("Mandant 01") +
                               "Der Mandant: Mandant 02\n"
                               " ist nicht im Format der Version 6.4\n"
                               "Es erfolgt keine Umstellung der Vorwahlnummern\n"
                               "[OK] \n" +
                               ClientLines("Mandant 05");
  EXPECT_EQ(run.out(), expected);
  // Progress lines are for terminals only.
  EXPECT_EQ(run.out().find("Bitte warten"), std::string::npos);
  EXPECT_EQ(run.out().find("Zürich"), std::string::npos);

  const Snapshot after = Take(prefix);
  const std::string pub = "drive_d/Daten/Public/Public.mdb";
  EXPECT_EQ(Differences(Converted(before.databases.at(pub), "PLZSTM", {"TELVOR"}),
                        after.databases.at(pub)),
            "");
  for (const std::string client : {"Mand01", "Mand05"}) {
    const std::string rel = "drive_d/Daten/" + client + "/NoltData.mdb";
    EXPECT_EQ(Differences(Converted(before.databases.at(rel), "ADRSTM", {"TELVOR", "FAXVOR"}),
                          after.databases.at(rel)),
              "")
        << client;
  }
  for (const std::string client : {"Mand02", "Mand03"}) {
    const std::string rel = "drive_d/Daten/" + client + "/NoltData.mdb";
    EXPECT_EQ(Differences(before.databases.at(rel), after.databases.at(rel)), "") << client;
  }
  // The road of one address: a Swiss "01" before, a saved "044" now, as a
  // fresh connection reads it.
  const TableContent& adr = before.databases.at("drive_d/Daten/Mand01/NoltData.mdb").at("ADRSTM");
  int64_t swiss01 = -1;
  for (const auto& [id, row] : adr.rows) {
    if (row[adr.Column("LAND")] == "T:CH" && row[adr.Column("TELVOR")] == "T:01") {
      swiss01 = id;
      break;
    }
  }
  ASSERT_GT(swiss01, 0);
  EXPECT_EQ(CountRows(ClientDb(prefix, "Mand01"),
                      "SELECT count(*) FROM ADRSTM WHERE rowid = " + std::to_string(swiss01) +
                          " AND TELVOR = '044'"),
            1);
  EXPECT_EQ(CountRows(ClientDb(prefix, "Mand01"),
                      "SELECT count(*) FROM ADRSTM WHERE LAND = 'CH' AND "
                      "(TELVOR = '01' OR FAXVOR = '01')"),
            0);
  // The settings step wrote its defaults into the Windows directory.
  EXPECT_EQ(after.files.at("drive_c/windows/NoltData.ini"),
            "[AdoMand]\r\nProvider=Microsoft.Jet.OLEDB.4.0;\r\nDBName=NoltData\r\n"
            "DBExtension=.mdb\r\n");
  EXPECT_TRUE(Journals(prefix).empty());

  ProgramRun again(prefix, "j\n");
  again.Finish();
  EXPECT_EQ(again.status(), 0);
  EXPECT_EQ(again.out(), expected);
  ExpectSame(after, Take(prefix));
}

TEST(ConsoleRun, AnyAnswerButYesEndsAtOnceAndChangesNothing) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  sample::WriteInstallation(Installation(prefix, 500, sample::DefaultClients(3, 200)));
  // The settings step runs before the question and may write its defaults.
  ProgramRun(prefix, "n\n").Finish();
  const Snapshot before = Take(prefix);
  for (const std::string answer : {"n\n", "", "\n", "nein\n", "ok\n", " j\n"}) {
    ProgramRun run(prefix, answer);
    run.Finish();
    EXPECT_EQ(run.status(), 0) << answer;
    EXPECT_EQ(run.out(), kQuestion) << answer;
    ExpectSame(before, Take(prefix));
  }
}

TEST(ConsoleRun, EveryFormOfYesStartsTheRun) {
  for (const std::string answer : {"j\n", "J\n", "y\n", "Y\n", "Ja\n", "yes"}) {
    TempDir dir;
    const std::string prefix = dir.Path("prefix");
    sample::WriteInstallation(Installation(prefix, 300, {}));
    ProgramRun run(prefix, answer);
    run.Finish();
    EXPECT_EQ(run.status(), 0) << answer;
    EXPECT_EQ(run.out(), kQuestion +
                             "Allgemeine Datenbank\nPostleitzahlenstamm\n"
                             "Lese Mandanten ein\n")
        << answer;
    EXPECT_EQ(CountRows(PublicDb(prefix),
                        "SELECT count(*) FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '01'"),
              0)
        << answer;
  }
}

TEST(ConsoleRun, MissingDataDirectoryIsReportedAndEndsWithStatusOne) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  sample::SampleInstallation setup = Installation(prefix, 300, sample::DefaultClients(2, 100));
  setup.dataDir.clear();
  sample::WriteInstallation(setup);
  const Snapshot before = Take(prefix);
  ProgramRun run(prefix, "j\nj\nj\n");
  run.Finish();
  EXPECT_EQ(run.status(), 1);
  EXPECT_EQ(run.out(),
            "[Orbica-Kontor]\nAllgemeineDaten= LW:\\Pfad\n\n"
            "Eintrag ist im WIN.INI nicht vorhanden !\n"
            "Fehler [OK] \n");
  ExpectSame(before, Take(prefix));
}

TEST(ConsoleRun, CtrlCEndsTheRunWithStatus130AndKeepsWhatWasSaved) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  sample::WriteInstallation(Installation(prefix, Scaled(200000, 40000), sample::DefaultClients(1, 10)));
  const DatabaseContent before = ReadDatabase(PublicDb(prefix));
  ProgramRun run(prefix, "j\n");
  while (run.LineTime("Postleitzahlenstamm") < 0 && !run.WaitFor(0.001)) {
  }
  run.Interrupt();
  run.Finish();
  ASSERT_EQ(run.status(), 130) << "the pass ended before the interrupt came";
  EXPECT_EQ(run.out().find("Lese Mandanten ein"), std::string::npos);
  EXPECT_EQ(IntegrityCheck(PublicDb(prefix)), "ok");
  EXPECT_TRUE(Journals(prefix).empty());
  // Part of the rows are converted and saved; the rest is left for the next run.
  const int64_t left = CountRows(PublicDb(prefix),
                                 "SELECT count(*) FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '01'");
  EXPECT_GT(left, 0);
  ProgramRun rest(prefix, "j\n");
  rest.Finish();
  EXPECT_EQ(rest.status(), 0);
  EXPECT_EQ(Differences(Converted(before, "PLZSTM", {"TELVOR"}), ReadDatabase(PublicDb(prefix))),
            "");
}

// Broken clients are passed over without a word; the clients after them are
// converted all the same.
TEST(ClientHandler, SkipsBrokenClientsSilentlyAndConvertsTheOthers) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  std::vector<sample::SampleClient> clients;
  for (const char* nr : {"1", "2", "3", "4", "5"}) {
    sample::SampleClient c;
    c.name = std::string("Kunde ") + nr;
    c.directory = std::string("K") + nr;
    c.rows = Scaled(1500, 500);
    clients.push_back(c);
  }
  sample::WriteInstallation(Installation(prefix, 200, clients));
  // K1: not a database. K3: the address table lacks the second marked
  // column, so only its first column gets converted. K4: a database without
  // an address table.
  const std::string notADatabase(3000, 'x');
  WriteBytes(ClientDb(prefix, "K1"), notADatabase);
  ASSERT_EQ(CountRows(ClientDb(prefix, "K3"), "SELECT count(*) FROM ADRSTM"), clients[2].rows);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(ClientDb(prefix, "K3").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE ADRSTM DROP COLUMN FAXVOR", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ASSERT_EQ(sqlite3_open(ClientDb(prefix, "K4").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE ADRSTM RENAME TO ADRESSEN", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  const Snapshot before = Take(prefix);

  ProgramRun run(prefix, "j\n");
  run.Finish();
  // The run came to its end, but not every client was converted.
  EXPECT_EQ(run.status(), 3);
  EXPECT_EQ(run.out(), kQuestion +
                           "Allgemeine Datenbank\nPostleitzahlenstamm\nLese Mandanten ein\n" +
                           // K1 and K4 are abandoned at their first column, K3 at its
                           // second: each column line is printed, the failure is not.
                           "Kunde 1\nÜberprüfe Feld: Telefon Vorwahl\n" + ClientLines("Kunde 2") +
                           ClientLines("Kunde 3") + "Kunde 4\nÜberprüfe Feld: Telefon Vorwahl\n" +
                           ClientLines("Kunde 5") +
                           // At the end, one message names the clients left and why.
                           "Die Umstellung der Vorwahlnummern ist nicht vollständig.\n\n"
                           "Der Mandant: Kunde 1\n wurde nicht vollständig umgestellt ('D:\\Daten\\K1\\"
                           "NoltData.mdb' is neither a Jet 4 nor an SQLite database; it cannot be "
                           "converted.)\n"
                           "Der Mandant: Kunde 3\n wurde nicht vollständig umgestellt (Field "
                           "'ADRSTM.FAXVOR' not found in table 'ADRSTM'.)\n"
                           "Der Mandant: Kunde 4\n wurde nicht vollständig umgestellt (The database "
                           "engine cannot find the input table or query 'ADRSTM'. Make sure it exists "
                           "and that its name is spelled correctly.)\n\n"
                           "Starten Sie die Umstellung erneut, sobald die Ursache behoben ist; sie "
                           "stellt um, was noch fehlt.\n"
                           "Warnung [OK] \n");
  EXPECT_EQ(run.out().find("Fehler"), std::string::npos);

  const Snapshot after = Take(prefix);
  auto db = [](const std::string& client) { return "drive_d/Daten/" + client + "/NoltData.mdb"; };
  EXPECT_EQ(ReadFile(ClientDb(prefix, "K1")), notADatabase);
  for (const std::string c : {"K2", "K5"}) {
    EXPECT_EQ(Differences(Converted(before.databases.at(db(c)), "ADRSTM", {"TELVOR", "FAXVOR"}),
                          after.databases.at(db(c))),
              "")
        << c;
  }
  EXPECT_EQ(Differences(Converted(before.databases.at(db("K3")), "ADRSTM", {"TELVOR"}),
                        after.databases.at(db("K3"))),
            "");
  EXPECT_EQ(Differences(before.databases.at(db("K4")), after.databases.at(db("K4"))), "");
  for (const std::string c : {"K2", "K3", "K4", "K5"}) {
    EXPECT_EQ(IntegrityCheck(ClientDb(prefix, c)), "ok") << c;
  }
}

const std::string kVersionMessage =
    "Der Mandant: Mandant 02\n"
    " ist nicht im Format der Version 6.4\n"
    "Es erfolgt keine Umstellung der Vorwahlnummern\n";

// Client 02 is older than 6.4; 05, still to come at its message, qualifies,
// and 06 lacks its Version key (a later run would write it).
TEST(ConsoleRun, CtrlCAtAVersionMessageEndsTheRunThereWithStatus130) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  std::vector<sample::SampleClient> clients = sample::DefaultClients(6, 300);
  clients[5].version = "";
  sample::WriteInstallation(Installation(prefix, 300, clients));
  const std::string ini06 = DataPath(prefix, clients[5].directory + "/NoltData.ini");
  const std::string iniBefore = ReadFile(ini06);
  const DatabaseContent client05 = ReadDatabase(ClientDb(prefix, clients[4].directory));

  RunOptions options;
  options.keepInputOpen = true;  // the message waits for its answer
  ProgramRun run(prefix, "j\n", options);
  while (run.LineTime("Es erfolgt keine Umstellung") < 0 && !run.WaitFor(0.01)) {
  }
  ASSERT_FALSE(run.Exited()) << run.out();
  run.Interrupt();
  run.Finish(60);
  EXPECT_EQ(run.status(), 130);
  EXPECT_EQ(run.out(), kQuestion +
                           "Allgemeine Datenbank\nPostleitzahlenstamm\nLese Mandanten ein\n" +
                           ClientLines("Mandant 01") + kVersionMessage + "[OK] \n");
  EXPECT_EQ(Differences(client05, ReadDatabase(ClientDb(prefix, clients[4].directory))), "");
  EXPECT_EQ(ReadFile(ini06), iniBefore);
  EXPECT_TRUE(Journals(prefix).empty());
}

// A Ctrl-C that comes before the message asks for its answer: no message,
// and the run does not wait for input.
TEST(ConsoleRun, CtrlCBeforeAMessageShowsNoMessage) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  sample::WriteInstallation(Installation(prefix, Scaled(200000, 40000), sample::DefaultClients(3, 10)));
  RunOptions options;
  options.keepInputOpen = true;
  ProgramRun run(prefix, "j\n", options);
  while (run.LineTime("Postleitzahlenstamm") < 0 && !run.WaitFor(0.001)) {
  }
  run.Interrupt();
  run.Finish(60);
  ASSERT_EQ(run.status(), 130);
  EXPECT_EQ(run.out().find("Der Mandant"), std::string::npos);
  EXPECT_EQ(run.out().find("Lese Mandanten ein"), std::string::npos);
}

inline int64_t FileSize(const std::string& path) {
  return static_cast<int64_t>(fs::file_size(path));
}

// A client database that cannot take a single write (as on a full disk) is
// abandoned without a word while the run goes on; the closing message and
// the exit status say so.
TEST(DiskFull, AClientThatCannotBeWrittenEndsTheRunWithStatusThree) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  sample::WriteInstallation(Installation(prefix, 200, sample::DefaultClients(1, Scaled(20000, 8000))));
  const std::string client = ClientDb(prefix, "Mand01");
  const int64_t limit = 4 * FileSize(PublicDb(prefix));
  ASSERT_GT(FileSize(client), 4 * limit);
  RunOptions options;
  options.fileSizeLimit = static_cast<uint64_t>(limit);
  ProgramRun run(prefix, "j\n", options);
  run.Finish();
  EXPECT_EQ(run.status(), 3) << run.out();
  const std::string tail =
      "Überprüfe Feld: Telefon Vorwahl\nDie Umstellung der Vorwahlnummern ist nicht vollständig.\n\n"
      "Der Mandant: Mandant 01\n wurde nicht vollständig umgestellt (";
  const size_t end = run.out().find(tail);
  ASSERT_NE(end, std::string::npos) << run.out();
  EXPECT_EQ(run.out().find("Fehler"), run.out().size() - std::string("Fehler [OK] \n").size())
      << "one message, at the end";
  EXPECT_NE(run.out().find(")\n\nIn der Datenbank: D:\\Daten\\Mand01\\NoltData.mdb\n"
                           " konnten geänderte Datensätze nicht gespeichert werden\n\n",
                           end),
            std::string::npos)
      << run.out();
  EXPECT_EQ(CountRows(PublicDb(prefix),
                      "SELECT count(*) FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '01'"),
            0);
  EXPECT_GT(CountRows(client, "SELECT count(*) FROM ADRSTM WHERE LAND = 'CH' AND TELVOR = '01'"),
            0);
  EXPECT_EQ(IntegrityCheck(client), "ok");
  EXPECT_TRUE(Journals(prefix).empty());
}

// The general database on a full disk: every write group fails with a
// message that differs from the one before only in its numbers. The third
// one ends the run.
TEST(DiskFull, TheSameFailureThreeTimesEndsTheRunAlthoughItsNumbersChange) {
  TempDir dir;
  const std::string prefix = dir.Path("prefix");
  sample::WriteInstallation(Installation(prefix, Scaled(60000, 20000), {}));
  const std::string pub = PublicDb(prefix);
  RunOptions options;
  options.fileSizeLimit = static_cast<uint64_t>(FileSize(pub) / 4);
  ProgramRun run(prefix, "j\n", options);
  run.Finish();
  EXPECT_EQ(run.status(), 1) << run.out();
  const std::string& out = run.out();
  size_t messages = 0;
  for (size_t at = out.find("Fehler [OK]"); at != std::string::npos;
       at = out.find("Fehler [OK]", at + 1))
    ++messages;
  EXPECT_GE(messages, 3u) << out;
  EXPECT_LE(messages, 10u) << out;
  EXPECT_EQ(out.find("Lese Mandanten ein"), std::string::npos) << out;
  EXPECT_EQ(IntegrityCheck(pub), "ok");
  EXPECT_TRUE(Journals(prefix).empty());
}

}  // namespace
}  // namespace kw::e2e
