// The lookup report: one line per GET attempt of an update run, appended to a file the user
// named, so that a run that found nothing can tell why (missing pages, a moved site, refused
// certificates, time-outs).
//
// The file is UTF-8 text, tab-separated; a new or empty file first gets the header line. Every
// line is written and flushed as its attempt ends. Inside a field a backslash, tab, CR and LF
// are written as \\, \t, \r and \n. The report only watches: it changes no request and no
// update of the run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace app {

// Names the report file for either program; `lirenta-console --report FILE` takes precedence.
inline constexpr const char* kReportVariable = "LIRENTA_REPORT";
// The header line's fields.
inline constexpr const char* kReportHeader =
    "codigo\tinterprete\tnome\tendereco\tresultado\tcompositor";
// The failure that stops a run whose report cannot be opened: the file, then the reason.
inline constexpr const char* kReportOpenFailedMessage =
    "N\xE3o foi poss\xEDvel abrir o relat\xF3rio %s: %s";

class LookupReport {
 public:
  // Opens `path` for appending (a file-system name, UTF-8); raises an Exception with
  // kReportOpenFailedMessage when it cannot.
  explicit LookupReport(const std::string& path);
  ~LookupReport();
  LookupReport(const LookupReport&) = delete;
  LookupReport& operator=(const LookupReport&) = delete;

  // The song whose attempts follow; texts are Windows-1252, as read from the database.
  void Song(const std::string& code, const std::string& performer, const std::string& title);
  // One attempt: the address asked, its outcome and the composer found on its page (empty for
  // an attempt whose page was not searched).
  void Attempt(const std::string& address, const std::string& outcome, const std::string& composer);

 private:
  void WriteLine(std::string line);

  std::FILE* file_ = nullptr;
  std::string song_;  // the line's first three fields, written
};

// A field of a report line: escaped, then in UTF-8.
std::string ReportField(std::string_view windows1252);

// The outcome of an answer that arrived: its status line from the status code on ("404 Not
// Found").
std::string AnswerOutcome(std::string_view statusLine);

}  // namespace app
