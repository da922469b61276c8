#include "hostdata/tbdef_model.h"

#include <exception>
#include <new>
#include <string>

namespace kw {
namespace {

// The failure's own text, worded as the platform words it.
std::string Describe(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "Out of memory";
  return e.what();
}

// Grows a slot list so that it reaches `slot`; a failure is passed over.
template <typename R>
void ReachSlot(BoundedList<R>& list, int16_t slot) {
  try {
    if (list.Absent() || list.Upper() < slot) list.Resize(0, slot + 1);
  } catch (const std::exception&) {
  }
}

}  // namespace

bool TbDefGrow(TbDefState& s) {
  if (s.TbDefMax < 1) s.TbDefMax = 1;
  if (s.TbDefs.Absent() || s.TbDefs.Upper() != s.TbDefMax) {
    try {
      s.TbDefs.Resize(0, s.TbDefMax + 1);
    } catch (const std::exception&) {
      return false;
    }
  }
  return true;
}

bool TbDefClear(TbDefState& s, int16_t TableNo) {
  TbDef* d = nullptr;
  try {
    d = &s.TbDefs(TableNo);
  } catch (const RunError&) {
    return false;
  }
  d->TbKind = 0;
  d->TbName.clear();
  d->TbCaption.clear();
  d->TbCode = ' ';
  d->TbAttr1 = d->SuppA = d->SuppB = d->TbAttr2 = 0;
  d->TbTextList.Fresh(1, 1);
  d->TbNumList.Fresh(1, 1);
  d->KeyCount = d->ColCount = d->TbAttr3 = d->TbAttr4 = 0;
  d->TbAttr5 = 1;
  // The per-key lists are cut to one key; KeyText starts afresh.
  d->KeyText.Fresh(1, 1);
  for (NumList* l : {&d->KeyFlag1, &d->KeyFlag2, &d->KeyColCount}) {
    if (l->Dimensions() == 2) l->Erase();
    l->Resize(1, 1);
  }
  if (d->KeyName.Dimensions() == 2) d->KeyName.Erase();
  d->KeyName.Resize(1, 1);
  d->KeyCols.Fresh(1, 1, 1, 1);
  ForEachColumnList(*d, [](auto& list) { list.Fresh(1, 1); });
  return true;
}

bool TbDefSetColumns(Platform& p, TbDefState& s, int16_t TableNo, int16_t Count) {
  bool ok = true;
  bool told = false;
  // Runs one step; a failure is shown once per call and the step is skipped.
  auto step = [&](auto&& action) {
    try {
      action();
    } catch (const std::exception& e) {
      ok = false;
      if (!told) p.window.ShowMessageBox(Describe(e), kMbOk);
      told = true;
    }
  };
  TbDef* d = nullptr;
  step([&] { d = &s.TbDefs(TableNo); });
  if (!d) return false;

  d->ColCount = Count;
  // A list 1..0 is empty: no column can be indexed.
  const int32_t n = Count < 1 ? 0 : Count;
  ForEachColumnList(*d, [&](auto& list) { step([&] { list.Resize(1, n); }); });
  for (TextList* l : {&s.TbColTexts.TextsA, &s.TbColTexts.TextsB, &s.TbColTexts.TextsC})
    step([&] { l->Resize(1, n); });
  for (int k = 2; k <= 4; ++k) step([&] { s.TbColAux(k).Texts.Resize(1, n); });

  if (d->SuppA >= 1) {
    ReachSlot(s.TbSuppAList, d->SuppA);
    step([&] {
      TbSuppA& a = s.TbSuppAList(d->SuppA);
      for (NumList* l : {&a.SuppCols1, &a.SuppCols2, &a.SuppCols3, &a.SuppCols4, &a.SuppCols5,
                         &a.SuppCols6})
        step([&] { l->Resize(1, n); });
    });
  }
  if (d->SuppB >= 1) {
    ReachSlot(s.TbSuppBList, d->SuppB);
    step([&] {
      TbSuppB& b = s.TbSuppBList(d->SuppB);
      step([&] { b.SuppColTexts.Resize(1, n); });
      step([&] { b.SuppColNums.Resize(1, n); });
    });
  }
  return ok && Count >= 1;
}

}  // namespace kw
