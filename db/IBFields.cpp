#include "db/IBFields.h"

void TIBStringField::SetSize(int size) {
  TStringField::SetSize(size);
  buffer_.reset();
}

std::string TIBStringField::StringValue() const {
  if (!buffer_) buffer_ = std::make_unique<char[]>(static_cast<std::size_t>(Size()) + 1);
  if (!GetData(buffer_.get())) return {};
  return std::string(buffer_.get());
}
