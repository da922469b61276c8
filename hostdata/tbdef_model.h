#pragma once
// The host product's table definitions, held for the run: one `TbDef` per
// table number in `TbDefs`, the column texts of the latest definition read,
// and the supplementary records. The reader (tbdef_read.h) fills them; the
// client pass walks the columns of table 13.
//
// Texts are UTF-8. A one-character code is held as its byte in code page 1252
// (0 when empty), exactly as the definition file stores it.
#include <array>
#include <concepts>
#include <cstdint>
#include <string>
#include <type_traits>

#include "hostdata/bounded_list.h"
#include "platform/platform.h"

namespace kw {

using TextList = BoundedList<std::string>;
using NumList = BoundedList<int16_t>;
using CodeList = BoundedList<char>;

// Known table numbers.
constexpr int16_t kTableAdrText = 3;  // built in, never read from a file
constexpr int16_t kTablePublic = 8;   // kept in the general data directory
constexpr int16_t kTableAdrStm = 13;  // the address master table ADRSTM

// One table definition. The field order is the order of the file record.
struct TbDef {
  int16_t TbKind = 0;
  std::string TbName;
  std::string TbCaption;
  char TbCode = 0;
  int16_t TbAttr1 = 0;
  int16_t SuppA = 0;  // in the file: a TbSuppA record follows; in memory: its slot
  int16_t SuppB = 0;  // in the file: a TbSuppB record exists; in memory: its slot
  int16_t TbAttr2 = 0;
  TextList TbTextList;
  NumList TbNumList;
  int16_t KeyCount = 0;
  int16_t ColCount = 0;
  int16_t TbAttr3 = 0;
  int16_t TbAttr4 = 0;
  int16_t TbAttr5 = 0;
  TextList KeyText;
  TextList KeyName;
  NumList KeyFlag1;
  NumList KeyFlag2;
  NumList KeyColCount;
  NumList KeyCols;  // two dimensions: (key, position)
  // The 24 column-parallel lists, ColName to ColAttr17.
  TextList ColName;
  TextList ColCaption;
  CodeList ColType;
  NumList ColLength;
  NumList ColAttr1;
  NumList ColAttr2;
  NumList ColAttr3;
  TextList ColText1;
  TextList ColText2;
  NumList ColAttr4;
  NumList ColAttr5;
  NumList ColAttr6;
  NumList ColAttr7;
  TextList ColFlags;  // second character "V": a telephone area-code column
  NumList ColAttr8;
  NumList ColAttr9;
  NumList ColAttr10;
  NumList ColAttr11;
  NumList ColAttr12;
  NumList ColAttr13;
  NumList ColAttr14;
  NumList ColAttr15;
  NumList ColAttr16;
  NumList ColAttr17;
  // Carried along; neither cleared nor resized with the columns.
  NumList ExtNum1;
  NumList ExtNum2;
  BoundedList<int32_t> ExtLong;
  NumList ExtNum3;
  NumList ExtNum4;
  NumList ExtNum5;
  NumList ExtNum6;
  NumList ExtNum7;
  TextList ExtTexts;

  bool operator==(const TbDef&) const = default;
};

// Column texts that come with every definition read from a file.
struct TbColTexts {
  TextList TextsA;
  TextList TextsB;
  TextList TextsC;
  bool operator==(const TbColTexts&) const = default;
};

struct TbColAuxEntry {
  TextList Texts;
};

// A fixed table of three entries, numbered 2, 3 and 4.
struct TbColAux {
  TbColAuxEntry& operator()(int n) {
    if (n < 2 || n > 4) throw RunError(kSubscriptOutOfRange);
    return entries[static_cast<size_t>(n - 2)];
  }
  std::array<TbColAuxEntry, 3> entries;
};

struct TbSuppA {
  int16_t TableNo = 0;
  std::string SuppText;
  std::array<uint8_t, 10> SuppNums{};  // kept as stored, never interpreted
  NumList SuppCols1;
  NumList SuppCols2;
  NumList SuppCols3;
  NumList SuppCols4;
  NumList SuppCols5;
  NumList SuppCols6;
  bool operator==(const TbSuppA&) const = default;
};

struct TbSuppB {
  int16_t TableNo = 0;
  int16_t SuppAttr1 = 0;
  std::string SuppTexts1;
  std::string SuppTexts2;
  std::string SuppTexts3;
  std::string SuppTexts4;
  std::string SuppTexts5;
  std::string SuppTexts6;
  std::string SuppTexts7;
  int16_t SuppAttr2 = 0;
  NumList SuppColNums;
  TextList SuppColTexts;
  bool operator==(const TbSuppB&) const = default;
};

// The definitions of one run; starts empty.
struct TbDefState {
  BoundedList<TbDef> TbDefs;  // by table number, 0..TbDefMax; entry 0 unused
  int16_t TbDefMax = 0;
  kw::TbColTexts TbColTexts;
  kw::TbColAux TbColAux;
  BoundedList<TbSuppA> TbSuppAList;  // slots from 1 upward, one per table number
  BoundedList<TbSuppB> TbSuppBList;
};

// Makes TbDefs span 0..TbDefMax (TbDefMax at least 1), keeping the entries
// that remain. False, with TbDefs as it was, when the memory cannot be had.
bool TbDefGrow(TbDefState& s);

// Resets entry TableNo to the empty definition: no columns, every list 1..1
// with one empty element, TbAttr5 1; ExtNum1 to ExtTexts stay. False, with
// nothing changed, when TbDefs has no entry TableNo.
bool TbDefClear(TbDefState& s, int16_t TableNo);

// Sets ColCount of entry TableNo to Count and makes every column-parallel list
// of that definition span 1..Count, keeping contents: its own 24 lists,
// TbColTexts, the three TbColAux entries and the column lists of its
// TbSuppA/TbSuppB slots (the lists of slots SuppA and SuppB are grown to
// reach them). A Count below 1 leaves all those lists empty (1..0) and gives
// false. A step that fails is shown once in a message box with the failure's
// text and skipped; the result is then false.
bool TbDefSetColumns(Platform& p, TbDefState& s, int16_t TableNo, int16_t Count);

template <typename R, typename Want>
concept RecordOf = std::same_as<std::remove_const_t<R>, Want>;

// Calls f on each of the 24 column-parallel lists of a definition, in order.
template <RecordOf<TbDef> Def, typename F>
void ForEachColumnList(Def& d, F&& f) {
  f(d.ColName), f(d.ColCaption), f(d.ColType), f(d.ColLength), f(d.ColAttr1), f(d.ColAttr2);
  f(d.ColAttr3), f(d.ColText1), f(d.ColText2), f(d.ColAttr4), f(d.ColAttr5), f(d.ColAttr6);
  f(d.ColAttr7), f(d.ColFlags), f(d.ColAttr8), f(d.ColAttr9), f(d.ColAttr10), f(d.ColAttr11);
  f(d.ColAttr12), f(d.ColAttr13), f(d.ColAttr14), f(d.ColAttr15), f(d.ColAttr16), f(d.ColAttr17);
}

// Calls f on each field of a record in file order; f(list, 2) for the one
// two-dimensional list. Works on const and non-const records.
template <RecordOf<TbDef> Def, typename F>
void ForEachField(Def& d, F&& f) {
  f(d.TbKind), f(d.TbName), f(d.TbCaption), f(d.TbCode), f(d.TbAttr1), f(d.SuppA), f(d.SuppB);
  f(d.TbAttr2), f(d.TbTextList), f(d.TbNumList), f(d.KeyCount), f(d.ColCount), f(d.TbAttr3);
  f(d.TbAttr4), f(d.TbAttr5), f(d.KeyText), f(d.KeyName), f(d.KeyFlag1), f(d.KeyFlag2);
  f(d.KeyColCount), f(d.KeyCols, 2);
  ForEachColumnList(d, f);
  f(d.ExtNum1), f(d.ExtNum2), f(d.ExtLong), f(d.ExtNum3), f(d.ExtNum4), f(d.ExtNum5);
  f(d.ExtNum6), f(d.ExtNum7), f(d.ExtTexts);
}

template <RecordOf<TbColTexts> R, typename F>
void ForEachField(R& r, F&& f) {
  f(r.TextsA), f(r.TextsB), f(r.TextsC);
}

template <RecordOf<TbSuppA> R, typename F>
void ForEachField(R& r, F&& f) {
  f(r.TableNo), f(r.SuppText), f(r.SuppNums), f(r.SuppCols1), f(r.SuppCols2), f(r.SuppCols3);
  f(r.SuppCols4), f(r.SuppCols5), f(r.SuppCols6);
}

template <RecordOf<TbSuppB> R, typename F>
void ForEachField(R& r, F&& f) {
  f(r.TableNo), f(r.SuppAttr1), f(r.SuppTexts1), f(r.SuppTexts2), f(r.SuppTexts3);
  f(r.SuppTexts4), f(r.SuppTexts5), f(r.SuppTexts6), f(r.SuppTexts7), f(r.SuppAttr2);
  f(r.SuppColNums), f(r.SuppColTexts);
}

}  // namespace kw
