// The product's data on a file server: the registry names the share
// (\\srv\daten\), and Wine reaches it through dosdevices/unc/<server>/<share>.
// Every file of the run is found there: the databases with their lock files
// and journals, public.pro, the table definitions and the client profiles.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>

#include "tests/e2e_support.h"
#include "tests/jet_readers.h"

namespace kw::e2e {
namespace {

namespace jr = kw::jet_readers;

// system.reg as Wine writes it for the value \\srv\daten\ (in the 32-bit view,
// where a 32-bit program's HKEY_LOCAL_MACHINE\Software lies): every backslash
// of key and value doubled.
constexpr char kShareRegistry[] = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Wow6432Node\\Nolt\\Orbica-Kontor 5\\Settings] 1796740065
#time=1dd87204af0262c
"NoltDataDir"="\\\\srv\\daten\\"
)";

// The share's files, as the file server's share is mounted on this machine.
std::string ShareFolder(const std::string& prefix) { return prefix + "/mnt/srv-daten"; }

// Moves the data folder of a sample installation (D:\Daten\) onto the share
// \\srv\daten\: its files go to ShareFolder, which Wine's link
// dosdevices/unc/SRV/Daten names (spelt otherwise than the registry value);
// drive D: is gone, so nothing can be found the old way.
void MoveDataOntoShare(const std::string& prefix) {
  fs::create_directories(prefix + "/mnt");
  fs::rename(DataPath(prefix, ""), ShareFolder(prefix));
  fs::remove(prefix + "/dosdevices/d:");
  fs::create_directories(prefix + "/dosdevices/unc/SRV");
  fs::create_directory_symlink("../../../mnt/srv-daten", prefix + "/dosdevices/unc/SRV/Daten");
  WriteBytes(prefix + "/system.reg", kShareRegistry);
}

// Every file of the data folder and of the Windows directory, by its path
// below them: what a run may change.
std::map<std::string, std::string> DataFiles(const std::string& dataFolder, const std::string& prefix) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dataFolder))
    if (e.is_regular_file()) files["data/" + fs::relative(e.path(), dataFolder).string()] = ReadFile(e.path());
  for (const auto& e : fs::directory_iterator(prefix + "/drive_c/windows"))
    if (e.is_regular_file()) files["windows/" + e.path().filename().string()] = ReadFile(e.path());
  return files;
}

class NetworkShare : public ::testing::Test {
 protected:
  // A Jet installation with a client whose profile lacks its Version (the
  // run writes it), as it is on drive D: and as it is on the share.
  void SetUp() override {
    sample::SampleInstallation setup;
    setup.prefix = dir_.Path("pristine");
    setup.plzRows = Scaled(20000, 5000);
    setup.clients = sample::DefaultClients(6, Scaled(3000, 800));
    setup.clients[5].version = "";
    setup.format = sample::DbFormat::kJet;
    sample::WriteInstallation(setup);
    pristine_ = setup.prefix;
    onShare_ = dir_.Path("share");
    CopyTree(pristine_, onShare_);
    MoveDataOntoShare(onShare_);
  }

  // The same installation on drive D:, converted by one run.
  std::map<std::string, std::string> ConvertedOnDrive() {
    const std::string onDrive = dir_.Path("drive");
    CopyTree(pristine_, onDrive);
    ProgramRun run(onDrive, "j\n");
    run.Finish();
    EXPECT_EQ(run.status(), 0) << run.out() << run.err();
    driveOut_ = run.out();
    return DataFiles(DataPath(onDrive, ""), onDrive);
  }

  TempDir dir_;
  std::string pristine_, onShare_, driveOut_;
};

TEST_F(NetworkShare, DataOnAShareIsConvertedExactlyAsOnADrive) {
  const auto expected = ConvertedOnDrive();
  // The run on the drive did convert: the general database and client 01 changed.
  const auto original = DataFiles(DataPath(pristine_, ""), pristine_);
  EXPECT_NE(expected.at("data/Public/Public.mdb"), original.at("data/Public/Public.mdb"));
  EXPECT_NE(expected.at("data/Mand01/NoltData.mdb"), original.at("data/Mand01/NoltData.mdb"));
  EXPECT_NE(expected.at("data/Mand06/NoltData.ini"), original.at("data/Mand06/NoltData.ini"));

  ProgramRun run(onShare_, "j\n");
  run.Finish();
  EXPECT_EQ(run.status(), 0) << run.out() << run.err();
  EXPECT_EQ(run.out(), driveOut_);
  EXPECT_EQ(run.err(), "");
  // Byte for byte what the run on the drive left: databases, profiles (the
  // Version written into client 06's), public.pro, the definitions; no
  // journal and no other file left behind.
  const auto actual = DataFiles(ShareFolder(onShare_), onShare_);
  ASSERT_EQ(actual.size(), expected.size());
  for (const auto& [name, bytes] : expected) EXPECT_TRUE(actual.at(name) == bytes) << name;

  if (const std::string missing = jr::MissingReaders(); !missing.empty()) GTEST_SKIP() << missing;
  for (const auto& [rel, table, column] : {std::tuple{"Public/Public.mdb", "PLZSTM", "TELVOR"},
                                           {"Mand01/NoltData.mdb", "ADRSTM", "TELVOR"},
                                           {"Mand01/NoltData.mdb", "ADRSTM", "FAXVOR"}}) {
    const jr::Table t = jr::MdbExport(ShareFolder(onShare_) + "/" + rel, table);
    size_t land = 0, code = 0;
    for (size_t i = 0; i < t.columns.size(); ++i) {
      if (t.columns[i].name == "LAND") land = i;
      if (t.columns[i].name == column) code = i;
    }
    int left = 0, changed = 0;
    for (const jr::Row& r : t.rows) {
      if (r[land] != "CH") continue;
      left += r[code] == "01";
      changed += r[code] == "044";
    }
    EXPECT_EQ(left, 0) << rel << " " << column;
    EXPECT_GT(changed, 0) << rel << " " << column;
  }
}

TEST_F(NetworkShare, AShareThatIsNotMappedIsAFileThatCannotBeFound) {
  fs::remove(onShare_ + "/dosdevices/unc/SRV/Daten");
  auto before = DataFiles(ShareFolder(onShare_), onShare_);
  ProgramRun run(onShare_, "j\n");
  run.Finish();
  EXPECT_EQ(run.status(), 1);
  const std::string message = "Could not find file '\\\\srv\\daten\\Public\\Public.mdb'.\nFehler [OK] \n";
  std::string threeTimes;
  for (int i = 0; i < 3; ++i) threeTimes += message;
  EXPECT_NE(run.out().find("Postleitzahlenstamm\n" + threeTimes), std::string::npos) << run.out();
  // Nothing of the data changed; only the settings step's defaults were written.
  before["windows/NoltData.ini"] =
      "[AdoMand]\r\nProvider=Microsoft.Jet.OLEDB.4.0;\r\nDBName=NoltData\r\nDBExtension=.mdb\r\n";
  EXPECT_TRUE(DataFiles(ShareFolder(onShare_), onShare_) == before);
}

// The product's lock file beside the general database on the share shows a
// user: the file is refused, named as the registry names the share, and the
// run ends after the message that asks to run the conversion again.
TEST_F(NetworkShare, TheProductsLockFileOnTheShareIsSeen) {
  WriteBytes(ShareFolder(onShare_) + "/Public/PUBLIC.LDB", std::string("WS07\0Admin", 10));
  const std::string before = ReadFile(ShareFolder(onShare_) + "/Public/Public.mdb");
  ProgramRun run(onShare_, "j\n");
  run.Finish();
  EXPECT_EQ(run.status(), 1);
  EXPECT_NE(run.out().find("Postleitzahlenstamm\n"
                           "Could not use '\\\\srv\\daten\\Public\\Public.mdb'; the lock file "
                           "'\\\\srv\\daten\\Public\\PUBLIC.LDB' beside it shows that it is in use. "
                           "Close Orbica-Kontor on every workstation, then run the conversion again."),
            std::string::npos)
      << run.out();
  EXPECT_EQ(run.out().rfind("Fehler [OK]"), run.out().find("Fehler [OK]")) << "one message";
  EXPECT_TRUE(ReadFile(ShareFolder(onShare_) + "/Public/Public.mdb") == before);
}

// Killed while a write group's journal lies beside the general database on
// the share: the next run rolls the group back and converts the rest, to
// the same bytes as one run on the drive.
TEST_F(NetworkShare, AJournalLeftOnTheShareIsRolledBackByTheNextRun) {
  const auto expected = ConvertedOnDrive();
  const std::string folder = ShareFolder(onShare_) + "/Public";
  const int watch = inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0);
  bool caught = false;
  for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
    ProgramRun run(onShare_, "j\n");
    // Waits for the journal to be created, then kills at once.
    alignas(inotify_event) char buffer[4096];
    bool created = false;
    while (!created) {
      pollfd p{watch, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) {
        if (run.WaitFor(0)) break;
        continue;
      }
      const ssize_t n = read(watch, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        if (e->len > 0 && std::string(e->name) == "Public.mdb-journal") created = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
    run.Kill();
    caught = fs::exists(folder + "/Public.mdb-journal");
  }
  close(watch);
  ASSERT_TRUE(caught) << "no run was killed while its journal was there";

  ProgramRun rest(onShare_, "j\n");
  rest.Finish();
  EXPECT_EQ(rest.status(), 0) << rest.out() << rest.err();
  const auto actual = DataFiles(ShareFolder(onShare_), onShare_);
  ASSERT_EQ(actual.size(), expected.size());
  for (const auto& [name, bytes] : expected) EXPECT_TRUE(actual.at(name) == bytes) << name;
}

}  // namespace
}  // namespace kw::e2e
