// Descriptor areas of a statement: the parameter area and the result area.
//
// A `TIBXSQLDA` owns one contiguous client-API descriptor area (a header followed by `sqln`
// entries) and one `TIBXSQLVAR` per entry. A `TIBXSQLVAR` gives typed access to its entry's value
// buffer and null indicator and reaches the raw entry through a `TSQLVAR` accessor whose subclass
// matches the entry layout the client library speaks (`TSQLVAR_V1` for the basic 32-character
// layout, `TSQLVAR_V2` for the extended 68-character layout of client versions from 7.0).
//
// Invariants:
// - The area buffer only grows; entries keep their addresses until the next growth, after which
//   every wrapper is pointed at its entry again.
// - Value and indicator buffers belong to the accessor; the entry only points at them. A value
//   buffer is allocated again only when it must grow, so writing new values of the same or a
//   smaller size allocates nothing.
// - Setters change every entry of the area whose (normalised) name equals this entry's name, so a
//   parameter used twice under one name receives the value twice.
#pragma once

#include <ibase.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/IBIntf.h"
#include "runtime/DateTime.h"

class TIBSQL;
class TIBXSQLDA;

// The extended entry layout (client versions from 7.0): a precision field and 68-character names.
struct XSQLVAR_V2 {
  ISC_SHORT sqltype;
  ISC_SHORT sqlscale;
  ISC_SHORT sqlprecision;
  ISC_SHORT sqlsubtype;
  ISC_SHORT sqllen;
  ISC_SCHAR* sqldata;
  ISC_SHORT* sqlind;
  ISC_SHORT sqlname_length;
  ISC_SCHAR sqlname[68];
  ISC_SHORT relname_length;
  ISC_SCHAR relname[68];
  ISC_SHORT ownname_length;
  ISC_SCHAR ownname[68];
  ISC_SHORT aliasname_length;
  ISC_SCHAR aliasname[68];
};

// Area version written into the header for each entry layout.
constexpr ISC_SHORT kSQLDAVersion1 = SQLDA_VERSION1;
constexpr ISC_SHORT kSQLDAVersion2 = 2;

// The boolean type code of client versions from 7.0; Firebird describes its booleans as
// SQL_BOOLEAN (32764). Both are handled alike.
constexpr int SQL_BOOLEAN_V7 = 590;

// Bytes of the area header: everything in front of the first entry.
constexpr std::size_t kSQLDAHeaderSize = offsetof(XSQLDA, sqlvar);

// Bytes of one entry in the layout the given client version uses.
std::size_t SQLVarSize(int64_t clientVersion);

// Bytes to allocate for an area of `n` entries of `entrySize` bytes. The first entry is always
// reserved at the size of the largest layout, so a one-entry area fits either.
std::size_t DescriptorAreaSize(int n, std::size_t entrySize);

// Raw access to one entry of a descriptor area, whatever its layout. Also owns the entry's value
// buffer and null indicator.
class TSQLVAR {
 public:
  TSQLVAR() = default;
  TSQLVAR(const TSQLVAR&) = delete;
  TSQLVAR& operator=(const TSQLVAR&) = delete;
  virtual ~TSQLVAR() = default;

  virtual std::string AliasName() const = 0;
  virtual std::string OwnName() const = 0;
  virtual std::string RelName() const = 0;
  virtual char* SqlData() const = 0;
  virtual short* SqlInd() const = 0;
  virtual int SqlLen() const = 0;
  virtual std::string SqlName() const = 0;
  virtual int SqlPrecision() const = 0;
  virtual int SqlScale() const = 0;
  virtual int SqlSubtype() const = 0;
  // The type code including the nullable bit.
  virtual int SqlType() const = 0;
  virtual void* XSqlVar() const = 0;
  // Compares the SQL name without copying it.
  virtual bool SqlNameIs(std::string_view name) const = 0;

  virtual void SetAliasName(std::string_view value) = 0;
  virtual void SetOwnName(std::string_view value) = 0;
  virtual void SetRelName(std::string_view value) = 0;
  virtual void SetSqlName(std::string_view value) = 0;
  virtual void SetSqlData(char* value) = 0;
  virtual void SetSqlInd(short* value) = 0;
  virtual void SetSqlLen(int value) = 0;
  virtual void SetSqlPrecision(int value) = 0;
  virtual void SetSqlScale(int value) = 0;
  virtual void SetSqlSubtype(int value) = 0;
  virtual void SetSqlType(int value) = 0;
  virtual void SetXSqlVar(void* entry) = 0;

  // Makes the value buffer at least `size` bytes and points the entry at it; 0 frees it.
  virtual void SetDataSize(int size);
  // Gives the entry a 16-bit null indicator (size 2) or takes it away (size 0).
  virtual void SetIndSize(int size);

  // Bytes currently reserved for the value (never less than the last SetDataSize).
  std::size_t DataCapacity() const { return capacity_; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  short indicator_ = 0;
};

// The accessors both entry layouts share; `Entry` is the layout's struct.
template <class Entry>
class TSQLVARLayout : public TSQLVAR {
 public:
  std::string AliasName() const override;
  std::string OwnName() const override;
  std::string RelName() const override;
  char* SqlData() const override { return entry_->sqldata; }
  short* SqlInd() const override { return entry_->sqlind; }
  int SqlLen() const override { return entry_->sqllen; }
  std::string SqlName() const override;
  int SqlScale() const override { return entry_->sqlscale; }
  int SqlSubtype() const override { return entry_->sqlsubtype; }
  int SqlType() const override { return entry_->sqltype; }
  void* XSqlVar() const override { return entry_; }
  bool SqlNameIs(std::string_view name) const override;

  void SetAliasName(std::string_view value) override;
  void SetOwnName(std::string_view value) override;
  void SetRelName(std::string_view value) override;
  void SetSqlName(std::string_view value) override;
  void SetSqlData(char* value) override { entry_->sqldata = value; }
  void SetSqlInd(short* value) override { entry_->sqlind = value; }
  void SetSqlLen(int value) override { entry_->sqllen = ISC_SHORT(value); }
  void SetSqlScale(int value) override { entry_->sqlscale = ISC_SHORT(value); }
  void SetSqlSubtype(int value) override { entry_->sqlsubtype = ISC_SHORT(value); }
  void SetSqlType(int value) override { entry_->sqltype = ISC_SHORT(value); }
  void SetXSqlVar(void* entry) override { entry_ = static_cast<Entry*>(entry); }

 protected:
  Entry* entry_ = nullptr;
};

// Accessor for the basic entry layout (32-character names, no precision field).
class TSQLVAR_V1 : public TSQLVARLayout<XSQLVAR> {
 public:
  // This layout has no precision field: the width of the integer type stands in.
  int SqlPrecision() const override;
  void SetSqlPrecision(int) override {}
};

// Accessor for the extended entry layout (68-character names and a precision field).
class TSQLVAR_V2 : public TSQLVARLayout<XSQLVAR_V2> {
 public:
  int SqlPrecision() const override { return entry_->sqlprecision; }
  void SetSqlPrecision(int value) override { entry_->sqlprecision = ISC_SHORT(value); }
};

// One entry of a descriptor area with typed reads and writes of its value.
class TIBXSQLVAR {
 public:
  TIBXSQLVAR(TIBXSQLDA* parent, TIBSQL* statement, int index);
  TIBXSQLVAR(const TIBXSQLVAR&) = delete;
  TIBXSQLVAR& operator=(const TIBXSQLVAR&) = delete;

  int Index() const { return index_; }
  // The name as given to the area (the alias for result columns, the parameter name for
  // parameters).
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  // The described length of text entries; 0 for other types.
  int MaxLen() const { return maxLen_; }
  void SetMaxLen(int value) { maxLen_ = value; }
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  TSQLVAR& Data() { return *sqlvar_; }
  const TSQLVAR& Data() const { return *sqlvar_; }
  // The type code without the nullable bit.
  int SqlType() const { return sqlvar_->SqlType() & ~1; }

  std::string TextValue() const;
  void SetTextValue(std::string_view value);
  // The text read with trailing blanks removed.
  std::string TrimmedTextValue() const;
  int16_t ShortValue() const;
  void SetShortValue(int16_t value);
  int32_t LongValue() const;
  void SetLongValue(int32_t value);
  int64_t Int64Value() const;
  void SetInt64Value(int64_t value);
  double DoubleValue() const;
  void SetDoubleValue(double value);
  // Currency values are counts of ten-thousandths (1.5 is 15 000).
  int64_t CurrencyValue() const;
  void SetCurrencyValue(int64_t value);
  TDateTime DateValue() const;
  void SetDateValue(TDateTime value);
  TDateTime TimeValue() const;
  void SetTimeValue(TDateTime value);
  TDateTime DateTimeValue() const;
  void SetDateTimeValue(TDateTime value);
  ISC_QUAD QuadValue() const;
  void SetQuadValue(ISC_QUAD value);
  bool BooleanValue() const;
  void SetBooleanValue(bool value);
  bool IsNull() const;
  void SetIsNull(bool value);
  bool IsNullable() const;
  void SetIsNullable(bool value);

 private:
  // Calls `f` for every entry of the parent area that carries this entry's name (this one
  // included). Allocates nothing.
  template <class F>
  void ForSameNamed(F&& f);
  // True when `f` holds for some entry of this entry's name.
  template <class F>
  bool AnySameNamed(F&& f);
  // Clears the null state, then gives each same-named entry `type` (keeping its own nullable
  // bit), `len` and `scale` (when `setScale`), a value buffer of `len` bytes and the `len`
  // bytes at `value`.
  void WriteValue(int type, int len, bool setScale, int scale, const void* value);
  void WriteText(std::string_view value);
  std::string BlobText() const;
  int Dialect() const;

  TIBXSQLDA* parent_;
  TIBSQL* statement_;
  int index_;
  std::string name_;
  int maxLen_ = 0;
  bool modified_ = false;
  std::unique_ptr<TSQLVAR> sqlvar_;
};

// One client-API descriptor area and its entry wrappers.
class TIBXSQLDA {
 public:
  explicit TIBXSQLDA(TIBSQL* statement);
  TIBXSQLDA(const TIBXSQLDA&) = delete;
  TIBXSQLDA& operator=(const TIBXSQLDA&) = delete;
  ~TIBXSQLDA();

  TIBSQL* Statement() const { return statement_; }
  // Entries in use.
  int Count() const { return count_; }
  void SetCount(int value);
  // Entries allocated (never shrinks).
  int Size() const { return size_; }

  // The entry at `index`; outside 0 .. Count - 1 raises "XSQLDA index out of range".
  TIBXSQLVAR& operator[](int index);
  // The entry of that name, or nullptr.
  TIBXSQLVAR* LookupByName(std::string_view name);
  // The entry of that name; absent raises "Field "%s" not found".
  TIBXSQLVAR& ByName(std::string_view name);
  // Names the entry at `index`; the name list keeps it normalised for look-ups.
  void SetParamName(std::string_view name, int index);
  // The normalised name of the entry at `index` (empty when not named).
  const std::string& NormalizedName(int index) const;
  // The single table all entries come from, or empty.
  const std::string& UniqueRelationName() const { return uniqueRelationName_; }

  // The area for client-API calls; nullptr while nothing was ever allocated.
  XSQLDA* AsXSQLDA();
  // Sets up names, maximum lengths, value buffers and indicators from what the server described.
  void ApplyDescription();

 private:
  int Dialect() const;

  TIBSQL* statement_;
  int count_ = 0;
  int size_ = 0;
  std::size_t entrySize_;
  ISC_SHORT version_;
  std::vector<char> area_;
  std::vector<std::unique_ptr<TIBXSQLVAR>> vars_;
  std::vector<std::string> names_;
  std::string uniqueRelationName_;
};
