// The root of every failure the system raises: an exception that carries its message text.
//
// Messages are Windows-1252 bytes and are byte-exact with the texts the program shows; nothing
// here formats or translates them.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  ~Exception() override = default;

  const char* what() const noexcept override { return Message.c_str(); }

  std::string Message;
};

// A failure of the standard conversions (text to number, dates).
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// The silent abort: leaves an event handler without any message being shown.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};
