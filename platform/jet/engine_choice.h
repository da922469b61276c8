#pragma once
// The engine a database file is opened with, chosen by its first bytes: an
// SQLite file goes to the SQLite engine, a Jet 4 file to the Jet engine;
// any other file (Jet 3, Access 2007 or later, empty, unknown) is refused
// with the reason, and never written.
//
// The choice is made once per file (names equal without regard to case are
// one file): once an engine has taken a file, every later open of it goes
// to that engine without the file being read again, so that a file the Jet
// engine holds (shutting out every other opener on Windows) is never opened
// a second time. A file that is missing or cannot be read goes to the Jet
// engine, which words why: the product's databases are Jet files.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database.h"

namespace kw::jet {

// The first bytes of a file, as far as they could be read.
struct FirstBytes {
  bool read = false;           // false: missing or unreadable
  std::vector<uint8_t> bytes;  // at most one page
};
// Reads the first page of a database file given by its Windows path.
using FirstBytesReader = std::function<FirstBytes(std::string_view name)>;

class EngineChoice : public DatabaseEngine {
 public:
  // Neither engine is owned. Without an SQLite engine (nullptr) an SQLite
  // file is refused with a message naming it.
  EngineChoice(FirstBytesReader read, DatabaseEngine* sqlite, DatabaseEngine& jet)
      : read_(std::move(read)), sqlite_(sqlite), jet_(jet) {}

  std::unique_ptr<Database> OpenDatabase(std::string_view name, bool exclusive, bool readOnly) override;
  void CommitPending() override;

 private:
  DatabaseEngine& Choose(std::string_view name);

  FirstBytesReader read_;
  DatabaseEngine* sqlite_;
  DatabaseEngine& jet_;
  struct Chosen {
    std::string key;  // the file's name, folded
    DatabaseEngine* engine;
  };
  std::vector<Chosen> chosen_;
};

}  // namespace kw::jet
