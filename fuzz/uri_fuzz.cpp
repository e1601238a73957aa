// Address parsing and path merging. The parse cuts the parts out of the address with views and
// library searches; it must give what the rule written with the system's own text helpers
// (FirstPos, LastPos, SplitAt) gives, on a fresh object and on one that parsed another address.
//
// A redirect's Location resolved against an address: never a fragment in the result, and a
// reference without a scheme of its own keeps the address's.
//
// Input parts: the address text, a base directory and a new path for MergePath.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "http/IdException.h"
#include "http/IdURI.h"
#include "runtime/Text.h"

namespace {

struct Parts {
  std::string full, scheme, user, password, host, port, dir, doc, query, fragment;
  bool operator==(const Parts&) const = default;
};

Parts PartsOf(const TIdURI& uri) {
  return {uri.FullText, uri.SchemeName, uri.AuthUser, uri.AuthPassword, uri.HostName,
          uri.PortText, uri.DirPath,    uri.DocName,  uri.QueryPart,    uri.Fragment};
}

// The path split at "?" (or "=" without "?"): directory through the last "/" before it.
void SplitPathByRule(const std::string& rest, std::string& dir, std::string& doc,
                     std::string& query) {
  std::size_t pp = FirstPos("?", rest);
  if (pp == 0) pp = FirstPos("=", rest);
  std::size_t ds = pp > 0 ? LastPos("/", rest, static_cast<long long>(pp)) : LastPos("/", rest);
  dir = rest.substr(0, ds);
  std::string candidate = rest;
  if (pp > 0) {
    candidate = rest.substr(0, pp - 1);
    query = rest.substr(pp - 1);
  }
  doc = candidate.substr(std::min(ds, candidate.size()));
}

Parts PartsByRule(const std::string& text) {
  Parts p;
  std::string rest = text;
  for (char& c : rest)
    if (c == '\\') c = '/';
  p.full = rest;
  std::size_t at = FirstPos("://", rest);
  if (at > 0) {
    p.scheme = rest.substr(0, at - 1);
    rest.erase(0, at - 1 + 3);
    std::string authority = SplitAt(rest, "/");
    std::size_t q = FirstPos("@", authority);
    if (q > 0) {
      std::string user = authority.substr(0, q - 1);
      authority.erase(0, q);
      p.user = SplitAt(user, ":");
      p.password = user;
      if (p.user.empty()) p.password.clear();
    }
    p.host = SplitAt(authority, ":");
    p.port = authority;
    std::string dir;
    SplitPathByRule(rest, dir, p.doc, p.query);
    p.dir = "/" + dir;
    std::size_t hash = FirstPos("#", p.doc);
    if (hash > 0) {
      p.fragment = p.doc.substr(hash);
      p.doc.erase(hash - 1);
    }
  } else {
    SplitPathByRule(rest, p.dir, p.doc, p.query);
  }
  if (p.fragment.empty()) {
    std::size_t hash = FirstPos("#", p.query);
    if (hash > 0) {
      p.fragment = p.query.substr(hash);
      p.query.erase(hash - 1);
    }
  }
  return p;
}

bool EndsWithSlash(const std::string& text) {
  return !text.empty() && text.back() == '/';
}

void CheckMerge(const std::string& base, const std::string& newPath) {
  std::string merged = MergePath(base, newPath);
  if (!newPath.empty() && newPath[0] == '/') {
    fuzz::Check(merged == newPath, "an absolute new path wins unchanged", merged);
    return;
  }
  fuzz::Check(merged.find("//") == std::string::npos, "runs of / collapse", merged);
  if (merged != "/" && EndsWithSlash(merged))
    fuzz::Check(newPath.empty() || newPath.back() == '/',
                "a trailing / stays only when the new path asked for it", merged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const std::string text = input.Next();
  const std::string base = input.Next();
  const std::string newPath = input.Next();

  TIdURI uri(text);
  fuzz::Check(PartsOf(uri) == PartsByRule(text), "the parts follow the rule", text);
  // The client parses every address into the same object.
  static TIdURI reused;
  reused.Parse(text);
  fuzz::Check(PartsOf(reused) == PartsOf(uri), "a reused object parses as a fresh one", text);
  std::string normalised = text;
  for (char& c : normalised)
    if (c == '\\') c = '/';
  fuzz::Check(text.empty() || uri.FullText == normalised, "FullText is the normalised text",
              uri.FullText);
  fuzz::Check(!uri.AuthPassword.size() || uri.AuthUser.size(), "no password without a user name");
  if (!uri.QueryPart.empty())
    fuzz::Check(uri.QueryPart[0] == '?' || uri.QueryPart[0] == '=',
                "the query part begins with its parameter start", uri.QueryPart);

  if (normalised.find("://") != std::string::npos) {
    // Absolute form: the target always begins with "/".
    fuzz::Check(!uri.DirPath.empty() && uri.DirPath[0] == '/', "the target begins with /",
                uri.DirPath);
  } else {
    fuzz::Check(uri.SchemeName.empty() && uri.HostName.empty() && uri.PortText.empty(),
                "a relative text sets no scheme, host or port");
  }

  // Composing fails only for an empty scheme or host, and only with its own exception.
  try {
    std::string composed = uri.Compose(true, true);
    fuzz::Check(!uri.SchemeName.empty() && !uri.HostName.empty(),
                "composing without scheme or host raises");
    (void)composed;
    TIdURI copy;
    copy.SchemeName = uri.SchemeName;
    copy.HostName = uri.HostName;
    copy.PortText = uri.PortText;
    copy.DirPath = uri.DirPath;
    copy.DocName = uri.DocName;
    copy.QueryPart = uri.QueryPart;
    copy.Fragment = uri.Fragment;
    std::string plain = copy.AsText();
    fuzz::Check(copy.FullText.size() >= plain.size(), "the full text holds the plain text");
  } catch (const EIdURIException& e) {
    fuzz::Check(uri.SchemeName.empty() || uri.HostName.empty(),
                "composing raises only without scheme or host", e.Message);
  }

  CheckMerge(base, newPath);
  // The client merges its current directory with the directory of each new address.
  CheckMerge(uri.DirPath, newPath);

  const std::string resolved = ResolveReference("http://host/a/b/c;p?q", text);
  fuzz::Check(resolved.find('#') == std::string::npos, "a resolved address has no fragment",
              resolved);
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string::npos || colon > text.find_first_of("/?#"))
    fuzz::Check(resolved.rfind("http:", 0) == 0, "a reference without a scheme keeps the base's",
                resolved);
  return 0;
}
