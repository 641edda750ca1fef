// The single-instance lock and channel on POSIX: flock on a lock file, and a UNIX stream socket
// served by a thread of the listener. A request is one line ("RAISE", or "COPY <word> <size>"
// followed by the bytes); the answer is one line ("OK <result>" or "NO").
#include "platform/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform::instance {
namespace {

using Clock = std::chrono::steady_clock;

std::string PathOf(std::string_view name, const InstanceTunables& tunables, const char* ending) {
  if (!tunables.folder.empty()) return tunables.folder + "/" + std::string(name) + ending;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/" + std::string(name) + ending;
  // The shared temporary folder is everybody's: the names there carry the user.
  return "/tmp/" + std::string(name) + "-" + std::to_string(::getuid()) + ending;
}

// Removes a socket file left behind; anything that is not a socket stays.
void RemoveStaleSocket(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) ::unlink(path.c_str());
}

class FlockLock final : public InstanceLock {
 public:
  explicit FlockLock(int fd) : m_fd(fd) {}
  ~FlockLock() override { ::close(m_fd); }

 private:
  int m_fd;
};

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// Waits until `fd` is ready for `events` or the deadline passed.
bool WaitReady(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool WriteAll(int fd, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    if (!WaitReady(fd, POLLOUT, deadline)) return false;
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Reads up to and without the next "\n" (at most `limit` bytes); false on end, error or time-out.
bool ReadLine(int fd, std::string& line, std::size_t limit, Clock::time_point deadline) {
  line.clear();
  for (;;) {
    if (!WaitReady(fd, POLLIN, deadline)) return false;
    char c;
    const ssize_t n = ::recv(fd, &c, 1, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    if (line.size() >= limit) return false;
    line += c;
  }
}

bool ReadExactly(int fd, std::string& out, std::size_t size, Clock::time_point deadline) {
  out.resize(size);
  std::size_t got = 0;
  while (got < size) {
    if (!WaitReady(fd, POLLIN, deadline)) return false;
    const ssize_t n = ::recv(fd, out.data() + got, size - got, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// One request to the running instance; its answer line, or empty when nobody answered.
std::string Ask(std::string_view name, const InstanceTunables& tunables, std::string_view request) {
  sockaddr_un address;
  if (!FillAddress(PathOf(name, tunables, ".sock"), address)) return {};
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return {};
  const Clock::time_point deadline = Clock::now() + tunables.answerTimeout;
  std::string answer;
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (rc != 0 && (errno == EINPROGRESS || errno == EAGAIN)) {
    int error = 0;
    socklen_t size = sizeof error;
    if (WaitReady(fd, POLLOUT, deadline) &&
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
      rc = 0;
  }
  if (rc == 0 && WriteAll(fd, request, deadline)) ReadLine(fd, answer, 64, deadline);
  ::close(fd);
  return answer;
}

// Runs `task` on the user-interface thread unless the listener is stopped first; the listener's
// end never waits for the user-interface thread, which may be the one ending it.
class Invoker {
 public:
  bool Run(std::function<void()> task, const std::atomic<bool>& stopping) {
    auto state = std::make_shared<State>();
    state->task = std::move(task);
    ui::PostToUiThread([state] {
      std::unique_lock<std::mutex> hold(state->lock);
      if (state->cancelled) return;
      state->running = true;
      hold.unlock();
      state->task();
      hold.lock();
      state->done = true;
      state->wake.notify_all();
    });
    std::unique_lock<std::mutex> hold(state->lock);
    while (!state->done) {
      if (stopping && !state->running) {
        state->cancelled = true;
        return false;
      }
      state->wake.wait_for(hold, std::chrono::milliseconds(20));
    }
    return true;
  }

 private:
  struct State {
    std::mutex lock;
    std::condition_variable wake;
    std::function<void()> task;
    bool running = false, done = false, cancelled = false;
  };
};

class SocketListener final : public InstanceListener {
 public:
  SocketListener(ui::Window& window, std::string path, int fd, const InstanceTunables& tunables)
      : m_window(&window), m_path(std::move(path)), m_fd(fd), m_tunables(tunables) {
    if (::pipe2(m_wake, O_CLOEXEC) != 0) m_wake[0] = m_wake[1] = -1;
    m_thread = std::thread([this] { Serve(); });
  }
  ~SocketListener() override {
    m_stopping = true;
    if (m_wake[1] >= 0) {
      const char c = 'x';
      (void)!::write(m_wake[1], &c, 1);
    }
    m_thread.join();
    ::close(m_fd);
    ::unlink(m_path.c_str());
    if (m_wake[0] >= 0) ::close(m_wake[0]);
    if (m_wake[1] >= 0) ::close(m_wake[1]);
  }

 private:
  void Serve() {
    while (!m_stopping) {
      pollfd p[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
      const int n = ::poll(p, m_wake[0] >= 0 ? 2 : 1, 500);
      if (n <= 0 || m_stopping) continue;
      if (!(p[0].revents & POLLIN)) continue;
      const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (client < 0) continue;
      Handle(client);
      ::close(client);
    }
  }

  void Handle(int client) {
    const Clock::time_point deadline = Clock::now() + m_tunables.answerTimeout;
    std::string line;
    if (!ReadLine(client, line, 128, deadline)) return;
    ui::Window* window = m_window;
    std::string answer = "NO\n";
    if (line == "RAISE") {
      bool raised = false;
      m_invoker.Run(
          [window, &raised] {
            if (!ui::IsWindow(window)) return;
            if (window->IsMinimised()) window->Show(ui::ShowMode::Restore);
            if (!window->IsVisible()) window->Show(ui::ShowMode::Normal);
            window->SetForeground();
            raised = true;
          },
          m_stopping);
      if (raised) answer = "OK 1\n";
    } else if (line.rfind("COPY ", 0) == 0) {
      unsigned long long word = 0, size = 0;
      char extra = 0;
      if (std::sscanf(line.c_str() + 5, "%llu %llu%c", &word, &size, &extra) == 2 &&
          size <= m_tunables.maxCopyBytes) {
        ui::CopyData data;
        data.dataWord = static_cast<std::uintptr_t>(word);
        if (ReadExactly(client, data.bytes, static_cast<std::size_t>(size), deadline)) {
          std::intptr_t result = 0;
          bool delivered = false;
          m_invoker.Run(
              [window, &data, &result, &delivered] {
                if (!ui::IsWindow(window)) return;
                result = ui::SendMessage(window, ui::kMsgCopyData, 0,
                                         reinterpret_cast<std::intptr_t>(&data));
                delivered = true;
              },
              m_stopping);
          if (delivered) answer = "OK " + std::to_string(result) + "\n";
        }
      }
    }
    WriteAll(client, answer, deadline);
  }

  ui::Window* m_window;
  std::string m_path;
  int m_fd;
  InstanceTunables m_tunables;
  int m_wake[2] = {-1, -1};
  std::atomic<bool> m_stopping{false};
  Invoker m_invoker;
  std::thread m_thread;
};

}  // namespace

LockResult AcquireInstanceLock(std::string_view name, const InstanceTunables& tunables) {
  const std::string path = PathOf(name, tunables, ".lock");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return {};
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return {held, nullptr};
  }
  return {false, std::make_unique<FlockLock>(fd)};
}

std::unique_ptr<InstanceListener> ListenAsInstanceWindow(ui::Window& window,
                                                         std::string_view name,
                                                         const InstanceTunables& tunables) {
  const std::string path = PathOf(name, tunables, ".sock");
  sockaddr_un address;
  if (!FillAddress(path, address)) return nullptr;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  // A socket file left by an instance that ended without removing it answers nobody.
  RemoveStaleSocket(path);
  const mode_t old = ::umask(0077);
  const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::umask(old);
  if (bound != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<SocketListener>(window, path, fd, tunables);
}

bool RaiseRunningInstance(std::string_view name, const InstanceTunables& tunables) {
  return Ask(name, tunables, "RAISE\n").rfind("OK", 0) == 0;
}

bool SendCopyDataToRunningInstance(std::string_view name, std::uintptr_t dataWord,
                                   std::string_view bytes, const InstanceTunables& tunables) {
  if (bytes.size() > tunables.maxCopyBytes) return false;
  std::string request = "COPY " + std::to_string(dataWord) + " " +
                        std::to_string(bytes.size()) + "\n";
  request += bytes;
  return Ask(name, tunables, request).rfind("OK", 0) == 0;
}

}  // namespace platform::instance
