// The HTTP client's exception classes.
//
// Every failure of the client derives from EIdException. Classes with one fixed text construct
// with it by default; the texts are byte-exact with what the user sees.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "runtime/Exception.h"

class EIdException : public Exception {
 public:
  using Exception::Exception;
};

// A failure that is part of the normal course of a conversation (the peer closed).
class EIdSilentException : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdConnClosedGracefully : public EIdSilentException {
 public:
  EIdConnClosedGracefully() : EIdSilentException("Connection Closed Gracefully.") {}
};

// --- addresses -----------------------------------------------------------------------------

class EIdURIException : public EIdException {
 public:
  using EIdException::EIdException;
};

// --- socket layer --------------------------------------------------------------------------

// A failed socket call. SocketCode is the Windows Sockets error number the failure maps to.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int32_t code, std::string message)
      : EIdException(std::move(message)), SocketCode(code) {}

  int32_t SocketCode;
};

class EIdInvalidSocket : public EIdException {
 public:
  EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};

class EIdClosedSocket : public EIdException {
 public:
  EIdClosedSocket() : EIdException("Disconnected.") {}
};

class EIdInvalidIPAddress : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdCouldNotBindSocket : public EIdException {
 public:
  EIdCouldNotBindSocket()
      : EIdException("Could not bind socket. Address and port are already in use.") {}
};

class EIdInvalidPortRange : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdCanNotBindPortInRange : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdConnectTimeout : public EIdException {
 public:
  EIdConnectTimeout() : EIdException("Connect timed out.") {}
};

// A connect failure that carries no socket error number.
class EIdConnectException : public EIdException {
 public:
  using EIdException::EIdException;
};

// --- TCP connection ------------------------------------------------------------------------

class EIdTCPConnectionError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdNotConnected : public EIdTCPConnectionError {
 public:
  EIdNotConnected() : EIdTCPConnectionError("Not Connected") {}
};

class EIdNotEnoughDataInBuffer : public EIdTCPConnectionError {
 public:
  EIdNotEnoughDataInBuffer() : EIdTCPConnectionError("Not enough data in buffer.") {}
};

class EIdAlreadyConnected : public EIdException {
 public:
  EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdReadTimeout : public EIdException {
 public:
  EIdReadTimeout() : EIdException("Read Timeout") {}

 protected:
  using EIdException::EIdException;
};

// An answer that was not whole within the time allowed for all of it, however steadily its
// bytes came.
class EIdAnswerTimeout : public EIdReadTimeout {
 public:
  EIdAnswerTimeout() : EIdReadTimeout("Read timed out") {}
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
 public:
  EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

// --- HTTP exchange -------------------------------------------------------------------------

// A reply the client refuses; the message is the reply's status line.
class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(int32_t replyCode, std::string message)
      : EIdException(std::move(message)), ReplyCode(replyCode) {}

  int32_t ReplyCode;
};

class EIdHTTPProtocolException : public EIdProtocolReplyError {
 public:
  EIdHTTPProtocolException(int32_t replyCode, std::string statusLine, std::string replyBody)
      : EIdProtocolReplyError(replyCode, std::move(statusLine)), ReplyBody(std::move(replyBody)) {}

  std::string ReplyBody;
};

// An address whose scheme the client does not know and that names no port.
class EIdUnknownProtocol : public EIdException {
 public:
  EIdUnknownProtocol() : EIdException("") {}
};

// The route needs an I/O handler the client does not have (https).
class EIdIOHandlerPropInvalid : public EIdException {
 public:
  EIdIOHandlerPropInvalid() : EIdException("IOHandler value is not valid") {}
};

// A 2xx answer whose connection closed before its body could be read.
class EIdHTTPUndefinedSituation : public EIdException {
 public:
  EIdHTTPUndefinedSituation() : EIdException("Undefined situation") {}
};

// --- TLS -----------------------------------------------------------------------------------

// A TLS session that could not be set up or went wrong: the handshake, the peer's certificate,
// a record of the session. The message names the stage, then OpenSSL's reason.
class EIdTLSError : public EIdException {
 public:
  using EIdException::EIdException;
};
