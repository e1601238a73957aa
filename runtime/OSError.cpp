#include "runtime/OSError.h"

#include <cstring>

namespace {

std::string OSErrorMessage(int errorCode, const std::string& errorText) {
  if (errorCode == 0) return "A call to an OS function failed";
  return "System Error.  Code: " + std::to_string(errorCode) + ".\r\n" + errorText;
}

}  // namespace

EOSError::EOSError(int errorCode, const std::string& errorText)
    : Exception(OSErrorMessage(errorCode, errorText)), ErrorCode(errorCode) {}

namespace rt {

void RaiseOSError(int errorCode, const std::string& errorText) {
  throw EOSError(errorCode, errorText.empty() ? std::string(std::strerror(errorCode)) : errorText);
}

}  // namespace rt
