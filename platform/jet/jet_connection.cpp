#include "platform/jet/jet_connection.h"

#include <algorithm>

#include "platform/jet/jet_errors.h"

namespace kw::jet {

JetConnection::JetConnection(std::unique_ptr<PageStore> store, Clock& clock, JetEngineOptions options)
    : store_(std::move(store)), name_(store_->Name()), clock_(clock), options_(options) {}

JetConnection::~JetConnection() {
  try {
    Close();
  } catch (const RunError&) {
    // A destructor cannot report; the file is as after the last commit.
  }
}

PageStore& JetConnection::Store() {
  if (!store_) throw RunError(kObjectClosed);
  return *store_;
}

void JetConnection::Lost(const std::string& why) {
  const long rows = groupRows_;
  ++changes_;
  groupRows_ = 0;
  groupPages_.clear();
  for (PendingPages* p : pending_) p->DropPending();
  if (store_ && store_->InGroup()) store_->Rollback();
  throw RunError(std::to_string(rows) + (rows == 1 ? " changed row" : " changed rows") + " of " +
                     Quoted(name_) + " could not be saved and " + (rows == 1 ? "is" : "are") +
                     " unchanged in the file: " + why,
                 kErrRowsNotSaved);
}

void JetConnection::Write(const PageEdit& edit) {
  PageStore& store = Store();
  if (!store.InGroup()) {
    store.BeginGroup();
    groupStart_ = clock_.Seconds();
    groupRows_ = 0;
    groupPages_.clear();
  }
  ++groupRows_;
  try {
    for (const auto& [n, bytes] : edit.Pages()) {
      ++changes_;
      store.Write(n, bytes);
      // Kept in order; a group's pages mostly come in order.
      const auto at = std::lower_bound(groupPages_.begin(), groupPages_.end(), n);
      if (at == groupPages_.end() || *at != n) groupPages_.insert(at, n);
    }
  } catch (const RunError& e) {
    Lost(e.Description());
  }
  if ((clock_.Seconds() - groupStart_) * 1000.0 >= options_.commitIntervalMs ||
      groupPages_.size() >= options_.groupPages)
    Commit();
}

void JetConnection::Commit() {
  if (!store_ || !store_->InGroup()) return;
  try {
    if (!pending_.empty()) {
      PageEdit edit(*store_);
      for (PendingPages* p : pending_) p->WritePending(edit);
      for (const auto& [n, bytes] : edit.Pages()) {
        ++changes_;
        store_->Write(n, bytes);
      }
    }
    store_->Commit();
  } catch (const RunError& e) {
    Lost(e.Description());
  }
  groupRows_ = 0;
  groupPages_.clear();
}

void JetConnection::Attach(PendingPages* pending) {
  if (std::find(pending_.begin(), pending_.end(), pending) == pending_.end()) pending_.push_back(pending);
}

void JetConnection::Detach(PendingPages* pending) { std::erase(pending_, pending); }

void JetConnection::Close() {
  if (!store_) return;
  try {
    Commit();
  } catch (...) {
    store_.reset();
    throw;
  }
  store_.reset();
}

}  // namespace kw::jet
