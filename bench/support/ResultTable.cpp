#include "bench/support/ResultTable.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace bench {

ResultTable::ResultTable(std::string title, std::vector<std::string> header)
    : title_(std::move(title)), header_(std::move(header)) {}

void ResultTable::AddRow(std::vector<std::string> cells) {
  cells.resize(header_.size());
  rows_.push_back(std::move(cells));
}

void ResultTable::AddNote(std::string note) {
  notes_.push_back(std::move(note));
}

std::string ResultTable::Text() const {
  std::vector<std::size_t> widths(header_.size());
  for (std::size_t c = 0; c < header_.size(); ++c) {
    widths[c] = header_[c].size();
    for (const auto& row : rows_) widths[c] = std::max(widths[c], row[c].size());
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      text += c == 0 ? "" : "  ";
      text += cells[c] + std::string(widths[c] - cells[c].size(), ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\n";
  };
  std::string text = "== " + title_ + "\n" + line(header_);
  for (const auto& row : rows_) text += line(row);
  for (const auto& note : notes_) text += "  " + note + "\n";
  return text;
}

std::string ResultTable::Markdown() const {
  auto line = [](const std::vector<std::string>& cells) {
    std::string text = "|";
    for (const auto& cell : cells) text += " " + cell + " |";
    return text + "\n";
  };
  std::string text = "### " + title_ + "\n\n" + line(header_) + "|";
  for (std::size_t c = 0; c < header_.size(); ++c) text += "---|";
  text += "\n";
  for (const auto& row : rows_) text += line(row);
  if (!notes_.empty()) text += "\n";
  for (const auto& note : notes_) text += "- " + note + "\n";
  return text + "\n";
}

void ResultTable::Publish(const std::string& resultsPath) const {
  const std::string text = Text();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  if (resultsPath.empty()) return;
  std::ofstream out(resultsPath, std::ios::app);
  out << Markdown();
  if (!out) throw std::runtime_error("cannot append to " + resultsPath);
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Ratio(double value) {
  return Fixed(value, 2) + "x";
}

std::string Verdict(bool met) {
  return met ? "met" : "MISSED";
}

double MicrosPer(double seconds, long items) {
  return items > 0 ? seconds * 1e6 / double(items) : 0.0;
}

}  // namespace bench
