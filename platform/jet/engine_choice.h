#pragma once
// The engine a database file is opened with, chosen by its first bytes: an
// SQLite file goes to the SQLite engine, a Jet 4 file to the Jet engine;
// any other file (Jet 3, Access 2007 or later, empty, unknown) is refused
// with the reason, and never written. A file that cannot be read is left
// to the SQLite engine, which words why.
#include <memory>
#include <string_view>

#include "platform/database.h"
#include "platform/wine/wine_paths.h"

namespace kw::jet {

class EngineChoice : public DatabaseEngine {
 public:
  // Neither engine is owned.
  EngineChoice(const WinePaths& paths, DatabaseEngine& sqlite, DatabaseEngine& jet)
      : paths_(paths), sqlite_(sqlite), jet_(jet) {}

  std::unique_ptr<Database> OpenDatabase(std::string_view name, bool exclusive, bool readOnly) override;
  void CommitPending() override;

 private:
  WinePaths paths_;
  DatabaseEngine& sqlite_;
  DatabaseEngine& jet_;
};

}  // namespace kw::jet
