// TCP stream sockets (IPv4) for the program's HTTP client and servers. Every wait is bounded:
// connects and receives take a time-out and an optional stop flag, which is looked at at least
// every kStopPollMs while the peer is silent, so that another thread can end a transfer at once.
// Failures are plain results, never exceptions; SIGPIPE is never raised by a send.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

using Socket = int;
inline constexpr Socket kInvalidSocket = -1;
// How often a silent wait looks at its stop flag.
inline constexpr int kStopPollMs = 200;

// Results of Recv besides a byte count (> 0) and 0 for an orderly close by the peer.
inline constexpr int kRecvError = -1;    // the connection failed (reset, bad socket)
inline constexpr int kRecvTimeout = -2;  // nothing arrived within the idle time-out
inline constexpr int kRecvStopped = -3;  // the stop flag was raised while waiting

// The IPv4 address (network byte order) of a dotted address, or of a host name through the
// resolver (first address). False when neither gives one.
bool ResolveIPv4(const std::string& host, std::uint32_t& address);

// Connects a stream socket to address:port within timeoutMs (<= 0: no limit). kInvalidSocket on
// failure, time-out or stop. The socket is blocking with receive and send waits of kStopPollMs,
// which Recv and SendAll turn into their own time-outs.
Socket TcpConnect(std::uint32_t address, int port, int timeoutMs,
                  const std::atomic<int>* stop = nullptr);

// Sends every byte; the number sent (data.size()) or -1 when the connection failed, the peer
// stopped reading for timeoutMs (<= 0: no limit) or the stop flag was raised.
long SendAll(Socket s, std::string_view data, int timeoutMs = 0,
             const std::atomic<int>* stop = nullptr);

// Receives up to `size` bytes: the count (> 0), 0 when the peer closed the connection, or one
// of kRecvError, kRecvTimeout (nothing for idleTimeoutMs; <= 0: no limit), kRecvStopped.
long Recv(Socket s, void* buffer, std::size_t size, int idleTimeoutMs,
          const std::atomic<int>* stop = nullptr);

// Receives exactly `size` bytes (a protocol's fixed-size answer); false when fewer arrived.
bool RecvExact(Socket s, void* buffer, std::size_t size, int idleTimeoutMs,
               const std::atomic<int>* stop = nullptr);

// Closes the socket (kInvalidSocket is ignored).
void CloseSocket(Socket s);

// A listening socket on 127.0.0.1:port (0 picks a free port); kInvalidSocket on failure.
Socket ListenLoopback(int port, int backlog = 16);
// The local port of a bound socket, 0 when unknown.
int LocalPort(Socket s);
// Accepts one connection, waiting at most timeoutMs (<= 0: no limit) and looking at the stop
// flag; kInvalidSocket on time-out, stop or failure. The accepted socket behaves like one
// from TcpConnect.
Socket Accept(Socket listener, int timeoutMs, const std::atomic<int>* stop = nullptr);
// Ends the sending direction (the peer's receive sees the end), keeping the receiving one.
void ShutdownSend(Socket s);

// Two connected stream sockets (a local pair), both behaving like one from TcpConnect; false
// when the system has none left.
bool SocketPair(Socket& first, Socket& second);

}  // namespace platform
