// The socket I/O handler and the socket binding it owns: IPv4 TCP over the shared stack.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/IdIOHandler.h"
#include "http/IdStack.h"

// The binding of one connection: its socket, local and peer address.
// Life cycle: no socket -> allocated -> bound -> connected -> closed -> allocated again.
class TIdSocketHandle {
 public:
  TIdSocketHandle() = default;
  ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // A new socket; an open one is closed first.
  void AllocateSocket();
  // Binds to IP and Port, or to a port of ClientPortMin..ClientPortMax when both are set and
  // Port is 0.
  void Bind();
  // Connects to PeerIP:PeerPort; `timeout` ms limits the wait when it is above 0.
  void Connect(int32_t timeout);
  // Shutdown of sending, then close; results are not tested.
  void CloseSocket();
  // EIdConnClosedGracefully without a socket.
  bool WaitReadable(int32_t timeout);
  int Recv(char* buffer, int length);
  // A receive that waits at most `timeout` ms (above 0; TimeoutInfinite: no limit) through the
  // socket's receive time limit: one call where a wait and a receive would take two. Returns as
  // Recv does, or TIdIOHandler::kWaitRanOut.
  int RecvWithin(char* buffer, int length, int32_t timeout);
  int Send(const char* buffer, int length);
  void SetSockOpt(int level, int option, int32_t value);
  void UpdateBindingLocal();
  void UpdateBindingPeer();

  bool HandleAllocated() const { return Allocated; }

  std::string IP;
  int32_t Port = 0;
  std::string PeerIP;
  int32_t PeerPort = 0;
  int32_t ClientPortMin = 0;
  int32_t ClientPortMax = 0;
  TIdStackSocketHandle Handle = Id_INVALID_SOCKET;
  bool Allocated = false;

 private:
  // Sets the socket's receive time limit (SO_RCVTIMEO) when it differs from the one in force.
  void SetReceiveLimit(int32_t timeout);

  // The socket's receive time limit in ms; TimeoutInfinite (the system's default) until set.
  int32_t receiveLimit_ = TimeoutInfinite;

  // One bind attempt; false when the address is in use, any other failure raises.
  bool TryBind(int32_t port);
};

class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  TIdIOHandlerSocket() = default;
  ~TIdIOHandlerSocket() override;

  void Open() override;
  void Close() override;
  bool Connected() const override;
  void ConnectClient(const std::string& host, int32_t port, const std::string& boundIP,
                     int32_t boundPort, int32_t lowestPort, int32_t highestPort,
                     int32_t timeout) override;
  bool Readable(int32_t timeout) override;
  int Recv(char* buffer, int length, int32_t& error) override;
  int Send(const char* buffer, int length, int32_t& error) override;
  // A wait of more than the 1 ms look is the socket's receive time limit, and the receive
  // itself waits: one call per receive. Shorter waits look first, as Readable does.
  int RecvWithin(char* buffer, int length, int32_t timeout, int32_t& error) override;

  // The socket binding; nullptr before the first Open.
  TIdSocketHandle* Binding() const { return binding_.get(); }

  // False sets TCP_NODELAY, so that small writes leave at once.
  bool UseNagle = true;

 private:
  std::unique_ptr<TIdSocketHandle> binding_;
};
