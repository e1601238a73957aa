// The data types of fields, column definitions and parameters, and the grouping of types that
// may bind to each other.
#pragma once

#include <string>

enum TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftTypedBinary,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftReference,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd
};

// The type a field of `type` is checked against when it binds to a column definition: the
// small integer types count as integers, currency as float, dates and times as date-time,
// fixed text and GUIDs as text, every large object as a blob; the rest only as themselves.
TFieldType BaseFieldType(TFieldType type);

// Readable name of a type, used in binding messages.
std::string FieldTypeName(TFieldType type);
