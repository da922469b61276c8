#include "hostdata/shared_file.h"

#include <algorithm>
#include <cstring>

#include "platform/cp1252.h"

namespace kw {
namespace {

constexpr int kPauseMs = 5;

int16_t OpenOnce(Platform& p, FileTable& files, std::string_view name) {
  for (int16_t n = 1; n <= kMaxFileNumber; ++n) {
    if (files.open[n]) continue;
    files.open[n] = p.files.OpenExclusive(name);
    return files.open[n] ? n : -1;
  }
  return -1;  // every number in use
}

}  // namespace

bool FileExists(Platform& p, std::string_view FileName) { return p.files.IsNormalFile(FileName); }

int16_t FileOpenRetry(Platform& p, FileTable& files, std::string_view FileName, bool MustExist) {
  if (MustExist && !FileExists(p, FileName)) return -1;
  int16_t n = OpenOnce(p, files, FileName);
  if (n > 0) return n;
  const double start = p.clock.Seconds();
  while (p.clock.Seconds() - start < kRetrySeconds) {
    p.clock.Pause(kPauseMs);
    // The window stays painted and answers while the file is tried again.
    // A request to end is left for the run to see at its next step.
    p.window.ProcessEvents();
    n = OpenOnce(p, files, FileName);
    if (n > 0) return n;
  }
  return -1;
}

OpenFile* FileOf(FileTable& files, int16_t number) {
  if (number < 1 || number > kMaxFileNumber) return nullptr;
  return files.open[number].get();
}

void FileClose(FileTable& files, int16_t number) {
  if (number >= 1 && number <= kMaxFileNumber) files.open[number].reset();
}

FileCursor::FileCursor(OpenFile& file) : file_(file), size_(file.Size()) {
  if (size_ < 0) {
    size_ = 0;
    failed_ = true;
  }
}

void FileCursor::Seek(int64_t position) { pos_ = position; }

int64_t FileCursor::Remaining() const {
  if (pos_ < 1 || pos_ > size_) return 0;
  return size_ - (pos_ - 1);
}

bool FileCursor::Fill(int64_t pos, size_t n) {
  const int64_t offset = pos - 1;
  if (offset < 0 || offset > size_ || static_cast<int64_t>(n) > size_ - offset) return false;
  const int64_t bufEnd = bufStart_ + static_cast<int64_t>(buf_.size());
  if (offset >= bufStart_ && offset + static_cast<int64_t>(n) <= bufEnd) return true;
  const size_t want = std::max<size_t>(n, 64 * 1024);
  const int64_t take = std::min<int64_t>(static_cast<int64_t>(want), size_ - offset);
  buf_.resize(static_cast<size_t>(take));
  const int64_t got = file_.ReadAt(static_cast<uint64_t>(offset), buf_.data(), buf_.size());
  if (got < 0) {
    buf_.clear();
    return false;
  }
  buf_.resize(static_cast<size_t>(got));
  bufStart_ = offset;
  return got >= static_cast<int64_t>(n);
}

std::string FileCursor::ReadBytes(int64_t n) {
  if (n <= 0) return {};
  const int64_t have = failed_ ? 0 : std::min(n, Remaining());
  std::string out;
  if (have > 0) {
    if (!Fill(pos_, static_cast<size_t>(have))) {
      failed_ = true;
      return {};
    }
    out.assign(buf_, static_cast<size_t>(pos_ - 1 - bufStart_), static_cast<size_t>(have));
  }
  pos_ += have;
  if (have < n) failed_ = true;
  return out;
}

int16_t FileCursor::ReadInt16() {
  const std::string b = ReadBytes(2);
  if (b.size() != 2) return 0;
  return static_cast<int16_t>(static_cast<uint8_t>(b[0]) | (static_cast<uint8_t>(b[1]) << 8));
}

int32_t FileCursor::ReadInt32() {
  const std::string b = ReadBytes(4);
  if (b.size() != 4) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[i]);
  return static_cast<int32_t>(v);
}

uint8_t FileCursor::ReadByte() {
  const std::string b = ReadBytes(1);
  return b.empty() ? 0 : static_cast<uint8_t>(b[0]);
}

std::string FileCursor::ReadText() {
  const int16_t len = ReadInt16();
  if (failed_) return {};
  // The length is a 16-bit signed number in the file; a negative one cannot
  // have been written by the product.
  if (len < 0) {
    failed_ = true;
    return {};
  }
  // A text cut off by the end of the file is no text: never half a name.
  const std::string bytes = ReadBytes(len);
  return failed_ ? std::string() : Cp1252ToUtf8(bytes);
}

}  // namespace kw
