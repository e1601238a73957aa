#include "db/FieldType.h"

TFieldType BaseFieldType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftWord:
    case ftAutoInc:
      return ftInteger;
    case ftCurrency:
      return ftFloat;
    case ftDate:
    case ftTime:
      return ftDateTime;
    case ftFixedChar:
    case ftGuid:
      return ftString;
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftTypedBinary:
      return ftBlob;
    default:
      return type;
  }
}

std::string FieldTypeName(TFieldType type) {
  switch (type) {
    case ftUnknown:
      return "Unknown";
    case ftString:
      return "String";
    case ftSmallint:
      return "SmallInt";
    case ftInteger:
      return "Integer";
    case ftWord:
      return "Word";
    case ftBoolean:
      return "Boolean";
    case ftFloat:
      return "Float";
    case ftCurrency:
      return "Currency";
    case ftBCD:
      return "BCD";
    case ftDate:
      return "Date";
    case ftTime:
      return "Time";
    case ftDateTime:
      return "DateTime";
    case ftBytes:
      return "Bytes";
    case ftVarBytes:
      return "VarBytes";
    case ftAutoInc:
      return "AutoInc";
    case ftBlob:
      return "Blob";
    case ftMemo:
      return "Memo";
    case ftGraphic:
      return "Graphic";
    case ftFmtMemo:
      return "FmtMemo";
    case ftTypedBinary:
      return "TypedBinary";
    case ftFixedChar:
      return "FixedChar";
    case ftWideString:
      return "WideString";
    case ftLargeint:
      return "LargeInt";
    case ftReference:
      return "Reference";
    case ftGuid:
      return "Guid";
    case ftTimeStamp:
      return "TimeStamp";
    case ftFMTBcd:
      return "FMTBcd";
  }
  return "Unknown";
}
