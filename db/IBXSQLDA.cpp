#include "db/IBXSQLDA.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "db/IBErrors.h"
#include "db/IBSQL.h"
#include "runtime/Text.h"
#include "runtime/ValueText.h"

namespace {

// Longest generated result-column name in each layout (the name arrays hold one more byte).
constexpr std::size_t kMaxNameV1 = sizeof(XSQLVAR::sqlname) - 1;
constexpr std::size_t kMaxNameV2 = sizeof(XSQLVAR_V2::sqlname) - 1;
// Bytes of the null indicator.
constexpr int kIndicatorSize = sizeof(ISC_SHORT);
// Length prefix of a SQL_VARYING value.
constexpr int kVaryingPrefix = 2;
// Time of day in the client API counts fractions of a second; a TDateTime counts days.
constexpr ISC_TIME kIscTimeUnitsPerMSec = ISC_TIME_SECONDS_PRECISION / 1000;
constexpr double kMSecsPerDay = rt::kSecondsPerDay * 1000.0;
// Currency values are fixed-point with four decimals, counted in ten-thousandths.
constexpr int kCurrencyDecimals = 4;
constexpr int64_t kCurrencyScale = 10000;
// Decimal digits every value of an integer type holds; the basic entry layout, which has no
// precision field, reports them as the precision.
constexpr int kShortDigits = 4;
constexpr int kLongDigits = 9;
constexpr int kInt64Digits = 18;

// Copies a name into a fixed entry field, cut to what the field holds, zero-padded.
template <std::size_t N>
void PutName(ISC_SCHAR (&field)[N], ISC_SHORT& length, std::string_view value) {
  std::size_t n = std::min(value.size(), N);
  std::memset(field, 0, N);
  std::memcpy(field, value.data(), n);
  length = ISC_SHORT(n);
}

template <std::size_t N>
bool NameIs(const ISC_SCHAR (&field)[N], ISC_SHORT length, std::string_view name) {
  std::size_t n = std::min<std::size_t>(std::max<ISC_SHORT>(length, 0), N);
  return std::string_view(field, n) == name;
}

template <std::size_t N>
std::string GetName(const ISC_SCHAR (&field)[N], ISC_SHORT length) {
  std::size_t n = std::min<std::size_t>(std::max<ISC_SHORT>(length, 0), N);
  return std::string(field, n);
}

int64_t Pow10(int n) {
  int64_t v = 1;
  while (n-- > 0) v *= 10;
  return v;
}

// The stored number of an integer entry (SQL_SHORT, SQL_LONG or SQL_INT64), before its scale.
int64_t StoredInteger(int type, const char* data) {
  if (type == SQL_SHORT) {
    int16_t v;
    std::memcpy(&v, data, sizeof v);
    return v;
  }
  if (type == SQL_LONG) {
    int32_t v;
    std::memcpy(&v, data, sizeof v);
    return v;
  }
  int64_t v;
  std::memcpy(&v, data, sizeof v);
  return v;
}

bool IsBoolean(int type) {
  return type == SQL_BOOLEAN_V7 || type == SQL_BOOLEAN;
}

std::tm ToTm(TDateTime value) {
  std::tm t{};
  int y, m, d, h, n, s, z;
  rt::DecodeDate(value, y, m, d);
  rt::DecodeTime(value, h, n, s, z);
  t.tm_year = y - 1900;
  t.tm_mon = m - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = n;
  t.tm_sec = s;
  return t;
}

int Millis(TDateTime value) {
  int h, n, s, z;
  rt::DecodeTime(value, h, n, s, z);
  return z;
}

TDateTime FromTmDate(const std::tm& t) {
  return rt::EncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
}

// Time of day from a client-API time value, keeping its milliseconds.
TDateTime FromIscTime(ISC_TIME time) {
  return double(time / kIscTimeUnitsPerMSec) / kMSecsPerDay;
}

}  // namespace

std::size_t SQLVarSize(int64_t clientVersion) {
  return clientVersion >= db::kClientVersion70 ? sizeof(XSQLVAR_V2) : sizeof(XSQLVAR);
}

std::size_t DescriptorAreaSize(int n, std::size_t entrySize) {
  return kSQLDAHeaderSize + std::max(sizeof(XSQLVAR), sizeof(XSQLVAR_V2)) +
         std::size_t(std::max(n - 1, 0)) * entrySize;
}

// ---------------------------------------------------------------------------------------------
// TSQLVAR

void TSQLVAR::SetDataSize(int size) {
  if (size <= 0) {
    data_.reset();
    capacity_ = 0;
    SetSqlData(nullptr);
    return;
  }
  if (std::size_t(size) > capacity_) {
    auto grown = std::make_unique<char[]>(std::size_t(size));  // zero-filled
    if (data_) std::memcpy(grown.get(), data_.get(), capacity_);
    data_ = std::move(grown);
    capacity_ = std::size_t(size);
  }
  SetSqlData(data_.get());
}

void TSQLVAR::SetIndSize(int size) {
  if (size <= 0) {
    SetSqlInd(nullptr);
    return;
  }
  if (SqlInd() != &indicator_) indicator_ = 0;
  SetSqlInd(&indicator_);
}

// ---------------------------------------------------------------------------------------------
// TSQLVARLayout, TSQLVAR_V1, TSQLVAR_V2

template <class Entry>
std::string TSQLVARLayout<Entry>::AliasName() const {
  return GetName(entry_->aliasname, entry_->aliasname_length);
}
template <class Entry>
std::string TSQLVARLayout<Entry>::OwnName() const {
  return GetName(entry_->ownname, entry_->ownname_length);
}
template <class Entry>
std::string TSQLVARLayout<Entry>::RelName() const {
  return GetName(entry_->relname, entry_->relname_length);
}
template <class Entry>
std::string TSQLVARLayout<Entry>::SqlName() const {
  return GetName(entry_->sqlname, entry_->sqlname_length);
}
template <class Entry>
bool TSQLVARLayout<Entry>::SqlNameIs(std::string_view name) const {
  return NameIs(entry_->sqlname, entry_->sqlname_length, name);
}
template <class Entry>
void TSQLVARLayout<Entry>::SetAliasName(std::string_view v) {
  PutName(entry_->aliasname, entry_->aliasname_length, v);
}
template <class Entry>
void TSQLVARLayout<Entry>::SetOwnName(std::string_view v) {
  PutName(entry_->ownname, entry_->ownname_length, v);
}
template <class Entry>
void TSQLVARLayout<Entry>::SetRelName(std::string_view v) {
  PutName(entry_->relname, entry_->relname_length, v);
}
template <class Entry>
void TSQLVARLayout<Entry>::SetSqlName(std::string_view v) {
  PutName(entry_->sqlname, entry_->sqlname_length, v);
}

template class TSQLVARLayout<XSQLVAR>;
template class TSQLVARLayout<XSQLVAR_V2>;

int TSQLVAR_V1::SqlPrecision() const {
  switch (entry_->sqltype & ~1) {
    case SQL_SHORT:
      return kShortDigits;
    case SQL_LONG:
      return kLongDigits;
    case SQL_INT64:
      return kInt64Digits;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// TIBXSQLVAR

TIBXSQLVAR::TIBXSQLVAR(TIBXSQLDA* parent, TIBSQL* statement, int index)
    : parent_(parent), statement_(statement), index_(index) {
  if (GetClientLibrary()->GetClientVersion() >= db::kClientVersion70)
    sqlvar_ = std::make_unique<TSQLVAR_V2>();
  else
    sqlvar_ = std::make_unique<TSQLVAR_V1>();
}

int TIBXSQLVAR::Dialect() const {
  return statement_ ? statement_->Dialect() : kDefaultDialect;
}

template <class F>
void TIBXSQLVAR::ForSameNamed(F&& f) {
  const std::string& mine = parent_->NormalizedName(index_);
  if (mine.empty()) {
    f(*this);
    return;
  }
  for (int i = 0; i < parent_->Count(); ++i)
    if (parent_->NormalizedName(i) == mine) f((*parent_)[i]);
}

template <class F>
bool TIBXSQLVAR::AnySameNamed(F&& f) {
  bool any = false;
  ForSameNamed([&](TIBXSQLVAR& v) { any = any || f(v); });
  return any;
}

void TIBXSQLVAR::WriteValue(int type, int len, bool setScale, int scale, const void* value) {
  if (IsNullable()) SetIsNull(false);
  ForSameNamed([&](TIBXSQLVAR& v) {
    TSQLVAR& d = *v.sqlvar_;
    d.SetSqlType(type | (d.SqlType() & 1));
    d.SetSqlLen(len);
    if (setScale) d.SetSqlScale(scale);
    d.SetDataSize(len);
    std::memcpy(d.SqlData(), value, std::size_t(len));
    v.modified_ = true;
  });
}

bool TIBXSQLVAR::IsNull() const {
  short* ind = sqlvar_->SqlInd();
  return (sqlvar_->SqlType() & 1) && ind && *ind == -1;
}

void TIBXSQLVAR::SetIsNull(bool value) {
  if (value) {
    // Every entry of the name must be nullable, not only this one: an entry without the nullable
    // bit would send its old value where the others send null.
    if (AnySameNamed([](TIBXSQLVAR& v) { return !v.IsNullable(); })) SetIsNullable(true);
    ForSameNamed([](TIBXSQLVAR& v) {
      *v.sqlvar_->SqlInd() = -1;
      v.modified_ = true;
    });
  } else if (IsNullable()) {
    ForSameNamed([](TIBXSQLVAR& v) {
      if (short* ind = v.sqlvar_->SqlInd()) *ind = 0;
    });
  }
}

bool TIBXSQLVAR::IsNullable() const {
  return (sqlvar_->SqlType() & 1) != 0;
}

void TIBXSQLVAR::SetIsNullable(bool value) {
  ForSameNamed([value](TIBXSQLVAR& v) {
    TSQLVAR& d = *v.sqlvar_;
    if (value) {
      d.SetSqlType(d.SqlType() | 1);
      if (!d.SqlInd()) d.SetIndSize(kIndicatorSize);
    } else {
      d.SetSqlType(d.SqlType() & ~1);
      d.SetIndSize(0);
    }
  });
}

void TIBXSQLVAR::SetShortValue(int16_t value) {
  WriteValue(SQL_SHORT, sizeof value, true, 0, &value);
}

void TIBXSQLVAR::SetLongValue(int32_t value) {
  WriteValue(SQL_LONG, sizeof value, true, 0, &value);
}

void TIBXSQLVAR::SetInt64Value(int64_t value) {
  WriteValue(SQL_INT64, sizeof value, true, 0, &value);
}

void TIBXSQLVAR::SetCurrencyValue(int64_t value) {
  WriteValue(SQL_INT64, sizeof value, true, -kCurrencyDecimals, &value);
}

void TIBXSQLVAR::SetDoubleValue(double value) {
  WriteValue(SQL_DOUBLE, sizeof value, true, 0, &value);
}

void TIBXSQLVAR::SetDateValue(TDateTime value) {
  std::tm t = ToTm(value);
  ISC_DATE date = 0;
  GetClientLibrary()->isc_encode_sql_date(&t, &date);
  WriteValue(SQL_TYPE_DATE, sizeof date, false, 0, &date);
}

void TIBXSQLVAR::SetTimeValue(TDateTime value) {
  std::tm t = ToTm(value);
  ISC_TIME time = 0;
  GetClientLibrary()->isc_encode_sql_time(&t, &time);
  time += ISC_TIME(Millis(value)) * kIscTimeUnitsPerMSec;
  WriteValue(SQL_TYPE_TIME, sizeof time, false, 0, &time);
}

void TIBXSQLVAR::SetDateTimeValue(TDateTime value) {
  std::tm t = ToTm(value);
  ISC_TIMESTAMP stamp{};
  GetClientLibrary()->isc_encode_timestamp(&t, &stamp);
  stamp.timestamp_time += ISC_TIME(Millis(value)) * kIscTimeUnitsPerMSec;
  WriteValue(SQL_TIMESTAMP, sizeof stamp, false, 0, &stamp);
}

void TIBXSQLVAR::SetQuadValue(ISC_QUAD value) {
  if (IsNullable()) SetIsNull(false);
  int type = SqlType();
  if (type != SQL_BLOB && type != SQL_ARRAY && type != SQL_QUAD)
    db::RaiseClientError(db::ClientError::InvalidDataConversion);
  ForSameNamed([&](TIBXSQLVAR& v) {
    TSQLVAR& d = *v.sqlvar_;
    d.SetSqlLen(sizeof value);
    d.SetDataSize(sizeof value);
    std::memcpy(d.SqlData(), &value, sizeof value);
    v.modified_ = true;
  });
}

void TIBXSQLVAR::SetBooleanValue(bool value) {
  // Only this entry's own buffer, as wide as it is (Firebird's booleans are one byte wide).
  char* data = sqlvar_->SqlData();
  if (!data) return;
  int16_t flag = value ? 1 : 0;
  std::size_t width =
      std::min<std::size_t>(sizeof flag, std::max<std::size_t>(1, std::size_t(sqlvar_->SqlLen())));
  width = std::min(width, sqlvar_->DataCapacity());
  std::memcpy(data, &flag, width);
  modified_ = true;
}

namespace {
bool IsKeyEntry(const TSQLVAR& d) {
  return d.SqlNameIs("DB_KEY") || d.SqlNameIs("RDB$DB_KEY");
}
}  // namespace

void TIBXSQLVAR::WriteText(std::string_view value) {
  // As every setter: the null state goes and the type is set before anything is checked, so a
  // text that is too long leaves a non-null SQL_TEXT entry behind. The length check guards the
  // entries that take the text as it is (not the key entries).
  if (IsNullable()) SetIsNull(false);
  int nullableBit = sqlvar_->SqlType() & 1;
  ForSameNamed([&](TIBXSQLVAR& v) {
    TSQLVAR& d = *v.sqlvar_;
    if (IsKeyEntry(d)) {
      // A key entry keeps its type and length; a shorter text is padded with zero bytes.
      std::size_t n = std::min(value.size(), std::size_t(std::max(d.SqlLen(), 0)));
      n = std::min(n, d.DataCapacity());
      if (d.SqlData()) {
        std::memset(d.SqlData(), 0, std::min(d.DataCapacity(), std::size_t(d.SqlLen())));
        std::memcpy(d.SqlData(), value.data(), n);
      }
    } else {
      d.SetSqlType(SQL_TEXT | nullableBit);
      if (maxLen_ > 0 && std::size_t(maxLen_) < value.size())
        db::RaiseClientError(db::ClientError::StringTooLarge, {int(value.size()), maxLen_});
      d.SetSqlLen(int(value.size()));
      d.SetDataSize(int(value.size()) + 1);
      if (!value.empty()) std::memcpy(d.SqlData(), value.data(), value.size());
    }
    v.modified_ = true;
  });
}

void TIBXSQLVAR::SetTextValue(std::string_view value) {
  int type = SqlType();
  if (type == SQL_TEXT || type == SQL_VARYING) {
    WriteText(value);
  } else if (type == SQL_BLOB) {
    if (!statement_) db::RaiseClientError(db::ClientError::BlobCannotBeWritten);
    SetQuadValue(statement_->WriteBlob(value));
  } else if (value.empty()) {
    SetIsNull(true);
  } else if (type == SQL_TIMESTAMP || type == SQL_TYPE_TIME || type == SQL_TYPE_DATE) {
    SetDateTimeValue(rt::StrToDateTime(value));
  } else {
    WriteText(value);
  }
}

std::string TIBXSQLVAR::TextValue() const {
  if (IsNull()) return std::string();
  const char* data = sqlvar_->SqlData();
  int scale = sqlvar_->SqlScale();
  switch (SqlType()) {
    case SQL_TEXT:
      return std::string(data, std::size_t(std::max(sqlvar_->SqlLen(), 0)));
    case SQL_VARYING: {
      int n = GetClientLibrary()->isc_vax_integer(data, kVaryingPrefix);
      n = std::clamp(n, 0, std::max(sqlvar_->SqlLen(), 0));
      return std::string(data + kVaryingPrefix, std::size_t(n));
    }
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_D_FLOAT:
      return rt::FloatToStr(DoubleValue());
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
      if (scale == 0) return rt::IntToStr(Int64Value());
      if (scale >= -kCurrencyDecimals) return rt::CurrToStr(CurrencyValue());
      return rt::FloatToStr(DoubleValue());
    case SQL_TIMESTAMP:
      return rt::DateTimeToStr(DateTimeValue());
    case SQL_TYPE_TIME:
      return rt::TimeToStr(TimeValue());
    case SQL_TYPE_DATE:
      return Dialect() == SQL_DIALECT_V5 ? rt::DateTimeToStr(DateValue())
                                         : rt::DateToStr(DateValue());
    case SQL_BLOB:
      return BlobText();
    case SQL_ARRAY:
      return "(Array)";
    default:
      if (IsBoolean(SqlType())) return BooleanValue() ? "True" : "False";
      db::RaiseClientError(db::ClientError::InvalidDataConversion);
  }
}

std::string TIBXSQLVAR::TrimmedTextValue() const {
  std::string text = TextValue();
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string TIBXSQLVAR::BlobText() const {
  if (!statement_) db::RaiseClientError(db::ClientError::BlobCannotBeRead);
  return statement_->ReadBlob(QuadValue());
}

int64_t TIBXSQLVAR::Int64Value() const {
  if (IsNull()) return 0;
  const char* data = sqlvar_->SqlData();
  int scale = sqlvar_->SqlScale();
  int64_t raw = 0;
  switch (SqlType()) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
      raw = StoredInteger(SqlType(), data);
      break;
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_D_FLOAT:
      return std::llround(DoubleValue());
    case SQL_TEXT:
    case SQL_VARYING:
      return rt::StrToInt64(rt::Trim(TextValue()));
    default:
      if (IsBoolean(SqlType())) return BooleanValue() ? 1 : 0;
      db::RaiseClientError(db::ClientError::InvalidDataConversion);
  }
  // Scaled integers read as whole numbers, rounded half away from zero.
  if (scale < 0) {
    int64_t div = Pow10(-scale);
    int64_t q = raw / div, r = raw % div;
    if (2 * (r < 0 ? -r : r) >= div) q += raw < 0 ? -1 : 1;
    return q;
  }
  return scale > 0 ? raw * Pow10(scale) : raw;
}

int32_t TIBXSQLVAR::LongValue() const {
  return int32_t(Int64Value());
}

int16_t TIBXSQLVAR::ShortValue() const {
  return int16_t(Int64Value());
}

double TIBXSQLVAR::DoubleValue() const {
  if (IsNull()) return 0;
  const char* data = sqlvar_->SqlData();
  switch (SqlType()) {
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
      double v;
      std::memcpy(&v, data, sizeof v);
      return v;
    }
    case SQL_FLOAT: {
      float v;
      std::memcpy(&v, data, sizeof v);
      return v;
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
      int scale = sqlvar_->SqlScale();
      return double(StoredInteger(SqlType(), data)) * std::pow(10.0, scale);
    }
    case SQL_TEXT:
    case SQL_VARYING:
      return rt::StrToFloat(TextValue());
    default:
      db::RaiseClientError(db::ClientError::InvalidDataConversion);
  }
}

int64_t TIBXSQLVAR::CurrencyValue() const {
  if (IsNull()) return 0;
  switch (SqlType()) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
      int scale = sqlvar_->SqlScale();
      if (scale >= -kCurrencyDecimals) {
        // Exact: shift the stored digits to four decimals.
        return StoredInteger(SqlType(), sqlvar_->SqlData()) * Pow10(kCurrencyDecimals + scale);
      }
      return std::llround(DoubleValue() * double(kCurrencyScale));
    }
    default:
      return std::llround(DoubleValue() * double(kCurrencyScale));
  }
}

TDateTime TIBXSQLVAR::DateTimeValue() const {
  if (IsNull()) return 0;
  const char* data = sqlvar_->SqlData();
  auto lib = GetClientLibrary();
  switch (SqlType()) {
    case SQL_TYPE_DATE: {
      ISC_DATE date;
      std::memcpy(&date, data, sizeof date);
      std::tm t{};
      lib->isc_decode_sql_date(&date, &t);
      return FromTmDate(t);
    }
    case SQL_TYPE_TIME: {
      ISC_TIME time;
      std::memcpy(&time, data, sizeof time);
      return FromIscTime(time);
    }
    case SQL_TIMESTAMP: {
      ISC_TIMESTAMP stamp;
      std::memcpy(&stamp, data, sizeof stamp);
      std::tm t{};
      lib->isc_decode_timestamp(&stamp, &t);
      TDateTime date = FromTmDate(t);
      TDateTime time = FromIscTime(stamp.timestamp_time);
      return date < 0 ? date - time : date + time;
    }
    case SQL_TEXT:
    case SQL_VARYING:
      return rt::StrToDateTime(TextValue());
    default:
      db::RaiseClientError(db::ClientError::InvalidDataConversion);
  }
}

TDateTime TIBXSQLVAR::DateValue() const {
  if (SqlType() == SQL_TYPE_TIME) db::RaiseClientError(db::ClientError::InvalidDataConversion);
  return std::trunc(DateTimeValue());
}

TDateTime TIBXSQLVAR::TimeValue() const {
  if (SqlType() == SQL_TYPE_DATE) db::RaiseClientError(db::ClientError::InvalidDataConversion);
  TDateTime v = DateTimeValue();
  return std::fabs(v - std::trunc(v));
}

ISC_QUAD TIBXSQLVAR::QuadValue() const {
  ISC_QUAD quad{};
  if (IsNull()) return quad;
  int type = SqlType();
  if (type != SQL_BLOB && type != SQL_ARRAY && type != SQL_QUAD)
    db::RaiseClientError(db::ClientError::InvalidDataConversion);
  std::memcpy(&quad, sqlvar_->SqlData(), sizeof quad);
  return quad;
}

bool TIBXSQLVAR::BooleanValue() const {
  if (IsNull()) return false;
  if (IsBoolean(SqlType())) {
    const char* data = sqlvar_->SqlData();
    for (int i = 0; i < std::max(sqlvar_->SqlLen(), 1); ++i)
      if (data[i] != 0) return true;
    return false;
  }
  return Int64Value() != 0;
}

// ---------------------------------------------------------------------------------------------
// TIBXSQLDA

TIBXSQLDA::TIBXSQLDA(TIBSQL* statement) : statement_(statement), entrySize_(0), version_(0) {}

TIBXSQLDA::~TIBXSQLDA() = default;

int TIBXSQLDA::Dialect() const {
  return statement_ ? statement_->Dialect() : kDefaultDialect;
}

XSQLDA* TIBXSQLDA::AsXSQLDA() {
  return area_.empty() ? nullptr : reinterpret_cast<XSQLDA*>(area_.data());
}

void TIBXSQLDA::SetCount(int value) {
  names_.clear();
  count_ = value;
  if (value == 0) {
    uniqueRelationName_.clear();
    return;
  }
  names_.resize(std::size_t(value));
  if (value > size_) {
    if (entrySize_ == 0) {
      int64_t version = GetClientLibrary()->GetClientVersion();
      entrySize_ = SQLVarSize(version);
      version_ = version >= db::kClientVersion70 ? kSQLDAVersion2 : kSQLDAVersion1;
    }
    area_.resize(DescriptorAreaSize(value, entrySize_), 0);
    XSQLDA* da = AsXSQLDA();
    da->version = version_;
    for (int i = size_; i < value; ++i)
      vars_.push_back(std::make_unique<TIBXSQLVAR>(this, statement_, i));
    char* first = area_.data() + kSQLDAHeaderSize;
    for (int i = 0; i < value; ++i)
      vars_[std::size_t(i)]->Data().SetXSqlVar(first + std::size_t(i) * entrySize_);
    size_ = value;
  }
  if (size_ > 0) {
    XSQLDA* da = AsXSQLDA();
    da->sqln = ISC_SHORT(value);
    da->sqld = ISC_SHORT(value);
  }
}

TIBXSQLVAR& TIBXSQLDA::operator[](int index) {
  if (index < 0 || index >= count_) db::RaiseClientError(db::ClientError::XSQLDAIndexOutOfRange);
  return *vars_[std::size_t(index)];
}

const std::string& TIBXSQLDA::NormalizedName(int index) const {
  static const std::string kEmpty;
  if (index < 0 || std::size_t(index) >= names_.size()) return kEmpty;
  return names_[std::size_t(index)];
}

TIBXSQLVAR* TIBXSQLDA::LookupByName(std::string_view name) {
  std::string wanted = NormalizeIdentifier(Dialect(), name);
  if (wanted.empty()) return nullptr;
  for (int i = 0; i < count_ && std::size_t(i) < names_.size(); ++i)
    if (names_[std::size_t(i)] == wanted) return vars_[std::size_t(i)].get();
  return nullptr;
}

TIBXSQLVAR& TIBXSQLDA::ByName(std::string_view name) {
  TIBXSQLVAR* v = LookupByName(name);
  if (!v) db::RaiseClientError(db::ClientError::FieldNotFound, {std::string(name)});
  return *v;
}

void TIBXSQLDA::SetParamName(std::string_view name, int index) {
  if (index < 0 || index >= count_) db::RaiseClientError(db::ClientError::XSQLDAIndexOutOfRange);
  names_[std::size_t(index)] = NormalizeIdentifier(Dialect(), name);
  vars_[std::size_t(index)]->SetName(std::string(name));
}

void TIBXSQLDA::ApplyDescription() {
  bool tracking = true;
  uniqueRelationName_.clear();
  bool named = false;
  for (const std::string& n : names_)
    if (!n.empty()) named = true;
  std::size_t maxName = entrySize_ == sizeof(XSQLVAR_V2) ? kMaxNameV2 : kMaxNameV1;
  for (int i = 0; i < count_; ++i) {
    TIBXSQLVAR& v = *vars_[std::size_t(i)];
    TSQLVAR& d = v.Data();
    std::string relation = d.RelName();
    if (tracking && !relation.empty()) {
      if (uniqueRelationName_.empty()) {
        uniqueRelationName_ = relation;
      } else if (uniqueRelationName_ != relation) {
        uniqueRelationName_.clear();
        tracking = false;
      }
    }
    if (!named) {
      std::string base = d.AliasName();
      int counter = 0;
      std::string name = base;
      if (base.empty()) {
        base = "F_";
        counter = 1;
        name = base + "1";
      }
      while (LookupByName(name) != nullptr) {
        ++counter;
        std::string suffix = rt::IntToStr(counter);
        if (base.size() + suffix.size() > maxName) base.resize(maxName - suffix.size());
        name = base + suffix;
      }
      d.SetAliasName(name);
      SetParamName(name, i);
    }
    int type = v.SqlType();
    int len = d.SqlLen();
    v.SetMaxLen((type == SQL_TEXT || type == SQL_VARYING) ? len : 0);
    switch (type) {
      case SQL_VARYING:
        d.SetDataSize(len + kVaryingPrefix);
        break;
      case SQL_TEXT:
      case SQL_DOUBLE:
      case SQL_FLOAT:
      case SQL_LONG:
      case SQL_SHORT:
      case SQL_TIMESTAMP:
      case SQL_BLOB:
      case SQL_D_FLOAT:
      case SQL_ARRAY:
      case SQL_QUAD:
      case SQL_TYPE_TIME:
      case SQL_TYPE_DATE:
      case SQL_INT64:
      case SQL_BOOLEAN_V7:
      case SQL_BOOLEAN:
        d.SetDataSize(len == 0 ? 1 : len);
        break;
      default:
        db::RaiseClientError(db::ClientError::UnknownSQLDataType, {type});
    }
    if (d.SqlType() & 1)
      d.SetIndSize(kIndicatorSize);
    else
      d.SetIndSize(0);
  }
}
