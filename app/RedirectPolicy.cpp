#include "app/RedirectPolicy.h"

#include <algorithm>
#include <string_view>

#include "runtime/Text.h"

namespace app {

namespace {

// The scheme of an absolute address: the text before "://"; empty when there is none.
std::string_view SchemeOf(std::string_view address) {
  const std::size_t end = address.find("://");
  return end == std::string_view::npos ? std::string_view() : address.substr(0, end);
}

}  // namespace

const std::string& RedirectPolicy::Address() const {
  static const std::string kNone;
  if (!followed_.empty()) return followed_.back();
  return first_ != nullptr ? *first_ : kNone;
}

void RedirectPolicy::Start(const std::string& address) {
  first_ = &address;
  followed_.clear();
  refusal_ = nullptr;
}

bool RedirectPolicy::Follow(const std::string& location, int hopCount, int maximum,
                            bool setsCookie) {
  const std::string_view to = SchemeOf(location);
  refusal_ = nullptr;
  if (hopCount >= maximum)
    refusal_ = kTooManyRedirects;
  else if (!rt::SameText(to, "http") && !rt::SameText(to, "https"))
    refusal_ = kRedirectSchemeRefused;
  else if (rt::SameText(SchemeOf(Address()), "https") && rt::SameText(to, "http"))
    refusal_ = kRedirectToPlainRefused;
  else if (!setsCookie &&
           ((first_ != nullptr && location == *first_) ||
            std::find(followed_.begin(), followed_.end(), location) != followed_.end()))
    refusal_ = kRedirectLoop;
  if (refusal_ != nullptr) return false;
  followed_.push_back(location);
  return true;
}

std::string RedirectPolicy::Outcome(std::string answer) const {
  if (refusal_ != nullptr) answer.append(" (").append(refusal_).append(")");
  return answer;
}

}  // namespace app
