#include "hostdata/tbdef_model.h"

#include <gtest/gtest.h>

#include "hostdata/tbdef_test_support.h"

namespace kw {
namespace {

using tbdef_test::TestPlatform;

// The description of the RunError that f throws, or "no error".
template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.Description();
  }
  return "no error";
}
#define EXPECT_INDEX_ERROR(stmt) EXPECT_EQ(ErrorOf([&] { stmt; }), "Subscript out of range")

TEST(BoundedList, AbsentAndOutOfBoundsAreIndexErrors) {
  NumList l;
  EXPECT_TRUE(l.Absent());
  EXPECT_INDEX_ERROR(l(0));
  EXPECT_INDEX_ERROR(l.Upper());
  l.Fresh(-2, 3);  // -2..0
  l(-2) = 7;
  EXPECT_EQ(l.Upper(), 0);
  EXPECT_INDEX_ERROR(l(1));
  EXPECT_INDEX_ERROR(l(-3));
  EXPECT_INDEX_ERROR(l(0, 0));  // wrong number of indices
  EXPECT_INDEX_ERROR(l.Fresh(1, -1));
  EXPECT_INDEX_ERROR(l.Fresh(INT32_MAX, 2));  // upper bound beyond 32 bits
  EXPECT_EQ(l(-2), 7) << "a failed Fresh leaves the list as it was";

  l.Fresh(0, 0);  // an empty dimension: bounds, but nothing to index
  EXPECT_EQ(l.Dimensions(), 1);
  EXPECT_EQ(l.Upper(), -1);
  EXPECT_INDEX_ERROR(l(0));
}

TEST(BoundedList, ResizeKeepsTheElementsWhoseIndexSurvives) {
  TextList l = TextList::OneDim(0, 3);  // 0..2 as a file may store it
  l(0) = "zero", l(1) = "one", l(2) = "two";
  l.Resize(1, 4);
  EXPECT_EQ(l.Lower(), 1);
  EXPECT_EQ(l.Elements(), (std::vector<std::string>{"one", "two", "", ""}));
  l.Resize(1, 1);
  EXPECT_EQ(l(1), "one");
  EXPECT_INDEX_ERROR(l(2));

  CodeList codes;
  codes.Resize(1, 2);  // an absent list comes into being
  EXPECT_EQ(codes(2), '\0') << "new one-character codes are character code 0";

  l.Fresh(1, 1);
  EXPECT_EQ(l(1), "") << "a fresh list discards the contents";
}

TEST(BoundedList, TwoDimensionsFirstIndexFastestAndFixedShape) {
  NumList k;
  k.Fresh(1, 2, 0, 3);  // (1..2, 0..2)
  for (int j = 0; j <= 2; ++j)
    for (int i = 1; i <= 2; ++i) k(i, j) = static_cast<int16_t>(10 * i + j);
  EXPECT_EQ(k.Elements(), (std::vector<int16_t>{10, 20, 11, 21, 12, 22}));
  EXPECT_INDEX_ERROR(k(1));
  EXPECT_INDEX_ERROR(k(3, 0));
  EXPECT_INDEX_ERROR(k.Resize(1, 5));
  EXPECT_EQ(k.Count(2), 3);

  NumList copy = k;  // a deep copy
  copy(1, 0) = -1;
  EXPECT_EQ(k(1, 0), 10);
}

class TbDefModelTest : public ::testing::Test {
 protected:
  TestPlatform t;
  TbDefState s;
};

TEST_F(TbDefModelTest, GrowFromNothingAndUnchanged) {
  EXPECT_TRUE(TbDefGrow(s));
  EXPECT_EQ(s.TbDefMax, 1);
  EXPECT_EQ(s.TbDefs.Lower(), 0);
  EXPECT_EQ(s.TbDefs.Upper(), 1);

  s.TbDefMax = 20;
  ASSERT_TRUE(TbDefGrow(s));
  s.TbDefs(13).TbName = "ADRSTM";
  ASSERT_TRUE(TbDefGrow(s));
  EXPECT_EQ(s.TbDefs.Upper(), 20);
  EXPECT_EQ(s.TbDefs(13).TbName, "ADRSTM");

  s.TbDefMax = 5;  // shrinking drops the entries above
  ASSERT_TRUE(TbDefGrow(s));
  EXPECT_EQ(s.TbDefs.Upper(), 5);
}

TEST_F(TbDefModelTest, ClearGivesTheEmptyDefinitionAndKeepsTheExtLists) {
  s.TbDefMax = 13;
  TbDefGrow(s);
  TbDef& d = s.TbDefs(13);
  d.TbName = "ADRSTM";
  d.ColCount = 15;
  d.ColName = TextList::OneDim(1, 15);
  d.ColName(1) = "ADRNR";
  d.ExtNum1 = NumList::OneDim(1, 2);
  d.ExtNum1(2) = 42;
  d.ExtTexts = TextList::OneDim(1, 1);
  d.ExtTexts(1) = "kept";

  ASSERT_TRUE(TbDefClear(s, 13));
  EXPECT_EQ(d.TbName + d.TbCode, " ");
  EXPECT_EQ(d.ColCount, 0);
  EXPECT_EQ(d.TbAttr5, 1);
  int lists = 0;
  ForEachColumnList(d, [&](auto& list) {
    ++lists;
    EXPECT_EQ(list.Dimensions(), 1);
    EXPECT_EQ(list.Lower(), 1);
    EXPECT_EQ(list.Count(), 1);
  });
  EXPECT_EQ(lists, 24);
  EXPECT_EQ(d.ColName(1), "");
  EXPECT_EQ(d.ColType(1), '\0');
  EXPECT_EQ(d.KeyCols(1, 1), 0);
  EXPECT_EQ(d.ExtNum1(2), 42);
  EXPECT_EQ(d.ExtTexts(1), "kept");

  EXPECT_FALSE(TbDefClear(s, 14));
  EXPECT_FALSE(TbDefClear(s, -1));
}

TEST_F(TbDefModelTest, SetColumnsAfterClearAndAcrossAllColumnLists) {
  s.TbDefMax = 3;
  TbDefGrow(s);
  TbDefClear(s, 3);
  TbDef& d = s.TbDefs(3);
  d.ColName(1) = "Sprache";
  s.TbColTexts.TextsB = TextList::OneDim(0, 2);  // as stored by an earlier read
  s.TbColTexts.TextsB(1) = "b1";

  EXPECT_TRUE(TbDefSetColumns(t.p, s, 3, 6));
  EXPECT_EQ(d.ColCount, 6);
  ForEachColumnList(d, [](auto& list) {
    EXPECT_EQ(list.Lower(), 1);
    EXPECT_EQ(list.Upper(), 6);
  });
  EXPECT_EQ(d.ColName(1), "Sprache");
  EXPECT_EQ(d.ColFlags(1), "");
  for (TextList* l : {&s.TbColTexts.TextsA, &s.TbColTexts.TextsB, &s.TbColTexts.TextsC}) {
    EXPECT_EQ(l->Lower(), 1);
    EXPECT_EQ(l->Upper(), 6);
  }
  EXPECT_EQ(s.TbColTexts.TextsB(1), "b1");
  for (int k = 2; k <= 4; ++k) EXPECT_EQ(s.TbColAux(k).Texts.Upper(), 6);
  EXPECT_TRUE(s.TbSuppAList.Absent()) << "no SuppA, no slot list";
  EXPECT_TRUE(t.window.boxes.empty());
}

TEST_F(TbDefModelTest, SetColumnsCreatesTheSupplementarySlots) {
  s.TbDefMax = 13;
  TbDefGrow(s);
  TbDefClear(s, 13);
  s.TbDefs(13).SuppA = 3;
  s.TbDefs(13).SuppB = 2;
  EXPECT_TRUE(TbDefSetColumns(t.p, s, 13, 4));
  EXPECT_EQ(s.TbSuppAList.Lower(), 0);
  EXPECT_EQ(s.TbSuppAList.Upper(), 3);
  const TbSuppA& a = s.TbSuppAList(3);
  for (const NumList* l : {&a.SuppCols1, &a.SuppCols2, &a.SuppCols3, &a.SuppCols4,
                           &a.SuppCols5, &a.SuppCols6})
    EXPECT_EQ(l->Upper(), 4);
  EXPECT_TRUE(s.TbSuppAList(2).SuppCols1.Absent());
  EXPECT_EQ(s.TbSuppBList.Upper(), 2);
  EXPECT_EQ(s.TbSuppBList(2).SuppColNums.Upper(), 4);
  EXPECT_EQ(s.TbSuppBList(2).SuppColTexts.Upper(), 4);

  // A longer list is not shrunk to the slot.
  s.TbDefs(13).SuppA = 1;
  EXPECT_TRUE(TbDefSetColumns(t.p, s, 13, 4));
  EXPECT_EQ(s.TbSuppAList.Upper(), 3);
}

TEST_F(TbDefModelTest, SetColumnsBelowOneLeavesEmptyListsAndFails) {
  s.TbDefMax = 13;
  TbDefGrow(s);
  TbDefClear(s, 13);
  EXPECT_FALSE(TbDefSetColumns(t.p, s, 13, 0));
  const TbDef& d = s.TbDefs(13);
  EXPECT_EQ(d.ColCount, 0);
  EXPECT_EQ(d.ColFlags.Dimensions(), 1);
  EXPECT_EQ(d.ColFlags.Count(), 0);
  EXPECT_INDEX_ERROR(d.ColFlags(1));
  EXPECT_EQ(s.TbColTexts.TextsA.Count(), 0);
  EXPECT_FALSE(TbDefSetColumns(t.p, s, 13, -5));
  EXPECT_EQ(d.ColCount, -5);
  EXPECT_EQ(d.ColName.Count(), 0);
  EXPECT_TRUE(t.window.boxes.empty()) << "no resize failed";
}

TEST_F(TbDefModelTest, SetColumnsReportsAFailingStepOnceAndGoesOn) {
  s.TbDefMax = 13;
  TbDefGrow(s);
  TbDefClear(s, 13);
  TbDef& d = s.TbDefs(13);
  d.ColName.Fresh(1, 2, 1, 2);  // a shape that cannot be resized
  d.ColFlags.Fresh(1, 2, 1, 2);
  EXPECT_FALSE(TbDefSetColumns(t.p, s, 13, 5));
  ASSERT_EQ(t.window.boxes.size(), 1u);
  EXPECT_EQ(t.window.boxes[0].text, "Subscript out of range");
  EXPECT_EQ(t.window.boxes[0].style, kMbOk);
  EXPECT_EQ(d.ColCaption.Upper(), 5) << "the other steps still ran";
  EXPECT_EQ(d.ColAttr17.Upper(), 5);
  EXPECT_EQ(s.TbColAux(4).Texts.Upper(), 5);

  // A table number outside TbDefs: one message, nothing else.
  EXPECT_FALSE(TbDefSetColumns(t.p, s, 14, 5));
  EXPECT_EQ(t.window.boxes.size(), 2u);
}

}  // namespace
}  // namespace kw
