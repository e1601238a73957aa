#include "db/DataSource.h"

#include <algorithm>

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_ != nullptr) {
    auto& list = dataSet_->dataSources_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->dataSources_.push_back(this);
}

void TDataSource::Notify(TDataEvent event) {
  if (event == deUpdateState) {
    if (OnStateChange) OnStateChange(*this);
  } else if (OnDataChange) {
    OnDataChange(*this, event);
  }
}
