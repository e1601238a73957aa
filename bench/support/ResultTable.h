// A benchmark's result: a titled table printed on standard output and appended, as Markdown,
// to the results file, with the notes that explain it.
#pragma once

#include <string>
#include <vector>

namespace bench {

class ResultTable {
 public:
  ResultTable(std::string title, std::vector<std::string> header);

  void AddRow(std::vector<std::string> cells);
  void AddNote(std::string note);

  // Aligned plain text for the terminal.
  std::string Text() const;
  std::string Markdown() const;
  // Prints Text() and, when `resultsPath` is not empty, appends Markdown() to it.
  void Publish(const std::string& resultsPath) const;

 private:
  std::string title_;
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::string> notes_;
};

// `value` with `decimals` digits after the point.
std::string Fixed(double value, int decimals);
// "1.23x" for a ratio.
std::string Ratio(double value);
// "met" or "MISSED" for a target.
std::string Verdict(bool met);
// Microseconds per item of `seconds` spread over `items`.
double MicrosPer(double seconds, long items);

}  // namespace bench
