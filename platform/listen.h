// Server-side stream sockets on the loopback interface and the readiness loop that drives them.
// Sockets are non-blocking; results are plain values (a count, kWouldBlock, kFailed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::listen {

using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

// Results of Receive and Send besides a byte count.
inline constexpr long kWouldBlock = -1;
inline constexpr long kFailed = -2;

// Error numbers a listen failure reports (the Winsock numbers the callers compare).
inline constexpr int kErrorAddressInUse = 10048;
inline constexpr int kErrorOther = 10050;

// A listening socket on 127.0.0.1:port (0 picks a free port); kInvalidSocket on failure, with
// `error` set to kErrorAddressInUse or kErrorOther.
SocketHandle ListenLoopback(int port, int backlog, int* error);
// The local port of a socket, 0 when unknown.
int LocalPort(SocketHandle s);
// Accepts one pending connection (non-blocking); kInvalidSocket when none is pending or it
// failed. `peerHost` and `peerPort` get the client's address.
SocketHandle Accept(SocketHandle listener, std::string* peerHost, int* peerPort);
// Receives up to `size` bytes: the count (0 when the peer ended its side), kWouldBlock or kFailed.
long Receive(SocketHandle s, char* out, std::size_t size);
// Sends up to `size` bytes: the count sent, kWouldBlock or kFailed (never raises a signal).
long Send(SocketHandle s, const char* data, std::size_t size);
// Ends our sending side (the peer sees the end of the data).
void ShutdownSend(SocketHandle s);
// Ends both directions.
void ShutdownBoth(SocketHandle s);
// Closes a socket.
void Close(SocketHandle s);
// The machine's host name (at most 255 bytes); empty when unknown.
std::string HostName();

// What a socket is waited for and what it became ready for.
enum Readiness : unsigned { kReadable = 1, kWritable = 2, kHangup = 4, kError = 8 };

// One ready socket as Wait reports it.
struct Ready {
  void* tag;        // the tag given with Add; null for a Wake
  unsigned events;  // Readiness bits
};

// The readiness loop of one thread: sockets with the events they wait for, and a wake-up that
// other threads may trigger.
class CPoller {
 public:
  CPoller();
  ~CPoller();
  CPoller(const CPoller&) = delete;
  CPoller& operator=(const CPoller&) = delete;
  // False when the loop could not be created.
  bool ok() const;
  // Waits for `events` (Readiness bits) on a socket; `tag` comes back in Ready.
  bool Add(SocketHandle s, unsigned events, void* tag);
  // Changes what a socket waits for.
  bool Modify(SocketHandle s, unsigned events, void* tag);
  // Stops waiting for a socket (before it is closed).
  void Remove(SocketHandle s);
  // Waits up to `timeoutMs` (-1: no limit) and fills `out` with what became ready.
  int Wait(std::vector<Ready>& out, int timeoutMs);
  // Makes a Wait in another thread return (with a Ready whose tag is null).
  void Wake();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace platform::listen
