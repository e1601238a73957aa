// An address split into its parts, and put together again.
//
// Parsing never fails and never decodes or encodes anything: every byte of the address text
// ends up in exactly one part (a "\" becomes "/" first). The request target the client sends
// is DirPath + DocName + QueryPart.
#pragma once

#include <string>
#include <string_view>

class TIdURI {
 public:
  TIdURI() = default;
  explicit TIdURI(std::string_view text);

  // Replaces every part with those of `text`.
  void Parse(std::string_view text);
  // Absolute address from the parts; raises EIdURIException when the scheme or host is empty.
  std::string Compose(bool withUserInfo, bool withFragment) const;
  // Stores Compose(true, true) in FullText and returns Compose(false, false).
  std::string AsText();

  std::string FullText;
  std::string SchemeName;
  std::string AuthUser;
  std::string AuthPassword;
  std::string HostName;
  std::string PortText;
  std::string DirPath;
  std::string DocName;
  std::string QueryPart;
  std::string Fragment;
};

// Combines a directory with a new path: an absolute `newPath` wins, a relative one is appended
// with "." kept, ".." stepping one directory up and runs of "/" collapsed.
std::string MergePath(std::string_view basePath, std::string_view newPath);

// The absolute address a reference (a redirect's Location) names when it is read relative to
// the absolute address `base`, resolved as RFC 3986 section 5.2 says ("." and ".." segments
// removed), without a fragment: the address a request for it goes to. Nothing is decoded or
// encoded.
std::string ResolveReference(std::string_view base, std::string_view reference);
