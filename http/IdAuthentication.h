// Authentication objects: what a request sends in its "Authorization" line.
//
// A request holds at most one object (its AuthObject). The object keeps the credentials it was
// made with and counts how often the exchange has retried with it.
#pragma once

#include <string>
#include <string_view>

class TIdAuthentication {
 public:
  TIdAuthentication() = default;
  virtual ~TIdAuthentication() = default;
  TIdAuthentication(const TIdAuthentication&) = delete;
  TIdAuthentication& operator=(const TIdAuthentication&) = delete;

  // The value of the "Authorization" line; empty when the object has nothing to send.
  virtual std::string Authentication() = 0;
  // Back to the first step of the scheme; forgets the retries made.
  virtual void Reset() { RetryCount = 0; }

  std::string Username;
  std::string Password;
  // Retries the exchange has made with this object since it was created or reset.
  int RetryCount = 0;
};

// The "Basic" scheme: "Basic " + Base64(user name ":" password).
class TIdBasicAuthentication : public TIdAuthentication {
 public:
  std::string Authentication() override;
};

namespace idauth {

// Base64 (RFC 2045 alphabet, "=" padding, no line breaks) of the bytes of `data`.
std::string Base64Encode(std::string_view data);

}  // namespace idauth
