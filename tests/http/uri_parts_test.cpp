// TIdURI::Parse cuts the parts out of the address with views and searches of the library. These
// cases hold it to the rule written with the system's own text helpers (FirstPos, LastPos,
// SplitAt), over random addresses made of the characters the rule treats specially.
#include <gtest/gtest.h>

#include <random>
#include <string>

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

std::ostream& operator<<(std::ostream& out, const Parts& p) {
  return out << "[" << p.full << "|" << p.scheme << "|" << p.user << "|" << p.password << "|"
             << p.host << "|" << p.port << "|" << p.dir << "|" << p.doc << "|" << p.query << "|"
             << p.fragment << "]";
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

TEST(UriParts, RandomAddressesFollowTheRule) {
  const std::string pieces[] = {"http", "://", "u", ":", "@", "h", "80", "/", "\\",
                                "a",    "?",   "=", "#", ".", "x", "",   "//"};
  std::mt19937 random(4242);
  TIdURI reused;  // one object parsed again and again, as the client does
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int k = int(random() % 10); k > 0; --k) text += pieces[random() % std::size(pieces)];
    reused.Parse(text);
    const Parts expected = PartsByRule(text);
    ASSERT_EQ(PartsOf(reused), expected) << text;
    ASSERT_EQ(PartsOf(TIdURI(text)), expected) << text;
  }
}

}  // namespace
