// The pages of the fixture lyrics site: which file a request target names, and the answer
// (status line, header lines, body) that goes back for it.
//
// A target's raw bytes are the file name below the site's folder: nothing is percent-decoded,
// blanks and accented bytes stay as they are. A ".." segment, a NUL byte or a file that lies
// outside the folder (through a link) is answered as missing.
//
// Next to a page "x.html" a file "x.html.headers" may shape its answer, one line each:
//   Status: 301 Moved Permanently     the status code and reason instead of "200 OK"
//   Framing: length | chunked | close how the body is delimited (close: no length, then close)
//   any other "Name: value" line      sent as it is (Content-Type replaces the default)
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fixture {

enum class Framing { Length, Chunked, Close };

struct Answer {
  std::string status = "200 OK";
  std::vector<std::string> headers;  // "Name: value", without line ends
  std::string body;
  std::optional<Framing> framing;  // set by the page's own headers file
};

class SitePages {
 public:
  // `root` must be a folder; raises std::runtime_error when it is not.
  explicit SitePages(const std::string& root);

  // The file a request target names, or nothing when there is no such page.
  std::optional<std::string> Resolve(std::string_view target) const;
  // The answer for a GET or HEAD of `target`: the page, or a 404 page.
  Answer AnswerFor(std::string_view target) const;

  // An answer with a short HTML body describing `status` (for 404 and the errors).
  static Answer StatusPage(std::string_view status);

 private:
  std::optional<std::string> FileFor(std::string_view path) const;

  std::string root_;  // resolved, without a trailing "/"
};

}  // namespace fixture
