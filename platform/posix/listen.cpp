#include "platform/listen.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::listen {

SocketHandle ListenLoopback(int port, int backlog, int* error) {
  if (error) *error = 0;
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) {
    if (error) *error = kErrorOther;
    return kInvalidSocket;
  }
  // Old connections in TIME_WAIT must not keep a restarted program from listening; a port held by
  // another listener still fails.
  const int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(s, backlog) != 0) {
    if (error) *error = errno == EADDRINUSE ? kErrorAddressInUse : kErrorOther;
    ::close(s);
    return kInvalidSocket;
  }
  // Connections are handed over once their first data has arrived: the request can then be read
  // at once, without a round through the readiness loop. Clients that send nothing still arrive,
  // later, and meet the server's idle time-out.
  const int deferSeconds = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, sizeof deferSeconds);
  return s;
}

int LocalPort(SocketHandle s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

SocketHandle Accept(SocketHandle listener, std::string* peerHost, int* peerPort) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  const int s = ::accept4(listener, reinterpret_cast<sockaddr*>(&addr), &len,
                          SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (s < 0) return kInvalidSocket;
  if (peerHost) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    *peerHost = text;
  }
  if (peerPort) *peerPort = ntohs(addr.sin_port);
  return s;
}

long Receive(SocketHandle s, char* out, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(s, out, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : kFailed;
  }
}

long Send(SocketHandle s, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::send(s, data, size, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : kFailed;
  }
}

void ShutdownSend(SocketHandle s) { ::shutdown(s, SHUT_WR); }
void ShutdownBoth(SocketHandle s) { ::shutdown(s, SHUT_RDWR); }
void Close(SocketHandle s) {
  if (s >= 0) ::close(s);
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return std::string(name, strnlen(name, 255));
}

struct CPoller::Impl {
  int epoll = -1;
  int wake = -1;
  std::vector<epoll_event> events = std::vector<epoll_event>(256);
};

namespace {
std::uint32_t ToEpoll(unsigned events) {
  std::uint32_t e = 0;
  if (events & kReadable) e |= EPOLLIN | EPOLLRDHUP;
  if (events & kWritable) e |= EPOLLOUT;
  return e;
}
}  // namespace

CPoller::CPoller() : m_impl(std::make_unique<Impl>()) {
  m_impl->epoll = ::epoll_create1(EPOLL_CLOEXEC);
  m_impl->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (m_impl->epoll >= 0 && m_impl->wake >= 0) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    ::epoll_ctl(m_impl->epoll, EPOLL_CTL_ADD, m_impl->wake, &ev);
  }
}

CPoller::~CPoller() {
  if (m_impl->epoll >= 0) ::close(m_impl->epoll);
  if (m_impl->wake >= 0) ::close(m_impl->wake);
}

bool CPoller::ok() const { return m_impl->epoll >= 0 && m_impl->wake >= 0; }

bool CPoller::Add(SocketHandle s, unsigned events, void* tag) {
  epoll_event ev{};
  ev.events = ToEpoll(events);
  ev.data.ptr = tag;
  return ::epoll_ctl(m_impl->epoll, EPOLL_CTL_ADD, s, &ev) == 0;
}

bool CPoller::Modify(SocketHandle s, unsigned events, void* tag) {
  epoll_event ev{};
  ev.events = ToEpoll(events);
  ev.data.ptr = tag;
  return ::epoll_ctl(m_impl->epoll, EPOLL_CTL_MOD, s, &ev) == 0;
}

void CPoller::Remove(SocketHandle s) {
  epoll_event ev{};
  ::epoll_ctl(m_impl->epoll, EPOLL_CTL_DEL, s, &ev);
}

int CPoller::Wait(std::vector<Ready>& out, int timeoutMs) {
  out.clear();
  const int n = ::epoll_wait(m_impl->epoll, m_impl->events.data(),
                             static_cast<int>(m_impl->events.size()), timeoutMs);
  for (int i = 0; i < n; ++i) {
    const epoll_event& ev = m_impl->events[static_cast<std::size_t>(i)];
    if (ev.data.ptr == nullptr) {
      std::uint64_t drained;
      while (::read(m_impl->wake, &drained, sizeof drained) > 0) {
      }
    }
    unsigned r = 0;
    if (ev.events & EPOLLIN) r |= kReadable;
    if (ev.events & EPOLLOUT) r |= kWritable;
    if (ev.events & (EPOLLHUP | EPOLLRDHUP)) r |= kHangup;
    if (ev.events & EPOLLERR) r |= kError;
    out.push_back(Ready{ev.data.ptr, r});
  }
  return n < 0 ? 0 : n;
}

void CPoller::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(m_impl->wake, &one, sizeof one);
}

}  // namespace platform::listen
