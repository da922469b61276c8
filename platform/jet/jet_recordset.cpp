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
  // A pass names the same few columns row after row, each written alike.
  for (const auto& [name, column] : named_)
    if (name == field) return *column;
  const Column* c = rows_->Table().Find(field);
  if (!c) throw RunError(NoSuchColumn(field, rows_->Table().name));
  if (named_.size() < kNamedColumns) named_.emplace_back(std::string(field), c);
  return *c;
}

void JetRecordset::NeedCurrent() const {
  if (at_ >= keys_.size()) throw RunError(kNoCurrentRecord);
}

JetRecordset::~JetRecordset() {
  try {
    Close();
  } catch (const RunError&) {
    // A destructor cannot report; the group is rolled back, the file as
    // after the last commit.
  }
}

bool JetRecordset::Eof() {
  return Guard([&] { return at_ >= keys_.size(); });
}

const JetRecordset::CurrentRow& JetRecordset::ReadCurrent(bool fresh) {
  NeedCurrent();
  if (!fresh && current_.at == at_ && current_.changes == connection_->Changes()) return current_;
  current_.at = SIZE_MAX;
  PageStore& store = connection_->Store();
  // The page as the store holds it, valid until the next call on the store:
  // the row's bytes are copied from the page that held it last.
  const PageBytes* page = nullptr;
  const auto place = rows_->Locate(keys_[at_], [&](uint32_t n) -> const PageBytes& { return *(page = &store.View(n)); });
  if (!place) throw RunError(kRecordDeleted, kErrRecordDeleted);
  current_.row.assign(page->data() + place->slot.start, page->data() + place->slot.end);
  DecodeRow(rows_->Table(), ByteView::Described(current_.row.data(), current_.row.size(), store.Name(), rowWhat_),
            current_.cells);
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
    const ByteView row = ByteView::Described(r.row.data(), r.row.size(), connection_->Store().Name(), rowWhat_);
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
    if (!indexes_.Holds(c) && !rows_->Table().IndexesOf(c).empty()) {
      indexes_.Hold(c, keys_);
      connection_->Attach(&indexes_);
    }
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
    const bool indexed = !indexes_.Empty();
    if (indexed && connection_->Changes() != indexedChanges_) indexes_.Forget();
    const CurrentRow* was = indexed ? &ReadCurrent(false) : nullptr;
    if (!edit_) edit_ = std::make_unique<PageEdit>(connection_->Store());
    PageEdit& edit = *edit_;
    edit.Reset();
    for (const auto& [number, value] : changes_) {
      for (const Column& c : rows_->Table().columns) {
        if (c.number != number || c.type == ColumnType::kBoolean) continue;
        std::optional<std::vector<uint8_t>>& bytes = encoded_;
        if (value) {
          EncodeText(*value, c.Compressed(), bytes ? *bytes : bytes.emplace());
        } else {
          bytes.reset();
        }
        writer_->SetValue(edit, keys_[at_], c, bytes);
      }
    }
    if (indexed)
      indexes_.Change(edit, keys_[at_], ByteView(was->row.data(), was->row.size(), connection_->Store().Name(), rowWhat_),
                      was->cells, changes_.All());
    editing_ = false;
    changes_.clear();
    // A write that fails rolls the group back, and the index pages held
    // back for it with it.
    if (!edit.Pages().empty()) connection_->Write(edit);
    if (indexed) {
      indexes_.Saved();
      indexedChanges_ = connection_->Changes();
    }
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
  // The index pages held back are written with the last group.
  const auto detach = [&] { connection->Detach(&indexes_); };
  try {
    if (!connection->Closed()) connection->Commit();
  } catch (...) {
    detach();
    throw;
  }
  detach();
}

}  // namespace kw::jet
