// Column definitions of a dataset: one per usable column of the result, in result order, with
// the type, size and attributes that fields are created from and bound against.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/FieldType.h"

// Attributes of a column definition (bit set).
enum TFieldAttribute : unsigned {
  faHiddenCol = 1,
  faReadonly = 2,
  faRequired = 4,
  faLink = 8,
  faUnNamed = 16,
  faFixed = 32
};
using TFieldAttributes = unsigned;

class TFieldDef {
 public:
  std::string Name;
  // 1-based position of the column in the statement's result.
  int FieldNo = 0;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  int Precision = 0;
  bool Required = false;
  TFieldAttributes Attributes = 0;
  // Computed by the server (read-only, never required).
  bool InternalCalcField = false;

  bool Has(TFieldAttribute attribute) const { return (Attributes & attribute) != 0; }
};

class TFieldDefs {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TFieldDef& Items(int index) { return *items_.at(static_cast<std::size_t>(index)); }
  const TFieldDef& Items(int index) const { return *items_.at(static_cast<std::size_t>(index)); }
  TFieldDef& AddFieldDef();
  void Clear() { items_.clear(); }
  // Index of the definition named `name` (ignoring letter case), or -1.
  int IndexOf(std::string_view name) const;
  TFieldDef* Find(std::string_view name);

 private:
  std::vector<std::unique_ptr<TFieldDef>> items_;
};
