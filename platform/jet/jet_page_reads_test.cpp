// How a conversion reads the file: the selection reads the table once, in
// runs of pages; the pass then reads each page it changes once, for the
// row's re-check at Edit, the change, the journal's record of the page and
// its write.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "platform/fakes/fake_clock.h"
#include "platform/jet/file_page_store.h"
#include "platform/jet/file_store_test_support.h"
#include "platform/jet/jet_engine.h"
#include "platform/jet/memory_store_files.h"

namespace kw::jet {
namespace {

// The files in memory, with every read of the database counted by page.
class CountingFiles : public MemoryStoreFiles {
 public:
  CountingFiles(MemoryFiles& files, std::map<uint32_t, int>& reads, int& calls)
      : MemoryStoreFiles(files), reads_(reads), calls_(calls) {}
  bool ReadDatabase(uint64_t offset, size_t size, uint8_t* out) override {
    ++calls_;
    for (uint64_t at = offset; at < offset + size; at += kPageSize) ++reads_[static_cast<uint32_t>(at / kPageSize)];
    return MemoryStoreFiles::ReadDatabase(offset, size, out);
  }

 private:
  std::map<uint32_t, int>& reads_;
  int& calls_;
};

TEST(JetPageReads, AConversionReadsEachPageOnceToSelectAndOnceToChange) {
  MemoryFiles files{testing::ReadAll(std::string(KW_TEST_DATA) + "/jet/product/Public.mdb"), std::nullopt};
  const size_t pages = files.database.size() / kPageSize;
  std::map<uint32_t, int> reads;
  int calls = 0;
  FakeClock clock;
  // Groups of 8 pages: many groups, each with its journal.
  JetEngine engine(
      [&](std::string_view name) {
        return FilePageStore::Open(std::make_unique<CountingFiles>(files, reads, calls), std::string(name));
      },
      clock, JetEngineOptions{80, 8});
  const std::string select = "SELECT * FROM PLZSTM WHERE PLZSTM.LAND = 'CH' AND PLZSTM.TELVOR = '01'";
  auto db = engine.OpenDatabase("D:\\Daten\\Public\\Public.mdb", false, false);
  auto rs = db->OpenRecordset(select, 2);
  long changed = 0;
  for (; !rs->Eof(); rs->MoveNext(), ++changed) {
    rs->Edit();
    rs->SetValue("TELVOR", std::string("044"));
    rs->GetValue("PLZ");
    rs->GetValue("ORT");
    rs->Update();
  }
  rs->Close();
  ASSERT_GT(changed, 500);
  for (const auto& [page, times] : reads) EXPECT_LE(times, 2) << "page " << page;
  EXPECT_LT(calls, static_cast<int>(pages) / 4);

  // Every row was changed, and a second selection finds none left.
  auto again = db->OpenRecordset(select, 2);
  EXPECT_TRUE(again->Eof());
  again->Close();
  db->Close();
}

}  // namespace
}  // namespace kw::jet
