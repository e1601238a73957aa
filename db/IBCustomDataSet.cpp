#include "db/IBCustomDataSet.h"

#include <cstring>

#include "db/IBDatabase.h"
#include "db/IBErrors.h"
#include "db/IBFields.h"
#include "db/IBSQL.h"
#include "db/IBSchema.h"
#include "db/IBTransaction.h"
#include "db/IBXSQLDA.h"
#include "runtime/Text.h"

namespace {

// Alias under which a result carries the row's database key.
constexpr const char* kDBKeyAlias = "IB_INTERNAL_DBKEY";
// Bytes of the header's database-key field.
constexpr int kDBKeySize = 8;
// Bytes of the decimal record: precision, sign and places, 32 bytes of digit pairs.
constexpr std::size_t kDecimalRecordSize = 34;
// Native date values count days from 0001-01-01 (day 1); the server counts from 1858-11-17.
constexpr int32_t kServerDateDelta = 678576;
// The server's times count fractions of a second; native times count milliseconds.
constexpr int32_t kServerTimeUnitsPerMSec = ISC_TIME_SECONDS_PRECISION / 1000;
// Scaled integers down to this many decimals are kept as fixed-point currency values.
constexpr int kCurrencyDecimals = 4;

bool IsBooleanType(int type) {
  return type == SQL_BOOLEAN_V7 || type == SQL_BOOLEAN;
}

int64_t PowerOfTen(int exponent) {
  int64_t result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

// Fixed-point value with four decimals from an integer with the given (negative) scale.
int64_t ToCurrency(int64_t value, int scale) {
  return value * PowerOfTen(kCurrencyDecimals + scale);
}

// Writes `value` x 10^scale as a decimal record.
void EncodeDecimal(int64_t value, int scale, char* out) {
  std::memset(out, 0, kDecimalRecordSize);
  const bool negative = value < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  const std::size_t places = static_cast<std::size_t>(-scale);
  if (digits.size() < places) digits.insert(0, places - digits.size(), '0');
  auto* bytes = reinterpret_cast<unsigned char*>(out);
  bytes[0] = static_cast<unsigned char>(digits.size());
  bytes[1] = static_cast<unsigned char>((negative ? 0x80 : 0) | (places & 0x3F));
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const unsigned char digit = static_cast<unsigned char>(digits[i] - '0');
    bytes[2 + i / 2] |= (i % 2 == 0) ? static_cast<unsigned char>(digit << 4) : digit;
  }
}

// Bytes a value of the column takes in a record slot.
std::size_t NativeSize(int type, int scale, int length, TFieldType definitionType) {
  switch (type) {
    case SQL_VARYING:
    case SQL_TEXT:
      return static_cast<std::size_t>(length);
    case SQL_LONG:
    case SQL_SHORT:
      if (scale == 0) return 4;
      [[fallthrough]];
    case SQL_INT64:
      if (scale >= -kCurrencyDecimals) return 8;
      return definitionType == ftFloat ? 8 : kDecimalRecordSize;
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_BLOB:
      return 8;
    default:
      return static_cast<std::size_t>(length);
  }
}

template <typename T>
T Load(const char* source) {
  T value;
  std::memcpy(&value, source, sizeof value);
  return value;
}

template <typename T>
void Store(char* target, T value) {
  std::memcpy(target, &value, sizeof value);
}

}  // namespace

TIBCustomDataSet::TIBCustomDataSet(std::string name)
    : TDataSet(std::move(name)), base_(this), qSelect_(std::make_unique<TIBSQL>()) {
  qSelect_->GoToFirstRecordOnExecute = false;
  qSelect_->OnSQLChanging = [this] { SelectChanging(); };
  base_.OnDatabaseClosing = [this] { BeforeDatabaseDisconnect(); };
  base_.OnTransactionEnding = [this] { BeforeTransactionEnd(); };
}

TIBCustomDataSet::~TIBCustomDataSet() {
  try {
    Close();
  } catch (...) {
    // A destructor never throws; the statements release what is left.
  }
  base_.OnDatabaseClosing = nullptr;
  base_.OnTransactionEnding = nullptr;
  qSelect_->OnSQLChanging = nullptr;
}

void TIBCustomDataSet::SetDatabase(TIBDatabase* value) {
  if (value == base_.Database()) return;
  CheckInactive();
  InternalUnPrepare();
  base_.SetDatabase(value);
  qSelect_->SetDatabase(value);
}

void TIBCustomDataSet::SetTransaction(TIBTransaction* value) {
  if (value == base_.Transaction()) return;
  CheckInactive();
  InternalUnPrepare();
  base_.SetTransaction(value);
  qSelect_->SetTransaction(value);
}

void TIBCustomDataSet::SetBufferChunks(int value) {
  bufferChunks_ = value <= 0 ? kDefaultBufferChunks : value;
}

void TIBCustomDataSet::ConnectChange(bool connecting) {
  if (!connecting && Active()) Close();
}

void TIBCustomDataSet::ActivateConnection() {
  if (Database() == nullptr) db::RaiseClientError(db::ClientError::DatabaseNotAssigned);
  if (Transaction() == nullptr) db::RaiseClientError(db::ClientError::TransactionNotAssigned);
  if (!Database()->Connected()) Database()->Open();
}

bool TIBCustomDataSet::ActivateTransaction() {
  if (Transaction() == nullptr) db::RaiseClientError(db::ClientError::TransactionNotAssigned);
  if (Transaction()->Active()) return false;
  Transaction()->AutoStart();
  return true;
}

void TIBCustomDataSet::DeactivateTransaction() {
  if (Transaction() != nullptr) Transaction()->CheckAutoStop();
}

void TIBCustomDataSet::InternalPrepare() {
  if (internalPrepared_) return;
  if (rt::Trim(qSelect_->SQLText()).empty())
    db::RaiseClientError(db::ClientError::EmptySQLStatement);
  ActivateConnection();
  const bool didActivate = ActivateTransaction();
  try {
    base_.RequireDatabase();
    base_.RequireTransaction();
    if (!qSelect_->Prepared()) {
      qSelect_->ParamCheck = ParamCheck;
      qSelect_->Prepare();
    }
    internalPrepared_ = true;
    InternalInitFieldDefs();
  } catch (...) {
    // Definitions that could not be built leave the dataset unprepared, so the next attempt
    // builds them again.
    internalPrepared_ = false;
    if (didActivate) DeactivateTransaction();
    throw;
  }
  if (didActivate) DeactivateTransaction();
}

void TIBCustomDataSet::InternalUnPrepare() {
  if (!internalPrepared_) return;
  CheckInactive();
  FieldDefs().Clear();
  positionMap_.clear();
  columns_.clear();
  internalPrepared_ = false;
}

void TIBCustomDataSet::SelectChanging() {
  if (Active()) Close();
  if (internalPrepared_) InternalUnPrepare();
  FieldDefs().Clear();
  positionMap_.clear();
  columns_.clear();
  SelectTextChanging();
}

void TIBCustomDataSet::BeforeDatabaseDisconnect() {
  if (Active()) Close();
  qSelect_->ReleaseHandle();
  InternalUnPrepare();
}

void TIBCustomDataSet::BeforeTransactionEnd() {
  if (Active()) Close();
  qSelect_->ReleaseHandle();
  InternalUnPrepare();
}

void TIBCustomDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  positionMap_.clear();
  columns_.clear();
  TIBXSQLDA& area = qSelect_->Current();
  const int dialect = qSelect_->Dialect();
  for (int i = 0; i < area.Count(); ++i) {
    const TSQLVAR& column = area[i].Data();
    const int type = column.SqlType() & ~1;
    const bool nullable = (column.SqlType() & 1) != 0;
    const int scale = column.SqlScale();
    const int precision = column.SqlPrecision();
    const std::string alias = column.AliasName();
    TColumnInfo info;
    info.RelationName = column.RelName();
    info.SqlName = column.SqlName();
    info.IsDBKey = alias == kDBKeyAlias;

    // A float field declared at this position asks for doubles instead of decimal records.
    const bool floatWanted =
        i < Fields().Count() && dynamic_cast<TFloatField*>(Fields()[i]) != nullptr;
    TFieldType dataType = ftUnknown;
    int size = 0;
    int definitionPrecision = 0;
    // The precision of a scaled integer counts at least one digit before the point.
    auto scaledPrecision = [&](bool raise) {
      return (raise && precision == -scale) ? precision + 1 : precision;
    };
    switch (type) {
      case SQL_VARYING:
      case SQL_TEXT:
        dataType = ftString;
        size = column.SqlLen();
        break;
      case SQL_LONG:
      case SQL_SHORT:
        if (scale == 0) {
          dataType = type == SQL_LONG ? ftInteger : ftSmallint;
        } else if (type == SQL_SHORT || scale >= -kCurrencyDecimals) {
          dataType = ftBCD;
          size = -scale;
          definitionPrecision = scaledPrecision(true);
        } else {
          dataType = (dialect == SQL_DIALECT_V5 || floatWanted) ? ftFloat : ftFMTBcd;
          size = dataType == ftFloat ? 0 : -scale;
          definitionPrecision = scaledPrecision(true);
        }
        break;
      case SQL_INT64:
        if (scale == 0) {
          dataType = ftLargeint;
        } else if (scale >= -kCurrencyDecimals) {
          dataType = ftBCD;
          size = -scale;
          definitionPrecision = scaledPrecision(false);
        } else {
          dataType = floatWanted ? ftFloat : ftFMTBcd;
          size = dataType == ftFloat ? 0 : -scale;
          definitionPrecision = scaledPrecision(true);
        }
        break;
      case SQL_DOUBLE:
      case SQL_FLOAT:
        dataType = ftFloat;
        break;
      case SQL_TIMESTAMP:
        dataType = ftDateTime;
        break;
      case SQL_TYPE_DATE:
        dataType = ftDate;
        break;
      case SQL_TYPE_TIME:
        dataType = ftTime;
        break;
      case SQL_BLOB:
        dataType = column.SqlSubtype() == isc_blob_text ? ftMemo : ftBlob;
        size = sizeof(ISC_QUAD);
        break;
      default:
        if (IsBooleanType(type)) dataType = ftBoolean;
        break;
    }
    if (dataType == ftUnknown || info.IsDBKey) {
      columns_.push_back(std::move(info));
      continue;
    }
    info.DataType = dataType;

    TFieldDef& definition = FieldDefs().AddFieldDef();
    definition.Name = alias;
    definition.FieldNo = i + 1;
    definition.DataType = dataType;
    definition.Size = size;
    definition.Precision = definitionPrecision;
    positionMap_.push_back(i);

    TFieldAttributes attributes = 0;
    if (!nullable && !rt::Trim(info.RelationName).empty()) attributes |= faRequired;
    if (!info.RelationName.empty() && !info.SqlName.empty()) {
      TIBSchema& schema = TSchema::Of(*Database());
      if (schema.IsComputedColumn(info.RelationName, info.SqlName)) {
        attributes = faReadonly;
        definition.InternalCalcField = true;
      } else if (schema.HasDefaultValue(info.RelationName, info.SqlName)) {
        attributes &= ~static_cast<TFieldAttributes>(faRequired);
      }
    }
    if (type == SQL_TEXT) attributes |= faFixed;
    definition.Attributes = attributes;
    definition.Required = (attributes & faRequired) != 0;
    columns_.push_back(std::move(info));
  }
}

std::unique_ptr<TField> TIBCustomDataSet::CreateFieldFor(const TFieldDef& definition) {
  std::unique_ptr<TField> field;
  switch (definition.DataType) {
    case ftString:
      field = std::make_unique<TIBStringField>(definition.Size);
      break;
    case ftBCD: {
      auto bcd = std::make_unique<TIBBCDField>(definition.Size);
      bcd->Precision = definition.Precision;
      field = std::move(bcd);
      break;
    }
    case ftSmallint:
      field = std::make_unique<TSmallintField>();
      break;
    case ftInteger:
      field = std::make_unique<TIntegerField>();
      break;
    case ftWord:
      field = std::make_unique<TWordField>();
      break;
    case ftBoolean:
      field = std::make_unique<TBooleanField>();
      break;
    case ftFloat:
      field = std::make_unique<TFloatField>();
      break;
    case ftCurrency:
      field = std::make_unique<TCurrencyField>();
      break;
    case ftDate:
      field = std::make_unique<TDateField>();
      break;
    case ftTime:
      field = std::make_unique<TTimeField>();
      break;
    case ftDateTime:
      field = std::make_unique<TDateTimeField>();
      break;
    case ftBlob:
      field = std::make_unique<TBlobField>();
      break;
    case ftMemo:
      field = std::make_unique<TMemoField>();
      break;
    case ftLargeint:
      field = std::make_unique<TLargeintField>();
      break;
    case ftFMTBcd: {
      auto decimal = std::make_unique<TFMTBCDField>(definition.Size);
      decimal->Precision = definition.Precision;
      field = std::move(decimal);
      break;
    }
    default:
      return nullptr;
  }
  field->FieldName = definition.Name;
  field->Required = definition.Required;

  const TColumnInfo& column = columns_.at(static_cast<std::size_t>(definition.FieldNo - 1));
  const int dialect = qSelect_->Dialect();
  field->Origin =
      QuoteName(dialect, column.RelationName) + "." + QuoteName(dialect, column.SqlName);
  TProviderFlags flags = pfInUpdate | pfInWhere;
  if (!column.RelationName.empty() && !column.SqlName.empty() &&
      TSchema::Of(*Database()).IsKeyColumn(column.RelationName, column.SqlName)) {
    flags |= pfInKey;
  } else if (definition.InternalCalcField || column.RelationName.empty()) {
    flags = 0;
  }
  if (BaseFieldType(definition.DataType) == ftBlob)
    flags &= ~static_cast<TProviderFlags>(pfInWhere);
  field->ProviderFlags = flags;
  return field;
}

bool TIBCustomDataSet::ReturnsRows() const {
  return qSelect_->SQLType() == SQLSelect || qSelect_->SQLType() == SQLSelectForUpdate;
}

void TIBCustomDataSet::OpenCursor() {
  ActivateConnection();
  ActivateTransaction();
  InternalPrepare();
  if (ReturnsRows()) {
    if (DefaultFields()) CreateFields();
    BindFields(true);
    qSelect_->ExecQuery();
    cursorOpen_ = qSelect_->Open();
  } else {
    qSelect_->ExecQuery();
    cursorOpen_ = false;
  }
  LayoutRecords();
}

void TIBCustomDataSet::CloseCursor() {
  struct Finally {
    TIBCustomDataSet* self;
    ~Finally() {
      self->ReleaseRecords();
      self->cursorOpen_ = false;
    }
  } finally{this};
  DeactivateTransaction();
  if (qSelect_->Open()) qSelect_->Close();
}

void TIBCustomDataSet::LayoutRecords() {
  TIBXSQLDA& area = qSelect_->Current();
  const int count = ReturnsRows() ? area.Count() : 0;
  std::size_t offset =
      sizeof(TRecordHeader) + static_cast<std::size_t>(count) * sizeof(TFieldDescriptor);
  std::vector<TFieldDescriptor> descriptors(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const TSQLVAR& column = area[i].Data();
    const int type = column.SqlType() & ~1;
    const TColumnInfo* info = static_cast<std::size_t>(i) < columns_.size()
                                  ? &columns_[static_cast<std::size_t>(i)]
                                  : nullptr;
    TFieldDescriptor& descriptor = descriptors[static_cast<std::size_t>(i)];
    descriptor.SQLType = static_cast<int16_t>(type);
    descriptor.Scale = static_cast<int16_t>(column.SqlScale());
    descriptor.Nullable = (column.SqlType() & 1) != 0;
    descriptor.IsNull = 1;
    const bool dbKeyInHeader = info != nullptr && info->IsDBKey && column.SqlLen() <= kDBKeySize;
    const std::size_t size = dbKeyInHeader
                                 ? 0
                                 : NativeSize(type, column.SqlScale(), column.SqlLen(),
                                              info != nullptr ? info->DataType : ftUnknown);
    descriptor.DataSize = static_cast<uint16_t>(size);
    descriptor.DataLength = 0;
    descriptor.DataOfs = static_cast<uint32_t>(offset);
    offset += size;
  }
  // After the columns come the calculated-field area and the blob-pointer area.
  std::size_t calcSize = 0;
  std::size_t blobCount = 0;
  for (int i = 0; i < Fields().Count(); ++i) {
    const TField* field = Fields()[i];
    if (field->Calculated() || field->Lookup())
      calcSize += 1 + static_cast<std::size_t>(field->DataSize());
    else if (BaseFieldType(field->DataType()) == ftBlob)
      ++blobCount;
  }
  const std::size_t slotSize = offset + calcSize + blobCount * sizeof(void*);

  modelBuffer_ = std::make_unique<char[]>(slotSize);
  std::memset(modelBuffer_.get(), 0, slotSize);
  TRecordHeader* header = RecordHeader(modelBuffer_.get());
  header->BookmarkFlag = bfCurrent;
  header->FieldCount = static_cast<int16_t>(count);
  header->RecordNumber = -1;
  if (count > 0)
    std::memcpy(RecordDescriptors(modelBuffer_.get()), descriptors.data(),
                descriptors.size() * sizeof(TFieldDescriptor));
  tempBuffer_ = std::make_unique<char[]>(slotSize);
  std::memcpy(tempBuffer_.get(), modelBuffer_.get(), slotSize);

  recordCache_.Allocate(slotSize, bufferChunks_, UniDirectional);
  cachedRowCount_ = 0;
  currentRecord_ = -1;
}

void TIBCustomDataSet::ReleaseRecords() {
  recordCache_.Release();
  modelBuffer_.reset();
  tempBuffer_.reset();
  cachedRowCount_ = 0;
  currentRecord_ = -1;
}

std::unique_ptr<char[]> TIBCustomDataSet::AllocRecordBuffer() {
  const std::size_t slotSize = recordCache_.SlotSize();
  const std::size_t size = slotSize < sizeof(TRecordHeader) ? sizeof(TRecordHeader) : slotSize;
  auto buffer = std::make_unique<char[]>(size);
  std::memset(buffer.get(), 0, size);
  if (modelBuffer_) std::memcpy(buffer.get(), modelBuffer_.get(), slotSize);
  return buffer;
}

void TIBCustomDataSet::SetEmptyRecord(char* buffer, TBookmarkFlag flag) {
  if (modelBuffer_) std::memcpy(buffer, modelBuffer_.get(), recordCache_.SlotSize());
  RecordHeader(buffer)->BookmarkFlag = flag;
}

void TIBCustomDataSet::FetchCurrentRecordToBuffer(TIBXSQLDA& row, int rowNumber, char* buffer) {
  TRecordHeader* header = RecordHeader(buffer);
  header->BookmarkFlag = bfCurrent;
  header->RecordNumber = rowNumber;
  std::memset(header->DBKey, 0, sizeof header->DBKey);
  TFieldDescriptor* descriptors = RecordDescriptors(buffer);
  for (int i = 0; i < header->FieldCount; ++i) {
    const TSQLVAR& column = row[i].Data();
    TFieldDescriptor& descriptor = descriptors[i];
    const short* indicator = column.SqlInd();
    const bool isNull = (column.SqlType() & 1) != 0 && indicator != nullptr && *indicator == -1;
    descriptor.IsNull = isNull;
    descriptor.DataLength = 0;
    if (isNull) continue;
    const char* source = column.SqlData();
    char* target = buffer + descriptor.DataOfs;
    const int scale = descriptor.Scale;
    if (columns_.size() > static_cast<std::size_t>(i) &&
        columns_[static_cast<std::size_t>(i)].IsDBKey && descriptor.DataSize == 0) {
      std::memcpy(header->DBKey, source, static_cast<std::size_t>(column.SqlLen()));
      continue;
    }
    switch (descriptor.SQLType) {
      case SQL_VARYING: {
        uint16_t length = Load<uint16_t>(source);
        if (length > descriptor.DataSize) length = descriptor.DataSize;
        descriptor.DataLength = length;
        std::memcpy(target, source + 2, length);
        break;
      }
      case SQL_TEXT:
        descriptor.DataLength = descriptor.DataSize;
        std::memcpy(target, source, descriptor.DataSize);
        break;
      case SQL_LONG:
      case SQL_SHORT:
      case SQL_INT64: {
        const int64_t value = descriptor.SQLType == SQL_LONG    ? Load<int32_t>(source)
                              : descriptor.SQLType == SQL_SHORT ? Load<int16_t>(source)
                                                                : Load<int64_t>(source);
        if (scale == 0) {
          if (descriptor.SQLType == SQL_INT64)
            Store<int64_t>(target, value);
          else
            Store<int32_t>(target, static_cast<int32_t>(value));
        } else if (scale >= -kCurrencyDecimals) {
          Store<int64_t>(target, ToCurrency(value, scale));
        } else if (descriptor.DataSize == 8) {
          Store<double>(target,
                        static_cast<double>(value) / static_cast<double>(PowerOfTen(-scale)));
        } else {
          EncodeDecimal(value, scale, target);
        }
        break;
      }
      case SQL_DOUBLE:
        std::memcpy(target, source, 8);
        break;
      case SQL_FLOAT:
        Store<double>(target, Load<float>(source));
        break;
      case SQL_TIMESTAMP: {
        const ISC_TIMESTAMP stamp = Load<ISC_TIMESTAMP>(source);
        const double msecs =
            (static_cast<double>(stamp.timestamp_date) + kServerDateDelta) * kMSecsPerDay +
            static_cast<double>(stamp.timestamp_time / kServerTimeUnitsPerMSec);
        Store<double>(target, msecs);
        break;
      }
      case SQL_TYPE_DATE:
        std::memset(target, 0, 8);
        Store<int32_t>(target, Load<ISC_DATE>(source) + kServerDateDelta);
        break;
      case SQL_TYPE_TIME:
        std::memset(target, 0, 8);
        Store<int32_t>(target,
                       static_cast<int32_t>(Load<ISC_TIME>(source) / kServerTimeUnitsPerMSec));
        break;
      default: {
        const std::size_t length =
            std::min<std::size_t>(descriptor.DataSize, static_cast<std::size_t>(column.SqlLen()));
        std::memcpy(target, source, length);
        break;
      }
    }
  }
}

void TIBCustomDataSet::ReadRecordFromCache(int row, char* buffer) {
  recordCache_.Read(row, buffer);
}

bool TIBCustomDataSet::FetchNextToCache(char* buffer) {
  TIBXSQLDA* row = qSelect_->FetchNext();
  if (row == nullptr) return false;
  char* target = buffer != nullptr ? buffer : tempBuffer_.get();
  FetchCurrentRecordToBuffer(*row, cachedRowCount_, target);
  recordCache_.Write(cachedRowCount_, target);
  ++cachedRowCount_;
  return true;
}

void TIBCustomDataSet::InternalFirst() {
  currentRecord_ = -1;
}

void TIBCustomDataSet::InternalSetToRecord(char* buffer) {
  currentRecord_ = RecordHeader(buffer)->RecordNumber;
}

TGetResult TIBCustomDataSet::GetRecord(char* buffer, TGetMode mode) {
  TGetResult result = grOK;
  switch (mode) {
    case gmNext:
      if (currentRecord_ >= cachedRowCount_) {
        result = grEOF;
      } else if (currentRecord_ == cachedRowCount_ - 1) {
        result = grEOF;
        if (cursorOpen_ && !qSelect_->Eof()) {
          const bool fetched = FetchNextToCache(buffer);
          ++currentRecord_;
          if (fetched) result = grOK;
        }
      } else {
        ++currentRecord_;
        ReadRecordFromCache(currentRecord_, buffer);
      }
      break;
    case gmPrior:
      if (currentRecord_ <= 0) {
        currentRecord_ = -1;
        result = grBOF;
      } else {
        if (currentRecord_ > cachedRowCount_) currentRecord_ = cachedRowCount_;
        --currentRecord_;
        ReadRecordFromCache(currentRecord_, buffer);
      }
      break;
    case gmCurrent:
      while (currentRecord_ >= cachedRowCount_ && cursorOpen_ && !qSelect_->Eof()) {
        if (!FetchNextToCache(nullptr)) break;
      }
      if (currentRecord_ >= cachedRowCount_) currentRecord_ = cachedRowCount_ - 1;
      if (currentRecord_ < 0) {
        result = grEOF;
      } else {
        ReadRecordFromCache(currentRecord_, buffer);
      }
      break;
  }
  if (result == grOK)
    RecordHeader(buffer)->BookmarkFlag = bfCurrent;
  else
    SetEmptyRecord(buffer, result == grBOF ? bfBOF : bfEOF);
  return result;
}

bool TIBCustomDataSet::GetFieldData(const TField* field, void* buffer) {
  char* record = State() == dsBrowse ? ActiveBuffer() : nullptr;
  if (record == nullptr) return false;
  const int fieldNo = field->FieldNo();
  if (fieldNo <= 0 || static_cast<std::size_t>(fieldNo) > positionMap_.size()) return false;
  const int column = positionMap_[static_cast<std::size_t>(fieldNo - 1)];
  const TRecordHeader* header = RecordHeader(record);
  if (header->FieldCount < column + 1) return false;
  const TFieldDescriptor& descriptor = RecordDescriptors(record)[column];
  if (descriptor.IsNull) return false;
  const char* data = record + descriptor.DataOfs;
  char* target = static_cast<char*>(buffer);
  if (descriptor.SQLType == SQL_VARYING || descriptor.SQLType == SQL_TEXT) {
    const int length = descriptor.DataLength;
    const int size = field->Size();
    if (size < length) db::RaiseClientError(db::ClientError::FieldSizeMismatch, {field->FieldName});
    const auto* stringField = dynamic_cast<const TStringField*>(field);
    if (stringField != nullptr && stringField->FixedChar) {
      std::memset(target, ' ', static_cast<std::size_t>(size));
      std::memcpy(target, data, static_cast<std::size_t>(length));
      target[size] = '\0';
    } else {
      std::memcpy(target, data, static_cast<std::size_t>(length));
      int end = length;
      // Fixed text comes padded with blanks; the padding is not part of the value.
      if (descriptor.SQLType == SQL_TEXT) {
        while (end > 0 && static_cast<unsigned char>(target[end - 1]) <= ' ') --end;
      }
      target[end] = '\0';
    }
    return true;
  }
  const std::size_t wanted = static_cast<std::size_t>(field->DataSize());
  const std::size_t available = descriptor.DataSize;
  std::memcpy(target, data, std::min(wanted, available));
  if (wanted > available) std::memset(target + available, 0, wanted - available);
  return true;
}
