#include "platform/jet/engine_choice.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/run_error.h"

namespace kw::jet {
namespace {

// An engine that records the files it was asked to open, and refuses those
// it is told to.
struct RecordingEngine : DatabaseEngine {
  struct Db : Database {
    std::unique_ptr<Recordset> OpenRecordset(std::string_view, int) override { return nullptr; }
    void Close() override {}
  };
  std::unique_ptr<Database> OpenDatabase(std::string_view name, bool, bool) override {
    opened.emplace_back(name);
    if (refuse) throw RunError("refused " + std::string(name));
    return std::make_unique<Db>();
  }
  void CommitPending() override { ++commits; }
  std::vector<std::string> opened;
  bool refuse = false;
  int commits = 0;
};

std::vector<uint8_t> Jet4Page() {
  std::vector<uint8_t> page(4096, 0);
  page[1] = 1;
  const std::string name("Standard Jet DB", 15);
  std::copy(name.begin(), name.end(), page.begin() + 4);
  page[0x14] = 1;
  return page;
}

std::vector<uint8_t> SqlitePage() {
  const std::string magic("SQLite format 3\0", 16);
  std::vector<uint8_t> page(magic.begin(), magic.end());
  page.resize(4096);
  return page;
}

class EngineChoiceTest : public ::testing::Test {
 protected:
  EngineChoice Choice(bool withSqlite = true) {
    return EngineChoice(
        [this](std::string_view name) {
          reads.emplace_back(name);
          const auto it = files.find(std::string(name));
          if (it == files.end()) return FirstBytes{};
          return FirstBytes{true, it->second};
        },
        withSqlite ? &sqlite : nullptr, jet);
  }
  std::string ErrorOf(EngineChoice& choice, const std::string& name) {
    try {
      choice.OpenDatabase(name, false, false);
    } catch (const RunError& e) {
      return e.Description();
    }
    return "(opened)";
  }

  std::map<std::string, std::vector<uint8_t>> files;
  std::vector<std::string> reads;
  RecordingEngine sqlite, jet;
};

TEST_F(EngineChoiceTest, FirstBytesChooseTheEngineAndAnythingElseIsRefusedUnopened) {
  files["D:\\a.mdb"] = Jet4Page();
  files["D:\\b.mdb"] = SqlitePage();
  files["D:\\c.mdb"] = {};
  files["D:\\d.mdb"] = std::vector<uint8_t>(4096, 'x');
  EngineChoice choice = Choice();
  choice.OpenDatabase("D:\\a.mdb", false, false);
  choice.OpenDatabase("D:\\b.mdb", false, false);
  EXPECT_EQ(ErrorOf(choice, "D:\\c.mdb"), "'D:\\c.mdb' is empty; it is not a database that can be converted.");
  EXPECT_EQ(ErrorOf(choice, "D:\\d.mdb"),
            "'D:\\d.mdb' is neither a Jet 4 nor an SQLite database; it cannot be converted.");
  EXPECT_EQ(jet.opened, std::vector<std::string>{"D:\\a.mdb"});
  EXPECT_EQ(sqlite.opened, std::vector<std::string>{"D:\\b.mdb"});
}

TEST_F(EngineChoiceTest, AFileTakenByAnEngineIsNeverReadAgain) {
  files["D:\\Daten\\Public\\Public.mdb"] = Jet4Page();
  EngineChoice choice = Choice();
  choice.OpenDatabase("D:\\Daten\\Public\\Public.mdb", false, false);
  // The engine now holds the file: on Windows a second open would fail.
  files["D:\\Daten\\Public\\Public.mdb"] = SqlitePage();
  choice.OpenDatabase("d:\\daten\\public\\PUBLIC.MDB", false, false);
  EXPECT_EQ(reads, std::vector<std::string>{"D:\\Daten\\Public\\Public.mdb"});
  EXPECT_EQ(jet.opened.size(), 2u);
  EXPECT_TRUE(sqlite.opened.empty());
}

TEST_F(EngineChoiceTest, AMissingOrUnreadableFileGoesToTheJetEngineWhichWordsWhy) {
  jet.refuse = true;
  EngineChoice choice = Choice();
  EXPECT_EQ(ErrorOf(choice, "D:\\gone.mdb"), "refused D:\\gone.mdb");
  EXPECT_TRUE(sqlite.opened.empty());
}

TEST_F(EngineChoiceTest, AFileThatWasRefusedIsLookedAtAfreshWhenOpenedAgain) {
  files["D:\\a.mdb"] = Jet4Page();
  jet.refuse = true;  // e.g. in use by another user
  EngineChoice choice = Choice();
  ErrorOf(choice, "D:\\a.mdb");
  files["D:\\a.mdb"] = SqlitePage();  // replaced meanwhile
  choice.OpenDatabase("D:\\a.mdb", false, false);
  EXPECT_EQ(reads.size(), 2u);
  EXPECT_EQ(sqlite.opened.size(), 1u);
}

TEST_F(EngineChoiceTest, WithoutTheSqliteEngineAnSqliteFileIsRefusedByName) {
  files["D:\\Mand1\\NoltData.mdb"] = SqlitePage();
  EngineChoice choice = Choice(false);
  EXPECT_EQ(ErrorOf(choice, "D:\\Mand1\\NoltData.mdb"),
            "'D:\\Mand1\\NoltData.mdb' is an SQLite database; this build of the program converts "
            "Jet 4 databases only.");
  EXPECT_TRUE(jet.opened.empty());
  choice.CommitPending();
  EXPECT_EQ(jet.commits, 1);
}

}  // namespace
}  // namespace kw::jet
