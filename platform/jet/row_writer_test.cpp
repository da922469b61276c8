// The check that a rebuilt data page kept every row but the changed ones.
#include "platform/jet/row_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/jet/data_page.h"
#include "platform/run_error.h"

namespace kw::jet {
namespace {

// A data page of 12 rows of different lengths and bytes.
PageBytes TwelveRows() {
  PageBytes page;
  InitDataPage(page, 2);
  for (uint8_t i = 0; i < 12; ++i) {
    const std::vector<uint8_t> row(20 + 3 * i, static_cast<uint8_t>('a' + i));
    EXPECT_TRUE(AppendRow(page, row, 0));
  }
  return page;
}

// The error of the check, "" when it passes.
std::string Check(const PageBytes& before, const PageBytes& after, std::vector<uint16_t> changed) {
  try {
    CheckOthersKept(before, after, 7, "D:\\Daten\\t.mdb", changed);
  } catch (const RunError& e) {
    return e.Description();
  }
  return "";
}

void Replace(PageBytes& page, uint16_t slot, size_t length, uint8_t fill) {
  const std::vector<uint8_t> row(length, fill);
  ASSERT_TRUE(ReplaceRow(page, slot, row, 0));
}

uint16_t Start(const PageBytes& page, uint16_t slot) { return SlotWord(page, slot) & kSlotOffsetMask; }

TEST(JetRowWriterCheck, PassesOnlyPagesWhoseOtherRowsKeptFlagsAndBytes) {
  struct Case {
    const char* name;
    std::function<void(PageBytes&)> change;  // made after row 5 is rebuilt longer
    std::vector<uint16_t> changed;
    const char* says;  // "" when the page passes
  } cases[] = {
      {"the rebuilt row alone", [](PageBytes&) {}, {5}, ""},
      {"rebuilt rows named out of order", [](PageBytes& p) { Replace(p, 2, 10, 'z'); }, {5, 2}, ""},
      {"a row named that did not change", [](PageBytes&) {}, {5, 9}, ""},
      {"a slot beyond the rows named", [](PageBytes&) {}, {5, 40}, ""},
      {"a byte of a row before it", [](PageBytes& p) { ++p[Start(p, 1) + 4]; }, {5}, "row 1 of page 7"},
      {"a byte of a row after it", [](PageBytes& p) { ++p[Start(p, 9)]; }, {5}, "row 9 of page 7"},
      {"the last byte of the last row", [](PageBytes& p) { ++p[Start(p, 10) - 1]; }, {5}, "row 11 of page 7"},
      {"the first row's last byte", [](PageBytes& p) { ++p[kPageSize - 1]; }, {5}, "row 0 of page 7"},
      {"the flags of a row after it", [](PageBytes& p) { Put16(&p[kDataHeader + 2 * 8], SlotWord(p, 8) | kPointerFlag); },
       {5}, "row 8 of page 7"},
      {"two rows' lengths traded",
       [](PageBytes& p) { Put16(&p[kDataHeader + 2 * 7], static_cast<uint16_t>(SlotWord(p, 7) + 1)); }, {5},
       "row 7 of page 7"},
      {"another row rebuilt as well", [](PageBytes& p) { Replace(p, 2, 10, 'z'); }, {5}, "row 2 of page 7"},
      {"rows taken off the page", [](PageBytes& p) { Put16(&p[data_page::kRowCount], 11); }, {5}, "page 7 of"},
      {"free space that no longer agrees", [](PageBytes& p) { ++p[data_page::kFreeSpace]; }, {5}, "page 7 of"},
  };
  const PageBytes before = TwelveRows();
  for (const Case& c : cases) {
    PageBytes after = before;
    Replace(after, 5, 60, 'Q');
    c.change(after);
    const std::string error = Check(before, after, c.changed);
    if (*c.says == '\0') {
      EXPECT_EQ(error, "") << c.name;
    } else {
      EXPECT_NE(error.find(std::string("Internal check failed for ") + c.says), std::string::npos)
          << c.name << ": " << error;
    }
  }
}

}  // namespace
}  // namespace kw::jet
