#include "app/LookupReport.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "runtime/Exception.h"
#include "runtime/Text.h"

namespace app {

std::string ReportField(std::string_view windows1252) {
  std::string escaped;
  escaped.reserve(windows1252.size());
  for (char c : windows1252) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\n':
        escaped += "\\n";
        break;
      default:
        escaped += c;
    }
  }
  return rt::Win1252ToUtf8(escaped);
}

std::string AnswerOutcome(std::string_view statusLine) {
  const std::size_t blank = statusLine.find(' ');
  return std::string(blank == std::string_view::npos ? statusLine : statusLine.substr(blank + 1));
}

namespace {

// `pattern` with its two "%s" replaced by the file's name and the system's reason.
std::string FileFailure(const char* pattern, const std::string& path, int error) {
  return rt::FillIn(pattern, {rt::Utf8ToWin1252(path), std::strerror(error)});
}

}  // namespace

LookupReport::LookupReport(const std::string& path, FailureCallback onFailure)
    : path_(path), onFailure_(std::move(onFailure)) {
  file_ = std::fopen(path.c_str(), "ab");
  if (file_ == nullptr) throw Exception(FileFailure(kReportOpenFailedMessage, path, errno));
  // Appending starts at the end: an empty file has nothing there yet.
  if (std::fseek(file_, 0, SEEK_END) == 0 && std::ftell(file_) == 0) WriteLine(kReportHeader);
}

LookupReport::~LookupReport() {
  if (file_ != nullptr) std::fclose(file_);
}

void LookupReport::Song(const std::string& code, const std::string& performer,
                        const std::string& title, const std::string& stored) {
  song_ = ReportField(code) + "\t" + ReportField(performer) + "\t" + ReportField(title);
  stored_ = ReportField(stored);
}

void LookupReport::Attempt(const std::string& address, const std::string& outcome,
                           const std::string& composer) {
  WriteLine(song_ + "\t" + ReportField(address) + "\t" + ReportField(outcome) + "\t" +
            ReportField(composer) + "\t" + stored_);
}

void LookupReport::WriteLine(std::string line) {
  // A report that can no longer be written must not change the run: its lines are lost, and
  // the first loss is said once. A line half written stays so; a later line could only follow
  // it in the middle of a record.
  if (incomplete_) return;
  line += '\n';
  if (std::fwrite(line.data(), 1, line.size(), file_) == line.size() && std::fflush(file_) == 0)
    return;
  incomplete_ = true;
  const int error = errno;
  if (onFailure_) onFailure_(FileFailure(kReportWriteFailedMessage, path_, error));
}

}  // namespace app
