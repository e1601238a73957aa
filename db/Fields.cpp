#include "db/Fields.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "db/DataSet.h"
#include "db/DatabaseError.h"
#include "runtime/Text.h"

namespace {

std::string FloatText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

// Text of a fixed-point value with `places` decimals, trailing zeros kept.
std::string ScaledText(int64_t value, int places) {
  const bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  if (places > 0) {
    if (digits.size() <= static_cast<std::size_t>(places))
      digits.insert(0, static_cast<std::size_t>(places) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(places), 1, '.');
  }
  return negative ? "-" + digits : digits;
}

std::string DateTimeText(TDateTime value, bool withDate, bool withTime) {
  int year, month, day, hour, minute, second, msec;
  rt::DecodeDate(value, year, month, day);
  rt::DecodeTime(value, hour, minute, second, msec);
  char buffer[48];
  if (withDate && withTime) {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", day, month, year, hour,
                  minute, second);
  } else if (withDate) {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", day, month, year);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hour, minute, second);
  }
  return buffer;
}

}  // namespace

TField::TField(TFieldType dataType, int size) : dataType_(dataType), size_(size) {}

TField::~TField() {
  if (dataSet_ != nullptr) dataSet_->Fields().Remove(this);
}

void TField::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  if (dataSet != nullptr) dataSet->CheckInactive();
  if (dataSet_ != nullptr) dataSet_->Fields().Remove(this);
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->Fields().Add(this);
}

bool TField::GetData(void* buffer) const {
  if (dataSet_ == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset", Name);
  return dataSet_->GetFieldData(this, buffer);
}

bool TField::IsNull() const {
  // Large enough for every native value (the decimal record is the largest); text fields
  // size their own buffers.
  if (DataSize() > 64) {
    std::string buffer(static_cast<std::size_t>(DataSize()), '\0');
    return !GetData(buffer.data());
  }
  char buffer[64];
  return !GetData(buffer);
}

void TField::AccessError(const char* typeName) const {
  DatabaseError("Cannot access field '" + DisplayName() + "' as type " + typeName, Name);
}

std::string TField::StringValue() const {
  AccessError("String");
}

int32_t TField::IntegerValue() const {
  AccessError("Integer");
}

std::string TStringField::StringValue() const {
  std::string buffer(static_cast<std::size_t>(DataSize()), '\0');
  if (!GetData(buffer.data())) return {};
  return std::string(buffer.c_str());
}

int32_t TStringField::IntegerValue() const {
  return rt::StrToInt(StringValue());
}

int32_t TIntegerField::IntegerValue() const {
  unsigned char bytes[4] = {0, 0, 0, 0};
  if (!GetData(bytes)) return 0;
  switch (DataType()) {
    case ftSmallint: {
      int16_t value;
      std::memcpy(&value, bytes, sizeof value);
      return value;
    }
    case ftWord: {
      uint16_t value;
      std::memcpy(&value, bytes, sizeof value);
      return value;
    }
    default: {
      int32_t value;
      std::memcpy(&value, bytes, sizeof value);
      return value;
    }
  }
}

std::string TIntegerField::StringValue() const {
  return IsNull() ? std::string() : rt::IntToStr(IntegerValue());
}

int64_t TLargeintField::LargeintValue() const {
  int64_t value = 0;
  if (!GetData(&value)) return 0;
  return value;
}

int32_t TLargeintField::IntegerValue() const {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(LargeintValue())));
}

std::string TLargeintField::StringValue() const {
  int64_t value = 0;
  if (!GetData(&value)) return {};
  return rt::IntToStr(value);
}

double TFloatField::FloatValue() const {
  double value = 0;
  if (!GetData(&value)) return 0;
  return value;
}

std::string TFloatField::StringValue() const {
  double value = 0;
  if (!GetData(&value)) return {};
  return FloatText(value);
}

int32_t TFloatField::IntegerValue() const {
  return static_cast<int32_t>(std::nearbyint(FloatValue()));
}

int64_t TBCDField::CurrencyScaled() const {
  int64_t value = 0;
  if (!GetData(&value)) return 0;
  return value;
}

std::string TBCDField::StringValue() const {
  int64_t value = 0;
  if (!GetData(&value)) return {};
  std::string text = ScaledText(value, 4);
  // Only as many decimals as the field's scale.
  const int drop = 4 - (Size() < 0 ? 0 : (Size() > 4 ? 4 : Size()));
  text.resize(text.size() - static_cast<std::size_t>(drop));
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

int32_t TBCDField::IntegerValue() const {
  return static_cast<int32_t>(std::nearbyint(static_cast<double>(CurrencyScaled()) / 10000.0));
}

std::string TFMTBCDField::StringValue() const {
  unsigned char record[34] = {};
  if (!GetData(record)) return {};
  // Precision, sign and scale, then two digits per byte.
  const int precision = record[0];
  const bool negative = (record[1] & 0x80) != 0;
  const int places = record[1] & 0x3F;
  std::string digits;
  for (int i = 0; i < precision; ++i) {
    const unsigned char pair = record[2 + i / 2];
    digits += static_cast<char>('0' + ((i % 2 == 0) ? (pair >> 4) : (pair & 0x0F)));
  }
  if (places > 0) {
    if (digits.size() <= static_cast<std::size_t>(places))
      digits.insert(0, static_cast<std::size_t>(places) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(places), 1, '.');
  }
  std::size_t lead = 0;
  while (lead + 1 < digits.size() && digits[lead] == '0' && digits[lead + 1] != '.') ++lead;
  digits.erase(0, lead);
  if (digits.empty()) digits = "0";
  return negative ? "-" + digits : digits;
}

bool TBooleanField::BooleanValue() const {
  int16_t value = 0;
  if (!GetData(&value)) return false;
  return value != 0;
}

std::string TBooleanField::StringValue() const {
  int16_t value = 0;
  if (!GetData(&value)) return {};
  return value != 0 ? "True" : "False";
}

int32_t TBooleanField::IntegerValue() const {
  return BooleanValue() ? 1 : 0;
}

TDateTime TDateTimeField::DateTimeValue() const {
  unsigned char bytes[8] = {};
  if (!GetData(bytes)) return 0;
  int64_t days = 0;
  int64_t msecs = 0;
  if (DataType() == ftDateTime) {
    double total;
    std::memcpy(&total, bytes, sizeof total);
    const int64_t count = static_cast<int64_t>(total);
    days = count / kMSecsPerDay;
    msecs = count % kMSecsPerDay;
  } else {
    int32_t value;
    std::memcpy(&value, bytes, sizeof value);
    if (DataType() == ftDate)
      days = value;
    else
      msecs = value;
    if (DataType() == ftTime) return static_cast<double>(msecs) / kMSecsPerDay;
  }
  const double wholeDays = static_cast<double>(days - kDateDelta);
  const double fraction = static_cast<double>(msecs) / kMSecsPerDay;
  // Before day 0 the fraction counts away from zero, as in every TDateTime.
  return wholeDays < 0 ? wholeDays - fraction : wholeDays + fraction;
}

std::string TDateTimeField::StringValue() const {
  if (IsNull()) return {};
  return DateTimeText(DateTimeValue(), DataType() != ftTime, DataType() != ftDate);
}

TField* TFields::operator[](int index) const {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return items_[static_cast<std::size_t>(index)];
}

TField* TFields::FindField(std::string_view name) const {
  for (TField* field : items_) {
    if (rt::SameText(field->FieldName, name)) return field;
  }
  return nullptr;
}

int TFields::IndexOf(const TField* field) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i] == field) return static_cast<int>(i);
  }
  return -1;
}

void TFields::Remove(const TField* field) {
  const int index = IndexOf(field);
  if (index >= 0) items_.erase(items_.begin() + index);
}
