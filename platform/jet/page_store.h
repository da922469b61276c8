#pragma once
// The pages of one Jet database file, and the one gate through which the
// engine changes them. Pages are 4096 bytes; page n starts at n * 4096.
//
// Changes are made in groups: between BeginGroup and Commit, writes are held
// by the store (reads see them); Commit makes all of them durable together,
// so that a process killed at any moment leaves the file either as before
// the group or as after it (a journal beside the file, rolled back when the
// file is next opened). Rollback forgets the group's writes; nothing of them
// has reached the file.
//
// Every failure throws RunError, naming the file as the user gave it.
#include <cstdint>
#include <string>

#include "platform/jet/format/page.h"

namespace kw::jet {

class PageStore {
 public:
  virtual ~PageStore() = default;
  // The file's name as the user gave it (a Windows path), for error texts.
  virtual const std::string& Name() const = 0;
  // Pages in the file, the group's appended pages included.
  virtual uint32_t PageCount() const = 0;
  // Page n as it is now (the group's writes included). n >= PageCount() throws.
  virtual void Read(uint32_t n, PageBytes& out) = 0;
  // Page n as it is now, without a copy where the store keeps it in memory
  // (a store that does not reads it into a buffer of its own). The bytes
  // stay valid until the next call on the store.
  virtual const PageBytes& View(uint32_t n) {
    Read(n, view_);
    return view_;
  }
  // Pages first .. first + count - 1 as they are now, into out[0 .. count - 1];
  // for reading many pages in file order. The last must be below PageCount().
  virtual void ReadPages(uint32_t first, uint32_t count, PageBytes* out) {
    for (uint32_t i = 0; i < count; ++i) Read(first + i, out[i]);
  }

  virtual bool InGroup() const = 0;
  // Starts a group; throws when one is open.
  virtual void BeginGroup() = 0;
  // Replaces page n (n < PageCount()) or appends a page (n == PageCount())
  // within the open group; throws when no group is open or n is beyond that.
  virtual void Write(uint32_t n, const PageBytes& data) = 0;
  // Makes the group's writes durable and ends the group. On a failure the
  // file is as before the group, and the group has ended.
  virtual void Commit() = 0;
  // Ends the group without writing anything of it.
  virtual void Rollback() = 0;

 private:
  PageBytes view_{};
};

}  // namespace kw::jet
