// Fields: the typed views of a dataset's columns. A field reads its value from the dataset's
// current row through the dataset (GetFieldData), in the native form of its data type.
//
// Fields declared on a window (persistent fields) are owned by the window and join a dataset
// with SetDataSet; fields the dataset creates itself (default fields) are owned by the dataset.
// Either side clears the link when it goes away.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/FieldType.h"
#include "runtime/DateTime.h"
#include "runtime/Exception.h"

class TDataSet;

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

// How a field takes part in generated update statements (bit set; stored, not used here).
enum TProviderFlag : unsigned { pfInUpdate = 1, pfInWhere = 2, pfInKey = 4, pfHidden = 8 };
using TProviderFlags = unsigned;

// Day 1 of the native date count is 0001-01-01; this is the count of 1899-12-30, day 0 of a
// TDateTime.
constexpr int32_t kDateDelta = 693594;
// Milliseconds in one day, the unit of native times and time stamps.
constexpr int32_t kMSecsPerDay = 86400000;

class TField {
 public:
  TField(TFieldType dataType, int size);
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  // Component name (for example "Q_MusicasMUS_NOME").
  std::string Name;
  // The column the field binds to, matched ignoring letter case.
  std::string FieldName;
  std::string Origin;
  TProviderFlags ProviderFlags = pfInUpdate | pfInWhere;
  bool Required = false;
  TFieldKind FieldKind = fkData;

  TFieldType DataType() const { return dataType_; }
  int Size() const { return size_; }
  virtual void SetSize(int size) { size_ = size; }
  // 1-based position among the dataset's column definitions; 0 while unbound, -1 for
  // calculated fields.
  int FieldNo() const { return fieldNo_; }
  const std::string& DisplayName() const { return FieldName; }
  const std::string& FullName() const { return FieldName; }
  bool Calculated() const { return FieldKind == fkCalculated; }
  bool Lookup() const { return FieldKind == fkLookup; }

  TDataSet* DataSet() const { return dataSet_; }
  // Leaves the current dataset's field list and joins the new one's (at the end).
  void SetDataSet(TDataSet* dataSet);

  // The dataset's side of the link, which lists or unlists the field itself: the link alone
  // (a field the dataset creates, or the dataset going away), and the field number its binding
  // gives (0 unbound, -1 calculated).
  void LinkDataSet(TDataSet* dataSet) { dataSet_ = dataSet; }
  void SetFieldNo(int fieldNo) { fieldNo_ = fieldNo; }

  // Bytes the dataset copies for one value of this field.
  virtual int DataSize() const { return 0; }

  // True when the current row holds no value for the field.
  bool IsNull() const;
  virtual std::string StringValue() const;
  virtual int32_t IntegerValue() const;

 protected:
  // Asks the dataset for the field's value of the current row; false for no value. A field
  // without a dataset raises "Field '%s' has no dataset".
  bool GetData(void* buffer) const;
  [[noreturn]] void AccessError(const char* typeName) const;

 private:
  TFieldType dataType_;
  int size_;
  int fieldNo_ = 0;
  TDataSet* dataSet_ = nullptr;
};

class TStringField : public TField {
 public:
  explicit TStringField(int size = 20) : TField(ftString, size) {}
  // Pad the value with blanks to Size instead of cutting trailing blanks of fixed text.
  bool FixedChar = false;
  // Stored; character sets are not converted.
  bool Transliterate = true;

  int DataSize() const override { return Size() + 1; }
  std::string StringValue() const override;
  int32_t IntegerValue() const override;
};

class TNumericField : public TField {
 public:
  using TField::TField;
};

class TIntegerField : public TNumericField {
 public:
  TIntegerField() : TNumericField(ftInteger, 0) {}
  int DataSize() const override { return 4; }
  // The value read as the field's type: 16-bit signed, 16-bit unsigned or 32-bit signed; 0
  // when null.
  int32_t IntegerValue() const override;
  std::string StringValue() const override;

 protected:
  explicit TIntegerField(TFieldType dataType) : TNumericField(dataType, 0) {}
};

class TSmallintField : public TIntegerField {
 public:
  TSmallintField() : TIntegerField(ftSmallint) {}
  int DataSize() const override { return 2; }
};

class TWordField : public TIntegerField {
 public:
  TWordField() : TIntegerField(ftWord) {}
  int DataSize() const override { return 2; }
};

class TLargeintField : public TNumericField {
 public:
  TLargeintField() : TNumericField(ftLargeint, 0) {}
  int DataSize() const override { return 8; }
  int64_t LargeintValue() const;
  // The low 32 bits of the value; 0 when null.
  int32_t IntegerValue() const override;
  std::string StringValue() const override;
};

class TFloatField : public TNumericField {
 public:
  TFloatField() : TNumericField(ftFloat, 0) {}
  int DataSize() const override { return 8; }
  double FloatValue() const;
  std::string StringValue() const override;
  int32_t IntegerValue() const override;

 protected:
  explicit TFloatField(TFieldType dataType) : TNumericField(dataType, 0) {}
};

class TCurrencyField : public TFloatField {
 public:
  TCurrencyField() : TFloatField(ftCurrency) {}
};

// Fixed-point value with up to four decimals (Size), kept as the value times 10 000.
class TBCDField : public TNumericField {
 public:
  explicit TBCDField(int size = 4) : TNumericField(ftBCD, size) {}
  int Precision = 0;
  int DataSize() const override { return 8; }
  int64_t CurrencyScaled() const;
  std::string StringValue() const override;
  int32_t IntegerValue() const override;
};

// Decimal value in its 34-byte decimal record.
class TFMTBCDField : public TNumericField {
 public:
  explicit TFMTBCDField(int size = 8) : TNumericField(ftFMTBcd, size) {}
  int Precision = 0;
  int DataSize() const override { return 34; }
  std::string StringValue() const override;
};

class TBooleanField : public TField {
 public:
  TBooleanField() : TField(ftBoolean, 0) {}
  int DataSize() const override { return 2; }
  bool BooleanValue() const;
  std::string StringValue() const override;
  int32_t IntegerValue() const override;
};

class TDateTimeField : public TField {
 public:
  TDateTimeField() : TField(ftDateTime, 0) {}
  int DataSize() const override { return 8; }
  TDateTime DateTimeValue() const;
  std::string StringValue() const override;

 protected:
  explicit TDateTimeField(TFieldType dataType) : TField(dataType, 0) {}
};

class TDateField : public TDateTimeField {
 public:
  TDateField() : TDateTimeField(ftDate) {}
  int DataSize() const override { return 4; }
};

class TTimeField : public TDateTimeField {
 public:
  TTimeField() : TDateTimeField(ftTime) {}
  int DataSize() const override { return 4; }
};

// Large objects; the value in the row is the blob's identifier (blob contents are not read
// through fields).
class TBlobField : public TField {
 public:
  TBlobField() : TField(ftBlob, 0) {}
  int DataSize() const override { return 0; }

 protected:
  explicit TBlobField(TFieldType dataType) : TField(dataType, 0) {}
};

class TMemoField : public TBlobField {
 public:
  TMemoField() : TBlobField(ftMemo) {}
};

// The failure of a list access outside its bounds.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// The ordered field list of a dataset. It does not own the fields.
class TFields {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  // The field at a 0-based position; outside the list raises "List index out of bounds (%d)".
  TField* operator[](int index) const;
  // The field named `name` (ignoring letter case), or nullptr.
  TField* FindField(std::string_view name) const;
  int IndexOf(const TField* field) const;
  void Add(TField* field) { items_.push_back(field); }
  void Remove(const TField* field);
  void Clear() { items_.clear(); }

 private:
  std::vector<TField*> items_;
};
