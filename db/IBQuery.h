// The query dataset: one SQL text with named parameters over one database and transaction.
// A select opens as rows to walk (Open, MoveFirst, MoveNext, AtEnd); any other statement runs
// with ExecuteSql. The statement is prepared once per text: executing again with new parameter
// values only binds and executes.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/IBCustomDataSet.h"
#include "db/Params.h"

// The lines of a query's SQL text. Every actual change runs the change handler once; clearing
// an empty list and assigning the text it already holds are no changes.
class TSQLLines {
 public:
  explicit TSQLLines(std::function<void()> onChange) : onChange_(std::move(onChange)) {}

  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int index) const {
    return lines_.at(static_cast<std::size_t>(index));
  }
  const std::vector<std::string>& Lines() const { return lines_; }
  // Every line followed by a carriage return and line feed.
  std::string Text() const;

  void Clear();
  void Add(std::string line);
  // Replaces all lines.
  void Assign(std::vector<std::string> lines);
  // Replaces all lines by `text` split at its line breaks (CR LF, LF or CR).
  void SetText(std::string_view text);

 private:
  void Changed();

  std::vector<std::string> lines_;
  std::function<void()> onChange_;
};

class TIBQuery : public TIBCustomDataSet {
 public:
  explicit TIBQuery(std::string name = {});
  ~TIBQuery() override;

  TSQLLines& SQL() { return sql_; }
  const TSQLLines& SQL() const { return sql_; }
  TParams& Params() { return params_; }
  const TParams& Params() const { return params_; }
  // The text with every :Name replaced by "?" (the unparsed text when ParamCheck is off).
  const std::string& ParsedText() const { return parsedText_; }

  bool Prepared() const { return prepared_; }
  // Prepares the statement for the current text (once per text).
  void Prepare();
  // Drops the preparation; the next Open or ExecuteSql prepares again.
  void UnPrepare();

  // Runs a statement that returns no rows: prepares when needed, binds the parameters by
  // position and executes. Not on an open query; a select asks for Open instead.
  void ExecuteSql();
  // The parameter of that name (ignoring letter case); a missing one raises
  // "Parameter '%s' not found" with the query's name.
  TParam* GetParam(std::string_view name);

 protected:
  void OpenCursor() override;
  // A new text of the select statement, from wherever it comes, unprepares the query.
  void SelectTextChanging() override { prepared_ = false; }

 private:
  // Change handler of the SQL lines.
  void QueryChanged();
  void PrepareQuery();
  // Copies the parameter values into the statement's parameter area, parameter i into
  // position i.
  void SetParams();

  TSQLLines sql_;
  TParams params_;
  std::string parsedText_;
  bool prepared_ = false;
};
