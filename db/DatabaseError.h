// The generic failure of the data-access layer, from which every database-client error descends.
#pragma once

#include <string>

#include "runtime/Exception.h"

class EDatabaseError : public Exception {
 public:
  explicit EDatabaseError(std::string message, int helpContext = 0)
      : Exception(std::move(message)), HelpContext(helpContext) {}

  int HelpContext = 0;
};

// Raises EDatabaseError. A component with a name reports it in front of the text ("%s: %s");
// without a name the text stands alone.
[[noreturn]] void DatabaseError(const std::string& message, const std::string& componentName = {});
