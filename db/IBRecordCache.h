// The record slot of a query dataset and the cache that keeps every fetched row.
//
// A record slot is one row in a fixed-size block of bytes:
//   header | one descriptor per result column | each column's value | calculated-field area |
//   blob-pointer area
// Each value sits at its descriptor's offset in the native form of its column type, with the
// null flag and the actual data length (of variable text) in the descriptor. The window's
// record buffers have the same layout, so moving a row between the cache and a buffer is one
// copy of a slot.
//
// The cache is one contiguous block holding slot N at N x slot size. It grows in chunks of
// BufferChunks slots, so reading a large result reallocates once per chunk, not once per row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Where a record buffer stands relative to the rows.
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF };

struct TRecordHeader {
  uint8_t BookmarkFlag;
  uint8_t Reserved;
  int16_t FieldCount;
  // Row number in the cache.
  int32_t RecordNumber;
  // The row's database key when the result carries one.
  uint8_t DBKey[8];
};

struct TFieldDescriptor {
  // Type code without the nullable bit.
  int16_t SQLType;
  int16_t Scale;
  uint8_t Nullable;
  uint8_t IsNull;
  // Bytes reserved for the value.
  uint16_t DataSize;
  // Actual length of a text value.
  uint16_t DataLength;
  uint16_t Reserved;
  // Offset of the value from the start of the slot.
  uint32_t DataOfs;
};

static_assert(sizeof(TRecordHeader) == 16, "record header layout");
static_assert(sizeof(TFieldDescriptor) == 16, "column descriptor layout");

inline TRecordHeader* RecordHeader(char* record) {
  return reinterpret_cast<TRecordHeader*>(record);
}
inline const TRecordHeader* RecordHeader(const char* record) {
  return reinterpret_cast<const TRecordHeader*>(record);
}
inline TFieldDescriptor* RecordDescriptors(char* record) {
  return reinterpret_cast<TFieldDescriptor*>(record + sizeof(TRecordHeader));
}
inline const TFieldDescriptor* RecordDescriptors(const char* record) {
  return reinterpret_cast<const TFieldDescriptor*>(record + sizeof(TRecordHeader));
}

// Growth step of the record cache when none is set, in records.
constexpr int kDefaultBufferChunks = 1000;

class TIBRecordCache {
 public:
  TIBRecordCache() = default;
  TIBRecordCache(const TIBRecordCache&) = delete;
  TIBRecordCache& operator=(const TIBRecordCache&) = delete;

  // Sets the slot size and allocates the first chunk. A unidirectional cache keeps two slots
  // (row N in slot N mod 2).
  void Allocate(std::size_t slotSize, int bufferChunks, bool uniDirectional);
  // Frees the block; sizes and position become 0.
  void Release();

  // Copies `record` into the slot of `row` / the slot of `row` into `record`. Each access
  // leaves the position one slot beyond the row and grows the block by whole chunks while the
  // position is at or beyond its end.
  void Write(int row, const char* record);
  void Read(int row, char* record);

  std::size_t SlotSize() const { return slotSize_; }
  std::size_t ChunkSize() const { return chunkSize_; }
  // Bytes currently allocated.
  std::size_t Size() const { return size_; }

 private:
  struct FreeBlock {
    void operator()(char* block) const { std::free(block); }
  };
  char* SlotAddress(int row);
  void GrowPast(std::size_t position);

  std::unique_ptr<char, FreeBlock> block_;
  std::size_t slotSize_ = 0;
  std::size_t chunkSize_ = 0;
  std::size_t size_ = 0;
  std::size_t position_ = 0;
  bool uniDirectional_ = false;
};
