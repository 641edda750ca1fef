#include "tests/support/TestSupport.h"

#include "platform/text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace testsupport {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/muravel-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  m_path = buf.data();
}

TempDir::~TempDir() {
  if (m_path.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::operator/(std::string_view name) const {
  return m_path + "/" + std::string(name);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
  const char* old = std::getenv(name);
  m_hadOld = old != nullptr;
  if (old) m_old = old;
  if (value) ::setenv(name, value, 1);
  else ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (m_hadOld) ::setenv(m_name.c_str(), m_old.c_str(), 1);
  else ::unsetenv(m_name.c_str());
}

ScopedCodePage::ScopedCodePage(int codePage) : m_old(platform::GetSystemCodePage()) {
  platform::SetSystemCodePage(codePage);
}

ScopedCodePage::~ScopedCodePage() { platform::SetSystemCodePage(m_old); }

std::string ReadFileOrDie(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileOrDie(const std::string& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.good()) << "cannot write " << path;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Start(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::setpgid(0, 0);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  m_pid = pid;
  return true;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (m_pid < 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
      m_pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ChildProcess::Stop() {
  if (m_pid < 0) return;
  ::kill(-m_pid, SIGTERM);
  ::kill(m_pid, SIGTERM);
  if (Wait(std::chrono::milliseconds(1000)) != -1) return;
  ::kill(-m_pid, SIGKILL);
  ::kill(m_pid, SIGKILL);
  Wait(std::chrono::milliseconds(5000));
  m_pid = -1;
}

bool WaitForPort(int port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string SourceDir() { return MURAVEL_SOURCE_DIR; }
std::string BinaryDir() { return MURAVEL_BINARY_DIR; }

}  // namespace testsupport
