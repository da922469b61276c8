#include "app/run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/client_pass.h"
#include "platform/cp1252.h"
#include "platform/fakes/fake_platform.h"
#include "tools/sample/def_writer.h"
#include "tools/sample/public_pro_writer.h"

namespace kw {
namespace {

const std::string kPublicDb = "D:\\Daten\\Public\\Public.mdb";

class RunTest : public ::testing::Test, protected FakePlatform {
 protected:
  void SetUp() override {
    registry.SetString(kHkeyLocalMachine, "Software\\Nolt\\Orbica-Kontor 5\\Settings",
                       "NoltDataDir", " D:\\Daten ");
    auto& plz = db.AddTable(kPublicDb, "PLZSTM");
    Plz(plz, "CH", "8001", "Zürich", "01");
    Plz(plz, "CH", "3011", "Bern", "031");
    Plz(plz, "A", "1010", "Wien", "01");
    Plz(plz, "CH", "8610", "Uster", "010");
    Plz(plz, "CH", "8050", "Zürich", "044");
    Plz(plz, "CH", "8302", "Kloten", "01");
  }

  static void Plz(FakeDatabaseEngine::Table& t, const char* land, const char* plz, const char* ort,
                  const char* telvor) {
    FakeDatabaseEngine::AddRow(t, {{"LAND", land}, {"PLZ", plz}, {"ORT", ort}, {"TELVOR", telvor}});
  }

  // A client with an address table of the given rows (LAND, TELVOR, FAXVOR).
  FakeDatabaseEngine::Table& Client(const std::string& name, const std::string& dir,
                                    const std::string& version,
                                    const std::vector<sample::SampleColumn>& columns =
                                        sample::AddressColumns()) {
    clients.push_back({name, dir});
    const std::string base = "D:\\Daten\\" + dir + "\\";
    files.Add(base + "NoltData.mdb");
    files.Add(base + "NoltData.def", sample::SampleAddressDefinitionFile(columns));
    profiles.Add(base + "NoltData.ini", "[AdoMand]\r\nVersion=" + version + "\r\n");
    return db.AddTable(base + "NoltData.mdb", "ADRSTM");
  }
  static void Adr(FakeDatabaseEngine::Table& t, const char* land, const char* tel, FieldValue fax,
                  const char* plz = "8001", const char* ort = "Zürich") {
    FakeDatabaseEngine::AddRow(
        t, {{"LAND", land}, {"TELVOR", tel}, {"FAXVOR", fax}, {"PLZ", plz}, {"ORT", ort}});
  }

  RunOutcome Run() {
    files.Add("D:\\Daten\\Public\\public.pro", sample::EncodePublicPro(clients));
    state = std::make_unique<RunState>();
    return Form_Load(p, *state);
  }

  std::vector<std::string> Column(const std::string& file, const std::string& table,
                                  const std::string& column) {
    std::vector<std::string> out;
    for (const auto& r : db.files[file].tables[table].rows)
      out.push_back(r ? r->at(column).value_or("<null>") : "<deleted>");
    return out;
  }
  int Count(const std::string& op) const {
    return static_cast<int>(std::count(db.log.begin(), db.log.end(), op));
  }
  bool Saw(const std::string& event) const {
    return std::find(window.events.begin(), window.events.end(), event) != window.events.end();
  }

  // The message at the end of the run, which must be the last box shown.
  const FakeWindow::Box& ClosingBox() const {
    EXPECT_GE(window.boxes.size(), 2u);
    EXPECT_EQ(window.events.back(), "Box(" + std::to_string(window.boxes.back().style) + ")=" +
                                        window.boxes.back().text);
    return window.boxes.back();
  }

  std::vector<MandantRecord> clients;
  std::unique_ptr<RunState> state;
};

constexpr char kIncomplete[] = "Die Umstellung der Vorwahlnummern ist nicht vollständig.\r\n\r\n";
constexpr char kRunAgain[] =
    "\r\n\r\nStarten Sie die Umstellung erneut, sobald die Ursache behoben ist; sie stellt um, "
    "was noch fehlt.";

TEST_F(RunTest, ConvertsSwissRowsWithTheOldCodeAndShowsEachStage) {
  auto& adr = Client("Muster AG", "Mand01", "6.4");
  Adr(adr, "CH", "01", "01", "8002", "Zürich");
  Adr(adr, "CH", "031", "01", "3011", "Bern");
  Adr(adr, "A", "01", std::nullopt);

  EXPECT_EQ(Run(), RunOutcome::Completed);

  EXPECT_EQ(Column(kPublicDb, "PLZSTM", "TELVOR"),
            (std::vector<std::string>{"044", "031", "01", "010", "044", "044"}));
  const std::string mand = "D:\\Daten\\Mand01\\NoltData.mdb";
  EXPECT_EQ(Column(mand, "ADRSTM", "TELVOR"), (std::vector<std::string>{"044", "031", "01"}));
  EXPECT_EQ(Column(mand, "ADRSTM", "FAXVOR"), (std::vector<std::string>{"044", "044", "<null>"}));

  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].style, kMbYesNoQuestion);
  EXPECT_EQ(window.boxes[0].text,
            "Dieses Programm ersetzt im Postleitzahlenstamm und in allen\r\n"
            "Mandanten, welche auf Version 6.4 (und höher) umgestellt sind, die "
            "Telefonvorwahlen.\r\nWenn Land = 'CH' ist und die Telefonvorwahl ='01' ist, wird "
            "die Vorwahl '044' eingesetzt.\r\n\r\nMöchten Sie starten");

  const std::vector<std::string> expected = {
      "Label1=", "Label2=", "Pointer=0", "Box(36)=" + window.boxes[0].text, "Pointer=11",
      "Label1=Allgemeine Datenbank", "Label2=Postleitzahlenstamm", "Label3=Bitte warten ...",
      "Label3=8001 Zürich", "Label3=8302 Kloten",
      "Label1=Allgemeine Datenbank", "Label2=Lese Mandanten ein", "Label3=Bitte warten ...",
      "Label1=Muster AG", "Label2=Überprüfe Feld: Telefon Vorwahl", "Label3=Bitte warten ...",
      "Label3=8002 Zürich",
      "Label1=Muster AG", "Label2=Überprüfe Feld: Fax Vorwahl", "Label3=Bitte warten ...",
      "Label3=8002 Zürich", "Label3=3011 Bern", "Pointer=0"};
  EXPECT_EQ(window.events, expected);
  EXPECT_TRUE(window.shown);
  EXPECT_TRUE(window.ended);
  EXPECT_EQ(window.left, (15360 - 4665) / 2);
  EXPECT_EQ(window.top, (11520 - 2595) / 2);
  EXPECT_EQ(Count("Close database"), 1);
  EXPECT_FALSE(db.files[mand].open);
  // The settings were read before the question, from the Windows directory.
  ASSERT_NE(profiles.Find("NoltData.ini"), nullptr);
  EXPECT_EQ(*profiles.Find("NoltData.ini"),
            "[AdoMand]\r\nProvider=Microsoft.Jet.OLEDB.4.0;\r\nDBName=NoltData\r\n"
            "DBExtension=.mdb\r\n");
}

TEST_F(RunTest, SecondRunChangesNothing) {
  Adr(Client("Muster AG", "Mand01", "7"), "CH", "01", "01");
  ASSERT_EQ(Run(), RunOutcome::Completed);
  const int updates = Count("Update");
  EXPECT_EQ(updates, 4);
  ASSERT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(Count("Update"), updates);
}

TEST_F(RunTest, DecliningEndsAtOnceWithoutOpeningAnyDatabase) {
  window.answers = {kIdNo};
  EXPECT_EQ(Run(), RunOutcome::Declined);
  EXPECT_EQ(db.openDatabases, 0);
  EXPECT_EQ(Count("Close database"), 0);
  EXPECT_EQ(window.boxes.size(), 1u);
  EXPECT_TRUE(window.ended);
  EXPECT_EQ(Column(kPublicDb, "PLZSTM", "TELVOR")[0], "01");
}

TEST_F(RunTest, MissingDataDirectoryIsReportedBeforeTheQuestion) {
  registry = FakeRegistry();
  EXPECT_EQ(Run(), RunOutcome::Failed);
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].style, kMbIconCritical);
  EXPECT_EQ(window.boxes[0].text,
            "[Orbica-Kontor]\rAllgemeineDaten= LW:\\Pfad\r\rEintrag ist im WIN.INI nicht "
            "vorhanden !");
  EXPECT_EQ(db.openDatabases, 0);
  EXPECT_TRUE(window.ended);
}

TEST_F(RunTest, GeneralHandlerShowsTheErrorAndRepeatsTheFailedStep) {
  db.faults.push_back({"Update", 1, 1, "Could not update; currently locked."});
  EXPECT_EQ(Run(), RunOutcome::Completed);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(window.boxes[1].text, "Could not update; currently locked.");
  EXPECT_EQ(window.boxes[1].style, kMbIconCritical);
  EXPECT_EQ(Column(kPublicDb, "PLZSTM", "TELVOR"),
            (std::vector<std::string>{"044", "031", "01", "010", "044", "044"}));
}

TEST_F(RunTest, StepFailingThreeTimesEndsTheRunWithNothingFurtherChanged) {
  Adr(Client("Muster AG", "Mand01", "6.4"), "CH", "01", "01");
  db.files.erase(kPublicDb);
  EXPECT_EQ(Run(), RunOutcome::Failed);
  ASSERT_EQ(window.boxes.size(), 4u);
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(window.boxes[i].text, "Could not find file 'D:\\Daten\\Public\\Public.mdb'.");
  EXPECT_EQ(Column("D:\\Daten\\Mand01\\NoltData.mdb", "ADRSTM", "TELVOR")[0], "01");
  EXPECT_TRUE(window.ended);
}

TEST_F(RunTest, OlderClientsAreReportedAndUnnamedOrMissingOnesPassedOver) {
  Adr(Client("  Alt & Co ", "Mand01", "6.39"), "CH", "01", "01");
  Adr(Client("   ", "Mand02", "6.4"), "CH", "01", "01");
  Adr(Client("Ohne Datenbank", "Mand03", "6.4"), "CH", "01", "01");
  files.Find("D:\\Daten\\Mand03\\NoltData.mdb")->hidden = true;
  Adr(Client("Neu", "Mand04", "6.4"), "CH", "01", "01");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(window.boxes[1].style, kMbOk);
  EXPECT_EQ(window.boxes[1].text,
            "Der Mandant: Alt & Co\r\n ist nicht im Format der Version 6.4\r\nEs erfolgt keine "
            "Umstellung der Vorwahlnummern");
  for (const char* dir : {"Mand01", "Mand02", "Mand03"})
    EXPECT_EQ(Column("D:\\Daten\\" + std::string(dir) + "\\NoltData.mdb", "ADRSTM", "TELVOR")[0],
              "01")
        << dir;
  EXPECT_EQ(Column("D:\\Daten\\Mand04\\NoltData.mdb", "ADRSTM", "TELVOR")[0], "044");
  EXPECT_EQ(state->modul.MandantDir, "D:\\Daten\\Mand04\\");
}

TEST_F(RunTest, ClientWithoutVersionKeyGetsTheDefaultWrittenAndIsNotConverted) {
  Adr(Client("Ohne Version", "Mand01", "6.4"), "CH", "01", "01");
  profiles.Add("D:\\Daten\\Mand01\\NoltData.ini", "[AdoMand]\r\nDBName=NoltData\r\n");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(*profiles.Find("D:\\Daten\\Mand01\\NoltData.ini"),
            "[AdoMand]\r\nDBName=NoltData\r\nVersion=0.0\r\n");
}

TEST_F(RunTest, ClientHandlerSkipsABrokenClientAndLaterClientsAreConverted) {
  auto& first = Client("Erster", "Mand01", "6.4");
  Adr(first, "CH", "01", "01");
  Adr(first, "CH", "01", "01");
  Adr(Client("Zweiter", "Mand02", "6.4"), "CH", "01", "01");
  // The general pass makes two updates; the client's second row fails.
  db.faults.push_back({"Update", 3, 1, "Record is deleted."});
  // The run went through, but not every client was converted: no message
  // for the broken client while the run goes on, one at its end.
  EXPECT_EQ(Run(), RunOutcome::Incomplete);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(ClosingBox().style, kMbIconExclamation);
  EXPECT_EQ(ClosingBox().text, std::string(kIncomplete) +
                                   "Der Mandant: Erster\r\n"
                                   " wurde nicht vollständig umgestellt (Record is deleted.)" +
                                   kRunAgain);
  // The first row stays saved; the fax column was never reached.
  EXPECT_EQ(Column("D:\\Daten\\Mand01\\NoltData.mdb", "ADRSTM", "TELVOR"),
            (std::vector<std::string>{"044", "01"}));
  EXPECT_EQ(Column("D:\\Daten\\Mand01\\NoltData.mdb", "ADRSTM", "FAXVOR"),
            (std::vector<std::string>{"01", "01"}));
  EXPECT_EQ(Column("D:\\Daten\\Mand02\\NoltData.mdb", "ADRSTM", "FAXVOR")[0], "044");
}

TEST_F(RunTest, AClientIsNeverConvertedWithAnEarlierClientsDefinition) {
  Adr(Client("Erster", "Mand01", "6.4"), "CH", "01", "01");
  auto& second = Client("Zweiter", "Mand02", "6.4");
  FakeDatabaseEngine::AddRow(second, {{"LAND", "CH"}, {"TELVOR", "01"}, {"FAXVOR", "01"},
                                      {"PLZ", "8001"}, {"ORT", "Zürich"}});
  files.Find("D:\\Daten\\Mand02\\NoltData.def")->hidden = true;
  EXPECT_EQ(Run(), RunOutcome::Completed);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(window.boxes[1].text,
            "(TbDefRead) Can't open file !\r\n'D:\\Daten\\Mand02\\NoltData.def'");
  EXPECT_EQ(Column("D:\\Daten\\Mand02\\NoltData.mdb", "ADRSTM", "TELVOR")[0], "01");
  EXPECT_FALSE(Saw("Label1=Zweiter"));
}

TEST_F(RunTest, DefinitionWithoutMarkedColumnsChangesNothing) {
  std::vector<sample::SampleColumn> cols = sample::AddressColumns();
  for (auto& c : cols)
    if (c.flags.size() > 1 && c.flags[1] == 'V') c.flags[1] = 'v';
  Adr(Client("Klein-v", "Mand01", "6.4", cols), "CH", "01", "01");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_FALSE(Saw("Label1=Klein-v"));
  EXPECT_EQ(Column("D:\\Daten\\Mand01\\NoltData.mdb", "ADRSTM", "TELVOR")[0], "01");
}

TEST_F(RunTest, UnknownColumnNameSkipsTheClient) {
  std::vector<sample::SampleColumn> cols = sample::AddressColumns();
  cols.push_back({"NATELVOR", "Natel Vorwahl", "NV"});
  auto& adr = Client("Natel", "Mand01", "6.4", cols);
  Adr(adr, "CH", "01", "01");
  Adr(Client("Danach", "Mand02", "6.4"), "CH", "01", "01");
  EXPECT_EQ(Run(), RunOutcome::Incomplete);
  EXPECT_EQ(window.boxes.size(), 2u);
  EXPECT_NE(ClosingBox().text.find("Der Mandant: Natel\r\n wurde nicht vollständig umgestellt ("),
            std::string::npos);
  EXPECT_EQ(Column("D:\\Daten\\Mand01\\NoltData.mdb", "ADRSTM", "FAXVOR")[0], "044");
  EXPECT_EQ(Column("D:\\Daten\\Mand02\\NoltData.mdb", "ADRSTM", "TELVOR")[0], "044");
}

TEST_F(RunTest, RowWithoutPostalCodeOrTownIsShownEmptyAndStillSaved) {
  auto& plz = db.files[kPublicDb].tables["PLZSTM"];
  FakeDatabaseEngine::AddRow(plz, {{"LAND", "CH"}, {"PLZ", std::nullopt}, {"ORT", "Nirgends"},
                                   {"TELVOR", "01"}});
  FakeDatabaseEngine::AddRow(plz, {{"LAND", "CH"}, {"PLZ", "8000"}, {"ORT", std::nullopt},
                                   {"TELVOR", "01"}});
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_TRUE(Saw("Label3= Nirgends"));
  EXPECT_TRUE(Saw("Label3=8000 "));
  EXPECT_EQ(Column(kPublicDb, "PLZSTM", "TELVOR").back(), "044");
  EXPECT_EQ(window.boxes.size(), 1u);
}

TEST_F(RunTest, ClosingTheWindowMidRunKeepsSavedRowsAndClosesTheDatabase) {
  window.closeAfterRounds = 3;  // after the hourglass, during the second row
  EXPECT_EQ(Run(), RunOutcome::Cancelled);
  EXPECT_EQ(Column(kPublicDb, "PLZSTM", "TELVOR"),
            (std::vector<std::string>{"044", "031", "01", "010", "044", "01"}));
  EXPECT_EQ(Count("Close database"), 1);
  EXPECT_TRUE(window.ended);
}

TEST_F(RunTest, RowsLostInACommitBeforeAMessageAreToldAndMakeTheRunIncomplete) {
  Adr(Client("Muster AG", "Mand01", "6.4"), "CH", "01", "01");
  db.faults.push_back({"Update", 1, 1, "Could not update; currently locked."});
  db.faults.push_back({"CommitPending", 0, 1,
                       "database or disk is full. 1 updated row was not saved.",
                       kErrRowsNotSaved});
  EXPECT_EQ(Run(), RunOutcome::Incomplete);
  ASSERT_EQ(window.boxes.size(), 4u);
  EXPECT_EQ(window.boxes[1].text, "database or disk is full. 1 updated row was not saved.");
  EXPECT_EQ(window.boxes[1].style, kMbIconCritical);
  EXPECT_EQ(window.boxes[2].text, "Could not update; currently locked.");
  EXPECT_EQ(ClosingBox().style, kMbIconCritical);
  EXPECT_EQ(ClosingBox().text,
            "Die Umstellung der Vorwahlnummern ist nicht vollständig.\r\n\r\n"
            "In der Datenbank: D:\\Daten\\Public\\Public.mdb\r\n"
            " konnten geänderte Datensätze nicht gespeichert werden" +
                std::string(kRunAgain));
}

TEST_F(RunTest, RowsLostWhenTheLastDatabaseIsClosedMakeTheRunIncomplete) {
  Adr(Client("Muster AG", "Mand01", "6.4"), "CH", "01", "01");
  db.faults.push_back(
      {"Close database", 0, 1, "disk I/O error. 2 updated rows were not saved.", kErrRowsNotSaved});
  EXPECT_EQ(Run(), RunOutcome::Incomplete);
  // The closing message comes after the last database was closed.
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_NE(ClosingBox().text.find("In der Datenbank: D:\\Daten\\Mand01\\NoltData.mdb\r\n"),
            std::string::npos);
  EXPECT_LT(std::find(db.log.begin(), db.log.end(), "Close database") - db.log.begin(),
            static_cast<std::ptrdiff_t>(db.log.size()));
}

TEST_F(RunTest, AnUnnumberedErrorAtTheEndLeavesTheRunComplete) {
  Adr(Client("Muster AG", "Mand01", "6.4"), "CH", "01", "01");
  db.faults.push_back({"Close database", 0, 1, "Object invalid or no longer set."});
  EXPECT_EQ(Run(), RunOutcome::Completed);
}

TEST_F(RunTest, CtrlCAtAVersionMessageEndsTheRunWithNothingFurtherShownOrWritten) {
  Adr(Client("Alt", "Mand01", "6.3"), "CH", "01", "01");
  Adr(Client("Auch alt", "Mand02", "5.0"), "CH", "01", "01");
  Adr(Client("Neu", "Mand03", "6.4"), "CH", "01", "01");
  Adr(Client("Ohne Version", "Mand04", "6.4"), "CH", "01", "01");
  profiles.Add("D:\\Daten\\Mand04\\NoltData.ini", "[AdoMand]\r\n");
  window.endDuringBox = 2;  // the start question is the first
  EXPECT_EQ(Run(), RunOutcome::Cancelled);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(window.boxes[1].text.rfind("Der Mandant: Alt\r\n", 0), 0u);
  EXPECT_FALSE(Saw("Label1=Neu"));
  for (const char* dir : {"Mand02", "Mand03", "Mand04"})
    EXPECT_EQ(Column("D:\\Daten\\" + std::string(dir) + "\\NoltData.mdb", "ADRSTM", "TELVOR")[0],
              "01")
        << dir;
  EXPECT_EQ(*profiles.Find("D:\\Daten\\Mand04\\NoltData.ini"), "[AdoMand]\r\n");
  EXPECT_EQ(state->modul.MandantDir, "D:\\Daten\\Mand01\\");
  EXPECT_EQ(Count("Close database"), 1);
  EXPECT_TRUE(window.ended);
}

TEST_F(RunTest, AnEndAskedForWhileTheDefinitionMessageIsUpEndsTheRunBeforeTheNextClient) {
  Adr(Client("Ohne Definition", "Mand01", "6.4"), "CH", "01", "01");
  Adr(Client("Ohne Version", "Mand02", "6.4"), "CH", "01", "01");
  files.Find("D:\\Daten\\Mand01\\NoltData.def")->hidden = true;
  profiles.Add("D:\\Daten\\Mand02\\NoltData.ini", "[AdoMand]\r\n");
  window.endDuringBox = 2;
  EXPECT_EQ(Run(), RunOutcome::Cancelled);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(*profiles.Find("D:\\Daten\\Mand02\\NoltData.ini"), "[AdoMand]\r\n");
  EXPECT_EQ(state->modul.MandantDir, "D:\\Daten\\Mand01\\");
}

// The address definition with one of its records, or the one behind it,
// spoilt: a list whose dimension count is not 1, or the file cut short.
std::string SpoiltDefinition(const std::string& record) {
  std::vector<sample::DefTablePlace> places;
  std::string file = sample::SampleAddressDefinitionFile(sample::AddressColumns(), &places);
  const sample::DefTable table = sample::AddressTable();
  sample::DefTablePlace place;
  for (const auto& p : places)
    if (p.TableNo == 13) place = p;
  std::string def, texts;
  sample::PutTbDef(def, table.def);
  sample::PutTbColTexts(texts, table.colTexts);
  const size_t defAt = static_cast<size_t>(place.defPos) - 1;
  auto spoilListAt = [&](size_t at) { file[at] = 9; };
  if (record == "TbDef") {
    // TbTextList follows TbKind, two texts, the code and four numbers.
    spoilListAt(defAt + 2 + 2 + Utf8ToCp1252(table.def.TbName).size() + 2 +
                Utf8ToCp1252(table.def.TbCaption).size() + 1 + 8);
  } else if (record == "TbColTexts") {
    spoilListAt(defAt + def.size());
  } else if (record == "TbSuppA") {
    // SuppCols1 follows TableNo, SuppText and the ten bytes of numbers.
    spoilListAt(defAt + def.size() + texts.size() + 2 + 2 +
                Utf8ToCp1252(table.suppA.SuppText).size() + 10);
  } else if (record == "TbSuppB") {
    file.resize(static_cast<size_t>(place.suppBEnd) - 2);
  }
  return file;
}

TEST_F(RunTest, AClientIsConvertedWithItsDefinitionReadWholeWhateverFailsAfterIt) {
  const struct {
    const char* record;
    bool converted;
  } cases[] = {{"TbColTexts", true}, {"TbSuppA", true}, {"TbSuppB", true}, {"TbDef", false}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string dir = "Mand0" + std::to_string(++n);
    Adr(Client(c.record, dir, "6.4"), "CH", "01", "01");
    files.Add("D:\\Daten\\" + dir + "\\NoltData.def", SpoiltDefinition(c.record));
  }
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(window.boxes.size(), 1u);
  n = 0;
  for (const auto& c : cases) {
    const std::string mand = "D:\\Daten\\Mand0" + std::to_string(++n) + "\\NoltData.mdb";
    const std::string expected = c.converted ? "044" : "01";
    EXPECT_EQ(Column(mand, "ADRSTM", "TELVOR")[0], expected) << c.record;
    EXPECT_EQ(Column(mand, "ADRSTM", "FAXVOR")[0], expected) << c.record;
  }
}

TEST_F(RunTest, AMarkedColumnWithoutANameIsSelectedAsAnyOtherAndAbandonsTheClient) {
  std::vector<sample::SampleColumn> cols = sample::AddressColumns();
  const auto fax = std::find_if(cols.begin(), cols.end(),
                                [](const sample::SampleColumn& c) { return c.name == "FAXVOR"; });
  cols.insert(fax, {"", "Ohne Namen", "NV"});
  Adr(Client("Leer", "Mand01", "6.4", cols), "CH", "01", "01");
  Adr(Client("Danach", "Mand02", "6.4"), "CH", "01", "01");
  EXPECT_EQ(Run(), RunOutcome::Incomplete);
  EXPECT_EQ(window.boxes.size(), 2u);
  EXPECT_NE(ClosingBox().text.find("Der Mandant: Leer\r\n"), std::string::npos);
  EXPECT_TRUE(Saw("Label2=Überprüfe Feld: Ohne Namen"));
  EXPECT_EQ(Count("OpenRecordset SELECT * FROM ADRSTM WHERE ADRSTM.LAND = 'CH' AND ADRSTM. = '01'"),
            1);
  EXPECT_EQ(Column("D:\\Daten\\Mand01\\NoltData.mdb", "ADRSTM", "TELVOR")[0], "044");
  EXPECT_EQ(Column("D:\\Daten\\Mand01\\NoltData.mdb", "ADRSTM", "FAXVOR")[0], "01");
  EXPECT_EQ(Column("D:\\Daten\\Mand02\\NoltData.mdb", "ADRSTM", "FAXVOR")[0], "044");
}

// Clients abandoned for different reasons, one with blanks around its name,
// and rows lost in a client's database: all told at the end, in order.
TEST_F(RunTest, TheClosingMessageNamesEveryClientLeftAndEveryDatabaseThatLostRows) {
  Adr(Client(" Gesperrt ", "Mand01", "6.4"), "CH", "01", "01");
  Adr(Client("Voll", "Mand02", "6.4"), "CH", "01", "01");
  Adr(Client("Gut", "Mand03", "6.4"), "CH", "01", "01");
  db.faults.push_back({"OpenDatabase D:\\Daten\\Mand01\\NoltData.mdb", 0, 1,
                       "Could not use 'D:\\Daten\\Mand01\\NoltData.mdb'; file already in use.",
                       kErrFileInUse});
  db.faults.push_back({"Update", 3, 1, "disk full. 1 updated row was not saved.", kErrRowsNotSaved});
  EXPECT_EQ(Run(), RunOutcome::Incomplete);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(ClosingBox().style, kMbIconCritical);
  EXPECT_EQ(ClosingBox().text,
            std::string(kIncomplete) +
                "Der Mandant: Gesperrt\r\n"
                " wurde nicht vollständig umgestellt (Could not use "
                "'D:\\Daten\\Mand01\\NoltData.mdb'; file already in use.)\r\n"
                "Der Mandant: Voll\r\n"
                " wurde nicht vollständig umgestellt (disk full. 1 updated row was not saved.)\r\n"
                "\r\n"
                "In der Datenbank: D:\\Daten\\Mand02\\NoltData.mdb\r\n"
                " konnten geänderte Datensätze nicht gespeichert werden" +
                kRunAgain);
  EXPECT_EQ(Column("D:\\Daten\\Mand03\\NoltData.mdb", "ADRSTM", "FAXVOR")[0], "044");
}

TEST_F(RunTest, ARunEndedByTheUserEndsWithoutTheClosingMessage) {
  Adr(Client("Kaputt", "Mand01", "6.4"), "CH", "01", "01");
  auto& big = Client("Gross", "Mand02", "6.4");
  for (int i = 0; i < 50; ++i) Adr(big, "CH", "01", "01");
  db.faults.push_back({"OpenDatabase D:\\Daten\\Mand01\\NoltData.mdb", 0, 1, "damaged"});
  window.closeAfterRounds = 20;  // within the second client's rows
  EXPECT_EQ(Run(), RunOutcome::Cancelled);
  EXPECT_EQ(window.boxes.size(), 1u);
  EXPECT_TRUE(window.ended);
  EXPECT_EQ(ExitStatus(RunOutcome::Cancelled), 130);
}

// The message for the general database in use asks for a new run once the
// product is closed everywhere: no retry, no further message, nothing written.
TEST_F(RunTest, AGeneralDatabaseInUseEndsTheRunAfterItsMessage) {
  Adr(Client("Muster AG", "Mand01", "6.4"), "CH", "01", "01");
  const std::string inUse =
      "Could not use 'D:\\Daten\\Public\\Public.mdb'; file already in use by another program. "
      "Close Orbica-Kontor on every workstation, then run the conversion again.";
  db.faults.push_back({"OpenDatabase " + kPublicDb, 0, 5, inUse, kErrFileInUse});
  EXPECT_EQ(Run(), RunOutcome::Failed);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(window.boxes[1].text, inUse);
  EXPECT_EQ(window.boxes[1].style, kMbIconCritical);
  EXPECT_EQ(Count("OpenDatabase " + kPublicDb), 1);
  EXPECT_EQ(Column("D:\\Daten\\Mand01\\NoltData.mdb", "ADRSTM", "TELVOR")[0], "01");
  EXPECT_TRUE(window.ended);
}

TEST(ExitStatus, TellsHowTheRunEnded) {
  EXPECT_EQ(ExitStatus(RunOutcome::Completed), 0);
  EXPECT_EQ(ExitStatus(RunOutcome::Declined), 0);
  EXPECT_EQ(ExitStatus(RunOutcome::Incomplete), 3);
  EXPECT_EQ(ExitStatus(RunOutcome::Failed), 1);
  EXPECT_EQ(ExitStatus(RunOutcome::Cancelled), 130);
}

TEST(VersionNumber, ReadsTheLeadingNumberWithAPointAsSeparator) {
  EXPECT_DOUBLE_EQ(VersionNumber("6.4"), 6.4);
  EXPECT_DOUBLE_EQ(VersionNumber("6.40"), 6.4);
  EXPECT_DOUBLE_EQ(VersionNumber("7"), 7);
  EXPECT_DOUBLE_EQ(VersionNumber(" 6.4"), 6.4);
  EXPECT_DOUBLE_EQ(VersionNumber("6 .\t4\n"), 6.4);
  EXPECT_DOUBLE_EQ(VersionNumber("6,4"), 6);
  EXPECT_DOUBLE_EQ(VersionNumber("6.4.1"), 6.4);
  EXPECT_DOUBLE_EQ(VersionNumber("V6.4"), 0);
  EXPECT_DOUBLE_EQ(VersionNumber(""), 0);
  EXPECT_DOUBLE_EQ(VersionNumber("."), 0);
  EXPECT_DOUBLE_EQ(VersionNumber("-7"), -7);
  EXPECT_DOUBLE_EQ(VersionNumber("1e1x"), 10);
  EXPECT_LT(VersionNumber("6.39"), kMinVersion);
  EXPECT_GE(VersionNumber("6.4"), kMinVersion);
}

TEST(IsAreaCodeColumn, OnlyAnUpperCaseVAsSecondCharacterMarksAColumn) {
  EXPECT_TRUE(IsAreaCodeColumn("TV"));
  EXPECT_TRUE(IsAreaCodeColumn("xVyz"));
  EXPECT_TRUE(IsAreaCodeColumn("ÄV"));
  EXPECT_FALSE(IsAreaCodeColumn("Tv"));
  EXPECT_FALSE(IsAreaCodeColumn("V"));
  EXPECT_FALSE(IsAreaCodeColumn("VX"));
  EXPECT_FALSE(IsAreaCodeColumn(""));
  EXPECT_FALSE(IsAreaCodeColumn(" "));
}

}  // namespace
}  // namespace kw
