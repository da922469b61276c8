#pragma once
// The database engine over Jet 4 files (Access 2000 and 2002-2003), read and
// written by this program on the file format itself. A file is opened only
// when its first page shows Jet 4 without a password or encoded pages;
// otherwise it is refused, unwritten, with the reason.
//
// A record set keeps its connection: it stays usable after the database is
// closed or released, until it is itself closed. Rows are saved in write
// groups (see JetConnection); every group is committed before an error
// leaves the engine, on CommitPending, and when a record set, a database or
// the engine closes or is released.
//
// A file is used by this engine alone while it is open (the page store
// locks it): opening it again, under a name equal without regard to case,
// while a database or record set on it is still open shares that
// connection, as one process shares one open file.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/database.h"
#include "platform/jet/jet_connection.h"

namespace kw::jet {

// Opens the page store of a database file given as a Windows path; throws
// RunError naming the file when it cannot (missing, held by another user).
using StoreOpener = std::function<std::unique_ptr<PageStore>(std::string_view name)>;

class JetEngine : public DatabaseEngine {
 public:
  JetEngine(StoreOpener opener, Clock& clock, JetEngineOptions options = {});
  ~JetEngine() override;
  JetEngine(const JetEngine&) = delete;
  JetEngine& operator=(const JetEngine&) = delete;

  std::unique_ptr<Database> OpenDatabase(std::string_view name, bool exclusive, bool readOnly) override;
  void CommitPending() override;

 private:
  StoreOpener opener_;
  Clock& clock_;
  JetEngineOptions options_;
  struct Open {
    std::string key;  // the file's name, folded
    std::weak_ptr<JetConnection> connection;
  };
  std::vector<Open> connections_;
};

}  // namespace kw::jet
