#include "tools/SitePages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "runtime/Text.h"

namespace fixture {

namespace {

// Pages are small; a page file larger than this is a mistake in the fixture folder.
constexpr off_t kMaxPageBytes = 64 * 1024 * 1024;

bool ReadWholeFile(const std::string& path, std::string& content) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxPageBytes) {
    close(fd);
    return false;
  }
  content.resize(std::size_t(st.st_size));
  std::size_t got = 0;
  while (got < content.size()) {
    ssize_t n = read(fd, content.data() + got, content.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += std::size_t(n);
  }
  content.resize(got);
  close(fd);
  return true;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HasDotDotSegment(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\r')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r')) --e;
  return std::string(text.substr(b, e - b));
}

}  // namespace

SitePages::SitePages(const std::string& root) {
  char resolved[PATH_MAX];
  struct stat st {};
  if (realpath(root.c_str(), resolved) == nullptr || stat(resolved, &st) != 0 ||
      !S_ISDIR(st.st_mode))
    throw std::runtime_error("not a folder: " + root);
  root_ = resolved;
  if (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::optional<std::string> SitePages::FileFor(std::string_view path) const {
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string_view::npos ||
      HasDotDotSegment(path))
    return std::nullopt;
  std::string file = root_;
  file.append(path);
  if (file.back() == '/') file += "index.html";
  if (!IsRegularFile(file)) return std::nullopt;
  // Links may point anywhere; only what really lies below the folder is served.
  char resolved[PATH_MAX];
  if (realpath(file.c_str(), resolved) == nullptr) return std::nullopt;
  std::string_view real = resolved;
  if (real.size() <= root_.size() || real.substr(0, root_.size()) != root_ ||
      (root_ != "/" && real[root_.size()] != '/'))
    return std::nullopt;
  return file;
}

std::optional<std::string> SitePages::Resolve(std::string_view target) const {
  // An absolute-form target ("http://host/path") names the path after its authority.
  std::size_t scheme = target.find("://");
  if (scheme != std::string_view::npos &&
      target.substr(0, scheme).find('/') == std::string_view::npos) {
    std::size_t slash = target.find('/', scheme + 3);
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  if (auto file = FileFor(target)) return file;
  // A query does not name a file of its own when no file carries it in its name.
  std::size_t query = target.find('?');
  if (query != std::string_view::npos) return FileFor(target.substr(0, query));
  return std::nullopt;
}

Answer SitePages::StatusPage(std::string_view status) {
  Answer answer;
  answer.status = std::string(status);
  answer.body = "<html><head><title>" + answer.status + "</title></head><body><h1>" +
                answer.status + "</h1></body></html>\n";
  return answer;
}

Answer SitePages::AnswerFor(std::string_view target) const {
  std::optional<std::string> file = Resolve(target);
  Answer answer;
  if (!file || !ReadWholeFile(*file, answer.body)) return StatusPage("404 Not Found");

  std::string shape;
  if (!ReadWholeFile(*file + ".headers", shape)) return answer;
  std::size_t start = 0;
  while (start < shape.size()) {
    std::size_t end = shape.find('\n', start);
    if (end == std::string::npos) end = shape.size();
    std::string line = Trim(std::string_view(shape).substr(start, end - start));
    start = end + 1;
    std::size_t colon = line.find(':');
    if (line.empty() || colon == std::string::npos) continue;
    std::string name = Trim(std::string_view(line).substr(0, colon));
    std::string value = Trim(std::string_view(line).substr(colon + 1));
    if (rt::SameText(name, "Status")) {
      answer.status = value;
    } else if (rt::SameText(name, "Framing")) {
      if (value == "chunked")
        answer.framing = Framing::Chunked;
      else if (value == "close")
        answer.framing = Framing::Close;
      else
        answer.framing = Framing::Length;
    } else {
      answer.headers.push_back(line);
    }
  }
  return answer;
}

}  // namespace fixture
