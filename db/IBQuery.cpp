#include "db/IBQuery.h"

#include "db/IBErrors.h"
#include "db/IBSQL.h"
#include "db/IBXSQLDA.h"

std::string TSQLLines::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TSQLLines::Changed() {
  if (onChange_) onChange_();
}

void TSQLLines::Clear() {
  if (lines_.empty()) return;
  lines_.clear();
  Changed();
}

void TSQLLines::Add(std::string line) {
  lines_.push_back(std::move(line));
  Changed();
}

void TSQLLines::Assign(std::vector<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  if (text == Text()) return;
  lines_ = std::move(lines);
  Changed();
}

void TSQLLines::SetText(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    lines.emplace_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r') ++end;
    if (end < text.size() && text[end] == '\n') ++end;
    start = end;
  }
  Assign(std::move(lines));
}

TIBQuery::TIBQuery(std::string name)
    : TIBCustomDataSet(std::move(name)), sql_([this] { QueryChanged(); }), params_(&Name) {}

TIBQuery::~TIBQuery() {
  try {
    Close();
  } catch (...) {
    // A destructor never throws.
  }
}

void TIBQuery::QueryChanged() {
  Close();
  prepared_ = false;
  InternalUnPrepare();
  const std::string text = sql_.Text();
  if (ParamCheck) {
    // The values of parameters that keep their names survive the new text.
    TParams fresh;
    parsedText_ = fresh.ParseSQL(text, true);
    fresh.AssignValues(params_);
    params_.Assign(fresh);
  } else {
    parsedText_ = text;
  }
  DataEvent(dePropertyChange);
  SelectSQL().SetSQL(sql_.Lines());
}

void TIBQuery::PrepareQuery() {
  if (prepared_) return;
  if (parsedText_.size() < 2) db::RaiseClientError(db::ClientError::EmptySQLStatement);
  InternalPrepare();
  prepared_ = true;
}

void TIBQuery::Prepare() {
  CheckInactive();
  ActivateConnection();
  ActivateTransaction();
  PrepareQuery();
}

void TIBQuery::UnPrepare() {
  CheckInactive();
  prepared_ = false;
  InternalUnPrepare();
}

void TIBQuery::OpenCursor() {
  ActivateConnection();
  ActivateTransaction();
  PrepareQuery();
  // The statement is described before values go into its parameter area: a preparation
  // dropped by the end of a transaction is redone first, so it cannot overwrite them.
  InternalPrepare();
  if (params_.Count() > 0) SetParams();
  TIBCustomDataSet::OpenCursor();
}

void TIBQuery::ExecuteSql() {
  CheckInactive();
  if (sql_.Count() == 0) db::RaiseClientError(db::ClientError::EmptySQLStatement);
  ActivateConnection();
  const bool didActivate = ActivateTransaction();
  try {
    PrepareQuery();
    InternalPrepare();
    if (params_.Count() > 0) SetParams();
    ActivateConnection();
    const bool didActivateHere = ActivateTransaction();
    try {
      InternalPrepare();
      if (ReturnsRows()) db::RaiseClientError(db::ClientError::IsASelectStatement);
      SelectSQL().ExecQuery();
    } catch (...) {
      if (didActivateHere) DeactivateTransaction();
      throw;
    }
    if (didActivateHere) DeactivateTransaction();
  } catch (...) {
    if (didActivate) DeactivateTransaction();
    throw;
  }
  if (didActivate) DeactivateTransaction();
}

TParam* TIBQuery::GetParam(std::string_view name) {
  return params_.GetParam(name);
}

void TIBQuery::SetParams() {
  TIBXSQLDA& area = SelectSQL().SQLParams();
  for (int i = 0; i < params_.Count(); ++i) {
    const TParam& param = *params_[i];
    TIBXSQLVAR& target = area[i];
    if (param.IsNull()) {
      target.SetIsNull(true);
      continue;
    }
    target.SetIsNull(false);
    switch (param.DataType) {
      case ftString:
      case ftFixedChar:
      case ftBlob:
      case ftMemo:
        // Text values go over as they are, without an intermediate copy.
        if (const auto* text = std::get_if<std::string>(&param.Value()))
          target.SetTextValue(*text);
        else
          target.SetTextValue(param.AsString());
        break;
      case ftSmallint:
      case ftWord:
      case ftBoolean:
        target.SetShortValue(static_cast<int16_t>(param.AsInteger()));
        break;
      case ftInteger:
        target.SetLongValue(param.AsInteger());
        break;
      case ftLargeint:
        target.SetInt64Value(param.AsLargeint());
        break;
      case ftFloat:
        target.SetDoubleValue(param.AsFloat());
        break;
      case ftCurrency:
      case ftBCD:
        target.SetCurrencyValue(param.AsCurrencyScaled());
        break;
      case ftFMTBcd:
        // The server converts the decimal text to the column's type.
        target.SetTextValue(param.AsString());
        break;
      case ftDate:
        target.SetDateValue(param.AsDateTime());
        break;
      case ftTime:
        target.SetTimeValue(param.AsDateTime());
        break;
      case ftDateTime:
        target.SetDateTimeValue(param.AsDateTime());
        break;
      case ftBytes:
        target.SetTextValue(param.AsString());
        break;
      default:
        db::RaiseClientError(db::ClientError::NotSupported);
    }
  }
}
