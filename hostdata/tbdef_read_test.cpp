#include "hostdata/tbdef_read.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "hostdata/tbdef_read_fixture.h"
#include "tools/sample/def_writer.h"

namespace kw {
namespace {

using sample::DefTable;
using tbdef_test::Le16;
using tbdef_test::Le32;
using tbdef_test::Patch;
using tbdef_test::TbDefReadTest;

TEST_F(TbDefReadTest, TableZeroOpensNothing) {
  EXPECT_FALSE(Read(0));
  EXPECT_EQ(t.fs.openAttempts, 0);
  EXPECT_TRUE(s.TbDefs.Absent());
}

TEST_F(TbDefReadTest, TableThreeIsBuiltIn) {
  EXPECT_TRUE(Read(3));
  EXPECT_EQ(t.fs.openAttempts, 0);
  EXPECT_EQ(s.TbDefMax, 3);
  ASSERT_EQ(s.TbDefs.Upper(), 3);
  const TbDef& d = s.TbDefs(3);
  EXPECT_EQ(d.TbKind, 2);
  EXPECT_EQ(d.TbName, "AdrText");
  EXPECT_EQ(d.TbCaption, "AdrText");
  EXPECT_EQ(d.TbCode, 'I');
  EXPECT_EQ(d.KeyCount, 1);
  EXPECT_EQ(d.ColCount, 6);
  EXPECT_EQ(d.TbAttr5, 1);
  EXPECT_EQ(d.KeyName(1), "ADRTEX01");
  EXPECT_EQ(d.KeyFlag1(1), -1);
  EXPECT_EQ(d.KeyFlag2(1), -1);
  EXPECT_EQ(d.KeyColCount(1), 4);
  EXPECT_EQ(d.KeyCols.Elements(), (std::vector<int16_t>{1, 2, 3, 4}));
  EXPECT_EQ(d.KeyCols.Count(1), 1);
  EXPECT_EQ(d.ColName.Elements(),
            (std::vector<std::string>{"Sprache", "Maske", "Art", "Name", "Text", "Nummer"}));
  EXPECT_EQ(d.ColCaption.Elements(), d.ColName.Elements());
  EXPECT_EQ(d.ColType.Elements(), (std::vector<char>{'A', 'a', 'a', 'a', 'M', 'n'}));
  EXPECT_EQ(d.ColLength.Elements(), (std::vector<int16_t>{1, 20, 4, 12, 32767, 4}));
  EXPECT_EQ(d.ColFlags.Upper(), 6);
  EXPECT_EQ(s.TbColTexts.TextsA.Upper(), 6);

  s.TbDefMax = 40;
  TbDefGrow(s);
  EXPECT_TRUE(Read(3));
  EXPECT_EQ(s.TbDefMax, 40);
}

// The record layout written out by hand, field by field, independently of
// the sample writer: the reader must take it, and the writer must produce it.
TEST_F(TbDefReadTest, RecordLayoutByteForByte) {
  TbDef want;
  std::string rec;
  auto num = [&](int16_t& f, int16_t v) { f = v, rec += Le16(v); };
  auto text = [&](std::string& f, const std::string& utf8, const std::string& stored) {
    f = utf8, rec += Le16(static_cast<int>(stored.size())) + stored;
  };
  auto texts = [&](TextList& f, int32_t lower, std::vector<std::string> v) {
    f = TextList::OneDim(lower, static_cast<int32_t>(v.size()));
    rec += Le16(1) + Le32(static_cast<int64_t>(v.size())) + Le32(lower);
    for (size_t i = 0; i < v.size(); ++i) text(f.Elements()[i], v[i], v[i]);
  };
  auto nums = [&](NumList& f, int32_t lower, std::vector<int16_t> v) {
    f = NumList::OneDim(lower, static_cast<int32_t>(v.size()));
    rec += Le16(1) + Le32(static_cast<int64_t>(v.size())) + Le32(lower);
    for (size_t i = 0; i < v.size(); ++i) num(f.Elements()[i], v[i]);
  };
  auto col = [&](NumList& f, int16_t base) { nums(f, 1, {base, static_cast<int16_t>(base + 1)}); };

  num(want.TbKind, 1);
  text(want.TbName, "ADRSTM", "ADRSTM");
  text(want.TbCaption, "Größe", "Gr\xF6\xDF" "e");
  want.TbCode = 'A', rec += 'A';
  num(want.TbAttr1, 5);
  num(want.SuppA, 0);
  num(want.SuppB, 0);
  num(want.TbAttr2, 8);
  texts(want.TbTextList, 0, {"a", ""});
  want.TbNumList = NumList::OneDim(1, 3);  // 10, 20, 30 at 1..3 is these 16 bytes:
  want.TbNumList(1) = 10, want.TbNumList(2) = 20, want.TbNumList(3) = 30;
  rec += std::string("\x01\x00\x03\x00\x00\x00\x01\x00\x00\x00\x0A\x00\x14\x00\x1E\x00", 16);
  num(want.KeyCount, 1);
  num(want.ColCount, 2);
  num(want.TbAttr3, 13);
  num(want.TbAttr4, 14);
  num(want.TbAttr5, 15);
  texts(want.KeyText, 1, {"key"});
  texts(want.KeyName, 1, {"ADRSTM01"});
  nums(want.KeyFlag1, 1, {-1});
  nums(want.KeyFlag2, 1, {-2});
  nums(want.KeyColCount, 1, {3});
  want.KeyCols.Fresh(1, 3, 0, 2);  // (key 1..3, position 0..1), first index fastest
  rec += Le16(2) + Le32(3) + Le32(1) + Le32(2) + Le32(0);
  for (int v : {11, 21, 31, 12, 22, 32}) rec += Le16(v);
  want.KeyCols(1, 0) = 11, want.KeyCols(2, 0) = 21, want.KeyCols(3, 0) = 31;
  want.KeyCols(1, 1) = 12, want.KeyCols(2, 1) = 22, want.KeyCols(3, 1) = 32;
  texts(want.ColName, 1, {"TELVOR", "ORT"});
  texts(want.ColCaption, 1, {"Telefon Vorwahl", "Ort"});
  want.ColType = CodeList::OneDim(1, 2);
  want.ColType(1) = 'a', want.ColType(2) = 'M';
  rec += Le16(1) + Le32(2) + Le32(1) + "aM";
  col(want.ColLength, 250);
  col(want.ColAttr1, 260);
  col(want.ColAttr2, 270);
  col(want.ColAttr3, 280);
  texts(want.ColText1, 1, {"t1", "t2"});
  rec += Le16(0);  // ColText2 absent
  for (NumList* l : {&want.ColAttr4, &want.ColAttr5, &want.ColAttr6, &want.ColAttr7})
    col(*l, static_cast<int16_t>(300 + 10 * (l - &want.ColAttr4)));
  texts(want.ColFlags, 1, {"TV", "O"});
  int16_t base = 400;
  for (NumList* l : {&want.ColAttr8, &want.ColAttr9, &want.ColAttr10, &want.ColAttr11,
                     &want.ColAttr12, &want.ColAttr13, &want.ColAttr14, &want.ColAttr15,
                     &want.ColAttr16, &want.ColAttr17})
    col(*l, base), base = static_cast<int16_t>(base + 10);
  nums(want.ExtNum1, 1, {46});
  rec += Le16(0);  // ExtNum2 absent
  want.ExtLong = BoundedList<int32_t>::OneDim(1, 1);
  want.ExtLong(1) = 0x12345678;
  rec += Le16(1) + Le32(1) + Le32(1) + std::string("\x78\x56\x34\x12");
  for (NumList* l : {&want.ExtNum3, &want.ExtNum4, &want.ExtNum5, &want.ExtNum6, &want.ExtNum7})
    nums(*l, 1, {static_cast<int16_t>(49 + (l - &want.ExtNum3))});
  texts(want.ExtTexts, 1, {"end"});

  std::string written;
  sample::PutTbDef(written, want);
  EXPECT_EQ(written, rec) << "the writer's record differs from the hand-made one";

  // A file around it: directory entry of table 13, then the record and an
  // empty TbColTexts record.
  std::string file(100 + 40 * 13, '\0');
  Patch(file, 60 + 40 * 13, Le32(static_cast<int64_t>(file.size()) + 1));
  PutFile(file + rec + Le16(0) + Le16(0) + Le16(0));
  ASSERT_TRUE(Read(13));
  EXPECT_TRUE(s.TbDefs(13) == want);
  EXPECT_EQ(s.TbDefs(13).TbCaption, "Größe");
  EXPECT_EQ(s.TbDefs(13).KeyCols(3, 1), 32);
  EXPECT_TRUE(s.TbColTexts.TextsA.Absent());
  EXPECT_EQ(s.TbDefMax, 13);
}

TEST_F(TbDefReadTest, SampleAddressFileRoundTrip) {
  PutFile(sample::SampleAddressDefinitionFile());
  ASSERT_TRUE(Read(13));
  EXPECT_TRUE(AllClosed());
  EXPECT_TRUE(t.window.boxes.empty());
  EXPECT_EQ(s.TbDefMax, 40);
  EXPECT_EQ(s.TbDefs.Upper(), 40);

  const DefTable want = sample::AddressTable();
  const TbDef& d = s.TbDefs(13);
  EXPECT_TRUE(d == want.def);
  EXPECT_TRUE(s.TbColTexts == want.colTexts);
  EXPECT_EQ(d.SuppA, 1);
  EXPECT_EQ(d.SuppB, 1);
  EXPECT_TRUE(s.TbSuppAList(1) == want.suppA);
  EXPECT_TRUE(s.TbSuppBList(1) == want.suppB);
  EXPECT_EQ(d.ColText1(6), "Straße und Hausnummer");

  // What the client pass looks for: a "V" as the second flag character.
  std::vector<std::string> marked;
  for (int j = 1; j <= d.ColCount; ++j)
    if ((d.ColFlags(j) + "  ")[1] == 'V') marked.push_back(d.ColName(j) + "/" + d.ColCaption(j));
  EXPECT_EQ(marked, (std::vector<std::string>{"TELVOR/Telefon Vorwahl", "FAXVOR/Fax Vorwahl"}));

  EXPECT_TRUE(Read(11));
  EXPECT_EQ(s.TbDefs(11).TbCaption, "Länder");
  EXPECT_TRUE(Read(14));
  EXPECT_EQ(s.TbDefs(14).SuppA, 2) << "the next table takes the next slot";
  EXPECT_EQ(s.TbSuppAList(2).TableNo, 14);
  EXPECT_TRUE(Read(13));
  EXPECT_EQ(s.TbDefs(13).SuppA, 1) << "a table keeps its slot";
  EXPECT_EQ(s.TbSuppAList.Upper(), 2);
}

TEST_F(TbDefReadTest, NoDefinitionLeavesTheEntryAlone) {
  PutFile(sample::SampleAddressDefinitionFile());
  EXPECT_TRUE(Read(12));  // no table 12 in the file, and TbDefMax not raised
  EXPECT_TRUE(s.TbDefs.Absent());
  ASSERT_TRUE(Read(13));
  s.TbDefs(12).TbName = "earlier";
  const TbColTexts texts = s.TbColTexts;
  EXPECT_TRUE(Read(12));
  EXPECT_EQ(s.TbDefs(12).TbName, "earlier");
  EXPECT_TRUE(s.TbColTexts == texts);
  EXPECT_TRUE(AllClosed());
}

TEST_F(TbDefReadTest, TableMaximum) {
  std::string file = sample::SampleAddressDefinitionFile();  // maximum 40
  PutFile(file);
  ASSERT_TRUE(Read(13));
  EXPECT_EQ(s.TbDefMax, 40);
  EXPECT_EQ(s.TbDefs.Upper(), 40);
  Patch(file, 4, Le32(60));
  PutFile(file);
  ASSERT_TRUE(Read(13));
  EXPECT_EQ(s.TbDefMax, 40) << "13 is within TbDefMax: the header is not read again";

  s = TbDefState{};
  PutTables({sample::AddressTable()}, 5);  // below the table number
  ASSERT_TRUE(Read(13));
  EXPECT_EQ(s.TbDefMax, 13);
  EXPECT_EQ(s.TbDefs.Upper(), 13);

  s = TbDefState{};
  ASSERT_TRUE(Read(3));
  PutTables({sample::AddressTable()}, 40000);  // beyond the 16-bit TbDefMax
  EXPECT_FALSE(Read(13));
  EXPECT_EQ(s.TbDefMax, 3);
  EXPECT_EQ(s.TbDefs.Upper(), 3);
  EXPECT_TRUE(AllClosed());
}

TEST_F(TbDefReadTest, DirectoryReachesTable817Only) {
  PutTables({sample::SampleTable(817, "LAST", "Last", {{"A", "A", "", 'a', 1}})}, 0);
  ASSERT_TRUE(Read(817));
  EXPECT_EQ(s.TbDefs(817).TbName, "LAST");
  EXPECT_EQ(s.TbDefMax, 817);

  PutTables({sample::SampleTable(818, "BEYOND", "Beyond", {{"A", "A", "", 'a', 1}})}, 0);
  EXPECT_TRUE(Read(818));
  EXPECT_EQ(s.TbDefMax, 817);
  EXPECT_TRUE(AllClosed());
}

TEST_F(TbDefReadTest, MissingFileIsReportedByName) {
  PutFile(sample::SampleAddressDefinitionFile());
  ASSERT_TRUE(Read(13));
  m.MandantDir = m.DataDir + "M002\\";
  EXPECT_FALSE(Read(13));
  ASSERT_EQ(t.window.boxes.size(), 1u);
  EXPECT_EQ(t.window.boxes[0].text,
            "(TbDefRead) Can't open file !\r\n'C:\\Orbica\\Daten\\M002\\NoltData.def'");
  EXPECT_EQ(t.window.boxes[0].style, 0);
  EXPECT_EQ(s.TbDefs(13).TbName, "ADRSTM") << "the earlier client's entry stays";
  EXPECT_EQ(t.fs.Find(DefPath()), nullptr) << "nothing is created";
}

TEST_F(TbDefReadTest, FileNames) {
  EXPECT_EQ(TbDefFileName(m, 13), "C:\\Orbica\\Daten\\M001\\NoltData.def");
  EXPECT_EQ(TbDefFileName(m, 8), "C:\\Orbica\\Daten\\Public\\.def");
  m.AdoSettings[1].DBName = "Public";
  EXPECT_EQ(TbDefFileName(m, 8), "C:\\Orbica\\Daten\\Public\\Public.def");
  m.AdoSettings.clear();
  EXPECT_EQ(TbDefFileName(m, 13), "C:\\Orbica\\Daten\\M001\\.def");
}

TEST_F(TbDefReadTest, SupplementarySlots) {
  DefTable t13 = sample::AddressTable();
  t13.def.SuppA = 2;  // the file's own numbering
  t13.def.SuppB = 0;
  t13.def.TbAttr5 = 0;
  PutTables({t13});
  ASSERT_TRUE(Read(13));
  EXPECT_EQ(s.TbSuppAList.Upper(), 1);
  EXPECT_EQ(s.TbDefs(13).SuppA, 1);
  EXPECT_TRUE(s.TbSuppAList(1) == t13.suppA);
  EXPECT_TRUE(s.TbSuppBList.Absent());
  EXPECT_EQ(s.TbDefs(13).TbAttr5, 1);
  ASSERT_TRUE(Read(13));
  EXPECT_EQ(s.TbSuppAList.Upper(), 1) << "same table, same slot";

  t13.suppA.TableNo = 99;  // a record that names another table
  PutTables({t13});
  ASSERT_TRUE(Read(13));
  EXPECT_EQ(s.TbDefs(13).SuppA, 1);
  ASSERT_TRUE(Read(13));
  EXPECT_EQ(s.TbDefs(13).SuppA, 2);
  EXPECT_EQ(s.TbSuppAList.Upper(), 2);
}

TEST_F(TbDefReadTest, WithColumnsDecidesTheBounds) {
  DefTable t13 = sample::AddressTable();
  t13.def.ColName.Resize(0, 5);  // stored 0..4 while ColCount is 15
  t13.def.TbAttr5 = -3;
  PutTables({t13});

  ASSERT_TRUE(Read(13, false));
  const TbDef& d = s.TbDefs(13);
  EXPECT_EQ(d.ColName.Lower(), 0);
  EXPECT_EQ(d.ColName.Upper(), 4);
  EXPECT_EQ(d.ColCount, 15);
  EXPECT_THROW(d.ColName(5), RunError) << "a consumer indexing 1..ColCount meets an index error";
  EXPECT_EQ(d.TbAttr5, 1);

  ASSERT_TRUE(Read(13, true));
  EXPECT_EQ(d.ColName.Lower(), 1);
  EXPECT_EQ(d.ColName.Upper(), 15);
  EXPECT_EQ(d.ColName(4), "VORNAME");
  EXPECT_EQ(d.ColName(5), "");
  EXPECT_EQ(d.ColFlags(10), "TV");
  EXPECT_EQ(s.TbColTexts.TextsC.Upper(), 15);
  EXPECT_EQ(s.TbColAux(2).Texts.Upper(), 15);
}

// Inputs that once made the fuzz target fail.
TEST(TbDefReadFuzzFindings, Replay) {
  const std::filesystem::path dir = std::filesystem::path(KW_TEST_DATA) / "fuzz" / "tbdef";
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(tbdef_test::ReplayTbDefInput(reinterpret_cast<const uint8_t*>(bytes.data()),
                                             bytes.size()))
        << entry.path();
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace kw
