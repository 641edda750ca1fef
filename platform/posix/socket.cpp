#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

bool Stopped(const std::atomic<int>* stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed) != 0;
}

long long ElapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Blocking calls wake up every kStopPollMs, so that the callers' own time-outs and stop flags
// cost nothing while data flows (one system call per piece) and are still seen when it does not.
void SetPollingTimeouts(Socket s) {
  timeval tv{};
  tv.tv_sec = kStopPollMs / 1000;
  tv.tv_usec = (kStopPollMs % 1000) * 1000;
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool SetNonBlocking(Socket s, bool on) {
  const int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0) return false;
  return ::fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

// Waits for `events` on s in slices of kStopPollMs: 1 ready, 0 time-out, -1 stop or failure.
int WaitFor(Socket s, short events, int timeoutMs, const std::atomic<int>* stop) {
  const auto start = Clock::now();
  for (;;) {
    if (Stopped(stop)) return -1;
    int slice = kStopPollMs;
    if (timeoutMs > 0) {
      const long long left = timeoutMs - ElapsedMs(start);
      if (left <= 0) return 0;
      if (left < slice) slice = static_cast<int>(left);
    }
    pollfd pfd{s, events, 0};
    const int r = ::poll(&pfd, 1, slice);
    if (r > 0) return 1;
    if (r < 0 && errno != EINTR) return -1;
  }
}

}  // namespace

bool ResolveIPv4(const std::string& host, std::uint32_t& address) {
  if (host.empty()) return false;
  const in_addr_t dotted = ::inet_addr(host.c_str());
  if (dotted != INADDR_NONE) {
    address = dotted;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return true;
}

Socket TcpConnect(std::uint32_t address, int port, int timeoutMs, const std::atomic<int>* stop) {
  if (port <= 0 || port > 65535) return kInvalidSocket;
  const Socket s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return kInvalidSocket;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = address;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  bool ok = SetNonBlocking(s, true);
  if (ok && ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    ok = errno == EINPROGRESS && WaitFor(s, POLLOUT, timeoutMs, stop) == 1;
    if (ok) {
      int err = 0;
      socklen_t len = sizeof err;
      ok = ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
  }
  if (!ok || !SetNonBlocking(s, false)) {
    ::close(s);
    return kInvalidSocket;
  }
  SetPollingTimeouts(s);
  return s;
}

long SendAll(Socket s, std::string_view data, int timeoutMs, const std::atomic<int>* stop) {
  std::size_t sent = 0;
  auto idleSince = Clock::now();
  while (sent < data.size()) {
    const ssize_t n = ::send(s, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      idleSince = Clock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Stopped(stop)) return -1;
      if (timeoutMs > 0 && ElapsedMs(idleSince) >= timeoutMs) return -1;
      continue;
    }
    return -1;
  }
  return static_cast<long>(sent);
}

long Recv(Socket s, void* buffer, std::size_t size, int idleTimeoutMs,
          const std::atomic<int>* stop) {
  if (Stopped(stop)) return kRecvStopped;
  Clock::time_point start{};
  bool waited = false;
  for (;;) {
    const ssize_t n = ::recv(s, buffer, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return kRecvError;
    // The clock is read only once the peer has been silent for a whole poll slice.
    if (!waited) {
      start = Clock::now() - std::chrono::milliseconds(kStopPollMs);
      waited = true;
    }
    if (Stopped(stop)) return kRecvStopped;
    if (idleTimeoutMs > 0 && ElapsedMs(start) >= idleTimeoutMs) return kRecvTimeout;
  }
}

bool RecvExact(Socket s, void* buffer, std::size_t size, int idleTimeoutMs,
               const std::atomic<int>* stop) {
  auto* p = static_cast<char*>(buffer);
  std::size_t got = 0;
  while (got < size) {
    const long n = Recv(s, p + got, size - got, idleTimeoutMs, stop);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

void CloseSocket(Socket s) {
  if (s != kInvalidSocket) ::close(s);
}

Socket ListenLoopback(int port, int backlog) {
  const Socket s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return kInvalidSocket;
  const int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(s, backlog) != 0) {
    ::close(s);
    return kInvalidSocket;
  }
  return s;
}

int LocalPort(Socket s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

Socket Accept(Socket listener, int timeoutMs, const std::atomic<int>* stop) {
  if (WaitFor(listener, POLLIN, timeoutMs, stop) != 1) return kInvalidSocket;
  const Socket s = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (s < 0) return kInvalidSocket;
  SetPollingTimeouts(s);
  return s;
}

void ShutdownSend(Socket s) { ::shutdown(s, SHUT_WR); }

bool SocketPair(Socket& first, Socket& second) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  first = fds[0];
  second = fds[1];
  SetPollingTimeouts(first);
  SetPollingTimeouts(second);
  return true;
}

}  // namespace platform
