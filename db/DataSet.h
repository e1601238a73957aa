// The general dataset: a named component with a state, a field list, column definitions and a
// window of record buffers over the rows of a subclass's cursor.
//
// The window holds up to WindowSize rows plus one spare buffer that receives the next row; with
// the usual window of one row, moving on copies one record into the spare buffer and swaps it
// in, so the last row stays readable when the rows end. AtStart and AtEnd are both true after
// construction and after every clearing of the window.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/FieldDefs.h"
#include "db/Fields.h"

class TDataSource;

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter };

// What a subclass is asked to fetch into a record buffer, relative to its cursor.
enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };

// Notifications sent to the attached data sources.
enum TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange
};

class TDataSet {
 public:
  explicit TDataSet(std::string name = {});
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // Component name; dataset errors carry it in front of their text.
  std::string Name;

  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != dsInactive; }
  // Opens the dataset; nothing happens when it is already open.
  void Open();
  // Closes the dataset; nothing happens when it is already closed.
  void Close();
  void MoveFirst();
  void MoveNext();
  bool AtStart() const { return atStart_; }
  bool AtEnd() const { return atEnd_; }

  TFields& Fields() { return fields_; }
  const TFields& Fields() const { return fields_; }
  TField* FindField(std::string_view fieldName) const { return fields_.FindField(fieldName); }
  // As FindField; a missing field raises "Field '%s' not found".
  TField* FieldByName(std::string_view fieldName) const;
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  const TFieldDefs& FieldDefs() const { return fieldDefs_; }
  // True while the open dataset works with fields it created itself.
  bool DefaultFields() const { return defaultFields_; }

  // Copies the value of `field` in the current row into `buffer` in its native form; false when
  // there is no value (no current row, or the column is null).
  virtual bool GetFieldData(const TField* field, void* buffer) = 0;

  const std::vector<TDataSource*>& DataSources() const { return dataSources_; }
  // The dataset's side of TDataSource::SetDataSet: the source joins or leaves the list of
  // those that receive this dataset's notifications.
  void AttachDataSource(TDataSource* source);
  void DetachDataSource(TDataSource* source);

  // "Cannot perform this operation on a closed dataset" unless open.
  void CheckActive() const;
  // "Cannot perform this operation on an open dataset" when open.
  void CheckInactive() const;
  // Raises EDatabaseError with this dataset's name in front of `text`.
  [[noreturn]] void Error(const std::string& text) const;

 protected:
  // Everything an open does before the window is sized: on failure the subclass leaves nothing
  // open behind (Open then runs CloseCursor as well).
  virtual void OpenCursor() = 0;
  // Closes the cursor and releases what OpenCursor built; runs with the state already
  // dsInactive.
  virtual void CloseCursor() = 0;
  virtual void InternalFirst() = 0;
  // Positions the subclass's cursor on the row held by `buffer`.
  virtual void InternalSetToRecord(char* buffer) = 0;
  virtual TGetResult GetRecord(char* buffer, TGetMode mode) = 0;
  // A new record buffer for the window, initialised as an empty record.
  virtual std::unique_ptr<char[]> AllocRecordBuffer() = 0;
  // Creates a field object for a column definition of the given type (nullptr: no field).
  virtual std::unique_ptr<TField> CreateFieldFor(const TFieldDef& definition) = 0;

  // Creates one owned field per visible, typed definition, in order.
  void CreateFields();
  // Binds every data field to the definition of its name (binding), or unbinds all fields.
  void BindFields(bool binding);
  // Destroys the fields the dataset created itself.
  void DestroyFields();
  // Gives a field created by CreateFieldFor to the dataset; returns it.
  TField* AdoptField(std::unique_ptr<TField> field);

  void SetState(TDataSetState state);
  void DataEvent(TDataEvent event);

  // The record window.
  // Buffer of the current row in browse state; nullptr when the window holds no row.
  char* ActiveBuffer() const;
  // Allocates the window for `windowSize` rows (plus the spare buffer).
  void AllocateWindow(int windowSize);
  void FreeWindow();
  void ClearBuffers();
  // Fetches the next row into the spare buffer and makes it part of the window.
  bool GetNextRecord();
  // Fills the window up to its size; returns the number of rows added.
  int GetNextRecords();
  // Largest window any attached data source asks for, at least 1.
  int WindowSizeWanted() const;

 private:
  TDataSetState state_ = dsInactive;
  TFields fields_;
  TFieldDefs fieldDefs_;
  std::vector<std::unique_ptr<TField>> ownedFields_;
  bool defaultFields_ = false;
  std::vector<TDataSource*> dataSources_;

  // Undoes an open: closes the cursor, frees the window, unbinds the fields and destroys the
  // default ones, also when closing the cursor fails (that failure then travels on).
  void ReleaseAll();

  std::vector<std::unique_ptr<char[]>> buffers_;
  int windowSize_ = 0;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  int currentRecord_ = -1;
  bool atStart_ = true;
  bool atEnd_ = true;
};
