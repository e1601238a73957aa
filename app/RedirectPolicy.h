// Which redirects a lookup follows, one page address (an attempt) at a time.
//
// The HTTP client takes only 301, 302, 303, 307 and 308 with a Location as redirects and reads
// the Location against the address asked (RFC 3986); this says whether to go there. Never
// from https to http (the page would come unprotected, and could be anyone's), never to an
// address that is not http or https, never again to an address the attempt already asked when
// the redirect set no cookie (a loop: the same answer would come again), and never past the
// client's RedirectMaximum hops. A redirect not followed ends the attempt as an answer that is
// not the page, and Refusal() says why. The address of each hop is kept for the report.
#pragma once

#include <string>
#include <vector>

namespace app {

// Why a redirect was not followed, as the report says it after the answer's status.
inline constexpr const char* kRedirectToPlainRefused = "redirect from https to http refused";
inline constexpr const char* kRedirectSchemeRefused = "redirect to an address not http or https";
inline constexpr const char* kRedirectLoop = "redirect loop";
inline constexpr const char* kTooManyRedirects = "too many redirects";

class RedirectPolicy {
 public:
  // A new attempt at `address`, which must live as long as the attempt.
  void Start(const std::string& address);
  // Whether the redirect to `location` (absolute) that ended hop `hopCount` of at most `maximum`
  // is followed; `setsCookie`: its answer set a cookie. Yes makes `location` the current
  // address; no keeps the reason.
  bool Follow(const std::string& location, int hopCount, int maximum, bool setsCookie);
  // The address of the current hop.
  const std::string& Address() const;
  // Why the last redirect was not followed; nullptr when there was none to refuse.
  const char* Refusal() const { return refusal_; }
  // The report's outcome of the attempt's last answer: `answer` ("301 Moved Permanently"),
  // with the refusal after it in parentheses when there is one.
  std::string Outcome(std::string answer) const;

 private:
  const std::string* first_ = nullptr;  // nullptr before the first Start
  std::vector<std::string> followed_;   // the addresses gone to, in order
  const char* refusal_ = nullptr;
};

}  // namespace app
