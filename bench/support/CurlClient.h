// libcurl, the comparison client of the HTTP benchmarks: one easy handle reused for every GET.
#pragma once

#include <curl/curl.h>

#include <string>

namespace bench {

// curl_global_init for the life of the object (one per program).
class CurlGlobal {
 public:
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~CurlGlobal() { curl_global_cleanup(); }
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
};

struct CurlOptions {
  std::string url = {};
  // Request headers; empty ones are left to libcurl.
  std::string accept = {};
  std::string userAgent = {};
  // https: the CA file that verifies the site.
  std::string caFile = {};
  // A new connection for every GET, and whether TLS sessions are resumed on it.
  bool freshConnections = false;
  bool sessionCache = true;
};

class CurlClient {
 public:
  explicit CurlClient(const CurlOptions& options);
  ~CurlClient();
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;

  void SetUrl(const std::string& url);
  // One GET; its body. Raises std::runtime_error unless it ends with a 200 answer.
  const std::string& Get();

 private:
  CURL* handle_ = nullptr;
  curl_slist* headers_ = nullptr;
  std::string body_;
};

}  // namespace bench
