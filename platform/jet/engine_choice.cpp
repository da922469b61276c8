#include "platform/jet/engine_choice.h"

#include <span>

#include "platform/jet/file_kind.h"
#include "platform/jet/jet_errors.h"
#include "platform/text_compare.h"

namespace kw::jet {

DatabaseEngine& EngineChoice::Choose(std::string_view name) {
  const std::string key = FoldText(name);
  for (const Chosen& c : chosen_)
    if (c.key == key) return *c.engine;
  const FirstBytes first = read_(name);
  if (!first.read) return jet_;
  const FileKind kind = KindOf(std::span<const uint8_t>(first.bytes));
  DatabaseEngine* engine = nullptr;
  if (kind == FileKind::kJet4) engine = &jet_;
  if (kind == FileKind::kSqlite) {
    if (sqlite_ == nullptr) {
      ThrowRefused(std::string(name),
                   "is an SQLite database; this build of the program converts Jet 4 databases "
                   "only.");
    }
    engine = sqlite_;
  }
  if (engine == nullptr) ThrowRefused(std::string(name), RefusalOf(kind));
  return *engine;
}

std::unique_ptr<Database> EngineChoice::OpenDatabase(std::string_view name, bool exclusive, bool readOnly) {
  DatabaseEngine& engine = Choose(name);
  std::unique_ptr<Database> db = engine.OpenDatabase(name, exclusive, readOnly);
  // Remembered only once the engine has taken the file: a file it refused
  // is looked at afresh when it is opened again.
  const std::string key = FoldText(name);
  bool known = false;
  for (const Chosen& c : chosen_) known = known || c.key == key;
  if (!known) chosen_.push_back({key, &engine});
  return db;
}

void EngineChoice::CommitPending() {
  if (sqlite_ != nullptr) sqlite_->CommitPending();
  jet_.CommitPending();
}

}  // namespace kw::jet
