#include "hostdata/tbdef_read.h"

#include <array>
#include <exception>
#include <limits>
#include <string>
#include <type_traits>

#include "platform/window.h"

namespace kw {
namespace {

constexpr int64_t kTableMaxPos = 5;  // 32-bit table maximum in the header
constexpr int kDefPosEntry = 61;     // DefPos of table t at 61 + 40 t
constexpr int kSuppBPosEntry = 73;   // SuppBPos of table t at 73 + 40 t
constexpr int kEntrySize = 40;

// Position of a directory field, or 0 where the product's 16-bit position
// arithmetic cannot reach it (tables above 817, negative table numbers).
int32_t DirectoryPos(int16_t TableNo, int first) {
  const int32_t pos = first + kEntrySize * int32_t{TableNo};
  return pos < 1 || pos > std::numeric_limits<int16_t>::max() ? 0 : pos;
}

// Fewest bytes one list element of a type takes in the file.
template <typename T>
constexpr int64_t kMinBytes = std::is_same_v<T, char> ? 1 : std::is_same_v<T, int32_t> ? 4 : 2;

// Decodes the fields of a record from the cursor's position on. A list with
// a shape or an element count that the rest of the file cannot hold is a
// failure before anything is allocated for it.
class RecordReader {
 public:
  explicit RecordReader(FileCursor& c) : c_(c) {}
  bool ok() const { return ok_ && !c_.failed(); }

  void operator()(int16_t& v) { v = c_.ReadInt16(); }
  void operator()(int32_t& v) { v = c_.ReadInt32(); }
  void operator()(char& v) { v = static_cast<char>(c_.ReadByte()); }
  void operator()(std::string& v) { v = c_.ReadText(); }
  void operator()(std::array<uint8_t, 10>& v) {
    for (uint8_t& b : v) b = c_.ReadByte();
  }

  template <typename T>
  void operator()(BoundedList<T>& list, int dims = 1) {
    list.Erase();
    if (!ok()) return;
    const int16_t stored = c_.ReadInt16();
    if (!ok() || stored == 0) return;
    if (stored != dims) return Fail();
    int32_t count[2] = {0, 0};
    int32_t lower[2] = {0, 0};
    int64_t total = 1;
    for (int k = 0; k < dims; ++k) {
      count[k] = c_.ReadInt32();
      lower[k] = c_.ReadInt32();
      if (!ok() || count[k] < 0) return Fail();
      if (int64_t{lower[k]} + count[k] - 1 > std::numeric_limits<int32_t>::max()) return Fail();
      total *= count[k];  // at most Remaining() * 2^31 here: no overflow
      if (total > c_.Remaining() / kMinBytes<T>) return Fail();
    }
    if (dims == 1)
      list.Fresh(lower[0], count[0]);
    else
      list.Fresh(lower[0], count[0], lower[1], count[1]);
    for (T& e : list.Elements()) {
      (*this)(e);
      if (!ok()) return;
    }
  }

 private:
  void Fail() { ok_ = false; }
  FileCursor& c_;
  bool ok_ = true;
};

// Reads a whole record at the cursor; on failure the record is left empty.
template <typename R>
bool ReadRecord(FileCursor& c, R& r) {
  R fresh;
  RecordReader in(c);
  ForEachField(fresh, in);
  r = in.ok() ? std::move(fresh) : R{};
  return in.ok();
}

// The slot of TbSuppAList / TbSuppBList for table TableNo: the first slot
// already holding that table, or the next new one. 0 on failure.
template <typename R>
int16_t SuppSlot(BoundedList<R>& list, int16_t TableNo) {
  try {
    int64_t n = 1;
    if (list.Absent())
      list.Fresh(0, 2);
    else
      n = list.Upper() + 1;
    for (int64_t i = 1; i < n; ++i) {
      if (list(i).TableNo == TableNo) {
        n = i;
        break;
      }
    }
    if (n < 1 || n > std::numeric_limits<int16_t>::max()) return 0;
    if (n > list.Upper()) list.Resize(0, static_cast<int32_t>(n) + 1);
    return static_cast<int16_t>(n);
  } catch (const std::exception&) {
    return 0;
  }
}

// Stores the supplementary record at the cursor in its slot and returns the
// slot, or 0 on failure.
template <typename R>
int16_t ReadSupp(FileCursor& c, BoundedList<R>& list, int16_t TableNo) {
  const int16_t n = SuppSlot(list, TableNo);
  if (n == 0) return 0;
  return ReadRecord(c, list(n)) ? n : 0;
}

struct BuiltInColumn {
  const char* name;
  char type;
  int16_t length;
};

// Table 3, "AdrText": the product builds it in instead of storing it.
void BuildAdrText(Platform& p, TbDefState& s) {
  if (s.TbDefMax < kTableAdrText) {
    s.TbDefMax = kTableAdrText;
    TbDefGrow(s);
  }
  if (!TbDefClear(s, kTableAdrText)) return;
  TbDef& d = s.TbDefs(kTableAdrText);
  d.TbKind = 2;
  d.TbName = d.TbCaption = "AdrText";
  d.TbCode = 'I';
  d.TbAttr1 = 0;
  d.KeyCount = 1;
  d.ColCount = 6;
  d.TbAttr5 = 1;
  d.KeyName(1) = "ADRTEX01";
  d.KeyFlag1(1) = -1;
  d.KeyFlag2(1) = -1;
  d.KeyColCount(1) = 4;
  d.KeyCols.Fresh(1, 1, 1, 4);
  for (int16_t j = 1; j <= 4; ++j) d.KeyCols(1, j) = j;
  TbDefSetColumns(p, s, kTableAdrText, d.ColCount);
  static constexpr BuiltInColumn kColumns[] = {{"Sprache", 'A', 1}, {"Maske", 'a', 20},
                                                {"Art", 'a', 4},     {"Name", 'a', 12},
                                                {"Text", 'M', 32767}, {"Nummer", 'n', 4}};
  int j = 1;
  for (const BuiltInColumn& col : kColumns) {
    d.ColName(j) = d.ColCaption(j) = col.name;
    d.ColType(j) = col.type;
    d.ColLength(j) = col.length;
    ++j;
  }
}

// Everything after the file is open. False on any failure.
bool ReadDefinition(Platform& p, FileCursor& c, TbDefState& s, int16_t TableNo,
                    bool WithColumns) {
  const int32_t entry = DirectoryPos(TableNo, kDefPosEntry);
  if (entry == 0) return true;  // no directory entry can exist for it
  c.Seek(entry);
  const int32_t defPos = c.ReadInt32();
  if (c.failed()) return false;  // the file ends inside its directory
  if (defPos < 1) return true;   // the file holds no definition for the table

  int32_t wanted = 0;
  if (TableNo > s.TbDefMax) {
    c.Seek(kTableMaxPos);
    const int32_t tableMax = c.ReadInt32();
    wanted = TableNo > tableMax ? TableNo : tableMax;
  }
  // A maximum beyond the 16-bit TbDefMax cannot be taken over; TbDefs then
  // does not reach the table and the entry below cannot be had.
  if (wanted > s.TbDefMax && wanted <= std::numeric_limits<int16_t>::max()) {
    s.TbDefMax = static_cast<int16_t>(wanted);
    TbDefGrow(s);
  }
  c.ClearFailure();

  TbDef* d = nullptr;
  try {
    d = &s.TbDefs(TableNo);
  } catch (const RunError&) {
    return false;
  }
  c.Seek(defPos);
  if (!ReadRecord(c, *d)) {
    s.TbColTexts = {};
    return false;
  }
  if (!ReadRecord(c, s.TbColTexts)) return false;

  // SuppA and SuppB still hold the file's values here.
  if (WithColumns && !TbDefSetColumns(p, s, TableNo, d->ColCount) && d->ColCount >= 1)
    return false;
  if (d->SuppA >= 1) {
    const int16_t slot = ReadSupp(c, s.TbSuppAList, TableNo);
    if (slot == 0) return false;
    d->SuppA = slot;
  }
  if (d->SuppB >= 1) {
    c.Seek(DirectoryPos(TableNo, kSuppBPosEntry));
    const int32_t suppBPos = c.ReadInt32();
    if (c.failed() || suppBPos < 1) return false;
    c.Seek(suppBPos);
    const int16_t slot = ReadSupp(c, s.TbSuppBList, TableNo);
    if (slot == 0) return false;
    d->SuppB = slot;
  }
  if (d->TbAttr5 < 1) d->TbAttr5 = 1;
  return true;
}

// Closes the file on every way out.
class FileCloser {
 public:
  FileCloser(FileTable& files, int16_t number) : files_(files), number_(number) {}
  ~FileCloser() { FileClose(files_, number_); }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  FileTable& files_;
  int16_t number_;
};

}  // namespace

std::string TbDefFileName(const KwandorModul& m, int16_t TableNo) {
  const size_t slot = TableNo == kTablePublic ? 1 : 3;
  const std::string& dir = TableNo == kTablePublic ? m.PublicDir : m.MandantDir;
  const std::string base = slot < m.AdoSettings.size() ? m.AdoSettings[slot].DBName : "";
  return dir + base + ".def";
}

bool TbDefRead(Platform& p, const KwandorModul& m, FileTable& files, TbDefState& s,
               int16_t TableNo, bool WithColumns, bool /*Third*/) {
  if (TableNo == 0) return false;
  if (TableNo == kTableAdrText) {
    try {
      BuildAdrText(p, s);
    } catch (const std::exception&) {
      // A step that fails is passed over; the built-in table counts as built.
    }
    return true;
  }
  const std::string name = TbDefFileName(m, TableNo);
  const int16_t number = FileOpenRetry(p, files, name, true);
  if (number == -1) {
    p.window.ShowMessageBox("(TbDefRead) Can't open file !\r\n'" + name + "'", kMbOk);
    return false;
  }
  FileCloser closer(files, number);
  OpenFile* file = FileOf(files, number);
  if (!file) return false;
  try {
    FileCursor cursor(*file);
    return ReadDefinition(p, cursor, s, TableNo, WithColumns);
  } catch (const std::exception&) {
    return false;  // out of memory for what the file asks for
  }
}

}  // namespace kw
