// The program killed (SIGKILL) at random moments, then run again: the data
// ends exactly as after one clean run, and no file is ever left half
// written.
#include <gtest/gtest.h>

#include <random>

#include "platform/ini/ini_text.h"
#include "tests/e2e_support.h"

namespace kw::e2e {
namespace {

constexpr int kKills = 20;

uint32_t Seed() {
  const uint32_t seed = std::random_device{}();
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  std::printf("random seed %u\n", seed);
  return seed;
}

// How many files a killed profile write left behind (hidden temporaries).
int HiddenFiles(const std::string& root) {
  int n = 0;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().filename().string()[0] == '.') ++n;
  return n;
}

TEST(CrashAndRerun, KilledRunsAndOneFullRunGiveWhatOneCleanRunGives) {
  TempDir dir;
  const std::string pristine = dir.Path("pristine");
  const std::string reference = dir.Path("reference");
  const std::string work = dir.Path("work");
  sample::SampleInstallation setup;
  setup.prefix = pristine;
  setup.plzRows = Scaled(200000, 40000);
  setup.clients = sample::DefaultClients(5, Scaled(20000, 4000));
  sample::WriteInstallation(setup);
  const std::vector<std::string> databases = DatabaseFiles(pristine);
  ASSERT_EQ(databases.size(), 5u);  // Public.mdb and clients 01, 02, 03, 05

  // One clean run on a copy; it must itself be right.
  CopyTree(pristine, reference);
  ProgramRun clean(reference, "j\n");
  clean.Finish();
  ASSERT_EQ(clean.status(), 0) << clean.out();
  const double cleanSeconds = clean.wallSeconds();
  for (const std::string& rel : databases) {
    DatabaseContent original = ReadDatabase(pristine + "/" + rel);
    if (rel.find("Public.mdb") != std::string::npos) {
      original = Converted(original, "PLZSTM", {"TELVOR"});
    } else if (rel.find("Mand01") != std::string::npos || rel.find("Mand05") != std::string::npos) {
      original = Converted(original, "ADRSTM", {"TELVOR", "FAXVOR"});
    }
    ASSERT_EQ(Differences(original, ReadDatabase(reference + "/" + rel)), "") << rel;
  }
  const auto expectedFiles = ReadFiles(reference);

  auto verify = [&](const char* when) {
    for (const std::string& rel : databases) {
      EXPECT_EQ(IntegrityCheck(work + "/" + rel), "ok") << rel << " " << when;
      EXPECT_EQ(FileDifferences(reference + "/" + rel, work + "/" + rel), "") << rel << " " << when;
    }
    EXPECT_EQ(ReadFiles(work), expectedFiles) << when;
    EXPECT_TRUE(Journals(work).empty()) << when;
  };

  std::mt19937 rng(Seed());
  std::uniform_real_distribution<double> delay(0, cleanSeconds);
  int kills = 0, insideWrite = 0, completed = 0, leftovers = 0;
  CopyTree(pristine, work);
  while (kills < kKills) {
    ProgramRun run(work, "j\n");
    if (!run.WaitFor(delay(rng))) {
      run.Kill();
      ++kills;
      // A rollback journal left behind: the kill fell inside a write transaction.
      if (!Journals(work).empty()) ++insideWrite;
      continue;
    }
    // The run got to its end before the kill came.
    ASSERT_EQ(run.status(), 0) << run.out() << run.err();
    EXPECT_EQ(run.out().find("Fehler"), std::string::npos) << run.out();
    verify("after a run that followed kills");
    ++completed;
    leftovers += HiddenFiles(work);
    CopyTree(pristine, work);
  }
  ProgramRun last(work, "j\n");
  last.Finish();
  EXPECT_EQ(last.status(), 0) << last.out() << last.err();
  EXPECT_EQ(last.out().find("Fehler"), std::string::npos) << last.out();
  verify("after the last run");
  leftovers += HiddenFiles(work);

  std::printf(
      "%d kills (%d inside a write transaction), %d runs to the end between them, "
      "clean run %.3f s, %d temporary files left by killed profile writes\n",
      kills, insideWrite, completed, cleanSeconds, leftovers);
  // Without kills inside a transaction this test would show nothing.
  EXPECT_GT(insideWrite, 0);
}

// Every client lacks the "Version" key, so every run writes it into each
// client's (large) profile file; the Windows directory's profile gains the
// three defaults of the settings step.
TEST(CrashAndRerun, ProfileFilesAreEitherOldOrNewAfterAKill) {
  TempDir dir;
  const std::string pristine = dir.Path("pristine");
  const std::string reference = dir.Path("reference");
  const std::string work = dir.Path("work");
  sample::SampleInstallation setup;
  setup.prefix = pristine;
  setup.plzRows = 100;
  const int count = static_cast<int>(Scaled(40, 15));
  for (int i = 1; i <= count; ++i) {
    sample::SampleClient c;
    c.name = "Mandant " + std::to_string(i);
    c.directory = "M" + std::to_string(i);
    c.version = "";
    c.rows = 5;
    setup.clients.push_back(c);
  }
  sample::WriteInstallation(setup);
  std::string notes = "[Notizen]\r\n";
  for (int i = 0; i < 6000; ++i)
    notes += "Zeile" + std::to_string(i) + "=Lorem ipsum dolor sit\r\n";
  std::vector<std::string> inis, oldText;
  for (const auto& c : setup.clients) {
    inis.push_back(DataPath(pristine, c.directory + "/NoltData.ini"));
    oldText.push_back(notes + ReadFile(inis.back()));
    WriteBytes(inis.back(), oldText.back());
  }
  const std::string windowsIni = "drive_c/windows/NoltData.ini";
  std::vector<std::string> windowsStates;  // what it may hold after each write
  std::optional<std::string> text;
  for (const auto& [key, value] :
       std::vector<std::pair<std::string, std::string>>{{"Provider", "Microsoft.Jet.OLEDB.4.0;"},
                                                        {"DBName", "NoltData"},
                                                        {"DBExtension", ".mdb"}}) {
    const ini::EditResult r = ini::SetString(
        text ? std::optional<std::string_view>(*text) : std::nullopt, "AdoMand", key, value);
    ASSERT_EQ(r.status, ini::EditStatus::kChanged);
    text = r.bytes;
    windowsStates.push_back(r.bytes);
  }

  CopyTree(pristine, reference);
  ProgramRun clean(reference, "j\n");
  clean.Finish();
  ASSERT_EQ(clean.status(), 0);
  const double cleanSeconds = clean.wallSeconds();
  std::vector<std::string> newText;
  for (size_t i = 0; i < inis.size(); ++i) {
    newText.push_back(ReadFile(reference + inis[i].substr(pristine.size())));
    ASSERT_EQ(newText.back(), oldText[i] + "Version=0.0\r\n");
  }
  ASSERT_EQ(ReadFile(reference + "/" + windowsIni), windowsStates.back());

  std::mt19937 rng(Seed());
  std::uniform_real_distribution<double> delay(0, cleanSeconds);
  int kills = 0, halfway = 0, leftovers = 0;
  CopyTree(pristine, work);
  while (kills < kKills) {
    ProgramRun run(work, "j\n");
    const bool ended = run.WaitFor(delay(rng));
    if (!ended) {
      run.Kill();
      ++kills;
    }
    int changed = 0;
    for (size_t i = 0; i < inis.size(); ++i) {
      const std::string now = ReadFile(work + inis[i].substr(pristine.size()));
      EXPECT_TRUE(now == oldText[i] || now == newText[i])
          << inis[i] << ": " << now.size() << " bytes, old " << oldText[i].size() << ", new "
          << newText[i].size();
      if (now == newText[i]) ++changed;
    }
    const std::string win = work + "/" + windowsIni;
    if (fs::exists(win)) {
      const std::string now = ReadFile(win);
      EXPECT_NE(std::find(windowsStates.begin(), windowsStates.end(), now), windowsStates.end())
          << now;
    }
    leftovers += HiddenFiles(work);
    if (!ended && changed > 0 && changed < count) ++halfway;
    if (ended || changed == count) {
      EXPECT_TRUE(!ended || run.status() == 0);
      CopyTree(pristine, work);
    }
  }
  std::printf(
      "%d kills, %d of them part way through the clients, clean run %.3f s, "
      "%d temporary files left\n",
      kills, halfway, cleanSeconds, leftovers);
  EXPECT_GT(halfway, 0);
}

}  // namespace
}  // namespace kw::e2e
