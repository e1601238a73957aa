// The failure of an operating-system call, with the system's error number and text.
#pragma once

#include <string>

#include "runtime/Exception.h"

class EOSError : public Exception {
 public:
  // "System Error.  Code: %d.\r\n%s" with the code and the text, or "A call to an OS function
  // failed" when the code is 0.
  EOSError(int errorCode, const std::string& errorText);

  int ErrorCode = 0;
};

namespace rt {

// Raises EOSError for `errorCode`, with `errorText` or, when that is empty, strerror's text.
[[noreturn]] void RaiseOSError(int errorCode, const std::string& errorText = {});

}  // namespace rt
