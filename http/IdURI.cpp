#include "http/IdURI.h"

#include <string.h>  // memrchr

#include <algorithm>
#include <optional>

#include "http/IdException.h"
#include "runtime/Text.h"

namespace {

// The path part of an address split at the parameter start ("?", or "=" when there is no "?")
// into the directory (through its last "/" before that start), the document and the query (from
// that start on). Shared by both address forms; views into `rest`.
struct PathParts {
  std::string_view dir;  // without the leading "/" of the absolute form
  std::string_view doc;
  std::string_view query;
};

PathParts SplitPath(std::string_view rest) {
  std::size_t pp = rest.find('?');
  if (pp == std::string_view::npos) pp = rest.find('=');
  const std::string_view before = pp != std::string_view::npos ? rest.substr(0, pp) : rest;
  const void* slash = before.empty() ? nullptr : ::memrchr(before.data(), '/', before.size());
  const std::size_t ds =
      slash == nullptr ? 0 : std::size_t(static_cast<const char*>(slash) - before.data()) + 1;
  PathParts parts;
  parts.dir = rest.substr(0, ds);
  std::string_view candidate = rest;
  if (pp != std::string_view::npos) {
    candidate = rest.substr(0, pp);
    parts.query = rest.substr(pp);
  }
  parts.doc = candidate.substr(std::min(ds, candidate.size()));
  return parts;
}

// Cuts `text` at its first "#": the part after it goes to `fragment`. False when there is none.
bool CutFragment(std::string_view& text, std::string& fragment) {
  const std::size_t hash = text.find('#');
  if (hash == std::string_view::npos) return false;
  fragment.assign(text.substr(hash + 1));
  text = text.substr(0, hash);
  return true;
}

}  // namespace

TIdURI::TIdURI(std::string_view text) {
  if (!text.empty()) Parse(text);
}

void TIdURI::Parse(std::string_view text) {
  // Every part is cut from FullText; assigning to the parts keeps their memory.
  FullText.assign(text);
  // A backslash counts as "/"; most addresses have none.
  for (std::size_t at = FullText.find('\\'); at != std::string::npos;
       at = FullText.find('\\', at + 1))
    FullText[at] = '/';
  std::string_view rest = FullText;
  SchemeName.clear();
  AuthUser.clear();
  AuthPassword.clear();
  HostName.clear();
  PortText.clear();
  Fragment.clear();

  std::string_view doc, query;
  const std::size_t p = rest.find("://");
  if (p != std::string_view::npos) {
    SchemeName.assign(rest.substr(0, p));
    rest.remove_prefix(p + 3);
    std::string_view authority = rest;
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
      rest = {};
    } else {
      authority = rest.substr(0, slash);
      rest.remove_prefix(slash + 1);
    }
    const std::size_t at = authority.find('@');
    if (at != std::string_view::npos) {
      const std::string_view user = authority.substr(0, at);
      authority.remove_prefix(at + 1);
      const std::size_t colon = user.find(':');
      AuthUser.assign(user.substr(0, colon));
      if (colon != std::string_view::npos && !AuthUser.empty())
        AuthPassword.assign(user.substr(colon + 1));
    }
    const std::size_t colon = authority.find(':');
    HostName.assign(authority.substr(0, colon));
    if (colon != std::string_view::npos) PortText.assign(authority.substr(colon + 1));

    const PathParts parts = SplitPath(rest);
    DirPath.assign(1, '/');
    DirPath.append(parts.dir);
    doc = parts.doc;
    query = parts.query;
    // Only the absolute form cuts a fragment from the document name.
    CutFragment(doc, Fragment);
  } else {
    const PathParts parts = SplitPath(rest);
    DirPath.assign(parts.dir);
    doc = parts.doc;
    query = parts.query;
  }
  if (Fragment.empty()) CutFragment(query, Fragment);
  DocName.assign(doc);
  QueryPart.assign(query);
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

namespace {

// The five parts of an address as RFC 3986 appendix B splits it; a part that is absent is
// told from an empty one.
struct ReferenceParts {
  std::optional<std::string_view> scheme, authority, query;
  std::string_view path;
};

ReferenceParts SplitReference(std::string_view text) {
  ReferenceParts parts;
  text = text.substr(0, text.find('#'));
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos && colon > 0 && text.find_first_of("/?") > colon) {
    parts.scheme = text.substr(0, colon);
    text.remove_prefix(colon + 1);
  }
  if (text.substr(0, 2) == "//") {
    text.remove_prefix(2);
    const std::size_t end = std::min(text.find_first_of("/?"), text.size());
    parts.authority = text.substr(0, end);
    text.remove_prefix(end);
  }
  const std::size_t question = text.find('?');
  parts.path = text.substr(0, question);
  if (question != std::string_view::npos) parts.query = text.substr(question + 1);
  return parts;
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string_view input) {
  std::string output;
  while (!input.empty()) {
    if (input.substr(0, 3) == "../") {
      input.remove_prefix(3);
    } else if (input.substr(0, 2) == "./") {
      input.remove_prefix(2);
    } else if (input.substr(0, 3) == "/./") {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.substr(0, 4) == "/../" || input == "/..") {
      input = input.size() == 3 ? std::string_view("/") : input.substr(3);
      const std::size_t last = output.rfind('/');
      output.resize(last == std::string::npos ? 0 : last);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const std::size_t next = input.find('/', 1);
      const std::size_t end = next == std::string_view::npos ? input.size() : next;
      output.append(input.substr(0, end));
      input.remove_prefix(end);
    }
  }
  return output;
}

}  // namespace

std::string ResolveReference(std::string_view base, std::string_view reference) {
  const ReferenceParts b = SplitReference(base);
  const ReferenceParts r = SplitReference(reference);
  std::string_view scheme = b.scheme.value_or("");
  std::optional<std::string_view> authority = b.authority;
  std::optional<std::string_view> query = r.query;
  std::string path;
  if (r.scheme) {
    scheme = *r.scheme;
    authority = r.authority;
    path = RemoveDotSegments(r.path);
  } else if (r.authority) {
    authority = r.authority;
    path = RemoveDotSegments(r.path);
  } else if (r.path.empty()) {
    path = b.path;
    if (!query) query = b.query;
  } else if (r.path.front() == '/') {
    path = RemoveDotSegments(r.path);
  } else {
    // Merged with the base's directory (RFC 3986 section 5.2.3).
    std::string merged;
    if (b.authority && b.path.empty())
      merged = "/";
    else
      merged = b.path.substr(0, b.path.rfind('/') + 1);
    merged.append(r.path);
    path = RemoveDotSegments(merged);
  }
  std::string result(scheme);
  result += ':';
  if (authority) result.append("//").append(*authority);
  result += path;
  if (query) result.append("?").append(*query);
  return result;
}
