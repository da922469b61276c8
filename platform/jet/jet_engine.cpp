#include "platform/jet/jet_engine.h"

#include "platform/jet/catalog.h"
#include "platform/jet/file_kind.h"
#include "platform/jet/jet_errors.h"
#include "platform/jet/jet_recordset.h"
#include "platform/jet/key_set.h"
#include "platform/jet/selection.h"
#include "platform/text_compare.h"

namespace kw::jet {
namespace {

constexpr int kDynaset = 2;

class JetDatabase : public Database {
 public:
  explicit JetDatabase(std::shared_ptr<JetConnection> c) : connection_(std::move(c)) {}
  ~JetDatabase() override {
    try {
      Close();
    } catch (const RunError&) {
      // Nothing can be told from here; the file is as after its last commit.
    }
  }

  std::unique_ptr<Recordset> OpenRecordset(std::string_view source, int type) override {
    if (closed_ || !connection_ || connection_->Closed()) throw RunError(kObjectClosed);
    try {
      if (type != kDynaset) throw RunError("Invalid argument: only dynasets (type 2) can be opened.");
      const Selection selection = ParseSelection(source);
      PageStore& store = connection_->Store();
      auto rows = std::make_unique<TableRows>(store, FindTable(store, selection.table));
      std::vector<RowLocation> keys = SelectKeys(*rows, selection);
      return std::make_unique<JetRecordset>(connection_, std::move(rows), std::move(keys));
    } catch (const RunError& e) {
      if (e.Number() != kErrRowsNotSaved) connection_->Commit();
      throw;
    }
  }

  void Close() override {
    if (closed_) return;
    closed_ = true;
    // The connection, and with it the file, is released by its last holder:
    // this database or a record set still open on it.
    std::shared_ptr<JetConnection> connection = std::move(connection_);
    if (!connection->Closed()) connection->Commit();
  }

 private:
  std::shared_ptr<JetConnection> connection_;
  bool closed_ = false;
};

}  // namespace

JetEngine::JetEngine(StoreOpener opener, Clock& clock, JetEngineOptions options)
    : opener_(std::move(opener)), clock_(clock), options_(options) {}

JetEngine::~JetEngine() {
  try {
    CommitPending();
  } catch (const RunError&) {
    // Nothing can be told from here.
  }
}

std::unique_ptr<Database> JetEngine::OpenDatabase(std::string_view name, bool, bool) {
  CommitPending();
  std::erase_if(connections_, [](const Open& o) {
    auto c = o.connection.lock();
    return !c || c->Closed();
  });
  const std::string key = FoldText(name);
  for (const Open& o : connections_)
    if (o.key == key) return std::make_unique<JetDatabase>(o.connection.lock());
  std::unique_ptr<PageStore> store = opener_(name);
  if (store->PageCount() == 0) ThrowRefused(store->Name(), RefusalOf(FileKind::kEmpty));
  PageBytes first;
  store->Read(0, first);
  const FileKind kind = KindOf(first);
  if (kind != FileKind::kJet4) ThrowRefused(store->Name(), RefusalOf(kind));
  if (const std::string why = LockedReason(first); !why.empty()) ThrowRefused(store->Name(), why);
  auto connection = std::make_shared<JetConnection>(std::move(store), clock_, options_);
  connections_.push_back({key, connection});
  return std::make_unique<JetDatabase>(std::move(connection));
}

void JetEngine::CommitPending() {
  for (const Open& o : connections_)
    if (auto c = o.connection.lock(); c && !c->Closed()) c->Commit();
}

}  // namespace kw::jet
