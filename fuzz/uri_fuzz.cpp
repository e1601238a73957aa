// Address parsing and path merging.
//
// Input parts: the address text, a base directory and a new path for MergePath.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "http/IdException.h"
#include "http/IdURI.h"

namespace {

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
  return 0;
}
