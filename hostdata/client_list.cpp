#include "hostdata/client_list.h"

#include <limits>

namespace kw {
namespace {

constexpr int64_t kClientPositionAt = 101;  // header entry 1, first half

// Reads the client block of an open file into list; see PublicProRead.
bool ReadClients(FileCursor& file, ClientList& list) {
  file.Seek(kClientPositionAt);
  const int32_t position = file.ReadInt32();  // a short file yields 0
  if (file.failed() || position <= 0) return false;

  file.Seek(position);
  const int32_t count = file.ReadInt32();
  if (file.failed()) return false;  // no count in the file: nothing was read
  // MandantCount is 16-bit: a count it cannot hold leaves the list alone.
  if (count > std::numeric_limits<int16_t>::max() ||
      count < std::numeric_limits<int16_t>::min()) {
    return false;
  }
  list.MandantCount = static_cast<int16_t>(count);
  if (count <= 0) return false;

  // At most 32767 entries, so the list is small whatever the file holds; the
  // records are read only as far as the file goes.
  list.Mandanten.assign(static_cast<size_t>(count) + 1, MandantRecord{});
  for (int32_t i = 1; i <= count && file.Remaining() > 0; ++i) {
    std::string name = file.ReadText();
    std::string directory = file.ReadText();
    if (file.failed()) break;  // cut off: this record and the rest stay empty
    list.Mandanten[static_cast<size_t>(i)] = {std::move(name), std::move(directory)};
  }
  return true;
}

}  // namespace

bool PublicProRead(Platform& p, const KwandorModul& m, FileTable& files, ClientList& list,
                   int16_t Kind) {
  // Checked before the open: an open may create the file or wait ten seconds,
  // neither of which serves a list this program cannot read.
  if (Kind != kClientListKind) return false;
  const int16_t number = FileOpenRetry(p, files, m.PublicDir + "public.pro", false);
  if (number < 0) return false;
  bool result;
  {
    FileCursor file(*FileOf(files, number));
    result = ReadClients(file, list);
  }
  FileClose(files, number);
  return result;
}

}  // namespace kw
