#pragma once
// Opening the host product's binary files shared-safely: file numbers 1 to
// 255 (lowest free first, -1 for none), an exclusive lock, and a retry window
// of ten seconds. Nothing here shows a message; failure is a result.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kw {

constexpr int16_t kMaxFileNumber = 255;
constexpr double kRetrySeconds = 10.0;

// The open files of the run, by file number.
struct FileTable {
  std::array<std::unique_ptr<OpenFile>, kMaxFileNumber + 1> open;  // [0] unused
};

// True when a normal file of that name exists (not hidden, not system, not a
// directory); any error gives false.
bool FileExists(Platform& p, std::string_view FileName);

// Opens FileName for exclusive binary use and returns its file number, or -1
// after ten seconds of failed attempts. MustExist: a missing file gives -1 at
// once instead of being created.
int16_t FileOpenRetry(Platform& p, FileTable& files, std::string_view FileName, bool MustExist);

// The open file of a number, or nullptr.
OpenFile* FileOf(FileTable& files, int16_t number);
void FileClose(FileTable& files, int16_t number);

// Reads numbers and counted texts from an open file, by position counted
// from 1 as the host product's files count them. Little-endian. A read that
// runs past the end of the file or fails sets failed() and yields zero or
// the empty text; later reads keep failing.
class FileCursor {
 public:
  explicit FileCursor(OpenFile& file);
  void Seek(int64_t position);  // 1 = first byte
  int64_t Position() const { return pos_; }
  // Bytes from the position to the end of the file (0 when past it).
  int64_t Remaining() const;
  int16_t ReadInt16();
  int32_t ReadInt32();
  uint8_t ReadByte();
  // n raw bytes; fewer when the file ends first (and then failed()).
  std::string ReadBytes(int64_t n);
  // A 2-byte length, then that many bytes in code page 1252; gives UTF-8.
  std::string ReadText();
  bool failed() const { return failed_; }
  void ClearFailure() { failed_ = false; }

 private:
  bool Fill(int64_t pos, size_t n);
  OpenFile& file_;
  int64_t size_;
  int64_t pos_ = 1;
  bool failed_ = false;
  std::string buf_;
  int64_t bufStart_ = 0;  // offset (from 0) of buf_[0]
};

}  // namespace kw
