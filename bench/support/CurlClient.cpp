#include "bench/support/CurlClient.h"

#include <stdexcept>

namespace bench {

namespace {

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* text) {
  static_cast<std::string*>(text)->append(data, size * count);
  return size * count;
}

}  // namespace

CurlClient::CurlClient(const CurlOptions& options) {
  handle_ = curl_easy_init();
  if (handle_ == nullptr) throw std::runtime_error("curl_easy_init failed");
  if (!options.accept.empty())
    headers_ = curl_slist_append(headers_, ("Accept: " + options.accept).c_str());
  curl_easy_setopt(handle_, CURLOPT_URL, options.url.c_str());
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
  if (!options.userAgent.empty())
    curl_easy_setopt(handle_, CURLOPT_USERAGENT, options.userAgent.c_str());
  if (!options.caFile.empty()) curl_easy_setopt(handle_, CURLOPT_CAINFO, options.caFile.c_str());
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &body_);
  curl_easy_setopt(handle_, CURLOPT_FORBID_REUSE, options.freshConnections ? 1L : 0L);
  curl_easy_setopt(handle_, CURLOPT_SSL_SESSIONID_CACHE, options.sessionCache ? 1L : 0L);
}

CurlClient::~CurlClient() {
  curl_easy_cleanup(handle_);
  curl_slist_free_all(headers_);
}

void CurlClient::SetUrl(const std::string& url) {
  curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
}

const std::string& CurlClient::Get() {
  body_.clear();
  const CURLcode result = curl_easy_perform(handle_);
  long code = 0;
  curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code);
  if (result != CURLE_OK || code != 200)
    throw std::runtime_error(std::string("libcurl GET failed: ") + curl_easy_strerror(result));
  return body_;
}

}  // namespace bench
