#include "platform/jet/jet_recordset.h"

#include "platform/jet/row_codec.h"
#include "platform/jet/text_codec.h"

namespace kw::jet {

JetRecordset::JetRecordset(std::shared_ptr<JetConnection> connection, std::unique_ptr<TableRows> rows,
                           std::vector<RowLocation> keys)
    : connection_(std::move(connection)),
      rows_(std::move(rows)),
      keys_(std::move(keys)),
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

void JetRecordset::LoadRow() {
  haveRow_ = false;
  PageStore& store = connection_->Store();
  PageBytes page;
  const auto place = rows_->Locate(keys_[at_], [&](uint32_t n) -> const PageBytes& {
    store.Read(n, page);
    return page;
  });
  if (!place) throw RunError(kRecordDeleted, kErrRecordDeleted);
  const Slot s = rows_->Check(page, place->at.page).SlotAt(place->at.row);
  row_.assign(page.begin() + s.start, page.begin() + s.end);
  const ByteView row(row_.data(), row_.size(), store.Name(), rowWhat_);
  cells_ = DecodeRow(rows_->Table(), row);
  haveRow_ = true;
}

void JetRecordset::Edit() {
  Guard([&] {
    NeedCurrent();
    editing_ = false;
    changes_.clear();
    LoadRow();
    editing_ = true;
  });
}

FieldValue JetRecordset::GetValue(std::string_view field) {
  return Guard([&]() -> FieldValue {
    const Column& c = ColumnNamed(field);
    if (editing_)
      if (auto it = changes_.find(c.number); it != changes_.end()) return it->second;
    NeedCurrent();
    if (!haveRow_) LoadRow();
    const ByteView row(row_.data(), row_.size(), connection_->Store().Name(), rowWhat_);
    return CellText(c, row, cells_[static_cast<size_t>(&c - rows_->Table().columns.data())]);
  });
}

void JetRecordset::SetValue(std::string_view field, const FieldValue& value) {
  Guard([&] {
    const Column& c = ColumnNamed(field);
    if (!editing_) throw RunError(kUpdateWithoutEdit);
    const std::string where = "column " + Quoted(c.name) + " of table " + Quoted(rows_->Table().name) +
                              " in " + Quoted(connection_->Store().Name());
    if (c.type != kText || c.Fixed())
      throw RunError("The " + where + " is not a variable-length text column; this program changes only those.");
    const auto indexes = rows_->Table().IndexesOf(c);
    if (!indexes.empty())
      throw RunError("The " + where + " is part of the index " + Quoted(indexes.front()->name) +
                     "; this program does not change indexed columns, so the table is left unchanged.");
    if (value && TextUnits(*value) * 2 > c.length) throw RunError(FieldTooSmall(c.name));
    changes_[c.number] = value;
  });
}

void JetRecordset::Update() {
  Guard([&] {
    if (!editing_) throw RunError(kUpdateWithoutEdit);
    NeedCurrent();
    if (!writer_) writer_ = std::make_unique<RowWriter>(connection_->Store(), *rows_);
    PageEdit edit(connection_->Store());
    for (const auto& [number, value] : changes_) {
      for (const Column& c : rows_->Table().columns) {
        if (c.number != number || c.type == kBool) continue;
        std::optional<std::vector<uint8_t>> bytes;
        if (value) bytes = EncodeText(*value, c.Compressed());
        writer_->SetValue(edit, keys_[at_], c, bytes);
      }
    }
    editing_ = false;
    changes_.clear();
    haveRow_ = false;
    if (!edit.Pages().empty()) connection_->Write(edit);
  });
}

void JetRecordset::MoveNext() {
  Guard([&] {
    NeedCurrent();
    editing_ = false;
    changes_.clear();
    haveRow_ = false;
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
