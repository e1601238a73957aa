// The lookup report: one line per GET attempt of an update run, appended to a file the user
// named, so that a run that found nothing can tell why (missing pages, a moved site, refused
// certificates, time-outs).
//
// The file is UTF-8 text, tab-separated; a new or empty file first gets the header line. Every
// line is written and flushed as its attempt ends. Inside a field a backslash, tab, CR and LF
// are written as \\, \t, \r and \n. The report only watches: it changes no request and no
// update of the run. A line that cannot be written (a full disk) is lost, and so is every later
// one; the first such failure is handed to the report's failure callback, once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace app {

// Names the report file for either program; `lirenta-console --report FILE` takes precedence.
inline constexpr const char* kReportVariable = "LIRENTA_REPORT";
// The header line's fields.
inline constexpr const char* kReportHeader =
    "codigo\tinterprete\tnome\tendereco\tresultado\tcompositor\tanterior";
// The failure that stops a run whose report cannot be opened: the file, then the reason.
inline constexpr const char* kReportOpenFailedMessage =
    "N\xE3o foi poss\xEDvel abrir o relat\xF3rio %s: %s";
// The first line that could not be written: the file, then the reason.
inline constexpr const char* kReportWriteFailedMessage =
    "N\xE3o foi poss\xEDvel gravar no relat\xF3rio %s: %s";

class LookupReport {
 public:
  // Receives the text of the first write failure (kReportWriteFailedMessage, Windows-1252).
  using FailureCallback = std::function<void(const std::string&)>;

  // Opens `path` for appending (a file-system name, UTF-8); raises an Exception with
  // kReportOpenFailedMessage when it cannot.
  explicit LookupReport(const std::string& path, FailureCallback onFailure = {});
  ~LookupReport();
  LookupReport(const LookupReport&) = delete;
  LookupReport& operator=(const LookupReport&) = delete;

  // The song whose attempts follow, with the composer stored in its row (empty for NULL);
  // texts are Windows-1252, as read from the database.
  void Song(const std::string& code, const std::string& performer, const std::string& title,
            const std::string& stored);
  // One attempt: the address asked, its outcome and the composer found on its page (empty for
  // an attempt whose page was not searched).
  void Attempt(const std::string& address, const std::string& outcome, const std::string& composer);
  // True once a line could not be written.
  bool Incomplete() const { return incomplete_; }

 private:
  void WriteLine(std::string line);

  std::FILE* file_ = nullptr;
  std::string path_;
  FailureCallback onFailure_;
  bool incomplete_ = false;
  std::string song_;    // the line's first three fields, written
  std::string stored_;  // its last field, written
};

// A field of a report line: escaped, then in UTF-8.
std::string ReportField(std::string_view windows1252);

// The outcome of an answer that arrived: its status line from the status code on ("404 Not
// Found").
std::string AnswerOutcome(std::string_view statusLine);

}  // namespace app
