// The TLS socket I/O handler: the socket handler with a TLS session (OpenSSL) over its socket.
//
// The HTTP client sends an https address through it with PassThrough false; for an http
// address PassThrough is true and every call goes straight to the socket handler, so nothing
// about plain connections changes. Through a proxy the connection starts plain and the session
// starts over it once the proxy opened the tunnel (StartSession).
//
// Invariants:
// - No byte of the caller's is sent before the handshake completed and the peer's certificate
//   was verified: against the trust store of OpenSSL's default verify paths (SSL_CERT_FILE and
//   SSL_CERT_DIR work as for any OpenSSL program), with the host name, or the IP address, the
//   connection was asked for. A refused certificate raises an EIdTLSError with the
//   verification's own reason.
// - During the handshake every wait is limited by ReadTimeout (when above 0; "Read Timeout") and
//   the whole connect by its connect time limit (when above 0; "Connect timed out.").
// - Under a session the socket does not block; the handler waits itself, so a receive never
//   blocks after Readable said there was something to read.
// - Close sends the TLS close alert when the session was established, and never raises.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/IdIOHandlerSocket.h"

struct ssl_st;
struct ssl_ctx_st;

class TIdSSLIOHandlerSocket : public TIdIOHandlerSocket {
 public:
  // The oldest protocol version accepted: TLS 1.2 (older ones are broken).
  static constexpr int kMinimumTlsVersion = 0x0303;

  TIdSSLIOHandlerSocket();
  TIdSSLIOHandlerSocket* Secure() override { return this; }
  ~TIdSSLIOHandlerSocket() override;

  void Open() override;
  void Close() override;
  // The socket handler's connect, then, unless PassThrough, the handshake.
  void ConnectClient(const std::string& host, int32_t port, const std::string& boundIP,
                     int32_t boundPort, int32_t lowestPort, int32_t highestPort,
                     int32_t timeout) override;
  // Starts a TLS session over the plain connection already open (a tunnel through a proxy),
  // verifying the certificate against `host`; `timeout` limits the handshake as a connect's
  // time limit does.
  void StartSession(const std::string& host, int32_t timeout);
  bool Readable(int32_t timeout) override;
  int Recv(char* buffer, int length, int32_t& error) override;
  int Send(const char* buffer, int length, int32_t& error) override;
  // Under a session: Readable, then Recv; plain traffic: the socket handler's.
  int RecvWithin(char* buffer, int length, int32_t timeout, int32_t& error) override;

  // True while a TLS session runs over the socket.
  bool SessionActive() const { return session_ != nullptr; }
  // Handshakes made since the handler was created.
  int64_t Handshakes() const { return handshakes_; }

  // True: plain socket traffic; false: the next connect starts a TLS session.
  bool PassThrough = true;
  // Wait limit, in ms, of each read during the handshake; 0 means no limit.
  int32_t ReadTimeout = 0;

 private:
  struct ContextFree {
    void operator()(ssl_ctx_st* context) const;
  };
  struct SessionFree {
    void operator()(ssl_st* session) const;
  };

  ssl_ctx_st* Context();
  void Handshake(const std::string& host, int32_t connectTimeout);
  // Ends the session: the close alert when it was established, then the session is freed.
  void EndSession() noexcept;

  std::unique_ptr<ssl_ctx_st, ContextFree> context_;
  std::unique_ptr<ssl_st, SessionFree> session_;
  // What the last look at the session found, kept for the receive that follows it.
  bool peerClosed_ = false;
  int32_t pendingError_ = 0;
  std::string failure_;
  int64_t handshakes_ = 0;
};
