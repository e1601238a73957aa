// A connector between a dataset and whatever shows or follows its data. It attaches to one
// dataset and passes that dataset's notifications on to its own handlers.
#pragma once

#include <functional>
#include <string>

#include "db/DataSet.h"

class TDataSource {
 public:
  explicit TDataSource(std::string name = {}) : Name(std::move(name)) {}
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  std::string Name;

  TDataSet* DataSet() const { return dataSet_; }
  // Detaches from the current dataset and attaches to `dataSet` (nullptr: none).
  void SetDataSet(TDataSet* dataSet);

  // Called when the dataset's state changes.
  std::function<void(TDataSource&)> OnStateChange;
  // Called for every other notification of the dataset (scroll, data change, property change).
  std::function<void(TDataSource&, TDataEvent)> OnDataChange;

  // Passes one notification of the attached dataset on to the handler it belongs to.
  void Notify(TDataEvent event);

 private:
  TDataSet* dataSet_ = nullptr;
};
