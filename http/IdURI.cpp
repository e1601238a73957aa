#include "http/IdURI.h"

#include "http/IdException.h"
#include "runtime/Text.h"

namespace {

// Splits `rest` at the parameter start ("?", or "=" when there is no "?") into the directory
// (the first `ds` characters), the document and the query. Shared by both address forms.
struct PathParts {
  std::string dir;  // without the leading "/" of the absolute form
  std::string doc;
  std::string query;
};

PathParts SplitPath(const std::string& rest) {
  std::size_t pp = FirstPos("?", rest);
  if (pp == 0) pp = FirstPos("=", rest);
  std::size_t ds = pp > 0 ? LastPos("/", rest, static_cast<long long>(pp)) : LastPos("/", rest);
  PathParts parts;
  parts.dir = rest.substr(0, ds);
  std::string candidate = rest;
  if (pp > 0) {
    candidate = rest.substr(0, pp - 1);
    parts.query = rest.substr(pp - 1);
  }
  parts.doc = candidate.substr(std::min(ds, candidate.size()));
  return parts;
}

}  // namespace

TIdURI::TIdURI(std::string_view text) {
  if (!text.empty()) Parse(text);
}

void TIdURI::Parse(std::string_view text) {
  std::string rest(text);
  for (char& c : rest)
    if (c == '\\') c = '/';
  FullText = rest;
  SchemeName.clear();
  AuthUser.clear();
  AuthPassword.clear();
  HostName.clear();
  PortText.clear();
  DirPath.clear();
  DocName.clear();
  QueryPart.clear();
  Fragment.clear();

  std::size_t p = FirstPos("://", rest);
  if (p > 0) {
    SchemeName = rest.substr(0, p - 1);
    rest.erase(0, p - 1 + 3);
    std::string authority = SplitAt(rest, "/");
    std::size_t q = FirstPos("@", authority);
    if (q > 0) {
      std::string user = authority.substr(0, q - 1);
      authority.erase(0, q);
      AuthUser = SplitAt(user, ":");
      AuthPassword = user;
      if (AuthUser.empty()) AuthPassword.clear();
    }
    HostName = SplitAt(authority, ":");
    PortText = authority;

    PathParts parts = SplitPath(rest);
    DirPath = "/" + parts.dir;
    DocName = std::move(parts.doc);
    QueryPart = std::move(parts.query);
    // Only the absolute form cuts a fragment from the document name.
    std::size_t hash = FirstPos("#", DocName);
    if (hash > 0) {
      Fragment = DocName.substr(hash);
      DocName.erase(hash - 1);
    }
  } else {
    PathParts parts = SplitPath(rest);
    DirPath = std::move(parts.dir);
    DocName = std::move(parts.doc);
    QueryPart = std::move(parts.query);
  }

  if (Fragment.empty()) {
    std::size_t hash = FirstPos("#", QueryPart);
    if (hash > 0) {
      Fragment = QueryPart.substr(hash);
      QueryPart.erase(hash - 1);
    }
  }
}

std::string TIdURI::Compose(bool withUserInfo, bool withFragment) const {
  if (SchemeName.empty()) throw EIdURIException("Protocol field is empty");
  if (HostName.empty()) throw EIdURIException("Host field is empty");
  std::string result = SchemeName + "://";
  if (withUserInfo && !AuthUser.empty()) {
    result += AuthUser;
    if (!AuthPassword.empty()) result += ":" + AuthPassword;
    result += "@";
  }
  result += HostName;
  if (!PortText.empty()) result += ":" + PortText;
  result += DirPath + DocName + QueryPart;
  if (withFragment && !Fragment.empty()) result += "#" + Fragment;
  return result;
}

std::string TIdURI::AsText() {
  FullText = Compose(true, true);
  return Compose(false, false);
}

std::string MergePath(std::string_view basePath, std::string_view newPath) {
  if (!newPath.empty() && newPath.front() == '/') return std::string(newPath);

  const bool keepTrailing = newPath.empty() || newPath.back() == '/';
  std::string work(basePath);
  if (!work.empty() && work.back() != '/') work += '/';
  work += newPath;

  std::string result;
  result.reserve(work.size());
  for (std::size_t i = 0; i < work.size(); ++i) {
    const char c = work[i];
    if (c == '/') {
      if (i == 0)
        result.assign(1, '/');
      else if (result.empty() || result.back() != '/')
        result += '/';
    } else if (c == '.' && !result.empty() && result.back() == '/' && i + 1 < work.size() &&
               work[i + 1] == '.') {
      // ".." : drop the final "/" and the directory before it, back to the previous "/".
      result.pop_back();
      while (!result.empty() && result.back() != '/') result.pop_back();
      ++i;
    } else {
      result += c;
    }
  }
  if (result != "/" && !result.empty() && result.back() == '/' && !keepTrailing) result.pop_back();
  return result;
}
