#include "db/DataSet.h"

#include <algorithm>

#include "db/DataSource.h"
#include "db/DatabaseError.h"

TDataSet::TDataSet(std::string name) : Name(std::move(name)) {}

TDataSet::~TDataSet() {
  // Subclasses close before this runs; what is left are the links.
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->SetDataSet(nullptr);
  ownedFields_.clear();
  for (int i = 0; i < fields_.Count(); ++i) fields_[i]->LinkDataSet(nullptr);
  fields_.Clear();
}

void TDataSet::AttachDataSource(TDataSource* source) {
  dataSources_.push_back(source);
}

void TDataSet::DetachDataSource(TDataSource* source) {
  dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source),
                     dataSources_.end());
}

TField* TDataSet::FieldByName(std::string_view fieldName) const {
  TField* field = FindField(fieldName);
  if (field == nullptr) Error("Field '" + std::string(fieldName) + "' not found");
  return field;
}

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) Error("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) Error("Cannot perform this operation on an open dataset");
}

void TDataSet::Error(const std::string& text) const {
  DatabaseError(text, Name);
}

void TDataSet::Open() {
  if (state_ != dsInactive) return;
  defaultFields_ = fields_.Count() == 0;
  try {
    OpenCursor();
  } catch (...) {
    try {
      ReleaseAll();
    } catch (...) {
      // The failure of the open is the one the caller hears of.
    }
    throw;
  }
  AllocateWindow(WindowSizeWanted());
  SetState(dsBrowse);
  // A failing first fetch leaves the dataset open; the error still travels on.
  GetNextRecords();
  atEnd_ = recordCount_ == 0;
  atStart_ = true;
}

void TDataSet::Close() {
  if (state_ == dsInactive) return;
  SetState(dsInactive);
  ReleaseAll();
}

void TDataSet::ReleaseAll() {
  struct Finally {
    TDataSet* self;
    ~Finally() {
      self->FreeWindow();
      self->BindFields(false);
      if (self->defaultFields_) self->DestroyFields();
    }
  } finally{this};
  CloseCursor();
}

void TDataSet::MoveFirst() {
  CheckActive();
  ClearBuffers();
  InternalFirst();
  if (GetNextRecord()) {
    atStart_ = false;
    atEnd_ = false;
    GetNextRecords();
  }
  atStart_ = true;
  DataEvent(deDataSetChange);
}

void TDataSet::MoveNext() {
  CheckActive();
  if (atEnd_) return;
  atStart_ = false;
  atEnd_ = false;
  if (activeRecord_ < recordCount_ - 1) {
    ++activeRecord_;
  } else if (GetNextRecord()) {
    activeRecord_ = recordCount_ - 1;
  } else {
    atEnd_ = true;
  }
  DataEvent(deDataSetScroll);
}

void TDataSet::CreateFields() {
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    const TFieldDef& definition = fieldDefs_.Items(i);
    if (definition.DataType == ftUnknown || definition.Has(faHiddenCol)) continue;
    if (std::unique_ptr<TField> field = CreateFieldFor(definition)) AdoptField(std::move(field));
  }
}

TField* TDataSet::AdoptField(std::unique_ptr<TField> field) {
  TField* raw = field.get();
  raw->LinkDataSet(this);
  fields_.Add(raw);
  ownedFields_.push_back(std::move(field));
  return raw;
}

void TDataSet::DestroyFields() {
  ownedFields_.clear();
}

namespace {

// Types whose values a calculated or lookup field can hold.
bool CanBeCalculated(TFieldType type) {
  switch (BaseFieldType(type)) {
    case ftUnknown:
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
    case ftReference:
      return false;
    default:
      return true;
  }
}

// Types whose sizes must agree between a field and its column definition.
bool SizeMustMatch(TFieldType type) {
  return type == ftBCD || type == ftBytes || type == ftVarBytes || type == ftReference;
}

}  // namespace

void TDataSet::BindFields(bool binding) {
  for (int i = 0; i < fields_.Count(); ++i) {
    TField* field = fields_[i];
    if (!binding) {
      field->SetFieldNo(0);
      continue;
    }
    if (field->FieldKind == fkCalculated || field->FieldKind == fkLookup) {
      if (!CanBeCalculated(field->DataType()))
        Error("Field '" + field->DisplayName() + "' cannot be a calculated or lookup field");
      field->SetFieldNo(-1);
      continue;
    }
    if (field->FieldKind != fkData) continue;
    const int index = fieldDefs_.IndexOf(field->FullName());
    if (index < 0) Error("Field '" + field->DisplayName() + "' not found");
    const TFieldDef& definition = fieldDefs_.Items(index);
    field->SetFieldNo(index + 1);
    if (BaseFieldType(field->DataType()) != BaseFieldType(definition.DataType)) {
      Error("Type mismatch for field '" + field->DisplayName() + "', expecting: " +
            FieldTypeName(field->DataType()) + " actual: " + FieldTypeName(definition.DataType));
    }
    if (SizeMustMatch(field->DataType()) && field->Size() != definition.Size) {
      Error("Size mismatch for field '" + field->DisplayName() + "', expecting: " +
            std::to_string(field->Size()) + " actual: " + std::to_string(definition.Size));
    }
  }
}

void TDataSet::SetState(TDataSetState state) {
  if (state == state_) return;
  state_ = state;
  DataEvent(deUpdateState);
}

void TDataSet::DataEvent(TDataEvent event) {
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->Notify(event);
}

char* TDataSet::ActiveBuffer() const {
  if (recordCount_ == 0) return nullptr;
  return buffers_[static_cast<std::size_t>(activeRecord_)].get();
}

void TDataSet::AllocateWindow(int windowSize) {
  FreeWindow();
  for (int i = 0; i <= windowSize; ++i) buffers_.push_back(AllocRecordBuffer());
  windowSize_ = windowSize;
}

void TDataSet::FreeWindow() {
  ClearBuffers();
  buffers_.clear();
  windowSize_ = 0;
}

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  atStart_ = true;
  atEnd_ = true;
}

bool TDataSet::GetNextRecord() {
  // The subclass's cursor must stand on the last row of the window before it moves on.
  if (recordCount_ > 0 && currentRecord_ != recordCount_ - 1) {
    InternalSetToRecord(buffers_[static_cast<std::size_t>(recordCount_ - 1)].get());
    currentRecord_ = recordCount_ - 1;
  }
  char* spare = buffers_[static_cast<std::size_t>(recordCount_)].get();
  if (GetRecord(spare, gmNext) != grOK) return false;
  if (recordCount_ < windowSize_) {
    ++recordCount_;
  } else {
    // The oldest buffer becomes the spare one.
    std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.begin() + recordCount_ + 1);
  }
  currentRecord_ = recordCount_ - 1;
  return true;
}

int TDataSet::GetNextRecords() {
  int added = 0;
  while (recordCount_ < windowSize_ && GetNextRecord()) ++added;
  return added;
}

int TDataSet::WindowSizeWanted() const {
  // Data sources without consumers ask for no more than the one current row.
  return 1;
}
