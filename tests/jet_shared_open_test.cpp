// The Jet engine's databases and record sets as the run uses them: a file
// opened again while open, and rows read after another record set saved them.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/jet/file_page_store.h"
#include "tests/jet_test_support.h"

namespace kw::jet::test {
namespace {

std::unique_ptr<Recordset> Open(Database& db, const std::string& where) {
  return db.OpenRecordset("SELECT * FROM PLZSTM WHERE " + where, 2);
}

TEST(JetSharedOpen, ARowReadsWhatAnotherRecordSetSavedSinceItsEdit) {
  MemoryJet jet(ReadBytes(JetFile("product/Public.mdb")));
  auto db = jet.engine.OpenDatabase("D:\\Daten\\test.mdb", false, false);
  auto reader = Open(*db, "LAND = 'CH' AND TELVOR = '01'");
  auto writer = Open(*db, "LAND = 'CH' AND TELVOR = '01'");
  ASSERT_FALSE(reader->Eof());
  reader->Edit();
  ASSERT_EQ(reader->GetValue("TELVOR"), FieldValue("01"));
  writer->Edit();
  writer->SetValue("TELVOR", FieldValue("044"));
  writer->Update();
  EXPECT_EQ(reader->GetValue("TELVOR"), FieldValue("044"));
  reader->Edit();
  EXPECT_EQ(reader->GetValue("TELVOR"), FieldValue("044"));
}

// A file opened again by the same engine, under any spelling of its name,
// shares the open file; another engine (another user) is refused while it
// is open, and gets it once every holder has let go.
TEST(JetSharedOpen, AFileOpenedAgainSharesItsConnection) {
  char dir[] = "/tmp/kw-jet-open-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/Public.mdb";
  std::filesystem::copy_file(JetFile("product/Public.mdb"), file);
  FakeClock clock;
  const StoreOpener opener = [&](std::string_view name) { return FilePageStore::Open(file, std::string(name)); };
  JetEngine engine(opener, clock), other(opener, clock);

  auto first = engine.OpenDatabase("D:\\Daten\\Public\\Public.mdb", false, false);
  auto rs = Open(*first, "LAND = 'CH'");
  auto second = engine.OpenDatabase("d:\\daten\\public\\PUBLIC.MDB", false, false);
  EXPECT_FALSE(Open(*second, "LAND = 'CH'")->Eof());
  EXPECT_THROW(other.OpenDatabase("D:\\Daten\\Public\\Public.mdb", false, false), RunError);
  first->Close();
  second->Close();
  // The record set still holds the file.
  EXPECT_THROW(other.OpenDatabase("D:\\Daten\\Public\\Public.mdb", false, false), RunError);
  rs->Close();
  EXPECT_NO_THROW(other.OpenDatabase("D:\\Daten\\Public\\Public.mdb", false, false)->Close());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kw::jet::test
