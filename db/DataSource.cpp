#include "db/DataSource.h"

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_ != nullptr) dataSet_->DetachDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->AttachDataSource(this);
}

void TDataSource::Notify(TDataEvent event) {
  if (event == deUpdateState) {
    if (OnStateChange) OnStateChange(*this);
  } else if (OnDataChange) {
    OnDataChange(*this, event);
  }
}
