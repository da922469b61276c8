// A conversion pass allocates nothing for each row once it runs: the record
// set, the key set's selection, the row writer and the page store keep their
// buffers from row to row and from group to group.
#include <gtest/gtest.h>

#include <string>

#include "platform/fakes/fake_clock.h"
#include "platform/jet/file_page_store.h"
#include "platform/jet/jet_engine.h"
#include "tests/alloc_watch.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/installation.h"

namespace kw::jet {
namespace {

TEST(JetRecordsetAllocations, ChangingARowAllocatesNothingOnceThePassRuns) {
  kw::testing::TempDir dir;
  const std::string path = dir / "Public.mdb";
  sample::WritePostalCodes(path, 120000, 5, sample::DbFormat::kJet);
  FakeClock clock;
  // Groups of 32 pages: the rows watched span many groups.
  JetEngine engine([&](std::string_view name) { return FilePageStore::Open(path, std::string(name)); }, clock,
                   JetEngineOptions{80, 32});
  auto db = engine.OpenDatabase("D:\\Daten\\Public\\Public.mdb", false, false);
  auto rs = db->OpenRecordset("SELECT * FROM PLZSTM WHERE PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'", 2);
  const FieldValue code = std::string("044");
  // The pass of the run, reading values short enough to need no room of
  // their own (a longer text read is a new string, handed to the caller).
  auto change = [&] {
    rs->Edit();
    rs->GetValue("LAND");
    rs->GetValue("TELVOR");
    rs->SetValue("TELVOR", code);
    rs->GetValue("PLZ");
    rs->Update();
    rs->MoveNext();
  };
  // Until the store holds as many pages as it keeps.
  for (int i = 0; i < 15000 && !rs->Eof(); ++i) change();
  alloc_watch::Reset();
  long rows = 0;
  for (; !rs->Eof(); ++rows) change();
  const size_t allocations = alloc_watch::Count();
  ASSERT_GT(rows, 15000);
  // What a group takes (its journal's records, the runs of pages written)
  // and a row that moves to another page take come to far less than one
  // allocation a row.
  EXPECT_LT(allocations, static_cast<size_t>(rows) / 4) << rows << " rows";
  rs->Close();
  db->Close();
}

}  // namespace
}  // namespace kw::jet
