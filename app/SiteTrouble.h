// The lyrics site's trouble, and how an update run waits it out.
//
// An attempt to fetch a page met the site's trouble when no complete answer came back (the
// name did not resolve, the connection was refused or reset, the TLS handshake or the
// certificate was refused, the answer was cut or timed out before it was whole, or was not
// whole within the time allowed for all of it), or when the answer was 429 Too Many Requests,
// 503 Service Unavailable, 502 Bad Gateway or 504 Gateway Timeout: the site cannot, or will
// not, answer now (the last two are a proxy's or a front server's word that the site did not
// answer). Every other answer (404, 500, a page without a composer, a redirect that was not
// followed) is the site's answer, and so is a failure of the client's own making before
// anything went out, such as an address it will not send: asking again would only give the
// same.
//
// A song none of whose addresses gave its page, and one of whose attempts met trouble, was not
// looked up. The run waits and looks it up again from its first address. The wait is the
// Retry-After of the last trouble answer when it had one (at least 1 s), otherwise 1 s doubling
// with each retry of the same song; never more than 60 s, and never past the max wait. The max wait
// is how long the run keeps trying while the site gives it nothing but trouble, counted from the
// last song that was looked up (or the run's start): a song that keeps meeting trouble on one
// address while its others answer is not progress, so it cannot hold the run forever. When the max
// wait is spent the run stops.
//
// A song still not looked up after kLookupsBeforeLeaving lookups is left (not written, counted)
// and the run goes on, when the song before it was looked up (or it is the run's first): one
// broken page must not stop a run. The song after a left one is waited for under the max wait
// alone, so an outage leaves at most one song behind and is still waited out; a left song does
// not count as looked up for the max wait.
//
// Nothing here touches a socket or a clock of its own: the run hands in what the attempts met
// and the time, and asks what to do.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/DateTime.h"

class TIdHTTPResponse;

namespace app {

using Seconds = std::chrono::seconds;

// Names the max wait, in seconds, for either program; --max-wait takes precedence.
inline constexpr const char* kMaxWaitVariable = "LIRENTA_MAX_WAIT";
// Ten minutes: a dropped network or a restarted site comes back well within it, while a site
// that is gone for good stops a run before the user has long stared at a frozen count.
inline constexpr Seconds kDefaultMaxWait{600};
// The first wait before a song is looked up again, when the site said nothing of when to come
// back; it doubles with each retry of the same song.
inline constexpr Seconds kFirstRetryWait{1};
// The longest single wait: a site that comes back is found within a minute of it.
inline constexpr Seconds kLongestRetryWait{60};
// The largest max wait taken, about 31 years: a larger number means "wait for ever" just as
// well, and must not overflow the clock's arithmetic.
inline constexpr int64_t kMaxWaitCeiling = 1000000000;
// Lookups of one song (the first and four retries, 15 s of waits without a Retry-After) before
// it may be left: a site that is back answers within them, a page that keeps failing does not.
inline constexpr int kLookupsBeforeLeaving = 5;

// A max wait as the user writes it: a whole number of seconds, 0 or more, digits only. Nothing
// for any other text.
std::optional<Seconds> ReadMaxWait(std::string_view text);

// Whether a failed fetch met the site's trouble.
bool IsSiteTrouble(const std::exception& failure);
// Whether an answer's status is the site's trouble: 429, 502, 503 and 504.
bool IsSiteTroubleStatus(int32_t statusCode);

// The failure's own text, as the user is told it: a socket error's text without its "Socket
// Error # n" line, without the final full stop ("Connection refused"); line breaks become
// blanks.
std::string TroubleText(const std::exception& failure);

// A Retry-After value: delta-seconds, or an HTTP date taken relative to the answer's own Date
// when it had one (so that the two clocks' difference does not count), else to `now`. A date
// already past gives 0. Nothing for an unreadable value. Dates are local date-times.
std::optional<Seconds> ReadRetryAfter(std::string_view value, TDateTime answerDate, TDateTime now);

// What the attempts of one song's lookup met.
class LookupOutcome {
 public:
  // A new lookup: nothing met yet.
  void Start();
  // An attempt got the page (a 2xx answer). A page the server cut short that holds no composer
  // is no whole answer: the site's trouble.
  void Page(bool cutWithoutComposer = false);
  // An attempt failed before a whole answer arrived, or before anything was sent.
  void Failed(const std::exception& failure);
  // An attempt got an answer that is not the page. A Retry-After date is read against `now`,
  // or, when that is 0, against the clock (read only for a trouble status).
  void Refused(const TIdHTTPResponse& answer, TDateTime now = 0);

  // The song was looked up: it got its page, or an answer on every address.
  bool LookedUp() const { return page_ || trouble_.empty(); }
  // The text of the last trouble met; empty when none.
  const std::string& Trouble() const { return trouble_; }
  // The Retry-After of the last trouble answer, when it had one.
  const std::optional<Seconds>& RetryAfter() const { return retryAfter_; }

 private:
  bool page_ = false;
  std::string trouble_;
  std::optional<Seconds> retryAfter_;
};

// How long the run keeps going while the site gives it nothing but trouble.
class SitePatience {
 public:
  using Clock = std::chrono::steady_clock;

  SitePatience(Seconds maxWait, Clock::time_point start);

  // A song was looked up: the site is there, and the next song's waits start from 1 s again.
  void LookedUp(Clock::time_point now);
  // Whether the song whose lookups keep meeting trouble may be left now: it had
  // kLookupsBeforeLeaving lookups, and the song before it was not left.
  bool MayLeave() const;
  // The song was left: the next song's waits start from 1 s again, the max wait runs on.
  void Left();
  // The wait before the song whose lookup met trouble (`outcome`) is looked up again; nothing
  // when the site has given nothing but trouble for the max wait, and the run is to stop.
  std::optional<Clock::duration> NextWait(const LookupOutcome& outcome, Clock::time_point now);
  // Whole seconds since the last song that was looked up (or the start).
  int64_t SilentSeconds(Clock::time_point now) const;

 private:
  Clock::duration maxWait_;
  Clock::time_point lastLookedUp_;
  int retries_ = 0;            // of the current song
  bool previousLeft_ = false;  // the song before the current one was left
};

}  // namespace app
