// Certificates for TLS tests, made at run time with the `openssl` command in a folder of their
// own: a test CA, and server certificates signed by it or not. Nothing of it is kept.
#pragma once

#include <string>

#include "tests/support/Process.h"

namespace test {

// A certificate file and its key file (PEM).
struct TlsFiles {
  std::string cert;
  std::string key;
};

class TestCertificates {
 public:
  // Makes every file; throws std::runtime_error with openssl's output when it cannot.
  TestCertificates();

  // The test CA's certificate: the trust store of a test (SSL_CERT_FILE).
  const std::string& CaFile() const { return ca_; }
  // For 127.0.0.1 and localhost, signed by the test CA.
  const TlsFiles& Trusted() const { return trusted_; }
  // For another name only (outro.invalid), signed by the test CA.
  const TlsFiles& OtherName() const { return otherName_; }
  // For 127.0.0.1 and localhost, signed by the test CA, no longer valid since yesterday.
  const TlsFiles& Expired() const { return expired_; }
  // For 127.0.0.1 and localhost, signed by a CA that no one trusts.
  const TlsFiles& UnknownIssuer() const { return unknownIssuer_; }

 private:
  TempDir dir_;
  std::string ca_;
  TlsFiles trusted_, otherName_, expired_, unknownIssuer_;
};

// The certificates of this test program, made on first use.
const TestCertificates& SharedCertificates();

}  // namespace test
