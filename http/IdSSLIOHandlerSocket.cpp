#include "http/IdSSLIOHandlerSocket.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "http/IdException.h"

namespace {

using Clock = std::chrono::steady_clock;

// Messages of a failed session. The reason that follows comes from OpenSSL.
constexpr const char* kCertificateRefused = "Certificate refused: ";
constexpr const char* kHandshakeFailed = "TLS handshake failed: ";
constexpr const char* kSessionFailed = "TLS session failed: ";
constexpr const char* kContextFailed = "TLS set-up failed: ";
// The reason of a handshake the peer ended without a word.
constexpr const char* kClosedDuringHandshake = "connection closed";

// The reason of the oldest error OpenSSL queued for this thread, and an empty queue.
std::string TakeReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  return reason != nullptr ? reason : "unknown error";
}

// Waits until the socket is ready for `events` or `ms` passed (-1: no limit).
bool WaitFor(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, ms);
    if (r >= 0) return r == 1;
    if (errno != EINTR) idstack::RaiseSocketError(idstack::WSAErrorFromErrno(errno));
  }
}

// Runs `call` (a read or write of the session `ssl` over the socket `fd`) again after every
// wait the session asks for, without a time limit, until it moves bytes or fails otherwise.
// Returns the call's last result; when that is not above 0, `code` is its SSL error code.
template <typename Call>
int WaitingCall(SSL* ssl, int fd, Call call, int& code) {
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int r = call();
    if (r > 0) return r;
    code = SSL_get_error(ssl, r);
    if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) return r;
    WaitFor(fd, code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, -1);
  }
}

// The session's socket traffic: plain recv and send, the latter without SIGPIPE, so a peer
// that closed makes a send fail as it does on a plain connection instead of ending the process.
int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t r;
  do {
    r = ::send(int(BIO_get_fd(bio, nullptr)), data, std::size_t(length), MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(bio);
  return int(r);
}

int BioRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t r;
  do {
    r = ::recv(int(BIO_get_fd(bio, nullptr)), data, std::size_t(length), 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(bio);
  return int(r);
}

BIO_METHOD* SocketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                 "lirenta socket");
    const BIO_METHOD* plain = BIO_s_socket();
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(plain));
    BIO_meth_set_create(m, BIO_meth_get_create(plain));
    BIO_meth_set_destroy(m, BIO_meth_get_destroy(plain));
    return m;
  }();
  return method;
}

}  // namespace

void TIdSSLIOHandlerSocket::ContextFree::operator()(ssl_ctx_st* context) const {
  SSL_CTX_free(context);
}

void TIdSSLIOHandlerSocket::SessionFree::operator()(ssl_st* session) const {
  SSL_free(session);
}

TIdSSLIOHandlerSocket::TIdSSLIOHandlerSocket() = default;

TIdSSLIOHandlerSocket::~TIdSSLIOHandlerSocket() {
  EndSession();
}

ssl_ctx_st* TIdSSLIOHandlerSocket::Context() {
  if (context_) return context_.get();
  std::unique_ptr<ssl_ctx_st, ContextFree> context(SSL_CTX_new(TLS_client_method()));
  if (!context || SSL_CTX_set_min_proto_version(context.get(), kMinimumTlsVersion) != 1 ||
      SSL_CTX_set_default_verify_paths(context.get()) != 1)
    throw EIdTLSError(kContextFailed + TakeReason());
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  // A server that closes without the close alert ends its answer as a plain server does; the
  // answer's own framing tells whether it came whole.
  SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  context_ = std::move(context);
  return context_.get();
}

void TIdSSLIOHandlerSocket::Open() {
  EndSession();
  TIdIOHandlerSocket::Open();
}

void TIdSSLIOHandlerSocket::Close() {
  EndSession();
  TIdIOHandlerSocket::Close();
}

void TIdSSLIOHandlerSocket::EndSession() noexcept {
  if (!session_) return;
  if (SSL_is_init_finished(session_.get())) SSL_shutdown(session_.get());  // the close alert
  ERR_clear_error();
  session_.reset();
  peerClosed_ = false;
  pendingError_ = 0;
  failure_.clear();
}

void TIdSSLIOHandlerSocket::ConnectClient(const std::string& host, int32_t port,
                                          const std::string& boundIP, int32_t boundPort,
                                          int32_t lowestPort, int32_t highestPort,
                                          int32_t timeout) {
  const auto started = Clock::now();
  EndSession();
  TIdIOHandlerSocket::ConnectClient(host, port, boundIP, boundPort, lowestPort, highestPort,
                                    timeout);
  if (PassThrough) return;
  int32_t left = 0;
  if (timeout > 0) {
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    left = int32_t(std::max<int64_t>(timeout - spent, 1));
  }
  Handshake(host, left);
}

void TIdSSLIOHandlerSocket::StartSession(const std::string& host, int32_t timeout) {
  if (!Connected()) throw EIdClosedSocket();
  EndSession();
  Handshake(host, timeout);
}

void TIdSSLIOHandlerSocket::Handshake(const std::string& host, int32_t connectTimeout) {
  ERR_clear_error();
  session_.reset(SSL_new(Context()));
  SSL* ssl = session_.get();
  const int fd = Binding()->Handle;
  BIO* bio = ssl ? BIO_new(SocketMethod()) : nullptr;
  if (bio == nullptr) throw EIdTLSError(kContextFailed + TakeReason());
  BIO_set_fd(bio, fd, BIO_NOCLOSE);
  SSL_set_bio(ssl, bio, bio);

  // The name the certificate must carry: an address for an address, else the host name, which
  // also goes out as the server name.
  if (idstack::IsDottedAddress(host)) {
    const std::string ip = idstack::AddressToText(idstack::TextToAddress(host));
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), ip.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, host.c_str());
    SSL_set1_host(ssl, host.c_str());
  }
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0)
    idstack::RaiseSocketError(idstack::WSAErrorFromErrno(errno));

  const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeout);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int r = SSL_connect(ssl);
    if (r == 1) break;
    const int error = SSL_get_error(ssl, r);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      int wait = ReadTimeout > 0 ? ReadTimeout : -1;
      bool connectLimit = false;
      if (connectTimeout > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) throw EIdConnectTimeout();
        if (wait < 0 || left < wait) {
          wait = int(left);
          connectLimit = true;
        }
      }
      if (!WaitFor(fd, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, wait)) {
        if (connectLimit) throw EIdConnectTimeout();
        throw EIdReadTimeout();
      }
      continue;
    }
    const long verified = SSL_get_verify_result(ssl);
    if (verified != X509_V_OK) {
      ERR_clear_error();
      throw EIdTLSError(kCertificateRefused + std::string(X509_verify_cert_error_string(verified)));
    }
    if (error == SSL_ERROR_SYSCALL && errno != 0 && ERR_peek_error() == 0)
      idstack::RaiseSocketError(idstack::WSAErrorFromErrno(errno));
    if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0))
      throw EIdTLSError(std::string(kHandshakeFailed) + kClosedDuringHandshake);
    throw EIdTLSError(kHandshakeFailed + TakeReason());
  }
  ++handshakes_;
}

bool TIdSSLIOHandlerSocket::Readable(int32_t timeout) {
  if (!session_) return TIdIOHandlerSocket::Readable(timeout);
  if (!Connected()) throw EIdConnClosedGracefully();
  SSL* ssl = session_.get();
  if (peerClosed_ || pendingError_ != 0 || !failure_.empty() || SSL_pending(ssl) > 0) return true;
  const int fd = Binding()->Handle;
  const bool limited = timeout != TimeoutInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout : 0);
  for (;;) {
    // A look that decrypts the next record without taking it; a record may carry no data
    // (a session ticket), and then the wait goes on.
    ERR_clear_error();
    errno = 0;
    char byte;
    const int r = SSL_peek(ssl, &byte, 1);
    if (r > 0) return true;
    const int error = SSL_get_error(ssl, r);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      int wait = -1;
      if (limited) {
        wait = int(std::max<int64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count(),
            0));
      }
      if (!WaitFor(fd, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, wait)) return false;
      continue;
    }
    if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && errno == 0))
      peerClosed_ = true;
    else if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
      pendingError_ = idstack::WSAErrorFromErrno(errno);
    else
      failure_ = kSessionFailed + TakeReason();
    return true;
  }
}

int TIdSSLIOHandlerSocket::Recv(char* buffer, int length, int32_t& error) {
  if (!session_) return TIdIOHandlerSocket::Recv(buffer, length, error);
  if (!Connected()) throw EIdClosedSocket();
  if (pendingError_ != 0) {
    error = pendingError_;
    pendingError_ = 0;
    return -1;
  }
  if (!failure_.empty()) throw EIdTLSError(failure_);
  if (peerClosed_) return 0;
  SSL* ssl = session_.get();
  int code = 0;
  const int r = WaitingCall(
      ssl, Binding()->Handle, [&] { return SSL_read(ssl, buffer, length); }, code);
  if (r > 0) return r;
  if (code == SSL_ERROR_ZERO_RETURN || (code == SSL_ERROR_SYSCALL && errno == 0)) {
    peerClosed_ = true;
    return 0;
  }
  if (code == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
    error = idstack::WSAErrorFromErrno(errno);
    return -1;
  }
  throw EIdTLSError(kSessionFailed + TakeReason());
}

int TIdSSLIOHandlerSocket::RecvWithin(char* buffer, int length, int32_t timeout, int32_t& error) {
  if (!session_) return TIdIOHandlerSocket::RecvWithin(buffer, length, timeout, error);
  return TIdIOHandler::RecvWithin(buffer, length, timeout, error);
}

int TIdSSLIOHandlerSocket::Send(const char* buffer, int length, int32_t& error) {
  if (!session_) return TIdIOHandlerSocket::Send(buffer, length, error);
  if (!Connected()) throw EIdClosedSocket();
  SSL* ssl = session_.get();
  int code = 0;
  const int r = WaitingCall(
      ssl, Binding()->Handle, [&] { return SSL_write(ssl, buffer, length); }, code);
  if (r > 0) return r;
  if (code == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
    error = idstack::WSAErrorFromErrno(errno != 0 ? errno : EPIPE);
    return -1;
  }
  if (code == SSL_ERROR_ZERO_RETURN) return 0;
  throw EIdTLSError(kSessionFailed + TakeReason());
}
