#include "app/SiteTrouble.h"

#include <algorithm>
#include <cmath>

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdStack.h"
#include "runtime/Text.h"

namespace app {

namespace {

constexpr int32_t kTooManyRequests = 429;
constexpr int32_t kBadGateway = 502;
constexpr int32_t kServiceUnavailable = 503;
constexpr int32_t kGatewayTimeout = 504;
constexpr double kSecondsPerDay = 86400.0;

// Digits only, at least one; false for anything else. A value beyond `ceiling` reads as it.
bool ReadWholeNumber(std::string_view text, int64_t ceiling, int64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = std::min(ceiling, value * 10 + (c - '0'));
  }
  return true;
}

}  // namespace

std::optional<Seconds> ReadMaxWait(std::string_view text) {
  int64_t value;
  if (!ReadWholeNumber(text, kMaxWaitCeiling, value)) return std::nullopt;
  return Seconds(value);
}

bool IsSiteTrouble(const std::exception& failure) {
  // No complete answer: a socket call failed (the name did not resolve, the connection was
  // refused or reset), a time limit ran out, the peer closed before the answer was whole, or
  // TLS refused the peer. Everything else is an answer the client would not take, or a request
  // it would not send.
  return dynamic_cast<const EIdSocketError*>(&failure) != nullptr ||
         dynamic_cast<const EIdConnectTimeout*>(&failure) != nullptr ||
         dynamic_cast<const EIdReadTimeout*>(&failure) != nullptr ||
         dynamic_cast<const EIdConnClosedGracefully*>(&failure) != nullptr ||
         dynamic_cast<const EIdClosedSocket*>(&failure) != nullptr ||
         dynamic_cast<const EIdNotConnected*>(&failure) != nullptr ||
         dynamic_cast<const EIdHTTPUndefinedSituation*>(&failure) != nullptr ||
         dynamic_cast<const EIdTLSError*>(&failure) != nullptr;
}

bool IsSiteTroubleStatus(int32_t statusCode) {
  return statusCode == kTooManyRequests || statusCode == kServiceUnavailable ||
         statusCode == kBadGateway || statusCode == kGatewayTimeout;
}

std::string TroubleText(const std::exception& failure) {
  std::string text = failure.what();
  if (const auto* socket = dynamic_cast<const EIdSocketError*>(&failure)) {
    const std::string_view own = idstack::WSAErrorText(socket->SocketCode);
    if (!own.empty()) text = own;
  }
  text = rt::Trim(rt::ReplaceAll(rt::ReplaceAll(text, "\r\n", " "), "\n", " "));
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::optional<Seconds> ReadRetryAfter(std::string_view value, TDateTime answerDate, TDateTime now) {
  value = rt::TrimView(value);
  int64_t seconds;
  if (ReadWholeNumber(value, kMaxWaitCeiling, seconds)) return Seconds(seconds);
  const TDateTime at = InternetDateToLocal(value);
  if (at == 0) return std::nullopt;
  // Whole milliseconds first: a date-time is a fraction of a day, and 30 s must not read as 31.
  const double aheadMs =
      std::round((at - (answerDate != 0 ? answerDate : now)) * kSecondsPerDay * 1000);
  const double ahead = std::ceil(aheadMs / 1000);
  return Seconds(int64_t(std::clamp(ahead, 0.0, double(kMaxWaitCeiling))));
}

void LookupOutcome::Start() {
  page_ = false;
  trouble_.clear();
  retryAfter_.reset();
}

void LookupOutcome::Page(bool cutWithoutComposer) {
  if (cutWithoutComposer)
    trouble_ = TroubleText(EIdConnClosedGracefully());
  else
    page_ = true;
}

void LookupOutcome::Failed(const std::exception& failure) {
  if (IsSiteTrouble(failure)) trouble_ = TroubleText(failure);
}

void LookupOutcome::Refused(const TIdHTTPResponse& answer, TDateTime now) {
  if (!IsSiteTroubleStatus(answer.StatusCode())) return;
  // The status line from its code on: "429 Too Many Requests".
  std::string_view status = answer.StatusLine;
  const std::size_t blank = status.find(' ');
  trouble_ = rt::Trim(blank == std::string_view::npos ? status : status.substr(blank + 1));
  retryAfter_ = ReadRetryAfter(answer.HeaderLines.ValueOf("Retry-After"), answer.Date,
                               now != 0 ? now : rt::Now());
}

SitePatience::SitePatience(Seconds maxWait, Clock::time_point start)
    : maxWait_(maxWait), lastLookedUp_(start) {}

void SitePatience::LookedUp(Clock::time_point now) {
  lastLookedUp_ = now;
  retries_ = 0;
  previousLeft_ = false;
}

bool SitePatience::MayLeave() const {
  return !previousLeft_ && retries_ + 1 >= kLookupsBeforeLeaving;
}

void SitePatience::Left() {
  retries_ = 0;
  previousLeft_ = true;
}

std::optional<SitePatience::Clock::duration> SitePatience::NextWait(const LookupOutcome& outcome,
                                                                    Clock::time_point now) {
  const Clock::duration silent = now - lastLookedUp_;
  if (silent >= maxWait_) return std::nullopt;
  Clock::duration wait;
  if (outcome.RetryAfter()) {
    // A Retry-After of 0 (or a date gone by) must not make the run ask again at once, over
    // and over: a site that is asked too fast blocks the client.
    wait = std::clamp<Clock::duration>(*outcome.RetryAfter(), kFirstRetryWait, kLongestRetryWait);
  } else {
    // 1, 2, 4 ... s; the shift stays small, the cap does the rest.
    wait = std::min<Clock::duration>(kFirstRetryWait * (int64_t(1) << std::min(retries_, 6)),
                                     kLongestRetryWait);
  }
  ++retries_;
  // The last try comes when the max wait is spent, not after it.
  return std::min(wait, maxWait_ - silent);
}

int64_t SitePatience::SilentSeconds(Clock::time_point now) const {
  return std::chrono::duration_cast<Seconds>(now - lastLookedUp_).count();
}

}  // namespace app
