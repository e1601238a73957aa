// Named parameters of a query: the collection built from the `:Name` places of the SQL text,
// each parameter holding a typed value that is later bound to the statement by position.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "db/FieldType.h"
#include "runtime/DateTime.h"

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// The kinds of value a parameter holds. `std::monostate` is the empty value (never assigned);
// TNullValue is an explicit null.
struct TNullValue {
  bool operator==(const TNullValue&) const = default;
};
// Fixed-point value with four decimals, kept as the value times 10 000.
struct TCurrencyValue {
  int64_t Scaled = 0;
  bool operator==(const TCurrencyValue&) const = default;
};
struct TDateTimeValue {
  TDateTime Value = 0;
  bool operator==(const TDateTimeValue&) const = default;
};
// A decimal number in its plain text form ("-12.3400").
struct TDecimalValue {
  std::string Text;
  bool operator==(const TDecimalValue&) const = default;
};
struct TBytesValue {
  std::string Bytes;
  bool operator==(const TBytesValue&) const = default;
};
using TParamValue = std::variant<std::monostate, TNullValue, std::string, int32_t, int64_t, double,
                                 TCurrencyValue, TDateTimeValue, TDecimalValue, TBytesValue>;

class TParam {
 public:
  explicit TParam(std::string name = {}) : Name(std::move(name)) {}

  std::string Name;
  TFieldType DataType = ftUnknown;
  TParamType ParamType = ptUnknown;
  int Size = 0;
  int Precision = 0;
  int NumericScale = 0;

  const TParamValue& Value() const { return value_; }
  bool Bound() const { return bound_; }
  // True when never assigned, cleared, or holding a null value.
  bool IsNull() const;

  // The text becomes the value; the type becomes ftString unless it is ftFixedChar.
  void AssignString(std::string_view text);
  void AssignInteger(int32_t value);
  void AssignLargeint(int64_t value);
  void AssignFloat(double value);
  // Sets a value of the given type as it is (used for copies and the less common types).
  void AssignValue(TFieldType dataType, TParamValue value);
  // Back to no value: null, not bound.
  void Clear();

  // Empty when null; "True"/"False" for ftBoolean; otherwise the value as text.
  std::string AsString() const;
  // 0 when null; otherwise the value as an integer (text is converted, raising EConvertError).
  int32_t AsInteger() const;
  int64_t AsLargeint() const;
  double AsFloat() const;
  int64_t AsCurrencyScaled() const;
  TDateTime AsDateTime() const;

  // Copies type, value, null and bound state, sizes, and the parameter type when this one has
  // none: what a parameter keeps when the text of its query is rewritten.
  void AssignParam(const TParam& source);

 private:
  TParamValue value_;
  bool null_ = true;
  bool bound_ = false;
};

class TParams {
 public:
  // `ownerName`, when given, is the name of the component the collection belongs to, read at
  // the time of an error so that its messages carry the owner's current name.
  explicit TParams(const std::string* ownerName = nullptr) : ownerName_(ownerName) {}
  TParams(const TParams&) = delete;
  TParams& operator=(const TParams&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TParam* Items(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
  TParam* operator[](int index) const { return Items(index); }
  TParam* Add(std::string name);
  void Clear() { items_.clear(); }

  // First parameter whose name equals `name` ignoring letter case; nullptr when there is none.
  TParam* LookupParam(std::string_view name) const;
  // As LookupParam; a missing name raises "Parameter '%s' not found" with the owner's name.
  TParam* GetParam(std::string_view name) const;

  // Scans the SQL text for `:Name` places and returns the text with each of them replaced by
  // "?". With `doCreate` the collection is emptied first and receives one parameter per place,
  // in order. Quoted literals ('...', "...", `...`) hold no parameters; "::" stands for one
  // literal colon; a name written as :"Some Name" keeps its delimiters and loses its quotes.
  std::string ParseSQL(std::string_view sql, bool doCreate);

  // Replaces the collection by copies of `source`'s parameters, values included.
  void Assign(const TParams& source);
  // For every parameter of this collection that `source` also has (names ignoring case), takes
  // over the source parameter's value.
  void AssignValues(const TParams& source);

  std::string OwnerName() const { return ownerName_ ? *ownerName_ : std::string(); }

 private:
  std::vector<std::unique_ptr<TParam>> items_;
  const std::string* ownerName_;
};
