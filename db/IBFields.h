// Field classes of the query datasets: text read straight from the record into a buffer the
// field keeps, and fixed-point values with a declared scale.
#pragma once

#include <memory>
#include <string>

#include "db/Fields.h"

class TIBStringField : public TStringField {
 public:
  explicit TIBStringField(int size = 20) : TStringField(size) {}
  void SetSize(int size) override;

  // The value as text, up to its first zero byte; empty when null. Reads into a buffer of
  // Size + 1 bytes that is allocated at the first read and kept.
  std::string StringValue() const override;

 private:
  mutable std::unique_ptr<char[]> buffer_;
};

class TIBBCDField : public TBCDField {
 public:
  explicit TIBBCDField(int size = 4) : TBCDField(size) {}
};
