#include "tools/sample/def_writer.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "tools/sample/sample_files.h"

namespace kw::sample {
namespace {

class RecordWriter {
 public:
  explicit RecordWriter(std::string& out) : out_(out) {}
  void operator()(int16_t v) { PutInt16(out_, v); }
  void operator()(int32_t v) { PutInt32(out_, v); }
  void operator()(char v) { out_ += v; }
  void operator()(const std::string& v) { PutText(out_, v); }
  void operator()(const std::array<uint8_t, 10>& v) {
    for (uint8_t b : v) out_ += static_cast<char>(b);
  }
  template <typename T>
  void operator()(const BoundedList<T>& list, int /*dims*/ = 1) {
    PutInt16(out_, static_cast<int16_t>(list.Dimensions()));
    for (int k = 1; k <= list.Dimensions(); ++k) {
      PutInt32(out_, list.Count(k));
      PutInt32(out_, list.Lower(k));
    }
    for (const T& e : list.Elements()) (*this)(e);
  }

 private:
  std::string& out_;
};

template <typename R>
void PutRecord(std::string& out, const R& r) {
  RecordWriter w(out);
  ForEachField(r, w);
}

void SetInt32At(std::string& out, size_t offset, int32_t v) {
  std::string b;
  PutInt32(b, v);
  out.replace(offset, 4, b);
}

int32_t NextPos(const std::string& out) { return static_cast<int32_t>(out.size()) + 1; }

template <typename T>
BoundedList<T> ListOf(std::initializer_list<T> items) {
  auto l = BoundedList<T>::OneDim(1, static_cast<int32_t>(items.size()));
  std::copy(items.begin(), items.end(), l.Elements().begin());
  return l;
}

// A column list 1..n filled by f(column index from 0).
template <typename T, typename F>
BoundedList<T> PerColumn(size_t n, F f) {
  auto l = BoundedList<T>::OneDim(1, static_cast<int32_t>(n));
  for (size_t j = 0; j < n; ++j) l.Elements()[j] = f(j);
  return l;
}

int16_t ColumnNo(const std::vector<SampleColumn>& columns, const std::string& name) {
  for (size_t j = 0; j < columns.size(); ++j)
    if (columns[j].name == name) return static_cast<int16_t>(j + 1);
  return 1;
}

}  // namespace

void PutTbDef(std::string& out, const TbDef& d) { PutRecord(out, d); }
void PutTbColTexts(std::string& out, const TbColTexts& t) { PutRecord(out, t); }
void PutTbSuppA(std::string& out, const TbSuppA& a) { PutRecord(out, a); }
void PutTbSuppB(std::string& out, const TbSuppB& b) { PutRecord(out, b); }

std::string DefFileBytes(const DefFileContent& f, std::vector<DefTablePlace>* places) {
  int32_t entries = f.DirectoryEntries;
  for (const DefTable& t : f.tables) {
    if (t.TableNo < 1) throw std::invalid_argument("table numbers start at 1");
    entries = std::max<int32_t>(entries, t.TableNo);
  }
  std::string out(static_cast<size_t>(100 + 40 * entries), '\0');
  SetInt32At(out, 4, f.TableMax);

  std::vector<DefTablePlace> placed;
  for (const DefTable& t : f.tables) {
    DefTablePlace p{t.TableNo, NextPos(out), 0, 0, 0};
    PutTbDef(out, t.def);
    PutTbColTexts(out, t.colTexts);
    if (t.def.SuppA >= 1) PutTbSuppA(out, t.suppA);
    p.blockEnd = NextPos(out);
    SetInt32At(out, static_cast<size_t>(60 + 40 * t.TableNo), p.defPos);
    placed.push_back(p);
  }
  for (size_t i = 0; i < f.tables.size(); ++i) {
    const DefTable& t = f.tables[i];
    if (t.def.SuppB < 1) continue;
    placed[i].suppBPos = NextPos(out);
    PutTbSuppB(out, t.suppB);
    placed[i].suppBEnd = NextPos(out);
    SetInt32At(out, static_cast<size_t>(72 + 40 * t.TableNo), placed[i].suppBPos);
  }
  if (places) *places = placed;
  return out;
}

std::vector<SampleColumn> AddressColumns() {
  return {
      {"ADRNR", "Adress-Nr.", "K", 'n', 4},        {"ANREDE", "Anrede", "", 'a', 20},
      {"NAME", "Name", "S", 'a', 40},              {"VORNAME", "Vorname", "", 'a', 30},
      {"FIRMA", "Firma", "", 'a', 50},             {"STRASSE", "Strasse", "", 'a', 40},
      {"LAND", "Land", "L", 'a', 3},               {"PLZ", "PLZ", "P", 'a', 10},
      {"ORT", "Ort", "O", 'a', 40},                {"TELVOR", "Telefon Vorwahl", "TV", 'a', 6},
      {"TELNR", "Telefon", "T", 'a', 20},          {"FAXVOR", "Fax Vorwahl", "FV", 'a', 6},
      {"FAXNR", "Fax", "F", 'a', 20},              {"EMAIL", "E-Mail", "", 'a', 60},
      {"BEMERKUNG", "Bemerkung", "", 'M', 32767},
  };
}

DefTable SampleTable(int16_t TableNo, const std::string& name, const std::string& caption,
                     const std::vector<SampleColumn>& columns) {
  const size_t n = columns.size();
  DefTable t;
  t.TableNo = TableNo;
  TbDef& d = t.def;
  d.TbKind = 1;
  d.TbName = name;
  d.TbCaption = caption;
  d.TbCode = 'T';
  d.TbTextList = ListOf<std::string>({caption});
  d.TbNumList = ListOf<int16_t>({0});
  d.KeyCount = 1;
  d.ColCount = static_cast<int16_t>(n);
  d.TbAttr4 = 1;
  d.TbAttr5 = 1;
  d.KeyText = ListOf<std::string>({columns.empty() ? "" : columns[0].caption});
  d.KeyName = ListOf<std::string>({name + "01"});
  d.KeyFlag1 = ListOf<int16_t>({-1});
  d.KeyFlag2 = ListOf<int16_t>({-1});
  d.KeyColCount = ListOf<int16_t>({1});
  d.KeyCols.Fresh(1, 1, 1, 1);
  d.KeyCols(1, 1) = 1;

  d.ColName = PerColumn<std::string>(n, [&](size_t j) { return columns[j].name; });
  d.ColCaption = PerColumn<std::string>(n, [&](size_t j) { return columns[j].caption; });
  d.ColType = PerColumn<char>(n, [&](size_t j) { return columns[j].type; });
  d.ColLength = PerColumn<int16_t>(n, [&](size_t j) { return columns[j].length; });
  // Display order, display width, required.
  d.ColAttr1 = PerColumn<int16_t>(n, [](size_t j) { return static_cast<int16_t>(j + 1); });
  d.ColAttr2 = PerColumn<int16_t>(n, [&](size_t j) {
    return static_cast<int16_t>(std::min<int>(columns[j].length, 60));
  });
  d.ColAttr3 = PerColumn<int16_t>(n, [](size_t j) { return static_cast<int16_t>(j == 0); });
  d.ColText1 = PerColumn<std::string>(n, [&](size_t j) { return columns[j].caption; });
  d.ColText2 = PerColumn<std::string>(n, [](size_t) { return std::string(); });
  for (NumList* l : {&d.ColAttr4, &d.ColAttr5, &d.ColAttr6, &d.ColAttr7, &d.ColAttr8,
                     &d.ColAttr9, &d.ColAttr10, &d.ColAttr11, &d.ColAttr12, &d.ColAttr13,
                     &d.ColAttr14, &d.ColAttr15, &d.ColAttr16, &d.ColAttr17})
    *l = PerColumn<int16_t>(n, [](size_t) { return int16_t{0}; });
  d.ColAttr6 = PerColumn<int16_t>(n, [](size_t) { return int16_t{-1}; });  // visible
  d.ColFlags = PerColumn<std::string>(n, [&](size_t j) { return columns[j].flags; });
  d.ExtNum1 = ListOf<int16_t>({0, 0});
  d.ExtLong = ListOf<int32_t>({20040601});
  d.ExtTexts = ListOf<std::string>({""});

  t.colTexts.TextsA = PerColumn<std::string>(n, [&](size_t j) { return columns[j].caption; });
  t.colTexts.TextsB = PerColumn<std::string>(n, [](size_t) { return std::string(); });
  t.colTexts.TextsC = PerColumn<std::string>(n, [](size_t) { return std::string(); });
  return t;
}

DefTable AddressTable(const std::vector<SampleColumn>& columns) {
  DefTable t = SampleTable(kTableAdrStm, "ADRSTM", "Adressen", columns);
  const size_t n = columns.size();
  TbDef& d = t.def;
  d.TbCode = 'A';
  d.SuppA = 1;
  d.SuppB = 1;
  d.TbTextList = ListOf<std::string>({"Adressstamm", "Adressen der Kunden und Lieferanten"});
  d.KeyCount = 2;
  d.KeyText = ListOf<std::string>({"Adress-Nr.", "Name, Vorname"});
  d.KeyName = ListOf<std::string>({"ADRSTM01", "ADRSTM02"});
  d.KeyFlag1 = ListOf<int16_t>({-1, 0});
  d.KeyFlag2 = ListOf<int16_t>({-1, 0});
  d.KeyColCount = ListOf<int16_t>({1, 2});
  d.KeyCols.Fresh(1, 2, 1, 2);
  d.KeyCols(1, 1) = ColumnNo(columns, "ADRNR");
  d.KeyCols(2, 1) = ColumnNo(columns, "NAME");
  d.KeyCols(2, 2) = ColumnNo(columns, "VORNAME");
  for (size_t j = 0; j < n; ++j)
    if (columns[j].name == "STRASSE") d.ColText1.Elements()[j] = "Straße und Hausnummer";

  t.suppA.TableNo = kTableAdrStm;
  t.suppA.SuppText = "Adressen";
  t.suppA.SuppNums = {1, 0, 0, 0, 15, 0, 0, 0, 0, 0};
  for (NumList* l : {&t.suppA.SuppCols1, &t.suppA.SuppCols2, &t.suppA.SuppCols3,
                     &t.suppA.SuppCols4, &t.suppA.SuppCols5, &t.suppA.SuppCols6})
    *l = PerColumn<int16_t>(n, [](size_t j) { return static_cast<int16_t>(j % 2); });

  t.suppB.TableNo = kTableAdrStm;
  t.suppB.SuppAttr1 = 1;
  t.suppB.SuppTexts1 = "ADRSTM";
  t.suppB.SuppTexts2 = "Adressen";
  t.suppB.SuppTexts3 = "NAME, VORNAME";
  t.suppB.SuppColNums = PerColumn<int16_t>(n, [](size_t j) { return static_cast<int16_t>(j + 1); });
  t.suppB.SuppColTexts = PerColumn<std::string>(n, [&](size_t j) { return columns[j].name; });
  return t;
}

std::string SampleAddressDefinitionFile(const std::vector<SampleColumn>& columns,
                                        std::vector<DefTablePlace>* places) {
  DefFileContent f;
  f.TableMax = 40;
  f.DirectoryEntries = 40;
  f.tables.push_back(SampleTable(11, "LANDSTM", "Länder",
                                 {{"LAND", "Land", "K", 'a', 3},
                                  {"BEZEICHNUNG", "Bezeichnung", "S", 'a', 40},
                                  {"VORWAHL", "Landesvorwahl", "", 'a', 6}}));
  f.tables.push_back(AddressTable(columns));
  DefTable contacts = SampleTable(14, "ADRKONT", "Kontakte",
                                  {{"ADRNR", "Adress-Nr.", "K", 'n', 4},
                                   {"DATUM", "Datum", "", 'd', 8},
                                   {"ART", "Art", "", 'a', 10},
                                   {"NOTIZ", "Notiz", "", 'M', 32767}});
  contacts.def.SuppA = 1;
  contacts.suppA.TableNo = 14;
  contacts.suppA.SuppText = "Kontakte";
  for (NumList* l : {&contacts.suppA.SuppCols1, &contacts.suppA.SuppCols2})
    *l = PerColumn<int16_t>(4, [](size_t) { return int16_t{0}; });
  f.tables.push_back(contacts);
  return DefFileBytes(f, places);
}

}  // namespace kw::sample
