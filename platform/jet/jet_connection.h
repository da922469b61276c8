#pragma once
// One open Jet database file: the page store it owns and its write groups.
//
// States:
//   idle     - open, no write group; the file is as after the last commit.
//   grouping - a write group is open in the store since the first Write
//              after idle; it is committed (back to idle) once it is
//              `commitIntervalMs` old or holds `groupPages` pages (checked at
//              every Write), on Commit, and on Close.
//   closed   - Close committed what was pending and released the store;
//              every further use throws.
// A write or commit that fails leaves the file as after the last commit and
// the connection idle; the rows of the lost group are told in the error.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "platform/jet/page_edit.h"
#include "platform/jet/page_store.h"

namespace kw::jet {

// Pages that a user of the connection changes in memory over many rows and
// writes once, just before the open write group is committed (index pages).
class PendingPages {
 public:
  virtual ~PendingPages() = default;
  // Puts the pages held back for the open group into `edit`; throws
  // RunError when they cannot be written as they must be.
  virtual void WritePending(PageEdit& edit) = 0;
  // The open group was rolled back: what was held back went with it.
  virtual void DropPending() = 0;
};

struct JetEngineOptions {
  int commitIntervalMs = 80;
  uint32_t groupPages = 1024;
};

class JetConnection {
 public:
  JetConnection(std::unique_ptr<PageStore> store, Clock& clock, JetEngineOptions options);
  ~JetConnection();
  JetConnection(const JetConnection&) = delete;
  JetConnection& operator=(const JetConnection&) = delete;

  PageStore& Store();
  // Writes the pages of one saved row into the open group, beginning one if
  // needed, and commits when the group is due.
  void Write(const PageEdit& edit);
  // Commits the open group, if any. Throws RunError (kErrRowsNotSaved) when
  // the group's rows could not be saved.
  void Commit();
  void Close();
  bool Closed() const { return !store_; }
  // Pages held back by `pending` are written at every commit from now on,
  // until it is let go.
  void Attach(PendingPages* pending);
  void Detach(PendingPages* pending);
  // Counts every page write and every rollback through this connection. The
  // file is this connection's alone while it is open, so a page read when
  // the count was the same still holds the file's bytes.
  uint64_t Changes() const { return changes_; }

 private:
  [[noreturn]] void Lost(const std::string& why);

  std::unique_ptr<PageStore> store_;
  std::string name_;
  Clock& clock_;
  JetEngineOptions options_;
  double groupStart_ = 0;
  long groupRows_ = 0;
  uint64_t changes_ = 0;
  std::vector<uint32_t> groupPages_;  // the group's pages, in order; its room kept
  std::vector<PendingPages*> pending_;
};

}  // namespace kw::jet
