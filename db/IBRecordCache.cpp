#include "db/IBRecordCache.h"

#include <cstring>
#include <new>

void TIBRecordCache::Allocate(std::size_t slotSize, int bufferChunks, bool uniDirectional) {
  Release();
  slotSize_ = slotSize;
  uniDirectional_ = uniDirectional;
  const std::size_t records = uniDirectional ? 2 : static_cast<std::size_t>(bufferChunks);
  chunkSize_ = slotSize * records;
  GrowPast(0);
}

void TIBRecordCache::Release() {
  block_.reset();
  slotSize_ = 0;
  chunkSize_ = 0;
  size_ = 0;
  position_ = 0;
}

char* TIBRecordCache::SlotAddress(int row) {
  const std::size_t slot =
      uniDirectional_ ? static_cast<std::size_t>(row % 2) : static_cast<std::size_t>(row);
  position_ = slot * slotSize_;
  // A slot is always whole inside the block: growth happens as soon as the position reaches
  // the end, and a jump ahead grows as far as needed.
  if (position_ + slotSize_ > size_) GrowPast(position_ + slotSize_ - 1);
  return block_.get() + position_;
}

void TIBRecordCache::Write(int row, const char* record) {
  std::memcpy(SlotAddress(row), record, slotSize_);
  position_ += slotSize_;
  if (position_ >= size_) GrowPast(position_);
}

void TIBRecordCache::Read(int row, char* record) {
  std::memcpy(record, SlotAddress(row), slotSize_);
  position_ += slotSize_;
  if (position_ >= size_) GrowPast(position_);
}

void TIBRecordCache::GrowPast(std::size_t position) {
  if (chunkSize_ == 0) return;
  std::size_t newSize = size_;
  do {
    newSize += chunkSize_;
  } while (position >= newSize);
  char* grown = static_cast<char*>(std::realloc(block_.get(), newSize));
  if (grown == nullptr) throw std::bad_alloc();
  block_.release();
  block_.reset(grown);
  size_ = newSize;
}
