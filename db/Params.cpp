#include "db/Params.h"

#include <cmath>
#include <cstdio>

#include "db/DatabaseError.h"
#include "runtime/Exception.h"
#include "runtime/Text.h"

namespace {

// Lower-case form of a Windows-1252 byte: A-Z, the accented capitals C0-DE (except the
// multiplication sign D7) and the capitals 8A, 8C, 8E, 9F of the upper half.
unsigned char FoldCase(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  switch (c) {
    case 0x8A:
      return 0x9A;
    case 0x8C:
      return 0x9C;
    case 0x8E:
      return 0x9E;
    case 0x9F:
      return 0xFF;
    default:
      return c;
  }
}

// Compares two names of single-byte text without regard to letter case, accented letters
// included.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool IsQuote(char c) {
  return c == '\'' || c == '"' || c == '`';
}

// Characters that end an unquoted parameter name.
bool IsNameDelimiter(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

std::string FloatText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

std::string CurrencyText(int64_t scaled) {
  // Four decimals at most, trailing zeros dropped, as a plain number.
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : scaled;
  std::string text = std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04llu", static_cast<unsigned long long>(fraction));
    std::string tail(digits);
    while (!tail.empty() && tail.back() == '0') tail.pop_back();
    text += "." + tail;
  }
  return negative ? "-" + text : text;
}

std::string DateTimeText(TDateTime value) {
  int year, month, day, hour, minute, second, msec;
  rt::DecodeDate(value, year, month, day);
  rt::DecodeTime(value, hour, minute, second, msec);
  char buffer[48];
  if (hour == 0 && minute == 0 && second == 0) {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", day, month, year);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", day, month, year, hour,
                  minute, second);
  }
  return buffer;
}

// Rounds half to even, as the variant conversions to integer do.
int64_t RoundToInteger(double value) {
  return static_cast<int64_t>(std::nearbyint(value));
}

}  // namespace

bool TParam::IsNull() const {
  return null_ || std::holds_alternative<TNullValue>(value_) ||
         std::holds_alternative<std::monostate>(value_);
}

void TParam::AssignString(std::string_view text) {
  if (DataType != ftFixedChar) DataType = ftString;
  value_ = std::string(text);
  null_ = false;
  bound_ = true;
}

void TParam::AssignInteger(int32_t value) {
  AssignValue(ftInteger, value);
}

void TParam::AssignLargeint(int64_t value) {
  AssignValue(ftLargeint, value);
}

void TParam::AssignFloat(double value) {
  AssignValue(ftFloat, value);
}

void TParam::AssignValue(TFieldType dataType, TParamValue value) {
  DataType = dataType;
  value_ = std::move(value);
  null_ =
      std::holds_alternative<TNullValue>(value_) || std::holds_alternative<std::monostate>(value_);
  bound_ = !std::holds_alternative<std::monostate>(value_);
}

void TParam::Clear() {
  value_ = std::monostate{};
  null_ = true;
  bound_ = false;
}

std::string TParam::AsString() const {
  if (IsNull()) return {};
  if (DataType == ftBoolean) return AsInteger() != 0 ? "True" : "False";
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>)
          return v;
        else if constexpr (std::is_same_v<T, int32_t> || std::is_same_v<T, int64_t>)
          return rt::IntToStr(v);
        else if constexpr (std::is_same_v<T, double>)
          return FloatText(v);
        else if constexpr (std::is_same_v<T, TCurrencyValue>)
          return CurrencyText(v.Scaled);
        else if constexpr (std::is_same_v<T, TDateTimeValue>)
          return DateTimeText(v.Value);
        else if constexpr (std::is_same_v<T, TDecimalValue>)
          return v.Text;
        else if constexpr (std::is_same_v<T, TBytesValue>)
          return v.Bytes;
        else
          return {};
      },
      value_);
}

int64_t TParam::AsLargeint() const {
  if (IsNull()) return 0;
  return std::visit(
      [](const auto& v) -> int64_t {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>)
          return rt::StrToInt64(v);
        else if constexpr (std::is_same_v<T, int32_t> || std::is_same_v<T, int64_t>)
          return v;
        else if constexpr (std::is_same_v<T, double>)
          return RoundToInteger(v);
        else if constexpr (std::is_same_v<T, TCurrencyValue>)
          return RoundToInteger(static_cast<double>(v.Scaled) / 10000.0);
        else if constexpr (std::is_same_v<T, TDateTimeValue>)
          return RoundToInteger(v.Value);
        else if constexpr (std::is_same_v<T, TDecimalValue>)
          return RoundToInteger(std::strtod(v.Text.c_str(), nullptr));
        else if constexpr (std::is_same_v<T, TBytesValue>)
          return rt::StrToInt64(v.Bytes);
        else
          return 0;
      },
      value_);
}

int32_t TParam::AsInteger() const {
  if (IsNull()) return 0;
  if (const auto* text = std::get_if<std::string>(&value_)) return rt::StrToInt(*text);
  return static_cast<int32_t>(AsLargeint());
}

double TParam::AsFloat() const {
  if (IsNull()) return 0;
  return std::visit(
      [](const auto& v) -> double {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, TBytesValue>) {
          const std::string& text = [&]() -> const std::string& {
            if constexpr (std::is_same_v<T, std::string>)
              return v;
            else
              return v.Bytes;
          }();
          char* end = nullptr;
          const std::string trimmed = rt::Trim(text);
          double result = std::strtod(trimmed.c_str(), &end);
          if (trimmed.empty() || *end != '\0')
            throw EConvertError("'" + text + "' is not a valid floating point value");
          return result;
        } else if constexpr (std::is_same_v<T, int32_t> || std::is_same_v<T, int64_t>) {
          return static_cast<double>(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return v;
        } else if constexpr (std::is_same_v<T, TCurrencyValue>) {
          return static_cast<double>(v.Scaled) / 10000.0;
        } else if constexpr (std::is_same_v<T, TDateTimeValue>) {
          return v.Value;
        } else if constexpr (std::is_same_v<T, TDecimalValue>) {
          return std::strtod(v.Text.c_str(), nullptr);
        } else {
          return 0;
        }
      },
      value_);
}

int64_t TParam::AsCurrencyScaled() const {
  if (IsNull()) return 0;
  if (const auto* currency = std::get_if<TCurrencyValue>(&value_)) return currency->Scaled;
  if (std::holds_alternative<int32_t>(value_) || std::holds_alternative<int64_t>(value_))
    return AsLargeint() * 10000;
  return RoundToInteger(AsFloat() * 10000.0);
}

TDateTime TParam::AsDateTime() const {
  return AsFloat();
}

void TParam::AssignParam(const TParam& source) {
  DataType = source.DataType;
  value_ = source.value_;
  null_ = source.null_;
  bound_ = source.bound_;
  if (ParamType == ptUnknown) ParamType = source.ParamType;
  Size = source.Size;
  Precision = source.Precision;
  NumericScale = source.NumericScale;
}

TParam* TParams::Add(std::string name) {
  items_.push_back(std::make_unique<TParam>(std::move(name)));
  return items_.back().get();
}

TParam* TParams::LookupParam(std::string_view name) const {
  for (const auto& item : items_) {
    if (SameName(item->Name, name)) return item.get();
  }
  return nullptr;
}

TParam* TParams::GetParam(std::string_view name) const {
  TParam* param = LookupParam(name);
  if (param == nullptr)
    DatabaseError("Parameter '" + std::string(name) + "' not found", OwnerName());
  return param;
}

std::string TParams::ParseSQL(std::string_view sql, bool doCreate) {
  if (doCreate) Clear();
  std::string result;
  result.reserve(sql.size());
  bool literal = false;
  std::size_t i = 0;
  const std::size_t n = sql.size();
  while (i < n) {
    const char c = sql[i];
    if (c == ':' && !literal) {
      if (i + 1 < n && sql[i + 1] == ':') {
        // "::" is one literal colon; the colon that stays is not looked at again.
        result += ':';
        i += 2;
        continue;
      }
      // The name runs to a delimiter outside quotes; quotes inside it switch the literal state
      // like anywhere else.
      const std::size_t start = i + 1;
      std::size_t end = start;
      bool quotedName = false;
      while (end < n && (literal || !IsNameDelimiter(sql[end]))) {
        if (IsQuote(sql[end])) {
          literal = !literal;
          if (end == start) quotedName = true;
        }
        ++end;
      }
      std::string name(sql.substr(start, end - start));
      if (quotedName) {
        if (!name.empty() && IsQuote(name.front())) name.erase(0, 1);
        if (!name.empty() && IsQuote(name.back())) name.pop_back();
      }
      if (doCreate) Add(std::move(name));
      result += '?';
      // The delimiter that ended the name is copied without being examined.
      if (end < n) result += sql[end];
      i = end + 1;
      continue;
    }
    if (IsQuote(c)) literal = !literal;
    result += c;
    ++i;
  }
  return result;
}

void TParams::Assign(const TParams& source) {
  if (&source == this) return;
  Clear();
  for (const auto& item : source.items_) {
    TParam* copy = Add(item->Name);
    copy->ParamType = item->ParamType;
    copy->AssignParam(*item);
  }
}

void TParams::AssignValues(const TParams& source) {
  for (const auto& item : source.items_) {
    if (TParam* target = LookupParam(item->Name)) target->AssignParam(*item);
  }
}
