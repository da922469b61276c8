#include "platform/jet/jet_recordset.h"

#include "platform/jet/row_codec.h"
#include "platform/jet/format/text_codec.h"

namespace kw::jet {

JetRecordset::JetRecordset(std::shared_ptr<JetConnection> connection, std::unique_ptr<TableRows> rows,
                           std::vector<RowLocation> keys)
    : connection_(std::move(connection)), rows_(std::move(rows)), indexes_(*rows_), keys_(std::move(keys)),
      rowWhat_("a row of table " + Quoted(rows_->Table().name)) {}

template <typename F>
auto JetRecordset::Guard(F&& f) -> decltype(f()) {
  if (closed_ || !connection_ || connection_->Closed()) throw RunError(kObjectClosed);
  try {
    return f();
  } catch (const RunError& e) {
    if (e.Number() == kErrRowsNotSaved) throw;
    connection_->Commit();
    throw;
  }
}

const Column& JetRecordset::ColumnNamed(std::string_view field) const {
  const Column* c = rows_->Table().Find(field);
  if (!c) throw RunError(NoSuchColumn(field, rows_->Table().name));
  return *c;
}

void JetRecordset::NeedCurrent() const {
  if (at_ >= keys_.size()) throw RunError(kNoCurrentRecord);
}

bool JetRecordset::Eof() {
  return Guard([&] { return at_ >= keys_.size(); });
}

const JetRecordset::CurrentRow& JetRecordset::ReadCurrent(bool fresh) {
  NeedCurrent();
  if (!fresh && current_.at == at_ && current_.changes == connection_->Changes()) return current_;
  current_.at = SIZE_MAX;
  PageStore& store = connection_->Store();
  const auto place = rows_->Locate(keys_[at_], [&](uint32_t n) -> const PageBytes& {
    store.Read(n, current_.page);
    return current_.page;
  });
  if (!place) throw RunError(kRecordDeleted, kErrRecordDeleted);
  current_.slot = rows_->Check(current_.page, place->at.page).SlotAt(place->at.row);
  const ByteView row(current_.page.data() + current_.slot.start, current_.slot.end - current_.slot.start,
                     store.Name(), rowWhat_);
  current_.cells = DecodeRow(rows_->Table(), row);
  current_.changes = connection_->Changes();
  current_.at = at_;
  return current_;
}

void JetRecordset::Edit() {
  Guard([&] {
    editing_ = false;
    changes_.clear();
    ReadCurrent(true);
    editing_ = true;
  });
}

FieldValue JetRecordset::GetValue(std::string_view field) {
  return Guard([&]() -> FieldValue {
    const Column& c = ColumnNamed(field);
    if (editing_)
      if (auto it = changes_.find(c.number); it != changes_.end()) return it->second;
    const CurrentRow& r = ReadCurrent(false);
    const ByteView row(r.page.data() + r.slot.start, r.slot.end - r.slot.start, connection_->Store().Name(), rowWhat_);
    return CellText(c, row, r.cells[static_cast<size_t>(&c - rows_->Table().columns.data())]);
  });
}

void JetRecordset::SetValue(std::string_view field, const FieldValue& value) {
  Guard([&] {
    const Column& c = ColumnNamed(field);
    if (!editing_) throw RunError(kUpdateWithoutEdit);
    auto where = [&] {
      return "column " + Quoted(c.name) + " of table " + Quoted(rows_->Table().name) + " in " +
             Quoted(connection_->Store().Name());
    };
    if (c.type != ColumnType::kText || c.Fixed())
      throw RunError("The " + where() + " is not a variable-length text column; this program changes only those.");
    if (value && TextUnits(*value) * 2 > c.length) throw RunError(FieldTooSmall(c.name));
    if (!indexes_.Holds(c) && !rows_->Table().IndexesOf(c).empty()) indexes_.Hold(c, keys_);
    changes_[c.number] = value;
  });
}

void JetRecordset::Update() {
  Guard([&] {
    if (!editing_) throw RunError(kUpdateWithoutEdit);
    NeedCurrent();
    if (!writer_) writer_ = std::make_unique<RowWriter>(connection_->Store(), *rows_);
    // Index pages kept from earlier rows are true only while nothing else
    // wrote the file through the connection.
    if (connection_->Changes() != indexedChanges_) indexes_.Forget();
    const CurrentRow& was = ReadCurrent(false);
    PageEdit edit(connection_->Store());
    try {
      for (const auto& [number, value] : changes_) {
        for (const Column& c : rows_->Table().columns) {
          if (c.number != number || c.type == ColumnType::kBoolean) continue;
          std::optional<std::vector<uint8_t>> bytes;
          if (value) bytes = EncodeText(*value, c.Compressed());
          writer_->SetValue(edit, keys_[at_], c, bytes);
        }
      }
      const ByteView row(was.page.data() + was.slot.start, was.slot.end - was.slot.start,
                         connection_->Store().Name(), rowWhat_);
      indexes_.Change(edit, keys_[at_], row, was.cells, changes_);
      editing_ = false;
      changes_.clear();
      if (!edit.Pages().empty()) connection_->Write(edit);
    } catch (...) {
      // The trees may hold changes that never reached the file.
      indexes_.Forget();
      indexedChanges_ = connection_->Changes();
      throw;
    }
    indexedChanges_ = connection_->Changes();
  });
}

void JetRecordset::MoveNext() {
  Guard([&] {
    NeedCurrent();
    editing_ = false;
    changes_.clear();
    ++at_;
  });
}

void JetRecordset::Close() {
  if (closed_) return;
  closed_ = true;
  // The last holder of the connection releases the file.
  std::shared_ptr<JetConnection> connection = std::move(connection_);
  if (!connection->Closed()) connection->Commit();
}

}  // namespace kw::jet
