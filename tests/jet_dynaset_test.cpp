// The Jet engine's record set on real files: rows deleted by another user
// since the selection, texts too long for their column, files it refuses,
// and tables made by Microsoft Access read as an independent reader reads them.
#include <gtest/gtest.h>

#include "platform/jet/catalog.h"
#include "platform/jet/data_page.h"
#include "platform/jet/file_page_store.h"
#include "platform/jet/file_store_test_support.h"
#include "platform/jet/jet_errors.h"
#include "tests/jet_readers.h"
#include "tests/jet_test_support.h"

namespace kw::jet::test {
namespace {

constexpr char kSelection[] = "SELECT * FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '01'";

// Another user deletes every row of the table (the flags of every slot).
void DeleteEveryRow(MemoryPageStore& store, const std::string& table) {
  const uint32_t tdef = FindTable(store, table).page;
  store.BeginGroup();
  PageBytes page;
  for (uint32_t n = 0; n < store.PageCount(); ++n) {
    store.Read(n, page);
    if (page[kPageTypeAt] != kDataPageType || DataPage(page, store.Name(), n).TableDefPage() != tdef) continue;
    for (uint16_t i = 0; i < RowCountOf(page); ++i) Put16(&page[kDataHeader + 2u * i], SlotWord(page, i) | kDeletedFlags);
    store.Write(n, page);
  }
  store.Commit();
}

int ErrorNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunError& e) {
    EXPECT_EQ(e.Description(), kRecordDeleted);
    return e.Number();
  }
  ADD_FAILURE() << "no error";
  return -1;
}

TEST(JetDynaset, EditOfARowDeletedSinceTheSelectionIsRecordIsDeleted) {
  MemoryJet jet(ReadBytes(JetFile("product/Public.mdb")));
  auto db = jet.engine.OpenDatabase("D:\\Daten\\test.mdb", false, false);
  auto rs = db->OpenRecordset(kSelection, 2);
  ASSERT_FALSE(rs->Eof());
  DeleteEveryRow(jet.store, "PLZSTM");
  const std::vector<uint8_t> deleted = jet.store.Bytes();
  EXPECT_EQ(ErrorNumber([&] { rs->Edit(); }), kErrRecordDeleted);
  EXPECT_EQ(ErrorNumber([&] { rs->GetValue("TELVOR"); }), kErrRecordDeleted);
  rs->Close();
  db->Close();
  EXPECT_EQ(jet.store.Bytes(), deleted);
}

TEST(JetDynaset, UpdateOfARowDeletedAfterEditIsRecordIsDeletedAndWritesNothing) {
  MemoryJet jet(ReadBytes(JetFile("product/Public.mdb")));
  auto db = jet.engine.OpenDatabase("D:\\Daten\\test.mdb", false, false);
  auto rs = db->OpenRecordset(kSelection, 2);
  rs->Edit();
  rs->SetValue("TELVOR", std::string("044"));
  DeleteEveryRow(jet.store, "PLZSTM");
  const std::vector<uint8_t> deleted = jet.store.Bytes();
  const int commits = jet.store.Commits();
  EXPECT_EQ(ErrorNumber([&] { rs->Update(); }), kErrRecordDeleted);
  rs->Close();
  db->Close();
  EXPECT_EQ(jet.store.Bytes(), deleted);
  EXPECT_EQ(jet.store.Commits(), commits);
}

TEST(JetDynaset, ATextLongerThanTheColumnIsRefusedNamingItAndNothingIsWritten) {
  struct Case {
    const char* value;
    bool fits;  // TELVOR holds 5 characters
  };
  const Case cases[] = {
      {"12345", true}, {"123456", false}, {"\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4x", true},
      {"1234\xF0\x9F\x98\x80", false},  // a character outside the first plane counts twice
      {"", true},
  };
  const std::vector<uint8_t> original = ReadBytes(JetFile("product/Public.mdb"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    MemoryJet jet(original);
    auto db = jet.engine.OpenDatabase("D:\\Daten\\test.mdb", false, false);
    auto rs = db->OpenRecordset(kSelection, 2);
    rs->Edit();
    std::string error;
    try {
      rs->SetValue("telvor", std::string(c.value));
    } catch (const RunError& e) {
      error = e.Description();
    }
    rs->Update();
    if (c.fits) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(rs->GetValue("TELVOR"), std::string(c.value));
    } else {
      EXPECT_NE(error.find("The field is too small to accept the amount of data you attempted to add. Try "
                           "inserting or pasting less data."),
                std::string::npos)
          << error;
      EXPECT_NE(error.find("'TELVOR'"), std::string::npos) << error;
      EXPECT_EQ(rs->GetValue("TELVOR"), std::string("01"));
    }
    rs->Close();
    db->Close();
    if (!c.fits) {
      EXPECT_EQ(jet.store.Bytes(), original);
    }
  }
}

TEST(JetRefusedFiles, AreRefusedWithTheReasonAndLeftByteForByteUnchanged) {
  struct Case {
    const char* file;
    const char* says;
  };
  const Case cases[] = {
      {"variants/jet3.mdb", "is a Jet 3 database; only Jet 4 databases can be converted."},
      {"variants/accdb.accdb", "(ACE) database; only Jet 4 databases can be converted."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<uint8_t> original = ReadBytes(JetFile(c.file));
    jet::testing::ScratchDir dir;
    std::vector<uint8_t> after;
    const std::string error = ConvertFile(original, dir, &after);
    EXPECT_NE(error.find("'D:\\Daten\\test.mdb'"), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(after, original);
  }
}

// Every text column of every table of the files Access made, through the
// engine, against mdb-reader (rows compared as sorted lists).
TEST(JetAccessMadeFiles, EveryTableReadsAsMdbReaderReadsIt) {
  ASSERT_EQ(jet_readers::MissingReaders(), "");
  for (const char* file : {"access-made/delColTestV2000.mdb", "access-made/fixedTextTestV2000.mdb",
                           "access-made/overflowTestV2000.mdb", "access-made/testUnicodeCompV2003.mdb"}) {
    SCOPED_TRACE(file);
    MemoryJet jet(ReadBytes(JetFile(file)));
    const std::vector<uint8_t> original = jet.store.Bytes();
    auto db = jet.engine.OpenDatabase("D:\\Daten\\test.mdb", false, false);
    for (const jet_readers::Table& t : jet_readers::NodeRead(JetFile(file))) {
      SCOPED_TRACE(t.name);
      std::vector<size_t> texts;
      for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].type == "text") texts.push_back(i);
      std::vector<jet_readers::Row> expected, actual;
      for (const auto& r : t.rows) {
        jet_readers::Row row;
        for (size_t i : texts) row.push_back(r[i]);
        expected.push_back(row);
      }
      auto rs = db->OpenRecordset("SELECT * FROM [" + t.name + "]", 2);
      for (; !rs->Eof(); rs->MoveNext()) {
        jet_readers::Row row;
        for (size_t i : texts) row.push_back(rs->GetValue(t.columns[i].name));
        actual.push_back(row);
      }
      rs->Close();
      std::sort(expected.begin(), expected.end());
      std::sort(actual.begin(), actual.end());
      EXPECT_GT(actual.size(), 0u);
      EXPECT_EQ(actual, expected);
    }
    db->Close();
    EXPECT_EQ(jet.store.Bytes(), original);
  }
}

}  // namespace
}  // namespace kw::jet::test
