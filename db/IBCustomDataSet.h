// The query dataset's machinery: its select statement, the activation of connection and
// transaction, the column definitions built from the select statement's result description, and the
// record cache that keeps every fetched row for the window of the general dataset.
//
// Invariants:
//  - the select statement is prepared and the column definitions describe it exactly while the
//    dataset is internally prepared;
//  - while open with a cursor, rows 0 .. CachedRowCount - 1 are in the record cache, and the
//    current cache row is the row of the window's last buffer (or -1 before the first);
//  - a row is fetched from the server only when navigation first needs it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/DataSet.h"
#include "db/IBBase.h"
#include "db/IBRecordCache.h"

class TIBSQL;
class TIBXSQLDA;

class TIBCustomDataSet : public TDataSet, public TIBBaseOwner {
 public:
  explicit TIBCustomDataSet(std::string name = {});
  ~TIBCustomDataSet() override;

  TIBDatabase* Database() const { return base_.Database(); }
  // Only while closed; drops the internal preparation.
  void SetDatabase(TIBDatabase* value) override;
  TIBTransaction* Transaction() const { return base_.Transaction(); }
  void SetTransaction(TIBTransaction* value);

  // Growth step of the record cache in rows; 0 or less stores the default 1000.
  int BufferChunks() const { return bufferChunks_; }
  void SetBufferChunks(int value);
  // Keep only two rows in the cache (row N in slot N mod 2).
  bool UniDirectional = false;
  // Scan the select text for named parameters before preparing it.
  bool ParamCheck = true;

  // The statement that produces the rows.
  TIBSQL& SelectSQL() { return *qSelect_; }

  bool InternalPrepared() const { return internalPrepared_; }
  bool CursorOpen() const { return cursorOpen_; }

  bool GetFieldData(const TField* field, void* buffer) override;

  // The record cache as it stands: rows fetched so far, bytes per slot, bytes allocated.
  int CachedRowCount() const { return cachedRowCount_; }
  std::size_t RecordSlotSize() const { return recordCache_.SlotSize(); }
  std::size_t RecordCacheSize() const { return recordCache_.Size(); }

  // TIBBaseOwner.
  bool IsDataSet() const override { return true; }
  bool IsOpenDataSet() const override { return Active(); }
  void ConnectChange(bool connecting) override;

 protected:
  // Connects the database when needed (client errors 24 and 25 without database or
  // transaction).
  void ActivateConnection();
  // Starts the transaction when it is not active; true when it did.
  bool ActivateTransaction();
  // The transaction's automatic-stop check.
  void DeactivateTransaction();

  // Prepares the select statement and builds the column definitions, unless that is done
  // already.
  void InternalPrepare();
  void InternalUnPrepare();

  // TDataSet.
  void OpenCursor() override;
  void CloseCursor() override;
  void InternalFirst() override;
  void InternalSetToRecord(char* buffer) override;
  TGetResult GetRecord(char* buffer, TGetMode mode) override;
  std::unique_ptr<char[]> AllocRecordBuffer() override;
  std::unique_ptr<TField> CreateFieldFor(const TFieldDef& definition) override;

  // Whether the prepared select statement returns rows.
  bool ReturnsRows() const;
  // Runs when the select statement's text is about to change, after the dataset has closed and
  // dropped its internal preparation.
  virtual void SelectTextChanging() {}

 private:
  // What one result column needs beyond its definition.
  struct TColumnInfo {
    std::string RelationName;
    std::string SqlName;
    // Type of the column's definition (ftUnknown when it has none).
    TFieldType DataType = ftUnknown;
    // The column carries the row's database key.
    bool IsDBKey = false;
  };

  // Reacts to a change of the select statement's text before it happens.
  void SelectChanging();
  // The database is about to close or the transaction to end: close, drop the server handle
  // and the internal preparation.
  void BeforeDatabaseDisconnect();
  void BeforeTransactionEnd();

  void InternalInitFieldDefs();
  void LayoutRecords();
  void ReleaseRecords();
  // Converts the result area's current row into `buffer` as row `row`.
  void FetchCurrentRecordToBuffer(TIBXSQLDA& row, int rowNumber, char* buffer);
  void ReadRecordFromCache(int row, char* buffer);
  // Fetches one more row from the cursor into the cache (and `buffer` when given).
  bool FetchNextToCache(char* buffer);
  void SetEmptyRecord(char* buffer, TBookmarkFlag flag);

  TIBBase base_;
  std::unique_ptr<TIBSQL> qSelect_;

  int bufferChunks_ = kDefaultBufferChunks;
  bool internalPrepared_ = false;
  bool cursorOpen_ = false;

  std::vector<int> positionMap_;  // definition index -> result column
  std::vector<TColumnInfo> columns_;

  // Record layout and cache: the model record initialises new record buffers; the temporary
  // buffer receives rows fetched past the window.
  std::unique_ptr<char[]> modelBuffer_;
  std::unique_ptr<char[]> tempBuffer_;
  TIBRecordCache recordCache_;
  int cachedRowCount_ = 0;
  int currentRecord_ = -1;
};
