#include "tests/support/TestCertificates.h"

#include <stdexcept>

namespace test {

namespace {

// A short-lived P-256 key pair is quick to make and every supported TLS version takes it.
constexpr const char* kKeyOptions = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
// Days the valid certificates last; -1 ends a certificate's validity yesterday.
constexpr int kValidDays = 30;
constexpr int kExpiredDays = -1;

void Openssl(const std::string& dir, const std::string& arguments) {
  std::string output;
  if (RunCommand("cd '" + dir + "' && openssl " + arguments + " 2>&1", &output) != 0)
    throw std::runtime_error("openssl " + arguments + ": " + output);
}

void MakeCa(const std::string& dir, const std::string& name, const std::string& subject) {
  Openssl(dir, "req -x509 " + std::string(kKeyOptions) + " -keyout " + name + ".key -out " + name +
                   ".crt -days " + std::to_string(kValidDays) + " -subj '/CN=" + subject + "'");
}

TlsFiles MakeServer(const std::string& dir, const std::string& name, const std::string& ca,
                    const std::string& altNames, int days) {
  WriteFile(dir + "/" + name + ".ext", "subjectAltName=" + altNames + "\n");
  Openssl(dir, "req " + std::string(kKeyOptions) + " -keyout " + name + ".key -out " + name +
                   ".csr -subj '/CN=" + name + "'");
  Openssl(dir, "x509 -req -in " + name + ".csr -CA " + ca + ".crt -CAkey " + ca +
                   ".key -CAcreateserial -out " + name + ".crt -days " + std::to_string(days) +
                   " -extfile " + name + ".ext");
  return {dir + "/" + name + ".crt", dir + "/" + name + ".key"};
}

}  // namespace

TestCertificates::TestCertificates() {
  const std::string& dir = dir_.Path();
  const std::string loopback = "IP:127.0.0.1,DNS:localhost";
  MakeCa(dir, "ca", "Lirenta Test CA");
  MakeCa(dir, "stranger", "Unknown Test CA");
  ca_ = dir + "/ca.crt";
  trusted_ = MakeServer(dir, "trusted", "ca", loopback, kValidDays);
  otherName_ = MakeServer(dir, "othername", "ca", "DNS:outro.invalid", kValidDays);
  expired_ = MakeServer(dir, "expired", "ca", loopback, kExpiredDays);
  unknownIssuer_ = MakeServer(dir, "unknown", "stranger", loopback, kValidDays);
}

const TestCertificates& SharedCertificates() {
  static const TestCertificates certificates;
  return certificates;
}

}  // namespace test
